// SPDX-License-Identifier: MIT
#include "cli/RegistryFile.h"

#include "cli/FileError.h"
#include "store/DBEngine.h"
#include "store/Error.h"
#include "store/Workspace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace cli {

std::unique_ptr<dao::Database> openRegistry(const std::string& path, bool readOnly) {
    return dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path, 0, readOnly);
}

std::unique_ptr<dao::Database> openForReading(const std::string& path) {
    try {
        return openRegistry(path, true);
    } catch (const dao::Error& error) {
        if (error.code() != dao::ErrorNumber::JournalNotRolledBack)
            throw;
    }
    return openRegistry(path);
}

void refuseExisting(const std::string& path) {
    throw FileError(dao::inQuotes(path) + " already exists and was left as it is; give a new file name.");
}

void cannotMake(const std::string& path) {
    throw FileError(dao::inQuotes(path) + " cannot be made: " + std::strerror(errno) + ".");
}

// O_EXCL makes "it must not exist yet" hold even against another program making the same file at
// the same moment, and refuses a dangling link too.
void createEmptyFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        if (errno == EEXIST)
            refuseExisting(path);
        cannotMake(path);
    }
    ::close(descriptor);
}

void removeNewFile(const std::string& path) noexcept {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    std::filesystem::remove(path + "-journal", ignored);
}

std::vector<dao::Recordset::FieldRef> fieldsOf(dao::Recordset& recordset, const dao::TableDef& definition) {
    std::vector<dao::Recordset::FieldRef> references;
    for (const dao::Field& field : definition.Fields())
        references.push_back(recordset.Fields(field.Name()));
    return references;
}

} // namespace cli
