// SPDX-License-Identifier: MIT
#include "ui/frmEdit.h"
#include "store/DBEngine.h"
#include "store/Error.h"
#include "store/mdlDatabase.h"
#include "tests/support/Operator.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowTest.h"
#include "ui/HandlerBoundary.h"
#include "ui/LimitedLineEdit.h"
#include "ui/LimitedTextEdit.h"
#include "ui/MessageBox.h"
#include "ui/NameDisplay.h"
#include "ui/Startup.h"
#include "ui/UserListModel.h"
#include "ui/UserListView.h"
#include "ui/frmMain.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <stdexcept>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class frmEditTest : public WindowTest<> {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        registry = makeRegistry(folder.path());
        other = std::make_unique<OtherProgram>(registry);
    }

    // Loads the list window and double-clicks its entry `row`, as an operator would. The editor
    // must open: without one the test fails here instead of crashing the run on a null editor.
    frmEdit* doubleClick(int row) {
        frmEdit* editor = clickEntry(row);
        if (!editor)
            throw std::runtime_error("the double-click opened no editor");
        return editor;
    }

    // The same, for a double-click that may open no editor.
    frmEdit* clickEntry(int row) {
        if (!list) {
            list = std::make_unique<frmMain>();
            EXPECT_EQ(list->Form_Load(), frmMain::LoadResult::Loaded);
        }
        frmEdit* editor = openEntry(*list, row);
        if (editor) {
            EXPECT_TRUE(QTest::qWaitForWindowActive(editor));
        }
        return editor;
    }

    // Lets a closed editor be destroyed, and tells whether it is gone.
    bool editorGone() {
        settle();
        return list->editor() == nullptr;
    }

    // The first row of `user`, each field quoted as SQL would write it: 'text', NULL, 1.
    std::string row(const std::string& user, const std::string& fields = "Password, Name, Official, Description") {
        return other->quotedRow(user, fields);
    }
    // Every row, in the table's order.
    std::string everyRow() {
        const auto rows = other->quotedRows("User, Password, Name, Official, Description");
        std::string all;
        for (const std::string& line : rows)
            all += (all.empty() ? "" : ";") + line;
        return all;
    }

    std::unique_ptr<OtherProgram> other;
    std::unique_ptr<frmMain> list;
};

TEST_F(frmEditTest, TheRoadOfOneEdit) {
    other->addAccount("alice", "secret", "Alice A.", "First line", true);
    other->addAccount("bob", "hunter2");
    frmEdit* editor = doubleClick(0);
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->User, "alice");
    EXPECT_EQ(editor->lblUser->text(), "alice");
    EXPECT_EQ(editor->txtPassword->text(), "secret");
    EXPECT_EQ(editor->txtPassword->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(editor->txtName->text(), "Alice A.");
    EXPECT_TRUE(editor->chkOfficial->isChecked());
    EXPECT_EQ(editor->txtDescription->toPlainText(), "First line");

    retype(editor->txtPassword, "n3w");
    retype(editor->txtName, "Alice Adams ");
    editor->txtDescription->setFocus();
    QTest::keyClick(editor->txtDescription, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(editor->txtDescription, Qt::Key_Return);
    typeInto(editor->txtDescription, "Second, ünïcödé");
    pressAlt(editor, Qt::Key_O);
    EXPECT_FALSE(editor->chkOfficial->isChecked());
    pressAlt(editor, Qt::Key_E);

    EXPECT_TRUE(editorGone());
    EXPECT_TRUE(MessageBox::shownForTesting().isEmpty()) << MessageBox::shownForTesting().join("\n").toStdString();
    EXPECT_EQ(row("alice"), "'n3w'|'Alice Adams '|0|'First line"
                            "\r\n"
                            "Second, ünïcödé'");
    EXPECT_EQ(row("bob"), "'hunter2'|''|0|''");
}

TEST_F(frmEditTest, CancelAndTheCloseBoxWriteNothingAndNeverOpenTheRegistry) {
    other->addAccount("alice", "secret", "Alice", "desc", true);
    const std::string before = row("alice");
    dao::DBEngine::instance().SetBusyTimeout(50ms);
    for (bool closeBox : {false, true}) {
        frmEdit* editor = doubleClick(0);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->txtName->text(), "Alice") << "each load starts afresh from the layout and the row";
        retype(editor->txtName, "Mallory");
        editor->chkOfficial->setChecked(false);
        other->exec("BEGIN EXCLUSIVE"); // any open of the registry would now fail and show an error
        if (closeBox)
            editor->close();
        else
            pressAlt(editor, Qt::Key_A);
        other->exec("ROLLBACK");
        EXPECT_TRUE(editorGone());
        EXPECT_TRUE(MessageBox::shownForTesting().isEmpty());
        EXPECT_EQ(row("alice"), before);
    }
}

TEST_F(frmEditTest, OfficialTrueToFalseAndEmptyTextsStoredAsEmpty) {
    other->addAccount("alice", "secret", "Alice", "desc", true);
    frmEdit* editor = doubleClick(0);
    editor->chkOfficial->setChecked(false);
    retype(editor->txtName, "");
    retype(editor->txtDescription, "");
    click(editor->cmdEdit);
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("alice"), "'secret'|''|0|''");
}

