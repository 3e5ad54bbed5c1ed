// SPDX-License-Identifier: MIT
#include "ui/PackedNames.h"

#include <algorithm>

void PackedNames::append(std::string_view utf8Name) {
    const auto before = static_cast<quint64>(m_bytes.size());
    // Whether the names come in code point order is noted as they come: a search for a prefix
    // relies on it, and a second pass over ten million names would cost a tenth of a second of
    // the load.
    const bool inOrder =
        m_inCodePointOrder && utf8Name >= std::string_view(m_bytes.data() + m_lastBegin, before - m_lastBegin);
    m_bytes.append(utf8Name.data(), utf8Name.size());
    const auto end = static_cast<quint64>(m_bytes.size());
    // Ends are kept as their low 32 bits; the rows at which the buffer passes a multiple of 4 GiB
    // are noted instead, almost never.
    for (quint64 high = before >> 32; high < end >> 32; ++high)
        m_wraps.append(count());
    m_ends.append(static_cast<quint32>(end));
    m_inCodePointOrder = inOrder;
    m_lastBegin = before;
}

quint64 PackedNames::end(int row) const {
    const auto wraps = std::upper_bound(m_wraps.cbegin(), m_wraps.cend(), row) - m_wraps.cbegin();
    return (static_cast<quint64>(wraps) << 32) | m_ends[static_cast<std::size_t>(row)];
}

std::string_view PackedNames::utf8(int row) const {
    if (row < 0 || row >= count())
        return {};
    const quint64 begin = row == 0 ? 0 : end(row - 1);
    return {m_bytes.data() + begin, static_cast<std::size_t>(end(row) - begin)};
}
