// SPDX-License-Identifier: MIT
#include "store/mdlDatabase.h"

#include "store/DBEngine.h"
#include "store/Error.h"
#include "store/ServersFields.h"
#include "store/TableDef.h"
#include "store/TableSql.h"

#include <SQLiteCpp/Database.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <vector>

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
    ValidateServersTable(*dbRegistry);
    rsServers = dbRegistry->TableDefs("Servers").OpenRecordset(dao::RecordsetType::Table);
    dbRegistry->SetWriteGuard(ValidateServersForWriting);
}

// The definition of "Servers" as stored in the file's schema table: its name and its text.
struct StoredTable {
    std::string name;
    std::string sql;
};

StoredTable storedServers(dao::Database& database, const std::string& file) {
    dao::Statement object = database.Prepare("SELECT name, coalesce(sql, '') FROM sqlite_schema WHERE type = 'table' "
                                             "AND name = 'Servers' COLLATE NOCASE");
    if (!object.step())
        throw dao::Error(dao::ErrorNumber::TableNotFound, file + " has no table \"Servers\".");
    return {object.text(0), object.text(1)};
}

// The CHECK rules the program's own table carries, as their text reads.
const std::vector<std::string>& ownRules() {
    static const std::vector<std::string> rules = [] {
        std::string definition = "CREATE TABLE t (";
        const auto& fields = ServersFields();
        for (std::size_t i = 0; i < fields.size(); ++i)
            definition += (i ? ", " : "") + fields[i].columnDefinition();
        std::vector<std::string> texts;
        for (const auto& check : dao::TableSql::parse(definition + ")").checks)
            texts.push_back(check.text);
        return texts;
    }();
    return rules;
}

std::string shortened(const std::string& text) {
    constexpr std::size_t most = 80;
    return text.size() <= most ? text : text.substr(0, most) + "...";
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// SQLite gives a column the affinity its declared type names, by the first of these rules that
// matches: INT makes INTEGER; CHAR, CLOB or TEXT make TEXT; BLOB or no type at all keep values as
// they are given; REAL, FLOA or DOUB make REAL; anything else makes NUMERIC. Only TEXT and the
// values kept as given store typed text unchanged. A STRICT table's ANY keeps values as given.
bool keepsText(const std::string& declaredType, bool strict) {
    const std::string type = upper(declaredType);
    const auto has = [&](const char* part) { return type.find(part) != std::string::npos; };
    if (has("INT"))
        return false;
    if (has("CHAR") || has("CLOB") || has("TEXT") || has("BLOB") || type.empty())
        return true;
    return strict && type == "ANY";
}

bool hidesRowIdentity(const std::string& field) {
    const std::string name = upper(field);
    return name == "ROWID" || name == "OID" || name == "_ROWID_";
}

// SQLite's own keyword in sqlite_stat1: an index marked so is never used to order rows nor to
// look up a range, so the list sorts every account and the lookup by name reads them all.
bool declaresUnordered(const std::string& stat) {
    std::istringstream words(stat);
    std::string word;
    while (words >> word)
        if (word.rfind("unordered", 0) == 0)
            return true;
    return false;
}

bool hasUserIndex(dao::Database& database, const std::string& table) {
    dao::Statement index = database.Prepare("SELECT 1 FROM sqlite_schema WHERE type = 'index' AND "
                                            "name = 'User' COLLATE NOCASE AND tbl_name = ?1 COLLATE NOCASE");
    index.bind(1, table);
    const bool found = index.step();
    index.reset();
    return found;
}

bool statisticsDeclareUserUnordered(dao::Database& database) {
    dao::Statement statistics =
        database.Prepare("SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = 'sqlite_stat1'");
    if (!statistics.step())
        return false;
    statistics.reset();
    // SQLite finds the index of a statistics row by its name alone, whatever table the row
    // names, and reads the statistics as text whatever they are stored as.
    dao::Statement stat =
        database.Prepare("SELECT CAST(stat AS TEXT) FROM sqlite_stat1 WHERE idx = 'User' COLLATE NOCASE");
    while (stat.step())
        if (declaresUnordered(stat.text(0))) {
            stat.reset();
            return true;
        }
    return false;
}

} // namespace

