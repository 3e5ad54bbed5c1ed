// SPDX-License-Identifier: MIT
#pragma once

#include "store/Error.h"
#include "store/TableDef.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace SQLite {
class Database;
}

namespace dao {

class Recordset;
class Workspace;

// An open registry file. Made by Workspace::OpenDatabase.
class Database {
public:
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    // The stored definition of the table `name` (SQLite compares table names without regard to
    // ASCII case). Throws Error(TableNotFound) when the file has no such table.
    TableDef TableDefs(const std::string& name);

    // A new definition, not yet stored: add fields and indexes, then AppendTableDef.
    TableDef CreateTableDef(const std::string& name);

    // Stores the definition as a new table with its indexes, all or nothing.
    // Throws Error: TableExists, InvalidDefinition, and the file's own failures.
    void AppendTableDef(TableDef& definition);

    // An explicit transaction around several updates: every Update between BeginTrans and
    // CommitTrans lands together or, after Rollback or a failure to commit, not at all.
    void BeginTrans();
    void CommitTrans();
    void Rollback();

    // How much of the file SQLite keeps in memory for this connection, in kibibytes (SQLite's
    // default is 2000). Long bulk writes that touch an index in random order run far faster when
    // the index fits. Throws InvalidArgument for a size below 1.
    void SetCacheSize(int kibibytes);

    // No single step of a statement may run more SQLite instructions than this bound, so that a
    // file whose triggers or views loop without end cannot hold the program, or the write lock,
    // for ever. Past it the statement is stopped, its transaction rolled back, and the operation
    // throws WorkLimitExceeded. The bound counts work only: waiting for another program's lock
    // runs no instructions. It is far above what any step of a list load, a save or an import
    // needs, each row being a step of its own. A whole-file check (PRAGMA integrity_check) needs
    // more: SetWorkLimit(0) lifts the bound, and SetWorkLimit(DefaultWorkLimit) restores it.
    static constexpr std::int64_t DefaultWorkLimit = 20'000'000;
    void SetWorkLimit(std::int64_t instructions);
    std::int64_t WorkLimit() const { return m_workLimit; }

    // Closes every recordset opened on this database, then the file. May be called again.
    void Close();
    bool isOpen() const;

    // The path the database was opened with.
    const std::string& Name() const { return m_path; }

    // For the engine's own objects.
    SQLite::Database& connection();
    void attach(Recordset* recordset);
    void detach(Recordset* recordset);
    // Runs `write` inside a write transaction, taking the write lock first (waiting out other
    // programs' locks up to the busy timeout), unless BeginTrans already opened one.
    void write(const std::function<void()>& write);
    // Makes `index` on the stored table `table`, in a write transaction of its own unless
    // BeginTrans opened one. Building an index reads every row once and runs none of the file's
    // triggers, so the work bound does not apply to it.
    void storeIndex(const std::string& table, const TableDef::IndexDefinition& index);
    // Every SQLite failure leaves the engine as an Error naming this file.
    [[noreturn]] void fail(const std::exception& failure) const;
    // Starts the work bound afresh: called before each step of the store's statements.
    void beginWork() { m_work = 0; }

private:
    friend class Workspace;
    Database(Workspace* workspace, std::string path, bool readOnly);
    void detachFromWorkspace() { m_workspace = nullptr; }

    static int onProgress(void* database);

    Workspace* m_workspace;
    std::string m_path;
    std::unique_ptr<SQLite::Database> m_connection;
    std::vector<Recordset*> m_recordsets;
    bool m_inTransaction = false;
    // A write inside BeginTrans that failed after changing the file: CommitTrans refuses.
    std::unique_ptr<Error> m_spoiledBy;
    std::int64_t m_workLimit = DefaultWorkLimit;
    std::int64_t m_work = 0;
    mutable bool m_workExceeded = false;
};

} // namespace dao
