// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace dao {

// Whether a user name can pass for another on screen, judged by Unicode's rules for look-alike
// identifiers (Technical Standard #39, through ICU's spoof checker) and its normalization forms,
// never by a table of our own. A name is UTF-8 text; text that is not valid UTF-8 is judged
// misleading by none of these and is its own skeleton.
namespace NameLook {

// Why the name deceives the eye on its own, or empty: it mixes scripts beyond what UTS #39 calls
// "highly restrictive" ("mixes Latin and Cyrillic letters: а is U+0430 CYRILLIC SMALL LETTER A"),
// or is not in normalization form C (a letter and its accent written as two characters where
// one is usual). Both reasons, when both hold, separated by "; ".
std::string misleading(std::string_view name);

// "begins with a space", "ends with a space", "begins and ends with a space", or empty. Any white
// space counts; other than U+0020 it is named.
std::string edgeSpace(std::string_view name);

// The UTS #39 skeleton: two names that look alike have the same skeleton. Names differing only in
// their normalization form, or in letters of other scripts drawn alike ("admin" and "аdmin"),
// share one.
std::string skeleton(std::string_view name);

// "а is U+0430 CYRILLIC SMALL LETTER A"
std::string describeCharacter(char32_t c);

// "U+0430 U+0064 U+006D U+0069 U+006E": what tells names that look alike apart in a message.
std::string codePoints(std::string_view name);

} // namespace NameLook

} // namespace dao
