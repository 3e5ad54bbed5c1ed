// SPDX-License-Identifier: MIT
#pragma once

#include "store/Variant.h"

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace dao {

// One compiled SQL statement of the store, over SQLite's own interface: every call per row is a
// plain call into SQLite, for the paths where that shows (a list load reads millions of rows).
// Values are bound and read with their own storage class (null, integer, real, text or blob).
//
// The statement resets itself: when step() finds no further row or fails, when a value is bound
// to a statement that has run, and as a ResetGuard leaves its scope. A statement standing on a
// row holds the file's read lock until it is reset.
//
// Every failure throws SQLite::Exception; Database::guarded turns it into the store's Error.
class Statement {
public:
    // Resets the statement when the scope ends, however it is left.
    class [[nodiscard]] ResetGuard {
    public:
        explicit ResetGuard(Statement& statement) : m_statement(statement) {}
        ResetGuard(const ResetGuard&) = delete;
        ResetGuard& operator=(const ResetGuard&) = delete;
        ~ResetGuard() { m_statement.reset(); }

    private:
        Statement& m_statement;
    };

    Statement() = default;
    // Compiles `sql` on `connection`.
    Statement(sqlite3* connection, const std::string& sql);
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    // False for a statement made empty (default made, moved from, or finalized).
    explicit operator bool() const { return m_statement != nullptr; }

    // Binds `value` to the parameter `index` (from 1) with its own storage class; text and blobs
    // are copied.
    void bind(int index, const Variant& value);
    // The same without copying text: `value` must stay unchanged until the statement is reset.
    void bindReference(int index, const Variant& value);
    // Binds `text` as text, copied, for a lookup that holds its key as a string.
    void bindText(int index, std::string_view text);

    // True on a row, false past the last one (the statement is then reset). A failure resets
    // the statement and throws.
    bool step();
    // Runs a statement that gives no rows to its end and resets it; returns the number of rows
    // it inserted, changed or deleted.
    std::int64_t run();
    // Ends the current run and releases what it holds; bindings stay. Never throws.
    void reset() noexcept;
    ResetGuard resetOnExit() { return ResetGuard(*this); }
    // Releases the statement itself; the object is then empty.
    void finalize() noexcept;

    // The column (from 0) of the current row with its storage class.
    Variant value(int column) const;
    bool isNull(int column) const;
    std::int64_t integer(int column) const;
    // The column as text, as SQLite converts it; "" for null.
    std::string text(int column) const;
    // Appends the column as text to `text` and returns true, or returns false and appends
    // nothing when it is null. Copies nothing else.
    bool appendText(int column, std::string& text) const;
    // Whether the column holds exactly `value`: the same storage class and the same bytes (0.0
    // and -0.0 differ, as do the integer 1 and 1.0). Copies nothing.
    bool holds(int column, const Variant& value) const;

private:
    void bind(int index, const Variant& value, bool copy);

    sqlite3_stmt* m_statement = nullptr;
};

} // namespace dao
