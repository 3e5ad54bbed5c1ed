// SPDX-License-Identifier: MIT
#include "cli/Repair.h"

#include "cli/Backup.h"
#include "cli/Check.h"
#include "cli/FileError.h"
#include "cli/Progress.h"
#include "cli/RegistryFile.h"
#include "cli/StoreProgress.h"
#include "store/Error.h"
#include "store/ServersFields.h"
#include "store/mdlDatabase.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

namespace {

std::string described(const dao::Error& error) {
    return error.description() + " (error " + std::to_string(error.number()) + ")";
}

// The copy's name: the time in UTC to the second, so that copies sort by time, and no change of
// the clocks to or from summer time can give two repairs the same name.
std::string backupName(const std::string& path) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    return path + ".before-repair-" + stamp;
}

// What of the open file this repair cannot put right: damage, and whatever the program's
// validation refuses other than what the repair makes good.
std::vector<std::string> unrepairable(dao::Database& database) {
    std::vector<std::string> found;
    try {
        for (const std::string& problem : database.IntegrityProblems())
            found.push_back("damaged: " + problem);
    } catch (const dao::Error& error) {
        if (error.code() != dao::ErrorNumber::DamagedFile && error.code() != dao::ErrorNumber::NotADatabase)
            throw;
        found.push_back(described(error));
        return found; // nothing more of the file can be trusted
    }
    try {
        mdlDatabase::ValidateServersTable(database);
    } catch (const dao::Error& error) {
        if (error.code() == dao::ErrorNumber::TableNotFound) {
            found.push_back(described(error));
            return found;
        }
        if (error.code() != dao::ErrorNumber::IndexNotFound && error.code() != dao::ErrorNumber::MisleadingStatistics)
            found.push_back(described(error));
    }
    try {
        mdlDatabase::ValidateServersForWriting(database);
    } catch (const dao::Error& error) {
        found.push_back(described(error));
    }
    try {
        const dao::TableDef servers = database.TableDefs("Servers");
        for (const dao::Field& field : mdlDatabase::ServersFields())
            if (!servers.HasField(field.Name()))
                found.push_back("the table \"Servers\" has no column " + dao::inQuotes(field.Name()) + ".");
    } catch (const dao::Error&) {
        // "Servers" is not a table: the validation said so above.
    }
    return found;
}

// Opens the file as the program does: the validation on open and before a write, and the list in
// the order of the index "User".
void confirmOpens(const std::string& path) {
    auto database = openRegistry(path, true);
    mdlDatabase::ValidateServersTable(*database);
    mdlDatabase::ValidateServersForWriting(*database);
    database->TableDefs("Servers").OpenRecordset()->Index("User");
    database->Close();
}

} // namespace

RepairReport repairRegistry(const std::string& path, Progress* shown) {
    Progress& progress = shown ? *shown : Progress::none();
    RepairReport report;
    std::unique_ptr<dao::Database> database;
    try {
        database = openRegistry(path);
    } catch (const dao::Error& error) {
        if (error.code() != dao::ErrorNumber::DamagedFile)
            throw;
        report.unfixable.push_back(described(error));
        return report;
    }
    // Reading the whole file is part of the work, as for check.
    database->SetTimeLimit(checkTimeLimit(path));
    // From here to the commit no other program writes: what is found is what is fixed, and the
    // copy holds the file as it was just before.
    database->BeginTrans();
    std::optional<ProgressWatch> watch(std::in_place, *database, progress);
    progress.nextStage("Checking integrity");
    report.unfixable = unrepairable(*database);
    bool missingIndex = false;
    bool statistics = false;
    try {
        missingIndex = mdlDatabase::MissingUserIndex(*database);
        statistics = mdlDatabase::MisleadingUserStatistics(*database);
    } catch (const dao::Error&) {
        if (report.unfixable.empty())
            throw;
    }
    const std::string noIndex = "the table \"Servers\" has no index \"User\"";
    const std::string unordered = "the statistics (table sqlite_stat1) declare the index \"User\" unordered";
    if (!report.unfixable.empty() || (!missingIndex && !statistics)) {
        if (missingIndex)
            report.fixable.push_back(noIndex + "; repair would make it.");
        if (statistics)
            report.fixable.push_back(unordered + "; repair would remove them.");
        database->Rollback();
        database->Close();
        return report;
    }

    const std::string copy = backupName(path);
    if (std::filesystem::exists(std::filesystem::symlink_status(copy)))
        throw FileError(dao::inQuotes(copy) + " already exists and was left as it is; nothing was repaired. Try "
                                              "again in a second.");
    // Another connection may read while this one holds the write lock and has written nothing.
    backup(path, copy, &progress);
    report.backup = copy;
    try {
        if (missingIndex) {
            progress.nextStage("Making the index \"User\"");
            mdlDatabase::CreateUserIndex(*database);
            report.fixed.push_back(noIndex + ": made it, as vantrel-registry init makes it.");
        }
        if (statistics) {
            const std::int64_t rows = mdlDatabase::RemoveServersStatistics(*database);
            report.fixed.push_back(unordered + ": removed " + std::to_string(rows) + (rows == 1 ? " row" : " rows") +
                                   " of statistics of the index \"User\" and the table \"Servers\".");
        }
        database->CommitTrans();
        watch.reset();
        database->Close();
        confirmOpens(path);
    } catch (const dao::Error& error) {
        throw dao::Error(error.code(),
                         error.description() + " The file as it was before the repair is " + dao::inQuotes(copy) + ".");
    }
    return report;
}

} // namespace cli
