// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace dao {

// The number of characters (Unicode code points, as SQLite's length() counts them) in UTF-8
// text, or nothing when the text is not strict UTF-8: overlong forms, surrogates and values
// above U+10FFFF are refused.
std::optional<std::size_t> utf8CharacterCount(std::string_view text);

} // namespace dao
