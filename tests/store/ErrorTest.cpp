// SPDX-License-Identifier: MIT
#include "store/Error.h"
#include "store/DBEngine.h"
#include "store/Database.h"
#include "store/Recordset.h"
#include "store/TableDef.h"
#include "store/Workspace.h"
#include "tests/support/AsNobody.h"
#include "tests/support/FaultVfs.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"

#include <SQLiteCpp/Exception.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace testing_support;

namespace {

const auto* const faultLayer = ::testing::AddGlobalTestEnvironment(new FaultVfsEnvironment);

// Every failure SQLite may report to the store, by its extended code, and the number and words
// the operator then reads.
TEST(ErrorTest, EverySqliteFailureMapsToItsNumber) {
    struct Case {
        int code;
        int number;
        const char* words;
    };
    const Case cases[] = {
        {SQLITE_BUSY, 4, "in use by another program"},
        {SQLITE_BUSY_SNAPSHOT, 4, "in use by another program"},
        {SQLITE_LOCKED, 4, "in use by another program"},
        {SQLITE_PROTOCOL, 4, "in use by another program"},
        {SQLITE_NOTADB, 3, "is not a registry database"},
        {SQLITE_CORRUPT, 6, "is damaged"},
        {SQLITE_CORRUPT_INDEX, 6, "is damaged"},
        {SQLITE_READONLY, 5, "may only be read"},
        {SQLITE_READONLY_DBMOVED, 5, "may only be read"},
        {SQLITE_READONLY_DIRECTORY, 30, "the folder"},
        {SQLITE_READONLY_ROLLBACK, 31, "/zarn.dat-journal\", which must be rolled back"},
        {SQLITE_READONLY_RECOVERY, 31, "/zarn.dat-wal\""},
        {SQLITE_READONLY_CANTLOCK, 30, "/zarn.dat-shm\""},
        {SQLITE_READONLY_CANTINIT, 30, "/zarn.dat-shm\""},
        {SQLITE_IOERR_SHMOPEN, 30, "/zarn.dat-shm\""},
        {SQLITE_IOERR_SHMMAP, 7, "/zarn.dat-shm\""},
        {SQLITE_IOERR_READ, 7, "Reading \""},
        {SQLITE_IOERR_SHORT_READ, 7, "the file was not found damaged"},
        {SQLITE_IOERR_WRITE, 7, "Writing \""},
        {SQLITE_IOERR_FSYNC, 7, "was not saved"},
        {SQLITE_IOERR_DELETE, 7, "/zarn.dat-journal\" could not be removed"},
        {SQLITE_IOERR_LOCK, 7, "Reading or writing"},
        {SQLITE_IOERR, 7, "Reading or writing"},
        {SQLITE_FULL, 7, "is full"},
        {SQLITE_CANTOPEN, 8, "cannot be opened"},
        {SQLITE_CANTOPEN_ISDIR, 8, "cannot be opened"},
        {SQLITE_PERM, 8, "cannot be opened"},
        {SQLITE_AUTH, 8, "cannot be opened"},
        {SQLITE_CONSTRAINT, 16, "refused by the rules"},
        {SQLITE_CONSTRAINT_CHECK, 16, "refused by the rules"},
        {SQLITE_TOOBIG, 32, "larger than Vantrel reads"},
        {SQLITE_NOMEM, 37, "more memory than Vantrel allows"},
        {SQLITE_CONSTRAINT_TRIGGER, 16, "the registry file says: \"SQLite's words\""},
        {SQLITE_ERROR, 22, "engine failed"},
        {SQLITE_MISUSE, 22, "engine failed"},
        {SQLITE_SCHEMA, 22, "engine failed"},
    };
    // A folder that does not exist: nothing beside the file tells another cause.
    const std::string path = "/nonexistent-vantrel-folder/zarn.dat";
    for (const Case& c : cases) {
        SCOPED_TRACE(sqlite3_errstr(c.code));
        const dao::Error error = dao::translate(SQLite::Exception("SQLite's words", c.code), path, EIO);
        EXPECT_EQ(error.number(), c.number) << error.description();
        EXPECT_NE(error.description().find(c.words), std::string::npos) << error.description();
        EXPECT_NE(error.description().find(path), std::string::npos) << error.description();
        if (c.number != 6) {
            EXPECT_EQ(error.description().find("is damaged"), std::string::npos) << error.description();
        }
    }
    // The system's error number belongs to a failed read, write or open, never to a refused value.
    const dao::Error read = dao::translate(SQLite::Exception("disk I/O error", SQLITE_IOERR_READ), path, EIO);
    EXPECT_NE(read.description().find("Input/output error"), std::string::npos) << read.description();
    // An errno the failed read cannot have given comes from SQLite's clean-up, and is not the cause.
    const dao::Error stale = dao::translate(SQLite::Exception("disk I/O error", SQLITE_IOERR_READ), path, ENOENT);
    EXPECT_EQ(stale.description().find("No such file"), std::string::npos) << stale.description();
    // A shared-memory file of this user's own that cannot be used is a failure of the disk, not
    // of who owns it.
    TempFolder folder;
    writeBytes(folder.file("zarn.dat-shm"), "");
    const dao::Error own =
        dao::translate(SQLite::Exception("disk I/O error", SQLITE_IOERR_SHMOPEN), folder.file("zarn.dat"), EIO);
    EXPECT_EQ(own.number(), 7) << own.description();
    EXPECT_EQ(own.description().find("belongs to"), std::string::npos) << own.description();
    const dao::Error refused =
        dao::translate(SQLite::Exception("CHECK constraint failed", SQLITE_CONSTRAINT), path, EIO);
    EXPECT_EQ(refused.description().find("Input/output error"), std::string::npos) << refused.description();
}

// Opens the registry, read-only or not, and changes the first account's name: "saved", or the
// error that stopped it as the operator reads it.
std::string openAndSave(const std::string& path, bool readOnly) {
    try {
        auto database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path, 0, readOnly);
        auto servers = database->TableDefs("Servers").OpenRecordset();
        servers->Edit();
        servers->Fields("Name").SetValue(dao::Variant(std::string("saved")));
        servers->Update();
        return "saved";
    } catch (const dao::Error& error) {
        return "Error " + std::to_string(error.number()) + ": " + error.description();
    }
}

