// SPDX-License-Identifier: MIT
#include "store/TableDef.h"

#include "store/Database.h"
#include "store/Error.h"
#include "store/Recordset.h"

#include <algorithm>

namespace dao {

TableDef::TableDef(Database& database, std::string name, bool stored)
    : m_database(&database), m_name(std::move(name)), m_stored(stored) {}

Field TableDef::CreateField(const std::string& name, FieldType type, int size) const {
    return Field(name, type, size);
}

bool TableDef::HasField(std::string_view name) const {
    return std::any_of(m_fields.begin(), m_fields.end(), [&](const Field& f) { return sameName(f.Name(), name); });
}

void TableDef::AppendField(const Field& field) {
    if (m_stored)
        throw Error(ErrorNumber::InvalidDefinition, "The stored table " + inQuotes(m_name) + " takes no new fields.");
    if (HasField(field.Name()))
        throw Error(ErrorNumber::InvalidDefinition,
                    "The table " + inQuotes(m_name) + " has a field " + inQuotes(field.Name()) + " already.");
    m_fields.push_back(field);
}

void TableDef::AppendIndex(const std::string& name, const std::vector<std::string>& fields, bool unique) {
    for (const auto& fieldName : fields)
        if (!HasField(fieldName))
            throw Error(ErrorNumber::InvalidDefinition, "The index " + inQuotes(name) + " names the field " +
                                                            inQuotes(fieldName) + ", which the table lacks.");
    if (name.empty() || fields.empty())
        throw Error(ErrorNumber::InvalidDefinition, "An index needs a name and at least one field.");
    if (m_stored)
        m_database->storeIndex(m_name, {name, fields, unique});
    m_indexes.push_back({name, fields, unique});
}

std::unique_ptr<Recordset> TableDef::OpenRecordset(RecordsetType type) {
    if (type != RecordsetType::Table)
        throw Error(ErrorNumber::InvalidArgument, "Only table-type recordsets are offered.");
    if (!m_stored)
        throw Error(ErrorNumber::TableNotFound, "The table " + inQuotes(m_name) + " is not stored yet.");
    return std::make_unique<Recordset>(*m_database, m_name);
}

} // namespace dao
