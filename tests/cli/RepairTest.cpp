// SPDX-License-Identifier: MIT
#include "cli/CommandLine.h"
#include "store/DBEngine.h"
#include "store/mdlDatabase.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/StoreError.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

using namespace testing_support;
using cli::CommandLine;

namespace {

struct Repaired {
    int status;
    std::string error;
};

Repaired repair(const std::string& path) {
    std::istringstream input;
    std::ostringstream output;
    std::ostringstream error;
    CommandLine commandLine(input, output, error, false);
    const int status = commandLine.run({"vantrel-registry", "repair", QString::fromStdString(path)});
    EXPECT_EQ(output.str(), "") << "repair reports on standard error";
    return {status, error.str()};
}

// The copies repair made beside the registry in `folder`.
std::vector<std::string> copies(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind("zarn.dat.before-repair-", 0) == 0)
            found.push_back(entry.path().string());
    return found;
}

// What a file holds as SQL reads it: its schema, its accounts and its statistics. A copy made
// through SQLite's backup holds the same, though SQLite counts its changes afresh in its header.
std::string contents(const std::string& path) {
    OtherProgram file(path);
    std::string all = file.text("SELECT group_concat(type || ' ' || name || ' ' || coalesce(sql, ''), ';') FROM "
                                "(SELECT * FROM sqlite_schema ORDER BY name)");
    for (const std::string& row : file.quotedRows("User, Password"))
        all += "\n" + row;
    if (file.number("SELECT count(*) FROM sqlite_schema WHERE name = 'sqlite_stat1'") == 1)
        all += "\n" + file.text("SELECT group_concat(tbl || ' ' || coalesce(idx, '') || ' ' || stat, ';') FROM "
                                "(SELECT * FROM sqlite_stat1 ORDER BY tbl, idx)");
    return all;
}

// A registry as init makes it, with two accounts, then changed by another program.
std::string registryChangedBy(const std::string& folder, const std::string& sql) {
    const std::string path = makeRegistry(folder);
    OtherProgram other(path);
    other.addAccount("bob");
    other.addAccount("ann");
    other.exec(sql);
    return path;
}

const char* const plantedStatistics = "ANALYZE; UPDATE sqlite_stat1 SET stat = '2 1 unordered' WHERE idx = 'User';";

TEST(RepairTest, AMissingIndexAndPlantedStatisticsAreRepairedAfterACopy) {
    struct Case {
        const char* name;
        std::string sql;
        dao::ErrorNumber refusal; // the program's, before the repair
        std::vector<std::string> said;
        const char* statisticsLeft; // the indexes sqlite_stat1 names after the repair; null: no such table
    };
    const Case cases[] = {
        {"no index \"User\"",
         "DROP INDEX User;",
         dao::ErrorNumber::IndexNotFound,
         {"has no index \"User\": made it, as vantrel-registry init makes it."},
         nullptr},
        {"planted statistics, beside those of another table",
         std::string("CREATE TABLE Other (x); CREATE INDEX OtherX ON Other (x); INSERT INTO Other VALUES (1);") +
             plantedStatistics,
         dao::ErrorNumber::MisleadingStatistics,
         {"declare the index \"User\" unordered: removed 1 row of statistics"},
         "OtherX"},
        // SQLite reads a statistics row by its index's name alone, so a planted row survives the index.
        {"no index, and planted statistics filed under another table",
         "DROP INDEX User; ANALYZE; INSERT INTO sqlite_stat1 VALUES ('Elsewhere', 'User', '2 1 unordered');",
         dao::ErrorNumber::IndexNotFound,
         {"has no index \"User\": made it", "removed 2 rows of statistics"},
         ""},
    };
    TempFolder reference;
    const std::string indexSql = "SELECT sql FROM sqlite_schema WHERE name = 'User'";
    const std::string initsIndex = OtherProgram(makeRegistry(reference.path())).text(indexSql);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TempFolder folder;
        const std::string path = registryChangedBy(folder.path(), test.sql);
        const std::string before = contents(path);
        mdlDatabase::SetRegistryFolderForTesting(folder.path());
        EXPECT_THAT([] { mdlDatabase::OpenDB(); },
                    ThrowsStoreError(test.refusal, ::testing::HasSubstr("Run vantrel-registry repair on the file")));
        mdlDatabase::ReleaseDB();

        const Repaired run = repair(path);
        EXPECT_EQ(run.status, CommandLine::Success) << run.error;
        for (const std::string& line : test.said)
            EXPECT_NE(run.error.find(line), std::string::npos) << line << " not in\n" << run.error;
        const std::vector<std::string> made = copies(folder.path());
        ASSERT_EQ(made.size(), 1u);
        EXPECT_NE(run.error.find("copied to \"" + made.front() + "\" before the repair"), std::string::npos)
            << run.error;
        EXPECT_EQ(contents(made.front()), before) << "the copy holds the file as it was";

        EXPECT_NO_THROW(mdlDatabase::OpenDB());
        mdlDatabase::CloseDB();
        mdlDatabase::SetRegistryFolderForTesting({});
        OtherProgram after(path);
        EXPECT_EQ(after.text(indexSql), initsIndex);
        EXPECT_EQ(after.number("SELECT count(*) FROM Servers"), 2);
        if (test.statisticsLeft) {
            EXPECT_EQ(after.text("SELECT coalesce(group_concat(idx), '') FROM sqlite_stat1"), test.statisticsLeft);
        }
    }
}

