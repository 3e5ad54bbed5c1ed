// SPDX-License-Identifier: MIT
#include "store/RowWriter.h"

#include "store/Database.h"
#include "store/Error.h"
#include "store/Field.h"
#include "store/ServersFields.h"
#include "store/Utf8.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace dao {

namespace {

const std::string undone = " Nothing was saved.";

} // namespace

RowWriter::RowWriter(Database& database, const std::string& table, const std::vector<std::string>& columns)
    : m_database(database), m_table(table), m_columns(columns) {}

void RowWriter::close() {
    m_writes.clear();
    m_rowReaders.clear();
    m_rowRange.finalize();
    m_insertRows.finalize();
    m_largestRow.finalize();
    m_added.clear();
    m_addedCount = 0;
}

bool RowWriter::rowHolds(Database& database, const std::string& table, std::int64_t rowid,
                         const std::vector<std::pair<std::string, Variant>>& values) {
    std::string names = "rowid";
    for (const auto& value : values)
        names += ", " + quoteIdentifier(value.first);
    Statement reader = database.Prepare("SELECT " + names + " FROM " + quoteIdentifier(table) + " WHERE rowid = ?1");
    reader.bind(1, Variant(rowid));
    if (!reader.step())
        return false;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!reader.holds(static_cast<int>(i + 1), values[i].second))
            return false;
    return true;
}

// The statement for this kind of write and set of assigned fields, kept for the next such write.
Statement& RowWriter::writeStatement(bool edit, const std::string& shape, const std::vector<std::size_t>& assigned) {
    Statement& statement = m_writes[shape];
    if (statement)
        return statement;
    const std::string table = quoteIdentifier(m_table);
    std::string sql;
    if (edit && assigned.empty()) {
        sql = "SELECT 1 FROM " + table + " WHERE rowid = ?1";
    } else if (edit) {
        std::string assignments;
        for (std::size_t i = 0; i < assigned.size(); ++i)
            assignments += (i ? ", " : "") + quoteIdentifier(m_columns[assigned[i]]) + " = ?" + std::to_string(i + 1);
        sql = "UPDATE OR ABORT " + table + " SET " + assignments + " WHERE rowid = ?" +
              std::to_string(assigned.size() + 1);
    } else if (assigned.empty()) {
        sql = "INSERT OR ABORT INTO " + table + " DEFAULT VALUES";
    } else {
        std::string names;
        std::string values;
        for (std::size_t i = 0; i < assigned.size(); ++i) {
            names += (i ? ", " : "") + quoteIdentifier(m_columns[assigned[i]]);
            values += (i ? ", ?" : "?") + std::to_string(i + 1);
        }
        sql = "INSERT OR ABORT INTO " + table + " (" + names + ") VALUES (" + values + ")";
    }
    statement = m_database.Prepare(sql);
    return statement;
}

std::int64_t RowWriter::write(bool edit, std::int64_t rowid, const Values& buffer, const Values& original) {
    // One character per field names the statement, so bulk inserts build no text per row beyond
    // this short key.
    std::vector<std::size_t> assigned;
    std::string shape(buffer.size() + 1, '-');
    shape[0] = edit ? 'E' : 'A';
    for (std::size_t i = 0; i < buffer.size(); ++i)
        if (buffer[i]) {
            assigned.push_back(i);
            shape[i + 1] = '+';
        }
    Statement& write = writeStatement(edit, shape, assigned);
    if (edit)
        checkOriginalValues(shape, rowid, original);

    for (std::size_t i = 0; i < assigned.size(); ++i)
        write.bindReference(static_cast<int>(i + 1), *buffer[assigned[i]]);
    if (edit)
        write.bind(static_cast<int>(assigned.size() + 1), Variant(rowid));

    const std::int64_t changesBefore = m_database.totalChanges();
    m_database.beginWork();
    bool changed = false;
    try {
        if (edit && assigned.empty()) {
            const auto ending = write.resetOnExit();
            changed = write.step();
        } else {
            changed = write.run() == 1;
        }
    } catch (const SQLite::Exception& failure) {
        if (failure.getErrorCode() == SQLITE_CONSTRAINT)
            refuse(failure, buffer);
        throw;
    }
    if (edit && assigned.empty()) {
        if (!changed)
            throw Error(ErrorNumber::RowRemoved,
                        "The row of " + inQuotes(m_table) +
                            " being changed was removed by another program; nothing was saved.");
        return rowid;
    }
    return checkWritten(edit, rowid, shape, assigned, buffer, changed, m_database.totalChanges() - changesBefore);
}

