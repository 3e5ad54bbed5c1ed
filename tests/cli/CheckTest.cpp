// SPDX-License-Identifier: MIT
#include "cli/Check.h"
#include "cli/CommandLine.h"
#include "cli/Create.h"
#include "cli/Progress.h"
#include "store/Error.h"
#include "store/FileSystem.h"
#include "tests/support/LookAlikeNames.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/SqliteShell.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <SQLiteCpp/Database.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;
using cli::CheckReport;
using testing_support::LookAlikeName;
using testing_support::lookAlikeNames;

namespace {

// Runs SQL through Debian's sqlite3 shell, as an operator or another program would make a file.
void shell(const std::string& path, const std::string& sql) {
    const ShellRun run = runSqlite(path, sql);
    ASSERT_EQ(run.status, 0) << sql << run.errors;
}

// A table as another program makes it: the right columns, none of the program's rules.
const char* const foreignTable = "CREATE TABLE Servers (User TEXT(15), Password TEXT(15), Name TEXT(50), "
                                 "Description TEXT(250), UpdateURL TEXT(250), Official BOOLEAN, Date BYTE, "
                                 "Time BYTE);\n";

// A program that dies in the middle of a write, leaving its journal (or write-ahead log) behind.
void crashWhileWriting(const std::string& path, const std::string& journalMode) {
    const pid_t child = fork();
    if (child == 0) {
        try {
            SQLite::Database database(path, SQLite::OPEN_READWRITE);
            database.exec("PRAGMA journal_mode = " + journalMode);
            database.exec("PRAGMA cache_size = 1"); // changed pages go out to the file before the commit
            database.exec("BEGIN");
            for (int i = 0; i < 3; ++i)
                database.exec("UPDATE Servers SET Name = 'half-written " + std::to_string(i) + "'");
            if (journalMode == "WAL")
                database.exec("COMMIT");
            _exit(0); // no rollback, no close: as a power cut leaves it
        } catch (...) {
            _exit(2);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(CheckTest, EveryKindOfProblemIsFoundAndCounted) {
    TempFolder folder;
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        std::size_t CheckReport::*kind; // the count that must be positive; null: a clean file
        std::vector<std::string> findings;
    };
    const auto demo = [&](const std::string& path) {
        std::ostringstream quiet;
        cli::Progress progress(quiet, false, {});
        cli::createDemo(path, 3000, 5, progress);
    };
    const Case cases[] = {
        {"program's own, with accounts",
         [&](const std::string& path) {
             makeRegistry(folder.path());
             std::rename(folder.file("zarn.dat").c_str(), path.c_str());
             shell(path, "INSERT INTO Servers VALUES ('ann', 'pw', 'Ann', 'a' || char(13) || 'b', '', 1, 0, 255);");
         },
         nullptr,
         {}},
        {"foreign table breaking every rule",
         [&](const std::string& path) {
             shell(path, std::string(foreignTable) +
                             "CREATE INDEX User ON Servers (User);\n"
                             "INSERT INTO Servers VALUES ('sixteen-letters!', 'pw', NULL, NULL, NULL, 0, 1, 1);\n"
                             "INSERT INTO Servers VALUES ('ann', '', NULL, NULL, NULL, 2, 300, 'x');\n"
                             "INSERT INTO Servers VALUES ('eve', 'pw', CAST(X'4AC3' AS TEXT), X'00', NULL, 1, 1, 1);\n"
                             "INSERT INTO Servers VALUES ('nul', 'p' || char(0) || 'w', NULL, NULL, 7, 1, 1.5, 1);\n"
                             "INSERT INTO Servers VALUES ('fine', 'pw', 'Fine', NULL, NULL, 1, 1, 1);\n");
         },
         &CheckReport::rowsBreakingRules,
         {"(user \"sixteen-letters!\"): \"User\" has 16 characters; at most 15 are allowed",
          "(user \"ann\"): \"Password\" is empty; it must be text of 1 to 15 characters; \"Official\" is 2, not true "
          "(1) or false (0); \"Date\" is 300, not a whole number from 0 to 255; \"Time\" is 'x'",
          "\"Name\" is not valid UTF-8 text", "\"Description\" holds blob X'00', not text",
          "\"Password\" is not valid UTF-8 text or holds a NUL character; \"Date\" is 1.5"}},
        {"no user names and shared ones",
         [&](const std::string& path) {
             shell(path, std::string(foreignTable) +
                             "CREATE INDEX User ON Servers (User);\n"
                             "INSERT INTO Servers (User, Password) VALUES (NULL, 'a'), (NULL, 'b'), ('bob', 'c'), "
                             "('bob', 'd'), ('bob', 'e'), ('Bob', 'f'), ('al', 'g'), ('al', 'h');\n");
         },
         &CheckReport::sharedNames,
         {"2 accounts have no user name", "\"al\" is shared by 2 accounts", "\"bob\" is shared by 3 accounts"}},
        {"no index",
         [&](const std::string& path) { shell(path, foreignTable); },
         &CheckReport::tableProblems,
         {"no index \"User\"", "(error 11) vantrel-registry repair "}},
        {"no table",
         [&](const std::string& path) { shell(path, "CREATE TABLE Other (x);"); },
         &CheckReport::tableProblems,
         {"no table \"Servers\""}},
        {"a column missing",
         [&](const std::string& path) {
             shell(path, "CREATE TABLE Servers (User TEXT, Password TEXT); CREATE INDEX User ON Servers (User);");
         },
         &CheckReport::tableProblems,
         {"no column \"Official\""}},
        {"damaged pages",
         [&](const std::string& path) {
             demo(path);
             std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(12 * 4096 + 100);
             file << std::string(3000, '\x5A');
         },
         &CheckReport::damage,
         {}},
        {"damaged list of tables",
         [&](const std::string& path) {
             demo(path);
             std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(100); // past the file's header, into the page that lists the tables
             file << std::string(3000, '\x5A');
         },
         &CheckReport::damage,
         {"Nothing else was checked."}},
        {"crash-left journal",
         [&](const std::string& path) { demo(path), crashWhileWriting(path, "DELETE"); },
         &CheckReport::journals,
         {"-journal\" holds a write that a crash left unfinished"}},
        {"crash-left write-ahead log",
         [&](const std::string& path) { demo(path), crashWhileWriting(path, "WAL"); },
         &CheckReport::journals,
         {"-wal\" holds writes that are not in the file yet"}},
    };
    int number = 0;
    for (const Case& test : cases) {
        const std::string path = folder.file("case" + std::to_string(++number) + ".dat");
        test.make(path);
        if (HasFatalFailure())
            return;
        const std::string before = readBytes(path);
        const CheckReport report = cli::checkRegistry(path);
        std::string all;
        for (const std::string& finding : report.findings)
            all += finding + "\n";
        EXPECT_EQ(report.clean(), test.kind == nullptr) << test.name << ":\n" << all;
        if (test.kind) {
            EXPECT_GT(report.*test.kind, 0u) << test.name << ":\n" << all;
        }
        for (const std::string& finding : test.findings)
            EXPECT_NE(all.find(finding), std::string::npos) << test.name << ": " << finding << " not in\n" << all;
        EXPECT_EQ(readBytes(path), before) << test.name << ": the check changed the file";
    }
}

// SQLite's locking cannot be trusted there: a finding on a line of its own, and, when the file
// cannot be checked at all, said beside the failure.
TEST(CheckTest, ARegistryOnANetworkFileSystemIsAFinding) {
    TempFolder folder;
    const std::string path = makeRegistry(folder.path());
    dao::setNetworkFileSystemForTesting([](const std::string&) { return std::string("NFS"); });
    std::istringstream input;
    std::ostringstream output;
    std::ostringstream error;
    cli::CommandLine commandLine(input, output, error, false);
    EXPECT_EQ(commandLine.run({"vantrel-registry", "check", QString::fromStdString(path)}),
              cli::CommandLine::ProblemsFound);
    EXPECT_EQ(commandLine.run({"vantrel-registry", "check", QString::fromStdString(folder.file("gone.dat"))}),
              cli::CommandLine::FileFailure);
    dao::setNetworkFileSystemForTesting({});
    const std::string said = path + ": the registry is on a network file system (NFS), whose locking SQLite cannot";
    EXPECT_NE(output.str().find(said), std::string::npos) << output.str();
    EXPECT_NE(output.str().find("\n  on a network file system:               1\nProblems"), std::string::npos);
    EXPECT_NE(error.str().find("(error 1) Also, the folder of the registry is on a network file system (NFS)"),
              std::string::npos)
        << error.str();
}

// A hundred findings of a kind are listed; from the 101st on, one line says that more follow.
TEST(CheckTest, AHundredFindingsOfAKindAreListedThenOneLineSaysMore) {
    const std::string more = "... and more of this kind, counted in the summary";
    for (const auto& [rows, listed, moreLines] : {std::tuple{99u, 99u, 0u}, {100u, 100u, 0u}, {101u, 100u, 1u}}) {
        TempFolder folder;
        const std::string path = folder.file("rows.dat");
        shell(path, std::string(foreignTable) + "CREATE INDEX User ON Servers (User);\n"
                                                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                        std::to_string(rows) + ") INSERT INTO Servers (User, Password, Date) SELECT 'u' || i, 'pw', 256 FROM n;\n");
        const CheckReport report = cli::checkRegistry(path);
        EXPECT_EQ(report.rowsBreakingRules, rows);
        const auto rowLines = std::count_if(report.findings.begin(), report.findings.end(),
                                            [](const std::string& line) { return line.starts_with("row "); });
        EXPECT_EQ(std::size_t(rowLines), listed) << rows << " rows";
        EXPECT_EQ(std::size_t(std::count(report.findings.begin(), report.findings.end(), more)), moreLines) << rows << " rows";
        EXPECT_EQ(report.findings.size(), listed + moreLines) << rows << " rows: no finding of another kind";
    }
}

TEST(CheckTest, CountsAreExactAndListsStopAtAHundred) {
    TempFolder folder;
    const std::string path = folder.file("many.dat");
    shell(path, std::string(foreignTable) + "CREATE INDEX User ON Servers (User);\n"
                                            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                            "WHERE i < 250) INSERT INTO Servers (User, Password, Date) "
                                            "SELECT 'u' || (i % 120), 'pw', CASE WHEN i <= 130 THEN 256 END FROM n;\n"
                                            "INSERT INTO Servers (User) VALUES (NULL), (NULL), (NULL);\n");
    const CheckReport report = cli::checkRegistry(path);
    EXPECT_EQ(report.accounts, 253u);
    EXPECT_EQ(report.rowsBreakingRules, 130u);
    EXPECT_EQ(report.nullUsers, 3u);
    EXPECT_EQ(report.sharedNames, 120u) << "u0 to u119, each two or three times";
    EXPECT_EQ(report.sharedNameAccounts, 250u);
    // 100 rows, a line saying more follow, 1 for the names without user, 100 shared names and theirs.
    EXPECT_EQ(report.findings.size(), 100u + 1 + 1 + 100 + 1);

    EXPECT_THROW(cli::checkRegistry(folder.file("missing.dat")), dao::Error);
    writeBytes(folder.file("text.dat"), "this is no database, just some text that is long enough to read");
    EXPECT_THROW(cli::checkRegistry(folder.file("text.dat")), dao::Error);
}

TEST(CheckTest, NamesThatPassForOthersAreGroupedAndJudged) {
    TempFolder folder;
    const std::string path = makeRegistry(folder.path());
    {
        OtherProgram other(path);
        for (const LookAlikeName& entry : lookAlikeNames)
            other.addAccount(entry.name, "pw");
        other.addAccount("admin", "pw2"); // the same name twice is shared, not alike
    }
    const CheckReport report = cli::checkRegistry(path);
    std::string all;
    for (const std::string& finding : report.findings)
        all += finding + "\n";
    std::size_t pairs = 0;
    std::size_t judged = 0;
    for (const LookAlikeName& entry : lookAlikeNames) {
        judged += entry.marked || entry.edgeSpace;
        if (!entry.looksLike)
            continue;
        ++pairs;
        bool named = false; // both on one line
        for (const std::string& finding : report.findings)
            named = named || (finding.find(dao::inQuotes(entry.name)) != std::string::npos &&
                              finding.find(dao::inQuotes(entry.looksLike)) != std::string::npos &&
                              finding.find("look alike") != std::string::npos);
        EXPECT_TRUE(named) << entry.name << " and " << entry.looksLike << " not in\n" << all;
    }
    EXPECT_EQ(report.lookAlikeGroups, pairs) << all;
    EXPECT_EQ(report.lookAlikeNames, 2 * pairs);
    EXPECT_EQ(report.misleadingNames, judged) << all;
    EXPECT_EQ(report.sharedNames, 1u);
    EXPECT_NE(all.find("\"ivan \" ends with a space."), std::string::npos) << all;
    EXPECT_NE(all.find("\"admin\" and \"\u0430dmin\" (U+0430 U+0064 U+006D U+0069 U+006E) look alike"),
              std::string::npos)
        << "the code points tell them apart";
    EXPECT_NE(all.find("\"\u0430dmin\" mixes Latin and Cyrillic letters: \u0430 is U+0430"), std::string::npos) << all;
}

TEST(CheckTest, AFreshDemoIsCleanUnlessAskedForDuplicates) {
    TempFolder folder;
    for (const bool duplicates : {false, true}) {
        const std::string path = folder.file(duplicates ? "shared.dat" : "demo.dat");
        std::ostringstream quiet;
        cli::Progress progress(quiet, false, {});
        cli::createDemo(path, 20000, 9, progress, duplicates);
        const CheckReport report = cli::checkRegistry(path);
        EXPECT_EQ(report.clean(), !duplicates) << (report.findings.empty() ? "" : report.findings.front());
        EXPECT_EQ(report.sharedNames > 0, duplicates);
    }
}

} // namespace