// What lies beside the registry, made real: the message names the file at fault and what to do.
TEST(ErrorTest, CausesBesideTheFileAreNamed) {
    struct Case {
        const char* what;
        bool hotJournal;
        bool wal; // the registry in WAL mode, held open by another program
        mode_t fileMode;
        mode_t folderMode;
        mode_t journalMode; // of the journal, or of the -wal and -shm files
        bool readOnly;
        const char* expected; // how the message starts; @ stands for the folder
    };
    const Case cases[] = {
        {"a folder where no journal can be made", false, false, 0666, 0555, 0, false,
         "Error 30: No journal can be made beside \"@/zarn.dat\": the folder \"@\" may not be written"},
        {"a journal left by a crash that this user may not write", true, false, 0666, 0777, 0444, false,
         "Error 31: The journal \"@/zarn.dat-journal\", left by a save that was cut off, belongs to the user"},
        {"a journal left by a crash, opened only to read", true, false, 0666, 0777, 0666, true,
         "Error 31: \"@/zarn.dat\" holds a journal left by a save that was cut off"},
        {"a journal left by a crash beside a file this user may only read", true, false, 0444, 0555, 0666, false,
         "Error 31: \"@/zarn.dat\" holds a journal left by a save that was cut off, \"@/zarn.dat-journal\", which "
         "must be rolled back before the registry can be read; an open that may only read cannot do that. This "
         "user may only read the file"},
        {"a write-ahead log that this user may not write", false, true, 0666, 0777, 0444, false,
         "Error 30: The write-ahead log \"@/zarn.dat-wal\" beside \"@/zarn.dat\" belongs to the user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        std::string path;
        std::optional<OtherProgram> holder;
        if (c.hotJournal) {
            path = copyWithHotJournal(folder.path(), 300);
            ASSERT_EQ(chmod((path + "-journal").c_str(), c.journalMode), 0);
        } else {
            path = makeRegistry(folder.path());
            holder.emplace(path);
            holder->addAccount("alice");
            if (c.wal) {
                holder->exec("PRAGMA journal_mode = WAL");
                holder->addAccount("bob");
                ASSERT_EQ(chmod((path + "-wal").c_str(), c.journalMode), 0);
                ASSERT_EQ(chmod((path + "-shm").c_str(), c.journalMode), 0);
            } else {
                holder.reset();
            }
        }
        ASSERT_EQ(chmod(path.c_str(), c.fileMode), 0);
        ASSERT_EQ(chmod(folder.path().c_str(), c.folderMode), 0);
        const std::string before = readBytes(path);

        std::string expected = c.expected;
        for (std::size_t at = expected.find('@'); at != std::string::npos; at = expected.find('@', at))
            expected.replace(at, 1, folder.path());
        asNobody([&] {
            const std::string seen = openAndSave(path, c.readOnly);
            EXPECT_EQ(seen.substr(0, expected.size()), expected) << seen;
        });
        EXPECT_TRUE(readBytes(path) == before) << "the file was changed";
        chmod(folder.path().c_str(), 0755);
    }
}

// A disk whose read or write fails: the message gives the system's own words for its error.
TEST(ErrorTest, TheSystemsErrorOfAFailedReadOrWriteIsNamed) {
    struct Case {
        FileCall call;
        int nth; // of the registry's calls: the second read is the first after its header's
        int code;
        int systemError;
    };
    const Case cases[] = {
        {FileCall::Read, 2, SQLITE_IOERR_READ, EIO},      {FileCall::Read, 2, SQLITE_IOERR_READ, EACCES},
        {FileCall::Write, 1, SQLITE_IOERR_WRITE, EIO},    {FileCall::Write, 1, SQLITE_IOERR_WRITE, ENOSPC},
        {FileCall::Write, 1, SQLITE_IOERR_WRITE, EACCES}, {FileCall::Sync, 1, SQLITE_IOERR_FSYNC, ENOSPC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(callName(c.call)) + ": " + std::strerror(c.systemError));
        TempFolder folder;
        const std::string path = makeFilledRegistry(folder.path(), 50);
        const FaultWatch watch(folder.path());
        FaultVfs::arm({c.call, FileRole::Registry, c.nth, c.code, false, c.systemError});
        const std::string seen = openAndSave(path, false);
        EXPECT_TRUE(FaultVfs::fired());
        EXPECT_EQ(seen.rfind("Error 7: ", 0), 0u) << seen;
        EXPECT_NE(seen.find(std::string("(") + std::strerror(c.systemError) + ")"), std::string::npos) << seen;
    }
}

// The registry reached by a symbolic link is named as given and as the file it resolves to, and an
// open that a permission refuses says which permission, of which file or folder, for which user.
TEST(ErrorTest, ALinkAndARefusedPermissionAreNamed) {
    struct Case {
        const char* what;
        bool linked;       // opened as @/zarn.dat, a link to %/zarn.dat
        bool hotJournal;   // a journal of the last save, which this user may not write
        mode_t fileMode;   // of %/zarn.dat
        mode_t folderMode; // of %
        const char* expected; // how the message starts; $ stands for "user NAME (uid N)"
    };
    const Case cases[] = {
        {"a file that is not a database, reached by a link", true, false, 0644, 0755,
         "Error 3: \"@/zarn.dat\" (a link to \"%/zarn.dat\") is not a registry database."},
        {"a journal beside the file a link resolves to", true, true, 0666, 0777,
         "Error 31: The journal \"%/zarn.dat-journal\", left by a save that was cut off, belongs to the user"},
        {"a file this user may not read", false, false, 0200, 0755,
         "Error 8: \"%/zarn.dat\" cannot be read by $: the file is mode 200, owned by "},
        {"a file this user may not read, reached by a link", true, false, 0200, 0755,
         "Error 8: \"@/zarn.dat\" (a link to \"%/zarn.dat\") cannot be read by $: the file is mode 200, owned by "},
        {"a folder this user may not search, reached by a link", true, false, 0644, 0600,
         "Error 8: \"@/zarn.dat\" (a link to \"%/zarn.dat\") cannot be reached by $: the folder \"%\" may not be "
         "searched; it is mode 600, owned by "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder program;
        TempFolder shared;
        std::string real;
        if (c.hotJournal) {
            real = copyWithHotJournal(shared.path(), 50);
            ASSERT_EQ(chmod((real + "-journal").c_str(), 0444), 0);
        } else {
            real = shared.file("zarn.dat");
            writeBytes(real, c.what);
        }
        ASSERT_EQ(chmod(real.c_str(), c.fileMode), 0);
        ASSERT_EQ(chmod(program.path().c_str(), 0755), 0);
        ASSERT_EQ(chmod(shared.path().c_str(), c.folderMode), 0);
        const std::string given = c.linked ? program.file("zarn.dat") : real;
        if (c.linked) {
            ASSERT_EQ(symlink(real.c_str(), given.c_str()), 0);
        }

        std::string expected = c.expected;
        for (const auto& [mark, text] : {std::pair{'@', program.path()}, std::pair{'%', shared.path()}})
            for (std::size_t at = expected.find(mark); at != std::string::npos; at = expected.find(mark, at))
                expected.replace(at, 1, text);
        asNobody([&] {
            const passwd* user = getpwuid(geteuid());
            ASSERT_NE(user, nullptr);
            std::string seen = openAndSave(given, false);
            const std::string who = "user " + std::string(user->pw_name) + " (uid " + std::to_string(geteuid()) + ")";
            if (const std::size_t at = expected.find('$'); at != std::string::npos)
                expected.replace(at, 1, who);
            EXPECT_EQ(seen.substr(0, expected.size()), expected) << seen;
        });
        chmod(shared.path().c_str(), 0755);
    }
}

} // namespace
