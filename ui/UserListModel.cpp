// SPDX-License-Identifier: MIT
#include "ui/UserListModel.h"

#include "ui/NameDisplay.h"
#include "ui/StoredText.h"

#include <QString>

#include <algorithm>
#include <utility>

void UserListModel::setNames(PackedNames&& names) {
    beginResetModel();
    // Taken over as they are: the untouched rest of their room costs no memory.
    m_names = std::move(names);
    endResetModel();
}

int UserListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_names.count();
}

QString UserListModel::name(int row) const {
    return storedText(utf8Name(row));
}

// The start of the name at `row` that NameDisplay shows, decoded, and the count of the characters
// after it, so that a name of any length costs no more to show than its start.
std::pair<QString, qsizetype> UserListModel::shownName(int row) const {
    const std::string_view utf8 = utf8Name(row);
    const auto starts = [](char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; };
    std::size_t cut = 0;
    for (qsizetype characters = 0; cut < utf8.size(); ++cut) {
        if (starts(utf8[cut]) && characters++ == NameDisplay::shownCharacters)
            break;
    }
    const auto more = std::count_if(utf8.begin() + static_cast<std::ptrdiff_t>(cut), utf8.end(), starts);
    return {storedText(utf8.substr(0, cut)), static_cast<qsizetype>(more)};
}

// What the list shows, and what a screen reader hears, is the name with its invisible characters
// made visible and a mark when it may pass for another; the tooltip adds the code points, and the
// tooltip and the description say why it is marked. Each is made only for a row painted or asked
// for. name() and utf8Name() stay exact.
QVariant UserListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: {
        const auto [start, more] = shownName(index.row());
        return NameDisplay::shown(start, more);
    }
    case Qt::AccessibleDescriptionRole:
        return NameDisplay::lookReason(shownName(index.row()).first);
    case Qt::ToolTipRole: {
        const auto [start, more] = shownName(index.row());
        return NameDisplay::toolTip(start, more);
    }
    default:
        return {};
    }
}
