// SPDX-License-Identifier: MIT
#pragma once

#include "cli/CsvReader.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cli {

// CSV records kept in memory until they are used: each record's line and fields back to back,
// their lengths in a byte or two, in blocks of a mebibyte. They take about the bytes of the CSV
// text itself, where a CsvRecord takes over 40 bytes a field beside its text, and the blocks
// are never copied as more arrive, where one growing buffer would be copied whole at each step.
class PackedRecords {
public:
    // `record` as it is kept, into `packed`, so that it may be packed on one thread and kept on another.
    static void pack(const CsvRecord& record, std::string& packed);
    // Keeps a record `pack` made.
    void append(const std::string& packed);
    std::size_t size() const { return m_count; }

    // The records in the order they were added.
    class Reader {
    public:
        explicit Reader(const PackedRecords& records) : m_records(records) {}
        // Fills `record` (its fields resized) with the next record; false after the last.
        bool next(CsvRecord& record);

    private:
        const PackedRecords& m_records;
        std::size_t m_block = 0;
        std::size_t m_offset = 0;
    };

private:
    std::vector<std::string> m_blocks;
    std::size_t m_count = 0;
};

} // namespace cli
