// SPDX-License-Identifier: MIT
#include "cli/CommandLine.h"
#include "cli/Backup.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <QDir>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

using namespace testing_support;
using cli::CommandLine;

namespace {

// Runs the built program through the shell, as an operator would.
class ProgramTest : public ::testing::Test {
protected:
    struct Run {
        int status;
        std::string out;
        std::string err;
    };

    Run run(const std::string& arguments, const std::string& input = "", const std::string& before = "",
            const std::string& output = "stdout") {
        writeBytes(folder.file("stdin"), input);
        const std::string command = "cd '" + folder.path() + "' && " + before + "'" VANTREL_REGISTRY_PROGRAM "' " +
                                    arguments + " <stdin >" + output + " 2>stderr";
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
    EXPECT_EQ(imported.err, "2 accounts imported into \"reg.dat\".\n")
        << "no progress when standard error is not a terminal, but the outcome";
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

// Names planted by another program cannot forge lines in what a script reads from list: each
// comes back from its one escaped line, and --null gives the stored bytes.
TEST_F(ProgramTest, ListedNamesRoundTripThroughEscapesAndNul) {
    // Undoes list's escapes: \n \r \t \\ and \xHH.
    const auto unescape = [](const std::string& line) {
        std::string name;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char code = line[i] == '\\' ? line[++i] : '\0';
            if (code == 'x')
                name += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16)), i += 2;
            else
                name += code == '\0' ? line[i] : code == 'n' ? '\n' : code == 'r' ? '\r' : code == 't' ? '\t' : code;
        }
        return name;
    };
    const std::vector<std::string> names = {
        "alice\nmallory", "cr\r\n",  "tab\there",      "back\\slash\\n", "\\x41",
        "bell\x07",       "del\x7F", "esc\x1B[31mred", "josé",           "plain",
    };
    EXPECT_EQ(run("init reg.dat").status, 0);
    OtherProgram other(folder.file("reg.dat"));
    for (const std::string& name : names)
        other.addAccount(name.c_str());
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    std::istringstream lines(run("list reg.dat").out);
    std::vector<std::string> listed;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.find_first_of("\r\t\x07\x1B\x7F"), std::string::npos) << line;
        listed.push_back(unescape(line));
    }
    EXPECT_EQ(listed, sorted);
    std::string expected;
    for (const std::string& name : sorted)
        expected += name + '\0';
    EXPECT_EQ(run("list reg.dat --null").out, expected);
    EXPECT_EQ(run("export reg.dat --bom").out, "\xEF\xBB\xBF" + run("export reg.dat").out);
}

TEST_F(ProgramTest, EveryCommandHasHelp) {
    for (const char* command : {"", "init ", "import ", "export ", "list ", "demo ", "check ", "backup "}) {
        const Run help = run(std::string(command) + "--help");
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.out.find("Usage: vantrel-registry"), std::string::npos) << command;
        EXPECT_NE(help.out.find("Exit status"), std::string::npos) << command;
    }
    EXPECT_NE(run("import --help").out.find("empty text"), std::string::npos) << "the CSV conventions";
    const std::string demo = run("demo --help").out;
    EXPECT_NE(demo.substr(0, demo.find('\n')).find("--accounts N"), std::string::npos) << "a required option";
    // The usage line names every option, each the way it is typed.
    for (const auto& [command, usage] :
         {std::pair{"demo", "demo FILE --accounts N [--seed S] [--with-duplicates]\n"},
          std::pair{"list", "list FILE [--null]\n"},
          std::pair{"import", " [--allow-duplicate-users] [--allow-lookalike-users]\n"}}) {
        const std::string help = run(std::string(command) + " --help").out;
        EXPECT_NE(help.substr(0, help.find('\n') + 1).find(usage), std::string::npos) << help;
    }
    EXPECT_NE(run("check --help").out.find("4  check found problems"), std::string::npos);
    EXPECT_NE(run("list --help").out.find("--null"), std::string::npos);
}

