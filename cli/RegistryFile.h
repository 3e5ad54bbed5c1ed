// SPDX-License-Identifier: MIT
#pragma once

#include "store/Database.h"
#include "store/Recordset.h"
#include "store/TableDef.h"

#include <memory>
#include <string>
#include <vector>

namespace cli {

// The table every registry holds.
inline const std::string tableName = "Servers";

// Enough memory for the "User" index of a few million accounts, so bulk inserts in any order of
// user names do not keep writing index pages out and reading them back.
constexpr int bulkCacheKibibytes = 256 * 1024;

// Opens the registry `path` through the store's engine interface, as the program opens it.
std::unique_ptr<dao::Database> openRegistry(const std::string& path, bool readOnly = false);

// For the commands that only read. A journal left by a save that was cut off must be rolled back
// before the file can be read, which an open that may only read cannot do: then the file is
// opened as the program opens it, and SQLite rolls the journal back on the first read, as any
// program using the file would. Where that is not allowed either, the error says so.
std::unique_ptr<dao::Database> openForReading(const std::string& path);

// Makes `path` as a new, empty file that only its owner may read or write, from the first byte,
// whatever the umask: a registry holds passwords. Throws FileError when it exists already
// (a dangling link included) or cannot be made.
void createEmptyFile(const std::string& path);

// Removes a file this run made, and SQLite's journal beside it, after a failure.
void removeNewFile(const std::string& path) noexcept;

// FileError: `path` exists and is not replaced.
[[noreturn]] void refuseExisting(const std::string& path);
// FileError: `path` cannot be made, with errno's reason.
[[noreturn]] void cannotMake(const std::string& path);

// The fields of `recordset` named as those of `definition`, in its order.
std::vector<dao::Recordset::FieldRef> fieldsOf(dao::Recordset& recordset, const dao::TableDef& definition);

} // namespace cli
