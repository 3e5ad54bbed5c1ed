// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// One record of a CSV file. A field is null when it was empty and unquoted, and empty text when
// it was written as "" (two quotes): the file can tell the two apart, so we keep them apart.
struct CsvRecord {
    std::size_t line = 0; // the line the record starts on, counting from 1
    std::vector<std::optional<std::string>> fields;
};

// The input is not well-formed CSV, or holds a field or a record longer than the reader's limits;
// `line` is where the record at fault starts, and nothing after it was read.
class CsvSyntaxError : public std::runtime_error {
public:
    CsvSyntaxError(std::size_t line, const std::string& reason) : std::runtime_error(reason), m_line(line) {}
    std::size_t line() const { return m_line; }

private:
    std::size_t m_line;
};

// Reads RFC 4180 CSV strictly (libcsv in strict mode): fields separated by commas, records ended
// by CR LF or LF, quotes only around a whole field, "" for a quote inside one. Spaces are part of
// a field. Empty lines are skipped. A leading UTF-8 byte order mark is dropped. Lines are
// counted by their LF characters.
//
// Limits bound what one record may take, so that input without an end (a device, a generator,
// a quote that is never closed) is refused after a bounded read, at most 64 KiB beyond a limit,
// instead of filling memory. 0: no limit.
struct CsvLimits {
    std::size_t fieldBytes = 0;  // a field's bytes, quotes not counted
    std::size_t recordBytes = 0; // a record's bytes, quotes and separators counted, its line break not
};

class CsvReader {
public:
    explicit CsvReader(std::istream& input, CsvLimits limits = {}) : m_input(input), m_limits(limits) {}

    // Calls onRecord for every record, in order, until the input ends. The record passed is
    // reused for the next one. Throws CsvSyntaxError for malformed input and for a field or record
    // over the limits (the record is not passed on), std::runtime_error when reading fails, and
    // whatever onRecord throws.
    void read(const std::function<void(const CsvRecord&)>& onRecord);

    // The bytes of the input taken in so far, byte order mark included; while onRecord runs,
    // up to the line break the record ends with.
    std::size_t bytesRead() const { return m_bytesRead; }

private:
    std::istream& m_input;
    CsvLimits m_limits;
    std::size_t m_bytesRead = 0;
};

} // namespace cli
