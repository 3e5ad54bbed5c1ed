// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace dao {

// Bytes stored as a BLOB. Registry fields never hold one by our hand, but a file written by
// another program may.
struct Blob {
    std::string bytes;
    bool operator==(const Blob&) const = default;
};

// One field value as the engine stores it: null, an integer (Boolean and Byte fields), a real,
// UTF-8 text, or a blob. Booleans are kept as the integers 1 (true) and 0 (false).
class Variant {
public:
    Variant() = default;
    Variant(bool value) : m_data(std::int64_t{value ? 1 : 0}) {}
    Variant(int value) : m_data(std::int64_t{value}) {}
    Variant(std::int64_t value) : m_data(value) {}
    Variant(double value) : m_data(value) {}
    Variant(std::string text) : m_data(std::move(text)) {}
    Variant(const char* text) : m_data(std::string(text)) {}
    Variant(Blob blob) : m_data(std::move(blob)) {}

    bool isNull() const { return std::holds_alternative<std::monostate>(m_data); }
    bool isInteger() const { return std::holds_alternative<std::int64_t>(m_data); }
    bool isReal() const { return std::holds_alternative<double>(m_data); }
    bool isText() const { return std::holds_alternative<std::string>(m_data); }
    bool isBlob() const { return std::holds_alternative<Blob>(m_data); }

    // The value as text: text as stored, numbers in decimal, a blob's bytes, null as "".
    std::string toText() const;
    // Integer value; 0 for anything that is not an integer.
    std::int64_t toInteger() const;
    // Real value; integers widen, anything else is 0.
    double toReal() const;
    // Only for values that are Booleans (the integers 0 and 1, or any other integer as true).
    bool toBool() const { return toInteger() != 0; }

    // A short description of the value for messages: "null", "integer 300", "text \"abc\"".
    std::string describe() const;
    // The same without the value, for a secret field: "null", "an integer", "a number", "text"...
    std::string kind() const;

    const std::string* text() const { return std::get_if<std::string>(&m_data); }
    // The text itself, to be given new text in the room it has.
    std::string* text() { return std::get_if<std::string>(&m_data); }

    bool operator==(const Variant&) const = default;

private:
    std::variant<std::monostate, std::int64_t, double, std::string, Blob> m_data;
};

} // namespace dao
