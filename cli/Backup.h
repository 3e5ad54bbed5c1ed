// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string>

namespace cli {

class Progress;

// A copy of the registry `path` at `destination` as it was at one moment, made through SQLite's
// online backup while other programs may go on using the file (their writes wait for the copy,
// within their busy timeout), then read back through SQLite's integrity check. The copy has the
// registry's permission bits and, run as root, its owner and group; where it cannot have the
// registry's group, its group may not read it. It is made under a private name beside
// `destination` and given that name at the end, only if no file has it yet: an existing
// destination, or one that appears meanwhile, is never replaced nor removed, and neither is
// anything beside it (a "-journal" included). A copy that fails on the way is removed. Store
// failures are thrown as dao::Error, other file failures as FileError, which names the copy, not
// the registry, when only the copy is damaged. `progress`, when given, shows the pages copied of
// the file's pages, then the integrity check as a stage of its own.
void backup(const std::string& path, const std::string& destination, Progress* progress = nullptr);

// For tests: backup calls `hook` with the copy's private path and the destination once the copy
// is written, before it is checked and given the destination's name. Empty: none.
void setBackupHookForTesting(std::function<void(const std::string&, const std::string&)> hook);

} // namespace cli
