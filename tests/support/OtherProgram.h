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

    SQLite::Database& connection() { return m_connection; }

private:
    SQLite::Database m_connection;
};

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
