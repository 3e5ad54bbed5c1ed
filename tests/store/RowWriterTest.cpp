// SPDX-License-Identifier: MIT
#include "store/RowWriter.h"
#include "store/DBEngine.h"
#include "store/Database.h"
#include "store/Error.h"
#include "store/Workspace.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/StoreError.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

using namespace testing_support;
using ::testing::HasSubstr;

namespace {

// Rows added in bulk are read back in batches: a row the file stores otherwise than given is
// refused wherever it falls, first, within or last in a batch, and whether the new rows' identities
// follow one another or, past the largest identity, are drawn at random.
TEST(RowWriterTest, EveryAddedRowIsReadBackWhereverItFallsInABatch) {
    struct Case {
        const char* what;
        std::vector<std::vector<dao::Variant>> rows; // there before the import
        int converted;                               // the row whose password reads as a number; -1: none
    };
    const std::int64_t largest = INT64_MAX;
    const Case cases[] = {
        {"every row as given", {}, -1},
        {"the first row", {}, 0},
        {"a row within the first batch", {}, 7},
        {"the last row of a batch", {}, static_cast<int>(dao::RowWriter::addedBatch) - 1},
        {"the last row added", {}, 299},
        {"every row as given after the largest identity", {{dao::Variant("x"), dao::Variant(largest)}}, -1},
        {"a row after the largest identity", {{dao::Variant("x"), dao::Variant(largest)}}, 7},
    };
    const int count = 300;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const std::string path = makeForeignRegistry(
            folder.path(), {.columns = "User TEXT, Password NUMERIC", .fields = "User, rowid", .rows = c.rows});
        auto database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path);
        const std::string table = "Servers";
        const std::vector<std::string> columns = {"User", "Password"};
        dao::RowWriter writer(*database, table, columns);
        const auto addAll = [&] {
            database->write([&] {
                for (int i = 0; i < count; ++i)
                    writer.add({dao::Variant("user" + std::to_string(i)),
                                dao::Variant(i == c.converted ? std::string("0070") : "pw" + std::to_string(i))});
                writer.confirmAdded();
            });
        };
        if (c.converted < 0) {
            addAll();
            OtherProgram other(path);
            EXPECT_EQ(other.number("SELECT count(*) FROM Servers WHERE typeof(Password) = 'text'"), count);
            EXPECT_EQ(other.text("SELECT Password FROM Servers WHERE User = 'user299'"), "pw299");
        } else {
            EXPECT_THAT(addAll, ThrowsStoreError(dao::ErrorNumber::UnexpectedChange,
                                                 HasSubstr("The field \"Password\" of \"Servers\" would have stored "
                                                           "the text given as an integer")));
            writer.close();
            EXPECT_EQ(OtherProgram(path).number("SELECT count(*) FROM Servers"), static_cast<long long>(c.rows.size()));
        }
    }
}

} // namespace
