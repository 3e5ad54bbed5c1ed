// SPDX-License-Identifier: MIT
#include "tests/support/LookAlikeNames.h"
#include "ui/PackedNames.h"
#include "ui/UserListModel.h"
#include "ui/UserListView.h"
#include "ui/frmMain.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QStringListModel>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

PackedNames namesOf(const std::vector<std::string>& names) {
    PackedNames packed;
    for (const std::string& name : names)
        packed.append(name);
    return packed;
}

// A list window holding `names`, shown, without a registry behind it.
class ShownList {
public:
    explicit ShownList(const std::vector<std::string>& names) {
        window.users()->setNames(namesOf(names));
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    QImage row(int row) {
        UserListView* view = window.lstUser();
        return view->viewport()->grab(view->visualRect(view->model()->index(row, 0))).toImage();
    }
    frmMain window;
};

TEST(UserListTest, InvisibleCharactersAreShownAsMarks) {
    struct Case {
        const char* stored;
        const char* shown;
    };
    const Case cases[] = {
        {"alice", "alice"},
        {" admin", "⟨U+0020⟩admin"},
        {"admin ", "admin⟨U+0020⟩"},
        {"ad min", "ad min"},
        {"ad\u200Bmin", "ad⟨U+200B⟩min"},
        {"user\u202E123", "user⟨U+202E⟩123"},
        {"\u202Egnp.exe", "⟨U+202E⟩gnp.exe"},
        {"\u2067x\u2069y", "⟨U+2067⟩x⟨U+2069⟩y"},
        {"a\tb\nc\r", "a⟨U+0009⟩b⟨U+000A⟩c⟨U+000D⟩"},
        {"\uFEFFbom", "⟨U+FEFF⟩bom"},
        {"soft\u00ADhyphen", "soft⟨U+00AD⟩hyphen"},
        {"nb\u00A0sp", "nb⟨U+00A0⟩sp"},
        {"line\u2028sep", "line⟨U+2028⟩sep"},
        {"tag\U000E0041", "tag⟨U+E0041⟩"},
        {"x\x7f\xc2\x85", "x⟨U+007F⟩⟨U+0085⟩"},
        {"smile😀", "smile😀"},
        {"שלום", "שלום"},
        {"\u0430dmin", "\u0430dmin \u26A0"},
        {"⟨U+202E⟩", "⟨U+27E8⟩U+202E⟨U+27E9⟩"}, // a name that spells a mark is not taken for one
        {"␉x", "␉x"},
        {"admin \u26A0", "admin ⟨U+26A0⟩"}, // nor is a name that holds the mark of a look-alike
    };
    std::vector<std::string> names;
    for (const Case& c : cases)
        names.push_back(c.stored);
    UserListModel model;
    model.setNames(namesOf(names));
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row, 0);
        EXPECT_EQ(index.data().toString().toStdString(), cases[row].shown) << cases[row].stored;
        EXPECT_EQ(index.data(Qt::AccessibleTextRole), index.data()) << "a screen reader hears what is shown";
        EXPECT_EQ(model.utf8Name(row), cases[row].stored) << "the stored name stays exact";
    }
}

TEST(UserListTest, TooltipsShowTheWholeNameAndTheCodePointsOfAnyButPrintableAscii) {
    UserListModel model;
    model.setNames(namesOf({"admin", "\u0430dmin", "<b>x</b> ", "a-very-long-user-name-wider-than-the-list"}));
    auto tip = [&](int row) { return model.index(row, 0).data(Qt::ToolTipRole).toString(); };
    EXPECT_FALSE(tip(0).contains("U+"));
    EXPECT_TRUE(tip(1).contains("U+0430 U+0064 U+006D U+0069 U+006E")) << tip(1).toStdString();
    EXPECT_TRUE(tip(2).contains("&lt;b&gt;x&lt;/b&gt;⟨U+0020⟩")) << "markup in a name is text";
    EXPECT_TRUE(tip(3).contains("a-very-long-user-name-wider-than-the-list"));
}

TEST(UserListTest, NamesThatPassForOthersAreMarkedAndSayWhy) {
    using testing_support::lookAlikeNames;
    std::vector<std::string> names;
    for (const auto& entry : lookAlikeNames)
        names.push_back(entry.name);
    UserListModel model;
    model.setNames(namesOf(names));
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row, 0);
        const bool marked = lookAlikeNames[row].marked;
        EXPECT_EQ(index.data().toString().endsWith(" \u26A0"), marked) << names[row];
        EXPECT_EQ(index.data(Qt::ToolTipRole).toString().contains("\u26A0 This name "), marked) << names[row];
        EXPECT_EQ(index.data(Qt::AccessibleDescriptionRole).toString().isEmpty(), !marked) << names[row];
    }
    EXPECT_EQ(model.index(1, 0).data(Qt::AccessibleDescriptionRole).toString(),
              "This name mixes Latin and Cyrillic letters: \u0430 is U+0430 CYRILLIC SMALL LETTER A.");
    EXPECT_EQ(model.index(7, 0).data(Qt::AccessibleDescriptionRole).toString(),
              "This name is not in Unicode normalization form C: \"\u00E9\" is written as U+0065 U+0301, not as "
              "U+00E9.");
}

