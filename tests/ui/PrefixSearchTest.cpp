// SPDX-License-Identifier: MIT
#include "ui/PrefixSearch.h"
#include "ui/PackedNames.h"

#include <QString>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Type-ahead as an operator meets it: the row a typed prefix selects, from the row it starts at.
TEST(PrefixSearchTest, SelectsTheRowAnOperatorExpects) {
    // In code point order, as the index "User" gives them; then as another program may have left them.
    const std::vector<std::string> sorted = {"Alan", "Bob", "bob", "carl", "carol", "dave", "Émile", "Σοφία", "𐐨x"};
    const std::vector<std::string> unsorted = {"dave", "carol", "Émile", "alan", "Carl"};
    const std::vector<std::string> none;
    const struct {
        const std::vector<std::string>& names;
        const char* typed;
        int from;
        int row;
        const char* what;
    } cases[] = {
        {sorted, "c", 0, 3, "the first name that starts with it"},
        {sorted, "c", 4, 4, "the name it starts at"},
        {sorted, "c", 5, 3, "past the last match, round to the first"},
        {sorted, "caro", 0, 4, "a longer prefix"},
        {sorted, "carlo", 0, -1, "a prefix longer than the name: none, the selection stays"},
        {sorted, "x", 2, -1, "no name: none, the selection stays"},
        {sorted, "ALAN", 0, 0, "upper case finds lower"},
        {sorted, "b", 1, 1, "\"Bob\" as well as \"bob\""},
        {sorted, "B", 3, 1, "\"bob\" then round to \"Bob\""},
        {sorted, "é", 0, 6, "an accented capital"},
        {sorted, "σο", 0, 7, "Greek, two bytes a letter"},
        {sorted, "ς", 0, 7, "final sigma is sigma"},
        {sorted, "𐐀X", 0, 8, "a letter of four bytes"},
        {sorted, "a", 99, 0, "from past the end"},
        {sorted, "d", -5, 5, "from before the start"},
        {unsorted, "c", 0, 1, "unordered: the first"},
        {unsorted, "c", 2, 4, "unordered: the next, in another case"},
        {unsorted, "D", 1, 0, "unordered: round to the start"},
        {unsorted, "É", 0, 2, "unordered: accented"},
        {unsorted, "x", 0, -1, "unordered: none"},
        {none, "a", 0, -1, "an empty list"},
    };
    for (const auto& c : cases) {
        PackedNames names;
        for (const std::string& name : c.names)
            names.append(name);
        ASSERT_EQ(names.inCodePointOrder(), &c.names != &unsorted) << c.what;
        EXPECT_EQ(PrefixSearch::firstMatch(names, QString::fromUtf8(c.typed), c.from), c.row) << c.what;
    }
}

} // namespace
