// SPDX-License-Identifier: MIT
#include "cli/Import.h"

#include "cli/AccountFormat.h"
#include "cli/Check.h"
#include "cli/CsvReader.h"
#include "cli/FileError.h"
#include "cli/FirstUses.h"
#include "cli/PackedRecords.h"
#include "cli/Progress.h"
#include "cli/RegistryFile.h"
#include "store/Error.h"
#include "store/NameLook.h"
#include "store/RowWriter.h"
#include "store/mdlDatabase.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <strings.h>
#include <thread>

namespace cli {

namespace {

std::string columnList(const std::vector<dao::Field>& fields) {
    std::string list;
    for (std::size_t i = 0; i < fields.size(); ++i)
        list += (i == 0 ? "" : i + 1 == fields.size() ? " and " : ", ") + fields[i].Name();
    return list;
}

// Maps the header's columns to the table's fields. Returns false, with the problems added, when
// the header cannot be used.
bool readHeader(const CsvRecord& header, const std::vector<dao::Field>& fields, std::vector<std::size_t>& columns,
                ImportResult& result) {
    const std::size_t before = result.problemCount();
    // A first record that names none of the columns, and is not a header saved with other
    // separators, is data: its fields may be passwords, so none of them is quoted.
    const auto names = [&](const std::optional<std::string>& field) {
        return field && std::any_of(fields.begin(), fields.end(), [&](const dao::Field& known) {
                   return strcasecmp(known.Name().c_str(), field->c_str()) == 0;
               });
    };
    const auto separated = [](const std::optional<std::string>& field) {
        return field && field->find_first_of(";\t") != std::string::npos;
    };
    if (std::none_of(header.fields.begin(), header.fields.end(), names) &&
        std::none_of(header.fields.begin(), header.fields.end(), separated)) {
        result.addProblem({header.line, "the first record names none of the columns, so the text has no header; "
                                        "its values are not shown, as they may be passwords. The first record must "
                                        "name the columns: " +
                                            columnList(fields)});
        return false;
    }
    std::vector<bool> seen(fields.size(), false);
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        const auto& name = header.fields[i];
        if (!name || name->empty()) {
            result.addProblem({header.line, "column " + std::to_string(i + 1) + " of the header has no name"});
            continue;
        }
        std::size_t found = 0;
        while (found < fields.size() && strcasecmp(fields[found].Name().c_str(), name->c_str()) != 0)
            ++found;
        if (found == fields.size()) {
            result.addProblem(
                {header.line, "unknown column " + dao::inQuotes(*name) + "; the columns are " + columnList(fields)});
        } else if (seen[found]) {
            result.addProblem({header.line, "the column " + dao::inQuotes(fields[found].Name()) + " is named twice"});
        } else {
            seen[found] = true;
            columns.push_back(found);
        }
    }
    if (!seen[0] && result.problemCount() == before)
        result.addProblem(
            {header.line, "the header has no " + dao::inQuotes(fields[0].Name()) + " column; it is required"});
    return result.problemCount() == before;
}

// A record of nothing but empty fields: the ",,," rows a spreadsheet writes below its data.
bool isEmpty(const CsvRecord& record) {
    return std::all_of(record.fields.begin(), record.fields.end(),
                       [](const std::optional<std::string>& field) { return !field || field->empty(); });
}

// A header that is one column holding semicolons or tabs, or that starts as UTF-16 text, came
// from a spreadsheet saved in another format: say which, and how to save it right.
void addHeaderHints(const CsvRecord& header, std::vector<std::string>& hints) {
    const std::string saveRight = "save it as \"CSV UTF-8 (comma delimited)\", whose fields are separated by commas.";
    const std::string first = header.fields.empty() || !header.fields[0] ? std::string() : *header.fields[0];
    if (first.rfind("\xFF\xFE", 0) == 0 || first.rfind("\xFE\xFF", 0) == 0)
        hints.push_back("The file is UTF-16 text (a spreadsheet's \"Unicode Text\"): " + saveRight);
    else if (header.fields.size() == 1 && first.find(';') != std::string::npos)
        hints.push_back("The file looks semicolon-separated, as spreadsheets set to a language with decimal commas "
                        "write CSV: " +
                        saveRight);
    else if (header.fields.size() == 1 && first.find('\t') != std::string::npos)
        hints.push_back("The file looks tab-separated (a spreadsheet's \"Text (Tab delimited)\"): " + saveRight);
}

// No record of a CSV text may be longer: far beyond the eight fields at their longest, and as long
// as any value the store takes. It bounds the memory a record of countless fields takes.
constexpr std::size_t recordLimit = 1'000'000;

// No field of a CSV text may be longer than the longest text a field of `fields` may hold, or a
// column's name: as many characters, at most 4 bytes each in UTF-8.
std::size_t fieldLimit(const std::vector<dao::Field>& fields) {
    std::size_t characters = 0;
    for (const dao::Field& field : fields)
        characters = std::max({characters, static_cast<std::size_t>(std::max(field.Size(), 0)), field.Name().size()});
    return characters * 4;
}

// The page cache while an import writes, near the sqlite3 shell's 2 MiB. Pages written out as it
// fills are read back, when wanted again, from the system's file cache; every page more in this
// cache is memory the writing thread must make ready, and a page for the commit to write at its
// end. A larger one was no faster at any size, into an empty registry or a full one.
constexpr int importCacheKibibytes = 4 * 1024;

std::string alreadyInRegistry(const std::string& user) {
    return "the user name " + dao::inQuotes(user) + " is already in the registry";
}

// A record as far as it can be checked on its own, on its way to being compared with the records
// before it.
struct Checked {
    enum class Kind { Empty, Refused, Candidate };
    Kind kind = Kind::Empty;
    std::size_t line = 0;
    std::string reasons;             // Refused: why; Candidate: why its fields are refused, or empty
    std::optional<std::string> user; // Candidate: its user name
    std::string look;                // Candidate whose user name is compared: the name's skeleton, or the name
    std::string packed;              // Candidate: the record, packed for PackedRecords
};

// An accepted record on its way to the row writer: its values as the table takes them.
struct Row {
    std::size_t line = 0;
    std::string user;
    dao::RowWriter::Values values;
};

// Settles items on a thread of its own, in the order they are handed over, so that preparing
// one (reading and checking a record, making a row of it) overlaps settling the ones before it
// (comparing it with the records before, writing it). Items travel in batches, reused, and only
// a few batches wait at a time, so memory stays bounded however fast the text arrives. What
// settling throws stops the thread and is thrown again to the side that hands items over. The
// thread never outlives the object: whatever is thrown, the destructor stops it and waits for it.
template <class Item> class SettlingThread {
public:
    explicit SettlingThread(std::function<void(Item&)> settle)
        : m_settle(std::move(settle)), m_thread([this] { run(); }) {}
    SettlingThread(const SettlingThread&) = delete;
    SettlingThread& operator=(const SettlingThread&) = delete;
    ~SettlingThread() {
        {
            const std::lock_guard lock(m_mutex);
            m_closing = m_abandoned = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    // The item to fill next; it is settled after those filled before it. Throws what settling
    // threw, once it has stopped.
    Item& next() {
        if (m_filling.count == batchSize) {
            handOver(std::move(m_filling));
            m_filling = freeBatch();
        }
        if (m_filling.items.size() < batchSize)
            m_filling.items.resize(batchSize);
        return m_filling.items[m_filling.count++];
    }

    // Returns once every item filled is settled; throws what settling threw.
    void finish() {
        if (m_filling.count > 0)
            handOver(std::move(m_filling));
        {
            const std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
        m_thread.join();
        if (m_error)
            std::rethrow_exception(m_error);
    }

private:
    static constexpr std::size_t batchSize = 512;
    static constexpr std::size_t batchesWaiting = 8;

    struct Batch {
        std::vector<Item> items;
        std::size_t count = 0;
    };

    void handOver(Batch&& batch) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_waiting.size() < batchesWaiting || m_error; });
        if (m_error)
            std::rethrow_exception(m_error);
        m_waiting.push_back(std::move(batch));
        lock.unlock();
        m_changed.notify_all();
    }

    Batch freeBatch() {
        const std::lock_guard lock(m_mutex);
        if (m_free.empty())
            return {};
        Batch batch = std::move(m_free.back());
        m_free.pop_back();
        batch.count = 0;
        return batch;
    }

    void run() {
        try {
            for (;;) {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return !m_waiting.empty() || m_closing; });
                if (m_abandoned || m_waiting.empty())
                    return;
                Batch batch = std::move(m_waiting.front());
                m_waiting.pop_front();
                lock.unlock();
                m_changed.notify_all();
                for (std::size_t i = 0; i < batch.count; ++i)
                    m_settle(batch.items[i]);
                lock.lock();
                m_free.push_back(std::move(batch));
            }
        } catch (...) {
            {
                const std::lock_guard lock(m_mutex);
                m_error = std::current_exception();
            }
            m_changed.notify_all();
        }
    }

    const std::function<void(Item&)> m_settle;
    Batch m_filling; // on the reading thread
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_waiting;
    std::vector<Batch> m_free;
    bool m_closing = false;
    bool m_abandoned = false;
    std::exception_ptr m_error;
    std::thread m_thread; // last: started once all the above exist
};

