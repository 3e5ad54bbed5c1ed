// SPDX-License-Identifier: MIT
#include "cli/Registry.h"

#include "cli/AccountFormat.h"
#include "cli/CsvReader.h"
#include "cli/CsvWriter.h"
#include "cli/DemoGenerator.h"
#include "cli/FileError.h"
#include "cli/PackedRecords.h"
#include "cli/Progress.h"
#include "cli/RegistryCheck.h"
#include "store/DBEngine.h"
#include "store/Error.h"
#include "store/mdlDatabase.h"

#include <SQLiteCpp/Backup.h>
#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <strings.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace cli {

namespace {

const std::string tableName = "Servers";

// Enough memory for the "User" index of a few million accounts, so bulk inserts in any order of
// user names do not keep writing index pages out and reading them back.
constexpr int bulkCacheKibibytes = 256 * 1024;

std::unique_ptr<dao::Database> openDatabase(const std::string& path, bool readOnly = false) {
    return dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path, 0, readOnly);
}

// For the commands that only read. A journal left by a save that was cut off must be rolled back
// before the file can be read, which an open that may only read cannot do: then the file is
// opened as the program opens it, and SQLite rolls the journal back on the first read, as any
// program using the file would. Where that is not allowed either, the error says so.
std::unique_ptr<dao::Database> openForReading(const std::string& path) {
    try {
        return openDatabase(path, true);
    } catch (const dao::Error& error) {
        if (error.code() != dao::ErrorNumber::JournalNotRolledBack)
            throw;
    }
    return openDatabase(path);
}

[[noreturn]] void refuseExisting(const std::string& path) {
    throw FileError(dao::inQuotes(path) + " already exists and was left as it is; give a new file name.");
}

[[noreturn]] void cannotMake(const std::string& path) {
    throw FileError(dao::inQuotes(path) + " cannot be made: " + std::strerror(errno) + ".");
}

// Makes `path` as a new, empty file; O_EXCL makes "it must not exist yet" hold even against
// another program making the same file at the same moment, and refuses a dangling link too. A
// registry holds passwords: only its owner may read it, from the first byte, whatever the umask.
void createEmptyFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        if (errno == EEXIST)
            refuseExisting(path);
        cannotMake(path);
    }
    ::close(descriptor);
}

// Removes a file this run made, and SQLite's journal beside it, after a failure.
void removeNewFile(const std::string& path) noexcept {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    std::filesystem::remove(path + "-journal", ignored);
}

std::function<void(const std::string&, const std::string&)> backupHook;

// A backup's copy, made under a private name in its destination's folder, with the source's
// permission bits and, where this user may give them, its owner and group: never readable by
// anyone the source keeps out, not even while it is empty. It is moved to the destination only
// if no file has that name yet; until then, and on any failure, the destination is not touched.
// The destructor removes the copy, and its journal, unless it was moved into place; a file that
// another program put in its place is left alone.
class PrivateCopy {
public:
    PrivateCopy(const std::string& destination, const struct stat& source) : m_destination(destination) {
        const std::filesystem::path target(destination);
        m_path = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
        m_descriptor = ::mkostemp(m_path.data(), O_CLOEXEC); // mode 0600
        if (m_descriptor < 0)
            cannotMake(destination);
        mode_t mode = source.st_mode & 0777;
        const uid_t owner = ::geteuid() == 0 ? source.st_uid : static_cast<uid_t>(-1);
        // Where the copy cannot have the source's group, its group may not read it either.
        if (::fchown(m_descriptor, owner, source.st_gid) != 0)
            mode &= ~static_cast<mode_t>(S_IRWXG);
        if (::fstat(m_descriptor, &m_made) != 0 || ::fchmod(m_descriptor, mode) != 0) {
            const int failure = errno;
            ::unlink(m_path.c_str());
            ::close(m_descriptor);
            errno = failure;
            cannotMake(destination);
        }
    }
    PrivateCopy(const PrivateCopy&) = delete;
    PrivateCopy& operator=(const PrivateCopy&) = delete;
    ~PrivateCopy() {
        if (!m_placed && isOurs()) {
            removeNewFile(m_path);
            std::error_code ignored;
            std::filesystem::remove(m_path + "-wal", ignored);
            std::filesystem::remove(m_path + "-shm", ignored);
        }
        ::close(m_descriptor);
    }

    const std::string& path() const { return m_path; }

