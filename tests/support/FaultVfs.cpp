// SPDX-License-Identifier: MIT
#include "tests/support/FaultVfs.h"

#include <sqlite3.h>

#include <array>
#include <cerrno>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace testing_support {

namespace {

struct State {
    sqlite3_vfs* real = nullptr;
    std::string folder;
    std::array<std::array<int, fileRoles>, fileCalls> counts{};
    bool armed = false;
    Fault fault{};
    int seen = 0;
    bool fired = false;
    bool recording = false;
    std::vector<FileEvent> events;
};

State& state() {
    static State instance;
    return instance;
}

// What the layer knows of one open file. Kept apart from the sqlite3_file, which SQLite
// allocates as raw memory.
struct FileInfo {
    bool watched = false;
    FileRole role = FileRole::Registry;
    std::string name;
    bool syncsDirectory = false; // a new journal or WAL: its first sync makes its name durable too
};

struct LayerFile {
    sqlite3_file base;
    FileInfo* info;
};

sqlite3_file* realFile(sqlite3_file* file) {
    return reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + sizeof(LayerFile));
}

FileInfo& infoOf(sqlite3_file* file) {
    return *reinterpret_cast<LayerFile*>(file)->info;
}

// The folder and name of a path SQLite passes (always absolute for files it names).
bool splitPath(const char* path, std::string& folder, std::string& name) {
    if (!path)
        return false;
    const std::string whole(path);
    const auto slash = whole.rfind('/');
    if (slash == std::string::npos)
        return false;
    folder = whole.substr(0, slash);
    name = whole.substr(slash + 1);
    return true;
}

bool inWatchedFolder(const char* path, std::string& name) {
    std::string folder;
    return !state().folder.empty() && splitPath(path, folder, name) && folder == state().folder;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Counts the call; true when the armed fault fails it.
bool failsNow(FileCall call, FileRole role) {
    State& s = state();
    ++s.counts[static_cast<std::size_t>(call)][static_cast<std::size_t>(role)];
    if (!s.armed || s.fault.call != call || s.fault.role != role)
        return false;
    ++s.seen;
    if (s.seen == s.fault.nth || (s.fault.fromThenOn && s.seen > s.fault.nth)) {
        s.fired = true;
        if (s.fault.systemError != 0)
            errno = s.fault.systemError;
        return true;
    }
    return false;
}

bool failsNow(sqlite3_file* file, FileCall call, FileRole role) {
    return infoOf(file).watched && failsNow(call, role);
}

bool failsNow(sqlite3_file* file, FileCall call) {
    return failsNow(file, call, infoOf(file).role);
}

void record(FileEvent event) {
    if (state().recording)
        state().events.push_back(std::move(event));
}

// The shared-memory file is left out: SQLite rebuilds it from the WAL after a crash.
bool recorded(sqlite3_file* file) {
    return infoOf(file).watched && state().recording;
}

int layerClose(sqlite3_file* file) {
    const int rc = realFile(file)->pMethods->xClose(realFile(file));
    delete reinterpret_cast<LayerFile*>(file)->info;
    reinterpret_cast<LayerFile*>(file)->info = nullptr;
    return rc;
}

int layerRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    if (failsNow(file, FileCall::Read))
        return state().fault.error;
    return realFile(file)->pMethods->xRead(realFile(file), buffer, amount, offset);
}

int layerWrite(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
    if (failsNow(file, FileCall::Write))
        return state().fault.error;
    const int rc = realFile(file)->pMethods->xWrite(realFile(file), buffer, amount, offset);
    if (rc == SQLITE_OK && recorded(file))
        record({FileEvent::Kind::Write, infoOf(file).name, offset,
                std::string(static_cast<const char*>(buffer), static_cast<std::size_t>(amount))});
    return rc;
}

int layerTruncate(sqlite3_file* file, sqlite3_int64 size) {
    if (failsNow(file, FileCall::Truncate))
        return state().fault.error;
    const int rc = realFile(file)->pMethods->xTruncate(realFile(file), size);
    if (rc == SQLITE_OK && recorded(file))
        record({FileEvent::Kind::Truncate, infoOf(file).name, size, {}});
    return rc;
}

int layerSync(sqlite3_file* file, int flags) {
    if (failsNow(file, FileCall::Sync))
        return state().fault.error;
    const int rc = realFile(file)->pMethods->xSync(realFile(file), flags);
    if (rc == SQLITE_OK && recorded(file)) {
        record({FileEvent::Kind::Sync, infoOf(file).name, 0, {}});
        if (infoOf(file).syncsDirectory)
            record({FileEvent::Kind::DirectorySync, {}, 0, {}});
    }
    // Unix syncs the folder of a new journal or WAL once, at the file's first sync.
    if (rc == SQLITE_OK)
        infoOf(file).syncsDirectory = false;
    return rc;
}

