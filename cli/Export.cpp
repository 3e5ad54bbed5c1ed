// SPDX-License-Identifier: MIT
#include "cli/Export.h"

#include "cli/AccountFormat.h"
#include "cli/CsvWriter.h"
#include "cli/FileError.h"
#include "cli/RegistryFile.h"
#include "store/mdlDatabase.h"

namespace cli {

namespace {

// Writes `name` on one line as ListFormat::EscapedLines describes.
void writeEscaped(std::ostream& output, const std::string& name) {
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\')
            output << "\\\\";
        else if (byte == '\n')
            output << "\\n";
        else if (byte == '\r')
            output << "\\r";
        else if (byte == '\t')
            output << "\\t";
        else if (byte < 0x20 || byte == 0x7F)
            output << "\\x" << hexDigits[byte >> 4] << hexDigits[byte & 0xF];
        else
            output << c;
    }
    output << '\n';
}

} // namespace

std::size_t exportCsv(const std::string& path, std::ostream& output, bool byteOrderMark) {
    auto database = openForReading(path);
    mdlDatabase::ValidateServersTable(*database);
    const dao::TableDef definition = mdlDatabase::ServersTableDef(*database);
    auto recordset = database->TableDefs(tableName).OpenRecordset();
    recordset->Index("User");
    auto fields = fieldsOf(*recordset, definition);

    if (byteOrderMark)
        output << "\xEF\xBB\xBF";
    CsvWriter writer(output);
    for (const dao::Field& field : definition.Fields())
        writer.field(field.Name());
    writer.endRecord();
    std::size_t count = 0;
    for (; !recordset->Eof(); recordset->MoveNext()) {
        for (const auto& field : fields)
            AccountFormat::write(writer, field.Value());
        writer.endRecord();
        ++count;
        if (!output)
            break;
    }
    database->Close();
    output.flush();
    if (!output)
        throw FileError("Writing the CSV text failed.");
    return count;
}

void listUsers(const std::string& path, std::ostream& output, ListFormat format) {
    auto database = openForReading(path);
    mdlDatabase::ValidateServersTable(*database);
    auto recordset = database->TableDefs(tableName).OpenRecordset();
    recordset->Index("User");
    const auto user = recordset->Fields("User");
    for (; !recordset->Eof() && output; recordset->MoveNext()) {
        const std::string name = user.Value().toText();
        if (format == ListFormat::NulTerminated)
            output << name << '\0';
        else
            writeEscaped(output, name);
    }
    database->Close();
    output.flush();
    if (!output)
        throw FileError("Writing the list of user names failed.");
}

} // namespace cli
