// SPDX-License-Identifier: MIT
#include "store/Error.h"
#include "store/mdlDatabase.h"
#include "tests/support/AsNobody.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

// The installed layout: the program's folder is read-only to the operator and holds "zarn.dat"
// as a symbolic link to the registry in a folder the operators share. SQLite must keep its
// journal beside the real file; one it tried to make beside the link would fail the save.
TEST(RegistryLinkTest, ListsAndSavesWhileTheProgramFolderIsReadOnly) {
    struct Case {
        const char* what;
        const char* journalMode;
        bool relative;
        bool twoLinks;
    };
    const Case cases[] = {
        {"absolute link", "DELETE", false, false},
        {"relative link", "DELETE", true, false},
        {"link to a link", "DELETE", false, true},
        {"absolute link, registry in WAL mode", "WAL", false, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        TempFolder program;
        TempFolder shared;
        chmod(program.path().c_str(), 0755);
        chmod(shared.path().c_str(), 0777);
        const std::string real = makeRegistry(shared.path());
        {
            OtherProgram other(real);
            other.exec(std::string("PRAGMA journal_mode = ") + test.journalMode);
            other.addAccount("alice");
            other.addAccount("bob");
        }
        chmod(real.c_str(), 0666);
        std::string target = real;
        if (test.relative)
            target = "../" + std::filesystem::path(shared.path()).filename().string() + "/zarn.dat";
        if (test.twoLinks) {
            ASSERT_EQ(symlink("zarn.dat", shared.file("current.dat").c_str()), 0);
            target = shared.file("current.dat");
        }
        ASSERT_EQ(symlink(target.c_str(), program.file("zarn.dat").c_str()), 0);
        chmod(program.path().c_str(), 0555);

        asNobody([&] {
            const int probe = open(program.file("probe").c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_TRUE(probe < 0 && errno == EACCES)
                << "the folder is not read-only to this process: the case proves nothing";
            mdlDatabase::SetRegistryFolderForTesting(program.path());
            using mdlDatabase::rsServers;
            mdlDatabase::OpenDB();
            std::string names;
            for (rsServers->MoveFirst(); !rsServers->Eof(); rsServers->MoveNext())
                names += rsServers->Fields("User").Value().toText() + ";";
            mdlDatabase::CloseDB();
            ASSERT_EQ(names, "alice;bob;") << "the names listed";
            mdlDatabase::OpenDB();
            rsServers->MoveFirst();
            rsServers->MoveNext();
            rsServers->Edit();
            rsServers->Fields("Password").SetValue("changed");
            rsServers->Update();
            mdlDatabase::CloseDB();
        });
        chmod(program.path().c_str(), 0755);

        OtherProgram other(real);
        EXPECT_EQ(other.text("SELECT group_concat(User || '=' || Password, ';') FROM Servers"),
                  "alice=secret;bob=changed");
        EXPECT_EQ(other.text("PRAGMA journal_mode"), test.journalMode == std::string("WAL") ? "wal" : "delete");
        std::vector<std::string> entries;
        for (const auto& entry : std::filesystem::directory_iterator(program.path()))
            entries.push_back(entry.path().filename().string());
        EXPECT_EQ(entries, std::vector<std::string>{"zarn.dat"});
    }
}

} // namespace
