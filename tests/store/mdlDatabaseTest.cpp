// SPDX-License-Identifier: MIT
#include "store/mdlDatabase.h"
#include "store/Error.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/StoreError.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace testing_support;
using namespace mdlDatabase;

namespace {

class mdlDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { SetRegistryFolderForTesting(folder.path()); }
    void TearDown() override {
        ReleaseDB();
        SetRegistryFolderForTesting("");
    }

    TempFolder folder;
};

TEST_F(mdlDatabaseTest, PathIsTheProgramFolderAndTheFileName) {
    EXPECT_EQ(RegistryPath(), folder.path() + "/zarn.dat");
    SetRegistryFolderForTesting("/");
    EXPECT_EQ(RegistryPath(), "//zarn.dat") << "joined without looking at how the folder ends";
    SetRegistryFolderForTesting("");
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(RegistryPath(), self.parent_path().string() + "/zarn.dat");
}

TEST_F(mdlDatabaseTest, MissingFileFailsAndIsNeverCreated) {
    EXPECT_THAT([] { OpenDB(); }, ThrowsStoreError(dao::ErrorNumber::FileNotFound));
    ReleaseDB();
    EXPECT_FALSE(std::filesystem::exists(RegistryPath()));
}

TEST_F(mdlDatabaseTest, ZeroByteFileGetsTheTableAndOpensEmpty) {
    writeBytes(RegistryPath(), "");
    OpenDB();
    EXPECT_TRUE(rsServers->BOF());
    EXPECT_TRUE(rsServers->Eof());
    EXPECT_EQ(rsServers->Index(), "User");
    CloseDB();
    OtherProgram other(RegistryPath());
    EXPECT_EQ(other.number("SELECT count(*) FROM pragma_table_info('Servers')"), 8);
    EXPECT_EQ(other.text("SELECT group_concat(name) FROM pragma_index_info('User')"), "User");
}

TEST_F(mdlDatabaseTest, ATableNeededWhileAnotherProgramBrieflyWritesIsWaitedFor) {
    writeBytes(RegistryPath(), "");
    OtherProgram locker(RegistryPath());
    locker.exec("CREATE TABLE Other (n)");
    locker.exec("BEGIN IMMEDIATE");
    locker.exec("INSERT INTO Other VALUES (1)");
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        locker.exec("COMMIT");
    });
    EXPECT_NO_THROW(OpenDB());
    release.join();
    ASSERT_TRUE(rsServers);
    EXPECT_TRUE(rsServers->BOF());
    CloseDB();
    EXPECT_EQ(locker.number("SELECT count(*) FROM Other"), 1) << "the other program's write is kept";
    EXPECT_EQ(locker.number("SELECT count(*) FROM sqlite_schema WHERE name = 'Servers'"), 1);
}

TEST_F(mdlDatabaseTest, TableMadeElsewhereIsUsedAsItStands) {
    makeForeignRegistry(folder.path(), {.columns = "User VARCHAR(40), Password VARCHAR(40), Name TEXT, Extra INTEGER",
                                        .fields = "User, Password, Name, Extra",
                                        .rows = {{"a-rather-long-user-name", "a-rather-long-password", "n", 5}}});
    OpenDB();
    ASSERT_FALSE(rsServers->BOF());
    EXPECT_EQ(rsServers->Fields("User").Value().toText(), "a-rather-long-user-name");
    rsServers->Edit();
    rsServers->Fields("Password").SetValue("an-even-longer-password-than-before");
    rsServers->Update();
    EXPECT_EQ(dbRegistry->TableDefs("Servers").Fields().size(), 4u);
    CloseDB();
    EXPECT_EQ(OtherProgram(RegistryPath()).text("SELECT Password FROM Servers"), "an-even-longer-password-than-before");
}

TEST_F(mdlDatabaseTest, TableWithoutTheUserIndexFailsClearly) {
    makeForeignRegistry(folder.path(), {.columns = "User TEXT, Password TEXT", .index = ""});
    EXPECT_THAT([] { OpenDB(); },
                ThrowsStoreError(dao::ErrorNumber::IndexNotFound,
                                 ::testing::HasSubstr("has no index \"User\". Run vantrel-registry repair on the "
                                                      "file to make it.")));
}

TEST_F(mdlDatabaseTest, CloseAndReleaseLeaveNothingOpen) {
    makeRegistry(folder.path());
    OpenDB();
    CloseDB();
    EXPECT_FALSE(rsServers->isOpen());
    EXPECT_FALSE(dbRegistry->isOpen());
    EXPECT_FALSE(wsRegistry->isOpen());
    CloseDB(); // closing what is closed is harmless

    OpenDB();
    ReleaseDB();
    EXPECT_EQ(rsServers, nullptr);
    EXPECT_EQ(dbRegistry, nullptr);
    EXPECT_EQ(wsRegistry, nullptr);
    ReleaseDB(); // and so is releasing what was never opened

    OpenDB(); // a workspace closed before is replaced by a usable one
    EXPECT_TRUE(wsRegistry->isOpen());
    CloseDB();
    OtherProgram other(RegistryPath());
    other.connection().setBusyTimeout(0);
    EXPECT_NO_THROW(other.exec("BEGIN EXCLUSIVE; COMMIT"));
}

} // namespace
