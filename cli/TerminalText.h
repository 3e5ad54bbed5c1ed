// SPDX-License-Identifier: MIT
#pragma once

#include <ios>
#include <string>
#include <string_view>

namespace cli {

// Text from a file made safe to show on one line of a terminal: a line feed is written as \n, a
// carriage return as \r, a tab as \t, and any other byte below 0x20, or 0x7F, as \xHH (two
// upper-case hexadecimal digits), so that no text can end a line, move the cursor or steer the
// terminal. A backslash is written as \\ only when `escapeBackslash` is set, for text that is
// read back (list's output); a message a person reads keeps it as it is. Every other byte is
// kept.
std::string visibleControls(std::string_view text, bool escapeBackslash);

// A message line as the tool writes it: bytes that are not UTF-8 as U+FFFD, then its control
// characters made visible (visibleControls, backslashes kept), and the C1 controls U+0080 to
// U+009F as \uHHHH.
std::string messageLine(const std::string& text);

// Whether `stream` is one of the process's standard streams and that is a terminal. Streams made
// in-process (string streams) never are.
bool isTerminal(const std::ios& stream);

// Whether `output` and `error` are both the process's standard streams on one terminal, where
// anything drawn on `error` would mix into what `output` shows.
bool sameTerminal(const std::ios& output, const std::ios& error);

} // namespace cli
