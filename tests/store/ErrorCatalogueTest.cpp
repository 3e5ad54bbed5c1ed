// SPDX-License-Identifier: MIT
#include "store/ErrorCatalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every error number has its entry, in order, with a meaning and a remedy that the manual pages
// can each show as one line.
TEST(ErrorCatalogueTest, EveryNumberSaysWhatItMeansAndWhatToDo) {
    const std::vector<dao::ErrorEntry> entries = dao::errorCatalogue();
    ASSERT_GE(entries.size(), static_cast<std::size_t>(dao::ErrorNumber::SavedNotConfirmed));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string meaning = entries[i].meaning;
        const std::string remedy = entries[i].remedy;
        SCOPED_TRACE(meaning);
        EXPECT_EQ(static_cast<std::size_t>(entries[i].number), i + 1);
        for (const std::string& line : {meaning, remedy}) {
            EXPECT_GT(line.size(), 10u);
            EXPECT_EQ(line.find('\n'), std::string::npos);
            EXPECT_TRUE(line.ends_with('.'));
        }
    }
}

} // namespace
