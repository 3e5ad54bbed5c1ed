// SPDX-License-Identifier: MIT
#include "store/Database.h"

#include "store/DBEngine.h"
#include "store/Error.h"
#include "store/Recordset.h"
#include "store/Workspace.h"

#include <SQLiteCpp/Backup.h>
#include <SQLiteCpp/Database.h>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <thread>

namespace dao {

namespace {

// SQLite calls the time bound's check after every this many instructions of its machine, and as
// a statement returns once it has run at least as many: a period longer than a short statement
// would never stop its one slow write.
constexpr int progressPeriod = 16;

// The progress observer is called on every this many calls of the time bound's check: some
// sixteen thousand steps of SQLite's machine, a few hundred times a second at most.
constexpr unsigned observerPeriod = 1024;

// The pages a backup copies in one part, between two reports of how far it is: 4 MiB of 4 KiB
// pages, a few hundredths of a second.
constexpr int pagesPerPart = 1024;

// The time bound reads the clock thousands of times a second: the kernel's coarse clock, a few
// milliseconds fine, costs a fraction of the precise one.
std::chrono::steady_clock::time_point now() {
#ifdef CLOCK_MONOTONIC_COARSE
    timespec time{};
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &time) == 0)
        return std::chrono::steady_clock::time_point(std::chrono::seconds(time.tv_sec) +
                                                     std::chrono::nanoseconds(time.tv_nsec));
#endif
    return std::chrono::steady_clock::now();
}

std::string seconds(std::chrono::steady_clock::duration duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::chrono::duration<double>(duration).count());
    return text;
}

