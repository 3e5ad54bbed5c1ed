// SPDX-License-Identifier: MIT
#pragma once

#include "store/Statement.h"
#include "store/Variant.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace SQLite {
class Exception;
}

namespace dao {

class Database;
class Error;

// The checked write under a Recordset: one row's assigned fields written with the table's own
// rules, never trusting that the write landed as given. Before writing, the row must still hold
// the values the caller read; after it, before the transaction ends, the row is read back and
// must hold exactly what was written, and the statement must have changed that one row alone.
// Statements are kept per kind of write and set of fields, so a bulk import compiles each once.
class RowWriter {
public:
    // One value per column; nullopt where nothing was given.
    using Values = std::vector<std::optional<Variant>>;

    // `table` and `columns` are kept by the caller for the writer's lifetime.
    RowWriter(Database& database, const std::string& table, const std::vector<std::string>& columns);

    // Inside the caller's write transaction: changes the row `rowid` when `edit` (only while it
    // holds every value of `original` that is given), otherwise inserts a new row, writing the
    // values `buffer` gives. Text is not copied: `buffer` stays unchanged until the write ends.
    // Returns the identity of the row written. Throws as Recordset::Update describes.
    std::int64_t write(bool edit, std::int64_t rowid, const Values& buffer, const Values& original);

    // Inside the caller's write transaction: inserts a new row of `row`, which gives a value for
    // every column, checked as write() checks a new row, for bulk inserts. The row is read back
    // with the rows added before it, by the next confirmAdded() and at the latest once
    // `addedBatch` rows wait, before the transaction ends: rows added one after another are read
    // by one scan of their range, not each by a statement of its own. Returns the identity of the
    // new row. Throws as Recordset::Update describes; InvalidArgument when a value is missing.
    std::int64_t add(Values row);
    // Reads back every row add() wrote since the last read-back; throws UnexpectedChange, as
    // write() does, when one is gone or does not hold exactly what was given.
    void confirmAdded();
    static constexpr std::size_t addedBatch = 256;

    // Inside the caller's write transaction, on a table no trigger of which runs on an insert (the
    // caller's write guard refuses them): inserts each of `rows` in order, checked and read back
    // as add() does, up to rowsPerInsert of them by one statement; rows past the last full
    // statement, and every row where the new rows' identities would not follow one another, are
    // added one at a time. A row that a rule of the table refuses (ValueRefused) is not written
    // and is passed to `refused` with its index in `rows`; the rows around it are written. Every
    // other failure is thrown as add() throws it. The rows are left holding values of rows written
    // before, whose room a caller filling them again reuses. Returns the identity of the last row
    // written, 0 when none was.
    std::int64_t addRows(std::span<Values> rows, const std::function<void(std::size_t, const Error&)>& refused);
    static constexpr std::size_t rowsPerInsert = 64;

    // Whether the row `rowid` of `table` is there and holds exactly `values`, read afresh: how a
    // write whose commit failed is found to have landed after all.
    static bool rowHolds(Database& database, const std::string& table, std::int64_t rowid,
                         const std::vector<std::pair<std::string, Variant>>& values);

    // Releases the statements.
    void close();

private:
    Statement& writeStatement(bool edit, const std::string& shape, const std::vector<std::size_t>& assigned);
    Statement& rowReader(const std::string& shape, const std::vector<std::size_t>& columns);
    Statement& rowRange();
    void useAllColumns();
    bool rowsInsertable();
    std::optional<std::int64_t> insertRows(std::span<Values> rows, std::size_t first);
    void checkOriginalValues(const std::string& shape, std::int64_t rowid, const Values& original);
    std::int64_t checkWritten(bool edit, std::int64_t rowid, const std::string& shape,
                              const std::vector<std::size_t>& assigned, const Values& buffer, bool changed,
                              std::int64_t changes);
    void checkStored(const Statement& reader, int first, const std::vector<std::size_t>& assigned, const Values& buffer,
                     std::int64_t changes);
    [[noreturn]] void refuseStored(std::size_t column, const Variant& given, const Variant& stored,
                                   std::int64_t changes);
    [[noreturn]] void refuse(const SQLite::Exception& failure, const Values& buffer);
    Error byTrigger(const std::string& deed) const;
    void checkChanges(std::int64_t written, std::int64_t changes) const;
    void checkInserted(std::int64_t expected, std::int64_t inserted, std::int64_t changes) const;
    void requireEveryValue(const Values& row) const;

    Database& m_database;
    const std::string& m_table;
    const std::vector<std::string>& m_columns;
    std::unordered_map<std::string, Statement> m_writes;
    // Reads of chosen fields of one row by row identity, for the checks around a write.
    std::unordered_map<std::string, Statement> m_rowReaders;
    Values& addedRow(std::int64_t rowid);

    // The rows add() wrote that are not yet read back: the first m_addedCount of m_added, whose
    // values keep their room for the rows after them. With the columns and shape of its insert.
    std::vector<std::pair<std::int64_t, Values>> m_added;
    std::size_t m_addedCount = 0;
    std::vector<std::size_t> m_allColumns;
    std::string m_addShape;
    Statement m_rowRange;
    // addRows(): the insert of rowsPerInsert rows, and the largest row identity before it.
    Statement m_insertRows;
    Statement m_largestRow;
    std::optional<bool> m_rowsInsertable; // whether addRows() may insert several rows by one statement
};

} // namespace dao
