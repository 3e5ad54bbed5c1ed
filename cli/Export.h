// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

namespace cli {

class Progress;

// The commands that read a registry out. Both read it as it was saved: a journal a crash left is
// rolled back first. Store failures are thrown as dao::Error; a failed write to `output` as
// FileError.

// Writes a header and every account, all eight fields, as CSV (see AccountFormat and CsvWriter)
// in "User" order, after a UTF-8 byte-order mark when `byteOrderMark` is set. Returns the count.
// `progress`, when given, counts the accounts written against their number.
std::size_t exportCsv(const std::string& path, std::ostream& output, bool byteOrderMark = false,
                      Progress* progress = nullptr);

// How listUsers ends and writes each name.
enum class ListFormat {
    // One name a line, so that no name can make two lines: a line feed is written as \n, a carriage
    // return as \r, a tab as \t, a backslash as \\, and any other byte below 0x20 or 0x7F as \xHH
    // (two upper-case hexadecimal digits). Every other byte is written as it is (visibleControls).
    EscapedLines,
    // Each name exactly as stored, followed by a NUL byte.
    NulTerminated,
};

// Writes every user name in "User" order (a null name as an empty one).
void listUsers(const std::string& path, std::ostream& output, ListFormat format = ListFormat::EscapedLines);

} // namespace cli
