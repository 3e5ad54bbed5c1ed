// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <memory>

namespace dao {

class Workspace;

// The database engine: one object, made on first use and kept to the end of the program.
class DBEngine {
public:
    static DBEngine& instance();

    // The most memory the engine may hold at once, for every open file together: its caches,
    // its sorts and its temporary tables. Past it an operation fails with OutOfMemory.
    static constexpr long long HeapLimitBytes = 2LL << 30;

    // Item 0 is the default workspace; it is the only one. After its Close, the next call gives
    // a new, usable workspace. Any other index throws Error(InvalidArgument).
    std::shared_ptr<Workspace> Workspaces(int index);

    // How long an operation waits for another program's lock before it fails with FileInUse.
    // Applies to databases opened afterwards.
    std::chrono::milliseconds BusyTimeout() const { return m_busyTimeout; }
    void SetBusyTimeout(std::chrono::milliseconds timeout) { m_busyTimeout = timeout; }

    // How long one operation may work on a file (see Database::SetTimeLimit). Applies to
    // databases opened afterwards.
    std::chrono::milliseconds TimeLimit() const { return m_timeLimit; }
    void SetTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }

private:
    DBEngine() = default;

    std::shared_ptr<Workspace> m_defaultWorkspace;
    std::chrono::milliseconds m_busyTimeout{5000};
    std::chrono::milliseconds m_timeLimit{3000};
};

} // namespace dao
