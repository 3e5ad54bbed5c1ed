// SPDX-License-Identifier: MIT
#pragma once

#include <stdexcept>
#include <string>

namespace SQLite {
class Exception;
}

namespace dao {

// Every failure of the store has one of these numbers. They are shown to the operator and may be
// quoted in support requests, so a number never changes meaning once released.
enum class ErrorNumber : int {
    FileNotFound = 1,           // the registry path names nothing
    NotAFile = 2,               // the path names a folder, device, FIFO, socket or a broken link
    NotADatabase = 3,           // the file is not an SQLite database
    FileInUse = 4,              // another program holds a lock longer than the busy timeout
    ReadOnlyFile = 5,           // a write to a file that may only be read
    DamagedFile = 6,            // the database is corrupt
    DiskError = 7,              // reading or writing the file failed, or the disk is full
    CannotOpen = 8,             // the file exists but cannot be opened (permissions, symbolic link loop)
    TableNotFound = 9,          // no table of that name
    TableExists = 10,           // appending a table that is already stored
    IndexNotFound = 11,         // no index of that name on the table
    UnsupportedIndex = 12,      // the index is not over plain columns
    FieldNotFound = 13,         // no field of that name
    NoCurrentRecord = 14,       // reading, editing or moving where no row is current
    NotEditing = 15,            // assigning or updating without Edit or AddNew
    ValueRefused = 16,          // a value breaks the field's type, size or zero-length rule
    RowRemoved = 17,            // the row was deleted by another program before the update
    ObjectClosed = 18,          // using a workspace, database or recordset after Close
    InvalidDefinition = 19,     // a table or field definition that cannot be stored
    InvalidArgument = 20,       // an option the engine does not offer
    AccountNotFound = 21,       // no row carries the user name looked for
    EngineFailure = 22,         // any other failure of SQLite; its own message follows
    AccountChanged = 23,        // the row no longer holds what was read: another program changed it
    UnexpectedChange = 24,      // a write did not land as given (a trigger or a column of the file); undone
    WorkLimitExceeded = 25,     // a statement ran past its bound of work (a looping trigger or view); undone
    UnsupportedTable = 26,      // "Servers" is a view, a virtual table or a table without row identities
    HiddenRowIdentity = 27,     // a field of "Servers" is named rowid, oid or _rowid_ and hides the row identity
    TextConverted = 28,         // a text field of "Servers" would store typed text as a number
    MisleadingStatistics = 29,  // statistics in the file declare the index "User" unordered
    CompanionFileUnusable = 30, // the folder, the journal, the -wal or the -shm beside the file cannot be used
    JournalNotRolledBack = 31,  // a journal left by a crash that this open cannot roll back
    ValueTooLarge = 32,         // a value in the file is larger than the store reads
    ConflictReplaces = 33,      // a field or constraint of "Servers" resolves conflicts by REPLACE or IGNORE
    GeneratedField = 34,        // a field of "Servers" is computed by the file's own expression
    FileCodeOnWrite = 35,       // a trigger, rule or index of the file would run its own code on a write
    SchemaBeyondLimits = 36,    // an object of the file's schema is larger than Vantrel reads
    OutOfMemory = 37,           // the database engine reached the memory Vantrel allows it
    SavedNotConfirmed = 38,     // the write is in the file, but the disk failed as it was made permanent
};

// The one error type of the store. number() is positive and stable; description() speaks to an
// operator and says what failed (which file, which field) in plain words.
class Error : public std::runtime_error {
public:
    Error(ErrorNumber number, const std::string& description);

    int number() const noexcept { return static_cast<int>(m_number); }
    ErrorNumber code() const noexcept { return m_number; }
    std::string description() const { return what(); }

private:
    ErrorNumber m_number;
};

// Turns a failure reported by SQLite while working on `path` into the store's error, by its
// extended result code (the primary code when the failure carries none) and `systemError`, the
// errno SQLite saw (0 when unknown). Where the code alone does not tell whether the file, its
// journal, its -wal or -shm file or its folder is at fault, the files beside `path` are looked at.
Error translate(const SQLite::Exception& failure, const std::string& path, int systemError = 0);

// Quotes a path or name for a message: "like this".
std::string inQuotes(const std::string& text);

// Quotes the registry's path for a message as it was given, and when it is a symbolic link, the
// file it resolves to as well: "/opt/vantrel/zarn.dat" (a link to "/srv/registry/zarn.dat").
std::string describePath(const std::string& path);

// Why this user may not read the registry at `path`, when a permission refuses it: the first
// folder on the way (through a symbolic link too) that may not be searched, or the file that may
// not be read, with its mode and owner and who this user is. Empty when no permission refuses it.
std::string permissionRefusal(const std::string& path);

} // namespace dao
