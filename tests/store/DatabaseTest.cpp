// SPDX-License-Identifier: MIT
#include "store/Database.h"
#include "store/DBEngine.h"
#include "store/Error.h"
#include "store/Recordset.h"
#include "store/Workspace.h"
#include "store/mdlDatabase.h"
#include "tests/support/AsNobody.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/StoreError.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;
using ::testing::AllOf;
using ::testing::HasSubstr;

namespace {

class DatabaseTest : public ::testing::Test {
protected:
    std::shared_ptr<dao::Workspace> workspace() { return dao::DBEngine::instance().Workspaces(0); }

    // Asserts that opening `path` fails with `number` and a description that names the file,
    // and that the attempt left the file as it was.
    void expectOpenFails(const std::string& path, dao::ErrorNumber number, const std::string& words) {
        std::error_code ignored;
        const bool exists = std::filesystem::is_regular_file(path, ignored);
        const std::string before = exists ? readBytes(path) : "";
        EXPECT_THAT([&] { workspace()->OpenDatabase(path); },
                    ThrowsStoreError(number, AllOf(HasSubstr(path), HasSubstr(words))));
        if (exists) {
            EXPECT_EQ(readBytes(path), before);
        }
    }

    TempFolder folder;
};

TEST_F(DatabaseTest, OpenRefusesWhatIsNotARegistryFile) {
    expectOpenFails(folder.file("missing.dat"), dao::ErrorNumber::FileNotFound, "does not exist");
    expectOpenFails(folder.path(), dao::ErrorNumber::NotAFile, "is a folder");

    const std::string fifo = folder.file("fifo.dat");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expectOpenFails(fifo, dao::ErrorNumber::NotAFile, "not a regular file");

    const std::string text = folder.file("notes.dat");
    writeBytes(text, "These are notes, not a database. They are long enough to fill a header of sorts...........");
    expectOpenFails(text, dao::ErrorNumber::NotADatabase, "is not a registry database");

    const std::string loop = folder.file("loop.dat");
    std::filesystem::create_symlink(loop, loop);
    expectOpenFails(loop, dao::ErrorNumber::CannotOpen, "cannot be opened");

    EXPECT_FALSE(std::filesystem::exists(folder.file("missing.dat"))) << "an open must never create the file";
}

TEST_F(DatabaseTest, OpensThroughSymbolicLinkAndZeroByteFile) {
    const std::string path = folder.file("empty.dat");
    writeBytes(path, "");
    std::filesystem::create_symlink(path, folder.file("link.dat"));
    auto database = workspace()->OpenDatabase(folder.file("link.dat"));
    EXPECT_THROW(database->TableDefs("Servers"), dao::Error);
    database->Close();
    database->Close(); // again: harmless
}

// Root may write to any file, so the checks run in a child process as the user "nobody".
TEST_F(DatabaseTest, ReadOnlyFileOpensAndItsFirstWriteFailsClearly) {
    const std::string path = makeRegistry(folder.path());
    OtherProgram(path).addAccount("alice");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(chmod(folder.path().c_str(), 0777), 0);
    const std::string before = readBytes(path);

    asNobody([&] {
        ASSERT_NE(access(path.c_str(), W_OK), 0) << "the file must be read-only for this user";
        auto database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path);
        auto servers = database->TableDefs("Servers").OpenRecordset();
        servers->Index("User");
        EXPECT_EQ(servers->Fields("User").Value().toText(), "alice");
        servers->Edit();
        servers->Fields("Name").SetValue("Alice");
        EXPECT_THAT([&] { servers->Update(); },
                    ThrowsStoreError(dao::ErrorNumber::ReadOnlyFile, HasSubstr("cannot be changed")));
    });
    EXPECT_EQ(readBytes(path), before);
}

TEST_F(DatabaseTest, StoredTableEnforcesItsRulesOnEveryProgram) {
    const std::string path = makeRegistry(folder.path());
    OtherProgram other(path);
    other.addAccount("alice", "pw", "", "", true);
    // Characters, not bytes: 15 letters of two bytes each fit, 16 do not.
    other.addAccount("ééééééééééééééé", "pw");
    EXPECT_THROW(other.addAccount("éééééééééééééééé", "pw"), SQLite::Exception);
    EXPECT_THROW(other.addAccount("bob", ""), SQLite::Exception);
    EXPECT_THROW(other.exec("INSERT INTO Servers (User, Official) VALUES ('x', 'yes')"), SQLite::Exception);
    EXPECT_THROW(other.exec("INSERT INTO Servers (User, Date) VALUES ('x', 256)"), SQLite::Exception);
    EXPECT_THROW(other.exec("INSERT INTO Servers (User, Name) VALUES ('x', x'41')"), SQLite::Exception);
    other.exec("INSERT INTO Servers (User, Name, Description, UpdateURL, Date, Time) VALUES ('x', '', '', '', 0, 255)");
    EXPECT_EQ(other.number("SELECT count(*) FROM Servers"), 3);

    auto database = workspace()->OpenDatabase(path);
    const dao::TableDef servers = database->TableDefs("servers");
    ASSERT_EQ(servers.Fields().size(), 8u);
    const std::vector<std::tuple<std::string, dao::FieldType, int>> expected = {
        {"User", dao::FieldType::Text, 15},       {"Password", dao::FieldType::Text, 15},
        {"Name", dao::FieldType::Text, 50},       {"Description", dao::FieldType::Text, 250},
        {"UpdateURL", dao::FieldType::Text, 250}, {"Official", dao::FieldType::Boolean, 0},
        {"Date", dao::FieldType::Byte, 0},        {"Time", dao::FieldType::Byte, 0}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(servers.Fields()[i].Name(), std::get<0>(expected[i]));
        EXPECT_EQ(servers.Fields()[i].Type(), std::get<1>(expected[i]));
        EXPECT_EQ(servers.Fields()[i].Size(), std::get<2>(expected[i]));
    }
    EXPECT_EQ(other.number("SELECT \"unique\" FROM pragma_index_list('Servers') WHERE name = 'User'"), 0);
}

