// SPDX-License-Identifier: MIT
#include "store/DBEngine.h"

#include "store/Error.h"
#include "store/Workspace.h"

#include <sqlite3.h>

namespace dao {

DBEngine& DBEngine::instance() {
    static DBEngine engine = [] {
        // Memory statistics are never read here, and keeping them takes a global lock on every
        // allocation SQLite makes. Only possible before SQLite starts; later it is simply refused.
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        // Sorts and temporary tables are kept in memory (see Database), so a file whose schema
        // makes them huge must meet a hard limit rather than fill the machine.
        sqlite3_hard_heap_limit64(HeapLimitBytes);
        return DBEngine();
    }();
    return engine;
}

std::shared_ptr<Workspace> DBEngine::Workspaces(int index) {
    if (index != 0)
        throw Error(ErrorNumber::InvalidArgument,
                    "The database engine has only its default workspace (item 0), not item " + std::to_string(index) +
                        ".");
    if (!m_defaultWorkspace || !m_defaultWorkspace->isOpen())
        m_defaultWorkspace = std::make_shared<Workspace>();
    return m_defaultWorkspace;
}

} // namespace dao
