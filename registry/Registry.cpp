// SPDX-License-Identifier: MIT
#include "registry/Registry.h"

#include "registry/AccountFormat.h"
#include "registry/CsvReader.h"
#include "registry/CsvWriter.h"
#include "registry/DemoGenerator.h"
#include "registry/FileError.h"
#include "registry/Progress.h"
#include "store/DBEngine.h"
#include "store/Error.h"
#include "store/mdlDatabase.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <strings.h>
#include <unistd.h>

namespace registry {

namespace {

const std::string tableName = "Servers";

// Enough memory for the "User" index of a few million accounts, so bulk inserts in any order of
// user names do not keep writing index pages out and reading them back.
constexpr int bulkCacheKibibytes = 256 * 1024;

std::unique_ptr<dao::Database> openDatabase(const std::string& path, bool readOnly = false) {
    return dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path, 0, readOnly);
}

// For the commands that only read. A journal left by a save that was cut off must be rolled back
// before the file can be read, which an open that may only read cannot do: then the file is
// opened as the program opens it, and SQLite rolls the journal back on the first read, as any
// program using the file would. Where that is not allowed either, the error says so.
std::unique_ptr<dao::Database> openForReading(const std::string& path) {
    try {
        return openDatabase(path, true);
    } catch (const dao::Error& error) {
        if (error.code() != dao::ErrorNumber::JournalNotRolledBack)
            throw;
    }
    return openDatabase(path);
}

// Makes `path` as a new, empty file; O_EXCL makes "it must not exist yet" hold even against
// another program making the same file at the same moment, and refuses a dangling link too.
void createEmptyFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        if (errno == EEXIST)
            throw FileError(dao::inQuotes(path) + " already exists and was left as it is; give a new file name.");
        throw FileError(dao::inQuotes(path) + " cannot be made: " + std::strerror(errno) + ".");
    }
    ::close(descriptor);
}

// Removes a file this run made, and SQLite's journal beside it, after a failure.
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

std::string columnList(const std::vector<dao::Field>& fields) {
    std::string list;
    for (std::size_t i = 0; i < fields.size(); ++i)
        list += (i == 0 ? "" : i + 1 == fields.size() ? " and " : ", ") + fields[i].Name();
    return list;
}

// Maps the header's columns to the table's fields. Returns false, with the problems added, when
// the header cannot be used.
bool readHeader(const CsvRecord& header, const std::vector<dao::Field>& fields, std::vector<std::size_t>& columns,
                std::vector<ImportProblem>& problems) {
    const std::size_t before = problems.size();
    std::vector<bool> seen(fields.size(), false);
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        const auto& name = header.fields[i];
        if (!name || name->empty()) {
            problems.push_back({header.line, "column " + std::to_string(i + 1) + " of the header has no name"});
            continue;
        }
        std::size_t found = 0;
        while (found < fields.size() && strcasecmp(fields[found].Name().c_str(), name->c_str()) != 0)
            ++found;
        if (found == fields.size()) {
            problems.push_back(
                {header.line, "unknown column " + dao::inQuotes(*name) + "; the columns are " + columnList(fields)});
        } else if (seen[found]) {
            problems.push_back({header.line, "the column " + dao::inQuotes(fields[found].Name()) + " is named twice"});
        } else {
            seen[found] = true;
            columns.push_back(found);
        }
    }
    if (!seen[0] && problems.size() == before)
        problems.push_back(
            {header.line, "the header has no " + dao::inQuotes(fields[0].Name()) + " column; it is required"});
    return problems.size() == before;
}

} // namespace

void Registry::create(const std::string& path) {
    createEmptyFile(path);
    try {
        auto database = openDatabase(path);
        dao::TableDef servers = mdlDatabase::ServersTableDef(*database);
        database->AppendTableDef(servers);
        database->Close();
    } catch (...) {
        removeNewFile(path);
        throw;
    }
}