// The chosen columns of one row, by row identity (?1); one statement per set of columns, kept.
Statement& RowWriter::rowReader(const std::string& shape, const std::vector<std::size_t>& columns) {
    Statement& reader = m_rowReaders[shape];
    if (!reader) {
        std::string names;
        for (const std::size_t column : columns)
            names += (names.empty() ? "" : ", ") + quoteIdentifier(m_columns[column]);
        if (names.empty())
            names = "rowid"; // a new row of default values: only that it is there
        reader = m_database.Prepare("SELECT " + names + " FROM " + quoteIdentifier(m_table) + " WHERE rowid = ?1");
    }
    return reader;
}

// Inside the write's transaction, before writing: the row must still hold every original value.
void RowWriter::checkOriginalValues(const std::string& shape, std::int64_t rowid, const Values& original) {
    std::vector<std::size_t> checked;
    std::string key = "O" + shape;
    for (std::size_t i = 0; i < original.size(); ++i) {
        key += original[i] ? '+' : '-';
        if (original[i])
            checked.push_back(i);
    }
    if (checked.empty())
        return;
    Statement& reader = rowReader(key, checked);
    reader.bind(1, Variant(rowid));
    const auto ending = reader.resetOnExit();
    m_database.beginWork();
    if (!reader.step())
        throw Error(ErrorNumber::RowRemoved, "The row of " + inQuotes(m_table) +
                                                 " being changed was removed by another program; nothing was saved.");
    for (std::size_t k = 0; k < checked.size(); ++k)
        if (!reader.holds(static_cast<int>(k), *original[checked[k]]))
            throw Error(ErrorNumber::AccountChanged, "The row of " + inQuotes(m_table) +
                                                         " was changed by another program since it was read (its "
                                                         "field " +
                                                         inQuotes(m_columns[checked[k]]) +
                                                         " differs); nothing was saved.");
}

// After the write, before its transaction ends: exactly one row changed, and it holds exactly
// what was given. Anything else was done by the file's own schema, and the write is undone.
std::int64_t RowWriter::checkWritten(bool edit, std::int64_t rowid, const std::string& shape,
                                     const std::vector<std::size_t>& assigned, const Values& buffer, bool changed,
                                     std::int64_t changes) {
    const std::int64_t row = edit ? rowid : m_database.lastInsertRowid();
    Statement& reader = rowReader(shape, assigned);
    reader.bind(1, Variant(row));
    const auto ending = reader.resetOnExit();
    m_database.beginWork();
    const bool found = reader.step();
    if (!changed || !found) {
        if (edit && !changed && !found)
            throw Error(ErrorNumber::RowRemoved,
                        "The row of " + inQuotes(m_table) + " being changed was removed by another program;" + undone);
        throw byTrigger((!changed ? "ignored the write to " : "removed the row just written to ") + inQuotes(m_table));
    }
    checkStored(reader, 0, assigned, buffer, changes);
    checkChanges(1, changes);
    return row;
}

// The columns of `reader` from `first` on hold exactly the values `buffer` gives for `assigned`:
// the same storage class and the same bytes. Anything else was done by the file's own schema.
void RowWriter::checkStored(const Statement& reader, int first, const std::vector<std::size_t>& assigned,
                            const Values& buffer, std::int64_t changes) {
    for (std::size_t k = 0; k < assigned.size(); ++k)
        if (!reader.holds(first + static_cast<int>(k), *buffer[assigned[k]]))
            refuseStored(assigned[k], *buffer[assigned[k]], reader.value(first + static_cast<int>(k)), changes);
}

