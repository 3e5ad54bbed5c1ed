// SPDX-License-Identifier: MIT
#include "store/Recordset.h"
#include "store/DBEngine.h"
#include "store/Database.h"
#include "store/Error.h"
#include "store/Workspace.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/StoreError.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;
using ::testing::Eq;
using ::testing::HasSubstr;

namespace {

class RecordsetTest : public ::testing::Test {
protected:
    void SetUp() override { path = makeRegistry(folder.path()); }
    void TearDown() override { dao::DBEngine::instance().SetBusyTimeout(5000ms); }

    std::unique_ptr<dao::Recordset> open() {
        database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path);
        auto servers = database->TableDefs("Servers").OpenRecordset(dao::RecordsetType::Table);
        servers->Index("User");
        return servers;
    }

    // Every user name in cursor order, "<null>" for a null.
    static std::vector<std::string> walk(dao::Recordset& servers) {
        std::vector<std::string> users;
        for (servers.MoveFirst(); !servers.Eof(); servers.MoveNext()) {
            const dao::Variant user = servers.Fields("User").Value();
            users.push_back(user.isNull() ? "<null>" : user.toText());
        }
        return users;
    }

    TempFolder folder;
    std::string path;
    std::unique_ptr<dao::Database> database;
};

TEST_F(RecordsetTest, EmptyTableHasBofAndEofAndNoCurrentRecord) {
    auto servers = open();
    EXPECT_TRUE(servers->BOF());
    EXPECT_TRUE(servers->Eof());
    EXPECT_THAT([&] { servers->Fields("User").Value(); },
                ThrowsStoreError(dao::ErrorNumber::NoCurrentRecord, Eq("No current record.")));
    EXPECT_THAT([&] { servers->MoveNext(); }, ThrowsStoreError(dao::ErrorNumber::NoCurrentRecord));
    EXPECT_THAT([&] { servers->Edit(); }, ThrowsStoreError(dao::ErrorNumber::NoCurrentRecord));
}

TEST_F(RecordsetTest, WalksInBinaryIndexOrderWithDuplicatesStableAndNullsFirst) {
    OtherProgram other(path);
    for (const char* user : {"bob", "Zed", "alice", "bob", "émile", "Alice"})
        other.addAccount(user);
    other.addAccount(nullptr);
    other.exec("UPDATE Servers SET Name = 'first bob' WHERE rowid = 1");
    other.exec("UPDATE Servers SET Name = 'second bob' WHERE rowid = 4");

    auto servers = open();
    EXPECT_FALSE(servers->BOF());
    EXPECT_EQ(walk(*servers), (std::vector<std::string>{"<null>", "Alice", "Zed", "alice", "bob", "bob", "émile"}));
    EXPECT_TRUE(servers->Eof());
    EXPECT_FALSE(servers->BOF());

    servers->Seek("bob");
    ASSERT_FALSE(servers->NoMatch());
    EXPECT_EQ(servers->Fields("Name").Value().toText(), "first bob");
    servers->MoveNext();
    EXPECT_EQ(servers->Fields("Name").Value().toText(), "second bob");
    servers->Seek("Bob");
    EXPECT_TRUE(servers->NoMatch());
    EXPECT_TRUE(servers->Eof());
    servers->Seek("zzz");
    EXPECT_TRUE(servers->NoMatch());

    servers->MoveFirst();
    EXPECT_TRUE(servers->Fields("Password").Value().isText());
    EXPECT_TRUE(servers->Fields("UpdateURL").Value().isNull());
    EXPECT_EQ(servers->Fields("official").Value(), dao::Variant(false)); // names compare without case
    EXPECT_THAT([&] { servers->Fields("Nickname"); },
                ThrowsStoreError(dao::ErrorNumber::FieldNotFound, HasSubstr("\"Nickname\"")));
    EXPECT_THAT([&] { servers->Index("ByName"); }, ThrowsStoreError(dao::ErrorNumber::IndexNotFound));
}

TEST_F(RecordsetTest, TraversalUsesTheIndexWithoutSorting) {
    OtherProgram other(path);
    other.addAccount("alice", "pw");
    auto servers = open();
    // The statement the cursor stands on, as it really runs it.
    std::string scan;
    sqlite3* connection = database->connection().getHandle();
    for (sqlite3_stmt* statement = sqlite3_next_stmt(connection, nullptr); statement;
         statement = sqlite3_next_stmt(connection, statement))
        if (sqlite3_stmt_busy(statement))
            scan = sqlite3_sql(statement);
    ASSERT_NE(scan.find("ORDER BY"), std::string::npos) << scan;
    SQLite::Statement explain(other.connection(), "EXPLAIN QUERY PLAN " + scan);
    std::string plan;
    while (explain.executeStep())
        plan += explain.getColumn(3).getString() + " | ";
    EXPECT_NE(plan.find("COVERING INDEX User"), std::string::npos) << plan;
    EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
}

