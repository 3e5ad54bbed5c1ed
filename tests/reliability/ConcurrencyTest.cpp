// SPDX-License-Identifier: MIT
// The registry shared with another program that keeps changing it: every save of the editor
// lands on its own row and changes only its four fields, short locks are waited out, and a lock
// held past the busy timeout fails the save cleanly. Once with SQLite's rollback journal and once
// with the file switched to WAL by the other program; Vantrel never changes the journal mode.
#include "store/DBEngine.h"
#include "store/mdlDatabase.h"
#include "tests/reliability/Scale.h"
#include "tests/support/Operator.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/SqliteShell.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowTest.h"
#include "ui/LimitedLineEdit.h"
#include "ui/LimitedTextEdit.h"
#include "ui/MessageBox.h"

#include <QCheckBox>
#include <QPushButton>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>

using namespace testing_support;
using reliability::scaled;
using namespace std::chrono_literals;

namespace {

constexpr int ourAccounts = 8;

QString ourUser(int k) {
    return QStringLiteral("ours-%1").arg(k);
}

// The four fields the editor writes, as SQL quotes them, for save number `save`.
struct Saved {
    QString password, name, description;
    bool official;
    std::string quoted() const {
        return sqlLiteral(password.toStdString()) + "|" + sqlLiteral(name.toStdString()) + "|" +
               (official ? "1" : "0") + "|" + sqlLiteral(QString(description).replace("\n", "\r\n").toStdString());
    }
};

Saved savedValues(int save) {
    return {QStringLiteral("pw%1").arg(save), QStringLiteral("Name of save %1").arg(save),
            QStringLiteral("Saved %1\nsecond line").arg(save), save % 2 == 1};
}

class ConcurrencyTest : public WindowTest<::testing::TestWithParam<const char*>> {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        registry = makeRegistry(folder.path());
        reader = std::make_unique<OtherProgram>(registry);
        std::vector<std::vector<dao::Variant>> rows;
        for (int k = 0; k < ourAccounts; ++k)
            rows.push_back({ourUser(k).toStdString(), "start", "", "", "0", 0, 0});
        reader->addRows("User, Password, Name, Description, UpdateURL, Official, Date", rows);
    }

    // The four fields the editor writes, then UpdateURL and Date, of the account `user`.
    std::string four(const QString& user) {
        return reader->quotedRow(user.toStdString(), "Password, Name, Official, Description");
    }
    long long counter(const QString& user) {
        return reader->number("SELECT CAST(UpdateURL AS INTEGER) FROM Servers WHERE User = '" + user.toStdString() +
                              "'");
    }
    // Whether the Date still goes with the counter in UpdateURL, read together.
    bool dateMatches(const QString& user) {
        return reader->number("SELECT Date = CAST(UpdateURL AS INTEGER) % 256 FROM Servers WHERE User = '" +
                              user.toStdString() + "'") == 1;
    }

    std::unique_ptr<OtherProgram> reader;
};

TEST_P(ConcurrencyTest, SavesUnderAnotherProgramsWritesLandWhole) {
    const std::string mode = GetParam();
    SqliteShell shell(registry, folder.file("shell.log"));
    // Waited for: a save that held the write lock as the shell switched would make it give up.
    ASSERT_TRUE(shell.run("PRAGMA journal_mode = " + mode + ";\n")) << readBytes(folder.file("shell.log"));

    // The other program, in short transactions: bumps a counter in UpdateURL and Date of our
    // rows (never their four fields), and inserts, changes and deletes rows of its own, which
    // move our rows about in the list.
    std::atomic<bool> stop{false};
    std::atomic<long long> bumps{0};
    struct Stopper {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~Stopper() {
            stop = true;
            if (thread.joinable())
                thread.join();
        }
    };
    std::thread other;
    const Stopper stopper{stop, other};
    other = std::thread([&] {
        std::mt19937 random(7);
        for (long long n = 1; !stop; ++n) {
            // Each part waits until the shell has run it: the lock is held while this thread
            // sleeps, and the next transaction starts only after a pause, as a program's would.
            if (!shell.run("BEGIN IMMEDIATE;\n"
                           "UPDATE Servers SET UpdateURL = CAST(CAST(UpdateURL AS INTEGER) + 1 AS TEXT), "
                           "Date = (Date + 1) % 256 WHERE substr(User, 1, 5) = 'ours-';\n"))
                return;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000)); // holding the lock
            const std::string theirs = "'theirs-" + std::to_string(n) + "'";
            if (!shell.run("INSERT INTO Servers (User, Password) VALUES (" + theirs +
                           ", 'p');\n"
                           "UPDATE Servers SET Password = 'q" +
                           std::to_string(n) +
                           "', Name = 'changed' WHERE substr(User, 1, 7) = 'theirs-' AND rowid % 3 = " +
                           std::to_string(n % 3) +
                           ";\n"
                           "DELETE FROM Servers WHERE User = 'theirs-" +
                           std::to_string(n - 5) + "';\nCOMMIT;\n"))
                return;
            ++bumps;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        }
    });

    const int saves = scaled(300);
    std::map<int, Saved> last;
    std::map<int, long long> seen;
    int failed = 0;
    std::mt19937 random(11);
    const auto started = std::chrono::steady_clock::now();
    for (int save = 0; save < saves; ++save) {
        const int k = static_cast<int>(random() % ourAccounts);
        frmMain list;
        ASSERT_EQ(list.Form_Load(), frmMain::LoadResult::Loaded)
            << MessageBox::shownForTesting().join("\n").toStdString();
        const int entry = entryOf(list, ourUser(k));
        ASSERT_GE(entry, 0);
        frmEdit* editor = openEntry(list, entry);
        ASSERT_NE(editor, nullptr) << MessageBox::shownForTesting().join("\n").toStdString();
        const Saved values = savedValues(save);
        retype(editor->txtPassword, values.password);
        retype(editor->txtName, values.name);
        retype(editor->txtDescription, values.description);
        editor->chkOfficial->setChecked(values.official);
        click(editor->cmdEdit);
        settle();
        if (list.editor() != nullptr || !MessageBox::shownForTesting().isEmpty()) {
            ++failed;
            ADD_FAILURE() << "save " << save << ": " << MessageBox::shownForTesting().join("\n").toStdString();
            MessageBox::clearShownForTesting();
            continue;
        }
        last[k] = values;
        ASSERT_EQ(four(ourUser(k)), values.quoted()) << "save " << save;
        const long long now = counter(ourUser(k));
        EXPECT_GE(now, seen[k]) << "a save wrote back the other program's older values";
        EXPECT_TRUE(dateMatches(ourUser(k))) << "Date and UpdateURL were changed apart";
        seen[k] = now;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    stop = true;
    other.join();
    EXPECT_EQ(shell.finish(), 0) << readBytes(folder.file("shell.log"));

    // Every bump of the other program is there, and every account holds its last save.
    for (int k = 0; k < ourAccounts; ++k) {
        EXPECT_EQ(counter(ourUser(k)), bumps.load()) << "a bump of the other program was lost";
        EXPECT_EQ(reader->number("SELECT count(*) FROM Servers WHERE User = '" + ourUser(k).toStdString() + "'"), 1);
        if (last.count(k)) {
            EXPECT_EQ(four(ourUser(k)), last[k].quoted());
        }
    }
    EXPECT_EQ(reader->number("SELECT count(*) FROM Servers WHERE Password LIKE 'pw%' AND User NOT LIKE 'ours-%'"), 0)
        << "a save landed on another program's row";
    EXPECT_EQ(reader->text("PRAGMA journal_mode"), mode);
    std::printf("[reliability] concurrent load (%s journal): %d saves, %d failed, while the other program "
                "committed %lld transactions, in %.1f s\n",
                mode.c_str(), saves, failed, bumps.load(), seconds);
}

