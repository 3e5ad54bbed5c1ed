// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string>

namespace dao {

// The network file system that holds `path` (or, when `path` does not exist, its folder), named
// for a message: "NFS", "CIFS", "a FUSE file system such as sshfs"...; empty on a local disk,
// when the file system cannot be told, and on platforms other than Linux. SQLite's locking
// cannot be trusted on such file systems: two programs writing at once may damage the file.
// Never throws.
std::string networkFileSystem(const std::string& path);

// The network file system whose statfs f_type is `type`, named as networkFileSystem names it;
// empty for any other type.
std::string networkFileSystemOfType(unsigned long type);

// For tests: networkFileSystem gives what `detect` gives instead of asking the system. Empty:
// the system is asked again.
void setNetworkFileSystemForTesting(std::function<std::string(const std::string&)> detect);

} // namespace dao
