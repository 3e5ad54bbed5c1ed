// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

class Progress;

// A new registry holding the empty "Servers" table as the program makes it. An existing file is
// never replaced. Store failures are thrown as dao::Error, other file failures as FileError; on
// any failure the new file is removed again.
void createRegistry(const std::string& path);

// A new registry, as createRegistry makes it, holding `accounts` accounts from
// DemoGenerator(seed, withDuplicates). On any failure the new file is removed again.
void createDemo(const std::string& path, std::size_t accounts, std::uint64_t seed, Progress& progress,
                bool withDuplicates = false);

} // namespace cli
