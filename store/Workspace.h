// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace dao {

class Database;

// A session of the engine. Databases opened through it are closed with it.
class Workspace {
public:
    Workspace() = default;
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    ~Workspace();

    // Opens an existing SQLite file, shared with other programs: options 0 is the only mode,
    // connect must be empty. readOnly false opens for reading and writing; a file we may only
    // read still opens, and its first write fails with ReadOnlyFile. Never creates a file.
    // Throws Error: FileNotFound, NotAFile (folder, FIFO, device...), CannotOpen, NotADatabase,
    // DamagedFile, FileInUse (locked past the busy timeout).
    std::unique_ptr<Database> OpenDatabase(const std::string& path, int options = 0, bool readOnly = false,
                                           const std::string& connect = "");

    // Closes every database opened here that is still open, then the workspace. May be called
    // again. Throws only if closing a database fails; the workspace is closed all the same.
    void Close();
    bool isOpen() const { return m_open; }

private:
    friend class Database;
    void forget(Database* database);

    std::vector<Database*> m_databases;
    bool m_open = true;
};

} // namespace dao
