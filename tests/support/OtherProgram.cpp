// SPDX-License-Identifier: MIT
#include "tests/support/OtherProgram.h"

#include "store/DBEngine.h"
#include "store/mdlDatabase.h"
#include "tests/support/TempFolder.h"

#include <SQLiteCpp/Statement.h>

#include <filesystem>

namespace testing_support {

OtherProgram::OtherProgram(const std::string& path)
    : m_connection(path, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE, 5000) {}

std::string OtherProgram::text(const std::string& sql) {
    SQLite::Statement query(m_connection, sql);
    if (!query.executeStep() || query.getColumn(0).isNull())
        return {};
    return query.getColumn(0).getString();
}

long long OtherProgram::number(const std::string& sql) {
    SQLite::Statement query(m_connection, sql);
    query.executeStep();
    return query.getColumn(0).getInt64();
}

void OtherProgram::addAccount(const char* user, const char* password, const char* name, const char* description,
                              bool official) {
    SQLite::Statement insert(m_connection, "INSERT INTO Servers (User, Password, Name, Description, Official) "
                                           "VALUES (?1, ?2, ?3, ?4, ?5)");
    const char* texts[] = {user, password, name, description};
    for (int i = 0; i < 4; ++i) {
        if (texts[i])
            insert.bind(i + 1, texts[i]);
        else
            insert.bind(i + 1);
    }
    insert.bind(5, official ? 1 : 0);
    insert.exec();
}

std::string makeRegistry(const std::string& folder) {
    const std::string path = folder + "/zarn.dat";
    writeBytes(path, "");
    auto database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path);
    dao::TableDef servers = mdlDatabase::ServersTableDef(*database);
    database->AppendTableDef(servers);
    return path;
}

std::string makeFilledRegistry(const std::string& folder, int accounts) {
    const std::string path = makeRegistry(folder);
    OtherProgram other(path);
    other.exec("BEGIN");
    for (int i = 0; i < accounts; ++i)
        other.exec("INSERT INTO Servers (User, Password, Name, Description, Official) VALUES ('user" +
                   std::to_string(1000 + i) + "', 'pw', 'Name', '" + std::string(200, 'd') + "', 0)");
    other.exec("COMMIT");
    return path;
}

std::string copyWithHotJournal(const std::string& folder, int accounts) {
    TempFolder source;
    const std::string path = makeFilledRegistry(source.path(), accounts);
    OtherProgram other(path);
    // A cache of a few pages makes SQLite write changed pages into the file before the commit,
    // once their old content is safe in the journal.
    other.exec("PRAGMA cache_size = 2");
    other.exec("BEGIN");
    other.exec("UPDATE Servers SET Name = 'half-saved'");
    const std::string copy = folder + "/zarn.dat";
    std::filesystem::copy_file(path, copy);
    std::filesystem::copy_file(path + "-journal", copy + "-journal");
    other.exec("ROLLBACK");
    return copy;
}

} // namespace testing_support
