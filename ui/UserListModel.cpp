// SPDX-License-Identifier: MIT
#include "ui/UserListModel.h"

#include "ui/NameDisplay.h"
#include "ui/StoredText.h"

#include <QChar>
#include <QString>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

// Every code point whose case folding is another one, as (folded, code point), sorted: the
// characters that match `c` ignoring case are those that fold as `c` does. Made once, from Qt's
// own Unicode data, so that the search ignores case exactly as QString does.
const std::vector<std::pair<char32_t, char32_t>>& foldings() {
    static const std::vector<std::pair<char32_t, char32_t>> table = [] {
        std::vector<std::pair<char32_t, char32_t>> pairs;
        // No character above the first two planes has case.
        for (char32_t c = 0; c < 0x20000; ++c) {
            const char32_t folded = QChar::toCaseFolded(c);
            if (folded != c)
                pairs.emplace_back(folded, c);
        }
        std::sort(pairs.begin(), pairs.end());
        return pairs;
    }();
    return table;
}

// The UTF-8 bytes of every character that matches `c` ignoring case.
std::vector<std::string> caseVariants(char32_t c) {
    const char32_t folded = QChar::toCaseFolded(c);
    std::vector<char32_t> variants;
    if (QChar::toCaseFolded(folded) == folded)
        variants.push_back(folded);
    const auto& table = foldings();
    const auto same = std::equal_range(table.begin(), table.end(), std::pair<char32_t, char32_t>(folded, 0),
                                       [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto it = same.first; it != same.second; ++it)
        variants.push_back(it->second);
    std::vector<std::string> bytes;
    for (const char32_t variant : variants)
        bytes.push_back(QString::fromUcs4(&variant, 1).toStdString());
    return bytes;
}

} // namespace

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
// made visible; the tooltip adds the code points. name() and utf8Name() stay exact.
QVariant UserListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: {
        const auto [start, more] = shownName(index.row());
        return NameDisplay::visible(start, more);
    }
    case Qt::ToolTipRole: {
        const auto [start, more] = shownName(index.row());
        return NameDisplay::toolTip(start, more);
    }
    default:
        return {};
    }
}

int UserListModel::findPrefix(QStringView prefix, int from) const {
    const int rows = rowCount();
    if (rows == 0)
        return -1;
    from = std::clamp(from, 0, rows - 1);
    if (!m_names.m_inCodePointOrder) {
        for (int i = 0; i < rows; ++i) {
            const int row = (from + i) % rows;
            if (name(row).startsWith(prefix, Qt::CaseInsensitive))
                return row;
        }
        return -1;
    }

    // The names that match form one run of rows for each spelling of the prefix in upper and
    // lower case. Walk the spellings character by character, narrowing the run of rows that
    // starts with each spelling so far by binary search, and drop a spelling as soon as no name
    // starts with it.
    std::vector<std::vector<std::string>> variants;
    for (const char32_t c : prefix.toUcs4())
        variants.push_back(caseVariants(c));

    // Within [lo, hi), where every name starts with all but the last character of `key`: the
    // rows whose name starts with `key`.
    auto narrow = [this](int lo, int hi, std::string_view key) {
        auto firstWhere = [&](int begin, int end, auto&& test) {
            while (begin < end) {
                const int middle = begin + (end - begin) / 2;
                if (test(utf8Name(middle)))
                    end = middle;
                else
                    begin = middle + 1;
            }
            return begin;
        };
        const int first = firstWhere(lo, hi, [&](std::string_view name) { return name >= key; });
        const int last = firstWhere(first, hi, [&](std::string_view name) { return !name.starts_with(key); });
        return std::pair(first, last);
    };

    int atOrAfter = -1; // the first match at or after `from`
    int anywhere = -1;  // the first match of all, for wrapping round
    std::string key;
    auto visit = [&](auto&& self, std::size_t depth, int lo, int hi) -> void {
        if (depth == variants.size()) {
            anywhere = anywhere < 0 ? lo : std::min(anywhere, lo);
            const int candidate = std::max(lo, from);
            if (candidate < hi)
                atOrAfter = atOrAfter < 0 ? candidate : std::min(atOrAfter, candidate);
            return;
        }
        for (const std::string& variant : variants[depth]) {
            key += variant;
            const auto [first, last] = narrow(lo, hi, key);
            if (first < last)
                self(self, depth + 1, first, last);
            key.resize(key.size() - variant.size());
        }
    };
    visit(visit, 0, 0, rows);
    return atOrAfter >= 0 ? atOrAfter : anywhere;
}
