// SPDX-License-Identifier: MIT
#include "cli/Create.h"

#include "cli/DemoGenerator.h"
#include "cli/Progress.h"
#include "cli/RegistryFile.h"
#include "cli/StoreProgress.h"
#include "store/mdlDatabase.h"

namespace cli {

void createRegistry(const std::string& path) {
    createEmptyFile(path);
    try {
        auto database = openRegistry(path);
        dao::TableDef servers = mdlDatabase::ServersTableDef(*database);
        database->AppendTableDef(servers);
        database->Close();
    } catch (...) {
        removeNewFile(path);
        throw;
    }
}

void createDemo(const std::string& path, std::size_t accounts, std::uint64_t seed, Progress& progress,
                bool withDuplicates) {
    createEmptyFile(path);
    try {
        auto database = openRegistry(path);
        database->SetCacheSize(bulkCacheKibibytes);
        // The table and its accounts land together: the file never holds half a demo.
        database->BeginTrans();
        // The rows go in before the index "User" is made: sorting the names once is far quicker
        // than keeping the index in order as each random name arrives.
        const dao::TableDef definition = mdlDatabase::ServersTableDef(*database);
        dao::TableDef table = database->CreateTableDef(definition.Name());
        for (const dao::Field& field : definition.Fields())
            table.AppendField(field);
        database->AppendTableDef(table);
        auto recordset = database->TableDefs(tableName).OpenRecordset();
        auto fields = fieldsOf(*recordset, definition);

        DemoGenerator generator(seed, withDuplicates);
        DemoGenerator::Account account;
        for (std::size_t n = 0; n < accounts; ++n) {
            generator.next(account);
            recordset->AddNew();
            for (std::size_t i = 0; i < fields.size(); ++i)
                fields[i].SetValue(std::move(account[i]));
            recordset->Update();
            progress.advance();
        }
        recordset->Close();
        makeIndexes(*database, tableName, definition.Indexes(), progress);
        progress.finish();
        database->CommitTrans();
        database->Close();
    } catch (...) {
        removeNewFile(path);
        throw;
    }
}

} // namespace cli
