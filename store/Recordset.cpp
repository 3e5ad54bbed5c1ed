// SPDX-License-Identifier: MIT
#include "store/Recordset.h"

#include "store/Database.h"
#include "store/Error.h"
#include "store/Field.h"
#include "store/FieldRule.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace dao {

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

std::vector<std::string> Recordset::columnsOf(Database& database, const std::string& table) {
    std::vector<std::string> columns = database.guarded([&] {
        std::vector<std::string> names;
        Statement query = database.Prepare("SELECT name FROM pragma_table_info(?1)");
        query.bind(1, table);
        while (query.step())
            names.push_back(query.text(0));
        return names;
    });
    if (columns.empty())
        throw Error(ErrorNumber::TableNotFound,
                    describePath(database.Name()) + " has no table " + inQuotes(table) + ".");
    return columns;
}

Recordset::Recordset(Database& database, std::string table)
    : m_database(&database), m_table(std::move(table)), m_columns(columnsOf(database, m_table)),
      m_cursor(database, m_table, m_columns), m_writer(database, m_table, m_columns) {
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
    m_cursor.close();
    m_writer.close();
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

Recordset::FieldRef Recordset::Fields(const std::string& name) {
    database();
    return FieldRef(*this, m_cursor.columnOf(name));
}

// --- Index and traversal --------------------------------------------------------------------

void Recordset::Index(const std::string& name) {
    database();
    m_cursor.select(name);
    MoveFirst();
}

void Recordset::MoveFirst() {
    database();
    m_editMode = EditMode::None;
    m_cursor.moveFirst();
}

void Recordset::MoveNext() {
    requireRow();
    m_editMode = EditMode::None;
    m_cursor.moveNext();
}

void Recordset::Seek(const Variant& key) {
    if (m_cursor.keyCount() > 0) {
        database();
        m_editMode = EditMode::None;
    }
    m_cursor.seek(key);
}

// --- Reading --------------------------------------------------------------------------------

void Recordset::requireRow() const {
    database();
    if (m_cursor.eof())
        throw Error(ErrorNumber::NoCurrentRecord, "No current record.");
}

bool Recordset::appendText(std::size_t column, std::string& text) {
    if (m_editMode == EditMode::None && m_cursor.appendScanned(column, text))
        return true;
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
    return m_cursor.value(column);
}

// --- Writing --------------------------------------------------------------------------------

void Recordset::Edit() {
    requireRow();
    // No read lock is held while the buffer is filled: other programs may commit meanwhile. The
    // row is written only while it still holds the key it was found by (the user name of the
    // index "User"), as the cursor read it, so a row that another program renamed, or whose
    // identity it gave to another row, is never written.
    const bool scanned = m_cursor.live();
    m_cursor.suspend();
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
    if (m_cursor.keyCount() == 0) {
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            if (sameName(m_columns[i], "User"))
                remember(i, [&] { return read(i); });
    } else {
        for (std::size_t k = 0; k < m_cursor.keyCount(); ++k)
            remember(m_cursor.keyColumn(k),
                     [&] { return scanned ? m_cursor.savedKey(k) : read(m_cursor.keyColumn(k)); });
    }
    endEdit();
    m_editMode = EditMode::Edit;
    for (auto& [column, value] : keys)
        m_original[column] = std::move(value);
}

void Recordset::AddNew() {
    database();
    endEdit();
    m_editMode = EditMode::AddNew;
}

void Recordset::CancelUpdate() {
    endEdit();
}

void Recordset::endEdit() {
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
    m_cursor.suspend();
    // Should the commit fail once it may have taken effect, the file is asked whether the row is
    // there as written; a new row is known by its row identity alone.
    const bool edit = m_editMode == EditMode::Edit;
    const std::int64_t rowid = m_cursor.rowid();
    auto written = std::make_shared<std::int64_t>(rowid);
    std::vector<std::pair<std::string, Variant>> values;
    if (edit)
        for (std::size_t i = 0; i < m_buffer.size(); ++i)
            if (m_buffer[i])
                values.emplace_back(m_columns[i], *m_buffer[i]);
    auto landed = [&db, table = m_table, written, values = std::move(values)] {
        return RowWriter::rowHolds(db, table, *written, values);
    };
    try {
        db.write([&] { *written = m_writer.write(edit, rowid, m_buffer, m_original); }, std::move(landed));
    } catch (const Error& error) {
        if (error.code() == ErrorNumber::SavedNotConfirmed) {
            endEdit();
            m_cursor.forgetRow();
        }
        throw;
    }
    endEdit();
    m_cursor.forgetRow();
}

} // namespace dao
