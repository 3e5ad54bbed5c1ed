// SPDX-License-Identifier: MIT
#include "store/Error.h"

#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>

namespace dao {

Error::Error(ErrorNumber number, const std::string& description) : std::runtime_error(description), m_number(number) {}

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

Error translate(const SQLite::Exception& failure, const std::string& path) {
    const std::string file = inQuotes(path);
    const std::string detail = failure.what();
    switch (failure.getErrorCode()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Error(ErrorNumber::FileInUse,
                     file + " is in use by another program. Try again when that program has finished with it.");
    case SQLITE_NOTADB:
        return Error(ErrorNumber::NotADatabase, file + " is not a registry database.");
    case SQLITE_CORRUPT:
        return Error(ErrorNumber::DamagedFile, file + " is damaged: " + detail + ".");
    case SQLITE_READONLY:
        return Error(ErrorNumber::ReadOnlyFile, file + " cannot be changed: it may only be read.");
    case SQLITE_IOERR:
    case SQLITE_FULL:
        return Error(ErrorNumber::DiskError, "Reading or writing " + file + " failed: " + detail + ".");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Error(ErrorNumber::CannotOpen, file + " cannot be opened: " + detail + ".");
    case SQLITE_CONSTRAINT:
        return Error(ErrorNumber::ValueRefused, "A value was refused by the rules of " + file + ": " + detail + ".");
    default:
        return Error(ErrorNumber::EngineFailure, "The database engine failed on " + file + ": " + detail + ".");
    }
}

} // namespace dao