    // Gives the copy the destination's name. A file that appeared there meanwhile is kept and
    // FileError thrown. Without RENAME_NOREPLACE (some network file systems), a hard link gives
    // the same guarantee: it too fails when the name is taken.
    void place() {
        if (!isOurs())
            throw FileError("The copy being made for " + dao::inQuotes(m_destination) + ", " + dao::inQuotes(m_path) +
                            ", was replaced by another program; that file was left as it is and nothing was copied.");
        int result = ::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, m_destination.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            result = ::link(m_path.c_str(), m_destination.c_str());
            if (result == 0)
                ::unlink(m_path.c_str());
        }
        if (result != 0 && errno == EEXIST)
            throw FileError(dao::inQuotes(m_destination) +
                            " appeared while the copy was being made: another program made it. It was left as it "
                            "is and the copy was removed; give a new file name.");
        if (result != 0)
            cannotMake(m_destination);
        m_placed = true;
        // The new name lasts through a power cut only once its folder is written out.
        const std::string folder = std::filesystem::path(m_destination).parent_path().string();
        if (const int directory = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            directory >= 0) {
            ::fsync(directory);
            ::close(directory);
        }
    }

private:
    bool isOurs() const {
        struct stat now {};
        return ::lstat(m_path.c_str(), &now) == 0 && now.st_dev == m_made.st_dev && now.st_ino == m_made.st_ino;
    }

    std::string m_destination;
    std::string m_path;
    int m_descriptor = -1;
    struct stat m_made {};
    bool m_placed = false;
};

// What SQLite's integrity check finds wrong with the file at `path`; empty when it is sound. A
// file SQLite cannot read as a database is damaged too; other failures are thrown as the store's
// errors. The check runs the file's own rules and index expressions: it is opened as every
// registry is, against hostile files, and bounded as `check` is. `readOnly` false: a copy is
// opened to write, so that, in WAL mode, closing it removes its -wal and -shm files.
std::string integrityDamage(const std::string& path, bool readOnly) {
    std::string damage;
    try {
        auto database = openDatabase(path, readOnly);
        database->SetTimeLimit(RegistryCheck::CheckTimeLimit(path));
        try {
            SQLite::Statement integrity(database->connection(), "PRAGMA integrity_check");
            while (integrity.executeStep() && damage.size() < 1000) {
                const std::string message = integrity.getColumn(0).getString();
                if (message != "ok")
                    damage += (damage.empty() ? "" : "; ") + message;
            }
        } catch (const std::exception& failure) {
            database->fail(failure);
        }
        database->Close();
    } catch (const dao::Error& error) {
        if (error.code() != dao::ErrorNumber::DamagedFile && error.code() != dao::ErrorNumber::NotADatabase)
            throw;
        damage = error.description();
    }
    return damage;
}

std::vector<dao::Recordset::FieldRef> fieldsOf(dao::Recordset& recordset, const dao::TableDef& definition) {
    std::vector<dao::Recordset::FieldRef> references;
    for (const dao::Field& field : definition.Fields())
        references.push_back(recordset.Fields(field.Name()));
    return references;
}

std::string columnList(const std::vector<dao::Field>& fields) {
    std::string list;
    for (std::size_t i = 0; i < fields.size(); ++i)
        list += (i == 0 ? "" : i + 1 == fields.size() ? " and " : ", ") + fields[i].Name();
    return list;
}

// Maps the header's columns to the table's fields. Returns false, with the problems added, when
// the header cannot be used.
bool readHeader(const CsvRecord& header, const std::vector<dao::Field>& fields, std::vector<std::size_t>& columns,
                ImportResult& result) {
    const std::size_t before = result.problemCount();
    // A first record that names none of the columns, and is not a header saved with other
    // separators, is data: its fields may be passwords, so none of them is quoted.
    const auto names = [&](const std::optional<std::string>& field) {
        return field && std::any_of(fields.begin(), fields.end(), [&](const dao::Field& known) {
                   return strcasecmp(known.Name().c_str(), field->c_str()) == 0;
               });
    };
    const auto separated = [](const std::optional<std::string>& field) {
        return field && field->find_first_of(";\t") != std::string::npos;
    };
    if (std::none_of(header.fields.begin(), header.fields.end(), names) &&
        std::none_of(header.fields.begin(), header.fields.end(), separated)) {
        result.addProblem({header.line, "the first record names none of the columns, so the text has no header; "
                                        "its values are not shown, as they may be passwords. The first record must "
                                        "name the columns: " +
                                            columnList(fields)});
        return false;
    }
    std::vector<bool> seen(fields.size(), false);
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        const auto& name = header.fields[i];
        if (!name || name->empty()) {
            result.addProblem({header.line, "column " + std::to_string(i + 1) + " of the header has no name"});
            continue;
        }
        std::size_t found = 0;
        while (found < fields.size() && strcasecmp(fields[found].Name().c_str(), name->c_str()) != 0)
            ++found;
        if (found == fields.size()) {
            result.addProblem(
                {header.line, "unknown column " + dao::inQuotes(*name) + "; the columns are " + columnList(fields)});
        } else if (seen[found]) {
            result.addProblem({header.line, "the column " + dao::inQuotes(fields[found].Name()) + " is named twice"});
        } else {
            seen[found] = true;
            columns.push_back(found);
        }
    }
    if (!seen[0] && result.problemCount() == before)
        result.addProblem(
            {header.line, "the header has no " + dao::inQuotes(fields[0].Name()) + " column; it is required"});
    return result.problemCount() == before;
}

