// SPDX-License-Identifier: MIT
#pragma once

#include "ui/GrowingArray.h"

#include <QAbstractListModel>
#include <QList>

#include <string_view>

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
    };

    using QAbstractListModel::QAbstractListModel;

    void setNames(Builder&& names);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QString name(int row) const;
    // The name's UTF-8 bytes exactly as stored; valid until the next setNames(). Empty for a row
    // out of range.
    std::string_view utf8Name(int row) const;

private:
    Builder m_names;
};
