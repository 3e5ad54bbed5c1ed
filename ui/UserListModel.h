// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractListModel>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The user names of the list window, packed: every name's UTF-8 bytes in one buffer and one
// offset per name, about 15 bytes an account where a list of separate strings costs over 100.
// A name becomes a QString only while the view paints or asks for it.
class UserListModel : public QAbstractListModel {
    Q_OBJECT

public:
    // Collects names before they are shown; the view sees them all at once through setNames().
    class Builder {
    public:
        void append(std::string_view utf8Name) {
            m_bytes.append(utf8Name);
            m_ends.push_back(static_cast<std::uint64_t>(m_bytes.size()));
        }

    private:
        friend class UserListModel;
        std::string m_bytes;
        std::vector<std::uint64_t> m_ends;
    };

    using QAbstractListModel::QAbstractListModel;

    void setNames(Builder&& names);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QString name(int row) const;

private:
    Builder m_names;
};