// A record of nothing but empty fields: the ",,," rows a spreadsheet writes below its data.
bool isEmpty(const CsvRecord& record) {
    return std::all_of(record.fields.begin(), record.fields.end(),
                       [](const std::optional<std::string>& field) { return !field || field->empty(); });
}

// A header that is one column holding semicolons or tabs, or that starts as UTF-16 text, came
// from a spreadsheet saved in another format: say which, and how to save it right.
void addHeaderHints(const CsvRecord& header, std::vector<std::string>& hints) {
    const std::string saveRight = "save it as \"CSV UTF-8 (comma delimited)\", whose fields are separated by commas.";
    const std::string first = header.fields.empty() || !header.fields[0] ? std::string() : *header.fields[0];
    if (first.rfind("\xFF\xFE", 0) == 0 || first.rfind("\xFE\xFF", 0) == 0)
        hints.push_back("The file is UTF-16 text (a spreadsheet's \"Unicode Text\"): " + saveRight);
    else if (header.fields.size() == 1 && first.find(';') != std::string::npos)
        hints.push_back("The file looks semicolon-separated, as spreadsheets set to a language with decimal commas "
                        "write CSV: " +
                        saveRight);
    else if (header.fields.size() == 1 && first.find('\t') != std::string::npos)
        hints.push_back("The file looks tab-separated (a spreadsheet's \"Text (Tab delimited)\"): " + saveRight);
}

// No record of a CSV text may be longer: far beyond the eight fields at their longest, and as long
// as any value the store takes. It bounds the memory a record of countless fields takes.
constexpr std::size_t recordLimit = 1'000'000;

// No field of a CSV text may be longer than the longest text a field of `fields` may hold, or a
// column's name: as many characters, at most 4 bytes each in UTF-8.
std::size_t fieldLimit(const std::vector<dao::Field>& fields) {
    std::size_t characters = 0;
    for (const dao::Field& field : fields)
        characters = std::max({characters, static_cast<std::size_t>(std::max(field.Size(), 0)), field.Name().size()});
    return characters * 4;
}

std::string alreadyInRegistry(const std::string& user) {
    return "the user name " + dao::inQuotes(user) + " is already in the registry";
}

// Looks user names up in the registry through its index "User". No statement stays open between
// lookups, so outside a transaction each lookup is a read of its own and no lock is held.
class RegistryUsers {
public:
    RegistryUsers(dao::Database& database, const std::string& table) : m_database(database) {
        try {
            const std::string from = " FROM " + dao::quoteIdentifier(table);
            // An empty registry holds no name to look up.
            if (SQLite::Statement any(database.connection(), "SELECT 1" + from + " LIMIT 1"); any.executeStep())
                m_lookup.emplace(database.connection(), "SELECT 1" + from + " WHERE \"User\" = ?1 LIMIT 1");
        } catch (const std::exception& failure) {
            database.fail(failure);
        }
    }

    bool has(const std::string& user) {
        if (!m_lookup)
            return false;
        try {
            m_lookup->bind(1, user);
            const bool found = m_lookup->executeStep();
            m_lookup->reset();
            return found;
        } catch (const std::exception& failure) {
            m_database.fail(failure);
        }
    }

private:
    dao::Database& m_database;
    std::optional<SQLite::Statement> m_lookup;
};

} // namespace