int layerFileSize(sqlite3_file* file, sqlite3_int64* size) {
    return realFile(file)->pMethods->xFileSize(realFile(file), size);
}

int layerLock(sqlite3_file* file, int level) {
    if (failsNow(file, FileCall::Lock))
        return state().fault.error;
    return realFile(file)->pMethods->xLock(realFile(file), level);
}

int layerUnlock(sqlite3_file* file, int level) {
    return realFile(file)->pMethods->xUnlock(realFile(file), level);
}

int layerCheckReservedLock(sqlite3_file* file, int* reserved) {
    return realFile(file)->pMethods->xCheckReservedLock(realFile(file), reserved);
}

int layerFileControl(sqlite3_file* file, int op, void* argument) {
    return realFile(file)->pMethods->xFileControl(realFile(file), op, argument);
}

int layerSectorSize(sqlite3_file* file) {
    return realFile(file)->pMethods->xSectorSize(realFile(file));
}

int layerDeviceCharacteristics(sqlite3_file* file) {
    return realFile(file)->pMethods->xDeviceCharacteristics(realFile(file));
}

int layerShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** memory) {
    if (failsNow(file, FileCall::Open, FileRole::Shm)) {
        *memory = nullptr;
        return state().fault.error;
    }
    return realFile(file)->pMethods->xShmMap(realFile(file), region, size, extend, memory);
}

int layerShmLock(sqlite3_file* file, int offset, int count, int flags) {
    // Only taking a lock can fail: SQLite does not look at what releasing one returns.
    if ((flags & SQLITE_SHM_LOCK) && failsNow(file, FileCall::Lock, FileRole::Shm))
        return state().fault.error;
    return realFile(file)->pMethods->xShmLock(realFile(file), offset, count, flags);
}

void layerShmBarrier(sqlite3_file* file) {
    realFile(file)->pMethods->xShmBarrier(realFile(file));
}

int layerShmUnmap(sqlite3_file* file, int deleteFlag) {
    return realFile(file)->pMethods->xShmUnmap(realFile(file), deleteFlag);
}

// Version 2: shared memory for WAL, but no memory-mapped reads, so every read of the file is a
// call the layer sees.
const sqlite3_io_methods layerMethods = {
    2,
    layerClose,
    layerRead,
    layerWrite,
    layerTruncate,
    layerSync,
    layerFileSize,
    layerLock,
    layerUnlock,
    layerCheckReservedLock,
    layerFileControl,
    layerSectorSize,
    layerDeviceCharacteristics,
    layerShmMap,
    layerShmLock,
    layerShmBarrier,
    layerShmUnmap,
    nullptr,
    nullptr,
};

int layerOpen(sqlite3_vfs*, sqlite3_filename path, sqlite3_file* file, int flags, int* outFlags) {
    auto* layer = reinterpret_cast<LayerFile*>(file);
    layer->base.pMethods = nullptr;
    auto info = std::make_unique<FileInfo>();
    // Temporary files and super-journals are left alone.
    if (inWatchedFolder(path, info->name) &&
        (flags & (SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_WAL))) {
        info->watched = true;
        info->role = (flags & SQLITE_OPEN_MAIN_DB)        ? FileRole::Registry
                     : (flags & SQLITE_OPEN_MAIN_JOURNAL) ? FileRole::Journal
                                                          : FileRole::Wal;
    }
    if (info->watched && failsNow(FileCall::Open, info->role))
        return state().fault.error;
    struct stat status;
    const bool existed = path && stat(path, &status) == 0;
    const int rc = state().real->xOpen(state().real, path, realFile(file), flags, outFlags);
    if (rc != SQLITE_OK)
        return rc; // the real file was left without methods: nothing to close
    const bool created = (flags & SQLITE_OPEN_CREATE) && !existed;
    info->syncsDirectory = (flags & SQLITE_OPEN_CREATE) && info->role != FileRole::Registry;
    if (info->watched && created && state().recording)
        record({FileEvent::Kind::Create, info->name, 0, {}});
    layer->info = info.release();
    layer->base.pMethods = &layerMethods;
    return SQLITE_OK;
}

