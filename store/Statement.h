// SPDX-License-Identifier: MIT
#pragma once

#include "store/Variant.h"

#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace dao {

// Statements on SQLite's own interface, for the paths where every call per row shows (a list
// load reads millions of rows). Every failure throws SQLite::Exception; callers turn it into the
// store's Error through Database::fail.

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const;
};
using RawStatement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// Throws unless `result` is SQLITE_OK.
void check(sqlite3* connection, int result);

RawStatement prepare(sqlite3* connection, const std::string& sql);

// True on a row, false past the last one; a failure throws.
bool stepRow(sqlite3_stmt* statement);

// The column of the current row with its storage class: null, integer, real, text or blob.
Variant columnValue(sqlite3_stmt* statement, int column);

// Whether the column of the current row holds exactly `value`: the same storage class and the
// same bytes (0.0 and -0.0 differ, as do the integer 1 and 1.0). Copies nothing.
bool columnHolds(sqlite3_stmt* statement, int column, const Variant& value);

// Binds `value` with its own storage class; text and blobs are copied.
void bindValue(sqlite3_stmt* statement, int index, const Variant& value);

} // namespace dao
