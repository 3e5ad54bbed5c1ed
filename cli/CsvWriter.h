// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace cli {

// Writes RFC 4180 CSV: records end with CR LF; a field is quoted when it holds a comma, a quote,
// a line break or leading or trailing white space, and quotes inside it are doubled. A null field
// is written empty and unquoted, empty text as "", so CsvReader gives back exactly what was written.
class CsvWriter {
public:
    explicit CsvWriter(std::ostream& output) : m_output(output) {}

    void field(std::string_view text);
    void nullField();
    void endRecord();

private:
    void separate();

    std::ostream& m_output;
    bool m_atRecordStart = true;
};

} // namespace cli