TEST_F(frmEditTest, NullFieldsStayNullUnlessTheOperatorChangesThem) {
    other->exec("INSERT INTO Servers (User) VALUES ('ghost')");
    frmEdit* editor = doubleClick(0);
    EXPECT_EQ(editor->txtPassword->text(), "");
    EXPECT_FALSE(editor->chkOfficial->isChecked());
    click(editor->cmdEdit);
    EXPECT_TRUE(MessageBox::shownForTesting().isEmpty()) << MessageBox::shownForTesting().front().toStdString();
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("ghost"), "NULL|NULL|NULL|NULL");

    editor = doubleClick(0);
    retype(editor->txtName, "Ghost");
    click(editor->cmdEdit);
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("ghost"), "NULL|'Ghost'|NULL|NULL");

    editor = doubleClick(0);
    retype(editor->txtPassword, "set");
    editor->chkOfficial->setChecked(true);
    click(editor->cmdEdit);
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("ghost"), "'set'|'Ghost'|1|NULL");
}

TEST_F(frmEditTest, RefusedValuesKeepTheEditorOpenWithTheOperatorsText) {
    other->addAccount("alice", "secret", "Alice", "desc");
    const std::string before = row("alice");
    frmEdit* editor = doubleClick(0);
    struct Case {
        QWidget* box;
        QString text;
        QString words;
    };
    const Case cases[] = {
        {editor->txtPassword, "", "Error 16: The value for \"Password\" was refused"},
        {editor->txtPassword, "sixteen-letters!", "text of 1 to 15 characters (it has 16 characters)"},
        {editor->txtDescription, QString(260, 'd'), "\"Description\" was refused"},
    };
    for (const Case& c : cases) {
        MessageBox::clearShownForTesting();
        retype(editor->txtPassword, "fine");
        retype(c.box, c.text);
        pressAlt(editor, Qt::Key_E);
        ASSERT_EQ(MessageBox::shownForTesting().size(), 1);
        EXPECT_TRUE(MessageBox::shownForTesting().front().contains(c.words))
            << MessageBox::shownForTesting().front().toStdString();
        EXPECT_FALSE(editorGone());
        EXPECT_TRUE(editor->isVisible());
        if (auto* line = qobject_cast<QLineEdit*>(c.box)) {
            EXPECT_EQ(line->text(), c.text);
        }
        EXPECT_EQ(row("alice"), before);
        EXPECT_EQ(mdlDatabase::dbRegistry, nullptr) << "the failed save released the registry";
    }
    EXPECT_EQ(editor->txtDescription->toPlainText().size(), 260);
}

TEST_F(frmEditTest, LongAndUntouchedValuesRoundTripByteForByte) {
    const std::string name40 = "Forty characters of name, which is long!";
    ASSERT_EQ(name40.size(), 40u);
    other->exec("INSERT INTO Servers (User, Password, Name, Description, Official) VALUES "
                "('alice', 'pw  ', '" +
                name40 +
                "', 'unix' || char(10) || 'dos' || char(13, 10) || "
                "'mac' || char(13) || 'tail  ' || char(160), 1)");
    const std::string before = row("alice");
    frmEdit* editor = doubleClick(0);
    EXPECT_EQ(editor->txtName->text().toStdString(), name40) << "loaded text is shown whole";
    editor->txtName->setFocus();
    QTest::keyClick(editor->txtName, Qt::Key_End);
    QTest::keyClicks(editor->txtName, "more");
    EXPECT_EQ(editor->txtName->text().toStdString(), name40) << "typing never makes it longer";
    click(editor->cmdEdit);
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("alice"), before);
}

// Another program's values longer than the boxes take: an edit of a part replaces that part alone,
// never cutting the rest to the limit nor dropping what was typed, and never grows the text.
TEST_F(frmEditTest, AnEditInsideALoadedValueLongerThanItsBoxReplacesJustTheSelection) {
    other->exec("DROP TABLE Servers; CREATE TABLE Servers (User TEXT, Password TEXT, Name TEXT, Description TEXT, "
                "UpdateURL TEXT, Official BOOLEAN, Date BYTE, Time BYTE); CREATE INDEX User ON Servers (User)");
    const QString name = "Maximilian" + QString(35, 'n');
    const QString description = "Maximilian" + QString(690, 'd');
    other->addAccount("alice", "pw", name.toUtf8().constData(), description.toUtf8().constData());
    const std::string before = row("alice");
    const struct {
        bool paste;
        QString over; // what replaces "Maximilian"
        QString kept; // of it, what the box keeps
    } edits[] = {{true, "Bob", "Bob"}, {false, "Bo", "Bo"}, {true, "Bartholomew-Maximus", "Bartholome"}};
    for (const auto& edit : edits) {
        for (const bool inName : {true, false}) {
            frmEdit* editor = doubleClick(0);
            QWidget* box = inName ? static_cast<QWidget*>(editor->txtName) : editor->txtDescription;
            const auto text = [&] { return inName ? editor->txtName->text() : editor->txtDescription->toPlainText(); };
            EXPECT_EQ(text(), inName ? name : description) << "shown whole";
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
            for (int i = 0; i < 10; ++i)
                QTest::keyClick(box, Qt::Key_Right, Qt::ShiftModifier);
            QApplication::clipboard()->setText(edit.over);
            if (edit.paste)
                QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
            else
                typeInto(box, edit.over);
            EXPECT_EQ(text(), edit.kept + (inName ? name : description).mid(10)) << edit.over.toStdString();
            editor->close();
            EXPECT_TRUE(editorGone());
        }
    }
    click(doubleClick(0)->cmdEdit);
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("alice"), before) << "left alone, saved as loaded";
}

