// SPDX-License-Identifier: MIT
#include "cli/CsvReader.h"

#include <csv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

namespace cli {

namespace {

// What libcsv's callbacks fill. They only collect: no exception may cross libcsv's C frames,
// so completed records are handed to the caller after each csv_parse returns.
struct Collector {
    std::size_t line = 1;        // the line being fed to the parser
    std::vector<CsvRecord> done; // completed records, reused
    std::size_t doneCount = 0;
    CsvRecord current;
    std::size_t fieldCount = 0;
    std::size_t fieldLimit = 0; // bytes; 0: none
    // The first field found over fieldLimit: the line its record starts on and its column,
    // counting from 1. 0: none yet.
    std::size_t longFieldLine = 0;
    std::size_t longFieldColumn = 0;
};

CsvRecord& slot(Collector& collector) {
    if (collector.doneCount == collector.done.size())
        collector.done.emplace_back();
    return collector.done[collector.doneCount];
}

void onField(void* text, std::size_t length, void* data) {
    auto& collector = *static_cast<Collector*>(data);
    CsvRecord& record = collector.current;
    if (collector.fieldCount == 0) {
        // A quoted first field may span lines: the record starts where the field does.
        std::size_t breaks = 0;
        if (text)
            for (std::size_t i = 0; i < length; ++i)
                breaks += static_cast<const char*>(text)[i] == '\n';
        record.line = collector.line - breaks;
    }
    if (record.fields.size() <= collector.fieldCount)
        record.fields.emplace_back();
    const bool tooLong = collector.fieldLimit > 0 && length > collector.fieldLimit;
    if (tooLong && collector.longFieldColumn == 0) {
        collector.longFieldLine = record.line;
        collector.longFieldColumn = collector.fieldCount + 1;
    }
    auto& field = record.fields[collector.fieldCount++];
    if (!text || tooLong) // a field too long is refused, so it is not kept
        field.reset();
    else if (field) // the text of the record before keeps its room, so most fields take no allocation
        field->assign(static_cast<const char*>(text), length);
    else
        field.emplace(static_cast<const char*>(text), length);
}

void onRecordEnd(int /*terminator*/, void* data) {
    auto& collector = *static_cast<Collector*>(data);
    collector.current.fields.resize(collector.fieldCount);
    std::swap(slot(collector), collector.current);
    ++collector.doneCount;
    collector.fieldCount = 0;
}

int isNeverSpace(unsigned char) {
    return 0;
}

// The line the record being parsed starts on. While its first field is still being read, that is
// as many lines back as the part read so far holds line breaks.
std::size_t recordLine(const Collector& collector, const csv_parser& parser) {
    if (collector.fieldCount > 0)
        return collector.current.line;
    std::size_t breaks = 0;
    for (std::size_t i = 0; i < parser.entry_pos; ++i)
        breaks += parser.entry_buf[i] == '\n';
    return collector.line - breaks;
}

[[noreturn]] void refuseLongField(std::size_t line, std::size_t column, std::size_t limit, bool quoted) {
    throw CsvSyntaxError(line, "column " + std::to_string(column) + " holds more than " + std::to_string(limit) +
                                   " bytes, longer than any field may be" +
                                   (quoted ? " (a quote that opens a field and is never closed takes in the rest "
                                             "of the text)"
                                           : "") +
                                   "; nothing after it was read");
}

} // namespace

void CsvReader::read(const std::function<void(const CsvRecord&)>& onRecord) {
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_EMPTY_IS_NULL) != 0)
        throw std::runtime_error("out of memory");
    const auto freeParser = [](csv_parser* p) { csv_free(p); };
    std::unique_ptr<csv_parser, decltype(freeParser)> guard(&parser, freeParser);
    // RFC 4180: spaces are part of a field (libcsv trims them by default).
    csv_set_space_func(&parser, isNeverSpace);

    Collector collector;
    collector.fieldLimit = m_limits.fieldBytes;
    const auto deliver = [&] {
        for (std::size_t i = 0; i < collector.doneCount; ++i)
            onRecord(collector.done[i]);
        collector.doneCount = 0;
    };
    const auto refuse = [&] {
        throw CsvSyntaxError(collector.line, std::string("malformed CSV (") + csv_strerror(csv_error(&parser)) +
                                                 "): a quote may only open and close a whole field, and a "
                                                 "quoted field must end with a quote");
    };
    std::size_t recordStart = 0; // where the record being parsed starts in the input
    // After each piece: a field or record over the limits is refused before it is passed on,
    // and a field still being read is refused as soon as it is over, however it would end.
    const auto checkLimits = [&](bool endsWithTerminator) {
        if (collector.longFieldColumn > 0)
            refuseLongField(collector.longFieldLine, collector.longFieldColumn, m_limits.fieldBytes, false);
        if (m_limits.fieldBytes > 0 && parser.entry_pos > m_limits.fieldBytes)
            refuseLongField(recordLine(collector, parser), collector.fieldCount + 1, m_limits.fieldBytes,
                            parser.quoted != 0);
        const bool inRecord = collector.fieldCount > 0 || parser.entry_pos > 0 || parser.quoted != 0;
        const std::size_t bytes = m_bytesRead - recordStart - (!inRecord && endsWithTerminator ? 1 : 0);
        if (m_limits.recordBytes > 0 && bytes > m_limits.recordBytes) {
            const std::size_t line = inRecord                  ? recordLine(collector, parser)
                                     : collector.doneCount > 0 ? collector.done[collector.doneCount - 1].line
                                                               : collector.line;
            throw CsvSyntaxError(line, "the record holds more than " + std::to_string(m_limits.recordBytes) +
                                           " bytes, longer than any record may be; nothing after it was read");
        }
        if (!inRecord)
            recordStart = m_bytesRead;
    };

    std::vector<char> buffer(1 << 16);
    bool first = true;
    bool endsWithBreak = false;
    while (m_input) {
        m_input.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        auto size = static_cast<std::size_t>(m_input.gcount());
        if (m_input.bad())
            throw std::runtime_error(std::strerror(errno));
        const char* chunk = buffer.data();
        if (first && size >= 3 && std::memcmp(chunk, "\xEF\xBB\xBF", 3) == 0) {
            chunk += 3;
            size -= 3;
            m_bytesRead += 3;
            recordStart = 3;
        }
        first = false;
        // Fed up to each CR or LF, so the parser's callbacks always know the line they are on,
        // and a record always ends where a piece does.
        while (size > 0) {
            const char* terminator = std::find_if(chunk, chunk + size, [](char c) { return c == '\n' || c == '\r'; });
            const bool ended = terminator != chunk + size;
            const std::size_t piece = ended ? static_cast<std::size_t>(terminator - chunk) + 1 : size;
            if (csv_parse(&parser, chunk, piece, onField, onRecordEnd, &collector) != piece)
                refuse();
            m_bytesRead += piece;
            endsWithBreak = ended && *terminator == '\n';
            if (endsWithBreak)
                ++collector.line;
            checkLimits(ended);
            deliver();
            chunk += piece;
            size -= piece;
        }
    }
    if (endsWithBreak)
        --collector.line; // a final line break does not start another line
    if (csv_fini(&parser, onField, onRecordEnd, &collector) != 0)
        refuse();
    checkLimits(false);
    deliver();
}

} // namespace cli
