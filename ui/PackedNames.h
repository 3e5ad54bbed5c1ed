// SPDX-License-Identifier: MIT
#pragma once

#include "ui/GrowingArray.h"

#include <QList>
#include <QtGlobal>

#include <string_view>

// User names packed: every name's UTF-8 bytes in one buffer and where each name ends, about 4
// bytes a name beside its own bytes, where a list of separate strings costs over 100. Names are
// appended as they are read and read back by row; nothing is kept per row but its end.
class PackedNames {
public:
    // Room for millions of names is set aside at once. It is address space only: memory is taken
    // as names arrive, and the buffers are never copied as they grow.
    PackedNames() : m_bytes(64 << 20), m_ends(16 << 20) {}

    // Throws std::bad_alloc when memory runs out; the names are then fit only to be dropped.
    void append(std::string_view utf8Name);

    int count() const { return static_cast<int>(m_ends.size()); }
    // The UTF-8 bytes of the name at `row`, exactly as appended; valid while these names live and
    // are not moved from. Empty for a row out of range.
    std::string_view utf8(int row) const;
    // Whether every name is at or after the one before in code point order (which is UTF-8 byte
    // order), as the index "User" gives them.
    bool inCodePointOrder() const { return m_inCodePointOrder; }

private:
    quint64 end(int row) const;

    GrowingArray<char> m_bytes;
    GrowingArray<quint32> m_ends;
    QList<int> m_wraps; // ascending: each row whose end passed one more multiple of 4 GiB
    quint64 m_lastBegin = 0;
    bool m_inCodePointOrder = true;
};
