// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>

#include <QStringView>

#include <string_view>

// The user names of the list window, packed: every name's UTF-8 bytes in one buffer and one
// offset per name, about 20 bytes an account where a list of separate strings costs over 100.
// A name becomes a QString only while the view paints or asks for it.
class UserListModel : public QAbstractListModel {
    Q_OBJECT

public:
    // Collects names before they are shown; the view sees them all at once through setNames().
    class Builder {
    public:
        // Room for millions of names is set aside at once. It is address space only: memory is
        // taken as names arrive, and the buffers are never copied, nor their memory touched
        // afresh, as they grow. setNames() hands the unused rest back.
        Builder() {
            m_bytes.reserve(64 << 20);
            m_ends.reserve(4 << 20);
        }

        void append(std::string_view utf8Name) {
            m_bytes.append(utf8Name.data(), static_cast<qsizetype>(utf8Name.size()));
            m_ends.append(m_bytes.size());
        }

    private:
        friend class UserListModel;
        QByteArray m_bytes;
        QList<qsizetype> m_ends;
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
    bool isInCodePointOrder() const;

    Builder m_names;
    bool m_inCodePointOrder = true;
};
