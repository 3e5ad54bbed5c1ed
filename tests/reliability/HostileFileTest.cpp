// SPDX-License-Identifier: MIT
// Registry files that are damaged, foreign or odd. Each gives the operator a clear error (or
// works), never a crash, and a file the program could not use is left exactly as it was.
// Folders, FIFOs, loops of symbolic links and plain text files in place of the registry are
// checked by the list window's own tests.
#include "store/DBEngine.h"
#include "store/mdlDatabase.h"
#include "tests/support/AsNobody.h"
#include "tests/support/Operator.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowTest.h"
#include "ui/LimitedLineEdit.h"
#include "ui/LimitedTextEdit.h"
#include "ui/MessageBox.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

std::string randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

// Overwrites page `page` (counting from 1) of the file with random bytes.
void corruptPage(const std::string& path, long long page) {
    std::string bytes = readBytes(path);
    const long long pageSize = OtherProgram(path).number("PRAGMA page_size");
    const std::string garbage = randomBytes(static_cast<std::size_t>(pageSize), static_cast<unsigned>(page));
    bytes.replace(static_cast<std::size_t>((page - 1) * pageSize), garbage.size(), garbage);
    writeBytes(path, bytes);
}

class HostileFileTest : public WindowTest<> {};

// Every message is a numbered store error.
void expectNumberedErrors(const QStringList& messages, const std::string& context) {
    static const QRegularExpression numbered(QStringLiteral("^Error [0-9]+: .+\\.$"),
                                             QRegularExpression::DotMatchesEverythingOption);
    for (const QString& message : messages)
        EXPECT_TRUE(numbered.match(message).hasMatch()) << context << ": " << message.toStdString();
}

TEST_F(HostileFileTest, DamagedAndForeignFilesFailClearlyAndStayUnchanged) {
    struct Case {
        const char* what;
        std::function<void(const std::string& folder)> make;
        frmMain::LoadResult load;
        // Words of the first message, shown by the list or else by the first editor opened.
        const char* words;
    };
    const Case cases[] = {
        {"random bytes", [](const std::string& f) { writeBytes(f + "/zarn.dat", randomBytes(8192, 1)); },
         frmMain::LoadResult::Failed, "Error 3: "},
        {"random bytes after the SQLite header",
         [](const std::string& f) {
             writeBytes(f + "/zarn.dat", std::string("SQLite format 3", 16) + randomBytes(8176, 2));
         },
         frmMain::LoadResult::Failed, "Error 3: "},
        {"a registry cut short",
         [](const std::string& f) {
             const std::string path = makeFilledRegistry(f, 300);
             const std::string bytes = readBytes(path);
             writeBytes(path, bytes.substr(0, bytes.size() * 2 / 5));
         },
         frmMain::LoadResult::Failed, "Error 6: "},
        {"a corrupted page of the index",
         [](const std::string& f) {
             const std::string path = makeFilledRegistry(f, 300);
             corruptPage(path, OtherProgram(path).number("SELECT rootpage FROM sqlite_schema WHERE name = 'User'"));
         },
         frmMain::LoadResult::Failed, "Error 6: "},
        {"a corrupted page of the table",
         [](const std::string& f) {
             const std::string path = makeFilledRegistry(f, 300);
             corruptPage(path, OtherProgram(path).number("SELECT max(pageno) FROM dbstat WHERE name = 'Servers' "
                                                         "AND pagetype = 'leaf'"));
         },
         frmMain::LoadResult::Loaded, "Error 6: "},
        {"\"Servers\" without the index \"User\"",
         [](const std::string& f) {
             makeForeignRegistry(f, {.columns = "User TEXT, Password TEXT", .index = "", .rows = {{"alice", "pw"}}});
         },
         frmMain::LoadResult::Failed, "Error 11: "},
        {"an index \"User\" over an expression",
         [](const std::string& f) {
             makeForeignRegistry(f, {.columns = "User TEXT, Password TEXT", .index = "(lower(User))"});
         },
         frmMain::LoadResult::Failed, "Error 12: "},
        {"\"Servers\" without the field \"User\"",
         [](const std::string& f) {
             makeForeignRegistry(f, {.columns = "Login TEXT, Password TEXT",
                                     .index = "(Login)",
                                     .fields = "Login, Password",
                                     .rows = {{"alice", "pw"}}});
         },
         frmMain::LoadResult::Failed, "Error 13: "},
        {"\"Servers\" without a field the editor reads",
         [](const std::string& f) {
             makeForeignRegistry(f, {.columns = "User TEXT, Password TEXT, Name TEXT, Official BOOLEAN",
                                     .fields = "User, Password, Name, Official",
                                     .rows = {{"alice", "pw", "Alice", 1}}});
         },
         frmMain::LoadResult::Loaded, "Error 13: The table \"Servers\" has no field \"Description\"."},
        {"a view named \"Servers\"",
         [](const std::string& f) {
             writeBytes(f + "/zarn.dat", "");
             OtherProgram(f + "/zarn.dat").exec("CREATE VIEW Servers AS SELECT 'alice' AS User");
         },
         frmMain::LoadResult::Failed, "Error 26: "},
        {"\"Official\" holding text",
         [](const std::string& f) {
             OtherProgram other(makeRegistry(f));
             other.exec("PRAGMA ignore_check_constraints = 1");
             other.exec("INSERT INTO Servers (User, Password, Official) VALUES ('alice', 'pw', 'maybe')");
         },
         frmMain::LoadResult::Loaded, "its field \"Official\" holds text \"maybe\", which is neither true nor false."},
        {"a user name stored as a blob",
         [](const std::string& f) {
             OtherProgram other(makeRegistry(f));
             other.exec("PRAGMA ignore_check_constraints = 1");
             other.exec("INSERT INTO Servers (User, Password) VALUES (x'616c696365', 'pw')");
         },
         frmMain::LoadResult::Loaded, "Error 21: The account \"alice\" is not in the registry"},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder place;
        mdlDatabase::SetRegistryFolderForTesting(place.path());
        c.make(place.path());
        const std::string path = place.file("zarn.dat");
        const std::string before = readBytes(path);
        MessageBox::clearShownForTesting();

        frmMain list;
        EXPECT_EQ(list.Form_Load(), c.load) << MessageBox::shownForTesting().join("\n").toStdString();
        // Open every account listed, as an operator trying them one by one would.
        for (int entry = 0; entry < list.users()->rowCount(); ++entry) {
            if (frmEdit* editor = openEntry(list, entry)) {
                click(editor->cmdCancel);
                settle();
            }
        }
        const QStringList messages = MessageBox::shownForTesting();
        ASSERT_FALSE(messages.isEmpty());
        EXPECT_TRUE(messages.front().contains(QString::fromUtf8(c.words))) << messages.front().toStdString();
        expectNumberedErrors(messages, c.what);
        EXPECT_EQ(mdlDatabase::dbRegistry, nullptr) << "the failure released the registry";
        EXPECT_TRUE(readBytes(path) == before) << "the file was changed";
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(place.path()), {}), 1)
            << "something was left beside the file";
    }
    std::printf("[reliability] hostile files: %zu tried, each failed clearly or worked, none changed\n",
                std::size(cases));
}

