// SPDX-License-Identifier: MIT
#include "registry/CommandLine.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using namespace testing_support;
using registry::CommandLine;

namespace {

// Runs the built program through the shell, as an operator would.
class ProgramTest : public ::testing::Test {
protected:
    struct Run {
        int status;
        std::string out;
        std::string err;
    };

    Run run(const std::string& arguments, const std::string& input = "") {
        writeBytes(folder.file("stdin"), input);
        const std::string command =
            "cd '" + folder.path() + "' && '" VANTREL_REGISTRY_PROGRAM "' " + arguments + " <stdin >stdout 2>stderr";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readBytes(folder.file("stdout")),
                readBytes(folder.file("stderr"))};
    }

    TempFolder folder;
};

TEST_F(ProgramTest, CommandsWorkTogetherThroughPipes) {
    EXPECT_EQ(run("init reg.dat").status, 0);
    const Run imported = run("import reg.dat", "User,Password,Description\r\nbob,pw,\"a, \"\"b\"\"\r\nc\"\r\n"
                                               "Al;%_ü,pw,\r\n");
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(imported.err, "") << "no progress or chatter when standard error is not a terminal";
    EXPECT_EQ(run("list reg.dat").out, "Al;%_ü\nbob\n");
    const Run exported = run("export reg.dat");
    EXPECT_EQ(exported.status, 0);
    EXPECT_EQ(exported.out, "User,Password,Name,Description,UpdateURL,Official,Date,Time\r\n"
                            "Al;%_ü,pw,,,,,,\r\n"
                            "bob,pw,,\"a, \"\"b\"\"\r\nc\",,,,\r\n");
    writeBytes(folder.file("backup.csv"), exported.out);
    EXPECT_EQ(run("init copy.dat").status, 0);
    EXPECT_EQ(run("import copy.dat backup.csv").status, 0);
    EXPECT_EQ(run("export copy.dat").out, exported.out);
}

TEST_F(ProgramTest, ExitStatusesAndMessagesNameFileAndLine) {
    EXPECT_EQ(run("init reg.dat").status, 0);
    const Run refused = run("import reg.dat accounts.csv", "");
    EXPECT_EQ(refused.status, 3) << "a CSV file that cannot be read";
    EXPECT_NE(refused.err.find("accounts.csv"), std::string::npos);

    writeBytes(folder.file("accounts.csv"), "User,Password\nok,pw\nbad,\"\"\nalso-bad-because-long,pw\n");
    const Run bad = run("import reg.dat accounts.csv");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("accounts.csv:3: \"Password\" is empty"), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("accounts.csv:4: \"User\" has 21 characters"), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("nothing was imported into \"reg.dat\""), std::string::npos) << bad.err;
    EXPECT_EQ(run("list reg.dat").out, "");

    const Run exists = run("init reg.dat");
    EXPECT_EQ(exists.status, 3);
    EXPECT_NE(exists.err.find("\"reg.dat\" already exists"), std::string::npos);
    EXPECT_EQ(run("demo reg.dat --accounts 5").status, 3);
    EXPECT_EQ(run("list missing.dat").status, 3);

    EXPECT_EQ(run("").status, 1);
    EXPECT_EQ(run("frobnicate x").status, 1);
    EXPECT_EQ(run("list").status, 1);
    EXPECT_EQ(run("list a b").status, 1);
    EXPECT_EQ(run("demo new.dat").status, 1) << "--accounts is required";
    EXPECT_EQ(run("demo new.dat --accounts -3").status, 1);
    EXPECT_EQ(run("export reg.dat --bogus").status, 1);
    EXPECT_FALSE(std::ifstream(folder.file("new.dat")).good()) << "a refused command line makes no file";
}

