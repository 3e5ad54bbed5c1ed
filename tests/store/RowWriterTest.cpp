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

#include <algorithm>

using namespace testing_support;
using ::testing::HasSubstr;

namespace {

// Rows added in bulk, one or several to a statement, are read back in batches: a row the file
// stores otherwise than given is refused wherever it falls, first, within or last in a batch, and
// whether the new rows' identities follow one another or, past the largest identity, are drawn at
// random.
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
    for (const bool together : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (together ? ", several rows to a statement" : ""));
            TempFolder folder;
            const std::string path = makeForeignRegistry(
                folder.path(), {.columns = "User TEXT, Password NUMERIC", .fields = "User, rowid", .rows = c.rows});
            auto database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path);
            const std::string table = "Servers";
            const std::vector<std::string> columns = {"User", "Password"};
            dao::RowWriter writer(*database, table, columns);
            const auto addAll = [&] {
                database->write([&] {
                    std::vector<dao::RowWriter::Values> rows;
                    for (int i = 0; i < count; ++i)
                        rows.push_back(
                            {dao::Variant("user" + std::to_string(i)),
                             dao::Variant(i == c.converted ? std::string("0070") : "pw" + std::to_string(i))});
                    if (together)
                        writer.addRows(rows, [](std::size_t, const dao::Error& error) { throw error; });
                    else
                        for (auto& row : rows)
                            writer.add(std::move(row));
                    writer.confirmAdded();
                });
            };
            if (c.converted < 0) {
                addAll();
                OtherProgram other(path);
                EXPECT_EQ(other.number("SELECT count(*) FROM Servers WHERE typeof(Password) = 'text'"), count);
                EXPECT_EQ(other.text("SELECT Password FROM Servers WHERE User = 'user299'"), "pw299");
            } else {
                EXPECT_THAT(addAll,
                            ThrowsStoreError(dao::ErrorNumber::UnexpectedChange,
                                             HasSubstr("The field \"Password\" of \"Servers\" would have stored "
                                                       "the text given as an integer")));
                writer.close();
                EXPECT_EQ(OtherProgram(path).number("SELECT count(*) FROM Servers"),
                          static_cast<long long>(c.rows.size()));
            }
        }
}

// Rows added several to a statement: a row a rule of the file's table refuses, which the program
// does not know, is named by its place, in a full statement's rows or in those after the last,
// and the rows around it are written in their order.
TEST(RowWriterTest, ARowRefusedAmongRowsAddedTogetherIsNamedAndTheOthersWritten) {
    const std::size_t together = dao::RowWriter::rowsPerInsert;
    const std::vector<std::size_t> cases[] = {{}, {7}, {together - 1, 2 * together + 2}};
    for (const auto& refusedRows : cases) {
        TempFolder folder;
        const std::string path =
            makeForeignRegistry(folder.path(), {.columns = "User TEXT, Password TEXT CHECK (Password <> 'bad')"});
        auto database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path);
        const std::string table = "Servers";
        const std::vector<std::string> columns = {"User", "Password"};
        dao::RowWriter writer(*database, table, columns);
        std::vector<dao::RowWriter::Values> rows;
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < 2 * together + 5; ++i) {
            const bool bad = std::find(refusedRows.begin(), refusedRows.end(), i) != refusedRows.end();
            rows.push_back({dao::Variant("u" + std::to_string(i)), dao::Variant(bad ? "bad" : "pw")});
            if (!bad)
                expected.push_back("'u" + std::to_string(i) + "'|'pw'");
        }
        std::vector<std::size_t> refused;
        database->write([&] {
            writer.addRows(rows, [&](std::size_t k, const dao::Error& error) {
                EXPECT_EQ(error.code(), dao::ErrorNumber::ValueRefused);
                EXPECT_THAT(error.description(), HasSubstr("The value for \"Password\" was refused"));
                refused.push_back(k);
            });
            writer.confirmAdded();
        });
        writer.close();
        EXPECT_EQ(refused, refusedRows);
        EXPECT_EQ(OtherProgram(path).quotedRows("User, Password"), expected);
    }
}

} // namespace
