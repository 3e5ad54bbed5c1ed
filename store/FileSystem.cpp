// SPDX-License-Identifier: MIT
#include "store/FileSystem.h"

#include <filesystem>
#include <utility>

#ifdef __linux__
#include <sys/vfs.h>
#endif

namespace dao {

namespace {

std::function<std::string(const std::string&)> detectionForTesting;

#ifdef __linux__
// The file system of `path`, or of its folder when `path` does not exist; 0 when unknown.
unsigned long fileSystemType(const std::string& path) {
    struct statfs status {};
    if (::statfs(path.c_str(), &status) == 0)
        return static_cast<unsigned long>(status.f_type);
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (::statfs(folder.empty() ? "." : folder.c_str(), &status) == 0)
        return static_cast<unsigned long>(status.f_type);
    return 0;
}
#endif

} // namespace

std::string networkFileSystemOfType(unsigned long type) {
    // The kernel's magic numbers (linux/magic.h and the file systems' own sources); f_type is
    // signed on some platforms, so only its low 32 bits are compared.
    struct Known {
        unsigned long type;
        const char* name;
    };
    static constexpr Known known[] = {
        {0x6969, "NFS"},
        {0x517B, "SMB"},
        {0xFE534D42, "SMB2"},
        {0xFF534D42, "CIFS"},
        {0x65735546, "a FUSE file system such as sshfs"},
        {0x73757245, "Coda"},
        {0x5346414F, "AFS"},
        {0x6B414653, "AFS"},
        {0x01021997, "9P"},
        {0x00C36400, "Ceph"},
        {0x564C, "NCP"},
        {0x0BD00BD0, "Lustre"},
        {0x20030528, "OrangeFS"},
    };
    for (const Known& system : known)
        if ((type & 0xFFFFFFFFul) == system.type)
            return system.name;
    return {};
}

std::string networkFileSystem(const std::string& path) {
    if (detectionForTesting)
        return detectionForTesting(path);
#ifdef __linux__
    return networkFileSystemOfType(fileSystemType(path));
#else
    (void)path;
    return {};
#endif
}

void setNetworkFileSystemForTesting(std::function<std::string(const std::string&)> detect) {
    detectionForTesting = std::move(detect);
}

} // namespace dao
