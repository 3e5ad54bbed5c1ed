// SPDX-License-Identifier: MIT
#pragma once

#include "store/Variant.h"

#include <SQLiteCpp/Database.h>

#include <string>
#include <vector>

namespace testing_support {

// Another program working on the same file: a plain SQLite connection of its own.
class OtherProgram {
public:
    explicit OtherProgram(const std::string& path);

    void exec(const std::string& sql) { m_connection.exec(sql); }
    // The single value the query gives, as text ("" for null).
    std::string text(const std::string& sql);
    long long number(const std::string& sql);

    // Inserts one account; null pointers leave a field null.
    void addAccount(const char* user, const char* password = "secret", const char* name = "",
                    const char* description = "", bool official = false);

    // Adds rows to "Servers": each row's values bound to `fields` ("User, Password") in their order,
    // all in one transaction.
    void addRows(const std::string& fields, const std::vector<std::vector<dao::Variant>>& rows);

    // The first row of "Servers" whose User is `user`, in the order of the table, with each of
    // `fields` as SQL's quote() writes it, joined by '|': "'secret'|NULL|1". Empty when none is.
    std::string quotedRow(const std::string& user, const std::string& fields);
    // The same for every row `condition` (the end of the query: "WHERE ... ORDER BY ...") gives.
    std::vector<std::string> quotedRows(const std::string& fields, const std::string& condition = "ORDER BY rowid");

    SQLite::Database& connection() { return m_connection; }

private:
    SQLite::Database m_connection;
};

// A value as an SQL literal, as SQL's quote() writes it: NULL, 42, 'it''s', X'00FF'.
std::string sqlLiteral(const dao::Variant& value);

// The script with which another program makes "Servers" its own way: the table declared with
// `columns` (and `options` after its parenthesis, such as " WITHOUT ROWID"), the index "User" as
// `index` declares it after "ON Servers" (no index when empty), and `rows` of `fields`, each value
// written as a literal.
struct ForeignTable {
    std::string columns;
    std::string options = "";
    std::string index = "(User)";
    std::string fields = "User, Password";
    std::vector<std::vector<dao::Variant>> rows = {};

    std::string sql() const;
};

// A registry file ("zarn.dat" in `folder`) made by another program that holds only `table`.
std::string makeForeignRegistry(const std::string& folder, const ForeignTable& table);

// A new, empty registry file ("zarn.dat" in `folder`) holding the "Servers" table as the program
// makes it.
std::string makeRegistry(const std::string& folder);

// Copies the registry at `path` into `folder` as a crash in the middle of a save would leave it:
// the file half written, with beside it the journal that rolls it back to what it held before
// (`accounts` accounts named "user1000"...). Returns the copy's path.
std::string copyWithHotJournal(const std::string& folder, int accounts);

// A registry of `accounts` accounts, large enough to span many pages, made in `folder` by
// another program.
std::string makeFilledRegistry(const std::string& folder, int accounts);

} // namespace testing_support
