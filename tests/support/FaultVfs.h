// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// A file layer for the durability checks that sits between SQLite and the disk. It wraps the
// default VFS and becomes the default itself, so every connection the store, the registry tool
// or a test opens goes through it. For the files of one watched folder it counts the calls,
// fails the Nth of a kind with the error a failing disk gives, and records every write, sync,
// truncation, creation and removal, so that the disk after a power cut can be rebuilt.
namespace testing_support {

// Which file of a registry a call works on. The shared-memory index of WAL mode ("-shm") is
// reached through the registry's own file object (xShmMap, xShmLock).
enum class FileRole { Registry, Journal, Wal, Shm };
constexpr int fileRoles = 4;

// Open counts xShmMap for the -shm; Lock counts xLock, and xShmLock for the -shm. FolderSync is
// the sync of the folder once a journal or WAL is removed: when it fails, the file is gone.
enum class FileCall { Open, Read, Write, Sync, Truncate, Delete, Lock, FolderSync };
constexpr int fileCalls = 8;

const char* roleName(FileRole role);
const char* callName(FileCall call);

struct Fault {
    FileCall call;
    FileRole role;
    int nth;             // 1: the first such call after arming
    int error;           // the SQLite result code the call returns instead of doing its work
    bool fromThenOn;     // every later such call fails too, as a dead disk would
    int systemError = 0; // the errno the failed call leaves, as the system's call would; 0 leaves errno alone
};

// One change to the watched folder, in the order the calls returned.
struct FileEvent {
    enum class Kind { Create, Write, Truncate, Sync, Delete, DirectorySync };
    Kind kind;
    std::string name;        // the file's name inside the folder; empty for DirectorySync
    std::int64_t offset = 0; // Write: where the bytes go; Truncate: the new size
    std::string bytes;       // Write: the bytes
};

class FaultVfs {
public:
    // Registers the layer as SQLite's default VFS. Safe to call more than once; must run before
    // the first connection opens.
    static void install();

    // Only files directly inside `folder` are counted, failed and recorded; "" watches nothing.
    static void watch(const std::string& folder);

    // Sets every call count to zero.
    static void resetCounts();
    static int calls(FileCall call, FileRole role);

    static void arm(const Fault& fault);
    static void disarm();
    // Whether the armed fault has failed a call.
    static bool fired();

    static void startRecording();
    // Stops recording and hands over what was recorded.
    static std::vector<FileEvent> stopRecording();
};

// Installs the layer for a whole test program, before its first test opens a file:
//     const auto* const faultLayer = ::testing::AddGlobalTestEnvironment(new FaultVfsEnvironment);
class FaultVfsEnvironment : public ::testing::Environment {
public:
    void SetUp() override { FaultVfs::install(); }
};

// Watches `folder` for as long as it lives. Its end stops the watch and disarms any fault, also
// when a failed assertion leaves the test early, so that no later test meets a fault of this one.
class FaultWatch {
public:
    explicit FaultWatch(const std::string& folder) { FaultVfs::watch(folder); }
    FaultWatch(const FaultWatch&) = delete;
    FaultWatch& operator=(const FaultWatch&) = delete;
    ~FaultWatch() {
        FaultVfs::disarm();
        FaultVfs::watch("");
    }
};

} // namespace testing_support
