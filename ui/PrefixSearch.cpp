// SPDX-License-Identifier: MIT
#include "ui/PrefixSearch.h"

#include "ui/PackedNames.h"
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

int PrefixSearch::firstMatch(const PackedNames& names, QStringView prefix, int from) {
    const int rows = names.count();
    if (rows == 0)
        return -1;
    from = std::clamp(from, 0, rows - 1);
    if (!names.inCodePointOrder()) {
        for (int i = 0; i < rows; ++i) {
            const int row = (from + i) % rows;
            if (storedText(names.utf8(row)).startsWith(prefix, Qt::CaseInsensitive))
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
    auto narrow = [&names](int lo, int hi, std::string_view key) {
        auto firstWhere = [&](int begin, int end, auto&& test) {
            while (begin < end) {
                const int middle = begin + (end - begin) / 2;
                if (test(names.utf8(middle)))
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