// Files as spreadsheets save them, imported as an operator would.
TEST_F(ProgramTest, SpreadsheetFilesImportOrSayHowToSaveThemRight) {
    struct Case {
        const char* name;
        std::string bytes;
        int status;
        std::vector<std::string> messages; // parts of standard error
        const char* rows;                  // the accounts then in the registry, as export writes them
    };
    const Case cases[] = {
        {"excel.csv",
         "\xEF\xBB\xBFUser,Password,Official\r\n ann ,pw,TRUE\r\nbob,  pw,True\r\ncid,pw,FALSE\r\n,,\r\n,,\r\n,,\r\n",
         0,
         {"3 accounts imported into \"reg.dat\"; 3 empty records skipped.\n"},
         "\" ann \",pw,,,,1,,\r\nbob,\"  pw\",,,,1,,\r\ncid,pw,,,,0,,\r\n"},
        {"semicolons.csv",
         "User;Password;Name;Official\r\nann;pw;Ann;1\r\n",
         2,
         {"semicolons.csv:1: unknown column \"User;Password;Name;Official\"", "semicolon-separated",
          "save it as \"CSV UTF-8 (comma delimited)\""},
         ""},
        {"tabs.txt", "User\tPassword\r\nann\tpw\r\n", 2, {"tab-separated", "CSV UTF-8 (comma delimited)"}, ""},
        {"unicode.txt",
         std::string("\xFF\xFEU\0s\0e\0r\0\t\0P\0w\0\r\0\n\0a\0\t\0p\0\r\0\n\0", 30),
         2,
         {"UTF-16 text", "CSV UTF-8 (comma delimited)"},
         ""},
        {"latin1.csv",
         "User,Name\r\njose,Jos\xE9\r\nzoe,Zo\xEB\r\n",
         2,
         {"latin1.csv:2: \"Name\" is not valid UTF-8 text", "latin1.csv:3:", "probably not UTF-8", "Latin-1",
          "save it as \"CSV UTF-8 (comma delimited)\"", "nothing was imported"},
         ""},
    };
    for (const Case& test : cases) {
        std::filesystem::remove(folder.file("reg.dat"));
        ASSERT_EQ(run("init reg.dat").status, 0);
        writeBytes(folder.file(test.name), test.bytes);
        // Spaces belong to the field: " ann " is kept as it is, once look-alikes are let in.
        const Run imported = run("import reg.dat " + std::string(test.name) + " --allow-lookalike-users");
        EXPECT_EQ(imported.status, test.status) << test.name << ": " << imported.err;
        EXPECT_EQ(imported.err.find('\0'), std::string::npos) << test.name << ": no NUL byte reaches the terminal";
        for (const std::string& message : test.messages)
            EXPECT_NE(imported.err.find(message), std::string::npos) << test.name << ": " << message << " not in\n"
                                                                     << imported.err;
        EXPECT_EQ(run("export reg.dat").out,
                  "User,Password,Name,Description,UpdateURL,Official,Date,Time\r\n" + std::string(test.rows))
            << test.name;
    }
}

// A user name holding an escape sequence and a line break neither steers the terminal nor splits a
// message: each message quoting it shows its control characters as escapes, on one line.
TEST_F(ProgramTest, MessagesShowTheControlCharactersOfNamesAsEscapes) {
    // U+009B is the C1 control sequence introducer, an ESC [ of its own on some terminals.
    const std::string csv = "User,Password\r\n\"ev\x1B[2Jil\nname\xC2\x9B\",pw\r\n\"ev\x1B[2Jil\nname\xC2\x9B\",pw\r\n";
    ASSERT_EQ(run("init reg.dat").status, 0);
    const Run refused = run("import reg.dat", csv);
    ASSERT_EQ(refused.status, 2) << refused.err;
    ASSERT_EQ(run("import reg.dat --allow-duplicate-users", csv).status, 0);
    const Run checked = run("check reg.dat");
    struct Case {
        const char* command;
        std::string text;
        const char* finding; // on the line that quotes the name
    };
    for (const Case& test :
         {Case{"import", refused.err, "is already on line 2"}, Case{"check", checked.out, "is shared by 2 accounts"}}) {
        EXPECT_EQ(test.text.find('\x1B'), std::string::npos) << test.command << ": " << test.text;
        std::istringstream lines(test.text);
        bool found = false;
        for (std::string line; std::getline(lines, line);)
            found = found || (line.find("\"ev\\x1B[2Jil\\nname\\u009B\"") != std::string::npos &&
                              line.find(test.finding) != std::string::npos);
        EXPECT_TRUE(found) << test.command << ": " << test.text;
    }
}

