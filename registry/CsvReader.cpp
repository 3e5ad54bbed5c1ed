// SPDX-License-Identifier: MIT
#include "registry/CsvReader.h"

#include <csv.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace registry {

namespace {

// What libcsv's callbacks fill. They only collect: no exception may cross libcsv's C frames,
// so completed records are handed to the caller after each csv_parse returns.
struct Collector {
    std::size_t line = 1;        // the line being fed to the parser
    std::vector<CsvRecord> done; // completed records, reused
    std::size_t doneCount = 0;
    CsvRecord current;
    std::size_t fieldCount = 0;
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
    auto& field = record.fields[collector.fieldCount++];
    if (text)
        field.emplace().assign(static_cast<const char*>(text), length);
    else
        field.reset();
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
        }
        first = false;
        // Fed a line at a time, so the parser's callbacks always know the line they are on.
        while (size > 0) {
            const auto* lineEnd = static_cast<const char*>(std::memchr(chunk, '\n', size));
            const std::size_t piece = lineEnd ? static_cast<std::size_t>(lineEnd - chunk) + 1 : size;
            if (csv_parse(&parser, chunk, piece, onField, onRecordEnd, &collector) != piece)
                refuse();
            m_bytesRead += piece;
            deliver();
            if (lineEnd)
                ++collector.line;
            endsWithBreak = lineEnd != nullptr;
            chunk += piece;
            size -= piece;
        }
    }
    if (endsWithBreak)
        --collector.line; // a final line break does not start another line
    if (csv_fini(&parser, onField, onRecordEnd, &collector) != 0)
        refuse();
    deliver();
}

} // namespace registry
