// SPDX-License-Identifier: MIT
#include "ui/frmEdit.h"
#include "store/DBEngine.h"
#include "store/mdlDatabase.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowTest.h"
#include "ui/LimitedLineEdit.h"
#include "ui/LimitedTextEdit.h"
#include "ui/MessageBox.h"
#include "ui/Startup.h"
#include "ui/UserListModel.h"
#include "ui/UserListView.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class EditorTest : public WindowTest<> {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        registry = makeRegistry(folder.path());
        other = std::make_unique<OtherProgram>(registry);
    }

    // Loads the list window and double-clicks its entry `row`, as an operator would.
    frmEdit* doubleClick(int row) {
        if (!list) {
            list = std::make_unique<frmMain>();
            EXPECT_EQ(list->Form_Load(), frmMain::LoadResult::Loaded);
            list->show();
        }
        UserListView* view = list->lstUser();
        const QRect item = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, item.center());
        frmEdit* editor = list->editor();
        if (editor) {
            EXPECT_TRUE(QTest::qWaitForWindowActive(editor));
        }
        return editor;
    }

    // Lets a closed editor be destroyed, and tells whether it is gone.
    bool editorGone() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return list->editor() == nullptr;
    }

    // Alt+letter presses a button the way a person's keystroke does: after a short animation.
    static void pressAlt(QWidget* window, Qt::Key key) {
        QTest::keyClick(window, key, Qt::AltModifier);
        QTest::qWait(150);
    }

    // Types `text` key by key, any Unicode included (QTest::keyClicks takes ASCII only).
    static void type(QWidget* box, const QString& text) {
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(box, &press);
        }
    }

    static void retype(QWidget* box, const QString& text) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_Delete);
        type(box, text);
    }

    // The first row of `user`, each column quoted as SQL would write it: 'text', NULL, 1.
    std::string row(const std::string& user, const std::string& columns = "Password, Name, Official, Description") {
        return other->text("SELECT " + quoteEach(columns) + " FROM Servers WHERE User = '" + user + "' ORDER BY rowid");
    }
    static std::string quoteEach(const std::string& columns) {
        std::string sql;
        std::size_t start = 0;
        while (start < columns.size()) {
            std::size_t end = columns.find(',', start);
            if (end == std::string::npos)
                end = columns.size();
            std::string column = columns.substr(start, end - start);
            column.erase(0, column.find_first_not_of(' '));
            sql += (sql.empty() ? "" : " || '|' || ") + std::string("quote(") + column + ")";
            start = end + 1;
        }
        return sql;
    }

    std::unique_ptr<OtherProgram> other;
    std::unique_ptr<frmMain> list;
};

TEST_F(EditorTest, TheRoadOfOneEdit) {
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
    type(editor->txtDescription, "Second, ünïcödé");
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

TEST_F(EditorTest, CancelAndTheCloseBoxWriteNothingAndNeverOpenTheRegistry) {
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

TEST_F(EditorTest, OfficialTrueToFalseAndEmptyTextsStoredAsEmpty) {
    other->addAccount("alice", "secret", "Alice", "desc", true);
    frmEdit* editor = doubleClick(0);
    editor->chkOfficial->setChecked(false);
    retype(editor->txtName, "");
    retype(editor->txtDescription, "");
    editor->cmdEdit->click();
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("alice"), "'secret'|''|0|''");
}

TEST_F(EditorTest, NullFieldsShowEmptyAndTheStoreJudgesWhatIsWritten) {
    other->exec("INSERT INTO Servers (User) VALUES ('ghost')");
    frmEdit* editor = doubleClick(0);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->txtPassword->text(), "");
    EXPECT_FALSE(editor->chkOfficial->isChecked());
    editor->cmdEdit->click();
    ASSERT_EQ(MessageBox::shownForTesting().size(), 1);
    EXPECT_TRUE(MessageBox::shownForTesting().front().contains("\"Password\" was refused"));
    EXPECT_EQ(row("ghost"), "NULL|NULL|NULL|NULL");

    retype(editor->txtPassword, "set");
    editor->cmdEdit->click();
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("ghost"), "'set'|''|0|''");
}

TEST_F(EditorTest, RefusedValuesKeepTheEditorOpenWithTheOperatorsText) {
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

TEST_F(EditorTest, LongAndUntouchedValuesRoundTripByteForByte) {
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
    editor->cmdEdit->click();
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("alice"), before);
}

