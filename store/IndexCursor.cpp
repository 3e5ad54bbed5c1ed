// SPDX-License-Identifier: MIT
#include "store/IndexCursor.h"

#include "store/Database.h"
#include "store/Error.h"
#include "store/Field.h"

namespace dao {

IndexCursor::IndexCursor(Database& database, const std::string& table, const std::vector<std::string>& columns)
    : m_database(database), m_table(table), m_columns(columns) {}

void IndexCursor::close() {
    // Statements first: each holds the file's read lock while it stands on a row.
    m_scan.finalize();
    m_rowQuery.finalize();
    m_scanLive = false;
    m_bof = m_eof = true;
}

std::size_t IndexCursor::columnOf(const std::string& name) const {
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (sameName(m_columns[i], name))
            return i;
    throw Error(ErrorNumber::FieldNotFound, "The table " + inQuotes(m_table) + " has no field " + inQuotes(name) + ".");
}

void IndexCursor::select(const std::string& name) {
    std::vector<KeyColumn> keys;
    const std::string storedName = m_database.guarded([&] {
        Statement lookup = m_database.Prepare("SELECT name FROM sqlite_schema WHERE type = 'index' AND "
                                              "name = ?1 COLLATE NOCASE AND tbl_name = ?2 COLLATE NOCASE");
        lookup.bind(1, name);
        lookup.bind(2, m_table);
        if (!lookup.step())
            throw Error(ErrorNumber::IndexNotFound, "The table " + inQuotes(m_table) + " in " +
                                                        describePath(m_database.Name()) + " has no index " +
                                                        inQuotes(name) + ".");
        std::string stored = lookup.text(0);
        lookup.reset();
        Statement info =
            m_database.Prepare("SELECT cid, name, desc, coll FROM pragma_index_xinfo(?1) WHERE key = 1 ORDER BY seqno");
        info.bind(1, stored);
        while (info.step()) {
            if (info.integer(0) < 0)
                throw Error(ErrorNumber::UnsupportedIndex,
                            "The index " + inQuotes(stored) + " of " + inQuotes(m_table) + " is not over plain fields.");
            keys.push_back(KeyColumn{columnOf(info.text(1)), info.text(3), info.integer(2) != 0});
        }
        return stored;
    });
    m_index = storedName;
    m_keys = std::move(keys);
}

std::string IndexCursor::scanSql(const std::string& where) const {
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

void IndexCursor::startScan(const std::string& where, const std::vector<Variant>& parameters) {
    m_database.guarded([&] {
        try {
            m_scan.finalize();
            m_scanLive = false;
            m_scan = m_database.Prepare(scanSql(where));
            for (std::size_t i = 0; i < parameters.size(); ++i)
                m_scan.bind(static_cast<int>(i + 1), parameters[i]);
            step();
        } catch (...) {
            m_scan.finalize();
            m_scanLive = false;
            m_eof = true;
            throw;
        }
    });
}

// A failure ends the scan's read (see Statement::step); so does the end of the table.
void IndexCursor::step() {
    m_rowLoaded = false;
    m_database.beginWork();
    m_scanLive = m_scan.step(); // the row identity is read only when needed: see rowid()
    m_eof = !m_scanLive;
}

std::int64_t IndexCursor::rowid() const {
    return m_scanLive ? m_scan.integer(0) : m_rowid;
}

void IndexCursor::suspend() {
    if (!m_scanLive)
        return;
    m_rowid = rowid();
    m_savedKeys.clear();
    for (std::size_t k = 0; k < m_keys.size(); ++k)
        m_savedKeys.push_back(m_scan.value(static_cast<int>(k + 1)));
    m_scan.reset();
    m_scanLive = false;
}

// Continues the index order after the current row once the scan was suspended for a write.
// The condition spells out "after (keys, rowid)" in the index's own order, nulls first as
// SQLite sorts them. Rare (only a move after Update), so clarity wins over speed here.
void IndexCursor::resumeAfterCurrent() {
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

void IndexCursor::moveFirst() {
    startScan("", {});
    m_bof = m_eof;
    m_noMatch = false;
}

void IndexCursor::moveNext() {
    m_bof = false;
    if (m_scanLive) {
        m_database.guarded([&] {
            try {
                step();
            } catch (...) {
                m_scanLive = false;
                m_eof = true;
                throw;
            }
        });
    } else {
        resumeAfterCurrent();
    }
}

void IndexCursor::seek(const Variant& key) {
    if (m_keys.empty())
        throw Error(ErrorNumber::InvalidArgument, "Select an index of " + inQuotes(m_table) + " before seeking.");
    const KeyColumn& first = m_keys.front();
    const std::string column =
        quoteIdentifier(m_columns[first.column]) + " COLLATE " + quoteIdentifier(first.collation);
    startScan(column + (first.descending ? " <= ?1" : " >= ?1"), {key});
    m_bof = false;
    m_noMatch = true;
    if (m_scanLive) {
        m_database.guarded([&] {
            // Compare under the index's collation, exactly as the index ordered the rows.
            Statement equal = m_database.Prepare("SELECT ?1 = ?2 COLLATE " + quoteIdentifier(first.collation));
            equal.bind(1, m_scan.value(1));
            equal.bind(2, key);
            m_database.beginWork();
            m_noMatch = !equal.step() || equal.integer(0) != 1;
        });
    }
    if (m_noMatch) {
        m_scan.reset();
        m_scanLive = false;
        m_eof = true;
    }
}

int IndexCursor::scanPosition(std::size_t column) const {
    if (m_scanLive)
        for (std::size_t k = 0; k < m_keys.size(); ++k)
            if (m_keys[k].column == column)
                return static_cast<int>(k + 1);
    return 0;
}

bool IndexCursor::appendScanned(std::size_t column, std::string& text) const {
    const int position = scanPosition(column);
    // SQLite gives no text for a null (nor when out of memory): those take the general way.
    return position > 0 && m_scan.appendText(position, text);
}

Variant IndexCursor::value(std::size_t column) {
    // Suspended, a key is read afresh: the stored value may have changed.
    if (const int position = scanPosition(column); position > 0)
        return m_scan.value(position);
    if (!m_rowLoaded) {
        m_database.guarded([&] {
            if (!m_rowQuery) {
                std::string columns;
                for (const auto& name : m_columns)
                    columns += (columns.empty() ? "" : ", ") + quoteIdentifier(name);
                m_rowQuery =
                    m_database.Prepare("SELECT " + columns + " FROM " + quoteIdentifier(m_table) + " WHERE rowid = ?1");
            }
            m_database.beginWork();
            m_rowQuery.bind(1, Variant(rowid()));
            const auto ending = m_rowQuery.resetOnExit();
            if (!m_rowQuery.step())
                throw Error(ErrorNumber::RowRemoved,
                            "The current row of " + inQuotes(m_table) + " was removed by another program.");
            m_row.clear();
            for (std::size_t i = 0; i < m_columns.size(); ++i)
                m_row.push_back(m_rowQuery.value(static_cast<int>(i)));
            m_rowLoaded = true;
        });
    }
    return m_row[column];
}

} // namespace dao
