// SPDX-License-Identifier: MIT
#pragma once

#include "store/Field.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dao {

class Database;
class Recordset;

enum class RecordsetType : int {
    Table = 1, // a cursor over all rows of one table, ordered by a selected index
};

// The definition of a table: either stored in a file (from Database::TableDefs) or new and not
// yet stored (from Database::CreateTableDef). Valid while its database is open.
class TableDef {
public:
    struct IndexDefinition {
        std::string name;
        std::vector<std::string> fields;
        bool unique = false;
    };

    const std::string& Name() const { return m_name; }
    const std::vector<Field>& Fields() const { return m_fields; }
    const std::vector<IndexDefinition>& Indexes() const { return m_indexes; }
    // Whether a field has `name`, compared as SQLite compares names (sameName).
    bool HasField(std::string_view name) const;
    bool isStored() const { return m_stored; }

    // A field for this definition; it joins the table only through AppendField.
    Field CreateField(const std::string& name, FieldType type, int size = 0) const;
    // Adds a field to a definition not yet stored. Throws Error(InvalidDefinition) on a stored
    // definition or a name already present.
    void AppendField(const Field& field);
    // Adds an index over existing fields, in the given order. On a definition not yet stored it
    // joins the table through AppendTableDef; on a stored table it is made in the file at once,
    // which for a table filled in bulk is far quicker than keeping it in order row by row.
    void AppendIndex(const std::string& name, const std::vector<std::string>& fields, bool unique = false);

    // Opens a cursor over every row of the stored table. Throws Error(TableNotFound) when the
    // table is not (or no longer) in the file.
    std::unique_ptr<Recordset> OpenRecordset(RecordsetType type = RecordsetType::Table);

private:
    friend class Database;
    TableDef(Database& database, std::string name, bool stored);

    Database* m_database;
    std::string m_name;
    std::vector<Field> m_fields;
    std::vector<IndexDefinition> m_indexes;
    bool m_stored;
};

} // namespace dao