TEST_F(frmEditTest, AChangedBoxKeepsTheByteOrderMarkItStartsWith) {
    other->exec("INSERT INTO Servers (User, Password, Name) VALUES ('alice', 'pw', char(65279) || 'Al')");
    frmEdit* editor = doubleClick(0);
    editor->txtName->setFocus();
    QTest::keyClick(editor->txtName, Qt::Key_End);
    typeInto(editor->txtName, "!");
    click(editor->cmdEdit);
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(other->text("SELECT hex(Name) FROM Servers"), "EFBBBF416C21");
}

TEST_F(frmEditTest, AChangedDescriptionStoresEveryLineBreakAsCrLf) {
    other->exec("INSERT INTO Servers (User, Password, Description) VALUES "
                "('alice', 'pw', 'dos' || char(13, 10) || 'unix' || char(10) || 'end')");
    frmEdit* editor = doubleClick(0);
    editor->txtDescription->setFocus();
    QTest::keyClick(editor->txtDescription, Qt::Key_End, Qt::ControlModifier);
    typeInto(editor->txtDescription, "!");
    click(editor->cmdEdit);
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(other->text("SELECT replace(replace(Description, char(13), '<CR>'), char(10), '<LF>') FROM Servers"),
              "dos<CR><LF>unix<CR><LF>end!");
}

TEST_F(frmEditTest, TypingAndPastingStopAtTheBoxLimits) {
    other->addAccount("alice", "pw");
    frmEdit* editor = doubleClick(0);
    retype(editor->txtName, QString(35, 'n'));
    EXPECT_EQ(editor->txtName->text(), QString(30, 'n'));
    retype(editor->txtPassword, "");
    QApplication::clipboard()->setText("😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀");
    QTest::keyClicks(editor->txtPassword, "ab");
    QTest::keyClick(editor->txtPassword, Qt::Key_Left);
    QTest::keyClick(editor->txtPassword, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(editor->txtPassword->text(), "a" + QString("😀").repeated(28) + "b") << "cut between characters";
    EXPECT_EQ(editor->txtPassword->cursorPosition(), 1 + 28 * 2) << "the cursor ends where the paste was cut";
    retype(editor->txtDescription, QString(498, 'd'));
    QTest::keyClick(editor->txtDescription, Qt::Key_Return);
    QTest::keyClicks(editor->txtDescription, "xyz");
    EXPECT_EQ(editor->txtDescription->toPlainText(), QString(498, 'd') + "\nx");
    retype(editor->txtDescription, "ab");
    QTest::keyClick(editor->txtDescription, Qt::Key_Left);
    QApplication::clipboard()->setText(QString("😀").repeated(600));
    QTest::keyClick(editor->txtDescription, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(editor->txtDescription->toPlainText(), "a" + QString("😀").repeated(498) + "b");
    EXPECT_EQ(editor->txtDescription->textCursor().position(), 1 + 498 * 2);
}

TEST_F(frmEditTest, AnotherProgramBetweenLoadAndSave) {
    other->addAccount("alice", "secret", "Alice");
    frmEdit* editor = doubleClick(0);
    retype(editor->txtName, "Alice B.");
    other->exec("UPDATE Servers SET UpdateURL = 'http://new', Date = 3");
    click(editor->cmdEdit);
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("alice", "Name, UpdateURL, Date"), "'Alice B.'|'http://new'|3");

    editor = doubleClick(0);
    retype(editor->txtName, "typed");
    other->exec("DELETE FROM Servers");
    click(editor->cmdEdit);
    ASSERT_EQ(MessageBox::shownForTesting().size(), 1);
    EXPECT_EQ(
        MessageBox::shownForTesting().front(),
        "Error 21: The account \"alice\" is not in the registry; another program may have removed or renamed it.");
    EXPECT_FALSE(editorGone());
    EXPECT_EQ(editor->txtName->text(), "typed");
    EXPECT_EQ(other->number("SELECT count(*) FROM Servers"), 0) << "nothing was written";
    editor->close();
    EXPECT_TRUE(editorGone());

    MessageBox::clearShownForTesting();
    EXPECT_EQ(clickEntry(0), nullptr) << "an account missing at load opens no editor";
    ASSERT_EQ(MessageBox::shownForTesting().size(), 1);
    EXPECT_TRUE(MessageBox::shownForTesting().front().startsWith("Error 21: The account \"alice\""));
}

TEST_F(frmEditTest, AChangeByAnotherProgramSinceOpeningIsNeverUndone) {
    struct Case {
        const char* change;     // what the other program does while the editor is open on alice
        const char* alice;      // alice's first row afterwards, which the save must leave alone
        const char* setup = ""; // run once the accounts are added, before the editor opens
    };
    // The accounts moved into a table of another program, whose Official keeps text as text.
    const char* untyped = "CREATE TABLE Moved (User TEXT, Password TEXT, Name TEXT, Description TEXT, UpdateURL "
                          "TEXT, Official, Date, Time); INSERT INTO Moved SELECT * FROM Servers; DROP TABLE Servers; "
                          "ALTER TABLE Moved RENAME TO Servers; CREATE INDEX User ON Servers (User)";
    const Case cases[] = {
        // The same words, stored otherwise: a null name made empty, the integer 1 made the text "1".
        {"UPDATE Servers SET Name = '' WHERE User = 'alice'", "'secret'|''|1|'one'",
         "UPDATE Servers SET Name = NULL WHERE User = 'alice'"},
        {"UPDATE Servers SET Password = 'rotated' WHERE User = 'alice'", "'rotated'|'Alice'|1|'one'"},
        {"UPDATE Servers SET Official = 0 WHERE User = 'alice'", "'secret'|'Alice'|0|'one'"},
        {"UPDATE Servers SET Name = NULL WHERE User = 'alice'", "'secret'|NULL|1|'one'"},
        {"UPDATE Servers SET Description = 'one' || char(13, 10) WHERE User = 'alice'", "'secret'|'Alice'|1|'one\r\n'"},
        // Removed and made anew, with another password.
        {"DELETE FROM Servers WHERE User = 'alice'; INSERT INTO Servers (User, Password, Official) VALUES ('alice', "
         "'fresh', 0)",
         "'fresh'|NULL|0|NULL"},
        // bob now carries alice's name: his row must not receive alice's values.
        {"UPDATE Servers SET User = 'alice-old' WHERE User = 'alice'; UPDATE Servers SET User = 'alice' WHERE "
         "Password = 'bobpw'",
         "'bobpw'|'Bob'|0|''"},
        {"UPDATE Servers SET Official = '1' WHERE User = 'alice'", "'secret'|'Alice'|'1'|'one'", untyped},
    };
    for (const Case& c : cases) {
        other->exec("DELETE FROM Servers");
        other->addAccount("alice", "secret", "Alice", "one", true);
        other->addAccount("bob", "bobpw", "Bob");
        other->exec(c.setup);
        list.reset();
        MessageBox::clearShownForTesting();
        frmEdit* editor = doubleClick(0);
        retype(editor->txtName, "typed");
        other->exec(c.change);
        const std::string before = everyRow();
        click(editor->cmdEdit);
        ASSERT_EQ(MessageBox::shownForTesting().size(), 1) << c.change;
        EXPECT_TRUE(MessageBox::shownForTesting().front().startsWith(
            "Error 23: The account \"alice\" was changed by another program since it was opened; nothing was saved."))
            << MessageBox::shownForTesting().front().toStdString();
        EXPECT_FALSE(editorGone()) << c.change;
        EXPECT_EQ(editor->txtName->text(), "typed");
        EXPECT_EQ(row("alice"), c.alice) << c.change;
        EXPECT_EQ(everyRow(), before) << c.change;
        editor->close();
        EXPECT_TRUE(editorGone());
    }
}

TEST_F(frmEditTest, AnIndexThatIgnoresCaseStillSavesToTheExactName) {
    other->exec("DROP INDEX User; CREATE INDEX User ON Servers (User COLLATE NOCASE)");
    const char* const users[] = {"ALICE", "Alice", "alice"}; // equal to the index: listed as stored
    for (const char* user : users)
        other->addAccount(user, "pw", "untouched");
    for (int entry = 0; entry < 3; ++entry) {
        frmEdit* editor = doubleClick(entry);
        EXPECT_EQ(editor->lblUser->text(), users[entry]);
        retype(editor->txtName, "edited");
        click(editor->cmdEdit);
        EXPECT_TRUE(editorGone());
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(row(users[i], "Name"), i <= entry ? "'edited'" : "'untouched'") << users[i];
        list.reset();
    }
}

TEST_F(frmEditTest, DuplicateNamesBothOpenAndSaveTheFirstRow) {
    other->addAccount("bob", "first");
    other->addAccount("bob", "second");
    for (int entry : {0, 1}) {
        frmEdit* editor = doubleClick(entry);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->txtPassword->text(), "first");
        retype(editor->txtName, QString("via entry %1").arg(entry));
        click(editor->cmdEdit);
        EXPECT_TRUE(editorGone());
    }
    EXPECT_EQ(row("bob", "Password, Name"), "'first'|'via entry 1'");
    EXPECT_EQ(other->text("SELECT quote(Name) FROM Servers WHERE rowid = 2"), "''");
}

