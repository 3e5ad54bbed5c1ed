// SPDX-License-Identifier: MIT
#include "store/Utf8.h"

#include <utf8.h>

namespace dao {

std::optional<std::size_t> utf8CharacterCount(std::string_view text) {
    // utfcpp refuses overlong forms, surrogates and values above U+10FFFF, as SQLite's own
    // UTF-8 rules ask; once the text is valid, every lead byte starts one character.
    if (!utf8::is_valid(text.begin(), text.end()))
        return std::nullopt;
    return static_cast<std::size_t>(utf8::distance(text.begin(), text.end()));
}

} // namespace dao