TEST_F(RecordsetTest, UpdateWritesOnlyAssignedFieldsToItsOwnRow) {
    OtherProgram other(path);
    other.addAccount("alice", "old", "Alice", "desc", true);
    other.addAccount("bob", "bobpw");
    other.exec("UPDATE Servers SET UpdateURL = 'http://a', Date = 7, Time = 9 WHERE User = 'alice'");

    auto servers = open();
    ASSERT_EQ(servers->Fields("User").Value().toText(), "alice");
    EXPECT_EQ(servers->Fields("Official").Value(), dao::Variant(true));
    servers->Edit();
    servers->Fields("Password").SetValue("new");
    servers->Fields("Official").SetValue(false);
    // Another program changes a field we never assigned, and reorders the table, meanwhile.
    other.exec("UPDATE Servers SET UpdateURL = 'http://changed', Name = 'Alice B.' WHERE User = 'alice'");
    other.exec("INSERT INTO Servers (User, Password) VALUES ('aaron', 'x')");
    servers->Update(dao::UpdateType::Regular, false);

    EXPECT_EQ(other.text("SELECT Password || '|' || Name || '|' || Official || '|' || UpdateURL || '|' || Date || "
                         "'|' || Time FROM Servers WHERE User = 'alice'"),
              "new|Alice B.|0|http://changed|7|9");
    EXPECT_EQ(other.text("SELECT Password FROM Servers WHERE User = 'bob'"), "bobpw");
    // The cursor stays on its row, and moving on continues in index order.
    EXPECT_EQ(servers->Fields("Password").Value().toText(), "new");
    servers->MoveNext();
    EXPECT_EQ(servers->Fields("User").Value().toText(), "bob");
}

TEST_F(RecordsetTest, RefusedValuesNameTheFieldAndLeaveTheRowAlone) {
    OtherProgram other(path);
    other.addAccount("alice", "pw", "Alice", "desc");
    const std::string before = other.quotedRow("alice", "Password, Name, Description, Official");
    auto servers = open();

    struct Case {
        const char* field;
        dao::Variant value;
        const char* words;
    };
    const Case cases[] = {
        {"Password", std::string(16, 'p'),
         "\"Password\" was refused: it must be text of 1 to 15 characters (it has 16"},
        {"Password", "", "\"Password\" was refused: it must be text of 1 to 15 characters (it has 0"},
        {"Name", std::string(51, 'n'), "\"Name\" was refused: it must be text of at most 50 characters"},
        {"Description", std::string(251, 'd'), "\"Description\" was refused"},
        {"Official", "yes", "\"Official\" was refused: it must be true (1) or false (0)"},
        {"Date", 300, "\"Date\" was refused: it must be a whole number from 0 to 255 (it is integer 300)"},
    };
    for (const Case& c : cases) {
        servers->Edit();
        servers->Fields("Name").SetValue("changed too");
        servers->Fields(c.field).SetValue(c.value);
        EXPECT_THAT([&] { servers->Update(); }, ThrowsStoreError(dao::ErrorNumber::ValueRefused, HasSubstr(c.words)))
            << c.field;
        servers->CancelUpdate();
    }
    servers->Edit();
    EXPECT_THAT([&] { servers->Fields("Name").SetValue(std::string("a\0b", 3)); },
                ThrowsStoreError(dao::ErrorNumber::ValueRefused, HasSubstr("NUL")));
    // Not UTF-8: a cut sequence, a surrogate, an overlong "/", a code point past U+10FFFF.
    for (const char* bytes : {"\xC3\x28", "a\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80", "\xE2\x82"}) {
        EXPECT_THAT([&] { servers->Fields("Name").SetValue(std::string(bytes)); },
                    ThrowsStoreError(dao::ErrorNumber::ValueRefused, HasSubstr("not valid UTF-8")))
            << bytes;
    }

    EXPECT_EQ(other.quotedRow("alice", "Password, Name, Description, Official"), before);
    // Exactly at the limits, in characters.
    servers->Edit();
    servers->Fields("Password").SetValue("ééééééééééééééé");
    servers->Fields("Description").SetValue(std::string(250, 'd'));
    servers->Fields("Name").SetValue("");
    servers->Update();
    EXPECT_EQ(other.text("SELECT length(Password) || ',' || length(Description) || ',' || quote(Name) FROM Servers"),
              "15,250,''");
}

TEST_F(RecordsetTest, UpdateFailsWhenAnotherProgramRemovedTheRow) {
    OtherProgram other(path);
    other.addAccount("alice", "pw");
    other.addAccount("alice", "second");
    auto servers = open();
    servers->Edit();
    servers->Fields("Password").SetValue("new");
    other.exec("DELETE FROM Servers WHERE rowid = 1");
    EXPECT_THAT([&] { servers->Update(); },
                ThrowsStoreError(dao::ErrorNumber::RowRemoved, HasSubstr("removed by another program")));
    EXPECT_EQ(other.text("SELECT Password FROM Servers"), "second") << "the other row with that name is untouched";

    servers->Edit(); // an Update with nothing assigned must not pass for a save either
    EXPECT_THAT([&] { servers->Update(); }, ThrowsStoreError(dao::ErrorNumber::RowRemoved));
}

