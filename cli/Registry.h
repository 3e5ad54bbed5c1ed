// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

class Progress;

// One refused part of a CSV file: the line its record starts on and why.
struct ImportProblem {
    std::size_t line;
    std::string reason;
};

struct ImportResult {
    // The problems kept with their reasons; any more are only counted, so that a text of
    // millions of refused records takes no more memory than a text of a hundred.
    static constexpr std::size_t keptProblems = 100;

    std::size_t accounts = 0;            // added; 0 whenever there are problems
    std::size_t emptyRecords = 0;        // records whose every field was empty, skipped
    std::vector<ImportProblem> problems; // the first keptProblems in the order of the file
    std::size_t moreProblems = 0;        // the problems after those
    std::vector<std::string> hints;      // what the file probably is instead, and how to save it right
    // Set when the accounts are in the file but the disk failed as they were made permanent: what it said.
    std::string unconfirmed;

    std::size_t problemCount() const { return problems.size() + moreProblems; }
    // Keeps `problem` when it is among the first keptProblems by line, else counts it.
    void addProblem(ImportProblem problem);
};

struct ImportOptions {
    // Lets a user name that is already in the registry, or earlier in the file, in again.
    bool allowDuplicateUsers = false;
};

// The tool's operations on a registry file. Every read and write goes through the store's engine
// interface; the table is made by the same code as the program's. Store failures are thrown as
// dao::Error, other file failures as FileError.
class Registry {
public:
    // A new registry holding the empty "Servers" table as the program makes it. An existing file
    // is never replaced.
    static void create(const std::string& path);

    // Adds the accounts of the CSV text `csv` (see AccountFormat and CsvReader), all of them in
    // one transaction or, when any record is refused, none: the file is then left as it was.
    // A record whose fields are all empty (the trailing ",,," rows spreadsheets write) is
    // skipped and counted. A record without a user name is refused, and so is a user name
    // already in the registry or earlier in the file, unless the options allow it: the editor
    // only ever opens the first account of a name. A field longer than any field may hold, or
    // a record over a megabyte, stops the reading at once and is refused.
    //
    // The whole text is read and checked, the accepted records kept packed in memory, before
    // the write lock is taken, so that text arriving slowly never keeps other programs from
    // saving; text with any problem never takes it at all. `progress` counts records read, its
    // position the bytes of `csv` read; then, in a stage of its own, the accounts written.
    static ImportResult importCsv(const std::string& path, std::istream& csv, Progress& progress,
                                  const ImportOptions& options = {});

    // Writes a header and every account, all eight fields, in "User" order. Returns the count.
    static std::size_t exportCsv(const std::string& path, std::ostream& output);

    // Writes every user name in "User" order, one a line (a null name as an empty line).
    static void listUsers(const std::string& path, std::ostream& output);

    // A copy of the registry `path` at `destination` as it was at one moment, made through
    // SQLite's online backup while other programs may go on using the file (their writes wait
    // for the copy, within their busy timeout), then read back through SQLite's integrity check.
    // The copy has the registry's permission bits and, run as root, its owner and group; where
    // it cannot have the registry's group, its group may not read it. It is made under a private
    // name beside `destination` and given that name at the end, only if no file has it yet: an
    // existing destination, or one that appears meanwhile, is never replaced nor removed, and
    // neither is anything beside it (a "-journal" included). A copy that fails on the way is
    // removed. Throws FileError naming the copy, not the registry, when only the copy is damaged.
    static void backup(const std::string& path, const std::string& destination);

    // For tests: backup calls `hook` with the copy's private path and the destination once the
    // copy is written, before it is checked and given the destination's name. Empty: none.
    static void setBackupHookForTesting(std::function<void(const std::string&, const std::string&)> hook);

    // A new registry, as create makes it, holding `accounts` accounts from DemoGenerator(seed).
    // On any failure the new file is removed again.
    static void createDemo(const std::string& path, std::size_t accounts, std::uint64_t seed, Progress& progress);
};

} // namespace cli
