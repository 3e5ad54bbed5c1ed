// SPDX-License-Identifier: MIT
#pragma once

#include "store/Error.h"

#include <vector>

namespace dao {

// What an error number means to an operator, and what the operator does about it: one line each.
// The manual pages list these, so an operator who quotes a number finds its remedy there.
struct ErrorEntry {
    ErrorNumber number;
    const char* meaning;
    const char* remedy;
};

// The entry of `number`. Every ErrorNumber has one, which the compiler holds to: the entries are
// the cases of a switch over the enumeration, and the build fails on a value left out (-Werror=switch).
ErrorEntry errorEntry(ErrorNumber number);

// Every entry, from number 1 on in order. Numbers are never reused or skipped, so the list ends
// at the first number without an entry.
std::vector<ErrorEntry> errorCatalogue();

} // namespace dao
