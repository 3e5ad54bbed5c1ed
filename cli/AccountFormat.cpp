// SPDX-License-Identifier: MIT
#include "cli/AccountFormat.h"

#include "cli/CsvWriter.h"
#include "store/FieldRule.h"
#include "store/Utf8.h"

#include <charconv>
#include <strings.h>

namespace cli {

namespace {

// A refused value is never shown: in a file whose columns are in the wrong order, the value
// under "Official" or "Date" may be a password.
const std::string notShown = "; the value is not shown, as it may be a password in the wrong column";

// Text is taken as it is; the field's rule says whether it may be stored.
std::string textRefusal(const dao::Field& field, const std::string& text) {
    if (const std::string reason = field.Rule().RefusalOfText(text); !reason.empty())
        return "\"" + field.Name() + "\" " + reason;
    return {};
}

std::string parseText(const dao::Field& field, const std::string& text, dao::Variant& value) {
    if (std::string reason = textRefusal(field, text); !reason.empty())
        return reason;
    value = dao::Variant(text);
    return {};
}

std::string parseBoolean(const dao::Field& field, const std::string& text, dao::Variant& value) {
    if (text == "1" || strcasecmp(text.c_str(), "true") == 0)
        value = dao::Variant(true);
    else if (text == "0" || strcasecmp(text.c_str(), "false") == 0)
        value = dao::Variant(false);
    else
        return "\"" + field.Name() + "\" must be 1 or 0 (true or false)" + notShown;
    return {};
}

std::string parseByte(const dao::Field& field, const std::string& text, dao::Variant& value) {
    int number = 0;
    const char* end = text.data() + text.size();
    const bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    const auto [last, failure] = std::from_chars(text.data(), end, number);
    const dao::FieldRule rule = field.Rule();
    if (!digitsOnly || failure != std::errc() || last != end || !rule.Refusal(dao::Variant(number)).empty())
        return "\"" + field.Name() + "\" must be " + rule.Wording() + notShown;
    value = dao::Variant(number);
    return {};
}

} // namespace

std::string AccountFormat::parse(const dao::Field& field, const std::optional<std::string>& text, dao::Variant& value) {
    if (!text) {
        value = dao::Variant();
        return {};
    }
    switch (field.Type()) {
    case dao::FieldType::Text:
        return parseText(field, *text, value);
    case dao::FieldType::Boolean:
        return parseBoolean(field, *text, value);
    case dao::FieldType::Byte:
        return parseByte(field, *text, value);
    case dao::FieldType::Other:
        break;
    }
    value = dao::Variant(*text);
    return {};
}

std::string AccountFormat::refusal(const dao::Field& field, const std::optional<std::string>& text) {
    if (text && field.Type() == dao::FieldType::Text)
        return textRefusal(field, *text);
    dao::Variant value;
    return parse(field, text, value);
}

void AccountFormat::write(CsvWriter& writer, const dao::Variant& value) {
    if (value.isNull())
        writer.nullField();
    else if (const std::string* text = value.text())
        writer.field(*text);
    else
        writer.field(value.toText());
}

std::optional<std::size_t> AccountFormat::characterCount(const std::string& text) {
    return dao::utf8CharacterCount(text);
}

} // namespace cli
