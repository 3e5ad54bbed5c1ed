// SPDX-License-Identifier: MIT
#include "store/Workspace.h"

#include "store/Database.h"
#include "store/Error.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace dao {

namespace {

// SQLite would open a folder or a FIFO and only fail later, or hang on the FIFO: decide here.
void checkIsRegularFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code failure;
    const fs::file_status status = fs::status(path, failure);
    if (failure && failure != std::errc::no_such_file_or_directory) {
        if (const std::string refusal = permissionRefusal(path); !refusal.empty())
            throw Error(ErrorNumber::CannotOpen, refusal);
        throw Error(ErrorNumber::CannotOpen, describePath(path) + " cannot be opened: " + failure.message() + ".");
    }
    switch (status.type()) {
    case fs::file_type::regular:
        return;
    case fs::file_type::not_found:
        throw Error(ErrorNumber::FileNotFound, describePath(path) + " does not exist.");
    case fs::file_type::directory:
        throw Error(ErrorNumber::NotAFile, describePath(path) + " is a folder, not a registry database.");
    default:
        throw Error(ErrorNumber::NotAFile,
                    describePath(path) + " is not a regular file, so it is not a registry database.");
    }
}

} // namespace

Workspace::~Workspace() {
    for (Database* database : m_databases)
        database->detachFromWorkspace();
}

std::unique_ptr<Database> Workspace::OpenDatabase(const std::string& path, int options, bool readOnly,
                                                  const std::string& connect) {
    if (!m_open)
        throw Error(ErrorNumber::ObjectClosed, "The workspace is closed.");
    if (options != 0)
        throw Error(ErrorNumber::InvalidArgument, "Registry files are only opened shared (options 0).");
    if (!connect.empty())
        throw Error(ErrorNumber::InvalidArgument, "Registry files take no connect string.");
    checkIsRegularFile(path);
    auto database = std::unique_ptr<Database>(new Database(this, path, readOnly));
    m_databases.push_back(database.get());
    return database;
}

void Workspace::Close() {
    m_open = false;
    auto databases = std::move(m_databases);
    m_databases.clear();
    std::exception_ptr firstFailure;
    for (Database* database : databases) {
        database->detachFromWorkspace();
        try {
            database->Close();
        } catch (...) {
            if (!firstFailure)
                firstFailure = std::current_exception();
        }
    }
    if (firstFailure)
        std::rethrow_exception(firstFailure);
}

void Workspace::forget(Database* database) {
    m_databases.erase(std::remove(m_databases.begin(), m_databases.end(), database), m_databases.end());
}

} // namespace dao
