// SPDX-License-Identifier: MIT
#pragma once

#include "store/Database.h"
#include "store/Recordset.h"
#include "store/Workspace.h"

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

// The same table definition for the registry's other tools.
dao::TableDef ServersTableDef(dao::Database& database);

// Checks that `database` holds "Servers" as the program needs it, and throws dao::Error naming
// the reason when it does not. Reads only.
void ValidateServersTable(dao::Database& database);

// The program's folder, the platform's separator and "zarn.dat", joined as they are.
std::string RegistryPath();

// Points the registry at another folder instead of the program's own; empty restores it.
// For tests: the program never calls it.
void SetRegistryFolderForTesting(const std::string& folder);

} // namespace mdlDatabase