void Registry::create(const std::string& path) {
    createEmptyFile(path);
    try {
        auto database = openDatabase(path);
        dao::TableDef servers = mdlDatabase::ServersTableDef(*database);
        database->AppendTableDef(servers);
        database->Close();
    } catch (...) {
        removeNewFile(path);
        throw;
    }
}

void ImportResult::addProblem(ImportProblem problem) {
    const auto at = std::upper_bound(problems.begin(), problems.end(), problem.line,
                                     [](std::size_t line, const ImportProblem& kept) { return line < kept.line; });
    const auto index = at - problems.begin();
    if (problems.size() == keptProblems) {
        ++moreProblems;
        if (at == problems.end())
            return;
        problems.pop_back();
    }
    problems.insert(problems.begin() + index, std::move(problem));
}

ImportResult Registry::importCsv(const std::string& path, std::istream& csv, Progress& progress,
                                 const ImportOptions& options) {
    auto database = openDatabase(path);
    mdlDatabase::ValidateServersTable(*database);
    // Refused at once, before the text is read, and again under the write lock, where no other
    // program can add a trigger in between.
    mdlDatabase::ValidateServersForWriting(*database);
    database->SetWriteGuard(mdlDatabase::ValidateServersForWriting);
    // The program's own definition carries every rule of every field, so records are checked
    // here, all of them, and each refusal is reported with its reasons.
    const dao::TableDef definition = mdlDatabase::ServersTableDef(*database);
    const std::vector<dao::Field>& fields = definition.Fields();

    ImportResult result;
    std::vector<std::size_t> columns; // for each CSV column, its field
    std::vector<dao::Variant> values;
    std::size_t userColumn = 0;
    bool atHeader = true;
    bool notUtf8 = false;
    struct UnusableHeader {};
    std::unordered_map<std::string, std::size_t> firstLines; // each user name's first line in the text
    PackedRecords accepted;
    std::optional<RegistryUsers> registryUsers; // while reading, for the reasons of refused records

    // The whole text is read and checked before the write lock is taken: however slowly it
    // arrives, other programs go on saving meanwhile, and a text with any problem never takes
    // the lock at all.
    try {
        CsvReader reader(csv, {fieldLimit(fields), recordLimit});
        reader.read([&](const CsvRecord& record) {
            if (atHeader) {
                atHeader = false;
                if (!readHeader(record, fields, columns, result)) {
                    addHeaderHints(record, result.hints);
                    throw UnusableHeader{};
                }
                values.resize(columns.size());
                userColumn = static_cast<std::size_t>(std::find(columns.begin(), columns.end(), 0) - columns.begin());
                return;
            }
            progress.setPosition(reader.bytesRead());
            progress.advance();
            if (isEmpty(record)) {
                ++result.emptyRecords;
                return;
            }
            if (record.fields.size() != columns.size()) {
                result.addProblem({record.line, "the record has " + std::to_string(record.fields.size()) +
                                                    " fields; the header names " + std::to_string(columns.size())});
                return;
            }
            std::string reasons;
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const std::string reason = AccountFormat::parse(fields[columns[i]], record.fields[i], values[i]);
                if (!reason.empty()) {
                    reasons += (reasons.empty() ? "" : "; ") + reason;
                    notUtf8 = notUtf8 || (record.fields[i] && !AccountFormat::characterCount(*record.fields[i]));
                }
            }
            const auto& user = record.fields[userColumn];
            if (!user) {
                reasons += std::string(reasons.empty() ? "" : "; ") + "the record has no user name";
            } else if (!options.allowDuplicateUsers) {
                // The editor only ever opens the first account of a name.
                const auto [first, added] = firstLines.try_emplace(*user, record.line);
                if (!added) {
                    reasons += std::string(reasons.empty() ? "" : "; ") + "the user name " + dao::inQuotes(*user) +
                               " is already on line " + std::to_string(first->second);
                } else if (!reasons.empty() && result.problems.size() < ImportResult::keptProblems) {
                    // A refusal that is listed names every reason. The records accepted are
                    // looked up once the whole text is read.
                    if (!registryUsers)
                        registryUsers.emplace(*database, tableName);
                    if (registryUsers->has(*user))
                        reasons += "; " + alreadyInRegistry(*user);
                }
            }
            if (!reasons.empty())
                result.addProblem({record.line, reasons});
            else
                accepted.append(record);
        });
        if (atHeader)
            result.addProblem({1, "the CSV text is empty; it needs at least a header naming the columns"});
    } catch (const UnusableHeader&) {
    } catch (const CsvSyntaxError& error) {
        result.addProblem({error.line(), error.what()});
    } catch (const dao::Error&) {
        throw; // a lookup's failure keeps its number
    } catch (const std::exception& error) {
        throw FileError(std::string("Reading the CSV text failed: ") + error.what() + ".");
    }
    registryUsers.reset();
    firstLines = {};
    if (notUtf8)
        result.hints.push_back(
            "The file is probably not UTF-8 but an older 8-bit text such as Latin-1 or Windows-1252, as a "
            "spreadsheet's plain \"CSV (comma delimited)\" writes it: save it as \"CSV UTF-8 (comma delimited)\".");

    PackedRecords::Reader stored(accepted);
    CsvRecord record;
    if (!result.problems.empty()) {
        // Nothing is written, so no lock is taken; the accepted records are still looked up, each
        // a read of its own, so that every refusal is reported at once.
        if (!options.allowDuplicateUsers && accepted.size() > 0) {
            progress.nextStage("Checking", accepted.size(), "accounts");
            RegistryUsers users(*database, tableName);
            while (stored.next(record)) {
                progress.advance();
                if (users.has(*record.fields[userColumn]))
                    result.addProblem({record.line, alreadyInRegistry(*record.fields[userColumn])});
            }
        }
        progress.finish();
        database->Close();
        return result;
    }

    database->SetCacheSize(bulkCacheKibibytes);
    database->BeginTrans();
    // The table may have changed while the text was read; from here on, no other program can
    // change it until the import ends.
    mdlDatabase::ValidateServersTable(*database);
    dao::TableDef servers = database->TableDefs(tableName);
    auto recordset = servers.OpenRecordset();
    std::vector<dao::Recordset::FieldRef> targets;
    for (const std::size_t field : columns)
        targets.push_back(recordset->Fields(fields[field].Name()));
    std::optional<RegistryUsers> users;
    if (!options.allowDuplicateUsers)
        users.emplace(*database, servers.Name());
    progress.nextStage("Writing", accepted.size(), "accounts");
    while (stored.next(record)) {
        progress.advance();
        if (users && users->has(*record.fields[userColumn])) {
            result.addProblem({record.line, alreadyInRegistry(*record.fields[userColumn])});
            continue;
        }
        // Every value was accepted when read; text stands as it is, so it is not checked again.
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const dao::Field& field = fields[columns[i]];
            if (record.fields[i] && field.Type() == dao::FieldType::Text)
                values[i] = dao::Variant(std::move(*record.fields[i]));
            else
                AccountFormat::parse(field, record.fields[i], values[i]);
        }
        try {
            recordset->AddNew();
            for (std::size_t i = 0; i < columns.size(); ++i)
                targets[i].SetValue(std::move(values[i]));
            recordset->Update();
            ++result.accounts;
        } catch (const dao::Error& error) {
            // A rule of this file's table that the program's definition lacks.
            if (error.code() != dao::ErrorNumber::ValueRefused)
                throw;
            recordset->CancelUpdate();
            result.addProblem({record.line, error.description()});
        }
    }
    users.reset();
    progress.finish();

    if (result.problems.empty()) {
        recordset->Close();
        try {
            database->CommitTrans();
        } catch (const dao::Error& error) {
            if (error.code() != dao::ErrorNumber::SavedNotConfirmed)
                throw;
            result.unconfirmed = error.description() + " (error " + std::to_string(error.number()) + ")";
        }
    } else {
        result.accounts = 0;
        recordset->Close();
        database->Rollback();
    }
    database->Close();
    return result;
}

