// SPDX-License-Identifier: MIT
#include "cli/Check.h"

#include "cli/Progress.h"
#include "cli/StoreProgress.h"
#include "store/DBEngine.h"
#include "store/Error.h"
#include "store/FieldRule.h"
#include "store/FileSystem.h"
#include "store/NameLook.h"
#include "store/ServersFields.h"
#include "store/mdlDatabase.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unordered_map>

namespace cli {

namespace {

constexpr std::size_t maxListed = 100;

// The first bytes of a rollback journal that still holds a write's original pages. A journal
// that was committed is deleted, emptied or has these bytes zeroed.
constexpr char journalMagic[] = "\xD9\xD5\x05\xF9\x20\xA1\x63\xD7";

bool startsWithJournalMagic(const std::string& path) {
    std::ifstream journal(path, std::ios::binary);
    char head[8] = {};
    return journal.read(head, sizeof head) && std::memcmp(head, journalMagic, sizeof head) == 0;
}

bool isNonEmptyFile(const std::string& path) {
    std::error_code failure;
    return std::filesystem::is_regular_file(path, failure) && std::filesystem::file_size(path, failure) > 0 && !failure;
}

// The condition that picks the values of `field` that break its rule: the negation of its CHECK
// condition, and for text, what no SQL condition tells (see FieldRule::TextRefusal).
std::string breaksRule(const dao::Field& field) {
    const std::string condition = field.Rule().Condition(dao::quoteIdentifier(field.Name()));
    if (condition.empty())
        return "0";
    const std::string column = dao::quoteIdentifier(field.Name());
    return column + " IS NOT NULL AND (NOT (" + condition + ")" +
           (field.Type() == dao::FieldType::Text ? " OR NOT vantrel_valid_text(" + column + "))" : ")");
}

// How a value that breaks the rule of `field` is shown: its type and quoted value (only its type
// and size when it is secret), or NULL for a text value, whose reason tells what is wrong with it.
std::string shownValue(const dao::Field& field) {
    const std::string column = dao::quoteIdentifier(field.Name());
    if (field.Type() != dao::FieldType::Text)
        return "quote(" + column + ")";
    return "CASE WHEN typeof(" + column + ") <> 'text' THEN typeof(" + column + ") || " +
           (field.Secret() ? "' of ' || length(CAST(" + column + " AS BLOB)) || ' bytes'"
                           : "' ' || quote(" + column + ")") +
           " END";
}

// Why the value of `field` in column `at` (and, shown, in column `at + 1`) breaks its rule; the
// query picked it as one that does.
std::string reasonOf(const dao::Field& field, const dao::Statement& rows, int at) {
    const dao::FieldRule rule = field.Rule();
    const std::string name = "\"" + field.Name() + "\" ";
    if (field.Type() != dao::FieldType::Text)
        return name + "is " + rows.text(at + 1) + ", not " + rule.Wording();
    const dao::Variant value = rows.value(at);
    if (!value.isText())
        return name + "holds " + rows.text(at + 1) + ", not text";
    const std::string_view text = *value.text();
    if (!dao::FieldRule::TextRefusal(text).empty())
        return name + "is not valid UTF-8 text or holds a NUL character";
    const std::string reason = rule.RefusalOfText(text);
    return name + (reason.empty() ? "breaks its rule: it must be " + rule.Wording() : reason);
}

class Checker {
public:
    Checker(const std::string& path, CheckReport& report, Progress& progress)
        : m_path(path), m_report(report), m_progress(progress) {}

    // Adds a finding, listing at most maxListed of each kind.
    void find(std::size_t& kind, const std::string& text, std::size_t count = 1) {
        if (kind < maxListed)
            m_report.findings.push_back(text);
        else if (kind == maxListed)
            m_report.findings.push_back("... and more of this kind, counted in the summary");
        kind += count;
    }

    // Runs `step`; a failure of the file while it runs (damage, most often) is a finding too.
    // Returns false when it failed.
    bool guarded(dao::Database& database, const std::function<void()>& step) {
        try {
            database.guarded(step);
            return true;
        } catch (const dao::Error& error) {
            find(m_report.damage, error.description() + " (error " + std::to_string(error.number()) + ")");
            return false;
        }
    }

