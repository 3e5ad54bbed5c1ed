// SPDX-License-Identifier: MIT
#include "store/FileSystem.h"

#include <gtest/gtest.h>

namespace {

// The file systems whose locking SQLite cannot trust are named; local ones are not.
TEST(FileSystemTest, NetworkFileSystemsAreKnownByTheirType) {
    const struct {
        unsigned long type;
        const char* name;
    } cases[] = {
        {0x6969, "NFS"},
        {0xFF534D42, "CIFS"},
        {0xFFFFFFFFFF534D42, "CIFS"}, // where f_type is a signed 64-bit number
        {0xFE534D42, "SMB2"},
        {0x65735546, "a FUSE file system such as sshfs"},
        {0x01021997, "9P"},
        {0xEF53, ""},     // ext2, ext3, ext4
        {0x01021994, ""}, // tmpfs
        {0x794C7630, ""}, // overlayfs
    };
    for (const auto& test : cases)
        EXPECT_EQ(dao::networkFileSystemOfType(test.type), test.name) << std::hex << test.type;
}

} // namespace
