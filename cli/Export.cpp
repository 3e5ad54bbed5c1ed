// SPDX-License-Identifier: MIT
#include "cli/Export.h"

#include "cli/AccountFormat.h"
#include "cli/CsvWriter.h"
#include "cli/FileError.h"
#include "cli/RegistryFile.h"
#include "store/mdlDatabase.h"

namespace cli {

std::size_t exportCsv(const std::string& path, std::ostream& output) {
    auto database = openForReading(path);
    mdlDatabase::ValidateServersTable(*database);
    const dao::TableDef definition = mdlDatabase::ServersTableDef(*database);
    auto recordset = database->TableDefs(tableName).OpenRecordset();
    recordset->Index("User");
    auto fields = fieldsOf(*recordset, definition);

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

void listUsers(const std::string& path, std::ostream& output) {
    auto database = openForReading(path);
    mdlDatabase::ValidateServersTable(*database);
    auto recordset = database->TableDefs(tableName).OpenRecordset();
    recordset->Index("User");
    const auto user = recordset->Fields("User");
    for (; !recordset->Eof() && output; recordset->MoveNext())
        output << user.Value().toText() << '\n';
    database->Close();
    output.flush();
    if (!output)
        throw FileError("Writing the list of user names failed.");
}

} // namespace cli
