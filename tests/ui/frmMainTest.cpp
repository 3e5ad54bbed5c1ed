// SPDX-License-Identifier: MIT
#include "ui/frmMain.h"
#include "store/mdlDatabase.h"
#include "tests/support/Operator.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowTest.h"
#include "ui/LoadingSplash.h"
#include "ui/MessageBox.h"
#include "ui/Startup.h"
#include "ui/UserListModel.h"
#include "ui/UserListView.h"

#include <QApplication>
#include <QSplashScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace testing_support;

namespace {

// Records every window that becomes visible, so a test can tell that none ever was.
class ShownWindows : public QObject {
public:
    ShownWindows() { qApp->installEventFilter(this); }
    ~ShownWindows() override { qApp->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && object->isWidgetType() && static_cast<QWidget*>(object)->isWindow())
            ++count;
        return false;
    }
};

class frmMainTest : public WindowTest<> {
protected:
    QStringList listed(frmMain& window) {
        QStringList names;
        for (int row = 0; row < window.users()->rowCount(); ++row)
            names << window.lstUser()->model()->index(row, 0).data().toString();
        return names;
    }
};

TEST_F(frmMainTest, MissingRegistryEndsWithStatusOneAndShowsNoWindow) {
    auto expectMissing = [&](const char* what) {
        MessageBox::clearShownForTesting();
        ShownWindows shown;
        EXPECT_EQ(startVantrel(), 1) << what;
        EXPECT_EQ(MessageBox::shownForTesting(), QStringList{"Cannot find registry database."}) << what;
        EXPECT_EQ(shown.count, 0) << what;
    };
    expectMissing("no file");
    std::filesystem::create_directory(registry);
    expectMissing("a folder");
    std::filesystem::remove(registry);
    ASSERT_EQ(mkfifo(registry.c_str(), 0600), 0);
    expectMissing("a FIFO");
    std::filesystem::remove(registry);
    std::filesystem::create_symlink(registry, registry);
    expectMissing("a loop of symbolic links");
    EXPECT_TRUE(std::filesystem::is_symlink(registry));
}

TEST_F(frmMainTest, NonDatabaseFileShowsTheErrorAndEndsWithStatusTwo) {
    const std::string bytes = "user;password\nalice;secret\n" + std::string(200, 'x');
    writeBytes(registry, bytes);
    ShownWindows shown;
    EXPECT_EQ(startVantrel(), 2);
    ASSERT_EQ(MessageBox::shownForTesting().size(), 1);
    EXPECT_EQ(MessageBox::shownForTesting().front(),
              QString::fromStdString("Error 3: \"" + registry + "\" is not a registry database."));
    EXPECT_EQ(shown.count, 0);
    EXPECT_EQ(readBytes(registry), bytes);
    EXPECT_EQ(mdlDatabase::dbRegistry, nullptr) << "the failed load released the registry";
}

TEST_F(frmMainTest, ListsEveryNamedAccountInIndexOrder) {
    makeRegistry(folder.path());
    OtherProgram other(registry);
    for (const char* user : {"mike", "Zoë", "alice", "mike", "b&b", "100%_sure"})
        other.addAccount(user);
    other.addAccount(nullptr);
    frmMain window;
    ASSERT_EQ(window.Form_Load(), frmMain::LoadResult::Loaded);
    EXPECT_EQ(listed(window), (QStringList{"100%_sure", "Zoë", "alice", "b&b", "mike", "mike"}));
    EXPECT_TRUE(MessageBox::shownForTesting().isEmpty());
    EXPECT_FALSE(mdlDatabase::dbRegistry->isOpen()) << "the registry is closed once the list is filled";

    other.addAccount("zack"); // filled once, never refreshed
    EXPECT_EQ(listed(window).size(), 6);
}

TEST_F(frmMainTest, EmptyTableOrNoTableGivesAnEmptyList) {
    makeRegistry(folder.path());
    frmMain empty;
    ASSERT_EQ(empty.Form_Load(), frmMain::LoadResult::Loaded);
    EXPECT_EQ(empty.users()->rowCount(), 0);

    std::filesystem::remove(registry);
    writeBytes(registry, "");
    frmMain made;
    ASSERT_EQ(made.Form_Load(), frmMain::LoadResult::Loaded);
    EXPECT_EQ(made.users()->rowCount(), 0);
    EXPECT_EQ(OtherProgram(registry).number("SELECT count(*) FROM pragma_table_info('Servers')"), 8);
}

