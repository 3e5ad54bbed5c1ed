// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <istream>
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
    // Lets in a user name that looks like one in the registry or earlier in the file (see
    // NameLook::skeleton), or that begins or ends with a space.
    bool allowLookAlikeUsers = false;
};

// Adds the accounts of the CSV text `csv` (see AccountFormat and CsvReader), all of them in
// one transaction or, when any record is refused, none: the file is then left as it was.
// A record whose fields are all empty (the trailing ",,," rows spreadsheets write) is
// skipped and counted. A record without a user name is refused, and so is a user name
// already in the registry or earlier in the file, unless the options allow it: the editor
// only ever opens the first account of a name. So is, unless the options allow it, a user
// name that looks like another there, or begins or ends with a space: an operator would open
// one for the other. A field longer than any field may hold, or
// a record over a megabyte, stops the reading at once and is refused.
//
// The whole text is read and checked, the accepted records kept packed in memory, before
// the write lock is taken, so that text arriving slowly never keeps other programs from
// saving; text with any problem never takes it at all. `progress` counts records read, its
// position the bytes of `csv` read (its total, when known, the bytes of `csv`); then, in a stage
// of its own, the accounts written. Reading and writing each take a second thread, none left
// running when importCsv returns or throws.
// Store failures are thrown as dao::Error, a failure to read `csv` as FileError.
ImportResult importCsv(const std::string& path, std::istream& csv, Progress& progress,
                       const ImportOptions& options = {});

} // namespace cli