void RowWriter::refuseStored(std::size_t column, const Variant& given, const Variant& stored, std::int64_t changes) {
    const std::string field = inQuotes(m_columns[column]);
    // A column's type affinity turns text that looks like a number into that number.
    const bool secret = mdlDatabase::IsSecretField(m_columns[column]);
    if (given.isText() && (stored.isInteger() || stored.isReal()) && changes == 1)
        throw Error(
            ErrorNumber::UnexpectedChange,
            "The field " + field + " of " + inQuotes(m_table) + " would have stored " +
                (secret ? "the text given as " + stored.kind() : given.describe() + " as " + stored.describe()) +
                ", as its column is declared." + undone);
    throw byTrigger("replaced the value written to the field " + field + " of " + inQuotes(m_table));
}

// What a trigger of the registry did to a write, `deed` worded to follow "A trigger of the
// registry ...": the write is undone.
Error RowWriter::byTrigger(const std::string& deed) const {
    return Error(ErrorNumber::UnexpectedChange,
                 "A trigger of the registry " + describePath(m_database.Name()) + " " + deed + "." + undone);
}

// After a write of `written` rows that made `changes` changes: no other row may have changed.
void RowWriter::checkChanges(std::int64_t written, std::int64_t changes) const {
    if (changes != written)
        throw byTrigger("changed " + std::to_string(changes - written) +
                        (changes == written + 1 ? " other row" : " other rows") + " along with the one written to " +
                        inQuotes(m_table));
}

// After an insert of `expected` rows, of which `inserted` were inserted and `changes` changes made.
void RowWriter::checkInserted(std::int64_t expected, std::int64_t inserted, std::int64_t changes) const {
    if (inserted != expected)
        throw byTrigger("ignored the write to " + inQuotes(m_table));
    checkChanges(expected, changes);
}

void RowWriter::requireEveryValue(const Values& row) const {
    if (row.size() != m_columns.size() || std::find(row.begin(), row.end(), std::nullopt) != row.end())
        throw Error(ErrorNumber::InvalidArgument,
                    "A new row of " + inQuotes(m_table) + " needs a value for every column.");
}

void RowWriter::useAllColumns() {
    if (m_allColumns.size() == m_columns.size())
        return;
    m_allColumns.clear();
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        m_allColumns.push_back(i);
    m_addShape = "A" + std::string(m_columns.size(), '+');
}

std::int64_t RowWriter::add(Values row) {
    requireEveryValue(row);
    useAllColumns();
    Statement& insert = writeStatement(false, m_addShape, m_allColumns);
    for (std::size_t i = 0; i < row.size(); ++i)
        insert.bindReference(static_cast<int>(i + 1), *row[i]);
    const std::int64_t changesBefore = m_database.totalChanges();
    m_database.beginWork();
    bool changed = false;
    try {
        changed = insert.run() == 1;
    } catch (const SQLite::Exception& failure) {
        if (failure.getErrorCode() == SQLITE_CONSTRAINT)
            refuse(failure, row);
        throw;
    }
    checkInserted(1, changed ? 1 : 0, m_database.totalChanges() - changesBefore);
    const std::int64_t rowid = m_database.lastInsertRowid();
    addedRow(rowid).swap(row);
    if (m_addedCount >= addedBatch)
        confirmAdded();
    return rowid;
}

// The slot for the values of the new row `rowid`, until it is read back.
RowWriter::Values& RowWriter::addedRow(std::int64_t rowid) {
    if (m_addedCount == m_added.size())
        m_added.emplace_back();
    auto& [id, values] = m_added[m_addedCount++];
    id = rowid;
    return values;
}

