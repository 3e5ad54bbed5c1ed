// SPDX-License-Identifier: MIT
#pragma once

#include "store/IndexCursor.h"
#include "store/RowWriter.h"
#include "store/Variant.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dao {

class Database;

enum class UpdateType : int {
    Regular = 1,
};

// A table-type cursor over every row of one table. Rows are visited in the order of the selected
// index (by row identity until one is selected), ties in the order the rows were stored. The
// cursor streams: it holds one row, never the table, and reads a field of a row only when asked.
//
// Every operation throws dao::Error on failure; see Error.h for the numbers.
class Recordset {
public:
    // One field of the current row, by name.
    class FieldRef {
    public:
        // The value of the field in the current row (or as assigned since Edit or AddNew); may
        // be null. Throws NoCurrentRecord when no row is current.
        dao::Variant Value() const;
        // Appends the value as text to `text` and returns true, or returns false and appends
        // nothing when the value is null. For readers that stream many rows: a key field of the
        // index is read this way without allocating, and a number in it as SQLite writes it.
        bool AppendText(std::string& text) const;
        // Fills the edit buffer. Text holding a NUL character or invalid UTF-8 is refused here,
        // since SQLite's length() would miscount it; every other rule is the table's own and
        // is checked by Update.
        void SetValue(const dao::Variant& value);
        // The same, taking the value over instead of copying it.
        void SetValue(dao::Variant&& value);
        // After Edit: the value the field held when the caller read the row. Update then writes
        // only while the row still holds exactly this value (the same storage class and bytes,
        // null included), checked inside the write's own transaction; otherwise it writes
        // nothing and throws AccountChanged. Fields given no original value are not checked.
        void SetOriginalValue(const dao::Variant& value);

    private:
        friend class Recordset;
        FieldRef(Recordset& recordset, std::size_t column) : m_recordset(&recordset), m_column(column) {}
        Recordset* m_recordset;
        std::size_t m_column;
    };

    // Opened by TableDef::OpenRecordset, standing on the first row by row identity.
    Recordset(Database& database, std::string table);
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;
    ~Recordset();

    // Selects the index that orders traversal and stands on its first row; BOF is then true
    // exactly when the table is empty. Throws IndexNotFound for a name the table lacks, and
    // UnsupportedIndex for an index over expressions.
    void Index(const std::string& name);
    const std::string& Index() const { return m_cursor.index(); }

    bool BOF() const { return m_cursor.bof(); }
    bool Eof() const { return m_cursor.eof(); }
    // After Seek: true when no row matched.
    bool NoMatch() const { return m_cursor.noMatch(); }

    void MoveFirst();
    // Throws NoCurrentRecord when already past the last row.
    void MoveNext();
    // Stands on the first row, in index order, whose first key field equals `key` under the
    // index's collation, in O(log n). Without such a row, NoMatch and Eof are true.
    void Seek(const dao::Variant& key);

    // Throws FieldNotFound for a name the table lacks (names compare without ASCII case).
    FieldRef Fields(const std::string& name);

    // Starts changing the current row. Its key (the fields of the selected index, or the field
    // "User" when none is selected) is taken as its original value, as the cursor read it: the
    // write needs the row to hold it still. Throws NoCurrentRecord when no row is current.
    void Edit();
    // Starts a new row; Update inserts it. The position does not change.
    void AddNew();
    // Writes the fields assigned since Edit or AddNew, all of them or none, in one transaction,
    // to the row the cursor stands on, found by its row identity. Fields not assigned keep what
    // they hold in the file at that moment. Before the transaction ends the row is read back:
    // it must hold exactly the values given, and the statement must have changed that one row
    // and nothing else. Throws ValueRefused naming the field, RowRemoved when another program
    // deleted the row meanwhile, AccountChanged when a field no longer holds its original value
    // (see SetOriginalValue), UnexpectedChange when the file's own triggers or column types
    // changed, ignored or converted the write (the write is undone; inside BeginTrans the whole
    // transaction can then only be rolled back), WorkLimitExceeded, FileInUse, ReadOnlyFile, and
    // what the database's write guard throws (see Database::SetWriteGuard). Every write resolves
    // a conflict by aborting, whatever the table declares, so a unique rule can never make it
    // delete or skip a row. SavedNotConfirmed: the row is in the file as written, but the disk
    // failed as it was made permanent; the edit is over, as after a save.
    void Update(UpdateType type = UpdateType::Regular, bool force = false);
    void CancelUpdate();

    // Releases the cursor's statements and read lock. May be called again.
    void Close();
    bool isOpen() const { return m_database != nullptr; }

private:
    enum class EditMode { None, Edit, AddNew };

    static std::vector<std::string> columnsOf(Database& database, const std::string& table);
    Database& database() const;
    dao::Variant read(std::size_t column);
    bool appendText(std::size_t column, std::string& text);
    void assign(std::size_t column, dao::Variant&& value);
    void requireRow() const;
    void endEdit();

    Database* m_database;
    std::string m_table;
    std::vector<std::string> m_columns;
    IndexCursor m_cursor;
    RowWriter m_writer;

    EditMode m_editMode = EditMode::None;
    RowWriter::Values m_buffer;
    RowWriter::Values m_original;
};

} // namespace dao
