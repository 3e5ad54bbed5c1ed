// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

namespace cli {

// The commands that read a registry out. Both read it as it was saved: a journal a crash left is
// rolled back first. Store failures are thrown as dao::Error; a failed write to `output` as
// FileError.

// Writes a header and every account, all eight fields, as CSV (see AccountFormat and CsvWriter)
// in "User" order. Returns the count.
std::size_t exportCsv(const std::string& path, std::ostream& output);

// Writes every user name in "User" order, one a line (a null name as an empty line).
void listUsers(const std::string& path, std::ostream& output);

} // namespace cli
