// SPDX-License-Identifier: MIT
#include "tests/reliability/Durability.h"

#include "cli/Progress.h"
#include "cli/Import.h"
#include "store/Error.h"
#include "store/mdlDatabase.h"
#include "tests/support/FaultVfs.h"
#include "tests/support/Operator.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"
#include "ui/LimitedLineEdit.h"
#include "ui/LimitedTextEdit.h"
#include "ui/MessageBox.h"

#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <SQLiteCpp/Statement.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <vector>

using namespace testing_support;

namespace reliability {

namespace {

constexpr int existingAccounts = 200;
constexpr int importedAccounts = 300;
const char* const registryFiles[] = {"zarn.dat", "zarn.dat-journal", "zarn.dat-wal", "zarn.dat-shm"};

// The account the editor saves, before and after, as SQL quotes its four fields.
const QString savedUser = QStringLiteral("acct-100");
const QString savedPassword = QStringLiteral("saved-pw");
const QString savedName = QStringLiteral("Saved name");
const QString savedDescription = QStringLiteral("Saved description ") + QString(200, u'-');
const std::string savedBefore = "'pw-100'|'Account 100'|0|'Description of account 100 " + std::string(120, '.') + "'";
const std::string savedAfter = "'saved-pw'|'Saved name'|1|'Saved description " + std::string(200, '-') + "'";

std::string text(const char* format, int number) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, number);
    return buffer;
}

// One imported account, as the CSV gives it and as SQL quotes it back.
std::string importedRecord(int i) {
    return text("imp-%03d", i) + "," + text("ipw%d", i) + "," + text("Imported %d", i) + "," +
           text("Imported account %d ", i) + std::string(60, '+') + "," + std::to_string(i % 2) + "," +
           std::to_string(i % 200) + "," + std::to_string(i % 60);
}

std::string importedQuoted(int i) {
    return sqlLiteral(text("imp-%03d", i)) + "|" + sqlLiteral(text("ipw%d", i)) + "|" +
           sqlLiteral(text("Imported %d", i)) + "|" +
           sqlLiteral(text("Imported account %d ", i) + std::string(60, '+')) + "|NULL|" + std::to_string(i % 2) + "|" +
           std::to_string(i % 200) + "|" + std::to_string(i % 60);
}

std::string importCsv() {
    std::string csv = "User,Password,Name,Description,Official,Date,Time\r\n";
    for (int i = 0; i < importedAccounts; ++i)
        csv += importedRecord(i) + "\r\n";
    return csv;
}

const char* const everyField = "User, Password, Name, Description, UpdateURL, Official, Date, Time";

std::vector<std::string> untouchedAccounts(OtherProgram& file) {
    return file.quotedRows(everyField, "WHERE User NOT IN ('acct-100', 'acct-007') AND User NOT LIKE 'imp-%' "
                                       "ORDER BY rowid");
}

Outcome failedWith(const QStringList& messages) {
    Outcome outcome;
    outcome.message = messages.join(QStringLiteral(" / ")).toStdString();
    const auto match = QRegularExpression(QStringLiteral("^Error (\\d+):")).match(messages.value(0));
    if (match.hasMatch())
        outcome.errorNumber = match.captured(1).toInt();
    return outcome;
}

} // namespace

std::string describe(const Durability& durability) {
    return std::string(durability.operation == Operation::Save ? "save" : "import") + ", " +
           (durability.journal == JournalMode::Rollback ? "rollback journal" : "WAL");
}

DurabilityBench::DurabilityBench(const Durability& durability) : m_case(durability) {
    TempFolder making;
    const std::string path = makeRegistry(making.path());
    {
        OtherProgram file(path);
        std::vector<std::vector<dao::Variant>> rows;
        for (int i = 0; i < existingAccounts; ++i)
            rows.push_back({text("acct-%03d", i), text("pw-%d", i), text("Account %d", i),
                            text("Description of account %d ", i) + std::string(120, '.'), i % 2, i % 256});
        file.addRows("User, Password, Name, Description, Official, Date", rows);
        if (durability.journal == JournalMode::Wal)
            file.exec("PRAGMA journal_mode = WAL");
        m_untouched = untouchedAccounts(file);
    }
    m_prepared = readBytes(path);
}

void DurabilityBench::prepare(const std::string& folder) const {
    restore(folder, {{"zarn.dat", m_prepared}});
}

std::map<std::string, std::string> DurabilityBench::files(const std::string& folder) {
    std::map<std::string, std::string> found;
    for (const char* name : registryFiles)
        if (std::filesystem::exists(folder + "/" + name))
            found[name] = readBytes(folder + "/" + name);
    return found;
}

