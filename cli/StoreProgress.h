// SPDX-License-Identifier: MIT
#pragma once

#include "store/TableDef.h"

#include <string>
#include <vector>

namespace dao {
class Database;
}

namespace cli {

class Progress;

// Keeps `progress` alive on screen while `database` runs long statements: from construction to
// destruction, the database's progress observer ticks it (see Database::SetProgressObserver).
class ProgressWatch {
public:
    ProgressWatch(dao::Database& database, Progress& progress);
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;
    ~ProgressWatch();

private:
    dao::Database& m_database;
};

// Makes `indexes` on the stored table `table`, each as a stage of `progress` of its own, such as
// "Making the index "User"", which shows the time it has run: SQLite tells nothing of how far an
// index is made. Failures are thrown as the store's errors.
void makeIndexes(dao::Database& database, const std::string& table,
                 const std::vector<dao::TableDef::IndexDefinition>& indexes, Progress& progress);

} // namespace cli
