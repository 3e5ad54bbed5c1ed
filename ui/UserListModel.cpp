// SPDX-License-Identifier: MIT
#include "ui/UserListModel.h"

void UserListModel::setNames(Builder&& names) {
    beginResetModel();
    m_names = std::move(names);
    m_names.m_bytes.shrink_to_fit();
    m_names.m_ends.shrink_to_fit();
    endResetModel();
}

int UserListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_names.m_ends.size());
}

QString UserListModel::name(int row) const {
    if (row < 0 || row >= rowCount())
        return {};
    const auto at = static_cast<std::size_t>(row);
    const std::uint64_t begin = at == 0 ? 0 : m_names.m_ends[at - 1];
    const std::uint64_t end = m_names.m_ends[at];
    return QString::fromUtf8(m_names.m_bytes.data() + begin, static_cast<qsizetype>(end - begin));
}

QVariant UserListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return name(index.row());
}
