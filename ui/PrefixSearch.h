// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>

class PackedNames;

// The search behind the list's type-ahead.
namespace PrefixSearch {

// The first row at or after `from`, wrapping round to row 0, whose name starts with `prefix`
// ignoring case, exactly as QString::startsWith(prefix, Qt::CaseInsensitive) matches; -1 when no
// name does, or there are no names. A `from` outside the rows counts as the nearest row. Names in
// code point order, as the index "User" gives them, are searched by halving: O(log n) for each
// spelling of the prefix in upper and lower case that some name starts with. Names in any other
// order are searched one by one.
int firstMatch(const PackedNames& names, QStringView prefix, int from);

} // namespace PrefixSearch
