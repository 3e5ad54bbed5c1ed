// SPDX-License-Identifier: MIT
#pragma once

#include "store/Statement.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace dao {
class Database;
}

namespace cli {

class Progress;

// What a check of a registry file found. Each kind is counted in full; `findings` describes
// them, one a line, at most a hundred of each kind.
struct CheckReport {
    std::size_t accounts = 0;
    std::size_t journals = 0;           // a journal or write-ahead log left beside the file
    std::size_t damage = 0;             // faults SQLite's integrity check found, or reading failed
    std::size_t tableProblems = 0;      // "Servers" is missing or not as the program needs it
    std::size_t rowsBreakingRules = 0;  // rows with a value the field rules refuse
    std::size_t nullUsers = 0;          // accounts without a user name: never listed, never opened
    std::size_t sharedNames = 0;        // user names held by more than one account
    std::size_t sharedNameAccounts = 0; // the accounts holding them
    std::size_t lookAlikeGroups = 0;    // sets of different user names that look alike (one skeleton)
    std::size_t lookAlikeNames = 0;     // the different user names in them
    std::size_t misleadingNames = 0;    // user names mixing scripts, not NFC, or with a space at an end
    std::size_t networkFileSystem = 0;  // 1 when the file (or its folder) is on a network file system
    std::vector<std::string> findings;

    bool clean() const {
        return journals + damage + tableProblems + rowsBreakingRules + nullUsers + sharedNames + lookAlikeGroups +
                   misleadingNames + networkFileSystem ==
               0;
    }
};

// Reads the registry `path` without changing it and reports whatever would stop Vantrel or mislead
// an operator: a write left unfinished by a crash, damage, a table or index not as the program
// needs it, a file on a network file system, rows that break the field rules (a table made by
// another program has none of the program's CHECK rules), accounts without a user name, user
// names shared by several accounts, of which the editor only ever opens the first, user names that
// look like others (see NameLook::skeleton), and user names that mislead on their own
// (NameLook::misleading, NameLook::edgeSpace). The names are judged in C++ over one read of them all.
//
// Throws dao::Error when `path` cannot be opened as a database at all (it is missing, not a
// database, or locked), unless damage or a crash's unfinished write is the reason: those are
// findings. Each statement of the check may run for checkTimeLimit(path), lifted when `timeLimit`
// is false. `progress`, when given, shows each step as a stage of its own.
CheckReport checkRegistry(const std::string& path, bool timeLimit = true, Progress* progress = nullptr);

// Says that `path`, or its folder when there is no such file, is on a network file system, whose
// locking SQLite cannot trust (see dao::networkFileSystem); empty when it is not.
std::string networkFileSystemFinding(const std::string& path);

// A minute, and ten seconds more for every 100 MiB of the file: many times what reading the whole
// file takes, so only something in the file that makes the check slow or endless meets it.
std::chrono::milliseconds checkTimeLimit(const std::string& path);

// Looks user names up in the table `table` of an open registry through its index "User", for the
// import's refusals. No statement stays open between lookups, so outside a transaction each lookup
// is a read of its own and no lock is held. Failures are thrown as the store's errors.
class RegistryUsers {
public:
    RegistryUsers(dao::Database& database, const std::string& table);
    RegistryUsers(const RegistryUsers&) = delete;
    RegistryUsers& operator=(const RegistryUsers&) = delete;
    ~RegistryUsers();

    bool has(const std::string& user);

private:
    dao::Database& m_database;
    dao::Statement m_lookup; // empty when the table held no row
};

} // namespace cli
