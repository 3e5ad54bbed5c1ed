// SPDX-License-Identifier: MIT
#include "store/Statement.h"

#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>

#include <bit>
#include <climits>
#include <cstring>
#include <string_view>
#include <utility>

namespace dao {

namespace {

void check(sqlite3_stmt* statement, int result) {
    if (result != SQLITE_OK)
        throw SQLite::Exception(sqlite3_db_handle(statement), result);
}

} // namespace

Statement::Statement(sqlite3* connection, const std::string& sql) {
    const int result =
        sqlite3_prepare_v2(connection, sql.c_str(), static_cast<int>(sql.size()), &m_statement, nullptr);
    if (result != SQLITE_OK) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
        throw SQLite::Exception(connection, result);
    }
}

Statement::Statement(Statement&& other) noexcept : m_statement(std::exchange(other.m_statement, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        finalize();
        m_statement = std::exchange(other.m_statement, nullptr);
    }
    return *this;
}

Statement::~Statement() {
    finalize();
}

void Statement::finalize() noexcept {
    sqlite3_finalize(m_statement);
    m_statement = nullptr;
}

void Statement::reset() noexcept {
    // The result repeats the failure of the last step, which step() has thrown already.
    if (m_statement)
        sqlite3_reset(m_statement);
}

void Statement::bind(int index, const Variant& value) {
    bind(index, value, true);
}

void Statement::bindReference(int index, const Variant& value) {
    bind(index, value, false);
}

void Statement::bind(int index, const Variant& value, bool copy) {
    if (sqlite3_stmt_busy(m_statement))
        sqlite3_reset(m_statement);
    if (value.isNull()) {
        check(m_statement, sqlite3_bind_null(m_statement, index));
    } else if (value.isInteger()) {
        check(m_statement, sqlite3_bind_int64(m_statement, index, value.toInteger()));
    } else if (value.isReal()) {
        check(m_statement, sqlite3_bind_double(m_statement, index, value.toReal()));
    } else if (const std::string* text = value.text()) {
        // Text without a NUL is bound as the NUL-terminated string it is: SQLite then knows that
        // it ends there, and needs no copy of its own of each value that a rule of the table (as
        // length() does) reads as a C string.
        const auto keep = copy ? SQLITE_TRANSIENT : SQLITE_STATIC;
        if (std::memchr(text->data(), '\0', text->size()) == nullptr && text->size() < INT_MAX)
            check(m_statement, sqlite3_bind_text(m_statement, index, text->c_str(), -1, keep));
        else
            check(m_statement, sqlite3_bind_text64(m_statement, index, text->data(), text->size(), keep, SQLITE_UTF8));
    } else {
        const std::string bytes = value.toText();
        check(m_statement, sqlite3_bind_blob64(m_statement, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
    }
}

void Statement::bindText(int index, std::string_view text) {
    if (sqlite3_stmt_busy(m_statement))
        sqlite3_reset(m_statement);
    check(m_statement, sqlite3_bind_text64(m_statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
}

bool Statement::step() {
    const int result = sqlite3_step(m_statement);
    if (result == SQLITE_ROW)
        return true;
    if (result == SQLITE_DONE) {
        sqlite3_reset(m_statement); // ends the read transaction
        return false;
    }
    const SQLite::Exception failure(sqlite3_db_handle(m_statement), result);
    sqlite3_reset(m_statement); // releases the read lock
    throw failure;
}

std::int64_t Statement::run() {
    while (step()) {
    }
    return sqlite3_changes64(sqlite3_db_handle(m_statement));
}

Variant Statement::value(int column) const {
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return Variant(static_cast<std::int64_t>(sqlite3_column_int64(m_statement, column)));
    case SQLITE_FLOAT:
        return Variant(sqlite3_column_double(m_statement, column));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
        return Variant(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column))));
    }
    case SQLITE_BLOB: {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_statement, column));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column));
        return Variant(Blob{bytes ? std::string(bytes, size) : std::string()});
    }
    default:
        return {};
    }
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

std::string Statement::text(int column) const {
    std::string text;
    appendText(column, text);
    return text;
}

bool Statement::appendText(int column, std::string& text) const {
    // SQLite gives no text for a null (nor when out of memory): both append nothing.
    const unsigned char* bytes = sqlite3_column_text(m_statement, column);
    if (!bytes)
        return false;
    text.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)));
    return true;
}

bool Statement::holds(int column, const Variant& value) const {
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return value.isInteger() && value.toInteger() == sqlite3_column_int64(m_statement, column);
    case SQLITE_FLOAT:
        return value.isReal() && std::bit_cast<std::uint64_t>(value.toReal()) ==
                                     std::bit_cast<std::uint64_t>(sqlite3_column_double(m_statement, column));
    case SQLITE_TEXT: {
        const std::string* text = value.text();
        if (!text)
            return false;
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
        return std::string_view(bytes, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column))) == *text;
    }
    case SQLITE_BLOB: {
        if (!value.isBlob())
            return false;
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_statement, column));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column));
        return std::string_view(bytes ? bytes : "", size) == value.toText();
    }
    default:
        return value.isNull();
    }
}

} // namespace dao
