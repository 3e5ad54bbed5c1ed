// SPDX-License-Identifier: MIT
#include "cli/Backup.h"

#include "cli/Check.h"
#include "cli/FileError.h"
#include "cli/Progress.h"
#include "cli/RegistryFile.h"
#include "cli/StoreProgress.h"
#include "cli/TerminalText.h"
#include "store/Error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

std::function<void(const std::string&, const std::string&)> backupHook;

// A backup's copy, made under a private name in its destination's folder, with the source's
// permission bits and, where this user may give them, its owner and group: never readable by
// anyone the source keeps out, not even while it is empty. It is moved to the destination only
// if no file has that name yet; until then, and on any failure, the destination is not touched.
// The destructor removes the copy, and its journal, unless it was moved into place; a file that
// another program put in its place is left alone.
class PrivateCopy {
public:
    PrivateCopy(const std::string& destination, const struct stat& source) : m_destination(destination) {
        const std::filesystem::path target(destination);
        m_path = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
        m_descriptor = ::mkostemp(m_path.data(), O_CLOEXEC); // mode 0600
        if (m_descriptor < 0)
            cannotMake(destination);
        mode_t mode = source.st_mode & 0777;
        const uid_t owner = ::geteuid() == 0 ? source.st_uid : static_cast<uid_t>(-1);
        // Where the copy cannot have the source's group, its group may not read it either.
        if (::fchown(m_descriptor, owner, source.st_gid) != 0)
            mode &= ~static_cast<mode_t>(S_IRWXG);
        if (::fstat(m_descriptor, &m_made) != 0 || ::fchmod(m_descriptor, mode) != 0) {
            const int failure = errno;
            ::unlink(m_path.c_str());
            ::close(m_descriptor);
            errno = failure;
            cannotMake(destination);
        }
    }
    PrivateCopy(const PrivateCopy&) = delete;
    PrivateCopy& operator=(const PrivateCopy&) = delete;
    ~PrivateCopy() {
        if (!m_placed && isOurs()) {
            removeNewFile(m_path);
            std::error_code ignored;
            std::filesystem::remove(m_path + "-wal", ignored);
            std::filesystem::remove(m_path + "-shm", ignored);
        }
        ::close(m_descriptor);
    }

    const std::string& path() const { return m_path; }

    // Gives the copy the destination's name. A file that appeared there meanwhile is kept and
    // FileError thrown. Without RENAME_NOREPLACE (some network file systems), a hard link gives
    // the same guarantee: it too fails when the name is taken.
    void place() {
        if (!isOurs())
            throw FileError("The copy being made for " + dao::inQuotes(m_destination) + ", " + dao::inQuotes(m_path) +
                            ", was replaced by another program; that file was left as it is and nothing was copied.");
        int result = ::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, m_destination.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            result = ::link(m_path.c_str(), m_destination.c_str());
            if (result == 0)
                ::unlink(m_path.c_str());
        }
        if (result != 0 && errno == EEXIST)
            throw FileError(dao::inQuotes(m_destination) +
                            " appeared while the copy was being made: another program made it. It was left as it "
                            "is and the copy was removed; give a new file name.");
        if (result != 0)
            cannotMake(m_destination);
        m_placed = true;
        // The new name lasts through a power cut only once its folder is written out.
        const std::string folder = std::filesystem::path(m_destination).parent_path().string();
        if (const int directory = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            directory >= 0) {
            ::fsync(directory);
            ::close(directory);
        }
    }

private:
    bool isOurs() const {
        struct stat now {};
        return ::lstat(m_path.c_str(), &now) == 0 && now.st_dev == m_made.st_dev && now.st_ino == m_made.st_ino;
    }

    std::string m_destination;
    std::string m_path;
    int m_descriptor = -1;
    struct stat m_made {};
    bool m_placed = false;
};

// What SQLite's integrity check finds wrong with the file at `path`; empty when it is sound. A
// file SQLite cannot read as a database is damaged too; other failures are thrown as the store's
// errors. The check runs the file's own rules and index expressions: it is opened as every
// registry is, against hostile files, and bounded as `check` is. `readOnly` false: a copy is
// opened to write, so that, in WAL mode, closing it removes its -wal and -shm files.
std::string integrityDamage(const std::string& path, bool readOnly, Progress& progress) {
    std::string damage;
    try {
        auto database = openRegistry(path, readOnly);
        database->SetTimeLimit(checkTimeLimit(path));
        const ProgressWatch watch(*database, progress);
        for (const std::string& problem : database->IntegrityProblems()) {
            if (damage.size() >= 1000)
                break;
            damage += (damage.empty() ? "" : "; ") + problem;
        }
        database->Close();
    } catch (const dao::Error& error) {
        if (error.code() != dao::ErrorNumber::DamagedFile && error.code() != dao::ErrorNumber::NotADatabase)
            throw;
        damage = error.description();
    }
    return damage;
}

} // namespace

void setBackupHookForTesting(std::function<void(const std::string&, const std::string&)> hook) {
    backupHook = std::move(hook);
}

void backup(const std::string& path, const std::string& destination, Progress* shown) {
    Progress& progress = shown ? *shown : Progress::none();
    auto source = openRegistry(path, true);
    struct stat sourceStatus {};
    if (::stat(path.c_str(), &sourceStatus) != 0)
        throw FileError(dao::inQuotes(path) + " cannot be read: " + std::strerror(errno) + ".");
    if (struct stat existing{}; ::lstat(destination.c_str(), &existing) == 0)
        refuseExisting(destination);
    PrivateCopy copy(destination, sourceStatus);
    // A copy of one moment, which another program's write cannot change half-way.
    progress.nextStage("Copying", 0, "pages");
    source->CopyTo(copy.path(), destination, [&progress](int copied, int pages) {
        progress.setTotal(static_cast<std::size_t>(pages));
        progress.setDone(static_cast<std::size_t>(copied));
    });
    source->Close();
    if (backupHook)
        backupHook(copy.path(), destination);

    progress.nextStage("Checking the copy's integrity");
    const std::string damage = integrityDamage(copy.path(), false, progress);
    if (!damage.empty()) {
        // A copy damaged on the way says nothing of the registry: check the registry itself.
        std::string sourceDamage;
        try {
            progress.nextStage("Checking the integrity of " + messageLine(dao::inQuotes(path)));
            sourceDamage = integrityDamage(path, true, progress);
        } catch (const dao::Error&) {
        }
        if (!sourceDamage.empty())
            throw FileError("The copy of " + dao::inQuotes(path) + " failed SQLite's integrity check (" + damage +
                            "), so " + dao::inQuotes(path) + " itself is damaged; the copy was removed.");
        throw FileError("The copy of " + dao::inQuotes(path) + " failed SQLite's integrity check (" + damage +
                        "), although " + dao::inQuotes(path) +
                        " itself passes it: the copy was damaged on its way to the disk. The copy was removed; "
                        "check the disk of " +
                        dao::inQuotes(destination) + ", then try again.");
    }
    copy.place();
}

} // namespace cli
