// SPDX-License-Identifier: MIT
#include "cli/Export.h"

#include "cli/AccountFormat.h"
#include "cli/CsvWriter.h"
#include "cli/FileError.h"
#include "cli/Progress.h"
#include "cli/RegistryFile.h"
#include "cli/TerminalText.h"
#include "store/mdlDatabase.h"

namespace cli {

std::size_t exportCsv(const std::string& path, std::ostream& output, bool byteOrderMark, Progress* progress) {
    auto database = openForReading(path);
    mdlDatabase::ValidateServersTable(*database);
    if (progress && progress->enabled()) {
        // The count of accounts gives the share done; it takes a few hundredths of the export.
        const std::size_t accounts = database->guarded([&] {
            dao::Statement count = database->Prepare("SELECT count(*) FROM " + dao::quoteIdentifier(tableName));
            count.step();
            return static_cast<std::size_t>(count.integer(0));
        });
        progress->nextStage("Exporting", accounts, "accounts");
    }
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
        if (progress)
            progress->advance();
        if (!output)
            break;
    }
    if (progress)
        progress->finish();
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
            output << visibleControls(name, true) << '\n';
    }
    database->Close();
    output.flush();
    if (!output)
        throw FileError("Writing the list of user names failed.");
}

} // namespace cli