TEST(UserListTest, NamesThatDifferOnlyInInvisibleCharactersNeverPaintAlike) {
    const std::vector<std::string> alike = {" admin",      "admin",       "admin ",      "ad\u200Bmin",
                                            "admin\u200D", "\uFEFFadmin", "ad\u00ADmin", "ad\u2060min"};
    ShownList list(alike);
    for (std::size_t a = 0; a < alike.size(); ++a)
        for (std::size_t b = a + 1; b < alike.size(); ++b)
            EXPECT_NE(list.row(int(a)), list.row(int(b))) << alike[a] << " and " << alike[b];
}

TEST(UserListTest, ABidiOverrideActsNeitherOnItsNameNorOnItsNeighbours) {
    ShownList overridden({"\u202Eabc", "user\u202E123", "xyz"});
    ShownList plain({"\u202Eabc", "user321", "xyz"});
    EXPECT_EQ(overridden.window.lstUser()->model()->index(1, 0).data().toString(), "user⟨U+202E⟩123");
    EXPECT_NE(overridden.row(1), plain.row(1)) << "\"user\" U+202E \"123\" must not look like \"user321\"";
    EXPECT_EQ(overridden.row(2), plain.row(2)) << "the next name is drawn as it is";
}

TEST(UserListTest, HomeAndEndGoToTheFirstAndLastNameAndSpaceAndF2OpenNothing) {
    ShownList list({"alice", "bob", "carol", "dave"});
    UserListView* view = list.window.lstUser();
    view->setFocus();
    view->setCurrentIndex(view->model()->index(1, 0));
    const std::pair<Qt::Key, int> keys[] = {{Qt::Key_End, 3}, {Qt::Key_Home, 0}, {Qt::Key_End, 3}};
    for (const auto& [key, row] : keys) {
        QTest::keyClick(view, key);
        EXPECT_EQ(view->currentIndex().row(), row);
        EXPECT_TRUE(view->selectionModel()->isRowSelected(row, {}));
    }
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_F2}) // Enter opens: see frmEditTest
        QTest::keyClick(view, key);
    EXPECT_EQ(list.window.editor(), nullptr);
}

// Type-ahead goes on from the name after the selected one, round past the last, and lands on a
// name that starts with what was typed: never on the name after a run of them.
TEST(UserListTest, TypeAheadGoesRoundAndLandsOnAMatch) {
    ShownList list({"ann", "anna", "bob", "carl", "zed", "zoe"});
    UserListView* view = list.window.lstUser();
    view->setFocus();
    QApplication::setKeyboardInputInterval(0); // every key a search of its own
    const struct {
        int from;
        char typed;
        int row;
        const char* what;
    } cases[] = {
        {5, 'a', 0, "from the last name, round to the top"},
        {1, 'a', 0, "past the run of matches, round to its first, not on to \"bob\""},
        {4, 'z', 5, "a run at the very end"},
        {5, 'z', 4, "round within a run at the very end"},
        {2, 'b', 2, "a run of one name: the name itself"},
        {3, 'x', 3, "a prefix no name has: the selection stays"},
    };
    for (const auto& c : cases) {
        view->setCurrentIndex(view->model()->index(c.from, 0));
        QTest::qSleep(2);
        QTest::keyClick(view, c.typed);
        EXPECT_EQ(view->currentIndex().row(), c.row) << c.what;
    }
    QApplication::setKeyboardInputInterval(400);
}

// Qt's own checks of what a model promises its views, through every load of a shown list: with
// names, empty, and loaded again. A broken promise ends the run.
TEST(UserListTest, KeepsTheModelContractWhenLoadedEmptiedAndReloaded) {
    ShownList list({"bob", "alice"});
    UserListModel* users = list.window.users();
    QAbstractItemModelTester tester(users, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const std::vector<std::string> loads[] = {{}, {"alice", "bob", "\u202Eabc"}, {"bob"}, {}};
    for (const std::vector<std::string>& names : loads) {
        list.window.lstUser()->setCurrentIndex(users->index(0, 0));
        users->setNames(namesOf(names));
        EXPECT_EQ(users->rowCount(), int(names.size()));
        EXPECT_FALSE(list.window.lstUser()->currentIndex().isValid()) << "no row of the old names stays current";
    }
}

// A million names in code point order, with letters whose case variants lie far apart in that
// order: "K" and the Kelvin sign, "s" and the long s, final and other sigma, and so on.
class UserListMillionNames : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::vector<std::string> letters = {"a", "A", "b", "B",      "k", "K", "\u212A", "s", "S", "\u017F",
                                                  "é", "É", "σ", "Σ",      "ς", "ß", "ẞ",      "ı", "I", "i",
                                                  "İ", "ω", "Ω", "\u2126", "ǅ", "ǆ", "z",      "-", "1", "𐐨"};
        std::mt19937 random(13);
        std::vector<std::string> names(1'000'000);
        for (std::string& name : names) {
            const int length = 1 + int(random() % 8);
            for (int i = 0; i < length; ++i)
                name += letters[random() % letters.size()];
        }
        std::sort(names.begin(), names.end());
        storedNames = new std::vector<std::string>(std::move(names));
    }
    static void TearDownTestSuite() {
        delete storedNames;
        storedNames = nullptr;
    }
    static std::vector<std::string>* storedNames;
};

