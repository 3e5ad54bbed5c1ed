// SPDX-License-Identifier: MIT
#pragma once

#include "store/Statement.h"
#include "store/Variant.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dao {

class Database;

// The traversal under a Recordset: one scan of a table in the order of the selected index (by
// row identity until one is selected), ties in the order the rows were stored, and the reading
// of the current row. The scan streams: it holds one row, never the table; it reads the row
// identity and the index's key fields, and the other fields only when asked, by row identity.
//
// Before a write the scan is suspended, so that no read lock stands in the writer's way; the
// next move resumes it after the current row. Every operation throws the store's Error.
class IndexCursor {
public:
    // `columns` are the table's field names, kept by the caller for the cursor's lifetime.
    IndexCursor(Database& database, const std::string& table, const std::vector<std::string>& columns);

    // Selects the index (see Recordset::Index); the caller then moves to the first row.
    void select(const std::string& name);
    const std::string& index() const { return m_index; }
    // The fields of the selected index, as positions among the columns, in key order.
    std::size_t keyCount() const { return m_keys.size(); }
    std::size_t keyColumn(std::size_t key) const { return m_keys[key].column; }

    bool bof() const { return m_bof; }
    bool eof() const { return m_eof; }
    bool noMatch() const { return m_noMatch; }
    // Whether the scan stands on the current row (false once suspended).
    bool live() const { return m_scanLive; }

    void moveFirst();
    // Moves past the current row, which the caller has checked is there.
    void moveNext();
    void seek(const Variant& key);

    // The identity of the current row.
    std::int64_t rowid() const;
    // The key `key` of the current row as the scan read it, after the scan was suspended.
    const Variant& savedKey(std::size_t key) const { return m_savedKeys[key]; }
    // The position of the field `name` among the columns (names compare without ASCII case).
    // Throws FieldNotFound.
    std::size_t columnOf(const std::string& name) const;
    // The field of the current row: while the scan stands on it, a key field as the scan read it;
    // otherwise read afresh by row identity (RowRemoved when another program deleted the row).
    Variant value(std::size_t column);
    // While the scan stands on the current row and `column` is a key field that is not null:
    // appends it as text, without allocating, and returns true. Otherwise false.
    bool appendScanned(std::size_t column, std::string& text) const;
    // The fields read by row identity are read afresh on the next request.
    void forgetRow() { m_rowLoaded = false; }

    // Remembers the current row's identity and keys and ends the scan's read.
    void suspend();
    // Releases the statements. Only close() may follow.
    void close();

private:
    struct KeyColumn {
        std::size_t column;
        std::string collation;
        bool descending;
    };

    int scanPosition(std::size_t column) const; // the column of the live scan holding it, or 0
    std::string scanSql(const std::string& where) const;
    void startScan(const std::string& where, const std::vector<Variant>& parameters);
    void step();
    void resumeAfterCurrent();

    Database& m_database;
    const std::string& m_table;
    const std::vector<std::string>& m_columns;
    std::string m_index;
    std::vector<KeyColumn> m_keys;

    // The scan: rowid, then the key columns, in index order.
    Statement m_scan;
    bool m_scanLive = false; // m_scan stands on the current row
    bool m_bof = true;
    bool m_eof = true;
    bool m_noMatch = false;
    std::int64_t m_rowid = 0;              // the current row's identity while the scan is suspended
    std::vector<Variant> m_savedKeys;       // the current row's keys while the scan is suspended

    // The current row's other fields, read on demand by row identity.
    Statement m_rowQuery;
    std::vector<Variant> m_row;
    bool m_rowLoaded = false;
};

} // namespace dao
