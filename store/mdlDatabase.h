// SPDX-License-Identifier: MIT
#pragma once

#include "store/Database.h"
#include "store/Recordset.h"
#include "store/Workspace.h"

#include <cstdint>
#include <memory>
#include <string>

// The registry: the file "zarn.dat" beside the program, and its account table "Servers".
//
// Every event handler that needs data calls OpenDB, works on rsServers, and calls CloseDB before
// it returns; nothing stays open from one event to the next.
namespace mdlDatabase {

// Valid from OpenDB to the following CloseDB; each OpenDB replaces all three.
extern std::shared_ptr<dao::Workspace> wsRegistry;
extern std::unique_ptr<dao::Database> dbRegistry;
extern std::unique_ptr<dao::Recordset> rsServers;

// Opens the registry and a cursor over "Servers" ordered by the index "User"; the table is made
// when it cannot be opened. On return rsServers stands on the first row, and its BOF is true
// exactly when the table is empty. Throws dao::Error; the file itself is never created.
void OpenDB();

// Closes rsServers, then dbRegistry, then wsRegistry.
void CloseDB();

// After a failure between OpenDB and CloseDB: closes whatever of the three is open, in the same
// order, and forgets them. Never throws, so it is safe in any error path.
void ReleaseDB() noexcept;

// Makes the table "Servers" with its eight fields and the index "User". Called by OpenDB.
void CreateServersTable();

// Refuses a table "Servers" that the store cannot work on as the registry's account table:
// UnsupportedTable for a view, a virtual table or a table WITHOUT ROWID (rows are found again by
// their row identity); HiddenRowIdentity for a field named rowid, oid or _rowid_ (any case);
// TextConverted for a User, Password, Name, Description or UpdateURL field whose type would store
// text such as "0070" as a number; MisleadingStatistics when the file's statistics declare the
// index "User" unordered, which would make every list and lookup sort the whole table;
// IndexNotFound when the table has no index "User"; UnsupportedIndex when that index holds only
// the rows a WHERE clause chooses; ConflictReplaces for a field or constraint declared ON CONFLICT
// REPLACE or IGNORE, which would let a write delete or skip rows; GeneratedField for a field the
// file computes with an expression of its own. Nothing of the file is compiled to learn this:
// neither its views nor its triggers. Other
// sizes, other rules and extra fields are accepted, and a missing field is left to the reader
// that needs it. Throws TableNotFound when there is no table "Servers", and the file's own
// failures. Only reads: takes no write lock and changes nothing.
void ValidateServersTable(dao::Database& database);

// Refuses, with FileCodeOnWrite naming each object and how to remove it, a table "Servers" on
// which a write would run code of the file: a trigger, a CHECK rule other than those the program
// makes, an index over an expression or with a WHERE clause. Reading runs none of them, so such
// a file still opens and lists. OpenDB makes it the write guard of dbRegistry; every writer of
// the registry applies it. Only reads.
void ValidateServersForWriting(dao::Database& database);

// What a repair puts right without guessing. Each runs in the caller's write transaction
// (Database::BeginTrans), so that nothing changes between finding and fixing.
// Whether the file has a table "Servers" without an index "User". Only reads.
bool MissingUserIndex(dao::Database& database);
// Whether the file's statistics declare the index "User" unordered (see MisleadingStatistics).
// Only reads.
bool MisleadingUserStatistics(dao::Database& database);
// Makes the index "User" of the stored table "Servers" as CreateServersTable makes it.
void CreateUserIndex(dao::Database& database);
// Removes the statistics rows (sqlite_stat1) of the index "User" and of the table "Servers", and
// no others; gives how many. Runs no ANALYZE and nothing of the file.
std::int64_t RemoveServersStatistics(dao::Database& database);

// The same table definition for the registry's other tools.
dao::TableDef ServersTableDef(dao::Database& database);

// The program's folder, the platform's separator and "zarn.dat", joined as they are.
std::string RegistryPath();

// Points the registry at another folder instead of the program's own; empty restores it.
// For tests: the program never calls it.
void SetRegistryFolderForTesting(const std::string& folder);

} // namespace mdlDatabase
