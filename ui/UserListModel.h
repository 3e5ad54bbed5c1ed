// SPDX-License-Identifier: MIT
#pragma once

#include "ui/GrowingArray.h"

#include <QAbstractListModel>
#include <QList>

#include <QStringView>

#include <string_view>
#include <utility>

// The user names of the list window, packed: every name's UTF-8 bytes in one buffer and where
// each name ends, about 4 bytes an account beside its name's own bytes, where a list of separate
// strings costs over 100. A name becomes a QString only while the view paints or asks for it.
class UserListModel : public QAbstractListModel {
    Q_OBJECT

public:
    // Collects names before they are shown; the view sees them all at once through setNames().
    class Builder {
    public:
        // Room for millions of names is set aside at once. It is address space only: memory is
        // taken as names arrive, and the buffers are never copied as they grow.
        Builder() : m_bytes(64 << 20), m_ends(16 << 20) {}

        void append(std::string_view utf8Name) {
            const auto before = static_cast<quint64>(m_bytes.size());
            // Whether the names come in code point order, noted as they come: a search for a
            // prefix relies on it, and a second pass over ten million names would cost a tenth
            // of a second of the load.
            if (m_inCodePointOrder && utf8Name < std::string_view(m_bytes.data() + m_lastBegin, before - m_lastBegin))
                m_inCodePointOrder = false;
            m_lastBegin = before;
            m_bytes.append(utf8Name.data(), utf8Name.size());
            const auto end = static_cast<quint64>(m_bytes.size());
            // Ends are kept as their low 32 bits; the rows at which the buffer passes a multiple
            // of 4 GiB are noted instead, almost never.
            for (quint64 high = before >> 32; high < end >> 32; ++high)
                m_wraps.append(static_cast<int>(m_ends.size()));
            m_ends.append(static_cast<quint32>(end));
        }

    private:
        friend class UserListModel;
        quint64 end(int row) const;

        GrowingArray<char> m_bytes;
        GrowingArray<quint32> m_ends;
        QList<int> m_wraps; // ascending: each row whose end passed one more multiple of 4 GiB
        quint64 m_lastBegin = 0;
        bool m_inCodePointOrder = true;
    };

    using QAbstractListModel::QAbstractListModel;

    void setNames(Builder&& names);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QString name(int row) const;
    // The name's UTF-8 bytes exactly as stored; valid until the next setNames(). Empty for a row
    // out of range.
    std::string_view utf8Name(int row) const;

    // The first row at or after `from`, wrapping round to row 0, whose name starts with `prefix`
    // ignoring case, exactly as QString::startsWith(prefix, Qt::CaseInsensitive) matches; -1 when
    // no name does. Names in code point order, as the index "User" gives them, are searched
    // in O(log n); in any other order, one by one.
    int findPrefix(QStringView prefix, int from) const;

private:
    std::pair<QString, qsizetype> shownName(int row) const;

    Builder m_names;
};