TEST_F(EditorTest, AChangedDescriptionStoresEveryLineBreakAsCrLf) {
    other->exec("INSERT INTO Servers (User, Password, Description) VALUES "
                "('alice', 'pw', 'dos' || char(13, 10) || 'unix' || char(10) || 'end')");
    frmEdit* editor = doubleClick(0);
    editor->txtDescription->setFocus();
    QTest::keyClick(editor->txtDescription, Qt::Key_End, Qt::ControlModifier);
    type(editor->txtDescription, "!");
    editor->cmdEdit->click();
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(other->text("SELECT replace(replace(Description, char(13), '<CR>'), char(10), '<LF>') FROM Servers"),
              "dos<CR><LF>unix<CR><LF>end!");
}

TEST_F(EditorTest, TypingAndPastingStopAtTheBoxLimits) {
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
    retype(editor->txtDescription, QString(498, 'd'));
    QTest::keyClick(editor->txtDescription, Qt::Key_Return);
    QTest::keyClicks(editor->txtDescription, "xyz");
    EXPECT_EQ(editor->txtDescription->toPlainText(), QString(498, 'd') + "\nx");
}

TEST_F(EditorTest, AnotherProgramBetweenLoadAndSave) {
    other->addAccount("alice", "secret", "Alice");
    frmEdit* editor = doubleClick(0);
    retype(editor->txtName, "Alice B.");
    other->exec("UPDATE Servers SET UpdateURL = 'http://new', Date = 3");
    editor->cmdEdit->click();
    EXPECT_TRUE(editorGone());
    EXPECT_EQ(row("alice", "Name, UpdateURL, Date"), "'Alice B.'|'http://new'|3");

    editor = doubleClick(0);
    retype(editor->txtName, "typed");
    other->exec("DELETE FROM Servers");
    editor->cmdEdit->click();
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
    EXPECT_EQ(doubleClick(0), nullptr) << "an account missing at load opens no editor";
    ASSERT_EQ(MessageBox::shownForTesting().size(), 1);
    EXPECT_TRUE(MessageBox::shownForTesting().front().startsWith("Error 21: The account \"alice\""));
}

TEST_F(EditorTest, DuplicateNamesBothOpenAndSaveTheFirstRow) {
    other->addAccount("bob", "first");
    other->addAccount("bob", "second");
    for (int entry : {0, 1}) {
        frmEdit* editor = doubleClick(entry);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->txtPassword->text(), "first");
        retype(editor->txtName, QString("via entry %1").arg(entry));
        editor->cmdEdit->click();
        EXPECT_TRUE(editorGone());
    }
    EXPECT_EQ(row("bob", "Password, Name"), "'first'|'via entry 1'");
    EXPECT_EQ(other->text("SELECT quote(Name) FROM Servers WHERE rowid = 2"), "''");
}

TEST_F(EditorTest, SecondDoubleClickKeepsTheEditorOnItsAccount) {
    other->addAccount("alice", "a");
    other->addAccount("bob", "b");
    frmEdit* editor = doubleClick(0);
    retype(editor->txtName, "typed for alice");
    EXPECT_EQ(doubleClick(1), editor);
    EXPECT_EQ(editor->User, "alice");
    EXPECT_EQ(editor->lblUser->text(), "alice");
    EXPECT_EQ(editor->txtName->text(), "typed for alice");
    editor->cmdEdit->click();
    EXPECT_EQ(row("alice", "Name, Password"), "'typed for alice'|'a'");
    EXPECT_EQ(row("bob", "Name"), "''");
}

TEST_F(EditorTest, KeyboardFocusMnemonicsAndInertEnterAndEsc) {
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

TEST_F(EditorTest, WindowLayout) {
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

TEST_F(EditorTest, TheEditorOutlivesTheListWindow) {
    other->addAccount("alice", "pw");
    bool stillRunning = false;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<frmMain*>(QApplication::activeWindow());
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* main = qobject_cast<frmMain*>(top))
                window = main;
        ASSERT_NE(window, nullptr);
        UserListView* view = window->lstUser();
        const QPoint first = view->visualRect(view->model()->index(0, 0)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, first);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, first);
        frmEdit* editor = window->editor();
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
