// SPDX-License-Identifier: MIT
#include "store/Variant.h"

namespace dao {

std::string Variant::toText() const {
    if (const auto* text = std::get_if<std::string>(&m_data))
        return *text;
    if (const auto* integer = std::get_if<std::int64_t>(&m_data))
        return std::to_string(*integer);
    if (const auto* real = std::get_if<double>(&m_data))
        return std::to_string(*real);
    if (const auto* blob = std::get_if<Blob>(&m_data))
        return blob->bytes;
    return {};
}

std::int64_t Variant::toInteger() const {
    if (const auto* integer = std::get_if<std::int64_t>(&m_data))
        return *integer;
    return 0;
}

double Variant::toReal() const {
    if (const auto* real = std::get_if<double>(&m_data))
        return *real;
    return static_cast<double>(toInteger());
}

std::string Variant::describe() const {
    if (isNull())
        return "null";
    if (isInteger())
        return "integer " + toText();
    if (isReal())
        return "number " + toText();
    if (isBlob())
        return "binary data of " + std::to_string(std::get<Blob>(m_data).bytes.size()) + " bytes";
    return "text \"" + toText() + "\"";
}

std::string Variant::kind() const {
    if (isNull())
        return "null";
    if (isInteger())
        return "an integer";
    if (isReal())
        return "a number";
    return isBlob() ? "binary data" : "text";
}

} // namespace dao
