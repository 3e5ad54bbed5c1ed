// SPDX-License-Identifier: MIT
#include "store/Database.h"

#include "store/DBEngine.h"
#include "store/Error.h"
#include "store/Recordset.h"
#include "store/Workspace.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

#include <algorithm>

namespace dao {

namespace {

// SQLite calls the work bound's check after every this many instructions.
constexpr int progressPeriod = 1000;

// A registry may come from anywhere: SQLite's own advice for files that may be hostile. The
// file's schema may not call functions or virtual tables with side effects, nor may anything
// write to SQLite's own tables; every page's cells are checked as they are read; no value,
// statement or expression may grow beyond what a registry ever needs; and the file is read, not
// mapped into memory, so that a file cut short by another program fails as an error.
void guardAgainstHostileFile(SQLite::Database& database) {
    sqlite3* connection = database.getHandle();
    sqlite3_db_config(connection, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(connection, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_limit(connection, SQLITE_LIMIT_LENGTH, 1000000);
    sqlite3_limit(connection, SQLITE_LIMIT_SQL_LENGTH, 100000);
    sqlite3_limit(connection, SQLITE_LIMIT_EXPR_DEPTH, 100);
    sqlite3_limit(connection, SQLITE_LIMIT_COMPOUND_SELECT, 10);
    sqlite3_limit(connection, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 100);
    sqlite3_limit(connection, SQLITE_LIMIT_TRIGGER_DEPTH, 10);
    sqlite3_limit(connection, SQLITE_LIMIT_ATTACHED, 0);
    database.exec("PRAGMA cell_size_check = ON; PRAGMA mmap_size = 0");
}

std::string indexSql(const std::string& table, const TableDef::IndexDefinition& index) {
    std::string columns;
    for (const auto& field : index.fields)
        columns += (columns.empty() ? "" : ", ") + quoteIdentifier(field);
    return std::string(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + quoteIdentifier(index.name) + " ON " +
           quoteIdentifier(table) + " (" + columns + ")";
}

} // namespace

Database::Database(Workspace* workspace, std::string path, bool readOnly)
    : m_workspace(workspace), m_path(std::move(path)) {
    try {
        // One connection is only ever used by one thread: SQLite's per-call locking is not needed.
        const int flags = (readOnly ? SQLite::OPEN_READONLY : SQLite::OPEN_READWRITE) | SQLite::OPEN_NOMUTEX;
        m_connection = std::make_unique<SQLite::Database>(m_path, flags,
                                                          static_cast<int>(DBEngine::instance().BusyTimeout().count()));
        guardAgainstHostileFile(*m_connection);
        sqlite3_progress_handler(m_connection->getHandle(), progressPeriod, &Database::onProgress, this);
        // SQLite reads nothing until the first statement; read the schema now, so that a file
        // that is not a database (or is locked past the busy timeout) fails the open itself.
        SQLite::Statement probe(*m_connection, "SELECT count(*) FROM sqlite_schema");
        probe.executeStep();
        // A write reported done must outlive a power cut. EXTRA also syncs the folder once the
        // rollback journal is removed at commit; otherwise the journal can come back after the
        // cut and the next open rolls the committed write back. The journal mode is the file's.
        m_connection->exec("PRAGMA synchronous = EXTRA");
    } catch (const std::exception& failure) {
        try {
            fail(failure); // while the connection still knows the system's error number
        } catch (...) {
            m_connection.reset();
            throw;
        }
    }
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

int Database::onProgress(void* database) {
    auto* self = static_cast<Database*>(database);
    self->m_work += progressPeriod;
    if (self->m_workLimit <= 0 || self->m_work <= self->m_workLimit)
        return 0;
    self->m_workExceeded = true;
    return 1; // SQLite stops the statement with SQLITE_INTERRUPT
}

void Database::SetWorkLimit(std::int64_t instructions) {
    m_workLimit = instructions;
}

void Database::fail(const std::exception& failure) const {
    if (const auto* error = dynamic_cast<const Error*>(&failure))
        throw *error;
    if (const auto* sqliteFailure = dynamic_cast<const SQLite::Exception*>(&failure)) {
        if (sqliteFailure->getErrorCode() == SQLITE_INTERRUPT && m_workExceeded) {
            m_workExceeded = false;
            throw Error(ErrorNumber::WorkLimitExceeded,
                        "Work on " + inQuotes(m_path) + " was stopped after " + std::to_string(m_workLimit) +
                            " steps of the database engine, far more than Vantrel ever needs: a trigger or view of "
                            "the registry may run without end. Nothing was changed, and the file is free for other "
                            "programs again.");
        }
        throw translate(*sqliteFailure, m_path, m_connection ? sqlite3_system_errno(m_connection->getHandle()) : 0);
    }
    throw Error(ErrorNumber::EngineFailure,
                "The database engine failed on " + inQuotes(m_path) + ": " + failure.what() + ".");
}

bool Database::isOpen() const {
    return m_connection != nullptr;
}

SQLite::Database& Database::connection() {
    if (!m_connection)
        throw Error(ErrorNumber::ObjectClosed, "The registry database " + inQuotes(m_path) + " is closed.");
    return *m_connection;
}

void Database::attach(Recordset* recordset) {
    m_recordsets.push_back(recordset);
}

void Database::detach(Recordset* recordset) {
    m_recordsets.erase(std::remove(m_recordsets.begin(), m_recordsets.end(), recordset), m_recordsets.end());
}

TableDef Database::TableDefs(const std::string& name) {
    try {
        beginWork();
        SQLite::Statement lookup(connection(),
                                 "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
        lookup.bind(1, name);
        if (!lookup.executeStep())
            throw Error(ErrorNumber::TableNotFound, inQuotes(m_path) + " has no table " + inQuotes(name) + ".");
        TableDef definition(*this, lookup.getColumn(0).getString(), true);
        SQLite::Statement columns(connection(), "SELECT name, type FROM pragma_table_info(?1)");
        columns.bind(1, definition.m_name);
        while (columns.executeStep())
            definition.m_fields.push_back(
                Field::fromDeclaration(columns.getColumn(0).getString(), columns.getColumn(1).getString()));
        return definition;
    } catch (const std::exception& failure) {
        fail(failure);
    }
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
        SQLite::Statement exists(connection(), "SELECT 1 FROM sqlite_schema WHERE name = ?1 COLLATE NOCASE");
        exists.bind(1, definition.m_name);
        if (exists.executeStep())
            throw Error(ErrorNumber::TableExists,
                        inQuotes(m_path) + " already has a table or index named " + inQuotes(definition.m_name) + ".");
        connection().exec(create);
        for (const auto& index : indexes)
            connection().exec(index);
    });
    definition.m_stored = true;
}

void Database::storeIndex(const std::string& table, const TableDef::IndexDefinition& index) {
    const std::string sql = indexSql(table, index);
    const std::int64_t limit = m_workLimit;
    m_workLimit = 0;
    try {
        write([&] { connection().exec(sql); });
    } catch (...) {
        m_workLimit = limit;
        throw;
    }
    m_workLimit = limit;
}

void Database::write(const std::function<void()>& work) {
    try {
        beginWork();
        if (m_inTransaction) {
            try {
                work();
            } catch (const std::exception& failure) {
                try {
                    fail(failure);
                } catch (const Error& error) {
                    // The file holds part of this write (or, after the work bound, SQLite has
                    // rolled the whole transaction back): the transaction can only be undone.
                    if (error.code() == ErrorNumber::UnexpectedChange || error.code() == ErrorNumber::WorkLimitExceeded)
                        m_spoiledBy = std::make_unique<Error>(error);
                    throw;
                }
            }
            return;
        }
        // IMMEDIATE takes the write lock before anything is written, so a busy file is waited
        // for here, up to the busy timeout, and never fails half-way through the work.
        connection().exec("BEGIN IMMEDIATE");
        try {
            work();
            connection().exec("COMMIT");
        } catch (...) {
            connection().tryExec("ROLLBACK");
            throw;
        }
    } catch (const std::exception& failure) {
        fail(failure);
    }
}

void Database::BeginTrans() {
    if (m_inTransaction)
        throw Error(ErrorNumber::InvalidArgument, "A transaction is already open on " + inQuotes(m_path) + ".");
    m_spoiledBy.reset();
    try {
        connection().exec("BEGIN IMMEDIATE");
    } catch (const std::exception& failure) {
        fail(failure);
    }
    m_inTransaction = true;
}

void Database::CommitTrans() {
    if (!m_inTransaction)
        throw Error(ErrorNumber::InvalidArgument, "No transaction is open on " + inQuotes(m_path) + ".");
    m_inTransaction = false;
    if (m_spoiledBy) {
        const Error spoiledBy = *m_spoiledBy;
        m_spoiledBy.reset();
        connection().tryExec("ROLLBACK");
        throw spoiledBy;
    }
    try {
        connection().exec("COMMIT");
    } catch (const std::exception& failure) {
        connection().tryExec("ROLLBACK");
        fail(failure);
    }
}

void Database::Rollback() {
    if (!m_inTransaction)
        throw Error(ErrorNumber::InvalidArgument, "No transaction is open on " + inQuotes(m_path) + ".");
    m_inTransaction = false;
    m_spoiledBy.reset();
    try {
        // After the work bound stopped a write, SQLite has rolled the transaction back itself.
        if (!sqlite3_get_autocommit(connection().getHandle()))
            connection().exec("ROLLBACK");
    } catch (const std::exception& failure) {
        fail(failure);
    }
}

void Database::SetCacheSize(int kibibytes) {
    if (kibibytes < 1)
        throw Error(ErrorNumber::InvalidArgument, "The cache size must be at least 1 KiB.");
    try {
        // A negative cache_size counts kibibytes rather than pages.
        connection().exec("PRAGMA cache_size = -" + std::to_string(kibibytes));
    } catch (const std::exception& failure) {
        fail(failure);
    }
}

void Database::Close() {
    // Statements must be finalized before the connection closes, or SQLite keeps the file open.
    const auto recordsets = m_recordsets;
    for (Recordset* recordset : recordsets)
        recordset->Close();
    m_recordsets.clear();
    if (m_connection && m_inTransaction)
        m_connection->tryExec("ROLLBACK");
    m_inTransaction = false;
    m_spoiledBy.reset();
    m_connection.reset();
}

} // namespace dao
