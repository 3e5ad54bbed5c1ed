// SPDX-License-Identifier: MIT
#pragma once

#include "store/Field.h"
#include "store/Variant.h"

#include <string>
#include <string_view>

namespace dao {

// The rule every value of one field keeps, stated once: in words, as the SQL condition of the
// field's CHECK constraint, and as a test of a value in C++. The three come from the field's
// type, size and zero-length rule alone, so the store, the import and the check cannot tell a
// value apart differently. Null keeps every rule.
class FieldRule {
public:
    explicit FieldRule(const Field& field);

    // The rule in words, as it completes "it must be ...": "text of 1 to 15 characters", "text
    // of at most 50 characters", "true (1) or false (0)", "a whole number from 0 to 255". Empty
    // for a field of type Other, which has no rule.
    std::string Wording() const;

    // The SQL condition a value of `column` (an SQL expression, a quoted identifier mostly) meets
    // exactly when it keeps the rule. Null and text that cannot be stored at all (see TextRefusal)
    // are left to the caller: SQLite's length() miscounts such text. Files made by earlier versions hold this very text in their
    // CHECK constraints, which is how their rules are recognised as ours: it never changes.
    // Empty for a field of type Other.
    std::string Condition(const std::string& column) const;

    // Why `value` breaks the rule, worded to follow the field's name ("has 16 characters; at
    // most 15 are allowed", "is empty; it must be text of 1 to 15 characters", "is not true (1)
    // or false (0)"), or empty when it keeps it.
    std::string Refusal(const Variant& value) const;
    // The same for a text value, read where it lies.
    std::string RefusalOfText(std::string_view text) const;

    // Why text cannot be stored at all, in the same manner ("holds a NUL character", "is not
    // valid UTF-8 text"), or empty. SQLite counts characters only up to a NUL and only in valid
    // UTF-8, so no SQL condition can tell such text; the store refuses it before writing.
    static std::string TextRefusal(std::string_view text);

    // The largest size a Text field may have, and the range of a Byte.
    static constexpr int maxTextSize = 255;
    static constexpr int byteMaximum = 255;

private:
    FieldType m_type;
    int m_size;
    bool m_allowZeroLength;
};

} // namespace dao
