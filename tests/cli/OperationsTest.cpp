// SPDX-License-Identifier: MIT
#include "cli/Backup.h"
#include "cli/Create.h"
#include "cli/Export.h"
#include "cli/FileError.h"
#include "cli/Import.h"
#include "cli/Progress.h"
#include "store/DBEngine.h"
#include "store/Error.h"
#include "tests/support/LookAlikeNames.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ext/stdio_filebuf.h>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using namespace testing_support;
using cli::ImportResult;
using cli::Progress;

namespace {

const char* const header = "User,Password,Name,Description,UpdateURL,Official,Date,Time\r\n";

class OperationsTest : public ::testing::Test {
protected:
    std::string newRegistry(const std::string& name = "zarn.dat") {
        const std::string path = folder.file(name);
        cli::createRegistry(path);
        return path;
    }

    ImportResult import(const std::string& path, const std::string& csv, bool allowDuplicateUsers = false,
                        bool allowLookAlikeUsers = false) {
        std::istringstream input(csv);
        return import(path, input, allowDuplicateUsers, allowLookAlikeUsers);
    }

    ImportResult import(const std::string& path, std::istream& input, bool allowDuplicateUsers = false,
                        bool allowLookAlikeUsers = false) {
        std::ostringstream quiet;
        Progress progress(quiet, false, "Importing");
        cli::ImportOptions options;
        options.allowDuplicateUsers = allowDuplicateUsers;
        options.allowLookAlikeUsers = allowLookAlikeUsers;
        return cli::importCsv(path, input, progress, options);
    }

    static std::string exported(const std::string& path) {
        std::ostringstream output;
        cli::exportCsv(path, output);
        return output.str();
    }

    static std::string listed(const std::string& path, cli::ListFormat format = cli::ListFormat::EscapedLines) {
        std::ostringstream output;
        cli::listUsers(path, output, format);
        return output.str();
    }

    // Every row as SQLite holds it, with each value's type, in storage order.
    static std::vector<std::string> rows(const std::string& path) {
        return OtherProgram(path).quotedRows("User, Password, Name, Description, UpdateURL, Official, Date, Time");
    }