ImportResult Registry::importCsv(const std::string& path, std::istream& csv, Progress& progress) {
    auto database = openDatabase(path);
    mdlDatabase::ValidateServersTable(*database);
    dao::TableDef servers = database->TableDefs(tableName);
    // The program's own definition carries every rule of every field, so records are checked
    // here, all of them, and each refusal is reported with its reasons.
    const dao::TableDef definition = mdlDatabase::ServersTableDef(*database);
    const std::vector<dao::Field>& fields = definition.Fields();
    auto recordset = servers.OpenRecordset();
    database->SetCacheSize(bulkCacheKibibytes);

    ImportResult result;
    std::vector<std::size_t> columns; // for each CSV column, its field
    std::vector<dao::Recordset::FieldRef> targets;
    std::vector<dao::Variant> values;
    bool atHeader = true;
    struct UnusableHeader {};

    database->BeginTrans();
    try {
        CsvReader(csv).read([&](const CsvRecord& record) {
            if (atHeader) {
                atHeader = false;
                if (!readHeader(record, fields, columns, result.problems))
                    throw UnusableHeader{};
                for (const std::size_t field : columns)
                    targets.push_back(recordset->Fields(fields[field].Name()));
                values.resize(columns.size());
                return;
            }
            progress.advance();
            if (record.fields.size() != columns.size()) {
                result.problems.push_back({record.line, "the record has " + std::to_string(record.fields.size()) +
                                                            " fields; the header names " +
                                                            std::to_string(columns.size())});
                return;
            }
            std::string reasons;
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const std::string reason = AccountFormat::parse(fields[columns[i]], record.fields[i], values[i]);
                if (!reason.empty())
                    reasons += (reasons.empty() ? "" : "; ") + reason;
            }
            if (!reasons.empty()) {
                result.problems.push_back({record.line, reasons});
                return;
            }
            try {
                recordset->AddNew();
                for (std::size_t i = 0; i < columns.size(); ++i)
                    targets[i].SetValue(std::move(values[i]));
                recordset->Update();
                ++result.accounts;
            } catch (const dao::Error& error) {
                // A rule of this file's table that the program's definition lacks.
                if (error.code() != dao::ErrorNumber::ValueRefused)
                    throw;
                recordset->CancelUpdate();
                result.problems.push_back({record.line, error.description()});
            }
        });
        if (atHeader)
            result.problems.push_back({1, "the CSV text is empty; it needs at least a header naming the columns"});
    } catch (const UnusableHeader&) {
    } catch (const CsvSyntaxError& error) {
        result.problems.push_back({error.line(), error.what()});
    } catch (const dao::Error&) {
        database->Close(); // rolls back
        throw;
    } catch (const std::exception& error) {
        database->Close();
        throw FileError(std::string("Reading the CSV text failed: ") + error.what() + ".");
    }
    progress.finish();

    if (result.problems.empty()) {
        recordset->Close();
        database->CommitTrans();
    } else {
        result.accounts = 0;
        recordset->Close();
        database->Rollback();
    }
    database->Close();
    return result;
}

std::size_t Registry::exportCsv(const std::string& path, std::ostream& output) {
    auto database = openForReading(path);
    mdlDatabase::ValidateServersTable(*database);
    const dao::TableDef definition = mdlDatabase::ServersTableDef(*database);
    auto recordset = database->TableDefs(tableName).OpenRecordset();
    recordset->Index("User");
    auto fields = fieldsOf(*recordset, definition);

    CsvWriter writer(output);
    for (const dao::Field& field : definition.Fields())
        writer.field(field.Name());
    writer.endRecord();
    std::size_t count = 0;
    for (; !recordset->Eof(); recordset->MoveNext()) {
        for (const auto& field : fields)
            AccountFormat::write(writer, field.Value());
        writer.endRecord();
        ++count;
        if (!output)
            break;
    }
    database->Close();
    output.flush();
    if (!output)
        throw FileError("Writing the CSV text failed.");
    return count;
}

void Registry::listUsers(const std::string& path, std::ostream& output) {
    auto database = openForReading(path);
    mdlDatabase::ValidateServersTable(*database);
    auto recordset = database->TableDefs(tableName).OpenRecordset();
    recordset->Index("User");
    const auto user = recordset->Fields("User");
    for (; !recordset->Eof() && output; recordset->MoveNext())
        output << user.Value().toText() << '\n';
    database->Close();
    output.flush();
    if (!output)
        throw FileError("Writing the list of user names failed.");
}

void Registry::createDemo(const std::string& path, std::size_t accounts, std::uint64_t seed, Progress& progress) {
    createEmptyFile(path);
    try {
        auto database = openDatabase(path);
        database->SetCacheSize(bulkCacheKibibytes);
        // The table and its accounts land together: the file never holds half a demo.
        database->BeginTrans();
        dao::TableDef definition = mdlDatabase::ServersTableDef(*database);
        database->AppendTableDef(definition);
        auto recordset = database->TableDefs(tableName).OpenRecordset();
        auto fields = fieldsOf(*recordset, definition);

        DemoGenerator generator(seed);
        DemoGenerator::Account account;
        for (std::size_t n = 0; n < accounts; ++n) {
            generator.next(account);
            recordset->AddNew();
            for (std::size_t i = 0; i < fields.size(); ++i)
                fields[i].SetValue(std::move(account[i]));
            recordset->Update();
            progress.advance();
        }
        progress.finish();
        recordset->Close();
        database->CommitTrans();
        database->Close();
    } catch (...) {
        removeNewFile(path);
        throw;
    }
}

} // namespace registry