// A failure part-way leaves nothing behind, and a failed write is never reported as done.
TEST_F(ProgramTest, FailuresLeaveNoFileAndAreNeverSuccess) {
    ASSERT_EQ(run("demo source.dat --accounts 20000").status, 0);
    // A file size limit of 512 KiB; the signal ignored, so the write fails as on a full disk.
    const std::string limited = "trap '' XFSZ; ulimit -f 1024; ";
    struct Case {
        std::string arguments;
        std::string before;
        std::string output;
        const char* leftOut; // a file that must not exist afterwards
    };
    const Case cases[] = {
        {"demo big.dat --accounts 20000", limited, "stdout", "big.dat"},
        {"backup source.dat copy.dat", limited, "stdout", "copy.dat"},
        {"export source.dat", "", "/dev/full", nullptr},
        {"list source.dat", "", "/dev/full", nullptr},
    };
    for (const Case& test : cases) {
        const Run failed = run(test.arguments, "", test.before, test.output);
        EXPECT_EQ(failed.status, 3) << test.arguments << ": " << failed.err;
        EXPECT_NE(failed.err.find("vantrel-registry: "), std::string::npos) << test.arguments;
        if (test.leftOut) {
            EXPECT_FALSE(std::filesystem::exists(folder.file(test.leftOut))) << test.arguments;
            EXPECT_FALSE(std::filesystem::exists(folder.file(std::string(test.leftOut) + "-journal")));
        }
    }
    EXPECT_EQ(run("backup source.dat copy.dat").status, 0);
    EXPECT_EQ(run("backup source.dat copy.dat").status, 3) << "an existing copy is never replaced";
    EXPECT_EQ(run("export copy.dat").out, run("export source.dat").out);
}

// A registry holds passwords: a new one is its owner's alone, and a copy no more open than its
// source, whatever the umask; run as root, the copy keeps the source's owner and group.
TEST_F(ProgramTest, NewFilesAreNoMoreOpenThanTheirSource) {
    using std::filesystem::perms;
    ASSERT_EQ(run("demo source.dat --accounts 3").status, 0);
    const auto mode = [&](const char* name) { return std::filesystem::status(folder.file(name)).permissions(); };
    for (const char* umask : {"022", "077"}) {
        for (const perms source : {perms(0600), perms(0640)}) {
            SCOPED_TRACE(std::string("umask ") + umask + ", source mode " + std::to_string(int(source)));
            for (const char* name : {"init.dat", "demo.dat", "copy.dat"})
                std::filesystem::remove(folder.file(name));
            std::filesystem::permissions(folder.file("source.dat"), source);
            const std::string before = std::string("umask ") + umask + "; ";
            EXPECT_EQ(run("init init.dat", "", before).status, 0);
            EXPECT_EQ(run("demo demo.dat --accounts 2", "", before).status, 0);
            EXPECT_EQ(run("backup source.dat copy.dat", "", before).status, 0);
            EXPECT_EQ(mode("init.dat"), perms(0600));
            EXPECT_EQ(mode("demo.dat"), perms(0600));
            EXPECT_EQ(mode("copy.dat"), source);
        }
    }
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(folder.file("source.dat").c_str(), 65534, 65534), 0);
        ASSERT_EQ(run("backup source.dat owned.dat").status, 0);
        struct stat copy {};
        ASSERT_EQ(::stat(folder.file("owned.dat").c_str(), &copy), 0);
        EXPECT_EQ(copy.st_uid, 65534u);
        EXPECT_EQ(copy.st_gid, 65534u);
    }
}

// A password is never shown: not when the columns of an import are in the wrong order or its
// header is missing, nor when check finds one stored as binary data (as text or in hexadecimal).
TEST_F(ProgramTest, NoMessageShowsAPassword) {
    const std::string password = "Pw-7x!Secret";
    ASSERT_EQ(run("init reg.dat").status, 0);
    OtherProgram(folder.file("other.dat"))
        .exec("CREATE TABLE Servers (User TEXT, Password TEXT); CREATE INDEX User ON Servers (User); "
              "INSERT INTO Servers VALUES ('alice', CAST('" +
              password + "' AS BLOB))");
    const Run runs[] = {
        run("import reg.dat",
            "User,Official,Date,Time,Password\r\nann," + password + "," + password + "," + password + ",pw\r\n"),
        run("check other.dat"),
        run("import reg.dat", "ann," + password + "\r\nbob,pw\r\n"), // no header: the first record is data
    };
    for (const Run& shown : runs) {
        EXPECT_NE(shown.status, 0);
        for (const std::string& secret : {password, std::string("50772D377821536563726574")})
            EXPECT_EQ((shown.out + shown.err).find(secret), std::string::npos) << shown.out << shown.err;
    }
    EXPECT_NE(runs[0].err.find("stdin>:2: \"Official\" must be 1 or 0"), std::string::npos) << runs[0].err;
    EXPECT_NE(runs[1].out.find("row 1 (user \"alice\"): \"Password\" holds blob of 12 bytes, not text"),
              std::string::npos)
        << runs[1].out;
    EXPECT_NE(runs[2].err.find("the first record names none of the columns"), std::string::npos) << runs[2].err;
}