std::size_t Registry::exportCsv(const std::string& path, std::ostream& output) {
    auto database = openForReading(path);
    mdlDatabase::ValidateServersTable(*database);
    const dao::TableDef definition = mdlDatabase::ServersTableDef(*database);
    auto recordset = database->TableDefs(tableName).OpenRecordset();
    recordset->Index("User");
    auto fields = fieldsOf(*recordset, definition);

    CsvWriter writer(output);
    for (const dao::Field& field : definition.Fields())
        writer.field(field.Name());
    writer.endRecord();
    std::size_t count = 0;
    for (; !recordset->Eof(); recordset->MoveNext()) {
        for (const auto& field : fields)
            AccountFormat::write(writer, field.Value());
        writer.endRecord();
        ++count;
        if (!output)
            break;
    }
    database->Close();
    output.flush();
    if (!output)
        throw FileError("Writing the CSV text failed.");
    return count;
}

void Registry::listUsers(const std::string& path, std::ostream& output) {
    auto database = openForReading(path);
    mdlDatabase::ValidateServersTable(*database);
    auto recordset = database->TableDefs(tableName).OpenRecordset();
    recordset->Index("User");
    const auto user = recordset->Fields("User");
    for (; !recordset->Eof() && output; recordset->MoveNext())
        output << user.Value().toText() << '\n';
    database->Close();
    output.flush();
    if (!output)
        throw FileError("Writing the list of user names failed.");
}

