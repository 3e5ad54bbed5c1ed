// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace registry {

class Progress;

// One refused part of a CSV file: the line its record starts on and why.
struct ImportProblem {
    std::size_t line;
    std::string reason;
};

struct ImportResult {
    std::size_t accounts = 0;            // added; 0 whenever there are problems
    std::vector<ImportProblem> problems; // in the order of the file
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
    static ImportResult importCsv(const std::string& path, std::istream& csv, Progress& progress);

    // Writes a header and every account, all eight fields, in "User" order. Returns the count.
    static std::size_t exportCsv(const std::string& path, std::ostream& output);

    // Writes every user name in "User" order, one a line (a null name as an empty line).
    static void listUsers(const std::string& path, std::ostream& output);

    // A new registry, as create makes it, holding `accounts` accounts from DemoGenerator(seed).
    // On any failure the new file is removed again.
    static void createDemo(const std::string& path, std::size_t accounts, std::uint64_t seed, Progress& progress);
};

} // namespace registry
