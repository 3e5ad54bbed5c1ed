// SPDX-License-Identifier: MIT
#pragma once

#include "store/Field.h"
#include "store/Variant.h"

#include <optional>
#include <string>

namespace cli {

class CsvWriter;

// How an account's fields are written in CSV, and read back:
// - null: an empty, unquoted field; empty text: "" (two quotes).
// - Text: the UTF-8 text as stored, line breaks and all.
// - Boolean (Official): 1 or 0; reading also takes true or false in any ASCII case.
// - Byte (Date, Time): a whole number in decimal digits, in the range the field's rule gives.
class AccountFormat {
public:
    // The value for `field` from its CSV text (nullopt: null). The rules are the field's own, as
    // its definition carries them, so a value accepted here is one the table accepts. Returns
    // the reason a value is refused, or an empty string with `value` set.
    static std::string parse(const dao::Field& field, const std::optional<std::string>& text, dao::Variant& value);
    // The reason parse() gives for refusing the value, or an empty string; copies no text.
    static std::string refusal(const dao::Field& field, const std::optional<std::string>& text);

    // Writes `value` as one CSV field.
    static void write(CsvWriter& writer, const dao::Variant& value);

    // The characters (Unicode code points) of strict UTF-8 text, as the store takes it: no
    // overlong forms, no surrogates, nothing above U+10FFFF. nullopt when the text is not UTF-8.
    static std::optional<std::size_t> characterCount(const std::string& text);
};

} // namespace cli
