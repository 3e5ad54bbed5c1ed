// SPDX-License-Identifier: MIT
#include "store/Error.h"

#include "store/DBEngine.h"

#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dao {

Error::Error(ErrorNumber number, const std::string& description) : std::runtime_error(description), m_number(number) {}

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

namespace {

// The file a symbolic link at `path` resolves to; `path` itself when it is no link. A target
// that cannot be followed to its end (a folder on the way may not be searched) is the link's own
// text, taken from the link's folder.
std::string resolved(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code failure;
    if (!fs::is_symlink(path, failure))
        return path;
    const fs::path whole = fs::weakly_canonical(path, failure);
    if (!failure)
        return whole.string();
    const fs::path target = fs::read_symlink(path, failure);
    if (failure)
        return path;
    return (fs::path(path).parent_path() / target).lexically_normal().string();
}

std::string userName(uid_t uid) {
    char buffer[1024];
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

std::string groupName(gid_t gid) {
    char buffer[1024];
    group entry{};
    group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->gr_name;
    return std::to_string(gid);
}

// "it is mode 750, owned by bob and the group staff": what a permission of `path` is decided by.
std::string modeAndOwner(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(status.st_mode & 07777));
    return std::string("mode ") + mode + ", owned by " + userName(status.st_uid) + " and the group " +
           groupName(status.st_gid);
}

// The first refusal on the way to `path`, reached from the registry `given` through `links` links.
std::string refusalOn(const std::string& given, const std::filesystem::path& path, int links) {
    namespace fs = std::filesystem;
    std::error_code failure;
    const fs::path absolute = fs::absolute(path, failure);
    if (failure)
        return {};
    const std::string who = "user " + userName(::geteuid()) + " (uid " + std::to_string(::geteuid()) + ")";
    fs::path folder;
    for (const fs::path& part : absolute.parent_path()) {
        folder /= part;
        if (::access(folder.c_str(), X_OK) != 0 && errno == EACCES)
            return describePath(given) + " cannot be reached by " + who + ": the folder " + inQuotes(folder.string()) +
                   " may not be searched; it is " + modeAndOwner(folder.string()) + ".";
    }
    struct stat status {};
    if (::lstat(absolute.c_str(), &status) == 0 && S_ISLNK(status.st_mode) && links < 40) {
        const fs::path target = fs::read_symlink(absolute, failure);
        if (!failure)
            return refusalOn(given, absolute.parent_path() / target, links + 1);
    }
    if (::access(absolute.c_str(), R_OK) != 0 && errno == EACCES)
        return describePath(given) + " cannot be read by " + who + ": the file is " +
               modeAndOwner(absolute.string()) + ".";
    return {};
}

// SQLite reads the system's errno as the failure reaches its interface, after its own clean-up
// may have run other calls: an errno that the failed call cannot give (a read of an open file
// that "does not exist") belongs to one of those, and is left out rather than shown as the cause.
bool couldCause(int code, int systemError) {
    switch (code) {
    case SQLITE_IOERR_READ:
    case SQLITE_IOERR_SHORT_READ:
    case SQLITE_IOERR_WRITE:
    case SQLITE_IOERR_FSYNC:
    case SQLITE_IOERR_DIR_FSYNC:
    case SQLITE_IOERR_TRUNCATE:
        switch (systemError) {
        case EIO:
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
        case EROFS:
        case EBADF:
        case EINVAL:
        case ENXIO:
        case ENODEV:
        case EPERM:
        case EACCES:
        case EAGAIN:
        case EINTR:
        case ESTALE:
            return true;
        default:
            return false;
        }
    default:
        return true;
    }
}

// SQLite's message, and the system's words for errno when SQLite saw one. SQLite keeps the
// errno of its last failed input, output or open, so it belongs only to such a failure.
std::string detailOf(const SQLite::Exception& failure, int code, int systemError) {
    std::string detail = failure.what();
    const int primary = code & 0xFF;
    if (systemError != 0 && (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) &&
        couldCause(code, systemError))
        detail += " (" + std::string(std::strerror(systemError)) + ")";
    return detail;
}

bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// Root passes this test for every file, as it passes SQLite's own opens.
bool writable(const std::string& path) {
    return ::access(path.c_str(), R_OK | W_OK) == 0;
}

std::string folderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

std::string ownerOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return "another user";
    char buffer[1024];
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(status.st_uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return "the user " + inQuotes(found->pw_name);
    return "the user " + std::to_string(status.st_uid);
}

// In what follows, `path` is the file the registry resolves to, beside which SQLite keeps its
// journal and WAL files, and `file` names the registry in messages, as describePath() gives it.

// SQLite makes its journal, or its WAL files, beside the registry. The folder holding the program
// must never be the one made writable: a file put there could be run by the program.
const std::string ownFolderAdvice = "Keep the registry in a folder of its own that its operators may write, and "
                                    "where the registry is looked for, put a symbolic link to it.";

Error folderNotWritable(const std::string& path, const std::string& file) {
    return Error(ErrorNumber::CompanionFileUnusable,
                 "No journal can be made beside " + file + ": the folder " + inQuotes(folderOf(path)) +
                     " may not be written by this user, although the file itself may. " + ownFolderAdvice);
}

Error sharedMemoryUnusable(const std::string& path, const std::string& file, const std::string& detail) {
    const std::string shm = path + "-shm";
    struct stat status {};
    // A file of this user's own (or any file, for root) is not kept from this user by its owner:
    // the system refused something else, and its own words say what.
    if (::stat(shm.c_str(), &status) == 0 && (status.st_uid == ::geteuid() || ::geteuid() == 0))
        return Error(ErrorNumber::DiskError,
                     "Using the shared-memory file " + inQuotes(shm) + " beside " + file + " failed: " +
                         detail + ".");
    const std::string who =
        exists(shm)
            ? "it belongs to " + ownerOf(shm) + ". Use the registry as that user, or allow this user to write it."
            : "it cannot be made in the folder " + inQuotes(folderOf(path)) + ". " + ownFolderAdvice;
    return Error(ErrorNumber::CompanionFileUnusable, "The shared-memory file " + inQuotes(shm) + " beside " +
                                                         file + " cannot be used by this user (" + detail +
                                                         "); " + who);
}

// The write-ahead log or the shared-memory file beside the registry, when this user may not
// write it: SQLite then reads the registry but refuses every write, or cannot open it.
std::optional<Error> walFileAtFault(const std::string& path, const std::string& file, const std::string& detail) {
    const std::string wal = path + "-wal";
    if (exists(wal) && !writable(wal))
        return Error(ErrorNumber::CompanionFileUnusable,
                     "The write-ahead log " + inQuotes(wal) + " beside " + file + " belongs to " +
                         ownerOf(wal) +
                         " and may not be written by this user. Use the registry as that user, or "
                         "allow this user to write the log; do not delete it.");
    if (exists(path + "-shm") && !writable(path + "-shm"))
        return sharedMemoryUnusable(path, file, detail);
    return std::nullopt;
}

// SQLite could not open a file it needs beside the registry, or the registry itself. Which one
// is told by what lies beside it, and a permission refused on the way by the permissions there.
// `given` is the registry as named, `path` the file it resolves to (SQLite keeps its journal and
// WAL files beside that one) and `file` how messages name the registry.
Error cannotOpen(const std::string& given, const std::string& path, const std::string& file,
                 const std::string& detail) {
    const std::string journal = path + "-journal";
    if (exists(journal) && !writable(journal))
        return Error(ErrorNumber::JournalNotRolledBack,
                     "The journal " + inQuotes(journal) + ", left by a save that was cut off, belongs to " +
                         ownerOf(journal) + " and may not be written by this user, so it cannot be rolled back and " +
                         file +
                         " cannot be read safely. Open the registry once as that user, or allow "
                         "this user to write the journal; do not delete it.");
    if (auto walFile = walFileAtFault(path, file, detail))
        return *walFile;
    if (exists(path) && writable(path) && !writable(folderOf(path)))
        return folderNotWritable(path, file);
    if (const std::string refusal = permissionRefusal(given); !refusal.empty())
        return Error(ErrorNumber::CannotOpen, refusal);
    return Error(ErrorNumber::CannotOpen, file + " cannot be opened: " + detail + ".");
}

} // namespace