    void checkJournals(bool& hotJournal) {
        if (isNonEmptyFile(m_path + "-journal") && startsWithJournalMagic(m_path + "-journal"))
            hotJournal = true;
        if (isNonEmptyFile(m_path + "-wal"))
            find(m_report.journals,
                 dao::inQuotes(m_path + "-wal") +
                     " holds writes that are not in the file yet: a program using the file in write-ahead "
                     "mode ended without closing it, or still has it open. Open the file once with the "
                     "program that wrote it, or with the sqlite3 shell, to move them in.");
    }

    void checkFileSystem() {
        const std::string finding = networkFileSystemFinding(m_path);
        if (!finding.empty())
            find(m_report.networkFileSystem, finding);
    }

    void checkIntegrity(dao::Database& database) {
        guarded(database, [&] {
            for (const std::string& problem : database.IntegrityProblems())
                find(m_report.damage, "damaged: " + problem);
        });
    }

    // Returns the table's name as stored, or empty when there is no table to check.
    std::string checkTable(dao::Database& database, std::vector<dao::Field>& present) {
        try {
            mdlDatabase::ValidateServersTable(database);
            // What would refuse every save and import, though the file lists.
            mdlDatabase::ValidateServersForWriting(database);
        } catch (const dao::Error& error) {
            const bool repairable = error.code() == dao::ErrorNumber::IndexNotFound ||
                                    error.code() == dao::ErrorNumber::MisleadingStatistics;
            find(m_report.tableProblems, error.description() + " (error " + std::to_string(error.number()) + ")" +
                                             (repairable ? " vantrel-registry repair " + m_path + " fixes it." : ""));
        }
        try {
            const dao::TableDef servers = database.TableDefs("Servers");
            for (const dao::Field& field : mdlDatabase::ServersFields()) {
                if (servers.HasField(field.Name()))
                    present.push_back(field);
                else
                    find(m_report.tableProblems,
                         "the table \"Servers\" has no column " + dao::inQuotes(field.Name()) + ".");
            }
            return servers.Name();
        } catch (const dao::Error&) {
            return {}; // reported by the validation
        }
    }

    // Every row against every field's rules, in one pass over the table.
    void checkRows(dao::Database& database, const std::string& table, const std::vector<dao::Field>& fields) {
        if (fields.empty())
            return;
        std::string breaks;
        std::string values;
        for (const dao::Field& field : fields) {
            const std::string rule = breaksRule(field);
            breaks += (breaks.empty() ? "(" : " OR (") + rule + ")";
            values += ", CASE WHEN " + rule + " THEN " + dao::quoteIdentifier(field.Name()) + " END, CASE WHEN " +
                      rule + " THEN " + shownValue(field) + " END";
        }
        const bool hasUser = fields.front().Name() == "User";
        const std::string sql = "SELECT rowid, " + std::string(hasUser ? "\"User\"" : "NULL") + values + " FROM " +
                                dao::quoteIdentifier(table) + " WHERE " + breaks;
        guarded(database, [&] {
            // 1 when the value is strict UTF-8 text without a NUL character, as the store writes text.
            database.DefineTextTest("vantrel_valid_text",
                                    [](std::string_view text) { return dao::FieldRule::TextRefusal(text).empty(); });
            dao::Statement rows = database.Prepare(sql);
            while (rows.step()) {
                std::string text = "row " + std::to_string(rows.integer(0));
                if (const dao::Variant user = rows.value(1); user.isText())
                    text += " (user " + dao::inQuotes(*user.text()) + ")";
                std::string separator = ": ";
                for (std::size_t i = 0; i < fields.size(); ++i) {
                    const int at = 2 + 2 * static_cast<int>(i);
                    if (!rows.isNull(at)) {
                        text += separator + reasonOf(fields[i], rows, at);
                        separator = "; ";
                    }
                }
                find(m_report.rowsBreakingRules, text);
            }
        });
    }

