// SPDX-License-Identifier: MIT
#include "store/Statement.h"

#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>

#include <bit>
#include <string_view>

namespace dao {

void StatementDeleter::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

void check(sqlite3* connection, int result) {
    if (result != SQLITE_OK)
        throw SQLite::Exception(connection, result);
}

RawStatement prepare(sqlite3* connection, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    check(connection, sqlite3_prepare_v2(connection, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr));
    return RawStatement(statement);
}

bool stepRow(sqlite3_stmt* statement) {
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW)
        return true;
    if (result == SQLITE_DONE)
        return false;
    throw SQLite::Exception(sqlite3_db_handle(statement), result);
}

Variant columnValue(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return Variant(static_cast<std::int64_t>(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT:
        return Variant(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return Variant(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))));
    }
    case SQLITE_BLOB: {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
        return Variant(Blob{std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))});
    }
    default:
        return {};
    }
}

bool columnHolds(sqlite3_stmt* statement, int column, const Variant& value) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return value.isInteger() && value.toInteger() == sqlite3_column_int64(statement, column);
    case SQLITE_FLOAT:
        return value.isReal() && std::bit_cast<std::uint64_t>(value.toReal()) ==
                                     std::bit_cast<std::uint64_t>(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
        const std::string* text = value.text();
        if (!text)
            return false;
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return std::string_view(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))) == *text;
    }
    case SQLITE_BLOB: {
        if (!value.isBlob())
            return false;
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
        return std::string_view(bytes ? bytes : "", size) == value.toText();
    }
    default:
        return value.isNull();
    }
}

void bindValue(sqlite3_stmt* statement, int index, const Variant& value) {
    sqlite3* connection = sqlite3_db_handle(statement);
    if (value.isNull())
        check(connection, sqlite3_bind_null(statement, index));
    else if (value.isInteger())
        check(connection, sqlite3_bind_int64(statement, index, value.toInteger()));
    else if (value.isReal())
        check(connection, sqlite3_bind_double(statement, index, value.toReal()));
    else {
        const std::string bytes = value.toText();
        const auto size = static_cast<int>(bytes.size());
        check(connection, value.isText() ? sqlite3_bind_text(statement, index, bytes.data(), size, SQLITE_TRANSIENT)
                                         : sqlite3_bind_blob(statement, index, bytes.data(), size, SQLITE_TRANSIENT));
    }
}

} // namespace dao
