// SPDX-License-Identifier: MIT
#include "store/ErrorCatalogue.h"

namespace dao {

ErrorEntry errorEntry(ErrorNumber number) {
    using enum ErrorNumber;
    // No default: a number added to ErrorNumber without its entry here does not compile.
    switch (number) {
    case FileNotFound:
        return {number, "The registry file named does not exist.",
                "Put the registry, or a symbolic link to it, where the message says it was looked for."};
    case NotAFile:
        return {number, "The registry path names a folder, a device, a FIFO, a socket or a broken link.",
                "Make the path name the registry file itself, or a link to it that resolves."};
    case NotADatabase:
        return {number, "The file is not an SQLite database.",
                "Name the right file, or restore the registry from a backup."};
    case FileInUse:
        return {number, "Another program held a lock on the registry longer than Vantrel waits.",
                "Try again when that program has finished with the registry."};
    case ReadOnlyFile:
        return {number, "A change was asked of a file this user may only read.",
                "Allow this user to write the registry, or make the change as a user who may."};
    case DamagedFile:
        return {number, "The registry is damaged (corrupt).",
                "Stop using it and restore it from a backup; vantrel-registry check tells what it finds."};
    case DiskError:
        return {number, "Reading or writing the file failed on the disk, or the disk is full.",
                "Check the disk and free some space, then try again; the registry was not found damaged."};
    case CannotOpen:
        return {number, "The registry exists but cannot be opened: a permission is missing, or links loop.",
                "Give this user the permission the message names, or fix the link."};
    case TableNotFound:
        return {number, "The registry has no table of that name (\"Servers\").",
                "Name a registry made by vantrel-registry init, or restore it from a backup."};
    case TableExists:
        return {number, "A table was to be made that the file already holds.", "Make the registry in a new file."};
    case IndexNotFound:
        return {number, "The table \"Servers\" has no index \"User\".",
                "Run vantrel-registry repair FILE: it makes the index after a backup."};
    case UnsupportedIndex:
        return {number, "The index \"User\" is over an expression, or holds only some rows (WHERE).",
                "Replace the index by one over the plain field User, with sqlite3, after a backup."};
    case FieldNotFound:
        return {number, "The table \"Servers\" lacks a field Vantrel reads.",
                "Name a registry made by vantrel-registry init, or add the field after a backup."};
    case NoCurrentRecord:
        return {number, "An account was read or changed where none was current.",
                "Reload the list and open the account again."};
    case NotEditing:
        return {number, "A value was saved without the account being opened for editing.",
                "Open the account in the editor again, then save."};
    case ValueRefused:
        return {number, "A value breaks its field's rule (type, size, empty text) or a rule of the file.",
                "Correct the value the message names, then save again."};
    case RowRemoved:
        return {number, "Another program removed the account before the save.",
                "Reload the list; add the account again if it is still wanted."};
    case ObjectClosed:
        return {number, "The registry was used after it had been closed.", "Open the registry again."};
    case InvalidDefinition:
        return {number, "A table or field definition that cannot be stored.",
                "Make the registry with vantrel-registry init."};
    case InvalidArgument:
        return {number, "An option the database engine does not offer was asked for.",
                "Use the registry through Vantrel or vantrel-registry as they are."};
    case AccountNotFound:
        return {number, "No account carries the user name looked for; another program removed or renamed it.",
                "Reload the list and open the account by its present name."};
    case EngineFailure:
        return {number, "The database engine failed in another way; its own message follows.",
                "Act on the engine's message; if it persists, run vantrel-registry check FILE."};
    case AccountChanged:
        return {number, "Another program changed the account since the editor read it; nothing was saved.",
                "Look at the current values the editor now shows, then save again."};
    case UnexpectedChange:
        return {number, "A save did not land as given (a trigger or a field of the file); it was undone.",
                "Remove the trigger or correct the field's declared type, after a backup."};
    case WorkLimitExceeded:
        return {number, "An operation ran past its bound of work (a looping trigger or view); it was undone.",
                "Remove what loops from the registry with sqlite3, after a backup, then try again."};
    case UnsupportedTable:
        return {number, "\"Servers\" is a view, a virtual table or a table WITHOUT ROWID.",
                "Copy the accounts into a registry made by vantrel-registry init."};
    case HiddenRowIdentity:
        return {number, "A field of \"Servers\" named rowid, oid or _rowid_ hides the row identity.",
                "Rename that field, or copy the accounts into a registry made by vantrel-registry init."};
    case TextConverted:
        return {number, "A text field of \"Servers\" has a type that would store typed text as a number.",
                "Copy the accounts into a registry made by vantrel-registry init (export, then import)."};
    case MisleadingStatistics:
        return {number, "Statistics in the file (sqlite_stat1) declare the index \"User\" unordered.",
                "Run vantrel-registry repair FILE: it removes those statistics after a backup."};
    case CompanionFileUnusable:
        return {number, "The folder, journal, -wal or -shm file beside the registry cannot be used by this user.",
                "Let the operators write the registry's folder and the files the message names."};
    case JournalNotRolledBack:
        return {number, "A journal left by a crash cannot be rolled back by this open.",
                "Open the registry once as a user who may write it and its journal; never delete the journal."};
    case ValueTooLarge:
        return {number, "A value in the file is larger than Vantrel reads (1,000,000 bytes).",
                "Shorten or remove that value with sqlite3, after a backup."};
    case ConflictReplaces:
        return {number, "A field or constraint of \"Servers\" resolves conflicts by REPLACE or IGNORE.",
                "Copy the accounts into a registry made by vantrel-registry init (export, then import)."};
    case GeneratedField:
        return {number, "A field of \"Servers\" is computed by the file's own expression.",
                "Copy the accounts into a registry made by vantrel-registry init (export, then import)."};
    case FileCodeOnWrite:
        return {number, "A trigger, rule or index of the file would run its own code on a write.",
                "Remove each object the message names, as it says, after a backup."};
    case SchemaBeyondLimits:
        return {number, "An object of the file's schema is larger than Vantrel reads.",
                "Remove the object the message names with sqlite3, after a backup."};
    case OutOfMemory:
        return {number, "The database engine reached the memory Vantrel allows it; nothing was changed.",
                "Look for what in the file makes the work so large (vantrel-registry check FILE)."};
    case SavedNotConfirmed:
        return {number, "The save is in the file, but the disk failed as it was made permanent.",
                "Check the disk; the save may not survive a power cut."};
    }
    return {number, nullptr, nullptr};
}

std::vector<ErrorEntry> errorCatalogue() {
    std::vector<ErrorEntry> entries;
    for (int number = 1;; ++number) {
        const ErrorEntry entry = errorEntry(static_cast<ErrorNumber>(number));
        if (entry.meaning == nullptr)
            return entries;
        entries.push_back(entry);
    }
}

} // namespace dao