void ValidateServersTable(dao::Database& database) {
    const std::string file = dao::describePath(database.Name());
    database.guarded([&] {
        // Everything is learnt from SQLite's schema table and the table's own columns: nothing of
        // another view or virtual table in the file is compiled or connected on the way.
        dao::Statement object = database.Prepare("SELECT name, type, rootpage, coalesce(sql, '') FROM sqlite_schema "
                                                 "WHERE type IN ('table', 'view') AND name = 'Servers' COLLATE NOCASE");
        if (!object.step())
            throw dao::Error(dao::ErrorNumber::TableNotFound, file + " has no table \"Servers\".");
        const std::string name = object.text(0);
        const std::string table = "The table " + dao::inQuotes(name) + " in " + file;
        const std::string onlyOrdinary =
            ": Vantrel reads and saves accounts only in an ordinary table, whose rows it finds again by their "
            "row identity.";
        if (object.text(1) == "view")
            throw dao::Error(dao::ErrorNumber::UnsupportedTable, table + " is a view, not a table" + onlyOrdinary);
        // A virtual table has no pages of its own in the file.
        if (object.integer(2) == 0)
            throw dao::Error(dao::ErrorNumber::UnsupportedTable, table + " is a virtual table" + onlyOrdinary);
        // The table's text tells what SQLite's pragmas do not, read without compiling anything.
        const dao::TableSql declared = dao::TableSql::parse(object.text(3));
        object.reset();
        for (const auto& clause : declared.conflictResolutions) {
            if (clause.text != "REPLACE" && clause.text != "IGNORE")
                continue;
            const std::string owner = clause.owner.empty() ? "a constraint" : dao::inQuotes(clause.owner);
            throw dao::Error(dao::ErrorNumber::ConflictReplaces,
                             table + " declares ON CONFLICT " + clause.text + " on " + owner + ": a save that " +
                                 "met that rule would " +
                                 (clause.text == "REPLACE" ? "delete the other account in its way"
                                                           : "be skipped while reported done") +
                                 ". Vantrel uses only tables whose rules refuse such a value. Make the table "
                                 "anew without that clause with another program.");
        }

        struct TextField {
            std::string name;
            std::string type;
        };
        std::vector<TextField> textFields;
        dao::Statement fields = database.Prepare("SELECT name, type, hidden FROM pragma_table_xinfo(?1)");
        fields.bind(1, name);
        while (fields.step()) {
            const std::string field = fields.text(0);
            // 2 and 3: a generated field, virtual or stored, computed by an expression of the file.
            if (const std::int64_t hidden = fields.integer(2); hidden == 2 || hidden == 3)
                throw dao::Error(dao::ErrorNumber::GeneratedField,
                                 table + " has a field " + dao::inQuotes(field) +
                                     " computed by an expression of the file (a generated column), which would "
                                     "run the file's own code on every read and save. Make the table anew without "
                                     "it with another program.");
            if (hidesRowIdentity(field))
                throw dao::Error(dao::ErrorNumber::HiddenRowIdentity,
                                 table + " has a field named " + dao::inQuotes(field) +
                                     ", which hides the row identity by which Vantrel finds the account it saves. "
                                     "Rename the field with another program.");
            const auto& known = ServersFields();
            if (std::any_of(known.begin(), known.end(), [&](const dao::Field& f) {
                    return f.Type() == dao::FieldType::Text && upper(f.Name()) == upper(field);
                }))
                textFields.push_back({field, fields.text(1)});
        }
        fields.reset();

        // No field is named rowid now, so SQLite answers for the row identity itself, which a
        // table WITHOUT ROWID lacks.
        if (sqlite3_table_column_metadata(database.connection().getHandle(), "main", name.c_str(), "rowid", nullptr, nullptr,
                                          nullptr, nullptr, nullptr) != SQLITE_OK)
            throw dao::Error(dao::ErrorNumber::UnsupportedTable,
                             table + " is a table WITHOUT ROWID, whose rows have no row identity" + onlyOrdinary);

        for (const TextField& field : textFields) {
            if (keepsText(field.type, declared.strict))
                continue;
            throw dao::Error(dao::ErrorNumber::TextConverted,
                             "The text field " + dao::inQuotes(field.name) + " of " + dao::inQuotes(name) + " in " +
                                 file + " is declared " + dao::inQuotes(field.type) +
                                 ", which stores typed text such as \"0070\" as a number. Vantrel reads and saves "
                                 "it only in a field declared as text (TEXT, VARCHAR, CHAR, CLOB) or without a type.");
        }

        // Without its index "User" every list and every lookup by user name would read the whole table.
        if (!hasUserIndex(database, name))
            throw dao::Error(dao::ErrorNumber::IndexNotFound,
                             table + " has no index \"User\". Run vantrel-registry repair on the file to make it.");
        // An index of some rows only cannot order them all.
        dao::Statement partial = database.Prepare("SELECT name FROM pragma_index_list(?1) WHERE partial AND "
                                                  "name = 'User' COLLATE NOCASE");
        partial.bind(1, name);
        if (partial.step())
            throw dao::Error(dao::ErrorNumber::UnsupportedIndex,
                             "The index " + dao::inQuotes(partial.text(0)) + " of " +
                                 dao::inQuotes(name) + " in " + file +
                                 " holds only the accounts its WHERE clause chooses, so it cannot list them all. "
                                 "Make it anew over every row with another program.");
        partial.reset();

        if (statisticsDeclareUserUnordered(database))
            throw dao::Error(dao::ErrorNumber::MisleadingStatistics,
                             "The statistics in " + file +
                                 " (table sqlite_stat1) declare the index \"User\" unordered, so every list "
                                 "and every lookup by user name would sort all accounts. Vantrel changes "
                                 "nothing unasked. Run vantrel-registry repair on the file to remove them.");
    });
}