    TempFolder folder;
};

TEST_F(OperationsTest, InitMakesTheProgramsTableAndNeverReplacesAFile) {
    const std::string path = newRegistry();
    TempFolder programs;
    const std::string reference = makeRegistry(programs.path());
    const std::string schema = "SELECT group_concat(sql, ';') FROM (SELECT sql FROM sqlite_schema ORDER BY name)";
    EXPECT_EQ(OtherProgram(path).text(schema), OtherProgram(reference).text(schema));

    writeBytes(folder.file("precious"), "not to be lost");
    EXPECT_THROW(cli::createRegistry(folder.file("precious")), cli::FileError);
    EXPECT_EQ(readBytes(folder.file("precious")), "not to be lost");
    EXPECT_THROW(cli::createRegistry(path), cli::FileError);
    EXPECT_EQ(OtherProgram(path).number("SELECT count(*) FROM Servers"), 0);
}

TEST_F(OperationsTest, ExportThenImportGivesTheSameRows) {
    const std::string source = newRegistry("source.dat");
    OtherProgram other(source);
    other.exec("INSERT INTO Servers VALUES ('zed', 'pw', NULL, 'lone' || char(13) || 'CR', NULL, 1, 0, 255)");
    other.exec("INSERT INTO Servers VALUES ('Ann', 'p,\"q\"', 'Ann \"The\" Admin', 'two' || char(13, 10) || "
               "'lines, one comma', 'https://x.example/?a=1,b=2', 0, NULL, 7)");
    other.exec("INSERT INTO Servers VALUES ('ann', ' sp ', 'Zoë 東京', char(10) || 'lf first', '', NULL, 12, NULL)");
    other.exec("INSERT INTO Servers VALUES ('Ann', 'again', NULL, NULL, NULL, NULL, NULL, NULL)");
    other.exec("INSERT INTO Servers (User) VALUES (NULL)");

    const std::string csv = exported(source);
    const std::string copy = newRegistry("copy.dat");
    const ImportResult result = import(copy, csv, true);
    ASSERT_TRUE(result.problems.empty()) << result.problems.front().reason;
    EXPECT_EQ(result.accounts, 4u);
    EXPECT_EQ(result.emptyRecords, 1u) << "the account without a single value is all empty fields";
    const std::string emptyRecord = ",,,,,,,\r\n";
    ASSERT_NE(csv.find(emptyRecord), std::string::npos);
    EXPECT_EQ(exported(copy), std::string(csv).erase(csv.find(emptyRecord), emptyRecord.size()));
    // In "User" order: by code point, ties in storage order.
    EXPECT_EQ(rows(copy),
              (std::vector<std::string>{
                  "'Ann'|'p,\"q\"'|'Ann \"The\" Admin'|'two\r\nlines, one comma'|'https://x.example/?a=1,b=2'|"
                  "0|NULL|7",
                  "'Ann'|'again'|NULL|NULL|NULL|NULL|NULL|NULL",
                  "'ann'|' sp '|'Zoë 東京'|'\nlf first'|''|NULL|12|NULL",
                  "'zed'|'pw'|NULL|'lone\rCR'|NULL|1|0|255",
              }));
}

TEST_F(OperationsTest, EveryRefusedRecordIsReportedAndTheFileIsUnchanged) {
    const std::string path = newRegistry();
    ASSERT_TRUE(import(path, "User,Password\nkeep,me\n").problems.empty());
    const std::string before = readBytes(path);

    const ImportResult result = import(path, std::string("User,Password,Official,Date,Time,Name\r\n") +
                                                 "fine,pw,1,0,255,ok\r\n"               // line 2
                                                 "much-too-long-name,pw,0,1,1,\r\n"     // line 3
                                                 "empty,\"\",0,1,1,\r\n"                // line 4
                                                 "\"multi\r\nline\",pw,yes,256,-1,\r\n" // line 5, 3 reasons
                                                 "short,pw,0,1\r\n"                     // line 7
                                                 "nul,p" +
                                                 std::string(1, '\0') +
                                                 "w,0,1,1,\r\n"               // line 8
                                                 "bad,\xC3\x28,TRUE,1,1,\r\n" // line 9
                                                 "ok,pw,False,007,1,\r\n");   // line 10
    EXPECT_EQ(result.accounts, 0u);
    ASSERT_EQ(result.problems.size(), 6u);
    const std::size_t lines[] = {3, 4, 5, 7, 8, 9};
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(result.problems[i].line, lines[i]) << result.problems[i].reason;
    EXPECT_NE(result.problems[0].reason.find("\"User\" has 18 characters"), std::string::npos);
    EXPECT_NE(result.problems[1].reason.find("\"Password\" is empty"), std::string::npos);
    EXPECT_NE(result.problems[2].reason.find("Official"), std::string::npos);
    EXPECT_NE(result.problems[2].reason.find("\"Date\" must be a whole number from 0 to 255; the value is not shown"),
              std::string::npos);
    EXPECT_NE(result.problems[2].reason.find("\"Time\""), std::string::npos);
    EXPECT_NE(result.problems[3].reason.find("4 fields; the header names 6"), std::string::npos);
    EXPECT_NE(result.problems[4].reason.find("NUL"), std::string::npos);
    EXPECT_NE(result.problems[5].reason.find("UTF-8"), std::string::npos);
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(listed(path), "keep\n");
}

TEST_F(OperationsTest, ImportNeverDoublesARegistry) {
    struct Case {
        const char* csv;
        bool allowDuplicateUsers;
        std::size_t accounts;
        std::size_t emptyRecords;
        std::vector<std::pair<std::size_t, std::string>> problems; // line and part of the reason
    };
    const Case cases[] = {
        {"User,Password\r\nkeep,again\r\n", false, 0, 0, {{2, "\"keep\" is already in the registry"}}},
        {"User\r\nnew\r\nother\r\nnew\r\nnew\r\n",
         false,
         0,
         0,
         {{4, "\"new\" is already on line 2"}, {5, "\"new\" is already on line 2"}}},
        {"User,Password\r\n,pw\r\n\"\",pw\r\n", false, 0, 0, {{2, "no user name"}, {3, "\"User\" is empty"}}},
        {"User,Password\r\nx,pw\r\n,\r\n\"\",\"\"\r\n,,,\r\n", false, 1, 3, {}},
        {"User,Password\r\nkeep,again\r\nkeep,thrice\r\n", true, 2, 0, {}},
        // Refusals found while reading and in the registry afterwards, listed in the file's order.
        {"User,Password\r\nfine,\"\"\r\nkeep,pw\r\nkeep,\"\"\r\n",
         false,
         0,
         0,
         {{2, "\"Password\" is empty"}, {3, "\"keep\" is already in the registry"}, {4, "already on line 3"}}},
        {"User,Password\r\nkeep,\"\"\r\n", false, 0, 0, {{2, "characters; the user name \"keep\" is already in"}}},
    };
    int number = 0;
    for (const Case& test : cases) {
        const std::string path = newRegistry("case" + std::to_string(++number) + ".dat");
        ASSERT_TRUE(import(path, "User,Password\nkeep,me\n").problems.empty());
        const std::string before = readBytes(path);
        const ImportResult result = import(path, test.csv, test.allowDuplicateUsers);
        EXPECT_EQ(result.accounts, test.accounts) << test.csv;
        EXPECT_EQ(result.emptyRecords, test.emptyRecords) << test.csv;
        ASSERT_EQ(result.problems.size(), test.problems.size()) << test.csv;
        for (std::size_t i = 0; i < test.problems.size(); ++i) {
            EXPECT_EQ(result.problems[i].line, test.problems[i].first) << test.csv;
            EXPECT_NE(result.problems[i].reason.find(test.problems[i].second), std::string::npos)
                << result.problems[i].reason;
        }
        if (!test.problems.empty())
            EXPECT_EQ(readBytes(path), before) << test.csv;
        else
            EXPECT_EQ(OtherProgram(path).number("SELECT count(*) FROM Servers"),
                      1 + static_cast<long long>(test.accounts));
    }
}

TEST_F(OperationsTest, BackupIsOneMomentWhileAnotherProgramWrites) {
    const std::string path = folder.file("live.dat");
    {
        std::ostringstream quiet;
        Progress progress(quiet, false, {});
        cli::createDemo(path, 20000, 3, progress);
    }
    // Another program adds accounts two at a time, each pair in one transaction, with a moment
    // between transactions as any program that saves has (a reader can never take its turn
    // while a writer holds the file without a break).
    std::atomic<bool> stop = false;
    std::atomic<int> commits = 0;
    std::string writerFailure;
    std::thread writer([&] {
        try {
            OtherProgram other(path);
            while (!stop) {
                other.exec("BEGIN IMMEDIATE");
                other.exec("INSERT INTO Servers (User, Password) VALUES ('pair', 'one'), ('pair', 'two')");
                other.exec("COMMIT");
                ++commits;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        } catch (const std::exception& failure) {
            writerFailure = failure.what();
        }
    });
    while (commits < 10 && writerFailure.empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<int> before;
    for (int i = 0; i < 3; ++i) {
        before.push_back(commits);
        EXPECT_NO_THROW(cli::backup(path, folder.file("copy" + std::to_string(i) + ".dat")));
        while (commits < before.back() + 3 && writerFailure.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    writer.join();
    ASSERT_EQ(writerFailure, "");
    for (int i = 0; i < 3; ++i) {
        OtherProgram copy(folder.file("copy" + std::to_string(i) + ".dat"));
        EXPECT_EQ(copy.text("PRAGMA integrity_check"), "ok");
        EXPECT_EQ(copy.number("SELECT count(*) FROM Servers WHERE User IS NOT 'pair'"), 20000);
        const long long pairs = copy.number("SELECT count(*) FROM Servers WHERE User = 'pair'");
        EXPECT_EQ(pairs % 2, 0) << "never half of another program's transaction";
        EXPECT_GE(pairs, 2LL * before[static_cast<std::size_t>(i)]);
    }

    writeBytes(folder.file("taken.dat"), "mine");
    EXPECT_THROW(cli::backup(path, folder.file("taken.dat")), cli::FileError);
    EXPECT_EQ(readBytes(folder.file("taken.dat")), "mine");
    EXPECT_THROW(cli::backup(folder.file("missing.dat"), folder.file("new.dat")), dao::Error);
    EXPECT_FALSE(std::filesystem::exists(folder.file("new.dat")));
}

TEST_F(OperationsTest, HeaderMustNameKnownColumnsOnceAndUser) {
    const std::string path = newRegistry();
    const auto firstReason = [&](const std::string& csv) {
        const ImportResult result = import(path, csv);
        return result.problems.empty() ? std::string("accepted") : result.problems.front().reason;
    };
    EXPECT_NE(firstReason("User,Pasword\nx,y\n").find("unknown column \"Pasword\""), std::string::npos);
    EXPECT_NE(firstReason("Password,Name\nx,y\n").find("no \"User\" column"), std::string::npos);
    EXPECT_NE(firstReason("User,user\nx,y\n").find("named twice"), std::string::npos);
    EXPECT_NE(firstReason("").find("empty"), std::string::npos);
    EXPECT_EQ(firstReason("user,OFFICIAL\r\nx,true\r\n"), "accepted") << "names compare without case";
    EXPECT_EQ(rows(path), std::vector<std::string>{"'x'|NULL|NULL|NULL|NULL|1|NULL|NULL"});
}

TEST_F(OperationsTest, MalformedCsvImportsNothing) {
    const std::string path = newRegistry();
    const ImportResult result = import(path, "User\r\nfine\r\nbro\"ken\r\n");
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_EQ(result.problems[0].line, 3u);
    EXPECT_EQ(listed(path), "");
}

// A pipe whose writer sent the header and a few records, then waits: meanwhile another program
// saves an account, and once the pipe ends the import lands too.
TEST_F(OperationsTest, AStalledPipeKeepsNoOtherProgramFromSaving) {
    const std::string path = newRegistry();
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const auto send = [&](const std::string& text) {
        ASSERT_EQ(write(pipeEnds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    };
    ImportResult result;
    std::string failure;
    std::thread importer([&] {
        __gnu_cxx::stdio_filebuf<char> buffer(pipeEnds[0], std::ios::in); // closes the read end
        std::istream input(&buffer);
        try {
            result = import(path, input);
        } catch (const std::exception& error) {
            failure = error.what();
        }
    });
    send("User,Password\r\nann,pw\r\nbob,pw\r\n");
    for (int waiting = 1; waiting > 0 && ioctl(pipeEnds[0], FIONREAD, &waiting) == 0;)
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // until the import waits for more
    OtherProgram other(path);
    other.connection().setBusyTimeout(200);
    EXPECT_NO_THROW(other.addAccount("other")) << "the registry was locked while the import waited";
    send("cid,pw\r\n");
    close(pipeEnds[1]);
    importer.join();
    EXPECT_EQ(failure, "");
    EXPECT_EQ(result.accounts, 3u);
    EXPECT_EQ(listed(path), "ann\nbob\ncid\nother\n");
}

// Input without an end: `prefix`, then `filler` over and over (none: the input ends).
class EndlessInput : public std::streambuf {
public:
    EndlessInput(std::string prefix, std::string filler) : m_prefix(std::move(prefix)), m_filler(std::move(filler)) {
        while (!m_filler.empty() && m_filler.size() < 65536)
            m_filler += m_filler;
    }
    std::size_t served = 0;

protected:
    int_type underflow() override {
        std::string& next = served < m_prefix.size() ? m_prefix : m_filler;
        if (next.empty())
            return traits_type::eof();
        setg(next.data(), next.data(), next.data() + next.size());
        served += next.size();
        return traits_type::to_int_type(next.front());
    }

private:
    std::string m_prefix;
    std::string m_filler;
};

TEST_F(OperationsTest, AFieldOrRecordLongerThanAnyIsRefusedAtOnce) {
    const std::string path = newRegistry();
    struct Case {
        std::string prefix;
        std::string filler;
        std::size_t line;
        const char* reason;
    };
    const Case cases[] = {
        {"", std::string(1, '\0'), 1, "column 1 holds more than 1000 bytes, longer than any field may be; nothing"},
        {"User,Password\r\nann,pw\r\nbob,\"pw\r\n", "x", 3,
         "column 2 holds more than 1000 bytes, longer than any field may be (a quote"},
        {"User\r\n", "a,", 2, "the record holds more than 1000000 bytes, longer than any record may be; nothing"},
        {"User\r\n" + std::string(1000, 'x') + "\r\n", "", 2, "\"User\" has 1000 characters"},
        {"User\r\n" + std::string(1001, 'x') + "\r\nann\r\n", "", 2, "column 1 holds more than 1000 bytes"},
        {"User\r\nx" + std::string(999'999, ',') + "\r\n", "", 2, "the record has 1000000 fields"},
        {"User\r\nann\r\n" + std::string(1'000'001, ','), "", 3, "the record holds more than 1000000 bytes"},
    };
    for (const Case& test : cases) {
        EndlessInput endless(test.prefix, test.filler);
        std::istream input(&endless);
        const ImportResult result = import(path, input);
        ASSERT_EQ(result.problemCount(), 1u) << test.reason;
        EXPECT_EQ(result.problems[0].line, test.line) << test.reason;
        EXPECT_EQ(result.problems[0].reason.find(test.reason), 0u) << result.problems[0].reason;
        EXPECT_LT(endless.served, test.prefix.size() + 1'100'000) << "read on past the refusal: " << test.reason;
    }
    EXPECT_EQ(listed(path), "");
}

// Records are read, compared with those before them and written in batches: what comes of
// each, whichever batch it falls in, is what comes of it alone in a short text.
TEST_F(OperationsTest, ThousandsOfRecordsAreComparedAndWrittenInTheFileOrder) {
    struct Case {
        std::map<std::size_t, std::string> replaced; // line and its user name, over n<line>
        std::vector<std::pair<std::size_t, std::string>> problems;
    };
    const Case cases[] = {
        {{}, {}},
        {{{2001, "n2"}, {2502, "nl0"}, {2999, "keep"}},
         {{2001, "\"n2\" is already on line 2"},
          {2502, "\"nl0\" looks like \"n10\" on line 10"},
          {2999, "\"keep\" is already in the registry"}}},
    };
    // Passwords long, short and missing in turn: each row's values take the room of rows before.
    const std::string passwords[] = {"", "pw", "a-longer-secret"};
    const std::string stored[] = {"NULL", "'pw'", "'a-longer-secret'"};
    for (const Case& test : cases) {
        const std::string path = newRegistry("case" + std::to_string(test.problems.size()) + ".dat");
        ASSERT_TRUE(import(path, "User,Password\nkeep,me\n").problems.empty());
        std::string csv = "User,Password\n";
        for (std::size_t line = 2; line <= 3001; ++line) {
            const auto name = test.replaced.find(line);
            csv += (name == test.replaced.end() ? "n" + std::to_string(line) : name->second) + "," +
                   passwords[line % 3] + "\n";
        }
        const ImportResult result = import(path, csv);
        ASSERT_EQ(result.problems.size(), test.problems.size());
        for (std::size_t i = 0; i < test.problems.size(); ++i) {
            EXPECT_EQ(result.problems[i].line, test.problems[i].first);
            EXPECT_NE(result.problems[i].reason.find(test.problems[i].second), std::string::npos)
                << result.problems[i].reason;
        }
        if (test.problems.empty()) {
            EXPECT_EQ(result.accounts, 3000u);
            const std::vector<std::string> written = rows(path);
            ASSERT_EQ(written.size(), 3001u);
            for (std::size_t line = 2; line <= 3001; ++line) {
                const std::string start = "'n" + std::to_string(line) + "'|" + stored[line % 3] + "|NULL|";
                ASSERT_EQ(written[line - 1].rfind(start, 0), 0u) << written[line - 1];
            }
        } else {
            EXPECT_EQ(result.accounts, 0u);
            EXPECT_EQ(listed(path), "keep\n");
        }
    }
}

// Rows are written several to a statement: a record that a rule of the file's table refuses,
// which the program does not know, is named with its line, within a statement's rows or after.
TEST_F(OperationsTest, ARecordRefusedByARuleOfTheFileIsNamedWithItsLineAmongTheRowsWritten) {
    const std::string path = newRegistry();
    OtherProgram(path).exec("CREATE UNIQUE INDEX PasswordOnce ON Servers (Password)");
    std::string csv = "User,Password\n";
    for (std::size_t line = 2; line <= 151; ++line)
        csv += "n" + std::to_string(line) + "," +
               (line == 2 || line == 12 || line == 140 ? "same" : "pw" + std::to_string(line)) + "\n";
    const ImportResult result = import(path, csv);
    ASSERT_EQ(result.problems.size(), 2u);
    EXPECT_EQ(result.problems[0].line, 12u);
    EXPECT_EQ(result.problems[1].line, 140u);
    for (const auto& problem : result.problems)
        EXPECT_NE(problem.reason.find("The value for \"Password\" was refused"), std::string::npos) << problem.reason;
    EXPECT_EQ(result.accounts, 0u);
    EXPECT_EQ(listed(path), "");
}

TEST_F(OperationsTest, MillionsOfRefusedRecordsKeepAHundredAndCountTheRest) {
    const std::string path = newRegistry();
    std::string csv = "User,Password\r\n";
    for (int i = 0; i < 3'000'000; ++i)
        csv += i % 2 ? "ann,pw,extra\r\n" : "ann\r\n";
    const ImportResult result = import(path, csv);
    ASSERT_EQ(result.problems.size(), 100u);
    EXPECT_EQ(result.moreProblems, 2'999'900u);
    EXPECT_EQ(result.problems.back().line, 101u);
    std::size_t bytes = result.problems.capacity() * sizeof(cli::ImportProblem);
    for (const auto& problem : result.problems)
        bytes += problem.reason.capacity();
    EXPECT_LT(bytes, 16'384u);
}

TEST_F(OperationsTest, HostileNamesAreStoredAndListedExactly) {
    const std::string path = newRegistry();
    const std::string names[] = {"O'Brien",      "a\"b\"c",    "x; DROP TABLE", "100%", "_under_",   "%_%",
                                 "Ünïcödé-東京", "  spaced  ", "tab\tin",       "--",   "Robert');", "=1+2",
                                 "\\n"};
    std::string csv = "User,Password\r\n";
    for (const std::string& name : names)
        csv += "\"" + std::regex_replace(name, std::regex("\""), "\"\"") + "\",pw\r\n";
    ASSERT_TRUE(import(path, csv, false, true).problems.empty());

    std::vector<std::string> sorted(std::begin(names), std::end(names));
    std::sort(sorted.begin(), sorted.end());
    std::string expected;
    for (const std::string& name : sorted)
        expected += name + '\0';
    EXPECT_EQ(listed(path, cli::ListFormat::NulTerminated), expected);
    EXPECT_EQ(OtherProgram(path).number("SELECT count(*) FROM Servers WHERE User LIKE '%\\%%' ESCAPE '\\'"), 2);
}

TEST_F(OperationsTest, NamesThatPassForOthersAreRefusedNamingBoth) {
    using testing_support::lookAlikeNames;
    const auto reasonAt = [](const ImportResult& result, std::size_t line) {
        for (const cli::ImportProblem& problem : result.problems)
            if (problem.line == line)
                return problem.reason;
        return std::string();
    };
    std::string all = "User,Password\r\n";
    std::string originals = all;
    std::string alike = all;
    for (const auto& entry : lookAlikeNames) {
        all += std::string("\"") + entry.name + "\",pw\r\n";
        (entry.looksLike ? alike : originals) += std::string("\"") + entry.name + "\",pw\r\n";
    }
    const std::string path = newRegistry();
    const ImportResult inTheFile = import(path, all);
    std::size_t line = 1;
    std::map<std::string, std::size_t> lineOf;
    for (const auto& entry : lookAlikeNames) {
        lineOf[entry.name] = ++line;
        const std::string reason = reasonAt(inTheFile, line);
        if (entry.looksLike)
            EXPECT_EQ(reason, "the user name " + dao::inQuotes(entry.name) + " looks like " +
                                  dao::inQuotes(entry.looksLike) + " on line " +
                                  std::to_string(lineOf[entry.looksLike]));
        else if (entry.edgeSpace)
            EXPECT_NE(reason.find("with a space"), std::string::npos) << entry.name;
        else
            EXPECT_EQ(reason, "") << entry.name;
    }
    EXPECT_TRUE(rows(path).empty()) << "all or nothing";

    // Already in the registry.
    ASSERT_EQ(import(path, originals, false, true).problems.size(), 0u);
    const ImportResult inTheRegistry = import(path, alike);
    ASSERT_EQ(inTheRegistry.problems.size(), 4u);
    EXPECT_EQ(inTheRegistry.problems[0].reason, "the user name \"\u0430dmin\" looks like \"admin\", which the "
                                                "registry already has");
    EXPECT_TRUE(import(path, alike, false, true).problems.empty()) << "unless look-alikes are let in";
}

TEST_F(OperationsTest, DemoIsTheSameForASeedAndRealistic) {
    std::ostringstream quiet;
    Progress progress(quiet, false, "Making accounts");
    cli::createDemo(folder.file("a.dat"), 3000, 42, progress, true);
    cli::createDemo(folder.file("b.dat"), 3000, 42, progress, true);
    cli::createDemo(folder.file("c.dat"), 3000, 43, progress, true);
    const std::string a = exported(folder.file("a.dat"));
    EXPECT_EQ(a, exported(folder.file("b.dat")));
    EXPECT_NE(a, exported(folder.file("c.dat")));

    OtherProgram demo(folder.file("a.dat"));
    EXPECT_EQ(demo.number("SELECT count(*) FROM Servers"), 3000);
    const std::string sharing = "SELECT count(*) FROM Servers WHERE User IN "
                                "(SELECT User FROM Servers GROUP BY User HAVING count(*) > 1)";
    EXPECT_GT(demo.number(sharing), 0) << "a few shared user names";
    EXPECT_LE(demo.number(sharing), 30) << "at most 1% of the accounts";
    EXPECT_GT(demo.number("SELECT count(*) FROM Servers WHERE instr(Description, char(13, 10))"), 0);
    EXPECT_GT(demo.number("SELECT count(*) FROM Servers WHERE length(Name) < length(CAST(Name AS BLOB))"), 0)
        << "non-ASCII names";
    EXPECT_GT(demo.number("SELECT count(DISTINCT Official) FROM Servers"), 1);

    // What demo makes, import takes back unchanged.
    const std::string copy = newRegistry("copy.dat");
    ASSERT_TRUE(import(copy, a, true, true).problems.empty());
    EXPECT_EQ(exported(copy), a);

    writeBytes(folder.file("taken.dat"), "mine");
    EXPECT_THROW(cli::createDemo(folder.file("taken.dat"), 10, 1, progress), cli::FileError);
    EXPECT_EQ(readBytes(folder.file("taken.dat")), "mine");
}

// The time bound stops one step of slow work, never a long job of quick steps: with a bound far
// below what a demo's index "User" and a list of all its accounts take in all, both complete.
TEST_F(OperationsTest, TheTimeBoundIsForEachStepNotForTheWhole) {
    using namespace std::chrono;
    // Far above a step, even on a busy machine under the sanitizers; far below the whole.
    constexpr milliseconds bound(100);
    dao::DBEngine::instance().SetTimeLimit(bound);
    const std::string path = folder.file("demo.dat");
    std::ostringstream quiet;
    Progress progress(quiet, false, "Making accounts");
    const auto start = steady_clock::now();
    EXPECT_NO_THROW(cli::createDemo(path, 200000, 1, progress));
    std::string names;
    EXPECT_NO_THROW(names = listed(path));
    const auto took = steady_clock::now() - start;
    dao::DBEngine::instance().SetTimeLimit(milliseconds(3000));
    EXPECT_EQ(std::count(names.begin(), names.end(), '\n'), 200000);
    EXPECT_GT(took, 5 * bound) << "the work was too small to prove anything";
}

TEST_F(OperationsTest, StoreFailuresComeAsStoreErrors) {
    writeBytes(folder.file("text.dat"), "this is no database, just some text that is long enough to read");
    EXPECT_THROW(listed(folder.file("text.dat")), dao::Error);
    EXPECT_THROW(exported(folder.file("missing.dat")), dao::Error);
    writeBytes(folder.file("empty.dat"), "");
    EXPECT_THROW(import(folder.file("empty.dat"), "User\nx\n"), dao::Error) << "no Servers table";
}

} // namespace