// A slow load shows the operator a count of the accounts read; a quick one shows nothing, and
// nothing of it stays once the list is loaded. Every look at the clock moves it on by a step.
TEST_F(frmMainTest, SlowLoadShowsItsProgressAndQuickLoadShowsNothing) {
    makeRegistry(folder.path());
    OtherProgram(registry).exec("INSERT INTO Servers (User) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                                "SELECT i + 1 FROM n WHERE i < 20000) SELECT printf('user%05d', i) FROM n");
    const struct {
        qint64 stepMs;
        bool shown;
    } cases[] = {{300, true}, {100, false}, {0, false}};
    for (const auto& c : cases) {
        qint64 clock = 0;
        QStringList seen; // what a loading window said at each look
        LoadingSplash::setClockForTesting([&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* splash = qobject_cast<QSplashScreen*>(top); splash && splash->isVisible())
                    seen << splash->message();
            return clock += c.stepMs;
        });
        ShownWindows shown;
        frmMain window;
        EXPECT_EQ(window.Form_Load(), frmMain::LoadResult::Loaded);
        LoadingSplash::setClockForTesting({});
        EXPECT_EQ(window.users()->rowCount(), 20000);
        EXPECT_EQ(!seen.isEmpty(), c.shown) << c.stepMs << " ms a look";
        EXPECT_EQ(shown.count > 0, c.shown) << c.stepMs << " ms a look";
        if (c.shown) {
            EXPECT_TRUE(seen.back().startsWith("Loading the registry")) << seen.back().toStdString();
        }
        for (QWidget* top : QApplication::topLevelWidgets())
            EXPECT_FALSE(top->isVisible()) << "left on screen: " << top->objectName().toStdString();
    }
}

// Keys and clicks land on the row the operator sees, also far down a long list, and the editor
// opens on the name that was clicked.
TEST_F(frmMainTest, KeysAndClicksReachEveryRowOfALongList) {
    makeRegistry(folder.path());
    OtherProgram(registry).exec("INSERT INTO Servers (User) WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL "
                                "SELECT i + 1 FROM n WHERE i < 99999) SELECT printf('user%05d', i) FROM n");
    frmMain window;
    ASSERT_EQ(window.Form_Load(), frmMain::LoadResult::Loaded);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    UserListView* list = window.lstUser();
    list->setFocus();
    const QRect viewport = list->viewport()->rect();
    auto currentName = [&] { return list->currentIndex().data().toString().toStdString(); };
    auto shownWhole = [&](int row) { return viewport.contains(list->visualRect(list->model()->index(row, 0))); };

    const struct {
        Qt::Key key;
        const char* name;
    } keys[] = {{Qt::Key_Home, "user00000"}, {Qt::Key_Down, "user00001"}, {Qt::Key_End, "user99999"},
                {Qt::Key_Up, "user99998"},   {Qt::Key_Home, "user00000"}, {Qt::Key_End, "user99999"}};
    for (const auto& k : keys) {
        QTest::keyClick(list, k.key);
        EXPECT_EQ(currentName(), k.name) << "after key " << k.key;
        EXPECT_TRUE(shownWhole(list->currentIndex().row())) << "after key " << k.key;
    }
    QTest::keyClick(list, Qt::Key_PageUp);
    const int pageUp = list->currentIndex().row();
    EXPECT_LT(pageUp, 99999);
    EXPECT_GT(pageUp, 99999 - viewport.height()) << "one page, not the whole list";
    EXPECT_FALSE(shownWhole(99999));
    EXPECT_TRUE(shownWhole(pageUp));

    // The third name from the top of what is shown now, clicked by its place on the screen.
    const QModelIndex top = list->indexAt(QPoint(1, 1));
    ASSERT_TRUE(top.isValid());
    const QString expected = QString("user%1").arg(top.row() + 2, 5, 10, QChar('0'));
    ASSERT_GT(top.row(), 90000);
    frmEdit* editor = openEntry(window, top.row() + 2);
    EXPECT_EQ(currentName(), expected.toStdString());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->User.toStdString(), expected.toStdString());
    editor->close();
    settle();
}

TEST_F(frmMainTest, ProgramEndsWithStatusZeroWhenItsWindowCloses) {
    makeRegistry(folder.path());
    OtherProgram(registry).addAccount("alice");
    QTimer::singleShot(0, [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible())
                window->close();
    });
    EXPECT_EQ(startVantrel(), 0);
}

TEST_F(frmMainTest, WindowLayout) {
    frmMain window;
    EXPECT_EQ(window.objectName(), "frmMain");
    EXPECT_EQ(window.windowTitle(), "Vantrel");
    EXPECT_EQ(window.size(), QSize(137, 316));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "fixed size";
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Window) << "an ordinary window, with a task-bar button";
    EXPECT_EQ(window.font().family(), "Verdana");
    EXPECT_DOUBLE_EQ(window.font().pointSizeF(), 8.25);

    UserListView* list = window.findChild<UserListView*>("lstUser");
    ASSERT_EQ(list, window.lstUser());
    EXPECT_EQ(list->geometry(), QRect(0, 0, 137, 316));
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->accessibleName(), "User names");
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    // Whatever font stands in for Verdana, a line of the list is tall enough for its text.
    EXPECT_GT(list->rowHeight(), QFontMetrics(list->font()).height());
}

} // namespace