TEST_F(RecordsetTest, AssignmentNeedsEditAndMovingDiscardsTheEdit) {
    OtherProgram other(path);
    other.addAccount("a", "1");
    other.addAccount("b", "2");
    auto servers = open();
    EXPECT_THAT([&] { servers->Fields("Password").SetValue("x"); }, ThrowsStoreError(dao::ErrorNumber::NotEditing));
    EXPECT_THAT([&] { servers->Update(); }, ThrowsStoreError(dao::ErrorNumber::NotEditing));
    servers->Edit();
    servers->Fields("Password").SetValue("x");
    EXPECT_EQ(servers->Fields("Password").Value().toText(), "x");
    servers->MoveNext();
    EXPECT_THAT([&] { servers->Update(); }, ThrowsStoreError(dao::ErrorNumber::NotEditing));
    EXPECT_EQ(other.text("SELECT group_concat(Password) FROM Servers"), "1,2");
}

TEST_F(RecordsetTest, ABriefLockIsWaitedOutEvenWhileTheCursorReads) {
    OtherProgram other(path);
    other.addAccount("alice", "pw");
    auto servers = open();
    ASSERT_EQ(servers->Fields("User").Value().toText(), "alice"); // our read is open
    servers->Edit();
    servers->Fields("Password").SetValue("mine");

    OtherProgram locker(path);
    locker.exec("BEGIN IMMEDIATE");
    locker.exec("UPDATE Servers SET Name = 'theirs'");
    std::thread release([&] {
        std::this_thread::sleep_for(300ms);
        locker.exec("COMMIT");
    });
    servers->Update();
    release.join();
    EXPECT_EQ(other.text("SELECT Password || '|' || Name FROM Servers"), "mine|theirs");
}

TEST_F(RecordsetTest, ALockOutlastingTheTimeoutSaysTheFileIsInUse) {
    OtherProgram other(path);
    other.addAccount("alice", "pw");
    dao::DBEngine::instance().SetBusyTimeout(200ms);
    auto servers = open();
    servers->Edit();
    servers->Fields("Password").SetValue("mine");
    other.exec("BEGIN EXCLUSIVE");
    EXPECT_THAT([&] { servers->Update(); },
                ThrowsStoreError(dao::ErrorNumber::FileInUse, HasSubstr("in use by another program")));
    other.exec("ROLLBACK");
    EXPECT_EQ(other.text("SELECT Password FROM Servers"), "pw");
    servers->Close();
    database->Close();

    other.exec("BEGIN EXCLUSIVE");
    EXPECT_THAT([&] { open(); }, ThrowsStoreError(dao::ErrorNumber::FileInUse));
    other.exec("ROLLBACK");
}

TEST_F(RecordsetTest, ClosingReleasesEveryLock) {
    OtherProgram other(path);
    other.addAccount("alice", "pw");
    auto servers = open();
    servers->Fields("Name").Value();
    servers->Close();
    servers->Close();
    EXPECT_THAT([&] { servers->MoveFirst(); }, ThrowsStoreError(dao::ErrorNumber::ObjectClosed));
    database->Close();
    other.connection().setBusyTimeout(0);
    EXPECT_NO_THROW(other.exec("BEGIN EXCLUSIVE; COMMIT"));
}

TEST_F(RecordsetTest, WrongTypesAndBlobsReadBackAsStored) {
    OtherProgram other(path);
    other.exec("PRAGMA ignore_check_constraints = 1");
    other.exec("INSERT INTO Servers (User, Password, Official, Date) VALUES (x'6869', 'pw', 'maybe', 300)");
    auto servers = open();
    EXPECT_TRUE(servers->Fields("User").Value().isBlob());
    EXPECT_EQ(servers->Fields("User").Value().toText(), "hi");
    EXPECT_EQ(servers->Fields("Official").Value(), dao::Variant("maybe"));
    EXPECT_EQ(servers->Fields("Date").Value(), dao::Variant(300));

    // Streaming reads of text give the same as Value(), whether from the index or the row.
    servers->Close(); // our open read would hold the other program's write back
    other.exec("INSERT INTO Servers (User, Password) VALUES (NULL, 'pw'), ('émile', 'pw'), (42, 'pw')");
    servers = open();
    std::vector<std::string> users;
    for (servers->MoveFirst(); !servers->Eof(); servers->MoveNext()) {
        std::string user = "<";
        const bool present = servers->Fields("User").AppendText(user);
        std::string date;
        EXPECT_EQ(servers->Fields("Date").AppendText(date), !servers->Fields("Date").Value().isNull());
        users.push_back(present ? user : "<null>");
    }
    EXPECT_EQ(users, (std::vector<std::string>{"<null>", "<42", "<émile", "<hi"}));
}

} // namespace
