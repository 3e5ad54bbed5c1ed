// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace dao {

class FieldRule;

// Field type codes as the registry's tools know them.
enum class FieldType : int {
    Other = 0, // declared by another program in a way these codes do not name; values are stored as given
    Boolean = 1,
    Byte = 2, // one unsigned byte, in the range FieldRule gives
    Text = 10,
};

// The definition of one field of a table: its name, type, size and zero-length rule. A field made
// with TableDef::CreateField is not stored until its table definition is appended to a database;
// the rules it carries are then written into the file, so SQLite enforces them on every program.
class Field {
public:
    // size counts characters (Unicode code points, as SQLite's length() counts them) and is used
    // by Text fields only, from 1 to FieldRule::maxTextSize.
    Field(std::string name, FieldType type, int size = 0);

    const std::string& Name() const { return m_name; }
    FieldType Type() const { return m_type; }
    int Size() const { return m_size; }

    // Whether a Text field accepts the empty text. Accepted, and meaningless, on other types.
    bool AllowZeroLength() const { return m_allowZeroLength; }
    void SetAllowZeroLength(bool allow) { m_allowZeroLength = allow; }

    // Whether the field's values are secret (a password): no message shows them, whatever they
    // hold; messages name the field, the row or the line instead.
    bool Secret() const { return m_secret; }
    void SetSecret(bool secret) { m_secret = secret; }

    // The rule the field's values keep, made from its type, size and zero-length rule.
    FieldRule Rule() const;

    // The column definition for CREATE TABLE, with the rules as named CHECK constraints. Each
    // constraint's name starts with the field's name, so a refused value is reported by field.
    // Throws Error(InvalidDefinition) for a name or size that cannot be stored.
    std::string columnDefinition() const;

    // A stored column as SQLite declares it: "TEXT(50)", "BOOLEAN", "BYTE", or anything else made
    // by another program (Text without a size in parentheses has size 0, meaning unlimited).
    static Field fromDeclaration(std::string name, const std::string& declaredType);

private:
    std::string m_name;
    FieldType m_type;
    int m_size;
    bool m_allowZeroLength = false;
    bool m_secret = false;
};

// Quotes an SQL identifier: "like ""this""".
std::string quoteIdentifier(const std::string& name);

// Whether two names are the same to SQLite, which compares the names of tables, fields and
// indexes without regard to the case of ASCII letters (and of no others), whatever the locale.
bool sameName(std::string_view a, std::string_view b);

} // namespace dao