void DurabilityBench::restore(const std::string& folder, const std::map<std::string, std::string>& disk) {
    for (const char* name : registryFiles)
        std::filesystem::remove(folder + "/" + name);
    for (const auto& [name, bytes] : disk)
        writeBytes(folder + "/" + name, bytes);
}

Outcome DurabilityBench::run(const std::string& folder, const std::function<void()>& start) const {
    if (m_case.operation == Operation::Import) {
        std::istringstream csv(importCsv());
        std::ostringstream quiet;
        auto progress = cli::Progress::disabled(quiet);
        Outcome outcome;
        start();
        try {
            const auto result = cli::importCsv(folder + "/zarn.dat", csv, progress);
            outcome.done = result.accounts == importedAccounts && result.problems.empty();
            outcome.unconfirmed = !result.unconfirmed.empty();
            if (!outcome.done)
                outcome.message = "the import added " + std::to_string(result.accounts) + " accounts";
        } catch (const dao::Error& error) {
            outcome.errorNumber = error.number();
            outcome.message = error.what();
        } catch (const std::exception& error) {
            outcome.message = error.what();
        }
        FaultVfs::disarm();
        return outcome;
    }

    mdlDatabase::SetRegistryFolderForTesting(folder);
    MessageBox::clearShownForTesting();
    QPointer<frmEdit> editor = new frmEdit;
    editor->User = savedUser;
    if (!editor->load()) {
        delete editor.data();
        return failedWith(QStringList(QStringLiteral("the editor did not load: ")) + MessageBox::shownForTesting());
    }
    editor->show();
    retype(editor->txtPassword, savedPassword);
    retype(editor->txtName, savedName);
    retype(editor->txtDescription, savedDescription);
    click(editor->chkOfficial);
    start();
    click(editor->cmdEdit);
    FaultVfs::disarm();
    const QStringList messages = MessageBox::shownForTesting();
    Outcome outcome;
    const bool warned = messages.size() == 1 && messages.front().startsWith(QStringLiteral("Warning 38:"));
    if ((messages.isEmpty() || warned) && !editor->isVisible()) {
        outcome.done = true;
        outcome.unconfirmed = warned;
    } else {
        outcome = failedWith(messages);
        if (messages.isEmpty())
            outcome.message = "the editor stayed open and said nothing";
        else if (!editor->isVisible())
            outcome.message += " (and the editor closed)";
    }
    delete editor.data();
    settle();
    return outcome;
}

std::string DurabilityBench::nextRun(const std::string& folder, Found& found) const {
    mdlDatabase::SetRegistryFolderForTesting(folder);
    MessageBox::clearShownForTesting();
    frmMain list;
    if (list.Form_Load() != frmMain::LoadResult::Loaded)
        return "the list did not load: " + MessageBox::shownForTesting().join(" / ").toStdString();

    {
        OtherProgram file(folder + "/zarn.dat");
        const std::string integrity = file.text("PRAGMA integrity_check");
        if (integrity != "ok")
            return "integrity_check: " + integrity;
        if (untouchedAccounts(file) != m_untouched)
            return "an account the operation does not touch changed";
        if (m_case.operation == Operation::Save) {
            const std::string four = file.quotedRow("acct-100", "Password, Name, Official, Description");
            found = four == savedBefore ? Found::Old : four == savedAfter ? Found::New : Found::Mixed;
            if (found == Found::Mixed)
                return "the saved account holds " + four;
        } else {
            const auto imported = file.quotedRows(everyField, "WHERE User LIKE 'imp-%' ORDER BY User");
            found = imported.empty() ? Found::Old : Found::Mixed;
            if (imported.size() == importedAccounts) {
                found = Found::New;
                for (int i = 0; i < importedAccounts; ++i)
                    if (imported[static_cast<std::size_t>(i)] != importedQuoted(i))
                        found = Found::Mixed;
            }
            if (found == Found::Mixed)
                return std::to_string(imported.size()) + " imported accounts, not all as imported";
        }
    }

    const int accounts =
        existingAccounts + (m_case.operation == Operation::Import && found == Found::New ? importedAccounts : 0);
    if (list.users()->rowCount() != accounts)
        return "the list shows " + std::to_string(list.users()->rowCount()) + " accounts";
    frmEdit* editor = openEntry(list, QStringLiteral("acct-007"));
    if (!editor)
        return "the editor did not open: " + MessageBox::shownForTesting().join(" / ").toStdString();
    retype(editor->txtPassword, QStringLiteral("next-run"));
    click(editor->cmdEdit);
    settle();
    if (!MessageBox::shownForTesting().isEmpty())
        return "the next save failed: " + MessageBox::shownForTesting().join(" / ").toStdString();
    OtherProgram file(folder + "/zarn.dat");
    if (file.text("SELECT Password FROM Servers WHERE User = 'acct-007'") != "next-run")
        return "the next save did not land";
    return {};
}

} // namespace reliability
