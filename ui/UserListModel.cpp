// SPDX-License-Identifier: MIT
#include "ui/UserListModel.h"

void UserListModel::setNames(Builder&& names) {
    beginResetModel();
    m_names = std::move(names);
    m_names.m_bytes.squeeze();
    m_names.m_ends.squeeze();
    endResetModel();
}

int UserListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_names.m_ends.size());
}

std::string_view UserListModel::utf8Name(int row) const {
    if (row < 0 || row >= rowCount())
        return {};
    const qsizetype begin = row == 0 ? 0 : m_names.m_ends[row - 1];
    return {m_names.m_bytes.constData() + begin, static_cast<std::size_t>(m_names.m_ends[row] - begin)};
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