TEST_F(frmEditTest, SecondDoubleClickKeepsTheEditorOnItsAccount) {
    other->addAccount("alice", "a");
    other->addAccount("bob", "b");
    frmEdit* editor = doubleClick(0);
    retype(editor->txtName, "typed for alice");
    EXPECT_EQ(doubleClick(1), editor);
    EXPECT_EQ(editor->User, "alice");
    EXPECT_EQ(editor->lblUser->text(), "alice");
    EXPECT_EQ(editor->txtName->text(), "typed for alice");
    click(editor->cmdEdit);
    EXPECT_EQ(row("alice", "Name, Password"), "'typed for alice'|'a'");
    EXPECT_EQ(row("bob", "Name"), "''");
}

TEST_F(frmEditTest, KeyboardFocusMnemonicsAndInertEnterAndEsc) {
    other->addAccount("alice", "pw");
    frmEdit* editor = doubleClick(0);
    editor->txtPassword->setFocus();
    const QList<QWidget*> order = {editor->txtName,   editor->txtDescription, editor->cmdEdit,
                                   editor->cmdCancel, editor->chkOfficial,    editor->txtPassword};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    for (QWidget* focus : QList<QWidget*>{editor->txtPassword, editor->cmdEdit, editor->cmdCancel}) {
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Return);
        QTest::keyClick(focus, Qt::Key_Escape);
    }
    EXPECT_FALSE(editorGone());
    EXPECT_TRUE(MessageBox::shownForTesting().isEmpty());
    EXPECT_EQ(row("alice"), "'pw'|''|0|''");
    pressAlt(editor, Qt::Key_O);
    EXPECT_TRUE(editor->chkOfficial->isChecked());
    pressAlt(editor, Qt::Key_A);
    EXPECT_TRUE(editorGone());
}