std::vector<std::string>* UserListMillionNames::storedNames = nullptr;

// The reference is Qt's own linear search, QAbstractItemModel::match, over the same names as
// plain strings: a typed prefix is looked for from the row after the current one when a search
// starts or a letter is repeated ("kkk" steps through the names that start with "k"), else from
// the current row, ignoring case and wrapping round.
TEST_F(UserListMillionNames, TypeAheadLandsWhereQtsOwnLinearScanLands) {
    UserListView view;
    UserListModel& users = *view.users();
    users.setNames(namesOf(*storedNames));
    QStringList plain;
    for (const std::string& name : *storedNames)
        plain << QString::fromStdString(name);
    QStringListModel scanned(plain);

    struct Batch {
        int startRow;
        QStringList keys;
    };
    const int last = int(storedNames->size()) - 1;
    const Batch batches[] = {
        {0, {"a"}},
        {0, {"a", "b"}},
        {500'000, {"k", "k", "k"}},
        {500'000, {"K", "s"}},
        {last, {"a"}},
        {last, {"z", "z", "z"}},
        {123'456, {"b", "b", "b", "b"}},
        {0, {"ß", "s"}},
        {0, {"Σ", "Ω"}},
        {999'000, {"ς", "ς"}},
        {7, {"ǅ", "z"}},
        {0, {"İ", "i", "I"}},
        {0, {"-", "1"}},
        {0, {"𐐀"}},
        {0, {"q", "q"}},
        {700'000, {"é", "É", "é"}},
        {last, {"ẞ"}},
        {last / 2, {"I"}},
        {last / 3, {"s", "\u017F", "k"}},
    };
    for (const Batch& batch : batches) {
        view.setCurrentIndex(users.index(batch.startRow, 0));
        QString typed;
        for (const QString& key : batch.keys) {
            // The first key of a batch comes after a pause, the others at once.
            QApplication::setKeyboardInputInterval(typed.isEmpty() ? 0 : 3'600'000);
            if (typed.isEmpty())
                QTest::qSleep(2);
            const int current = view.currentIndex().row();
            typed += key;
            const bool repeated = typed.size() > key.size() && typed == key.repeated(typed.size() / key.size());
            const bool fromNext = typed.size() == key.size() || repeated;
            const int start = fromNext ? (current + 1) % int(plain.size()) : current;
            const QModelIndexList match = scanned.match(scanned.index(start, 0), Qt::DisplayRole,
                                                        repeated ? key : typed, 1, Qt::MatchStartsWith | Qt::MatchWrap);
            view.keyboardSearch(key);
            ASSERT_EQ(view.currentIndex().row(), match.isEmpty() ? current : match.front().row())
                << "from row " << batch.startRow << ", typing " << typed.toStdString();
        }
    }
    QApplication::setKeyboardInputInterval(400);
}

TEST_F(UserListMillionNames, AScreenReaderSeesOneListItemPerName) {
    QAccessible::setActive(true);
    ShownList list({});
    list.window.users()->setNames(namesOf(*storedNames));
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&list.window);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Window) << "a frame, not filler";
    EXPECT_EQ(window->text(QAccessible::Name), "Vantrel");

    UserListView* view = list.window.lstUser();
    QAccessibleInterface* names = QAccessible::queryAccessibleInterface(view);
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names->role(), QAccessible::List);
    EXPECT_EQ(names->text(QAccessible::Name), "User names");
    EXPECT_EQ(names->childCount(), 1'000'000) << "no header row, no header per row";
    for (const int row : {0, 1, 499'999, 999'999}) {
        QAccessibleInterface* item = names->child(row);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->role(), QAccessible::ListItem);
        EXPECT_EQ(item->text(QAccessible::Name), view->model()->index(row, 0).data().toString());
        EXPECT_EQ(names->indexOfChild(item), row);
        EXPECT_EQ(item->parent(), names);
    }
    view->setFocus();
    view->setCurrentIndex(view->model()->index(42, 0));
    ASSERT_NE(names->focusChild(), nullptr);
    EXPECT_EQ(names->focusChild(), names->child(42));
    EXPECT_TRUE(names->child(42)->state().selected);
    EXPECT_TRUE(names->child(999'999)->state().offscreen);
    QAccessible::setActive(false);
}

} // namespace
