// SPDX-License-Identifier: MIT
#include "store/Recordset.h"

#include "store/Database.h"
#include "store/Error.h"
#include "store/Field.h"
#include "store/FieldRule.h"
#include "store/ServersFields.h"
#include "store/Statement.h"
#include "store/Utf8.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <sqlite3.h>

#include <functional>
#include <strings.h>

namespace dao {

namespace {

// Text is not copied: the edit buffer holds it until the write has run.
void bindVariant(SQLite::Statement& statement, int index, const Variant& value) {
    if (value.isNull())
        statement.bind(index);
    else if (value.isInteger())
        statement.bind(index, static_cast<int64_t>(value.toInteger()));
    else if (value.isReal())
        statement.bind(index, value.toReal());
    else if (value.isText())
        statement.bindNoCopy(index, *value.text());
    else {
        const std::string bytes = value.toText();
        statement.bind(index, bytes.data(), static_cast<int>(bytes.size()));
    }
}

bool sameName(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

} // namespace

// --- Fields ---------------------------------------------------------------------------------

Variant Recordset::FieldRef::Value() const {
    return m_recordset->read(m_column);
}

bool Recordset::FieldRef::AppendText(std::string& text) const {
    return m_recordset->appendText(m_column, text);
}

void Recordset::FieldRef::SetValue(const dao::Variant& value) {
    m_recordset->assign(m_column, dao::Variant(value));
}

void Recordset::FieldRef::SetValue(dao::Variant&& value) {
    m_recordset->assign(m_column, std::move(value));
}

void Recordset::FieldRef::SetOriginalValue(const dao::Variant& value) {
    m_recordset->database();
    if (m_recordset->m_editMode != EditMode::Edit)
        throw Error(ErrorNumber::NotEditing, "The original value of " + inQuotes(m_recordset->m_columns[m_column]) +
                                                 " can only be given after Edit.");
    m_recordset->m_original[m_column] = value;
}

// --- Opening and closing --------------------------------------------------------------------

Recordset::Recordset(Database& database, std::string table) : m_database(&database), m_table(std::move(table)) {
    try {
        SQLite::Statement columns(database.connection(), "SELECT name FROM pragma_table_info(?1)");
        columns.bind(1, m_table);
        while (columns.executeStep())
            m_columns.push_back(columns.getColumn(0).getString());
    } catch (const std::exception& failure) {
        database.fail(failure);
    }
    if (m_columns.empty())
        throw Error(ErrorNumber::TableNotFound, inQuotes(database.Name()) + " has no table " + inQuotes(m_table) + ".");
    m_buffer.resize(m_columns.size());
    m_original.resize(m_columns.size());
    database.attach(this);
    try {
        MoveFirst();
    } catch (...) {
        Close();
        throw;
    }
}

Recordset::~Recordset() {
    Close();
}

void Recordset::Close() {
    // Statements first: each holds the file's read lock while it stands on a row.
    m_scan.reset();
    m_rowQuery.reset();
    m_writes.clear();
    m_rowReaders.clear();
    m_scanLive = false;
    m_bof = m_eof = true;
    m_editMode = EditMode::None;
    if (m_database) {
        m_database->detach(this);
        m_database = nullptr;
    }
}

Database& Recordset::database() const {
    if (!m_database)
        throw Error(ErrorNumber::ObjectClosed, "The recordset over " + inQuotes(m_table) + " is closed.");
    return *m_database;
}

std::size_t Recordset::columnIndex(const std::string& name) const {
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (sameName(m_columns[i], name))
            return i;
    throw Error(ErrorNumber::FieldNotFound, "The table " + inQuotes(m_table) + " has no field " + inQuotes(name) + ".");
}

Recordset::FieldRef Recordset::Fields(const std::string& name) {
    database();
    return FieldRef(*this, columnIndex(name));
}

// --- Index and traversal --------------------------------------------------------------------

void Recordset::Index(const std::string& name) {
    Database& db = database();
    std::vector<KeyColumn> keys;
    std::string storedName;
    try {
        SQLite::Statement lookup(db.connection(), "SELECT name FROM sqlite_schema WHERE type = 'index' AND "
                                                  "name = ?1 COLLATE NOCASE AND tbl_name = ?2 COLLATE NOCASE");
        lookup.bind(1, name);
        lookup.bind(2, m_table);
        if (!lookup.executeStep())
            throw Error(ErrorNumber::IndexNotFound, "The table " + inQuotes(m_table) + " in " + inQuotes(db.Name()) +
                                                        " has no index " + inQuotes(name) + ".");
        storedName = lookup.getColumn(0).getString();
        SQLite::Statement info(db.connection(),
                               "SELECT cid, name, desc, coll FROM pragma_index_xinfo(?1) WHERE key = 1 ORDER BY seqno");
        info.bind(1, storedName);
        while (info.executeStep()) {
            if (info.getColumn(0).getInt() < 0)
                throw Error(ErrorNumber::UnsupportedIndex, "The index " + inQuotes(storedName) + " of " +
                                                               inQuotes(m_table) + " is not over plain fields.");
            keys.push_back(KeyColumn{columnIndex(info.getColumn(1).getString()), info.getColumn(3).getString(),
                                     info.getColumn(2).getInt() != 0});
        }
    } catch (const std::exception& failure) {
        db.fail(failure);
    }
    m_index = storedName;
    m_keys = std::move(keys);
    MoveFirst();
}

std::string Recordset::scanSql(const std::string& where) const {
    std::string columns = "rowid";
    std::string order;
    for (const auto& key : m_keys) {
        const std::string column = quoteIdentifier(m_columns[key.column]);
        columns += ", " + column;
        // The same collation and direction as the index, so SQLite walks the index and sorts nothing.
        order += column + " COLLATE " + quoteIdentifier(key.collation) + (key.descending ? " DESC, " : ", ");
    }
    std::string sql = "SELECT " + columns + " FROM " + quoteIdentifier(m_table);
    if (!m_index.empty())
        sql += " INDEXED BY " + quoteIdentifier(m_index);
    if (!where.empty())
        sql += " WHERE " + where;
    // Row identity breaks ties, so rows with equal keys keep a stable order.
    return sql + " ORDER BY " + order + "rowid";
}

void Recordset::startScan(const std::string& where, const std::vector<Variant>& parameters) {
    Database& db = database();
    m_editMode = EditMode::None;
    try {
        m_scan.reset();
        m_scanLive = false;
        m_scan = prepare(db.connection().getHandle(), scanSql(where));
        for (std::size_t i = 0; i < parameters.size(); ++i)
            bindValue(m_scan.get(), static_cast<int>(i + 1), parameters[i]);
        step();
    } catch (const std::exception& failure) {
        m_scan.reset();
        m_scanLive = false;
        m_eof = true;
        db.fail(failure);
    }
}

void Recordset::step() {
    m_rowLoaded = false;
    database().beginWork();
    bool row = false;
    try {
        row = stepRow(m_scan.get());
    } catch (...) {
        sqlite3_reset(m_scan.get()); // releases the read lock
        throw;
    }
    if (row) {
        m_scanLive = true; // the row identity is read only when needed: see rowid()
        m_eof = false;
    } else {
        sqlite3_reset(m_scan.get()); // ends the read transaction
        m_scanLive = false;
        m_eof = true;
    }
}

std::int64_t Recordset::rowid() const {
    return m_scanLive ? sqlite3_column_int64(m_scan.get(), 0) : m_rowid;
}

void Recordset::suspendScan() {
    if (!m_scanLive)
        return;
    m_rowid = rowid();
    m_savedKeys.clear();
    for (std::size_t k = 0; k < m_keys.size(); ++k)
        m_savedKeys.push_back(columnValue(m_scan.get(), static_cast<int>(k + 1)));
    sqlite3_reset(m_scan.get());
    m_scanLive = false;
}

// Continues the index order after the current row once the scan was suspended for a write.
// The condition spells out "after (keys, rowid)" in the index's own order, nulls first as
// SQLite sorts them. Rare (only a move after Update), so clarity wins over speed here.
void Recordset::resumeAfterCurrent() {
    std::vector<Variant> parameters = m_savedKeys;
    parameters.emplace_back(static_cast<std::int64_t>(m_rowid));
    std::string predicate = "rowid > ?";
    predicate += std::to_string(parameters.size());
    for (std::size_t k = m_keys.size(); k-- > 0;) {
        const std::string raw = quoteIdentifier(m_columns[m_keys[k].column]);
        const std::string column = raw + " COLLATE " + quoteIdentifier(m_keys[k].collation);
        const std::string parameter = "?" + std::to_string(k + 1);
        const bool isNull = m_savedKeys[k].isNull();
        std::string greater;
        if (!m_keys[k].descending)
            greater = isNull ? raw + " IS NOT NULL" : column + " > " + parameter;
        else
            greater = isNull ? "0" : "(" + column + " < " + parameter + " OR " + raw + " IS NULL)";
        const std::string equal = isNull ? raw + " IS NULL" : column + " = " + parameter;
        predicate = "(" + greater + " OR (" + equal + " AND " + predicate + "))";
    }
    startScan(predicate, parameters);
}

void Recordset::MoveFirst() {
    startScan("", {});
    m_bof = m_eof;
    m_noMatch = false;
}

void Recordset::MoveNext() {
    requireRow();
    m_editMode = EditMode::None;
    m_bof = false;
    if (m_scanLive) {
        try {
            step();
        } catch (const std::exception& failure) {
            m_scanLive = false;
            m_eof = true;
            database().fail(failure);
        }
    } else {
        resumeAfterCurrent();
    }
}

void Recordset::Seek(const Variant& key) {
    if (m_keys.empty())
        throw Error(ErrorNumber::InvalidArgument, "Select an index of " + inQuotes(m_table) + " before seeking.");
    const KeyColumn& first = m_keys.front();
    const std::string column =
        quoteIdentifier(m_columns[first.column]) + " COLLATE " + quoteIdentifier(first.collation);
    startScan(column + (first.descending ? " <= ?1" : " >= ?1"), {key});
    m_bof = false;
    m_noMatch = true;
    if (m_scanLive) {
        try {
            // Compare under the index's collation, exactly as the index ordered the rows.
            const RawStatement equal = prepare(database().connection().getHandle(),
                                               "SELECT ?1 = ?2 COLLATE " + quoteIdentifier(first.collation));
            bindValue(equal.get(), 1, columnValue(m_scan.get(), 1));
            bindValue(equal.get(), 2, key);
            database().beginWork();
            m_noMatch = !stepRow(equal.get()) || sqlite3_column_int(equal.get(), 0) != 1;
        } catch (const std::exception& failure) {
            database().fail(failure);
        }
    }
    if (m_noMatch) {
        if (m_scanLive)
            sqlite3_reset(m_scan.get());
        m_scanLive = false;
        m_eof = true;
    }
}

// --- Reading --------------------------------------------------------------------------------

void Recordset::requireRow() const {
    database();
    if (m_eof)
        throw Error(ErrorNumber::NoCurrentRecord, "No current record.");
}

bool Recordset::appendText(std::size_t column, std::string& text) {
    if (m_scanLive && m_editMode == EditMode::None) {
        for (std::size_t k = 0; k < m_keys.size(); ++k) {
            if (m_keys[k].column != column)
                continue;
            // SQLite gives no text for a null (nor when out of memory): those take the general way.
            const int index = static_cast<int>(k + 1);
            const unsigned char* bytes = sqlite3_column_text(m_scan.get(), index);
            if (bytes) {
                text.append(reinterpret_cast<const char*>(bytes),
                            static_cast<std::size_t>(sqlite3_column_bytes(m_scan.get(), index)));
                return true;
            }
            break;
        }
    }
    const Variant value = read(column);
    if (value.isNull())
        return false;
    text += value.toText();
    return true;
}

Variant Recordset::read(std::size_t column) {
    if (m_editMode != EditMode::None && m_buffer[column])
        return *m_buffer[column];
    if (m_editMode == EditMode::AddNew)
        return {};
    requireRow();
    for (std::size_t k = 0; k < m_keys.size(); ++k) {
        if (m_keys[k].column != column)
            continue;
        if (m_scanLive)
            return columnValue(m_scan.get(), static_cast<int>(k + 1));
        break; // suspended: the stored value may have changed, read it afresh
    }
    if (!m_rowLoaded) {
        Database& db = database();
        try {
            if (!m_rowQuery) {
                std::string columns;
                for (const auto& name : m_columns)
                    columns += (columns.empty() ? "" : ", ") + quoteIdentifier(name);
                m_rowQuery = prepare(db.connection().getHandle(),
                                     "SELECT " + columns + " FROM " + quoteIdentifier(m_table) + " WHERE rowid = ?1");
            }
            sqlite3_stmt* query = m_rowQuery.get();
            sqlite3_reset(query);
            db.beginWork();
            check(sqlite3_db_handle(query), sqlite3_bind_int64(query, 1, rowid()));
            if (!stepRow(query)) {
                sqlite3_reset(query);
                throw Error(ErrorNumber::RowRemoved,
                            "The current row of " + inQuotes(m_table) + " was removed by another program.");
            }
            m_row.clear();
            for (std::size_t i = 0; i < m_columns.size(); ++i)
                m_row.push_back(columnValue(query, static_cast<int>(i)));
            sqlite3_reset(query);
            m_rowLoaded = true;
        } catch (const std::exception& failure) {
            db.fail(failure);
        }
    }
    return m_row[column];
}

// --- Writing --------------------------------------------------------------------------------

void Recordset::Edit() {
    requireRow();
    // No read lock is held while the buffer is filled: other programs may commit meanwhile. The
    // row is written only while it still holds the key it was found by (the user name of the
    // index "User"), as the cursor read it, so a row that another program renamed, or whose
    // identity it gave to another row, is never written.
    const bool scanned = m_scanLive;
    suspendScan();
    std::vector<std::pair<std::size_t, Variant>> keys;
    const auto remember = [&](std::size_t column, const std::function<Variant()>& value) {
        try {
            keys.emplace_back(column, value());
        } catch (const Error& error) {
            if (error.code() != ErrorNumber::RowRemoved)
                throw;
            // Update finds the row gone and says so.
        }
    };
    if (m_keys.empty()) {
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            if (sameName(m_columns[i], "User"))
                remember(i, [&] { return read(i); });
    } else {
        for (std::size_t k = 0; k < m_keys.size(); ++k)
            remember(m_keys[k].column, [&] { return scanned ? m_savedKeys[k] : read(m_keys[k].column); });
    }
    m_editMode = EditMode::Edit;
    std::fill(m_buffer.begin(), m_buffer.end(), std::nullopt);
    std::fill(m_original.begin(), m_original.end(), std::nullopt);
    for (auto& [column, value] : keys)
        m_original[column] = std::move(value);
}

void Recordset::AddNew() {
    database();
    m_editMode = EditMode::AddNew;
    std::fill(m_buffer.begin(), m_buffer.end(), std::nullopt);
    std::fill(m_original.begin(), m_original.end(), std::nullopt);
}

void Recordset::CancelUpdate() {
    m_editMode = EditMode::None;
    std::fill(m_buffer.begin(), m_buffer.end(), std::nullopt);
    std::fill(m_original.begin(), m_original.end(), std::nullopt);
}

void Recordset::assign(std::size_t column, Variant&& value) {
    database();
    const std::string& field = m_columns[column];
    if (m_editMode == EditMode::None)
        throw Error(ErrorNumber::NotEditing,
                    "The field " + inQuotes(field) + " can only be assigned after Edit or AddNew.");
    if (const std::string* text = value.text())
        if (const std::string reason = FieldRule::TextRefusal(*text); !reason.empty())
            throw Error(ErrorNumber::ValueRefused,
                        "The value for " + inQuotes(field) + " was refused: it " + reason + ".");
    m_buffer[column] = std::move(value);
}

void Recordset::Update(UpdateType type, bool /*force: every update writes only its own fields*/) {
    if (type != UpdateType::Regular)
        throw Error(ErrorNumber::InvalidArgument, "Only regular updates are offered.");
    Database& db = database();
    if (m_editMode == EditMode::None)
        throw Error(ErrorNumber::NotEditing, "Update needs Edit or AddNew first.");
    if (m_editMode == EditMode::Edit)
        requireRow();
    // Our own open read would make SQLite refuse the write lock at once, without waiting, when
    // another program is about to write: end every read before asking for it.
    suspendScan();
    if (m_rowQuery)
        sqlite3_reset(m_rowQuery.get());
    // Should the commit fail once it may have taken effect, the file is asked whether the row is
    // there as written; a new row is known by its row identity alone.
    auto written = std::make_shared<std::int64_t>(m_rowid);
    std::vector<std::pair<std::string, Variant>> values;
    if (m_editMode == EditMode::Edit)
        for (std::size_t i = 0; i < m_buffer.size(); ++i)
            if (m_buffer[i])
                values.emplace_back(m_columns[i], *m_buffer[i]);
    auto landed = [&db, table = m_table, written, values = std::move(values)] {
        return rowHolds(db, table, *written, values);
    };
    const auto finish = [this] {
        m_editMode = EditMode::None;
        std::fill(m_buffer.begin(), m_buffer.end(), std::nullopt);
        std::fill(m_original.begin(), m_original.end(), std::nullopt);
        m_rowLoaded = false;
    };
    try {
        db.write([&] { *written = writeBuffer(); }, std::move(landed));
    } catch (const Error& error) {
        if (error.code() == ErrorNumber::SavedNotConfirmed)
            finish();
        throw;
    }
    finish();
}

bool Recordset::rowHolds(Database& database, const std::string& table, std::int64_t rowid,
                         const std::vector<std::pair<std::string, Variant>>& values) {
    std::string names = "rowid";
    for (const auto& value : values)
        names += ", " + quoteIdentifier(value.first);
    const RawStatement reader = prepare(database.connection().getHandle(),
                                        "SELECT " + names + " FROM " + quoteIdentifier(table) + " WHERE rowid = ?1");
    check(sqlite3_db_handle(reader.get()), sqlite3_bind_int64(reader.get(), 1, rowid));
    if (!stepRow(reader.get()))
        return false;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!columnHolds(reader.get(), static_cast<int>(i + 1), values[i].second))
            return false;
    return true;
}

std::int64_t Recordset::writeBuffer() {
    // The statement for this mode and set of assigned fields, kept for the next such write: one
    // character per field, so bulk inserts build no text per row beyond this short key.
    std::vector<std::size_t> assigned;
    std::string shape(m_buffer.size() + 1, '-');
    shape[0] = m_editMode == EditMode::Edit ? 'E' : 'A';
    for (std::size_t i = 0; i < m_buffer.size(); ++i)
        if (m_buffer[i]) {
            assigned.push_back(i);
            shape[i + 1] = '+';
        }

    std::unique_ptr<SQLite::Statement>& statement = m_writes[shape];
    if (!statement) {
        const std::string table = quoteIdentifier(m_table);
        std::string sql;
        if (m_editMode == EditMode::Edit && assigned.empty()) {
            sql = "SELECT 1 FROM " + table + " WHERE rowid = ?1";
        } else if (m_editMode == EditMode::Edit) {
            std::string assignments;
            for (std::size_t i = 0; i < assigned.size(); ++i)
                assignments +=
                    (i ? ", " : "") + quoteIdentifier(m_columns[assigned[i]]) + " = ?" + std::to_string(i + 1);
            sql = "UPDATE OR ABORT " + table + " SET " + assignments + " WHERE rowid = ?" + std::to_string(assigned.size() + 1);
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
        statement = std::make_unique<SQLite::Statement>(database().connection(), sql);
    }

    if (m_editMode == EditMode::Edit)
        checkOriginalValues(shape);

    SQLite::Statement& write = *statement;
    write.reset();
    write.clearBindings();
    for (std::size_t i = 0; i < assigned.size(); ++i)
        bindVariant(write, static_cast<int>(i + 1), *m_buffer[assigned[i]]);
    if (m_editMode == EditMode::Edit)
        write.bind(static_cast<int>(assigned.size() + 1), static_cast<int64_t>(m_rowid));

    sqlite3* connection = database().connection().getHandle();
    const std::int64_t changesBefore = sqlite3_total_changes64(connection);
    database().beginWork();
    bool changed = false;
    try {
        changed = assigned.empty() && m_editMode == EditMode::Edit ? write.executeStep() : write.exec() == 1;
        write.reset();
    } catch (const SQLite::Exception& failure) {
        write.tryReset();
        if (failure.getErrorCode() == SQLITE_CONSTRAINT)
            refuse(failure);
        throw;
    }
    if (assigned.empty() && m_editMode == EditMode::Edit) {
        if (!changed)
            throw Error(ErrorNumber::RowRemoved,
                        "The row of " + inQuotes(m_table) +
                            " being changed was removed by another program; nothing was saved.");
        return m_rowid;
    }
    return checkWritten(shape, assigned, changed, sqlite3_total_changes64(connection) - changesBefore);
}

// The chosen columns of one row, by row identity (?1); one statement per set of columns, kept.
sqlite3_stmt* Recordset::rowReader(const std::string& shape, const std::vector<std::size_t>& columns) {
    RawStatement& reader = m_rowReaders[shape];
    if (!reader) {
        std::string names;
        for (const std::size_t column : columns)
            names += (names.empty() ? "" : ", ") + quoteIdentifier(m_columns[column]);
        if (names.empty())
            names = "rowid"; // a new row of default values: only that it is there
        reader = prepare(database().connection().getHandle(),
                         "SELECT " + names + " FROM " + quoteIdentifier(m_table) + " WHERE rowid = ?1");
    }
    sqlite3_reset(reader.get());
    return reader.get();
}

// Inside the write's transaction, before writing: the row must still hold every original value.
void Recordset::checkOriginalValues(const std::string& shape) {
    std::vector<std::size_t> checked;
    std::string key = "O" + shape;
    for (std::size_t i = 0; i < m_original.size(); ++i) {
        key += m_original[i] ? '+' : '-';
        if (m_original[i])
            checked.push_back(i);
    }
    if (checked.empty())
        return;
    sqlite3_stmt* reader = rowReader(key, checked);
    check(sqlite3_db_handle(reader), sqlite3_bind_int64(reader, 1, m_rowid));
    database().beginWork();
    if (!stepRow(reader)) {
        sqlite3_reset(reader);
        throw Error(ErrorNumber::RowRemoved, "The row of " + inQuotes(m_table) +
                                                 " being changed was removed by another program; nothing was saved.");
    }
    for (std::size_t k = 0; k < checked.size(); ++k) {
        if (columnHolds(reader, static_cast<int>(k), *m_original[checked[k]]))
            continue;
        const std::string& field = m_columns[checked[k]];
        sqlite3_reset(reader);
        throw Error(ErrorNumber::AccountChanged, "The row of " + inQuotes(m_table) +
                                                     " was changed by another program since it was read (its field " +
                                                     inQuotes(field) + " differs); nothing was saved.");
    }
    sqlite3_reset(reader);
}

// After the write, before its transaction ends: exactly one row changed, and it holds exactly
// what was given. Anything else was done by the file's own schema, and the write is undone.
std::int64_t Recordset::checkWritten(const std::string& shape, const std::vector<std::size_t>& assigned, bool changed,
                             std::int64_t changes) {
    const std::string undone = " Nothing was saved.";
    sqlite3* connection = database().connection().getHandle();
    const std::int64_t row = m_editMode == EditMode::Edit ? m_rowid : sqlite3_last_insert_rowid(connection);
    sqlite3_stmt* reader = rowReader(shape, assigned);
    check(connection, sqlite3_bind_int64(reader, 1, row));
    database().beginWork();
    const bool found = stepRow(reader);
    if (!changed || !found) {
        sqlite3_reset(reader);
        if (m_editMode == EditMode::Edit && !changed && !found)
            throw Error(ErrorNumber::RowRemoved,
                        "The row of " + inQuotes(m_table) + " being changed was removed by another program;" + undone);
        throw Error(ErrorNumber::UnexpectedChange,
                    "A trigger of the registry " + inQuotes(database().Name()) +
                        (!changed ? " ignored the write to " : " removed the row just written to ") +
                        inQuotes(m_table) + "." + undone);
    }
    for (std::size_t k = 0; k < assigned.size(); ++k) {
        const Variant& given = *m_buffer[assigned[k]];
        if (columnHolds(reader, static_cast<int>(k), given))
            continue;
        const Variant stored = columnValue(reader, static_cast<int>(k));
        sqlite3_reset(reader);
        const std::string field = inQuotes(m_columns[assigned[k]]);
        // A column's type affinity turns text that looks like a number into that number.
        const bool secret = mdlDatabase::IsSecretField(m_columns[assigned[k]]);
        if (given.isText() && (stored.isInteger() || stored.isReal()) && changes == 1)
            throw Error(
                ErrorNumber::UnexpectedChange,
                "The field " + field + " of " + inQuotes(m_table) + " would have stored " +
                    (secret ? "the text given as " + stored.kind() : given.describe() + " as " + stored.describe()) +
                    ", as its column is declared." + undone);
        throw Error(ErrorNumber::UnexpectedChange, "A trigger of the registry " + inQuotes(database().Name()) +
                                                       " replaced the value written to the field " + field + " of " +
                                                       inQuotes(m_table) + "." + undone);
    }
    sqlite3_reset(reader);
    if (changes != 1)
        throw Error(ErrorNumber::UnexpectedChange,
                    "A trigger of the registry " + inQuotes(database().Name()) + " changed " +
                        std::to_string(changes - 1) + (changes == 2 ? " other row" : " other rows") +
                        " along with the one written to " + inQuotes(m_table) + "." + undone);
    return row;
}

// A value broke one of the table's rules. Our own tables name each rule "Field: rule"; rules
// written by another program are reported as SQLite words them, with the field when we can tell.
void Recordset::refuse(const SQLite::Exception& failure) {
    if (failure.getExtendedErrorCode() == SQLITE_CONSTRAINT_TRIGGER)
        database().fail(failure); // the file's own words, marked as the file's
    std::string detail = failure.what();
    if (const auto colon = detail.find("constraint failed: "); colon != std::string::npos)
        detail = detail.substr(colon + 19);

    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const std::string prefix = m_columns[i] + ": ";
        if (!m_buffer[i] || detail.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string given;
        if (const std::string* text = m_buffer[i]->text())
            given = " (it has " + std::to_string(utf8CharacterCount(*text).value_or(text->size())) + " characters)";
        else
            given = " (it is " +
                    (mdlDatabase::IsSecretField(m_columns[i]) ? m_buffer[i]->kind() : m_buffer[i]->describe()) + ")";
        throw Error(ErrorNumber::ValueRefused, "The value for " + inQuotes(m_columns[i]) + " was refused: it must be " +
                                                   detail.substr(prefix.size()) + given + ". Nothing was saved.");
    }
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (m_buffer[i] && detail.find(m_columns[i]) != std::string::npos)
            throw Error(ErrorNumber::ValueRefused, "The value for " + inQuotes(m_columns[i]) +
                                                       " was refused by a rule of " + inQuotes(m_table) + ": " +
                                                       detail + ". Nothing was saved.");
    throw Error(ErrorNumber::ValueRefused,
                "A value was refused by a rule of " + inQuotes(m_table) + ": " + detail + ". Nothing was saved.");
}

} // namespace dao