// A registry may come from anywhere: SQLite's own advice for files that may be hostile. The
// file's schema may not call functions or virtual tables with side effects, nor may anything
// write to SQLite's own tables; every page's cells are checked as they are read; no value may
// grow beyond what a registry ever needs; and the file is read, not mapped into memory, so that
// a file cut short by another program fails as an error. SQLite's other limits stay as they
// are: they are what every other program opening the file has, and a sound file must not fail
// here as damaged because of a long view or default of another table. Sorts and temporary
// tables stay in memory, under the engine's heap limit, never in the system's temporary folder.
void guardAgainstHostileFile(SQLite::Database& database) {
    sqlite3* connection = database.getHandle();
    sqlite3_db_config(connection, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(connection, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_limit(connection, SQLITE_LIMIT_LENGTH, 1000000);
    sqlite3_limit(connection, SQLITE_LIMIT_TRIGGER_DEPTH, 10);
    sqlite3_limit(connection, SQLITE_LIMIT_ATTACHED, 0);
    database.exec("PRAGMA cell_size_check = ON; PRAGMA mmap_size = 0; PRAGMA temp_store = MEMORY");
}

std::string indexSql(const std::string& table, const TableDef::IndexDefinition& index) {
    std::string columns;
    for (const auto& field : index.fields)
        columns += (columns.empty() ? "" : ", ") + quoteIdentifier(field);
    return std::string(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + quoteIdentifier(index.name) + " ON " +
           quoteIdentifier(table) + " (" + columns + ")";
}

} // namespace

// A write transaction of this connection, with the write lock. BEGIN IMMEDIATE takes the lock
// before anything is written, so a busy file is waited for here, up to the busy timeout, and
// never fails half-way through the work; the write guard then runs under that lock. Until commit
// or rollback, ending the object rolls the transaction back, and never throws.
class Database::WriteTransaction {
public:
    explicit WriteTransaction(Database& database) : m_database(database) {
        database.connection().exec("BEGIN IMMEDIATE");
        m_open = true;
        try {
            if (database.m_writeGuard)
                database.m_writeGuard(database);
        } catch (...) {
            rollBackQuietly();
            throw;
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    ~WriteTransaction() { rollBackQuietly(); }

    // Once COMMIT is asked for, the transaction is no longer rolled back here: a COMMIT that
    // failed is resolved by failAfterCommit, which asks `landed` whether the write is in the file.
    void commit(const std::function<bool()>& landed) {
        m_open = false;
        try {
            m_database.connection().exec("COMMIT");
        } catch (const std::exception& failure) {
            m_database.failAfterCommit(failure, landed);
        }
    }

    // After the time bound stopped a write, SQLite has rolled the transaction back itself.
    void rollback() {
        m_open = false;
        if (!sqlite3_get_autocommit(m_database.connection().getHandle()))
            m_database.connection().exec("ROLLBACK");
    }

private:
    void rollBackQuietly() noexcept {
        if (m_open && m_database.m_connection)
            m_database.m_connection->tryExec("ROLLBACK");
        m_open = false;
    }

    Database& m_database;
    bool m_open = false;
};

Database::Database(Workspace* workspace, std::string path, bool readOnly)
    : m_workspace(workspace), m_path(std::move(path)) {
    try {
        guarded([&] { open(readOnly); });
    } catch (...) {
        m_connection.reset();
        throw;
    }
}

void Database::open(bool readOnly) {
    // One connection is only ever used by one thread: SQLite's per-call locking is not needed.
    const int flags = (readOnly ? SQLite::OPEN_READONLY : SQLite::OPEN_READWRITE) | SQLite::OPEN_NOMUTEX;
    m_connection = std::make_unique<SQLite::Database>(m_path, flags,
                                                      static_cast<int>(DBEngine::instance().BusyTimeout().count()));
    m_busyTimeout = DBEngine::instance().BusyTimeout();
    m_timeLimit = DBEngine::instance().TimeLimit();
    sqlite3_busy_handler(m_connection->getHandle(), &Database::onBusy, this);
    beginWork();
    sqlite3_progress_handler(m_connection->getHandle(), progressPeriod, &Database::onProgress, this);
    guardAgainstHostileFile(*m_connection);
    // SQLite reads nothing until the first statement; read the schema now, so that a file
    // that is not a database (or is locked past the busy timeout) fails the open itself.
    try {
        Statement probe(m_connection->getHandle(), "SELECT count(*) FROM sqlite_schema");
        probe.step();
    } catch (const SQLite::Exception& failure) {
        if (failure.getErrorCode() == SQLITE_TOOBIG)
            refuseOversizedSchema();
        throw;
    }
    // A write reported done must outlive a power cut. EXTRA also syncs the folder once the
    // rollback journal is removed at commit; otherwise the journal can come back after the
    // cut and the next open rolls the committed write back. The journal mode is the file's.
    m_connection->exec("PRAGMA synchronous = EXTRA");
}

// The schema could not be read for a definition longer than the store reads as a value: read it
// once more with SQLite's own limit to name that object.
void Database::refuseOversizedSchema() {
    sqlite3* connection = m_connection->getHandle();
    const int limit = sqlite3_limit(connection, SQLITE_LIMIT_LENGTH, -1);
    sqlite3_limit(connection, SQLITE_LIMIT_LENGTH, 1000000000);
    std::string kind;
    std::string name;
    std::int64_t length = 0;
    try {
        Statement oversized(connection, "SELECT type, name, length(CAST(sql AS BLOB)) FROM sqlite_schema "
                                        "WHERE length(CAST(sql AS BLOB)) > ?1 ORDER BY 3 DESC LIMIT 1");
        oversized.bind(1, limit);
        if (oversized.step()) {
            kind = oversized.text(0);
            name = oversized.text(1);
            length = oversized.integer(2);
        }
    } catch (const SQLite::Exception&) {
    }
    sqlite3_limit(connection, SQLITE_LIMIT_LENGTH, limit);
    if (kind.empty())
        return;
    throw Error(ErrorNumber::SchemaBeyondLimits,
                "The " + kind + " " + inQuotes(name) + " of " + describePath(m_path) + " is defined by " +
                    std::to_string(length) + " bytes of SQL, more than the " + std::to_string(limit) +
                    " bytes Vantrel reads of any one thing in a registry. Nothing was changed.");
}

Database::~Database() {
    try {
        Close();
    } catch (...) {
        // Never throw from a destructor; Close() has released everything before it could throw.
    }
    if (m_workspace)
        m_workspace->forget(this);
}

void Database::beginWork() {
    m_workStart = now();
    m_waited = {};
}

std::chrono::steady_clock::duration Database::worked() const {
    return now() - m_workStart - m_waited;
}

int Database::onProgress(void* database) {
    auto* self = static_cast<Database*>(database);
    if (self->m_progressObserver && ++self->m_progressCalls % observerPeriod == 0)
        self->m_progressObserver();
    if (self->m_timeLimit.count() <= 0 || self->worked() <= self->m_timeLimit)
        return 0;
    self->m_workExceeded = true;
    self->m_workRan = self->worked();
    return 1; // SQLite stops the statement with SQLITE_INTERRUPT
}

// Waits for another program's lock up to the busy timeout, as SQLite's own handler does, and
// keeps the time waited out of the time bound.
int Database::onBusy(void* database, int attempt) {
    using namespace std::chrono;
    auto* self = static_cast<Database*>(database);
    const auto start = steady_clock::now();
    if (attempt == 0)
        self->m_busySince = start;
    const auto waited = start - self->m_busySince;
    if (waited >= self->m_busyTimeout)
        return 0;
    const milliseconds step(attempt < 3 ? 1 : attempt < 10 ? 10 : 25);
    std::this_thread::sleep_for(std::min<steady_clock::duration>(step, self->m_busyTimeout - waited));
    self->m_waited += steady_clock::now() - start;
    return 1;
}

void Database::fail(const std::exception& failure, int systemError) const {
    if (const auto* error = dynamic_cast<const Error*>(&failure))
        throw *error;
    if (const auto* sqliteFailure = dynamic_cast<const SQLite::Exception*>(&failure)) {
        if (sqliteFailure->getErrorCode() == SQLITE_INTERRUPT && m_workExceeded) {
            m_workExceeded = false;
            throw Error(ErrorNumber::WorkLimitExceeded,
                        "Work on " + describePath(m_path) + " was stopped after " + seconds(m_workRan) +
                            " seconds of the database engine's own work (waiting for other programs not counted), "
                            "far longer than Vantrel ever needs: something in the registry file makes it slow or "
                            "endless. Nothing was changed, and the file is free for other programs again.");
        }
        const int kept = m_connection ? sqlite3_system_errno(m_connection->getHandle()) : 0;
        throw translate(*sqliteFailure, m_path, kept != 0 ? kept : systemError);
    }
    throw Error(ErrorNumber::EngineFailure,
                "The database engine failed on " + describePath(m_path) + ": " + failure.what() + ".");
}

void Database::failAfterCommit(const std::exception& failure, const std::function<bool()>& landed) {
    // SQLite keeps no errno for a failed COMMIT: the failed call's is read before anything else runs.
    const int systemError = errno;
    // A COMMIT that failed before its end leaves the transaction open: nothing of it is in the file.
    if (!m_connection || !sqlite3_get_autocommit(m_connection->getHandle())) {
        if (m_connection)
            m_connection->tryExec("ROLLBACK");
        fail(failure, systemError);
    }
    // Otherwise the failure may have come after the commit took effect (the sync of the folder
    // once the journal is gone, say): the file itself tells.
    bool inFile = false;
    try {
        beginWork();
        inFile = landed && landed();
    } catch (...) {
        fail(failure, systemError); // the file cannot be read either: the failure itself is the best account
    }
    if (!inFile)
        fail(failure, systemError);
    std::string detail = failure.what();
    try {
        fail(failure, systemError);
    } catch (const Error& error) {
        detail = error.description();
    }
    throw Error(ErrorNumber::SavedNotConfirmed,
                "The change was written to " + describePath(m_path) +
                    " and is in the file, but the disk reported a failure as it was being made permanent, so "
                    "it may not survive a power cut or a crash of the system. Check the disk. (" +
                    detail + ")");
}

bool Database::isOpen() const {
    return m_connection != nullptr;
}

SQLite::Database& Database::connection() {
    if (!m_connection)
        throw Error(ErrorNumber::ObjectClosed, "The registry database " + describePath(m_path) + " is closed.");
    return *m_connection;
}

Statement Database::Prepare(const std::string& sql) {
    return guarded([&] { return Statement(connection().getHandle(), sql); });
}

std::int64_t Database::totalChanges() {
    return sqlite3_total_changes64(connection().getHandle());
}

std::int64_t Database::lastInsertRowid() {
    return sqlite3_last_insert_rowid(connection().getHandle());
}

std::vector<std::string> Database::IntegrityProblems(int limit) {
    return guarded([&] {
        beginWork();
        Statement check = Prepare("PRAGMA integrity_check(" + std::to_string(std::max(limit, 1)) + ")");
        std::vector<std::string> problems;
        while (check.step())
            if (std::string finding = check.text(0); finding != "ok")
                problems.push_back(std::move(finding));
        return problems;
    });
}

void Database::CopyTo(const std::string& target, const std::string& shownAs,
                      const std::function<void(int copied, int pages)>& copied) {
    SQLite::Database& source = connection();
    // One read transaction around every part of the copy: the copy is of one moment, which
    // another program's write cannot change half-way. A writer in the middle of its commit holds
    // the file a little while; it is waited for as the program would, up to the busy timeout.
    try {
        beginWork();
        source.exec("BEGIN");
        Statement(source.getHandle(), "SELECT count(*) FROM sqlite_schema").step();
    } catch (const SQLite::Exception& failure) {
        source.tryExec("ROLLBACK");
        if ((failure.getErrorCode() & 0xFF) == SQLITE_BUSY)
            throw Error(ErrorNumber::FileInUse,
                        inQuotes(m_path) + " stayed locked by another program; no copy was made.");
        fail(failure);
    }
    try {
        SQLite::Database copy(target, SQLite::OPEN_READWRITE);
        SQLite::Backup backup(copy, source);
        const auto deadline = std::chrono::steady_clock::now() + DBEngine::instance().BusyTimeout();
        for (int result = backup.executeStep(pagesPerPart); result != SQLITE_DONE;
             result = backup.executeStep(pagesPerPart)) {
            if (result == SQLITE_OK) {
                if (copied)
                    copied(backup.getTotalPageCount() - backup.getRemainingPageCount(), backup.getTotalPageCount());
                continue;
            }
            if (std::chrono::steady_clock::now() > deadline)
                throw Error(ErrorNumber::FileInUse,
                            describePath(m_path) + " stayed locked by another program; no copy was made.");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (copied)
            copied(backup.getTotalPageCount(), backup.getTotalPageCount());
    } catch (const SQLite::Exception& failure) {
        source.tryExec("ROLLBACK");
        throw translate(failure, shownAs.empty() ? target : shownAs);
    } catch (...) {
        source.tryExec("ROLLBACK");
        throw;
    }
    source.tryExec("COMMIT");
}

namespace {

// An SQL function of one value that gives whether a test holds for the value's bytes.
void callTextTest(sqlite3_context* context, int, sqlite3_value** arguments) {
    const auto& test = *static_cast<const std::function<bool(std::string_view)>*>(sqlite3_user_data(context));
    const auto* bytes = static_cast<const char*>(sqlite3_value_blob(arguments[0]));
    const auto size = static_cast<std::size_t>(sqlite3_value_bytes(arguments[0]));
    sqlite3_result_int(context, test(std::string_view(bytes ? bytes : "", bytes ? size : 0)) ? 1 : 0);
}

void deleteTextTest(void* test) {
    delete static_cast<std::function<bool(std::string_view)>*>(test);
}

} // namespace

void Database::DefineTextTest(const std::string& name, std::function<bool(std::string_view)> test) {
    SQLite::Database& database = connection();
    auto owned = std::make_unique<std::function<bool(std::string_view)>>(std::move(test));
    // SQLite owns the test from here on, and deletes it even when the definition fails.
    guarded([&] { database.createFunction(name.c_str(), 1, true, owned.release(), callTextTest, nullptr, nullptr,
                                          deleteTextTest); });
}

void Database::attach(Recordset* recordset) {
    m_recordsets.push_back(recordset);
}

void Database::detach(Recordset* recordset) {
    m_recordsets.erase(std::remove(m_recordsets.begin(), m_recordsets.end(), recordset), m_recordsets.end());
}

TableDef Database::TableDefs(const std::string& name) {
    return guarded([&] {
        beginWork();
        Statement lookup = Prepare("SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
        lookup.bind(1, name);
        if (!lookup.step())
            throw Error(ErrorNumber::TableNotFound, describePath(m_path) + " has no table " + inQuotes(name) + ".");
        TableDef definition(*this, lookup.text(0), true);
        lookup.reset();
        Statement columns = Prepare("SELECT name, type FROM pragma_table_info(?1)");
        columns.bind(1, definition.m_name);
        while (columns.step())
            definition.m_fields.push_back(Field::fromDeclaration(columns.text(0), columns.text(1)));
        return definition;
    });
}

TableDef Database::CreateTableDef(const std::string& name) {
    connection();
    return TableDef(*this, name, false);
}

void Database::AppendTableDef(TableDef& definition) {
    if (definition.m_stored)
        throw Error(ErrorNumber::TableExists, "The table " + inQuotes(definition.m_name) + " is stored already.");
    if (definition.m_name.empty() || definition.m_fields.empty())
        throw Error(ErrorNumber::InvalidDefinition, "A table needs a name and at least one field.");

    std::string create = "CREATE TABLE " + quoteIdentifier(definition.m_name) + " (";
    for (std::size_t i = 0; i < definition.m_fields.size(); ++i)
        create += (i ? ", " : "") + definition.m_fields[i].columnDefinition();
    create += ")";
    std::vector<std::string> indexes;
    for (const auto& index : definition.m_indexes)
        indexes.push_back(indexSql(definition.m_name, index));

    write([&] {
        Statement exists = Prepare("SELECT 1 FROM sqlite_schema WHERE name = ?1 COLLATE NOCASE");
        exists.bind(1, definition.m_name);
        if (exists.step())
            throw Error(ErrorNumber::TableExists, describePath(m_path) + " already has a table or index named " +
                                                      inQuotes(definition.m_name) + ".");
        connection().exec(create);
        for (const auto& index : indexes)
            connection().exec(index);
    });
    definition.m_stored = true;
}

void Database::storeIndex(const std::string& table, const TableDef::IndexDefinition& index) {
    const std::string sql = indexSql(table, index);
    const std::chrono::milliseconds limit = m_timeLimit;
    m_timeLimit = {};
    try {
        write([&] { connection().exec(sql); });
    } catch (...) {
        m_timeLimit = limit;
        throw;
    }
    m_timeLimit = limit;
}

void Database::write(const std::function<void()>& work, std::function<bool()> landed) {
    beginWork();
    if (m_transaction) {
        try {
            guarded(work);
        } catch (const Error& error) {
            // The file holds part of this write (or, after the work bound, SQLite has rolled the
            // whole transaction back): the transaction can only be undone.
            if (error.code() == ErrorNumber::UnexpectedChange || error.code() == ErrorNumber::WorkLimitExceeded)
                m_spoiledBy = std::make_unique<Error>(error);
            throw;
        }
        m_landed = std::move(landed);
        return;
    }
    guarded([&] {
        WriteTransaction transaction(*this);
        work();
        transaction.commit(landed);
    });
}

void Database::BeginTrans() {
    if (m_transaction)
        throw Error(ErrorNumber::InvalidArgument, "A transaction is already open on " + describePath(m_path) + ".");
    m_spoiledBy.reset();
    beginWork();
    m_transaction = guarded([&] { return std::make_unique<WriteTransaction>(*this); });
}

void Database::CommitTrans() {
    if (!m_transaction)
        throw Error(ErrorNumber::InvalidArgument, "No transaction is open on " + describePath(m_path) + ".");
    const std::unique_ptr<WriteTransaction> transaction = std::move(m_transaction);
    const std::function<bool()> landed = std::move(m_landed);
    m_landed = nullptr;
    if (m_spoiledBy) {
        const Error spoiledBy = *m_spoiledBy;
        m_spoiledBy.reset();
        throw spoiledBy; // the transaction rolls back as it ends
    }
    beginWork();
    guarded([&] { transaction->commit(landed); });
}

void Database::Rollback() {
    if (!m_transaction)
        throw Error(ErrorNumber::InvalidArgument, "No transaction is open on " + describePath(m_path) + ".");
    const std::unique_ptr<WriteTransaction> transaction = std::move(m_transaction);
    m_spoiledBy.reset();
    m_landed = nullptr;
    guarded([&] { transaction->rollback(); });
}

void Database::SetCacheSize(int kibibytes) {
    if (kibibytes < 1)
        throw Error(ErrorNumber::InvalidArgument, "The cache size must be at least 1 KiB.");
    // A negative cache_size counts kibibytes rather than pages.
    guarded([&] { connection().exec("PRAGMA cache_size = -" + std::to_string(kibibytes)); });
}

void Database::Close() {
    // Statements must be finalized before the connection closes, or SQLite keeps the file open.
    const auto recordsets = m_recordsets;
    for (Recordset* recordset : recordsets)
        recordset->Close();
    m_recordsets.clear();
    m_transaction.reset(); // rolls back
    m_spoiledBy.reset();
    m_connection.reset();
}

} // namespace dao
