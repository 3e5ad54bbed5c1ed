// SPDX-License-Identifier: MIT
#include "cli/StoreProgress.h"

#include "cli/Progress.h"
#include "store/Database.h"
#include "store/Error.h"

namespace cli {

ProgressWatch::ProgressWatch(dao::Database& database, Progress& progress) : m_database(database) {
    database.SetProgressObserver([&progress] { progress.tick(); });
}

ProgressWatch::~ProgressWatch() {
    m_database.SetProgressObserver({});
}

void makeIndexes(dao::Database& database, const std::string& table,
                 const std::vector<dao::TableDef::IndexDefinition>& indexes, Progress& progress) {
    dao::TableDef stored = database.TableDefs(table);
    const ProgressWatch watch(database, progress);
    for (const auto& index : indexes) {
        progress.nextStage("Making the index " + dao::inQuotes(index.name));
        stored.AppendIndex(index.name, index.fields, index.unique);
    }
}

} // namespace cli