void Registry::setBackupHookForTesting(std::function<void(const std::string&, const std::string&)> hook) {
    backupHook = std::move(hook);
}

void Registry::backup(const std::string& path, const std::string& destination) {
    auto source = openDatabase(path, true);
    struct stat sourceStatus {};
    if (::stat(path.c_str(), &sourceStatus) != 0)
        throw FileError(dao::inQuotes(path) + " cannot be read: " + std::strerror(errno) + ".");
    if (struct stat existing{}; ::lstat(destination.c_str(), &existing) == 0)
        refuseExisting(destination);
    PrivateCopy copy(destination, sourceStatus);
    try {
        SQLite::Database target(copy.path(), SQLite::OPEN_READWRITE);
        SQLite::Backup backup(target, source->connection());
        // Every page in one step, under one read lock: a copy of one moment, which another
        // program's write cannot change half-way. A writer in the middle of its commit holds
        // the file a little while; wait for it as the program would.
        const auto deadline = std::chrono::steady_clock::now() + dao::DBEngine::instance().BusyTimeout();
        for (int result = backup.executeStep(-1); result != SQLITE_DONE; result = backup.executeStep(-1)) {
            if (std::chrono::steady_clock::now() > deadline)
                throw dao::Error(dao::ErrorNumber::FileInUse,
                                 dao::inQuotes(path) + " stayed locked by another program; no copy was made.");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    } catch (const SQLite::Exception& failure) {
        throw dao::translate(failure, destination);
    }
    source->Close();
    if (backupHook)
        backupHook(copy.path(), destination);

    const std::string damage = integrityDamage(copy.path(), false);
    if (!damage.empty()) {
        // A copy damaged on the way says nothing of the registry: check the registry itself.
        std::string sourceDamage;
        try {
            sourceDamage = integrityDamage(path, true);
        } catch (const dao::Error&) {
        }
        if (!sourceDamage.empty())
            throw FileError("The copy of " + dao::inQuotes(path) + " failed SQLite's integrity check (" + damage +
                            "), so " + dao::inQuotes(path) + " itself is damaged; the copy was removed.");
        throw FileError("The copy of " + dao::inQuotes(path) + " failed SQLite's integrity check (" + damage +
                        "), although " + dao::inQuotes(path) +
                        " itself passes it: the copy was damaged on its way to the disk. The copy was removed; "
                        "check the disk of " +
                        dao::inQuotes(destination) + ", then try again.");
    }
    copy.place();
}

void Registry::createDemo(const std::string& path, std::size_t accounts, std::uint64_t seed, Progress& progress) {
    createEmptyFile(path);
    try {
        auto database = openDatabase(path);
        database->SetCacheSize(bulkCacheKibibytes);
        // The table and its accounts land together: the file never holds half a demo.
        database->BeginTrans();
        // The rows go in before the index "User" is made: sorting the names once is far quicker
        // than keeping the index in order as each random name arrives.
        const dao::TableDef definition = mdlDatabase::ServersTableDef(*database);
        dao::TableDef table = database->CreateTableDef(definition.Name());
        for (const dao::Field& field : definition.Fields())
            table.AppendField(field);
        database->AppendTableDef(table);
        auto recordset = database->TableDefs(tableName).OpenRecordset();
        auto fields = fieldsOf(*recordset, definition);

        DemoGenerator generator(seed);
        DemoGenerator::Account account;
        for (std::size_t n = 0; n < accounts; ++n) {
            generator.next(account);
            recordset->AddNew();
            for (std::size_t i = 0; i < fields.size(); ++i)
                fields[i].SetValue(std::move(account[i]));
            recordset->Update();
            progress.advance();
        }
        recordset->Close();
        dao::TableDef stored = database->TableDefs(tableName);
        for (const auto& index : definition.Indexes())
            stored.AppendIndex(index.name, index.fields, index.unique);
        progress.finish();
        database->CommitTrans();
        database->Close();
    } catch (...) {
        removeNewFile(path);
        throw;
    }
}

} // namespace cli
