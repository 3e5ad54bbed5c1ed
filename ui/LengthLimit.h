// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// The most characters an operator may bring into a text box by typing or pasting. Text put into
// a box by the program is shown whole, however long; the operator can shorten it, but no edit
// makes a box's text longer than the larger of the limit and what the box held before.
// Characters are Unicode code points, as the registry counts them.
namespace LengthLimit {

struct Result {
    QString text;
    int cursor; // in UTF-16 units, just after the part of the insertion that was kept
};

// Applies the limit to one edit that turned `before` into `after`. An insertion that would pass
// the limit is cut at the limit, never in the middle of a character.
Result apply(const QString& before, const QString& after, int limit);

} // namespace LengthLimit