TEST_F(frmEditTest, AltChordsThatNameNoControlTypeNothing) {
    other->addAccount("alice", "pw", "Alice", "desc");
    frmEdit* editor = doubleClick(0);
    for (QWidget* box : QList<QWidget*>{editor->txtPassword, editor->txtName, editor->txtDescription}) {
        box->setFocus();
        for (const Qt::Key key : {Qt::Key_P, Qt::Key_N, Qt::Key_D, Qt::Key_X, Qt::Key_1})
            QTest::keyClick(box, key, Qt::AltModifier);
        QTest::keyClick(box, Qt::Key_Z, Qt::ShiftModifier | Qt::AltModifier);
    }
    EXPECT_EQ(editor->txtPassword->text(), "pw");
    EXPECT_EQ(editor->txtName->text(), "Alice");
    EXPECT_EQ(editor->txtDescription->toPlainText(), "desc");
    EXPECT_FALSE(editorGone());
    editor->txtName->setFocus();
    QTest::keyClick(editor->txtName, Qt::Key_End);
    typeInto(editor->txtName, "!"); // a plain key still types
    EXPECT_EQ(editor->txtName->text(), "Alice!");
}

// Keyboards whose AltGr sends Ctrl+Alt type their characters with it into every box.
TEST_F(frmEditTest, AltGrChordsTypeTheirCharacters) {
    other->addAccount("alice", "pw", "Alice", "desc");
    frmEdit* editor = doubleClick(0);
    const std::pair<int, QString> chords[] = {{Qt::Key_At, "@"}, {0x20AC, "€"}, {Qt::Key_BraceLeft, "{"}};
    for (QWidget* box : QList<QWidget*>{editor->txtPassword, editor->txtName, editor->txtDescription}) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_End);
        for (const auto& [key, text] : chords)
            QTest::sendKeyEvent(QTest::Click, box, static_cast<Qt::Key>(key), text,
                                Qt::ControlModifier | Qt::AltModifier);
    }
    EXPECT_EQ(editor->txtPassword->text(), "pw@€{");
    EXPECT_EQ(editor->txtName->text(), "Alice@€{");
    EXPECT_EQ(editor->txtDescription->toPlainText(), "desc@€{");
}

TEST_F(frmEditTest, AfterAnErrorTheEditorHasTheFocusAndTheCursorIsNotBusy) {
    other->addAccount("alice", "pw");
    frmEdit* editor = doubleClick(0);
    retype(editor->txtPassword, ""); // refused by the store
    editor->txtName->setFocus();
    list->activateWindow(); // where the focus may go when the error box closes
    ASSERT_TRUE(QTest::qWaitForWindowActive(list.get()));
    editor->cmdEdit->click(); // as its shortcut would: a click of the mouse would give the button the focus
    ASSERT_EQ(MessageBox::shownForTesting().size(), 1);
    EXPECT_TRUE(QTest::qWaitForWindowActive(editor));
    EXPECT_EQ(QApplication::focusWidget(), editor->txtPassword) << "the box the error names";
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(frmEditTest, TheCursorIsBusyWhileAHandlerWorksAndOnlyThen) {
    const std::function<void()> handlers[] = {
        [] {},
        [] { throw dao::Error(dao::ErrorNumber::FileInUse, "locked"); },
        [] { throw std::bad_alloc(); },
    };
    for (const auto& handler : handlers) {
        Qt::CursorShape during = Qt::ArrowCursor;
        runHandler(nullptr, [&] {
            during = QGuiApplication::overrideCursor() ? QGuiApplication::overrideCursor()->shape() : Qt::ArrowCursor;
            handler();
        });
        EXPECT_EQ(during, Qt::WaitCursor);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "restored on every way out";
    }
}

// A failed save's box is answered with the ordinary cursor: the wait cursor is gone when it appears.
TEST_F(frmEditTest, AnErrorBoxAppearsWithoutTheWaitCursor) {
    other->addAccount("alice", "pw");
    frmEdit* editor = doubleClick(0);
    retype(editor->txtPassword, ""); // refused by the store
    std::optional<bool> busyUnderTheBox;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            busyUnderTheBox = QGuiApplication::overrideCursor() != nullptr;
            box->accept();
        }
    });
    answer.start(10);
    MessageBox::answerForTesting(false);
    editor->cmdEdit->click();
    MessageBox::answerForTesting(true);
    ASSERT_TRUE(busyUnderTheBox.has_value()) << "no error box appeared";
    EXPECT_FALSE(*busyUnderTheBox);
}

TEST_F(frmEditTest, AnnouncedAsADialogNamedForItsAccountWhoseNameShowsItsMarks) {
    other->addAccount("user\u202E123", "pw");
    frmEdit* editor = doubleClick(0);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->lblUser->text(), "user⟨U+202E⟩123");
    EXPECT_EQ(editor->User, "user\u202E123") << "the lookup and the save use the name as stored";
    QAccessible::setActive(true);
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(editor);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Dialog) << "a dialog, not filler";
    EXPECT_EQ(window->text(QAccessible::Name), "Edit Registry Account: user⟨U+202E⟩123");
    QAccessible::setActive(false);
    retype(editor->txtName, "saved");
    click(editor->cmdEdit);
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("user\u202E123", "Name"), "'saved'");
}