// Whatever repair cannot put right, a file with nothing to put right, and another program's write
// lock leave the file byte for byte as it was, and no copy beside it.
TEST(RepairTest, AFileWithNothingToRepairOrSomethingItCannotIsLeftAsItIs) {
    struct Case {
        const char* name;
        std::function<std::string(const std::string&)> make; // the registry's path in the folder
        int status;
        std::vector<std::string> said;
        bool locked = false; // another program holds the write lock meanwhile
    };
    const auto changed = [](const std::string& sql) {
        return [sql](const std::string& folder) { return registryChangedBy(folder, sql); };
    };
    const Case cases[] = {
        {"a sound registry", changed(""), CommandLine::Success, {"zarn.dat\": nothing to repair.\n"}},
        {"statistics as ANALYZE makes them", changed("ANALYZE;"), CommandLine::Success, {"nothing to repair"}},
        {"a column missing, and no index",
         [](const std::string& folder) {
             return makeForeignRegistry(folder, {.columns = "User TEXT, Password TEXT", .index = ""});
         },
         CommandLine::ProblemsFound,
         {"cannot repair: the table \"Servers\" has no column \"Official\".",
          "has no index \"User\"; repair would make it.", "nothing was repaired in"}},
        {"a trigger, and planted statistics",
         changed(std::string("CREATE TRIGGER Stamp AFTER UPDATE ON Servers BEGIN SELECT 1; END;") + plantedStatistics),
         CommandLine::ProblemsFound,
         {"cannot repair: Vantrel writes nothing into the table \"Servers\"", "the trigger \"Stamp\"",
          "unordered; repair would remove them."}},
        {"no table \"Servers\"",
         [](const std::string& folder) { return registryChangedBy(folder, "DROP TABLE Servers;"); },
         CommandLine::ProblemsFound,
         {"cannot repair: ", "has no table \"Servers\""}},
        {"damaged pages",
         [](const std::string& folder) {
             const std::string path = makeFilledRegistry(folder, 2000);
             std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(4 * 4096 + 100);
             file << std::string(3000, '\x5A');
             return path;
         },
         CommandLine::ProblemsFound,
         {"cannot repair: ", "damaged"}},
        {"no index, while another program writes",
         changed("DROP INDEX User;"),
         CommandLine::FileFailure,
         {"is in use by another program"},
         true},
    };
    const auto waited = dao::DBEngine::instance().BusyTimeout();
    dao::DBEngine::instance().SetBusyTimeout(std::chrono::milliseconds(100));
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TempFolder folder;
        const std::string path = test.make(folder.path());
        const std::string before = readBytes(path);
        std::optional<OtherProgram> writer;
        if (test.locked)
            writer.emplace(path).exec("BEGIN IMMEDIATE");
        const Repaired run = repair(path);
        writer.reset();
        EXPECT_EQ(run.status, test.status) << run.error;
        for (const std::string& line : test.said)
            EXPECT_NE(run.error.find(line), std::string::npos) << line << " not in\n" << run.error;
        EXPECT_TRUE(readBytes(path) == before) << "the file was changed";
        EXPECT_EQ(copies(folder.path()).size(), 0u);
    }
    dao::DBEngine::instance().SetBusyTimeout(waited);
}

} // namespace
