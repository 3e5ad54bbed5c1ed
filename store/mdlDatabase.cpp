// SPDX-License-Identifier: MIT
#include "store/mdlDatabase.h"

#include "store/DBEngine.h"
#include "store/Error.h"
#include "store/ServersFields.h"
#include "store/TableDef.h"

#include <SQLiteCpp/Statement.h>

#include <filesystem>

namespace mdlDatabase {

std::shared_ptr<dao::Workspace> wsRegistry;
std::unique_ptr<dao::Database> dbRegistry;
std::unique_ptr<dao::Recordset> rsServers;

namespace {

std::string folderForTesting;

#ifdef _WIN32
constexpr char separator = '\\';
#else
constexpr char separator = '/';
#endif

std::string programFolder() {
    if (!folderForTesting.empty())
        return folderForTesting;
    // The folder of the running executable, wherever the program was started from.
    std::error_code failure;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", failure);
    if (failure)
        throw dao::Error(dao::ErrorNumber::CannotOpen,
                         "The program's own folder cannot be found: " + failure.message() + ".");
    return executable.parent_path().string();
}

void openServersTable() {
    rsServers = dbRegistry->TableDefs("Servers").OpenRecordset(dao::RecordsetType::Table);
}

} // namespace

std::string RegistryPath() {
    // Joined without looking at how the folder's name ends: the root gives "//zarn.dat".
    return programFolder() + separator + "zarn.dat";
}

void SetRegistryFolderForTesting(const std::string& folder) {
    folderForTesting = folder;
}

dao::TableDef ServersTableDef(dao::Database& database) {
    dao::TableDef servers = database.CreateTableDef("Servers");
    for (const dao::Field& field : ServersFields())
        servers.AppendField(field);
    // Not unique: two accounts may share a user name. SQLite's default BINARY collation orders
    // user names by their UTF-8 bytes, which is code point order and case-sensitive ("B" before
    // "a"); rows with the same name follow in the order they were stored.
    servers.AppendIndex("User", {"User"});
    return servers;
}

void ValidateServersTable(dao::Database& database) {
    // The table, and its index "User" (without it every list reads the whole table in order).
    dao::TableDef servers = database.TableDefs("Servers");
    try {
        SQLite::Statement index(database.connection(),
                                "SELECT 1 FROM sqlite_schema WHERE type = 'index' AND name = 'User' COLLATE NOCASE "
                                "AND tbl_name = ?1");
        index.bind(1, servers.Name());
        if (index.executeStep())
            return;
    } catch (const std::exception& failure) {
        database.fail(failure);
    }
    throw dao::Error(dao::ErrorNumber::IndexNotFound,
                     dao::inQuotes(database.Name()) + " has no index \"User\" on the table \"Servers\".");
}

void CreateServersTable() {
    dao::TableDef servers = ServersTableDef(*dbRegistry);
    dbRegistry->AppendTableDef(servers);
}

void OpenDB() {
    wsRegistry = dao::DBEngine::instance().Workspaces(0);
    dbRegistry = wsRegistry->OpenDatabase(RegistryPath(), 0, false, "");
    try {
        openServersTable();
    } catch (const dao::Error&) {
        // The one failure handled in place: a registry without its table gets one. Whatever
        // goes wrong while making it shows again, and is reported, by the second attempt.
        try {
            CreateServersTable();
        } catch (const dao::Error&) {
        }
        openServersTable();
    }
    rsServers->Index("User");
}

void CloseDB() {
    // The cursor's statements must end before the file closes, and the file before its workspace.
    if (rsServers)
        rsServers->Close();
    if (dbRegistry)
        dbRegistry->Close();
    if (wsRegistry)
        wsRegistry->Close();
}

void ReleaseDB() noexcept {
    try {
        rsServers.reset(); // destructors close and never throw
        dbRegistry.reset();
        if (wsRegistry)
            wsRegistry->Close();
    } catch (...) {
    }
    wsRegistry.reset();
}

} // namespace mdlDatabase