// One import of a CSV text into a registry. The whole text is read and checked before the write
// lock is taken: however slowly it arrives, other programs go on saving meanwhile, and a text
// with any problem never takes the lock at all. The accepted records wait, packed, for the
// writing, which re-checks the table under the lock and adds them in one transaction.
class Import {
public:
    // Opens the registry and refuses a table that cannot be written at once, before any text is
    // read; the write guard asks again under the write lock, where no other program can add a
    // trigger in between.
    Import(const std::string& path, const ImportOptions& options)
        : m_options(options), m_database(openRegistry(path)), m_definition(guardedDefinition(*m_database)) {}

    ImportResult run(std::istream& csv, Progress& progress) {
        read(csv, progress);
        lookForLookAlikes();
        m_firstUses.clear();
        if (!m_result.problems.empty())
            lookUpAccepted(progress);
        else
            write(progress);
        m_database->Close();
        return std::move(m_result);
    }

private:
    struct UnusableHeader {};

    // The program's own definition carries every rule of every field, so records are checked
    // here, all of them, and each refusal is reported with its reasons.
    static dao::TableDef guardedDefinition(dao::Database& database) {
        mdlDatabase::ValidateServersTable(database);
        mdlDatabase::ValidateServersForWriting(database);
        database.SetWriteGuard(mdlDatabase::ValidateServersForWriting);
        return mdlDatabase::ServersTableDef(database);
    }