    void checkUsers(dao::Database& database, const std::string& table) {
        const std::string from = " FROM " + dao::quoteIdentifier(table);
        guarded(database, [&] {
            dao::Statement nulls = database.Prepare("SELECT count(*)" + from + " WHERE \"User\" IS NULL");
            nulls.step();
            if (const auto count = static_cast<std::size_t>(nulls.integer(0)); count > 0)
                find(m_report.nullUsers,
                     std::to_string(count) + (count == 1 ? " account has" : " accounts have") +
                         " no user name: Vantrel neither lists nor opens " + (count == 1 ? "it." : "them."),
                     count);
        });
        // Through the index "User", when there is one: the names come grouped already.
        guarded(database, [&] {
            dao::Statement shared =
                database.Prepare("SELECT \"User\", count(*)" + from +
                                 " WHERE \"User\" IS NOT NULL GROUP BY \"User\" HAVING count(*) > 1");
            while (shared.step()) {
                const auto count = static_cast<std::size_t>(shared.integer(1));
                m_report.sharedNameAccounts += count;
                find(m_report.sharedNames, "the user name " + dao::inQuotes(shared.text(0)) + " is shared by " +
                                               std::to_string(count) + " accounts; the editor only opens the first.");
            }
        });
    }

    // Every different user name, judged on its own and grouped by its skeleton, in one read of the
    // names; the groups are listed in the order of their names.
    void checkLooks(dao::Database& database, const std::string& table) {
        struct Look {
            std::string name;                // the first name read with this skeleton
            std::vector<std::string> others; // different names with the same skeleton
        };
        std::unordered_map<std::string, Look> looks;
        looks.reserve(m_report.accounts);
        std::vector<std::string> misleading;
        const auto judge = [&](const std::string& name) {
            std::string reason = dao::NameLook::misleading(name);
            const std::string space = dao::NameLook::edgeSpace(name);
            if (!space.empty())
                reason += (reason.empty() ? "" : "; ") + space;
            if (!reason.empty())
                misleading.push_back("the user name " + dao::inQuotes(name) + " " + reason + ".");
        };
        guarded(database, [&] {
            dao::Statement names = database.Prepare("SELECT \"User\" FROM " + dao::quoteIdentifier(table) +
                                                    " WHERE typeof(\"User\") = 'text'");
            while (names.step()) {
                m_progress.advance();
                std::string name = names.text(0);
                auto [look, added] = looks.try_emplace(dao::NameLook::skeleton(name));
                if (added) {
                    judge(name);
                    look->second.name = std::move(name);
                } else if (look->second.name != name &&
                           std::find(look->second.others.begin(), look->second.others.end(), name) ==
                               look->second.others.end()) {
                    judge(name);
                    look->second.others.push_back(std::move(name));
                }
            }
        });
        std::vector<std::vector<std::string>> groups;
        for (auto& [skeleton, look] : looks) {
            if (look.others.empty())
                continue;
            look.others.push_back(std::move(look.name));
            std::sort(look.others.begin(), look.others.end());
            groups.push_back(std::move(look.others));
        }
        std::sort(groups.begin(), groups.end());
        for (const std::vector<std::string>& group : groups) {
            std::string names;
            // Beside a name of more than printable ASCII, its code points tell it from the others.
            for (std::size_t i = 0; i < group.size(); ++i) {
                const bool ascii =
                    std::all_of(group[i].begin(), group[i].end(), [](char c) { return c >= 0x20 && c < 0x7F; });
                names += (i == 0                  ? ""
                          : i + 1 == group.size() ? " and "
                                                  : ", ") +
                         dao::inQuotes(group[i]) + (ascii ? "" : " (" + dao::NameLook::codePoints(group[i]) + ")");
            }
            m_report.lookAlikeNames += group.size();
            find(m_report.lookAlikeGroups, "the user names " + names +
                                               " look alike; an operator may open one "
                                               "for another.");
        }
        std::sort(misleading.begin(), misleading.end());
        for (const std::string& line : misleading)
            find(m_report.misleadingNames, line);
    }