// The store's refusals reach the operator of every command with their number, and the file
// stays as it was.
TEST_F(ProgramTest, StoreErrorsKeepTheirNumberInEveryCommand) {
    struct Case {
        const char* what;
        const char* sql; // run on an empty file
        const char* number;
    };
    const Case cases[] = {
        {"no table", "CREATE TABLE Other (x)", "(error 9)"},
        {"a view", "CREATE VIEW Servers AS SELECT 'alice' AS User", "(error 26)"},
        {"a hidden row identity", "CREATE TABLE Servers (User TEXT, OID TEXT); CREATE INDEX User ON Servers (User)",
         "(error 27)"},
        {"a numeric password",
         "CREATE TABLE Servers (User TEXT, Password NUMERIC); CREATE INDEX User ON Servers (User)", "(error 28)"},
    };
    writeBytes(folder.file("accounts.csv"), "User,Password\nalice,0070\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(folder.file("reg.dat"), "");
        OtherProgram(folder.file("reg.dat")).exec(c.sql);
        const std::string before = readBytes(folder.file("reg.dat"));
        for (const char* command : {"list reg.dat", "export reg.dat", "import reg.dat accounts.csv"}) {
            const Run refused = run(command);
            EXPECT_EQ(refused.status, 3) << command;
            EXPECT_NE(refused.err.find(c.number), std::string::npos) << command << ": " << refused.err;
            EXPECT_NE(refused.err.find("\"reg.dat\""), std::string::npos) << command << ": " << refused.err;
        }
        EXPECT_TRUE(readBytes(folder.file("reg.dat")) == before);
    }
}

// A registry left with a journal by a crash in the middle of a save: the commands that only read
// roll it back, as any program opening the file would, and show the accounts as they were saved.
TEST_F(ProgramTest, ListAndExportGetPastAJournalLeftByACrash) {
    TempFolder crashed;
    const std::string path = copyWithHotJournal(crashed.path(), 300);
    const Run list = run("list '" + path + "'");
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 300);
    EXPECT_EQ(list.out.substr(0, 18), "user1000\nuser1001\n");
    const Run exported = run("export '" + path + "'");
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out.find("half-saved"), std::string::npos) << "the half-done save was rolled back";
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
}

TEST_F(ProgramTest, EveryCommandHasHelp) {
    for (const char* command : {"", "init ", "import ", "export ", "list ", "demo "}) {
        const Run help = run(std::string(command) + "--help");
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.out.find("Usage: vantrel-registry"), std::string::npos) << command;
        EXPECT_NE(help.out.find("Exit status"), std::string::npos) << command;
    }
    EXPECT_NE(run("import --help").out.find("empty text"), std::string::npos) << "the CSV conventions";
}

TEST_F(ProgramTest, DemoMakesTheAccountsAsked) {
    const Run demo = run("demo demo.dat --accounts 2500 --seed 7");
    EXPECT_EQ(demo.status, 0) << demo.err;
    EXPECT_EQ(OtherProgram(folder.file("demo.dat")).number("SELECT count(*) FROM Servers"), 2500);
    std::istringstream users(run("list demo.dat").out);
    std::string line;
    std::size_t count = 0;
    while (std::getline(users, line))
        ++count;
    EXPECT_EQ(count, 2500u);
}

TEST(CommandLineTest, RunsInProcessWithGivenStreams) {
    TempFolder folder;
    std::istringstream input("User,Official\nx,true\n");
    std::ostringstream output;
    std::ostringstream error;
    CommandLine commandLine(input, output, error, false);
    const QString path = QString::fromStdString(folder.file("reg.dat"));
    EXPECT_EQ(commandLine.run({"vantrel-registry", "init", path}), CommandLine::Success);
    EXPECT_EQ(commandLine.run({"vantrel-registry", "import", path, "-"}), CommandLine::Success) << error.str();
    EXPECT_EQ(commandLine.run({"vantrel-registry", "export", path}), CommandLine::Success);
    EXPECT_EQ(output.str(), "User,Password,Name,Description,UpdateURL,Official,Date,Time\r\nx,,,,,1,,\r\n");
}

} // namespace