TEST_F(ProgramTest, CheckExitStatusSaysWhetherAnythingWasFound) {
    ASSERT_EQ(run("init clean.dat").status, 0);
    ASSERT_EQ(run("import clean.dat", "User,Password\r\nann,pw\r\n").status, 0);
    const Run clean = run("check clean.dat");
    EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
    EXPECT_NE(clean.out.find("\"clean.dat\": 1 account checked."), std::string::npos) << clean.out;
    EXPECT_NE(clean.out.find("No problems found."), std::string::npos) << clean.out;

    ASSERT_EQ(run("import clean.dat --allow-duplicate-users", "User,Password\r\nann,again\r\n").status, 0);
    const Run shared = run("check clean.dat");
    EXPECT_EQ(shared.status, 4) << shared.out << shared.err;
    EXPECT_NE(shared.out.find("clean.dat: the user name \"ann\" is shared by 2 accounts"), std::string::npos)
        << shared.out;
    EXPECT_NE(shared.out.find("user names shared by several accounts:  1 (2 accounts)"), std::string::npos)
        << shared.out;
    EXPECT_EQ(run("check missing.dat").status, 3);
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

TEST(CommandLineTest, RefusalsStopAtAHundredBelowAClearedProgressLine) {
    TempFolder folder;
    std::string csv = "User,Password\n";
    for (int i = 0; i < 10000; ++i)
        csv += "user" + std::to_string(i % 9850) + ",pw\n"; // the last 150 repeat earlier names
    writeBytes(folder.file("accounts.csv"), csv);
    std::istringstream input;
    std::ostringstream output;
    std::ostringstream error;
    CommandLine commandLine(input, output, error, true);
    const QString path = QString::fromStdString(folder.file("reg.dat"));
    ASSERT_EQ(commandLine.run({"vantrel-registry", "init", path}), CommandLine::Success);
    EXPECT_EQ(
        commandLine.run({"vantrel-registry", "import", path, QString::fromStdString(folder.file("accounts.csv"))}),
        CommandLine::DataRefused);
    const std::string text = error.str();
    const std::size_t firstProblem = text.find(folder.file("accounts.csv") + ":9852: ");
    ASSERT_NE(firstProblem, std::string::npos) << text;
    // Progress was drawn, with the share of the file read, and blanked before the first message.
    const std::string progress = text.substr(0, firstProblem);
    EXPECT_NE(progress.find("\rReading: 4096 records, 40%"), std::string::npos) << progress;
    EXPECT_EQ(progress.back(), '\r') << progress;
    const std::size_t blank = progress.rfind('\r', progress.size() - 2);
    EXPECT_EQ(progress.find_first_not_of(' ', blank + 1), progress.size() - 1) << "spaces over the last line";
    std::istringstream lines(text.substr(firstProblem));
    std::vector<std::string> listed;
    for (std::string line; std::getline(lines, line);)
        listed.push_back(line);
    ASSERT_EQ(listed.size(), 102u) << text.substr(firstProblem);
    EXPECT_NE(listed[99].find(":9951: the user name \"user99\" is already on line 101"), std::string::npos)
        << listed[99];
    EXPECT_EQ(listed[100], folder.file("accounts.csv") + ": and 50 more");
    EXPECT_NE(listed[101].find("nothing was imported"), std::string::npos);
    EXPECT_NE(listed[101].find("150 problems"), std::string::npos);
}

// Another program puts its file at DEST while the copy is made: backup leaves it, and a
// DEST-journal that was there before, as they are, and removes only the copy it made. A copy
// damaged on its way is blamed, not the registry it came from.
TEST(CommandLineTest, BackupTouchesNothingItDidNotMake) {
    TempFolder folder;
    std::istringstream input;
    std::ostringstream output;
    std::ostringstream error;
    CommandLine commandLine(input, output, error, false);
    const QString source = QString::fromStdString(folder.file("zarn.dat"));
    const QString destination = QString::fromStdString(folder.file("copy.dat"));
    ASSERT_EQ(commandLine.run({"vantrel-registry", "init", source}), CommandLine::Success);
    writeBytes(folder.file("copy.dat-journal"), "theirs");
    const auto backup = [&](const std::function<void(const std::string&, const std::string&)>& hook) {
        cli::setBackupHookForTesting(hook);
        error.str("");
        const int status = commandLine.run({"vantrel-registry", "backup", source, destination});
        cli::setBackupHookForTesting({});
        return status;
    };
    EXPECT_EQ(backup([&](const std::string&, const std::string& dest) {
                  writeBytes(folder.file("theirs.tmp"), "theirs");
                  std::filesystem::rename(folder.file("theirs.tmp"), dest);
              }),
              CommandLine::FileFailure);
    EXPECT_NE(error.str().find("copy.dat\" appeared while the copy was being made"), std::string::npos) << error.str();
    EXPECT_EQ(readBytes(folder.file("copy.dat")), "theirs");

    std::filesystem::remove(folder.file("copy.dat"));
    EXPECT_EQ(backup([](const std::string& copy, const std::string&) { writeBytes(copy, std::string(4096, 'x')); }),
              CommandLine::FileFailure);
    EXPECT_NE(error.str().find("zarn.dat\" itself passes it: the copy was damaged"), std::string::npos) << error.str();

    EXPECT_EQ(backup({}), CommandLine::Success) << error.str();
    EXPECT_EQ(readBytes(folder.file("copy.dat-journal")), "theirs");
    const auto files = std::distance(std::filesystem::directory_iterator(folder.path()), {});
    EXPECT_EQ(files, 3) << "the registry, its copy and the journal that was there: no copy left behind";
}

// A wrong command line is told in the same words whichever command it is for, names the help to
// read, and makes no file.
TEST(CommandLineTest, UsageErrorsSayWhatIsWrongAndWhereHelpIs) {
    struct Case {
        QStringList arguments;
        std::string message;
    };
    const Case cases[] = {
        {{"frobnicate", "x"}, "unknown command 'frobnicate'.\nTry 'vantrel-registry --help'"},
        {{"list"}, "list needs a FILE.\nTry 'vantrel-registry list --help'"},
        {{"backup", "new.dat"}, "backup needs FILE and DEST.\nTry 'vantrel-registry backup --help'"},
        {{"import", "new.dat", "a.csv", "b.csv"}, "too many arguments for import: 'b.csv'."},
        {{"demo", "new.dat", "--seed", "2"}, "demo needs --accounts N.\nTry 'vantrel-registry demo --help'"},
        {{"demo", "new.dat", "--accounts", "-3"}, "--accounts takes a whole number, not '-3'."},
        {{"demo", "new.dat", "--accounts", "3", "--seed", "1e3"}, "--seed takes a whole number, not '1e3'."},
        {{"check", "new.dat", "--quick"}, "Unknown option 'quick'.\nTry 'vantrel-registry check --help'"},
    };
    TempFolder folder;
    const QString oldFolder = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(folder.path())));
    for (const Case& test : cases) {
        std::istringstream input;
        std::ostringstream output;
        std::ostringstream error;
        CommandLine commandLine(input, output, error, false);
        EXPECT_EQ(commandLine.run(QStringList{"vantrel-registry"} + test.arguments), CommandLine::UsageError);
        EXPECT_EQ(error.str().rfind("vantrel-registry: " + test.message, 0), 0u) << error.str();
        EXPECT_EQ(output.str(), "");
    }
    QDir::setCurrent(oldFolder);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 0);
}

