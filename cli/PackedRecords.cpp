// SPDX-License-Identifier: MIT
#include "cli/PackedRecords.h"

#include <algorithm>

namespace cli {

namespace {

constexpr std::size_t blockBytes = 1 << 20;

// Numbers are written seven bits a byte, low bits first; the high bit says that more follow.
void putNumber(std::string& out, std::size_t number) {
    while (number >= 0x80) {
        out += static_cast<char>((number & 0x7F) | 0x80);
        number >>= 7;
    }
    out += static_cast<char>(number);
}

std::size_t getNumber(const std::string& in, std::size_t& offset) {
    std::size_t number = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(in[offset++]);
        number |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if (byte < 0x80)
            return number;
    }
}

} // namespace

// A record is its line, its count of fields, and each field as its length plus one (0: null)
// followed by its bytes. A record never spans two blocks.
void PackedRecords::pack(const CsvRecord& record, std::string& packed) {
    packed.clear();
    putNumber(packed, record.line);
    putNumber(packed, record.fields.size());
    for (const auto& field : record.fields) {
        putNumber(packed, field ? field->size() + 1 : 0);
        if (field)
            packed += *field;
    }
}

void PackedRecords::append(const std::string& packed) {
    if (m_blocks.empty() || m_blocks.back().capacity() - m_blocks.back().size() < packed.size()) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(std::max(blockBytes, packed.size()));
    }
    m_blocks.back() += packed;
    ++m_count;
}

bool PackedRecords::Reader::next(CsvRecord& record) {
    if (m_block < m_records.m_blocks.size() && m_offset == m_records.m_blocks[m_block].size()) {
        ++m_block;
        m_offset = 0;
    }
    if (m_block == m_records.m_blocks.size())
        return false;
    const std::string& block = m_records.m_blocks[m_block];
    record.line = getNumber(block, m_offset);
    record.fields.resize(getNumber(block, m_offset));
    for (auto& field : record.fields) {
        const std::size_t length = getNumber(block, m_offset);
        if (length == 0) {
            field.reset();
            continue;
        }
        if (!field)
            field.emplace();
        field->assign(block, m_offset, length - 1); // in the room the record before left
        m_offset += length - 1;
    }
    return true;
}

} // namespace cli