    const std::vector<dao::Field>& fields() const { return m_definition.Fields(); }

    // Reads the whole text, refusing or keeping each record. Takes no lock for writing.
    void read(std::istream& csv, Progress& progress) {
        bool atHeader = true;
        // Room for the names of a file of known size (the total of progress's reading stage) is
        // set aside at once, a name for every 64 bytes, as few records are shorter.
        if (namesCompared())
            m_firstUses.reserve(std::min<std::size_t>(progress.total() / 64, std::size_t{1} << 24));
        try {
            // Each record is checked on its own here and compared with the records before it on
            // the settling thread; both are done with the text's records before anything follows.
            SettlingThread<Checked> settling([this](Checked& item) { settle(item); });
            try {
                CsvReader reader(csv, {fieldLimit(fields()), recordLimit});
                reader.read([&](const CsvRecord& record) {
                    if (atHeader) {
                        atHeader = false;
                        takeHeader(record);
                        return;
                    }
                    progress.setPosition(reader.bytesRead());
                    progress.advance();
                    check(record, settling.next());
                });
            } catch (const CsvSyntaxError&) {
                settling.finish(); // the records before it are refused or kept as ever
                throw;
            }
            settling.finish();
            if (atHeader)
                m_result.addProblem({1, "the CSV text is empty; it needs at least a header naming the columns"});
        } catch (const UnusableHeader&) {
        } catch (const CsvSyntaxError& error) {
            m_result.addProblem({error.line(), error.what()});
        } catch (const dao::Error&) {
            throw; // a lookup's failure keeps its number
        } catch (const std::exception& error) {
            throw FileError(std::string("Reading the CSV text failed: ") + error.what() + ".");
        }
        m_registryUsers.reset();
        if (m_notUtf8)
            m_result.hints.push_back(
                "The file is probably not UTF-8 but an older 8-bit text such as Latin-1 or Windows-1252, as a "
                "spreadsheet's plain \"CSV (comma delimited)\" writes it: save it as \"CSV UTF-8 (comma delimited)\".");
    }

