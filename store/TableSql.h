// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace dao {

// What the text of a CREATE TABLE statement declares beyond what SQLite's table pragmas tell:
// its CHECK rules, its conflict clauses and its options. Read from the text alone, so that
// nothing of the file is compiled to learn it; a text that is not a table's definition gives
// an empty result.
struct TableSql {
    struct Clause {
        std::string owner; // the column it is declared on, or the table constraint's name ("" when it has none)
        std::string text;  // a CHECK's expression as written, or a conflict clause's resolution in upper case
    };
    std::vector<Clause> checks;
    std::vector<Clause> conflictResolutions; // every ON CONFLICT clause: ROLLBACK, ABORT, FAIL, IGNORE, REPLACE
    bool strict = false;
    bool withoutRowid = false;

    static TableSql parse(const std::string& sql);
};

} // namespace dao
