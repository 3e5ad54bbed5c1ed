// SPDX-License-Identifier: MIT
#include "cli/FirstUses.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The first use of each look of a user name is found by that look however many came after it, as
// the table grows, with its own line and name: a name that is its own look, one that is not, and
// an empty one. A later use of the same look never replaces it.
TEST(FirstUsesTest, EachLookKeepsItsFirstLineAndNameAsTheTableGrows) {
    const std::size_t count = 20000;
    const auto look = [](std::size_t i) { return "look" + std::to_string(i); };
    const auto name = [&](std::size_t i) {
        return i % 3 == 0 ? look(i) : i % 3 == 1 ? "Name " + std::to_string(i) : std::string();
    };
    cli::FirstUses uses;
    for (std::size_t i = 0; i < count; ++i)
        ASSERT_TRUE(uses.add(look(i), i + 2, name(i)).second) << i;
    for (std::size_t i = 0; i < count; ++i) {
        const auto [use, added] = uses.add(look(i), 1, "later");
        ASSERT_FALSE(added) << i;
        EXPECT_EQ(uses.find(look(i)), use);
        EXPECT_EQ(uses.line(use), i + 2);
        EXPECT_EQ(uses.name(use), name(i));
    }
    EXPECT_EQ(uses.find("look"), cli::FirstUses::none);
}

} // namespace
