// SPDX-License-Identifier: MIT
#include "cli/CsvWriter.h"

namespace cli {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool needsQuotes(std::string_view text) {
    if (text.empty() || isBlank(text.front()) || isBlank(text.back()))
        return true;
    return text.find_first_of(",\"\r\n") != std::string_view::npos;
}

} // namespace

void CsvWriter::separate() {
    if (!m_atRecordStart)
        m_output.put(',');
    m_atRecordStart = false;
}

void CsvWriter::field(std::string_view text) {
    separate();
    if (!needsQuotes(text)) {
        m_output.write(text.data(), static_cast<std::streamsize>(text.size()));
        return;
    }
    m_output.put('"');
    for (std::size_t start = 0;;) {
        const std::size_t quote = text.find('"', start);
        const std::string_view part = text.substr(start, quote == std::string_view::npos ? text.npos : quote - start);
        m_output.write(part.data(), static_cast<std::streamsize>(part.size()));
        if (quote == std::string_view::npos)
            break;
        m_output.write("\"\"", 2);
        start = quote + 1;
    }
    m_output.put('"');
}

void CsvWriter::nullField() {
    separate();
}

void CsvWriter::endRecord() {
    m_output.write("\r\n", 2);
    m_atRecordStart = true;
}

} // namespace cli
