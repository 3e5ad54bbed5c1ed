// SPDX-License-Identifier: MIT
#include "store/DBEngine.h"
#include "store/Database.h"
#include "store/Error.h"
#include "store/Field.h"
#include "store/FieldRule.h"
#include "store/Statement.h"
#include "store/Workspace.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class StatementTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = makeRegistry(folder.path());
        OtherProgram(path).addAccount("alice", "pw");
        database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path);
    }

    dao::ErrorNumber failure(const std::function<void()>& work, std::string* description = nullptr) {
        try {
            work();
        } catch (const dao::Error& error) {
            if (description)
                *description = error.description();
            return error.code();
        }
        ADD_FAILURE() << "no error";
        return {};
    }

    TempFolder folder;
    std::string path;
    std::unique_ptr<dao::Database> database;
};

// A value comes back with the storage class it was given, and only the same class and bytes
// count as holding it: what the check of a row against what the editor read relies on.
TEST_F(StatementTest, ValuesKeepTheirStorageClass) {
    const struct {
        dao::Variant value;
        dao::Variant unlike;
    } cases[] = {
        {dao::Variant(), dao::Variant("")},
        {dao::Variant(std::int64_t{1}), dao::Variant(1.0)},
        {dao::Variant(-0.0), dao::Variant(0.0)},
        {dao::Variant("0070"), dao::Variant(std::int64_t{70})},
        {dao::Variant(dao::Blob{"ab"}), dao::Variant("ab")},
        {dao::Variant(std::string("a\0b", 3)), dao::Variant("a")}, // text goes on past a NUL
    };
    dao::Statement echo = database->Prepare("SELECT ?1");
    for (const auto& c : cases) {
        echo.bind(1, c.value);
        ASSERT_TRUE(database->guarded([&] { return echo.step(); })) << c.value.describe();
        EXPECT_EQ(echo.value(0), c.value);
        EXPECT_TRUE(echo.holds(0, c.value)) << c.value.describe();
        EXPECT_FALSE(echo.holds(0, c.unlike)) << c.value.describe() << " against " << c.unlike.describe();
    }
}

// A statement left standing on a row holds the read lock: it must end with its scope, or when
// the statement is bound anew, or every other program's save waits for it.
TEST_F(StatementTest, AStatementLeftOnARowBlocksNoWriter) {
    dao::Statement rows = database->Prepare("SELECT User FROM Servers WHERE rowid > ?1");
    OtherProgram other(path);
    other.connection().setBusyTimeout(0);
    {
        const auto ending = rows.resetOnExit();
        rows.bind(1, dao::Variant(0));
        ASSERT_TRUE(rows.step());
        EXPECT_THROW(other.exec("UPDATE Servers SET Name = 'during the read'"), std::exception);
    }
    EXPECT_NO_THROW(other.exec("UPDATE Servers SET Name = 'after the read'"));
    ASSERT_TRUE(rows.step());
    rows.bind(1, dao::Variant(1));
    EXPECT_NO_THROW(other.exec("UPDATE Servers SET Name = 'after the bind'"));
}

TEST_F(StatementTest, FailuresLeaveAsNumberedErrorsNamingTheFile) {
    std::string description;
    EXPECT_EQ(failure([&] { database->Prepare("SELECT nothing FROM Servers"); }, &description),
              dao::ErrorNumber::EngineFailure);
    EXPECT_NE(description.find(path), std::string::npos) << description;
    EXPECT_EQ(failure([&] { database->guarded([&] { database->Prepare("SELECT zeroblob(2000000)").step(); }); }),
              dao::ErrorNumber::ValueTooLarge);
    database->Close();
    EXPECT_EQ(failure([&] { database->Prepare("SELECT 1"); }), dao::ErrorNumber::ObjectClosed);
}

TEST_F(StatementTest, IntegrityProblemsNameWhatIsDamaged) {
    EXPECT_TRUE(database->IntegrityProblems().empty());
    database->Close();
    {
        // The index "User" now claims to order the names, which it holds, by passwords.
        OtherProgram other(path);
        other.addAccount("bob", "a");
        other.exec("PRAGMA writable_schema = ON");
        other.exec("UPDATE sqlite_schema SET sql = 'CREATE INDEX \"User\" ON \"Servers\" (\"Password\")' "
                   "WHERE name = 'User'");
    }
    database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path);
    const std::vector<std::string> problems = database->IntegrityProblems();
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems.front().find("User"), std::string::npos) << problems.front();
    EXPECT_EQ(database->IntegrityProblems(1).size(), 1u);
}

TEST_F(StatementTest, CopyHoldsTheAccountsOrSaysWhyNot) {
    const std::string copy = folder.file("copy.dat");
    writeBytes(copy, "");
    database->CopyTo(copy);
    EXPECT_EQ(OtherProgram(copy).text("SELECT group_concat(User) FROM Servers"), "alice");

    std::string description;
    const std::string shown = folder.file("missing/backup.dat");
    EXPECT_EQ(failure([&] { database->CopyTo(folder.file("missing/copy.dat"), shown); }, &description),
              dao::ErrorNumber::CannotOpen);
    EXPECT_NE(description.find(shown), std::string::npos) << description;

    const auto timeout = dao::DBEngine::instance().BusyTimeout();
    dao::DBEngine::instance().SetBusyTimeout(200ms);
    database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path);
    OtherProgram writer(path);
    writer.exec("BEGIN EXCLUSIVE");
    EXPECT_EQ(failure([&] { database->CopyTo(copy); }, &description), dao::ErrorNumber::FileInUse);
    EXPECT_NE(description.find("no copy was made"), std::string::npos) << description;
    writer.exec("ROLLBACK");
    dao::DBEngine::instance().SetBusyTimeout(timeout);
}

// The check finds text the store would refuse to write, though SQL alone cannot tell it.
TEST_F(StatementTest, TextTestIsCallableFromSql) {
    database->DefineTextTest("valid_text", [](std::string_view text) { return dao::FieldRule::TextRefusal(text).empty(); });
    dao::Statement test = database->Prepare("SELECT valid_text('plain'), valid_text(CAST(X'FF' AS TEXT)), "
                                            "valid_text(CAST(X'6100' AS TEXT)), valid_text(7)");
    ASSERT_TRUE(database->guarded([&] { return test.step(); }));
    EXPECT_EQ(test.integer(0), 1);
    EXPECT_EQ(test.integer(1), 0);
    EXPECT_EQ(test.integer(2), 0);
    EXPECT_EQ(test.integer(3), 1);
}

TEST(SameNameTest, OnlyAsciiLettersIgnoreCase) {
    EXPECT_TRUE(dao::sameName("User", "uSER"));
    EXPECT_FALSE(dao::sameName("User", "Users"));
    EXPECT_FALSE(dao::sameName("\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9")); // "Été" and "été": SQLite tells them apart
}

} // namespace