    // Throws UnusableHeader, with the problems added, when the header cannot be used.
    void takeHeader(const CsvRecord& header) {
        if (!readHeader(header, fields(), m_columns, m_result)) {
            addHeaderHints(header, m_result.hints);
            throw UnusableHeader{};
        }
        m_userColumn = static_cast<std::size_t>(std::find(m_columns.begin(), m_columns.end(), 0) - m_columns.begin());
    }

    // What can be told of `record` on its own, into `item`: whether it is empty, refused for its
    // count of fields, or a candidate with the reasons its fields give and the look of its user
    // name. Runs on the reading thread.
    void check(const CsvRecord& record, Checked& item) {
        item.line = record.line;
        item.reasons.clear();
        if (isEmpty(record)) {
            item.kind = Checked::Kind::Empty;
            return;
        }
        if (record.fields.size() != m_columns.size()) {
            item.kind = Checked::Kind::Refused;
            item.reasons = "the record has " + std::to_string(record.fields.size()) + " fields; the header names " +
                           std::to_string(m_columns.size());
            return;
        }
        item.kind = Checked::Kind::Candidate;
        item.user = record.fields[m_userColumn];
        std::string& reasons = item.reasons;
        for (std::size_t i = 0; i < m_columns.size(); ++i) {
            const std::string reason = AccountFormat::refusal(fields()[m_columns[i]], record.fields[i]);
            if (!reason.empty()) {
                reasons += (reasons.empty() ? "" : "; ") + reason;
                m_notUtf8 = m_notUtf8 || (record.fields[i] && !AccountFormat::characterCount(*record.fields[i]));
            }
        }
        const auto& user = record.fields[m_userColumn];
        if (!user) {
            reasons += std::string(reasons.empty() ? "" : "; ") + "the record has no user name";
        } else if (namesCompared()) {
            const bool lookAlikes = !m_options.allowLookAlikeUsers;
            if (const std::string space = lookAlikes ? dao::NameLook::edgeSpace(*user) : std::string(); !space.empty())
                reasons +=
                    std::string(reasons.empty() ? "" : "; ") + "the user name " + dao::inQuotes(*user) + " " + space;
            item.look = lookAlikes ? dao::NameLook::skeleton(*user) : *user;
        }
        if (reasons.empty())
            PackedRecords::pack(record, item.packed);
    }

    bool namesCompared() const { return !m_options.allowDuplicateUsers || !m_options.allowLookAlikeUsers; }

