// SPDX-License-Identifier: MIT
// Fuzz target for the CSV import: any bytes go through CsvReader and every field through
// AccountFormat against the rules of the account table, as the import does. Whatever is read
// must, written again by CsvWriter after a header as the export writes it, read back the same.
// Any crash, sanitizer report or broken round trip ends the run.
#include "cli/AccountFormat.h"
#include "cli/CsvReader.h"
#include "cli/CsvWriter.h"
#include "store/Field.h"
#include "store/ServersFields.h"
#include "store/Variant.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

using Fields = std::vector<std::optional<std::string>>;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// Parses every field as the import would, and checks that what is accepted keeps the rules.
void parseRecord(const cli::CsvRecord& record) {
    if (record.line == 0 || record.fields.empty())
        broken("a record without a line or fields");
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
        const dao::Field& field = mdlDatabase::ServersFields()[i % mdlDatabase::ServersFields().size()];
        dao::Variant value;
        const std::string reason = cli::AccountFormat::parse(field, record.fields[i], value);
        if (!reason.empty())
            continue;
        if (!record.fields[i]) {
            if (!value.isNull())
                broken("a null field gave a value");
            continue;
        }
        if (field.Type() == dao::FieldType::Text) {
            const std::string* text = value.text();
            if (!text || *text != *record.fields[i])
                broken("accepted text changed");
            const auto count = cli::AccountFormat::characterCount(*text);
            if (!count || *count > static_cast<std::size_t>(field.Size()) || text->find('\0') != std::string::npos ||
                (*count == 0 && !field.AllowZeroLength()))
                broken("text against the field's rules was accepted");
        } else if (field.Type() == dao::FieldType::Boolean) {
            if (!value.isInteger() || (value.toInteger() != 0 && value.toInteger() != 1))
                broken("a boolean other than 0 or 1");
        } else if (field.Type() == dao::FieldType::Byte) {
            if (!value.isInteger() || value.toInteger() < 0 || value.toInteger() > 255)
                broken("a byte out of range");
        }
    }
}

bool readAll(const std::string& csv, std::vector<Fields>& records) {
    std::istringstream input(csv);
    try {
        cli::CsvReader(input).read([&](const cli::CsvRecord& record) {
            parseRecord(record);
            records.push_back(record.fields);
        });
    } catch (const cli::CsvSyntaxError&) {
        return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<Fields> records;
    if (!readAll(std::string(reinterpret_cast<const char*>(data), size), records))
        return 0;

    std::ostringstream written;
    cli::CsvWriter writer(written);
    writer.field("User");
    writer.endRecord();
    for (const Fields& record : records) {
        for (const auto& field : record) {
            if (field)
                writer.field(*field);
            else
                writer.nullField();
        }
        writer.endRecord();
    }
    std::vector<Fields> again;
    if (!readAll(written.str(), again))
        broken("written CSV was refused when read back");
    if (again.empty() || again.front() != Fields{std::string("User")})
        broken("the header did not read back");
    again.erase(again.begin());
    if (again != records)
        broken("written records read back differently");
    return 0;
}
