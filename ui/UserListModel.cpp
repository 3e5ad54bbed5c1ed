// SPDX-License-Identifier: MIT
#include "ui/UserListModel.h"

#include <algorithm>

quint64 UserListModel::Builder::end(int row) const {
    const auto wraps = std::upper_bound(m_wraps.cbegin(), m_wraps.cend(), row) - m_wraps.cbegin();
    return (static_cast<quint64>(wraps) << 32) | m_ends[static_cast<std::size_t>(row)];
}

void UserListModel::setNames(Builder&& names) {
    beginResetModel();
    // Taken over as they are: the untouched rest of their room costs no memory.
    m_names = std::move(names);
    endResetModel();
}

int UserListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_names.m_ends.size());
}

std::string_view UserListModel::utf8Name(int row) const {
    if (row < 0 || row >= rowCount())
        return {};
    const quint64 begin = row == 0 ? 0 : m_names.end(row - 1);
    return {m_names.m_bytes.data() + begin, static_cast<std::size_t>(m_names.end(row) - begin)};
}

QString UserListModel::name(int row) const {
    const std::string_view bytes = utf8Name(row);
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QVariant UserListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return name(index.row());
}
