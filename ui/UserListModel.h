// SPDX-License-Identifier: MIT
#pragma once

#include "ui/PackedNames.h"

#include <QAbstractListModel>

#include <string_view>
#include <utility>

// The user names of the list window, one row each, held packed (see PackedNames). A name becomes
// a QString only while the view paints or asks for it.
class UserListModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    // The view sees all the names at once.
    void setNames(PackedNames&& names);
    const PackedNames& names() const { return m_names; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QString name(int row) const;
    // The name's UTF-8 bytes exactly as stored; valid until the next setNames(). Empty for a row
    // out of range.
    std::string_view utf8Name(int row) const { return m_names.utf8(row); }

private:
    std::pair<QString, qsizetype> shownName(int row) const;

    PackedNames m_names;
};
