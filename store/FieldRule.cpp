// SPDX-License-Identifier: MIT
#include "store/FieldRule.h"

#include "store/Utf8.h"

namespace dao {

FieldRule::FieldRule(const Field& field)
    : m_type(field.Type()), m_size(field.Size()), m_allowZeroLength(field.AllowZeroLength()) {}

std::string FieldRule::Wording() const {
    switch (m_type) {
    case FieldType::Text:
        return (m_allowZeroLength ? "text of at most " : "text of 1 to ") + std::to_string(m_size) + " characters";
    case FieldType::Boolean:
        return "true (1) or false (0)";
    case FieldType::Byte:
        return "a whole number from 0 to " + std::to_string(byteMaximum);
    case FieldType::Other:
        break;
    }
    return {};
}

std::string FieldRule::Condition(const std::string& column) const {
    switch (m_type) {
    case FieldType::Text: {
        const std::string size = std::to_string(m_size);
        // length() counts characters (code points) of UTF-8 text, not bytes.
        return "typeof(" + column + ") = 'text' AND " +
               (m_allowZeroLength ? "length(" + column + ") <= " + size
                                  : "length(" + column + ") BETWEEN 1 AND " + size);
    }
    case FieldType::Boolean:
        return "typeof(" + column + ") = 'integer' AND " + column + " IN (0, 1)";
    case FieldType::Byte:
        return "typeof(" + column + ") = 'integer' AND " + column + " BETWEEN 0 AND " + std::to_string(byteMaximum);
    case FieldType::Other:
        break;
    }
    return {};
}

std::string FieldRule::Refusal(const Variant& value) const {
    if (value.isNull())
        return {};
    switch (m_type) {
    case FieldType::Text:
        if (const std::string* text = value.text())
            return RefusalOfText(*text);
        return "is " + value.describe() + ", not text";
    case FieldType::Boolean:
        if (value.isInteger() && (value.toInteger() == 0 || value.toInteger() == 1))
            return {};
        return "is not " + Wording();
    case FieldType::Byte:
        if (value.isInteger() && value.toInteger() >= 0 && value.toInteger() <= byteMaximum)
            return {};
        return "is not " + Wording();
    case FieldType::Other:
        break;
    }
    return {};
}

std::string FieldRule::RefusalOfText(std::string_view text) const {
    if (text.find('\0') != std::string_view::npos)
        return "holds a NUL character";
    const std::optional<std::size_t> length = utf8CharacterCount(text);
    if (!length)
        return "is not valid UTF-8 text";
    if (m_type == FieldType::Other)
        return {};
    if (m_type != FieldType::Text)
        return "is not " + Wording();
    if (*length == 0 && !m_allowZeroLength)
        return "is empty; it must be " + Wording();
    if (const auto size = static_cast<std::size_t>(m_size); size > 0 && *length > size)
        return "has " + std::to_string(*length) + " characters; at most " + std::to_string(size) + " are allowed";
    return {};
}

std::string FieldRule::TextRefusal(std::string_view text) {
    return FieldRule(Field({}, FieldType::Other)).RefusalOfText(text);
}

} // namespace dao