TEST_P(ConcurrencyTest, ALockPastTheBusyTimeoutFailsTheSaveAndKeepsTheText) {
    const std::string mode = GetParam();
    SqliteShell shell(registry, folder.file("shell.log"));
    // Waited for: a save that held the write lock as the shell switched would make it give up.
    ASSERT_TRUE(shell.run("PRAGMA journal_mode = " + mode + ";\n")) << readBytes(folder.file("shell.log"));
    const std::string before = four(ourUser(3));

    frmMain list;
    ASSERT_EQ(list.Form_Load(), frmMain::LoadResult::Loaded);
    frmEdit* editor = openEntry(list, ourUser(3));
    ASSERT_NE(editor, nullptr);
    retype(editor->txtName, "typed while locked");
    retype(editor->txtDescription, "line one\nline two");

    dao::DBEngine::instance().SetBusyTimeout(300ms);
    shell.send("BEGIN EXCLUSIVE;\nUPDATE Servers SET Time = 1;\n");
    // Wait until the other program holds the write lock.
    OtherProgram probe(registry);
    probe.connection().setBusyTimeout(0);
    for (int attempt = 0;; ++attempt) {
        ASSERT_LT(attempt, 1000) << "the other program never took its lock";
        try {
            probe.exec("BEGIN IMMEDIATE");
            probe.exec("ROLLBACK");
        } catch (const std::exception&) {
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    const auto started = std::chrono::steady_clock::now();
    click(editor->cmdEdit);
    const auto waited = std::chrono::steady_clock::now() - started;
    settle();
    ASSERT_EQ(MessageBox::shownForTesting().size(), 1);
    EXPECT_TRUE(MessageBox::shownForTesting().front().startsWith("Error 4: \"" + QString::fromStdString(registry) +
                                                                 "\" is in use by another program."))
        << MessageBox::shownForTesting().front().toStdString();
    EXPECT_GE(waited, 300ms) << "the save gave up before the busy timeout";
    ASSERT_EQ(list.editor(), editor) << "the editor stays open";
    EXPECT_EQ(editor->txtName->text(), "typed while locked");
    EXPECT_EQ(editor->txtDescription->toPlainText(), "line one\nline two");
    shell.send("ROLLBACK;\n");
    EXPECT_EQ(shell.finish(), 0) << readBytes(folder.file("shell.log"));
    EXPECT_EQ(four(ourUser(3)), before) << "nothing was written";

    MessageBox::clearShownForTesting();
    click(editor->cmdEdit); // the lock is gone: the same text saves
    settle();
    EXPECT_TRUE(MessageBox::shownForTesting().isEmpty());
    EXPECT_EQ(list.editor(), nullptr);
    EXPECT_EQ(four(ourUser(3)), "'start'|'typed while locked'|0|'line one\r\nline two'");
    EXPECT_EQ(reader->text("PRAGMA journal_mode"), mode);
}

INSTANTIATE_TEST_SUITE_P(JournalModes, ConcurrencyTest, ::testing::Values("delete", "wal"));

} // namespace