// Values another program stored against the table's rules: the editor saves what the operator
// changed and writes back the rest exactly as read, so such a value is either kept or the save
// fails naming the field, and nothing is written.
TEST_F(HostileFileTest, ValuesAgainstTheRulesAreKeptOrRefusedByName) {
    makeRegistry(folder.path());
    OtherProgram other(registry);
    other.exec("PRAGMA ignore_check_constraints = 1");
    other.addRows("User, Password, Name, Official, Date, Time", {{"bigdate", "pw", "n", 1, 300, -1},
                                                                 {"nulname", "pw", std::string("a\0b", 3), 0, 1, 1},
                                                                 {"official2", "pw", "n", 2, 1, 1},
                                                                 {"numpass", 12345, "n", 0, 1, 1},
                                                                 {std::string("nul\0user", 8), "pw", "n", 0, 1, 1}});
    struct Case {
        std::string user;
        const char* refusedWith; // null: the save lands
        const char* after;       // Password|Name|Official|Date|Time after the save
    };
    const Case cases[] = {
        {"bigdate", nullptr, "'new'|'n'|1|300|-1"},
        {"nulname", "\"Name\" was refused: it holds a NUL character", "'pw'|X'610062'|0|1|1"},
        {"official2", "\"Official\" was refused", "'pw'|'n'|2|1|1"},
        {"numpass", nullptr, "'new'|'n'|0|1|1"},
        {std::string("nul\0user", 8), nullptr, "'new'|'n'|0|1|1"},
    };
    frmMain list;
    ASSERT_EQ(list.Form_Load(), frmMain::LoadResult::Loaded);
    for (const Case& c : cases) {
        const QString user = QString::fromUtf8(c.user.data(), static_cast<qsizetype>(c.user.size()));
        SCOPED_TRACE(user.toStdString());
        MessageBox::clearShownForTesting();
        ASSERT_GE(entryOf(list, user), 0);
        frmEdit* editor = openEntry(list, user);
        ASSERT_NE(editor, nullptr) << MessageBox::shownForTesting().join("\n").toStdString();
        retype(editor->txtPassword, "new");
        click(editor->cmdEdit);
        settle();
        SQLite::Statement query(other.connection(),
                                "SELECT quote(Password) || '|' || CASE WHEN instr(Name, char(0)) THEN "
                                "quote(CAST(Name AS BLOB)) ELSE quote(Name) END || '|' || Official || '|' || Date "
                                "|| '|' || Time FROM Servers WHERE User = ?1");
        query.bind(1, user.toStdString()); // as text, NUL characters and all
        ASSERT_TRUE(query.executeStep());
        EXPECT_EQ(query.getColumn(0).getString(), c.after);
        if (c.refusedWith) {
            ASSERT_EQ(MessageBox::shownForTesting().size(), 1);
            EXPECT_TRUE(MessageBox::shownForTesting().front().contains(c.refusedWith))
                << MessageBox::shownForTesting().front().toStdString();
            ASSERT_EQ(list.editor(), editor) << "the editor stays open";
            EXPECT_EQ(editor->txtPassword->text(), "new");
            editor->close();
            settle();
        } else {
            EXPECT_TRUE(MessageBox::shownForTesting().isEmpty())
                << MessageBox::shownForTesting().join("\n").toStdString();
            EXPECT_EQ(list.editor(), nullptr);
        }
    }
    std::printf("[reliability] values against the table's rules: %zu accounts, each kept or refused by name\n",
                std::size(cases));
}