// Names of half a million characters, written by another program into a table without the
// program's rules: the list, its tooltip, a screen reader and the editor's heading show the first
// 256 characters and say how many follow, and the list repaints at once.
TEST_F(frmEditTest, AHugeNameShowsItsStartAndTheCountOfTheRest) {
    other->exec(
        "DROP TABLE Servers; " +
        ForeignTable{.columns = "User TEXT, Password TEXT, Name TEXT, Description TEXT, Official INTEGER"}.sql());
    for (int i = 10; i < 50; ++i)
        other->addAccount((std::to_string(i) + QString(499'998, u'\u00E9').toStdString()).c_str(), "pw");
    frmEdit* editor = doubleClick(0);
    const QString shown =
        "10" + QString(254, u'\u00E9') + "\u2026 (and " + QLocale().toString(499'744) + " more characters)";
    EXPECT_EQ(editor->lblUser->text(), shown);
    EXPECT_EQ(editor->User.size(), 500'000) << "the account is still found by its whole name";
    UserListView* view = list->lstUser();
    const QModelIndex first = view->model()->index(0, 0);
    EXPECT_EQ(first.data().toString(), shown);
    const QString tip = first.data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.startsWith("<p style=\"white-space:pre\">" + shown + "<br>U+0031 U+0030 U+00E9 ")) << tip.size();
    EXPECT_EQ(tip.count("U+"), 256) << "the code points of the characters shown";
    QAccessible::setActive(true);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view)->child(0)->text(QAccessible::Name), shown);
    QAccessible::setActive(false);
    // Multi-byte characters are cut whole, and counted as characters.
    EXPECT_EQ(NameDisplay::visible(QString(300, u'\u00E9') + "\U0001F600"),
              QString(256, u'\u00E9') + "\u2026 (and 45 more characters)");
    QElapsedTimer clock;
    clock.start();
    view->viewport()->repaint();
    EXPECT_LT(clock.elapsed(), 300);
}

TEST_F(frmEditTest, EachLookAlikeNameOpensItsOwnAccount) {
    const std::vector<std::string> alike = {" admin", "admin", "admin ", "\uFEFFadmin", "ad\u200Bmin"};
    for (std::size_t i = 0; i < alike.size(); ++i)
        other->addAccount(alike[i].c_str(), ("pw" + std::to_string(i)).c_str());
    std::set<std::string> opened;
    for (int entry = 0; entry < int(alike.size()); ++entry) {
        frmEdit* editor = doubleClick(entry);
        ASSERT_NE(editor, nullptr) << entry;
        const std::string user = editor->User.toStdString();
        opened.insert(user);
        EXPECT_EQ(row(user, "Password"), "'" + editor->txtPassword->text().toStdString() + "'") << user;
        editor->close();
        EXPECT_TRUE(editorGone());
    }
    EXPECT_EQ(opened, std::set<std::string>(alike.begin(), alike.end()));
}

TEST_F(frmEditTest, TheHeadingMarksANameThatPassesForAnotherAndSaysWhy) {
    other->addAccount("\u0430dmin", "pw");
    frmEdit* editor = doubleClick(0);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->lblUser->text(), "\u0430dmin \u26A0");
    const QString why = "This name mixes Latin and Cyrillic letters: \u0430 is U+0430 CYRILLIC SMALL LETTER A.";
    EXPECT_EQ(editor->lblUser->accessibleDescription(), "\u0430dmin\n" + why);
    EXPECT_TRUE(editor->lblUser->toolTip().contains(why));
}

TEST_F(frmEditTest, OpensCentredOnTheScreen) {
    other->addAccount("alice", "pw");
    frmEdit* editor = doubleClick(0);
    ASSERT_NE(editor, nullptr);
    const QPoint centre = editor->screen()->availableGeometry().center();
    EXPECT_LE((editor->frameGeometry().center() - centre).manhattanLength(), 1)
        << "frame centred; without a window manager, the frame is the window itself";
}

TEST_F(frmEditTest, WindowLayout) {
    other->addAccount("<b>b&b</b>", "pw");
    frmEdit* editor = doubleClick(0);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->windowTitle(), "Edit Registry Account");
    EXPECT_EQ(editor->size(), QSize(281, 201));
    EXPECT_EQ(editor->minimumSize(), editor->maximumSize());
    EXPECT_EQ(editor->windowFlags() & Qt::WindowType_Mask, Qt::Tool) << "small caption, no task-bar button";
    EXPECT_TRUE(editor->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(editor->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(editor->parentWidget(), nullptr) << "no owner";
    EXPECT_EQ(editor->lblUser->text(), "<b>b&b</b>");
    EXPECT_EQ(editor->lblUser->textFormat(), Qt::PlainText);
    EXPECT_DOUBLE_EQ(editor->lblUser->font().pointSizeF(), 12);
    EXPECT_TRUE(editor->lblUser->accessibleName().isEmpty()) << "a screen reader reads the user name itself";

    struct Control {
        const char* name;
        QRect geometry;
        QString caption;
        QString accessible;
    };
    const Control controls[] = {
        {"txtPassword", {72, 32, 201, 19}, "pw", "Password"},
        {"txtName", {72, 56, 201, 19}, "", "Name"},
        {"txtDescription", {8, 96, 265, 65}, "", "Description"},
        {"cmdEdit", {8, 168, 81, 25}, "&Edit", "Edit"},
        {"cmdCancel", {192, 168, 81, 25}, "C&ancel", "Cancel"},
        {"lblUser", {0, 8, 281, 17}, "<b>b&b</b>", ""},
        {"lblPassword", {0, 32, 65, 17}, "Password:", ""},
        {"lblName", {0, 56, 65, 17}, "Name:", ""},
        {"lblDescription", {8, 80, 73, 17}, "Description:", ""},
        {"chkOfficial", {152, 77, 65, 17}, "&Official", "Official"},
    };
    for (const Control& c : controls) {
        QWidget* control = editor->findChild<QWidget*>(c.name);
        ASSERT_NE(control, nullptr) << c.name;
        EXPECT_EQ(control->geometry(), c.geometry) << c.name;
        QString caption = control->property("text").toString();
        if (auto* box = qobject_cast<QPlainTextEdit*>(control))
            caption = box->toPlainText();
        EXPECT_EQ(caption, c.caption) << c.name;
        EXPECT_EQ(control->accessibleName(), c.accessible) << c.name;
        if (c.name != std::string("lblUser")) {
            EXPECT_DOUBLE_EQ(control->font().pointSizeF(), 8.25) << c.name;
        }
    }
    EXPECT_EQ(editor->lblPassword->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(editor->lblDescription->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_EQ(editor->lblUser->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(editor->lblName->buddy(), editor->txtName);
    EXPECT_FALSE(editor->cmdEdit->autoDefault() || editor->cmdEdit->isDefault());
    EXPECT_EQ(editor->txtDescription->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST_F(frmEditTest, TheEditorOutlivesTheListWindow) {
    other->addAccount("alice", "pw");
    bool stillRunning = false;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<frmMain*>(QApplication::activeWindow());
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* main = qobject_cast<frmMain*>(top))
                window = main;
        ASSERT_NE(window, nullptr);
        frmEdit* editor = openEntry(*window, 0);
        ASSERT_NE(editor, nullptr);
        window->close();
        QTimer::singleShot(20, [&stillRunning, editor] {
            stillRunning = true;
            editor->close();
        });
    });
    EXPECT_EQ(startVantrel(), 0);
    EXPECT_TRUE(stillRunning);
}

} // namespace

TEST_F(frmEditTest, EnterAndAScreenReadersOpenActionOpenTheSelectedAccountOnly) {
    other->addAccount("alice", "a");
    other->addAccount("bob", "b");
    list = std::make_unique<frmMain>();
    ASSERT_EQ(list->Form_Load(), frmMain::LoadResult::Loaded);
    list->show();
    UserListView* view = list->lstUser();
    QAccessible::setActive(true);
    QAccessibleInterface* names = QAccessible::queryAccessibleInterface(view);
    ASSERT_NE(names->tableInterface(), nullptr);
    const std::function<void()> opens[] = {
        [&] { QTest::keyClick(view, Qt::Key_Return); },
        [&] { QTest::keyClick(view, Qt::Key_Enter, Qt::KeypadModifier); },
        [&] {
            view->setCurrentIndex(view->model()->index(0, 0)); // the action chooses its own entry
            ASSERT_EQ(names->child(1)->actionInterface()->actionNames(), QStringList{"Open"});
            names->child(1)->actionInterface()->doAction("Open");
        },
    };
    for (const auto& open : opens) {
        view->setFocus();
        view->setCurrentIndex(view->model()->index(1, 0));
        open();
        ASSERT_TRUE(QTest::qWaitFor([&] { return list->editor() != nullptr; }, 2000));
        EXPECT_EQ(list->editor()->User, "bob");
        EXPECT_EQ(names->tableInterface()->selectedRows(), QList<int>{1});
        list->editor()->close();
        EXPECT_TRUE(editorGone());
    }
    QAccessible::setActive(false);
    other->exec("DELETE FROM Servers");
    list = std::make_unique<frmMain>();
    ASSERT_EQ(list->Form_Load(), frmMain::LoadResult::Loaded);
    QTest::keyClick(list->lstUser(), Qt::Key_Return);
    EXPECT_EQ(list->editor(), nullptr) << "an empty list opens nothing";
    EXPECT_TRUE(MessageBox::shownForTesting().isEmpty());
}

// The other program changes one field while the operator changes that field or another. The
// conflict writes nothing, shows what the other program wrote in the boxes left alone, and the
// next Edit saves the operator's change over it without anything typed again.
TEST_F(frmEditTest, AConflictShowsTheCurrentValuesKeepsTheTypingAndTheNextEditSaves) {
    struct Case {
        std::string field;  // what the other program changes
        std::string value;  // to this literal
        std::string typed;  // the field the operator changes: text fields to "typed", Official unchecked
    };
    const Case cases[] = {
        {"Password", "'p2'", "Name"},           {"Password", "'p2'", "Password"},
        {"Name", "'N2'", "Password"},           {"Name", "'N2'", "Name"},
        {"Description", "'d2'", "Password"},    {"Description", "'d2'", "Description"},
        {"Official", "0", "Password"},          {"Official", "0", "Official"},
    };
    for (const Case& c : cases) {
        other->exec("DELETE FROM Servers");
        other->addAccount("alice", "secret", "Alice", "one", true);
        list.reset();
        MessageBox::clearShownForTesting();
        frmEdit* editor = doubleClick(0);
        const std::map<std::string, QWidget*> boxes = {{"Password", editor->txtPassword},
                                                       {"Name", editor->txtName},
                                                       {"Description", editor->txtDescription},
                                                       {"Official", editor->chkOfficial}};
        if (c.typed == "Official")
            editor->chkOfficial->setChecked(false);
        else
            retype(boxes.at(c.typed), "typed");
        QWidget* parked = c.typed == "Description" ? boxes.at("Password") : boxes.at("Description");
        parked->setFocus();
        other->exec("UPDATE Servers SET " + c.field + " = " + c.value);
        const std::string theirs = row("alice");
        pressAlt(editor, Qt::Key_E);
        const std::string label = c.field + " by them, " + c.typed + " by the operator";
        ASSERT_EQ(MessageBox::shownForTesting().size(), 1) << label;
        EXPECT_TRUE(MessageBox::shownForTesting().front().startsWith(
            QString::fromStdString("Error 23: The account \"alice\" was changed by another program since it was "
                                   "opened; nothing was saved. " + c.field + " was changed by another program.")))
            << MessageBox::shownForTesting().front().toStdString();
        EXPECT_EQ(row("alice"), theirs) << label;
        EXPECT_EQ(QApplication::focusWidget(), c.field == c.typed ? boxes.at(c.typed) : parked) << label;
        if (c.field != c.typed && c.field != "Official") {
            const QString shown = c.field == "Description" ? editor->txtDescription->toPlainText()
                                                           : qobject_cast<QLineEdit*>(boxes.at(c.field))->text();
            EXPECT_EQ("'" + shown.toStdString() + "'", c.value) << label;
        }
        EXPECT_FALSE(editor->chkOfficial->isChecked() && (c.field == "Official" || c.typed == "Official")) << label;
        pressAlt(editor, Qt::Key_E);
        EXPECT_TRUE(editorGone()) << label;
        std::map<std::string, std::string> expected = {
            {"Password", "'secret'"}, {"Name", "'Alice'"}, {"Official", "1"}, {"Description", "'one'"}};
        expected[c.field] = c.value;
        expected[c.typed] = c.typed == "Official" ? "0" : "'typed'";
        EXPECT_EQ(row("alice"), expected["Password"] + "|" + expected["Name"] + "|" + expected["Official"] + "|" +
                                    expected["Description"])
            << label;
    }
}

TEST_F(frmEditTest, ASecondOpenMovesAnUntouchedEditorAndKeepsAnEditorWithTyping) {
    other->addAccount("alice", "a");
    other->addAccount("bob", "b");
    for (const bool typed : {false, true}) {
        list.reset();
        frmEdit* editor = doubleClick(0);
        if (typed)
            retype(editor->txtName, "typed for alice");
        other->exec("UPDATE Servers SET Password = Password || '2'");
        EXPECT_EQ(doubleClick(1), editor);
        EXPECT_EQ(editor->User, typed ? "alice" : "bob");
        EXPECT_EQ(editor->lblUser->text(), typed ? "alice" : "bob");
        EXPECT_EQ(editor->txtPassword->text(), typed ? "a" : "b2") << "loaded afresh";
        EXPECT_EQ(list->lstUser()->currentIndex().row(), typed ? 0 : 1) << "the list names the edited account";
        EXPECT_TRUE(list->lstUser()->selectionModel()->isRowSelected(typed ? 0 : 1, {}));
        editor->close();
        EXPECT_TRUE(editorGone());
        other->exec("UPDATE Servers SET Password = substr(Password, 1, 1)");
    }
}

TEST_F(frmEditTest, AfterARefusedSaveTypingGoesOnInTheBoxTheErrorNamesOrWhereItWas) {
    other->addAccount("alice", "pw");
    using Box = QWidget* (*)(frmEdit*);
    struct Case {
        std::function<void(frmEdit*)> fault;
        Box before; // where the operator was when they pressed Alt+E
        Box expected;
    };
    const Case cases[] = {
        {[](frmEdit* e) { retype(e->txtPassword, "sixteen-letters!"); }, [](frmEdit* e) -> QWidget* { return e->txtName; },
         [](frmEdit* e) -> QWidget* { return e->txtPassword; }},
        {[this](frmEdit*) { other->exec("DELETE FROM Servers"); },
         [](frmEdit* e) -> QWidget* { return e->txtDescription; },
         [](frmEdit* e) -> QWidget* { return e->txtDescription; }},
    };
    for (const Case& c : cases) {
        list.reset();
        frmEdit* editor = doubleClick(0);
        c.fault(editor);
        c.before(editor)->setFocus();
        pressAlt(editor, Qt::Key_E);
        ASSERT_FALSE(editorGone());
        EXPECT_EQ(QApplication::focusWidget(), c.expected(editor));
        editor->close();
        EXPECT_TRUE(editorGone());
    }
}

TEST_F(frmEditTest, ANameWiderThanTheHeadingIsElidedInTheMiddleAndWholeInItsTooltip) {
    const QString wide = QString(20, 'W') + QChar(0x202E) + QString(20, 'W');
    const QString marked = QString(20, 'W') + "⟨U+202E⟩" + QString(20, 'W');
    other->exec("DROP TABLE Servers; " + ForeignTable{.columns = "User, Password, Name, Description, Official"}.sql());
    other->addAccount(wide.toStdString().c_str(), "pw"); // longer than the registry's rules allow
    frmEdit* editor = doubleClick(0);
    const QString drawn = editor->lblUser->shownText();
    EXPECT_TRUE(drawn.startsWith("WWW") && drawn.endsWith("WWW") && drawn.contains(u'…')) << drawn.toStdString();
    EXPECT_LE(editor->lblUser->fontMetrics().horizontalAdvance(drawn), editor->lblUser->width());
    EXPECT_TRUE(editor->lblUser->toolTip().contains(marked));
    EXPECT_EQ(editor->lblUser->accessibleDescription(), marked);
}
