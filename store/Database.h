// SPDX-License-Identifier: MIT
#pragma once

#include "store/Error.h"
#include "store/Statement.h"
#include "store/TableDef.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
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
    // CommitTrans lands together or, after Rollback or a failure to commit, not at all. When
    // the commit fails after it took effect, CommitTrans throws SavedNotConfirmed: everything
    // is in the file, but the disk did not confirm that it will outlive a power cut.
    void BeginTrans();
    void CommitTrans();
    void Rollback();

    // Called inside every write transaction before its first write (for BeginTrans, once, as it
    // begins), with the write lock held, so that no other program can change the schema between
    // the guard and the write. It throws to refuse the write: nothing is then written.
    void SetWriteGuard(std::function<void(Database&)> guard) { m_writeGuard = std::move(guard); }

    // How much of the file SQLite keeps in memory for this connection, in kibibytes (SQLite's
    // default is 2000). Long bulk writes that touch an index in random order run far faster when
    // the index fits. Throws InvalidArgument for a size below 1.
    void SetCacheSize(int kibibytes);

    // No operation of the store (opening, one step of a list, one save, one row of an import) may
    // run longer than this on the database engine's own work, so that a file whose schema makes a
    // statement slow or endless cannot hold the program, or the write lock, for long. Past it the
    // statement is stopped, its transaction rolled back, and the operation throws
    // WorkLimitExceeded saying how long it ran. Time spent waiting for another program's lock is
    // not counted: that wait has the busy timeout. A whole-file check needs more: SetTimeLimit
    // takes any bound, and zero lifts it.
    // The limit starts as the engine's TimeLimit (three seconds).
    void SetTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }
    std::chrono::milliseconds TimeLimit() const { return m_timeLimit; }

    // Called now and then while a statement of this database runs (every few thousand steps of
    // the database engine's machine), so that a long statement can show it is alive. The observer
    // must be quick, must not throw and must not use this database. An empty function removes it.
    void SetProgressObserver(std::function<void()> observer) { m_progressObserver = std::move(observer); }

    // Closes every recordset opened on this database, then the file. May be called again.
    void Close();
    bool isOpen() const;

    // The path the database was opened with.
    const std::string& Name() const { return m_path; }

    // Compiles `sql` on this file. Throws Error: ObjectClosed, and the file's own failures. The
    // statement's own failures are SQLite's: run it inside guarded. As with SQLite itself, the
    // statement must end before the database closes.
    Statement Prepare(const std::string& sql);

    // Runs `work` and gives back what it returns. Whatever it throws leaves as the store's Error
    // naming this file (an Error passes unchanged): the one way the store's operations, and
    // anything working on the file through Prepare, report a failure.
    template <typename Work>
    decltype(auto) guarded(Work&& work) {
        try {
            return std::forward<Work>(work)();
        } catch (const std::exception& failure) {
            fail(failure);
        }
    }

    // What SQLite's integrity check finds wrong with the file, at most `limit` findings; empty
    // when the file is sound. The check runs under the time bound (see SetTimeLimit). Throws
    // Error: DamagedFile or NotADatabase when the file cannot be read far enough to check it.
    std::vector<std::string> IntegrityProblems(int limit = 100);

    // Copies every page of the file, in parts under one read transaction, into the existing file
    // `target`, which it replaces: a copy of one moment that no other program's write can change
    // half-way. A writer in the middle of its commit is waited for up to the busy timeout, then
    // FileInUse. Failures name `shownAs` (the path the copy is known by; `target` when empty).
    // `copied`, when given, is called after each part with the pages copied so far and the pages
    // of the whole file.
    void CopyTo(const std::string& target, const std::string& shownAs = {},
                const std::function<void(int copied, int pages)>& copied = {});

    // Makes `test` callable in this file's SQL as the function `name` of one value, giving 1 when
    // the test holds for the value's bytes (its text, for a number) and 0 otherwise; null gives
    // the test an empty text. Replaces an earlier function of that name.
    void DefineTextTest(const std::string& name, std::function<bool(std::string_view)> test);

    // For the engine's own objects.
    SQLite::Database& connection();
    // Rows inserted, changed or deleted on this connection since it opened, triggers included.
    std::int64_t totalChanges();
    // The row identity of the last row this connection inserted.
    std::int64_t lastInsertRowid();
    void attach(Recordset* recordset);
    void detach(Recordset* recordset);
    // Runs `write` inside a write transaction, taking the write lock first (waiting out other
    // programs' locks up to the busy timeout), unless BeginTrans already opened one. `landed`
    // tells, by reading the file afresh, whether the write is in it: asked only when the commit
    // (of this write, or of the transaction BeginTrans opened) fails once it may have taken effect.
    void write(const std::function<void()>& write, std::function<bool()> landed = {});
    // Makes `index` on the stored table `table`, in a write transaction of its own unless
    // BeginTrans opened one. Building an index reads every row once and runs none of the file's
    // triggers, so the work bound does not apply to it.
    void storeIndex(const std::string& table, const TableDef::IndexDefinition& index);
    // Turns a failure into the Error naming this file: SQLite's by its result code (see
    // translate), the time bound's as WorkLimitExceeded, an Error unchanged. Called by guarded.
    // `systemError`: the failed call's errno, for a failure after which SQLite keeps none (0: unknown).
    [[noreturn]] void fail(const std::exception& failure, int systemError = 0) const;
    // Starts the time bound afresh: called before each operation of the store.
    void beginWork();
    // Whether the current write transaction took effect after all, when its COMMIT failed: asked
    // by `landed`, which reads the file afresh. Throws SavedNotConfirmed when it did, else
    // rethrows the failure.
    [[noreturn]] void failAfterCommit(const std::exception& failure, const std::function<bool()>& landed);

private:
    class WriteTransaction;
    friend class Workspace;
    Database(Workspace* workspace, std::string path, bool readOnly);
    void detachFromWorkspace() { m_workspace = nullptr; }

    void open(bool readOnly);
    static int onProgress(void* database);
    static int onBusy(void* database, int attempt);
    void refuseOversizedSchema();
    std::chrono::steady_clock::duration worked() const;

    Workspace* m_workspace;
    std::string m_path;
    std::unique_ptr<SQLite::Database> m_connection;
    std::vector<Recordset*> m_recordsets;
    // The transaction BeginTrans opened, until CommitTrans or Rollback.
    std::unique_ptr<WriteTransaction> m_transaction;
    // A write inside BeginTrans that failed after changing the file: CommitTrans refuses.
    std::unique_ptr<Error> m_spoiledBy;
    std::function<void(Database&)> m_writeGuard;
    // The last write's test of whether the open transaction landed, for CommitTrans.
    std::function<bool()> m_landed;
    std::chrono::milliseconds m_timeLimit{};
    std::chrono::steady_clock::time_point m_workStart;
    std::chrono::steady_clock::duration m_waited{};           // lock waits since m_workStart
    std::chrono::steady_clock::time_point m_busySince;       // the start of the current lock wait
    std::chrono::milliseconds m_busyTimeout{};
    mutable std::chrono::steady_clock::duration m_workRan{}; // set when the time bound stopped a statement
    mutable bool m_workExceeded = false;
    std::function<void()> m_progressObserver;
    unsigned m_progressCalls = 0; // of onProgress, to call the observer on every observerPeriod-th
};

} // namespace dao