int layerDelete(sqlite3_vfs*, const char* path, int syncDirectory) {
    std::string name;
    const bool watched = inWatchedFolder(path, name);
    const FileRole role = endsWith(name, "-wal") ? FileRole::Wal : FileRole::Journal;
    if (watched && failsNow(FileCall::Delete, role))
        return state().fault.error;
    if (watched && (syncDirectory & 1) && failsNow(FileCall::FolderSync, role)) {
        // The file is removed; only the folder's sync fails.
        if (state().real->xDelete(state().real, path, 0) == SQLITE_OK)
            record({FileEvent::Kind::Delete, name, 0, {}});
        return state().fault.error;
    }
    const int rc = state().real->xDelete(state().real, path, syncDirectory);
    if (rc == SQLITE_OK && watched && state().recording) {
        record({FileEvent::Kind::Delete, name, 0, {}});
        if (syncDirectory & 1)
            record({FileEvent::Kind::DirectorySync, {}, 0, {}});
    }
    return rc;
}

int layerAccess(sqlite3_vfs*, const char* path, int flags, int* result) {
    return state().real->xAccess(state().real, path, flags, result);
}

int layerFullPathname(sqlite3_vfs*, const char* path, int size, char* out) {
    return state().real->xFullPathname(state().real, path, size, out);
}

void* layerDlOpen(sqlite3_vfs*, const char* path) {
    return state().real->xDlOpen(state().real, path);
}

void layerDlError(sqlite3_vfs*, int size, char* message) {
    state().real->xDlError(state().real, size, message);
}

void (*layerDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
    return state().real->xDlSym(state().real, handle, symbol);
}

void layerDlClose(sqlite3_vfs*, void* handle) {
    state().real->xDlClose(state().real, handle);
}

int layerRandomness(sqlite3_vfs*, int size, char* out) {
    return state().real->xRandomness(state().real, size, out);
}

int layerSleep(sqlite3_vfs*, int microseconds) {
    return state().real->xSleep(state().real, microseconds);
}

int layerCurrentTime(sqlite3_vfs*, double* now) {
    return state().real->xCurrentTime(state().real, now);
}

int layerGetLastError(sqlite3_vfs*, int size, char* message) {
    return state().real->xGetLastError(state().real, size, message);
}

int layerCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* now) {
    return state().real->xCurrentTimeInt64(state().real, now);
}

} // namespace

const char* roleName(FileRole role) {
    static const char* const names[] = {"registry", "journal", "WAL", "-shm"};
    return names[static_cast<int>(role)];
}

const char* callName(FileCall call) {
    static const char* const names[] = {"open", "read", "write", "sync", "truncate", "delete", "lock", "folder sync"};
    return names[static_cast<int>(call)];
}

void FaultVfs::install() {
    static sqlite3_vfs layer;
    State& s = state();
    if (s.real)
        return;
    s.real = sqlite3_vfs_find(nullptr);
    if (!s.real)
        throw std::runtime_error("SQLite has no default VFS");
    layer.iVersion = 2;
    layer.szOsFile = static_cast<int>(sizeof(LayerFile)) + s.real->szOsFile;
    layer.mxPathname = s.real->mxPathname;
    layer.zName = "vantrel-fault";
    layer.xOpen = layerOpen;
    layer.xDelete = layerDelete;
    layer.xAccess = layerAccess;
    layer.xFullPathname = layerFullPathname;
    layer.xDlOpen = layerDlOpen;
    layer.xDlError = layerDlError;
    layer.xDlSym = layerDlSym;
    layer.xDlClose = layerDlClose;
    layer.xRandomness = layerRandomness;
    layer.xSleep = layerSleep;
    layer.xCurrentTime = layerCurrentTime;
    layer.xGetLastError = layerGetLastError;
    layer.xCurrentTimeInt64 = layerCurrentTimeInt64;
    if (sqlite3_vfs_register(&layer, 1) != SQLITE_OK)
        throw std::runtime_error("cannot register the fault-injecting VFS");
}

void FaultVfs::watch(const std::string& folder) {
    state().folder = folder;
}

void FaultVfs::resetCounts() {
    state().counts = {};
}

int FaultVfs::calls(FileCall call, FileRole role) {
    return state().counts[static_cast<std::size_t>(call)][static_cast<std::size_t>(role)];
}

void FaultVfs::arm(const Fault& fault) {
    State& s = state();
    s.fault = fault;
    s.armed = true;
    s.seen = 0;
    s.fired = false;
}

void FaultVfs::disarm() {
    state().armed = false;
}

bool FaultVfs::fired() {
    return state().fired;
}

void FaultVfs::startRecording() {
    state().events.clear();
    state().recording = true;
}

std::vector<FileEvent> FaultVfs::stopRecording() {
    state().recording = false;
    return std::move(state().events);
}

} // namespace testing_support
