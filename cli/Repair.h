// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace cli {

class Progress;

// What a repair of a registry found and did.
struct RepairReport {
    std::vector<std::string> fixed;     // what was put right, one a line; empty when nothing was
    std::vector<std::string> fixable;   // what could be put right but was not, beside something that cannot
    std::vector<std::string> unfixable; // what this repair cannot put right; then nothing was changed
    std::string backup;                 // the copy made before the first change; empty when none was
};

// Puts right what a registry needs without guessing: a missing index "User" of "Servers", made
// as init makes it, and statistics (sqlite_stat1) declaring that index unordered, whose rows for
// the index and for "Servers" are removed. Nothing of the file runs on the way (no ANALYZE, no
// trigger). With the file's write lock held from the first look to the commit: when anything is
// to be put right, a copy of the file as it was is made first, through backup(), beside it as
// "FILE.before-repair-YYYYMMDD-HHMMSS" (UTC), never replacing a file; after the commit the file
// is opened as the program opens it, to confirm that it does.
//
// When the file holds anything this repair cannot put right (damage, a missing table or column,
// anything else the program's validation refuses), nothing is changed and no copy is made: the
// report lists it in `unfixable`, beside what would have been put right. When nothing needs
// putting right, the file is left byte for byte as it was.
//
// Throws dao::Error when the file cannot be opened or locked (FileInUse while another program
// holds the write lock; nothing is then changed), and FileError or dao::Error when the copy
// cannot be made (nothing is then changed either).
// Its stages (the integrity check, the copy, the index) are shown on `progress` when given.
RepairReport repairRegistry(const std::string& path, Progress* progress = nullptr);

} // namespace cli
