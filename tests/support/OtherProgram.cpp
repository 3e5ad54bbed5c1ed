// SPDX-License-Identifier: MIT
#include "tests/support/OtherProgram.h"

#include "store/DBEngine.h"
#include "store/Statement.h"
#include "store/mdlDatabase.h"
#include "tests/support/TempFolder.h"

#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>
#include <sqlite3.h>

#include <algorithm>

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

void OtherProgram::addRows(const std::string& fields, const std::vector<std::vector<dao::Variant>>& rows) {
    std::string places;
    for (std::size_t i = 0, n = static_cast<std::size_t>(std::count(fields.begin(), fields.end(), ',')) + 1; i < n; ++i)
        places += (i ? ", ?" : "?") + std::to_string(i + 1);
    SQLite::Transaction transaction(m_connection);
    dao::Statement insert(m_connection.getHandle(), "INSERT INTO Servers (" + fields + ") VALUES (" + places + ")");
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            insert.bind(static_cast<int>(i + 1), row[i]);
        insert.run();
    }
    transaction.commit();
}

namespace {

// `fields` ("Password, Name") as one SQL expression of their quoted values joined by '|'.
std::string quotedFields(const std::string& fields) {
    std::string sql;
    std::size_t start = 0;
    while (start <= fields.size()) {
        std::size_t end = fields.find(',', start);
        if (end == std::string::npos)
            end = fields.size();
        std::string field = fields.substr(start, end - start);
        field.erase(0, field.find_first_not_of(' '));
        sql += (sql.empty() ? "" : " || '|' || ") + std::string("quote(") + field + ")";
        start = end + 1;
    }
    return sql;
}

} // namespace

std::string OtherProgram::quotedRow(const std::string& user, const std::string& fields) {
    SQLite::Statement query(m_connection,
                            "SELECT " + quotedFields(fields) + " FROM Servers WHERE User = ?1 ORDER BY rowid LIMIT 1");
    query.bind(1, user);
    return query.executeStep() ? query.getColumn(0).getString() : std::string();
}

std::vector<std::string> OtherProgram::quotedRows(const std::string& fields, const std::string& condition) {
    SQLite::Statement query(m_connection, "SELECT " + quotedFields(fields) + " FROM Servers " + condition);
    std::vector<std::string> rows;
    while (query.executeStep())
        rows.push_back(query.getColumn(0).getString());
    return rows;
}

std::string sqlLiteral(const dao::Variant& value) {
    if (value.isNull())
        return "NULL";
    if (value.isInteger())
        return std::to_string(value.toInteger());
    if (value.isBlob()) {
        static const char digits[] = "0123456789ABCDEF";
        std::string hex = "X'";
        for (const unsigned char byte : value.toText())
            hex += std::string{digits[byte >> 4], digits[byte & 15]};
        return hex + "'";
    }
    std::string literal = "'";
    for (const char c : value.toText())
        literal += c == '\'' ? std::string("''") : std::string(1, c);
    return literal + "'";
}

std::string ForeignTable::sql() const {
    std::string script = "CREATE TABLE Servers (" + columns + ")" + options + ";";
    if (!index.empty())
        script += " CREATE INDEX User ON Servers " + index + ";";
    for (const auto& row : rows) {
        std::string values;
        for (const dao::Variant& value : row)
            values += (values.empty() ? "" : ", ") + sqlLiteral(value);
        script += " INSERT INTO Servers (" + fields + ") VALUES (" + values + ");";
    }
    return script;
}

std::string makeForeignRegistry(const std::string& folder, const ForeignTable& table) {
    const std::string path = folder + "/zarn.dat";
    writeBytes(path, "");
    OtherProgram(path).exec(table.sql());
    return path;
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
    std::vector<std::vector<dao::Variant>> rows;
    for (int i = 0; i < accounts; ++i)
        rows.push_back({"user" + std::to_string(1000 + i), "pw", "Name", std::string(200, 'd'), 0});
    OtherProgram(path).addRows("User, Password, Name, Description, Official", rows);
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