    // Keeps the record `item` holds for writing, or adds the problem that refuses it with all its
    // reasons, once it is compared with the records before it. Runs on the settling thread, the
    // records in the order of the text.
    void settle(Checked& item) {
        if (item.kind == Checked::Kind::Empty) {
            ++m_result.emptyRecords;
            return;
        }
        if (item.kind == Checked::Kind::Refused) {
            m_result.addProblem({item.line, std::move(item.reasons)});
            return;
        }
        std::string& reasons = item.reasons;
        const auto& user = item.user;
        FirstUses::Index newName = FirstUses::none; // the first of its look, when the record is the first
        if (user && namesCompared()) {
            // The editor only ever opens the first account of a name, and an operator cannot tell
            // names that look alike apart.
            const auto [first, added] = m_firstUses.add(item.look, item.line, *user);
            if (added) {
                newName = first;
            } else if (const std::string_view firstName = m_firstUses.name(first); firstName != *user) {
                reasons += std::string(reasons.empty() ? "" : "; ") + "the user name " + dao::inQuotes(*user) +
                           " looks like " + dao::inQuotes(std::string(firstName)) + " on line " +
                           std::to_string(m_firstUses.line(first));
            } else if (!m_options.allowDuplicateUsers) {
                reasons += std::string(reasons.empty() ? "" : "; ") + "the user name " + dao::inQuotes(*user) +
                           " is already on line " + std::to_string(m_firstUses.line(first));
            }
            if (added && !m_options.allowDuplicateUsers && !reasons.empty() &&
                m_result.problems.size() < ImportResult::keptProblems) {
                // A refusal that is listed names every reason. The records accepted are looked
                // up once the whole text is read.
                if (!m_registryUsers)
                    m_registryUsers.emplace(*m_database, tableName);
                if (m_registryUsers->has(*user))
                    reasons += "; " + alreadyInRegistry(*user);
            }
        }
        if (!reasons.empty()) {
            m_result.addProblem({item.line, std::move(reasons)});
        } else {
            m_accepted.append(item.packed);
            if (newName != FirstUses::none)
                m_firstUses.setAccepted(newName, true);
        }
    }

    // Refuses each accepted record whose user name looks like, without being, one the registry
    // has, in one read of the registry's names.
    void lookForLookAlikes() {
        if (m_options.allowLookAlikeUsers || m_firstUses.empty())
            return;
        m_database->guarded([&] {
            dao::Statement names = m_database->Prepare("SELECT \"User\" FROM " + dao::quoteIdentifier(tableName) +
                                                       " WHERE typeof(\"User\") = 'text'");
            while (names.step()) {
                const std::string name = names.text(0);
                const FirstUses::Index found = m_firstUses.find(dao::NameLook::skeleton(name));
                if (found == FirstUses::none || !m_firstUses.accepted(found) || m_firstUses.name(found) == name)
                    continue;
                m_firstUses.setAccepted(found, false); // refused once, naming one of the registry's names
                m_result.addProblem({m_firstUses.line(found),
                                     "the user name " + dao::inQuotes(std::string(m_firstUses.name(found))) +
                                         " looks like " + dao::inQuotes(name) + ", which the registry already has"});
            }
        });
    }

    // Nothing is written, so no lock is taken; the accepted records are still looked up, each a
    // read of its own, so that every refusal is reported at once.
    void lookUpAccepted(Progress& progress) {
        if (!m_options.allowDuplicateUsers && m_accepted.size() > 0) {
            progress.nextStage("Checking", m_accepted.size(), "accounts");
            RegistryUsers users(*m_database, tableName);
            PackedRecords::Reader stored(m_accepted);
            CsvRecord record;
            while (stored.next(record)) {
                progress.advance();
                if (users.has(*record.fields[m_userColumn]))
                    m_result.addProblem({record.line, alreadyInRegistry(*record.fields[m_userColumn])});
            }
        }
        progress.finish();
    }