void RowWriter::confirmAdded() {
    if (m_addedCount == 0)
        return;
    const std::span<const std::pair<std::int64_t, Values>> added(m_added.data(), m_addedCount);
    const std::int64_t first = added.front().first;
    bool consecutive = true;
    for (std::size_t k = 0; k < added.size() && consecutive; ++k)
        consecutive = added[k].first - first == static_cast<std::int64_t>(k);
    m_database.beginWork();
    if (consecutive) {
        // New rows in a row: one scan of their range reads them all, in row identity order.
        Statement& range = rowRange();
        range.bind(1, Variant(first));
        range.bind(2, Variant(added.back().first));
        const auto ending = range.resetOnExit();
        for (const auto& [rowid, values] : added) {
            if (!range.step() || range.integer(0) != rowid)
                throw byTrigger("removed the row just written to " + inQuotes(m_table));
            checkStored(range, 1, m_allColumns, values, 1);
        }
    } else {
        for (const auto& [rowid, values] : added) {
            Statement& reader = rowReader(m_addShape, m_allColumns);
            reader.bind(1, Variant(rowid));
            const auto ending = reader.resetOnExit();
            if (!reader.step())
                throw byTrigger("removed the row just written to " + inQuotes(m_table));
            checkStored(reader, 0, m_allColumns, values, 1);
        }
    }
    m_addedCount = 0;
}

// Every column of the rows whose identity is from ?1 to ?2, with that identity first.
Statement& RowWriter::rowRange() {
    if (!m_rowRange) {
        std::string names;
        for (const std::string& column : m_columns)
            names += ", " + quoteIdentifier(column);
        m_rowRange = m_database.Prepare("SELECT rowid" + names + " FROM " + quoteIdentifier(m_table) +
                                        " WHERE rowid BETWEEN ?1 AND ?2 ORDER BY rowid");
    }
    return m_rowRange;
}

std::int64_t RowWriter::addRows(std::span<Values> rows, const std::function<void(std::size_t, const Error&)>& refused) {
    std::int64_t last = 0;
    const auto addOne = [&](std::size_t k) {
        try {
            last = add(std::move(rows[k]));
        } catch (const Error& error) {
            if (error.code() != ErrorNumber::ValueRefused)
                throw;
            refused(k, error);
        }
    };
    std::size_t done = 0;
    for (; rows.size() - done >= rowsPerInsert; done += rowsPerInsert) {
        std::optional<std::int64_t> written;
        if (rowsInsertable())
            written = insertRows(rows, done);
        if (written)
            last = *written;
        else
            for (std::size_t k = done; k < done + rowsPerInsert; ++k)
                addOne(k);
    }
    for (; done < rows.size(); ++done)
        addOne(done);
    return last;
}

// Whether the identities of the rows one insert adds can be told from the last of them: none of
// the columns written may be the row identity under another name (an INTEGER PRIMARY KEY, taken
// to be one when in doubt), and the statement's values must stay within SQLite's bound.
bool RowWriter::rowsInsertable() {
    if (m_rowsInsertable)
        return *m_rowsInsertable;
    sqlite3* connection = m_database.connection().getHandle();
    bool insertable = m_columns.size() * rowsPerInsert <=
                      static_cast<std::size_t>(sqlite3_limit(connection, SQLITE_LIMIT_VARIABLE_NUMBER, -1));
    for (std::size_t i = 0; i < m_columns.size() && insertable; ++i) {
        const char* type = nullptr;
        int primaryKey = 0;
        insertable = sqlite3_table_column_metadata(connection, "main", m_table.c_str(), m_columns[i].c_str(), &type,
                                                   nullptr, nullptr, &primaryKey, nullptr) == SQLITE_OK &&
                     !(primaryKey && type && sqlite3_stricmp(type, "INTEGER") == 0);
    }
    m_rowsInsertable = insertable;
    return insertable;
}