// Each stage of a long command is drawn on standard error when it is a terminal, and nothing
// when it is not: a log or a pipe holds only the outcome.
TEST(CommandLineTest, LongCommandsShowTheirStagesOnlyOnATerminal) {
    TempFolder folder;
    const QString path = QString::fromStdString(folder.file("reg.dat"));
    const QString copy = QString::fromStdString(folder.file("copy.dat"));
    struct Case {
        QStringList arguments;
        std::vector<std::string> stages;
    };
    const Case cases[] = {
        {{"demo", path, "--accounts", "10"}, {"\rMaking the index \"User\": "}},
        {{"check", path}, {"\rChecking integrity: ", "\rChecking the field rules: ", "\rFinding shared user names: "}},
        {{"backup", path, copy}, {"\rCopying: ", " pages, 100%", "\rChecking the copy's integrity: "}},
    };
    for (const bool terminal : {true, false}) {
        std::filesystem::remove(path.toStdString());
        std::filesystem::remove(copy.toStdString());
        for (const Case& test : cases) {
            std::istringstream input;
            std::ostringstream output;
            std::ostringstream error;
            CommandLine commandLine(input, output, error, terminal);
            ASSERT_EQ(commandLine.run(QStringList{"vantrel-registry"} + test.arguments), CommandLine::Success)
                << error.str();
            for (const std::string& stage : test.stages)
                EXPECT_EQ(error.str().find(stage) != std::string::npos, terminal) << stage << " in " << error.str();
            if (!terminal) {
                EXPECT_EQ(error.str().find('\r'), std::string::npos) << error.str();
            }
        }
    }
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