TEST_F(DatabaseTest, AppendTableDefIsAllOrNothing) {
    const std::string path = folder.file("new.dat");
    writeBytes(path, "");
    auto database = workspace()->OpenDatabase(path);
    dao::TableDef broken = database->CreateTableDef("Broken");
    broken.AppendField(broken.CreateField("A", dao::FieldType::Text, 10));
    broken.AppendField(broken.CreateField("B", dao::FieldType::Text, 300));
    EXPECT_THAT([&] { database->AppendTableDef(broken); }, ThrowsStoreError(dao::ErrorNumber::InvalidDefinition));
    EXPECT_THROW(broken.AppendField(broken.CreateField("a", dao::FieldType::Text, 1)), dao::Error);

    dao::TableDef first = mdlDatabase::ServersTableDef(*database);
    database->AppendTableDef(first);
    dao::TableDef second = mdlDatabase::ServersTableDef(*database);
    EXPECT_THAT([&] { database->AppendTableDef(second); }, ThrowsStoreError(dao::ErrorNumber::TableExists));
    database->Close();
    EXPECT_EQ(OtherProgram(path).number("SELECT count(*) FROM sqlite_schema"), 2); // the table and its index
}

TEST_F(DatabaseTest, WorkspaceCloseClosesItsDatabasesAndAFreshOneFollows) {
    const std::string path = makeRegistry(folder.path());
    auto workspace = this->workspace();
    auto database = workspace->OpenDatabase(path);
    auto servers = database->TableDefs("Servers").OpenRecordset();
    workspace->Close();
    EXPECT_FALSE(database->isOpen());
    EXPECT_FALSE(servers->isOpen());
    EXPECT_THROW(workspace->OpenDatabase(path), dao::Error);
    auto next = this->workspace();
    EXPECT_NE(next, workspace);
    EXPECT_TRUE(next->OpenDatabase(path)->isOpen());
    EXPECT_THROW(dao::DBEngine::instance().Workspaces(1), dao::Error);
}

TEST_F(DatabaseTest, TransactionsLandTogetherOrNotAtAll) {
    const std::string path = makeRegistry(folder.path());
    auto database = workspace()->OpenDatabase(path);
    auto servers = database->TableDefs("Servers").OpenRecordset();
    auto add = [&](const char* user, const char* password) {
        servers->AddNew();
        servers->Fields("User").SetValue(user);
        servers->Fields("Password").SetValue(password);
        servers->Update();
    };
    database->BeginTrans();
    add("a", "1");
    add("b", "2");
    database->Rollback();
    database->BeginTrans();
    add("c", "3");
    EXPECT_THROW(add("d", ""), dao::Error);
    database->CommitTrans();
    EXPECT_EQ(OtherProgram(path).text("SELECT group_concat(User) FROM Servers"), "c");
}

TEST_F(DatabaseTest, BulkInsertsWithALargerCacheWriteEachRowsOwnFields) {
    const std::string path = makeRegistry(folder.path());
    auto database = workspace()->OpenDatabase(path);
    EXPECT_THROW(database->SetCacheSize(0), dao::Error);
    database->SetCacheSize(64 * 1024);
    EXPECT_EQ(OtherProgram(path).number("PRAGMA cache_size"), -2000) << "only this connection's cache changes";
    auto servers = database->TableDefs("Servers").OpenRecordset();
    database->BeginTrans();
    // Rows alternate between sets of assigned fields, so each set's statement is reused.
    for (int i = 0; i < 300; ++i) {
        servers->AddNew();
        dao::Variant user(std::string("u") + std::to_string(i));
        servers->Fields("User").SetValue(std::move(user));
        if (i % 3 == 1)
            servers->Fields("Password").SetValue(dao::Variant("p" + std::to_string(i)));
        if (i % 3 == 2)
            servers->Fields("Date").SetValue(i % 256);
        servers->Update();
    }
    database->CommitTrans();
    OtherProgram other(path);
    EXPECT_EQ(other.number("SELECT count(*) FROM Servers"), 300);
    EXPECT_EQ(other.number("SELECT count(*) FROM Servers WHERE Password IS NOT NULL"), 100);
    EXPECT_EQ(other.number("SELECT count(*) FROM Servers WHERE Date IS NOT NULL"), 100);
    EXPECT_EQ(other.number("SELECT count(*) FROM Servers WHERE User = 'u297' AND Password IS NULL AND Date IS NULL"),
              1);
    EXPECT_EQ(other.number("SELECT count(*) FROM Servers WHERE User = 'u298' AND Password = 'p298' AND Date IS NULL"),
              1);
    EXPECT_EQ(other.number("SELECT count(*) FROM Servers WHERE User = 'u299' AND Password IS NULL AND Date = 43"), 1);
}

} // namespace