// User names (at most 15 characters, the field's limit) that SQL, patterns, text layout or UTF-16
// could mistake: each is listed and its
// editor saves to its own row, never to a look-alike.
TEST_F(HostileFileTest, HostileUserNamesAreListedAndSavedToTheirOwnRow) {
    const QStringList names = {
        "o'brien",
        "o''brien",
        "\"quoted\"",
        "x';DELETE--",
        "a;b",
        "100%",
        "100_",
        "1000",
        "a_c",
        "abc",
        "line\nbreak",
        "line\r\nbreak",
        "linebreak",
        "Alice",
        "alice",
        "alice ",
        "\u05e9\u05dc\u05d5\u05dd", // right-to-left text
        "abc\u202edcba",            // a right-to-left override inside
        QString("😀").repeated(15),  // 15 emoji: 15 characters, 30 UTF-16 units
        QString("😀").repeated(14) + "😁",
        "<b>b</b>&amp;",
    };
    makeRegistry(folder.path());
    OtherProgram other(registry);
    std::vector<std::vector<dao::Variant>> rows;
    for (const QString& name : names)
        rows.push_back({name.toStdString(), "pw", ""});
    other.addRows("User, Password, Name", rows);
    frmMain list;
    ASSERT_EQ(list.Form_Load(), frmMain::LoadResult::Loaded);
    ASSERT_EQ(list.users()->rowCount(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i].toStdString());
        ASSERT_GE(entryOf(list, names[i]), 0) << "not listed";
        frmEdit* editor = openEntry(list, names[i]);
        ASSERT_NE(editor, nullptr) << MessageBox::shownForTesting().join("\n").toStdString();
        EXPECT_EQ(editor->User, names[i]) << "the editor looks its account up by the name as stored";
        retype(editor->txtName, QStringLiteral("saved %1").arg(i));
        click(editor->cmdEdit);
        settle();
        EXPECT_TRUE(MessageBox::shownForTesting().isEmpty());
        // Exactly the rows saved so far carry a saved name, each on the row of its own user.
        for (int j = 0; j < names.size(); ++j) {
            SQLite::Statement query(other.connection(), "SELECT Name FROM Servers WHERE User = ?1");
            query.bind(1, names[j].toStdString());
            ASSERT_TRUE(query.executeStep());
            EXPECT_EQ(query.getColumn(0).getString(), j <= i ? "saved " + std::to_string(j) : "")
                << names[j].toStdString();
        }
    }
    EXPECT_EQ(other.number("SELECT count(*) FROM Servers"), names.size());
    std::printf("[reliability] hostile user names: %lld listed and saved to their own rows\n",
                static_cast<long long>(names.size()));
}

// A registry the operator may only read: the list loads, the save fails clearly and the editor
// keeps what was typed.
TEST_F(HostileFileTest, ReadOnlyRegistryListsAndItsSaveFailsKeepingTheText) {
    const std::string path = makeRegistry(folder.path());
    OtherProgram(path).addAccount("alice", "pw", "Alice");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(chmod(folder.path().c_str(), 0777), 0);
    const std::string before = readBytes(path);

    asNobody([&] {
        ASSERT_NE(access(path.c_str(), W_OK), 0) << "the file must be read-only for this user";
        frmMain list;
        ASSERT_EQ(list.Form_Load(), frmMain::LoadResult::Loaded)
            << MessageBox::shownForTesting().join("\n").toStdString();
        ASSERT_EQ(list.users()->rowCount(), 1);
        frmEdit* editor = openEntry(list, 0);
        ASSERT_NE(editor, nullptr);
        retype(editor->txtName, "typed");
        retype(editor->txtDescription, "kept\ntext");
        click(editor->cmdEdit);
        settle();
        ASSERT_EQ(MessageBox::shownForTesting().size(), 1);
        EXPECT_EQ(MessageBox::shownForTesting().front().toStdString(),
                  "Error 5: \"" + path + "\" cannot be changed: it may only be read.");
        ASSERT_EQ(list.editor(), editor);
        EXPECT_EQ(editor->txtName->text(), "typed");
        EXPECT_EQ(editor->txtDescription->toPlainText(), "kept\ntext");
        EXPECT_EQ(mdlDatabase::dbRegistry, nullptr);
    });
    EXPECT_TRUE(readBytes(path) == before);
}

} // namespace
