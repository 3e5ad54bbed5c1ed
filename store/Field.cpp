// SPDX-License-Identifier: MIT
#include "store/Field.h"

#include "store/Error.h"
#include "store/FieldRule.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace dao {

namespace {

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The constraint's name carries the field and its rule's wording: SQLite quotes it when it refuses
// a value, and Recordset words the refusal from it.
std::string constraint(const std::string& field, const FieldRule& rule) {
    const std::string column = quoteIdentifier(field);
    return " CONSTRAINT " + quoteIdentifier(field + ": " + rule.Wording()) + " CHECK (" + column + " IS NULL OR (" +
           rule.Condition(column) + "))";
}

} // namespace

bool sameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string quoteIdentifier(const std::string& name) {
    std::string quotedName = "\"";
    for (char c : name) {
        quotedName += c;
        if (c == '"')
            quotedName += '"';
    }
    return quotedName + "\"";
}

Field::Field(std::string name, FieldType type, int size) : m_name(std::move(name)), m_type(type), m_size(size) {}

FieldRule Field::Rule() const {
    return FieldRule(*this);
}

std::string Field::columnDefinition() const {
    if (m_name.empty() || m_name.find('\0') != std::string::npos)
        throw Error(ErrorNumber::InvalidDefinition, "A field needs a name without NUL characters.");
    const std::string column = quoteIdentifier(m_name);
    const FieldRule rule = Rule();
    switch (m_type) {
    case FieldType::Text:
        if (m_size < 1 || m_size > FieldRule::maxTextSize)
            throw Error(ErrorNumber::InvalidDefinition, "The text field " + inQuotes(m_name) +
                                                            " needs a size from 1 to " +
                                                            std::to_string(FieldRule::maxTextSize) + " characters.");
        return column + " TEXT(" + std::to_string(m_size) + ")" + constraint(m_name, rule);
    case FieldType::Boolean:
        return column + " BOOLEAN" + constraint(m_name, rule);
    case FieldType::Byte:
        return column + " BYTE" + constraint(m_name, rule);
    case FieldType::Other:
        break;
    }
    throw Error(ErrorNumber::InvalidDefinition, "The field " + inQuotes(m_name) + " has no type that can be stored.");
}

Field Field::fromDeclaration(std::string name, const std::string& declaredType) {
    const std::string type = upper(declaredType);
    if (type.find("BOOL") != std::string::npos || type == "BIT")
        return Field(std::move(name), FieldType::Boolean);
    if (type == "BYTE" || type == "TINYINT")
        return Field(std::move(name), FieldType::Byte);
    if (type.find("CHAR") != std::string::npos || type.find("TEXT") != std::string::npos ||
        type.find("CLOB") != std::string::npos) {
        int size = 0;
        if (const auto open = type.find('('); open != std::string::npos) {
            const char* first = type.data() + open + 1;
            std::from_chars(first, type.data() + type.size(), size);
        }
        return Field(std::move(name), FieldType::Text, size);
    }
    return Field(std::move(name), FieldType::Other);
}

} // namespace dao