// Inserts rowsPerInsert rows of `rows` from `first` on by one statement, each read back as add()'s
// are. Returns the identity of the last, or nullopt, with nothing written, when they are to be
// added one at a time: when the table's identities are drawn at random, or when a rule of the
// table refused one of them (the statement undoes its rows; add() names the row refused).
std::optional<std::int64_t> RowWriter::insertRows(std::span<Values> rows, std::size_t first) {
    useAllColumns();
    const std::size_t width = m_columns.size();
    const std::string table = quoteIdentifier(m_table);
    if (!m_insertRows) {
        std::string names;
        std::string row;
        for (std::size_t i = 0; i < width; ++i) {
            names += (i ? ", " : "") + quoteIdentifier(m_columns[i]);
            row += i ? ", ?" : "(?";
        }
        row += ")";
        std::string values;
        for (std::size_t k = 0; k < rowsPerInsert; ++k)
            values += (k ? ", " : "") + row;
        m_insertRows = m_database.Prepare("INSERT OR ABORT INTO " + table + " (" + names + ") VALUES " + values);
        m_largestRow = m_database.Prepare("SELECT max(rowid) FROM " + table);
    }
    for (std::size_t k = first; k < first + rowsPerInsert; ++k)
        requireEveryValue(rows[k]);

    m_database.beginWork();
    std::int64_t largest = 0;
    {
        const auto ending = m_largestRow.resetOnExit();
        if (m_largestRow.step() && !m_largestRow.isNull(0))
            largest = m_largestRow.integer(0);
    }
    // Once the largest identity is taken, SQLite draws new ones at random.
    const auto count = static_cast<std::int64_t>(rowsPerInsert);
    if (largest > std::numeric_limits<std::int64_t>::max() - count)
        return std::nullopt;

    for (std::size_t k = 0; k < rowsPerInsert; ++k)
        for (std::size_t i = 0; i < width; ++i)
            m_insertRows.bindReference(static_cast<int>(k * width + i + 1), *rows[first + k][i]);
    const std::int64_t changesBefore = m_database.totalChanges();
    std::int64_t inserted = 0;
    try {
        inserted = m_insertRows.run();
    } catch (const SQLite::Exception& failure) {
        if (failure.getErrorCode() == SQLITE_CONSTRAINT)
            return std::nullopt;
        throw;
    }
    checkInserted(count, inserted, m_database.totalChanges() - changesBefore);
    // Each new row took the identity after the largest, so the rows' identities follow one another
    // up to the last; the read-back finds each by it, and every row above `largest` is a new one.
    const std::int64_t last = m_database.lastInsertRowid();
    if (last - count < largest)
        throw byTrigger("removed the row just written to " + inQuotes(m_table));
    for (std::size_t k = 0; k < rowsPerInsert; ++k)
        addedRow(last - count + 1 + static_cast<std::int64_t>(k)).swap(rows[first + k]);
    if (m_addedCount >= addedBatch)
        confirmAdded();
    return last;
}

// A value broke one of the table's rules. Our own tables name each rule "Field: rule"; rules
// written by another program are reported as SQLite words them, with the field when we can tell.
void RowWriter::refuse(const SQLite::Exception& failure, const Values& buffer) {
    if (failure.getExtendedErrorCode() == SQLITE_CONSTRAINT_TRIGGER)
        m_database.fail(failure); // the file's own words, marked as the file's
    std::string detail = failure.what();
    if (const auto colon = detail.find("constraint failed: "); colon != std::string::npos)
        detail = detail.substr(colon + 19);

    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const std::string prefix = m_columns[i] + ": ";
        if (!buffer[i] || detail.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string given;
        if (const std::string* text = buffer[i]->text())
            given = " (it has " + std::to_string(utf8CharacterCount(*text).value_or(text->size())) + " characters)";
        else
            given = " (it is " +
                    (mdlDatabase::IsSecretField(m_columns[i]) ? buffer[i]->kind() : buffer[i]->describe()) + ")";
        throw Error(ErrorNumber::ValueRefused, "The value for " + inQuotes(m_columns[i]) + " was refused: it must be " +
                                                   detail.substr(prefix.size()) + given + "." + undone);
    }
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (buffer[i] && detail.find(m_columns[i]) != std::string::npos)
            throw Error(ErrorNumber::ValueRefused, "The value for " + inQuotes(m_columns[i]) +
                                                       " was refused by a rule of " + inQuotes(m_table) + ": " +
                                                       detail + "." + undone);
    throw Error(ErrorNumber::ValueRefused,
                "A value was refused by a rule of " + inQuotes(m_table) + ": " + detail + "." + undone);
}

} // namespace dao