std::string describePath(const std::string& path) {
    const std::string target = resolved(path);
    if (target == path)
        return inQuotes(path);
    return inQuotes(path) + " (a link to " + inQuotes(target) + ")";
}

std::string permissionRefusal(const std::string& path) {
    return refusalOn(path, path, 0);
}

Error translate(const SQLite::Exception& failure, const std::string& path, int systemError) {
    const std::string file = describePath(path);
    const std::string real = resolved(path);
    const int code = failure.getExtendedErrorCode() >= 0 ? failure.getExtendedErrorCode() : failure.getErrorCode();
    const std::string detail = detailOf(failure, code, systemError);
    switch (code) {
    case SQLITE_CONSTRAINT_TRIGGER:
        // RAISE() in a trigger of the file: its words are the file's, not Vantrel's.
        return Error(ErrorNumber::ValueRefused, "A trigger of the registry " + file +
                                                    " refused the change; the registry file says: \"" +
                                                    failure.what() + "\". Nothing was saved.");
    case SQLITE_READONLY_DIRECTORY:
        return folderNotWritable(real, file);
    case SQLITE_READONLY_ROLLBACK:
        return Error(ErrorNumber::JournalNotRolledBack,
                     file + " holds a journal left by a save that was cut off, " + inQuotes(real + "-journal") +
                         ", which must be rolled back before the registry can be read; an open that may only read "
                         "cannot do that. " +
                         (exists(real) && !writable(real)
                              ? "This user may only read the file: open the registry once as a user who may write "
                                "it, then try again."
                              : "Open the registry once with write access (Vantrel does), then try again."));
    case SQLITE_READONLY_RECOVERY:
        return Error(ErrorNumber::JournalNotRolledBack,
                     "The write-ahead log " + inQuotes(real + "-wal") +
                         ", left by a program that was cut off, must "
                         "be recovered before " +
                         file +
                         " can be read; an open that may only read cannot do that. "
                         "Open the registry once with write access (Vantrel does), then try again.");
    case SQLITE_READONLY_CANTLOCK:
    case SQLITE_READONLY_CANTINIT:
    case SQLITE_IOERR_SHMOPEN:
        return sharedMemoryUnusable(real, file, detail);
    case SQLITE_IOERR_SHMSIZE:
    case SQLITE_IOERR_SHMLOCK:
    case SQLITE_IOERR_SHMMAP:
        return Error(ErrorNumber::DiskError,
                     "Using the shared-memory file " + inQuotes(real + "-shm") + " failed: " + detail + ".");
    case SQLITE_IOERR_READ:
    case SQLITE_IOERR_SHORT_READ:
        return Error(ErrorNumber::DiskError, "Reading " + file + " failed: " + detail +
                                                 ". The disk or its file system reported the error; the file was "
                                                 "not found damaged. Check the disk, then try again.");
    case SQLITE_IOERR_WRITE:
    case SQLITE_IOERR_FSYNC:
    case SQLITE_IOERR_DIR_FSYNC:
    case SQLITE_IOERR_TRUNCATE:
        return Error(ErrorNumber::DiskError, "Writing " + file + " failed: " + detail +
                                                 ". The disk or its file system reported the error; what was being "
                                                 "saved was not saved.");
    case SQLITE_IOERR_DELETE:
        return Error(ErrorNumber::DiskError, "The journal " + inQuotes(real + "-journal") +
                                                 " could not be removed after a save: " + detail + ".");
    default:
        break;
    }
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PROTOCOL:
        return Error(ErrorNumber::FileInUse,
                     file + " is in use by another program. Try again when that program has finished with it.");
    case SQLITE_NOTADB:
        return Error(ErrorNumber::NotADatabase, file + " is not a registry database.");
    case SQLITE_CORRUPT:
        return Error(ErrorNumber::DamagedFile, file + " is damaged: " + detail + ".");
    case SQLITE_READONLY:
        // A file this user may write is read-only to SQLite when its -wal or -shm file is not.
        if (exists(real) && writable(real))
            if (auto walFile = walFileAtFault(real, file, detail))
                return *walFile;
        return Error(ErrorNumber::ReadOnlyFile, file + " cannot be changed: it may only be read.");
    case SQLITE_FULL:
        return Error(ErrorNumber::DiskError, "The disk holding " + file +
                                                 " is full: what was being saved was not saved. Free some space, "
                                                 "then try again.");
    case SQLITE_IOERR:
        return Error(ErrorNumber::DiskError, "Reading or writing " + file + " failed: " + detail + ".");
    case SQLITE_CANTOPEN:
        return cannotOpen(path, real, file, detail);
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Error(ErrorNumber::CannotOpen, file + " cannot be opened: " + detail + ".");
    case SQLITE_CONSTRAINT:
        return Error(ErrorNumber::ValueRefused, "A value was refused by the rules of " + file + ": " + detail + ".");
    case SQLITE_NOMEM:
        return Error(ErrorNumber::OutOfMemory,
                     "Working on " + file + " needed more memory than Vantrel allows the database engine (" +
                         std::to_string(DBEngine::HeapLimitBytes >> 30) +
                         " GiB): something in the registry file makes the work far larger than a registry needs. "
                         "Nothing was changed.");
    case SQLITE_TOOBIG:
        return Error(ErrorNumber::ValueTooLarge, file + " holds a value larger than Vantrel reads: " + detail + ".");
    default:
        return Error(ErrorNumber::EngineFailure, "The database engine failed on " + file + ": " + detail + ".");
    }
}

} // namespace dao