bool MissingUserIndex(dao::Database& database) {
    return database.guarded([&] {
        dao::Statement object = database.Prepare("SELECT name FROM sqlite_schema WHERE type = 'table' AND "
                                                 "name = 'Servers' COLLATE NOCASE");
        if (!object.step())
            return false;
        const std::string name = object.text(0);
        object.reset();
        return !hasUserIndex(database, name);
    });
}

bool MisleadingUserStatistics(dao::Database& database) {
    return database.guarded([&] { return statisticsDeclareUserUnordered(database); });
}

void CreateUserIndex(dao::Database& database) {
    const dao::TableDef made = ServersTableDef(database);
    for (const dao::TableDef::IndexDefinition& index : made.Indexes())
        if (index.name == "User")
            database.TableDefs("Servers").AppendIndex(index.name, index.fields, index.unique);
}

std::int64_t RemoveServersStatistics(dao::Database& database) {
    std::int64_t removed = 0;
    // Deleting rows of sqlite_stat1 compiles nothing of the file and runs no trigger: SQLite
    // allows none on its own tables.
    database.write([&] {
        removed = database
                      .Prepare("DELETE FROM sqlite_stat1 WHERE idx = 'User' COLLATE NOCASE OR "
                               "tbl = 'Servers' COLLATE NOCASE")
                      .run();
    });
    return removed;
}

void ValidateServersForWriting(dao::Database& database) {
    const std::string file = dao::describePath(database.Name());
    database.guarded([&] {
        const StoredTable servers = storedServers(database, file);
        std::vector<std::string> found;
        dao::Statement triggers = database.Prepare("SELECT name FROM sqlite_schema WHERE type = 'trigger' AND "
                                                   "tbl_name = ?1 COLLATE NOCASE ORDER BY name");
        triggers.bind(1, servers.name);
        while (triggers.step()) {
            const std::string trigger = triggers.text(0);
            found.push_back("the trigger " + dao::inQuotes(trigger) + " (remove it with DROP TRIGGER " +
                            dao::quoteIdentifier(trigger) + ")");
        }
        const auto& own = ownRules();
        for (const auto& check : dao::TableSql::parse(servers.sql).checks)
            if (std::find(own.begin(), own.end(), check.text) == own.end())
                found.push_back("the rule CHECK (" + shortened(check.text) + ")" +
                                (check.owner.empty() ? "" : " of " + dao::inQuotes(check.owner)) +
                                " (make the table anew without it: export the accounts, make a new registry with "
                                "vantrel-registry init and import them)");
        dao::Statement indexes =
            database.Prepare("SELECT l.name, l.partial, EXISTS (SELECT 1 FROM pragma_index_xinfo(l.name) "
                             "WHERE cid = -2) FROM pragma_index_list(?1) AS l ORDER BY l.name");
        indexes.bind(1, servers.name);
        while (indexes.step()) {
            const bool partial = indexes.integer(1) != 0;
            const bool expression = indexes.integer(2) != 0;
            if (!partial && !expression)
                continue;
            const std::string index = indexes.text(0);
            found.push_back("the index " + dao::inQuotes(index) +
                            (expression ? " over an expression" : " with a WHERE clause") +
                            " (remove it with DROP INDEX " + dao::quoteIdentifier(index) + ")");
        }
        if (found.empty())
            return;
        std::string list;
        for (std::size_t i = 0; i < found.size(); ++i)
            list += (i == 0 ? "" : i + 1 == found.size() ? " and " : ", ") + found[i];
        throw dao::Error(dao::ErrorNumber::FileCodeOnWrite,
                         "Vantrel writes nothing into the table " + dao::inQuotes(servers.name) + " of " + file +
                             " while the file's own code would run on the write: " + list +
                             ". Remove " + (found.size() == 1 ? "it" : "them") +
                             " with another program, then try again.");
    });
}

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