    // Adds the accepted records in one transaction, which lands only when none was refused. A
    // commit that took effect but was not confirmed by the disk is reported in the result.
    void write(Progress& progress) {
        m_database->SetCacheSize(importCacheKibibytes);
        m_database->BeginTrans();
        // The table may have changed while the text was read; from here on, no other program can
        // change it until the import ends. The write guard refuses a table with triggers, so the
        // writer may read each row back through its own insert.
        mdlDatabase::ValidateServersTable(*m_database);
        const std::string table = m_database->TableDefs(tableName).Name();
        std::vector<std::string> columns;
        for (const std::size_t field : m_columns)
            columns.push_back(fields()[field].Name());
        dao::RowWriter writer(*m_database, table, columns);
        std::optional<RegistryUsers> users;
        if (!m_options.allowDuplicateUsers)
            users.emplace(*m_database, table);
        progress.nextStage("Writing", m_accepted.size(), "accounts");
        // Should the commit fail once it may have taken effect, the last row written tells.
        auto lastRow = std::make_shared<std::int64_t>(0);
        auto landed = [database = m_database.get(), table, lastRow] {
            return *lastRow != 0 && dao::RowWriter::rowHolds(*database, table, *lastRow, {});
        };
        m_database->write(
            [&] {
                // The rows are made here and written, each after the one before, on the settling
                // thread, which alone uses the registry until they are all written: gathered, so
                // that one statement inserts several. Values are swapped, never freed, on their way
                // from row to statement and back: each row's text takes the room of a row before it.
                std::vector<dao::RowWriter::Values> gathered(dao::RowWriter::rowsPerInsert);
                std::vector<std::size_t> lines(dao::RowWriter::rowsPerInsert);
                std::size_t count = 0;
                const auto writeGathered = [&] {
                    std::size_t refused = 0;
                    const std::int64_t last =
                        writer.addRows(std::span(gathered.data(), count), [&](std::size_t k, const dao::Error& error) {
                            // A rule of this file's table that the program's definition lacks.
                            m_result.addProblem({lines[k], error.description()});
                            ++refused;
                        });
                    if (last != 0)
                        *lastRow = last;
                    m_result.accounts += count - refused;
                    count = 0;
                };
                SettlingThread<Row> writing([&](Row& row) {
                    if (users && users->has(row.user)) {
                        m_result.addProblem({row.line, alreadyInRegistry(row.user)});
                        return;
                    }
                    gathered[count].swap(row.values);
                    lines[count++] = row.line;
                    if (count == gathered.size())
                        writeGathered();
                });
                PackedRecords::Reader stored(m_accepted);
                CsvRecord record;
                while (stored.next(record)) {
                    progress.advance();
                    Row& row = writing.next();
                    row.line = record.line;
                    row.user = *record.fields[m_userColumn];
                    // Every value was accepted when read; text stands as it is, so it is not checked again.
                    row.values.resize(m_columns.size());
                    for (std::size_t i = 0; i < m_columns.size(); ++i) {
                        const dao::Field& field = fields()[m_columns[i]];
                        auto& value = row.values[i];
                        if (!record.fields[i] || field.Type() != dao::FieldType::Text)
                            AccountFormat::parse(field, record.fields[i], value.emplace());
                        else if (std::string* text = value ? value->text() : nullptr)
                            *text = *record.fields[i];
                        else
                            value.emplace(*record.fields[i]);
                    }
                }
                writing.finish();
                writeGathered(); // here, as the settling thread has ended
                writer.confirmAdded();
            },
            landed);
        writer.close();
        users.reset();
        progress.finish();

        if (m_result.problems.empty()) {
            try {
                m_database->CommitTrans();
            } catch (const dao::Error& error) {
                if (error.code() != dao::ErrorNumber::SavedNotConfirmed)
                    throw;
                m_result.unconfirmed = error.description() + " (error " + std::to_string(error.number()) + ")";
            }
        } else {
            m_result.accounts = 0;
            m_database->Rollback();
        }
    }

    const ImportOptions m_options;
    std::unique_ptr<dao::Database> m_database;
    const dao::TableDef m_definition;
    ImportResult m_result;
    std::vector<std::size_t> m_columns; // for each CSV column, its field
    std::size_t m_userColumn = 0;
    bool m_notUtf8 = false;
    // The first record of each user name, or of each look of one (its skeleton) unless look-alikes
    // are allowed, and whether it was accepted.
    FirstUses m_firstUses;
    PackedRecords m_accepted;
    std::optional<RegistryUsers> m_registryUsers; // while reading, for the reasons of refused records
};

} // namespace

void ImportResult::addProblem(ImportProblem problem) {
    const auto at = std::upper_bound(problems.begin(), problems.end(), problem.line,
                                     [](std::size_t line, const ImportProblem& kept) { return line < kept.line; });
    const auto index = at - problems.begin();
    if (problems.size() == keptProblems) {
        ++moreProblems;
        if (at == problems.end())
            return;
        problems.pop_back();
    }
    problems.insert(problems.begin() + index, std::move(problem));
}

ImportResult importCsv(const std::string& path, std::istream& csv, Progress& progress, const ImportOptions& options) {
    return Import(path, options).run(csv, progress);
}

} // namespace cli