    void countAccounts(dao::Database& database, const std::string& table) {
        guarded(database, [&] {
            dao::Statement count = database.Prepare("SELECT count(*) FROM " + dao::quoteIdentifier(table));
            count.step();
            m_report.accounts = static_cast<std::size_t>(count.integer(0));
        });
    }

private:
    const std::string& m_path;
    CheckReport& m_report;
    Progress& m_progress;
};

} // namespace

std::string networkFileSystemFinding(const std::string& path) {
    const std::string system = dao::networkFileSystem(path);
    if (system.empty())
        return {};
    std::error_code unknown;
    return std::string(std::filesystem::exists(path, unknown) ? "the registry" : "the folder of the registry") +
           " is on a network file system (" + system +
           "), whose locking SQLite cannot trust: two programs saving at once may damage the file. Keep the "
           "registry on a local disk.";
}

std::chrono::milliseconds checkTimeLimit(const std::string& path) {
    std::error_code unknown;
    const auto size = std::filesystem::file_size(path, unknown);
    const std::uintmax_t hundredsOfMebibytes = unknown ? 0 : size / (100u << 20);
    return std::chrono::seconds(60 + 10 * static_cast<long long>(hundredsOfMebibytes));
}

CheckReport checkRegistry(const std::string& path, bool timeLimit, Progress* shown) {
    Progress& progress = shown ? *shown : Progress::none();
    CheckReport report;
    Checker checker(path, report, progress);
    bool hotJournal = false;
    checker.checkJournals(hotJournal);
    checker.checkFileSystem();

    std::unique_ptr<dao::Database> database;
    try {
        database = dao::DBEngine::instance().Workspaces(0)->OpenDatabase(path, 0, true);
    } catch (const dao::Error& error) {
        // A file too damaged to open is a finding like any other damage.
        if (error.code() == dao::ErrorNumber::DamagedFile && !hotJournal) {
            checker.find(report.damage, error.description() + " Nothing else was checked.");
            return report;
        }
        // Read-only, SQLite will not roll a crash's unfinished write back, and refuses to read
        // the half-written file instead. Only a program that writes may roll it back.
        if (!hotJournal)
            throw;
        checker.find(report.journals,
                     dao::inQuotes(path + "-journal") +
                         " holds a write that a crash left unfinished: the file cannot be read as it is. Vantrel "
                         "(or any program that opens it for writing) rolls the write back on its next start; "
                         "then check the file again. Nothing else was checked (" +
                         error.description() + ")");
        return report;
    }

    // Every long statement of the check runs from here, on this one connection. Reading the whole
    // file is the work asked for, so the few seconds that bound a save become a generous bound.
    database->SetTimeLimit(timeLimit ? checkTimeLimit(path) : std::chrono::milliseconds(0));
    const ProgressWatch watch(*database, progress);
    progress.nextStage("Checking integrity");
    checker.checkIntegrity(*database);
    std::vector<dao::Field> fields;
    const std::string table = checker.checkTable(*database, fields);
    if (!table.empty()) {
        progress.nextStage("Checking the field rules");
        checker.countAccounts(*database, table);
        checker.checkRows(*database, table, fields);
        if (!fields.empty() && fields.front().Name() == "User") {
            progress.nextStage("Finding shared user names");
            checker.checkUsers(*database, table);
            progress.nextStage("Comparing the looks of user names", report.accounts, "accounts");
            checker.checkLooks(*database, table);
        }
    }
    progress.finish();
    database->Close();
    return report;
}

RegistryUsers::RegistryUsers(dao::Database& database, const std::string& table) : m_database(database) {
    database.guarded([&] {
        const std::string from = " FROM " + dao::quoteIdentifier(table);
        // An empty registry holds no name to look up.
        dao::Statement any = database.Prepare("SELECT 1" + from + " LIMIT 1");
        if (any.step()) {
            m_lookup = database.Prepare("SELECT 1" + from + " WHERE \"User\" = ?1 LIMIT 1");
        }
    });
}

RegistryUsers::~RegistryUsers() = default;

bool RegistryUsers::has(const std::string& user) {
    if (!m_lookup)
        return false;
    return m_database.guarded([&] {
        m_lookup.bindText(1, user);
        const bool found = m_lookup.step();
        m_lookup.reset();
        return found;
    });
}

} // namespace cli
