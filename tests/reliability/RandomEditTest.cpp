// SPDX-License-Identifier: MIT
// Random edits through the account editor, judged against a model of the table's rules:
// Password 1 to 15 characters, Name up to 50, Description up to 250 once its line breaks are
// CR LF, no NUL character anywhere (characters are Unicode code points). Every edit the model
// accepts must save and read back byte for byte; every edit it refuses must fail naming a field,
// leave the row as it was and keep the editor open with the operator's text.
//
// Text reaches the boxes the way an operator brings it: pasted from the clipboard over the whole
// box (Ctrl+A, Ctrl+V) or typed key by key at its end, so the boxes' own limits (30, 30 and 500
// characters) apply. Loaded values, shown whole, come from accounts stored at each field's limit.
// Text is made of Unicode scalar values only: a lone surrogate has no UTF-8 form, so no operator
// can bring one to the store.
#include "store/mdlDatabase.h"
#include "tests/reliability/Scale.h"
#include "tests/support/Operator.h"
#include "tests/support/OtherProgram.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WindowTest.h"
#include "ui/LimitedLineEdit.h"
#include "ui/LimitedTextEdit.h"
#include "ui/MessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>

using namespace testing_support;
using reliability::scaled;

namespace {

constexpr int accounts = 16;

qsizetype characters(const QString& text) {
    return text.toUcs4().size();
}

class Generator {
public:
    explicit Generator(unsigned seed) : m_random(seed) {}

    int below(int n) { return static_cast<int>(m_random() % static_cast<unsigned>(n)); }
    bool chance(int percent) { return below(100) < percent; }

    // One character: mostly ASCII, then other scripts, characters beyond the BMP, control
    // characters and line breaks of every kind; never a surrogate.
    QString character() {
        const int kind = below(100);
        char32_t c;
        if (kind < 50)
            c = static_cast<char32_t>(0x20 + below(0x5F));
        else if (kind < 68) {
            do
                c = static_cast<char32_t>(0xA0 + below(0xFFFE - 0xA0));
            while (c >= 0xD800 && c <= 0xDFFF);
        } else if (kind < 78)
            c = below(2) ? static_cast<char32_t>(0x1F600 + below(0x50))
                         : static_cast<char32_t>(0x10000 + below(0x100000));
        else if (kind < 88) {
            static const char32_t controls[] = {0x01, 0x07, 0x08,   0x09,   0x0B,   0x0C,   0x1B,   0x1F,  0x7F,
                                                0x85, 0x9F, 0x200B, 0x200E, 0x202E, 0xFEFF, 0xFFFE, 0xFFFF};
            c = controls[below(static_cast<int>(std::size(controls)))];
        } else {
            static const char32_t breaks[] = {U'\n', U'\r', 0x2028, 0x2029};
            c = breaks[below(4)];
        }
        return QString::fromUcs4(&c, 1);
    }

    // Text of about `length` characters; now and then with a NUL in it.
    QString text(int length) {
        QString text;
        for (int i = 0; i < length; ++i)
            text += character();
        if (length > 0 && chance(2))
            text.insert(below(static_cast<int>(text.size())), QChar(0));
        return text;
    }

    // A length near one of the limits that matter for a box: the store's and the box's own.
    int lengthNear(std::initializer_list<int> limits) {
        const int limit = *(limits.begin() + below(static_cast<int>(limits.size())));
        return std::max(0, limit - 3 + below(7));
    }

private:
    std::mt19937 m_random;
};

// What an operator does to one box.
enum class Action { Leave, Paste, Type };

class RandomEditTest : public WindowTest<::testing::TestWithParam<int>> {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        registry = makeRegistry(folder.path());
        other = std::make_unique<OtherProgram>(registry);
        // Stored at and near each limit, with line breaks of every kind in the descriptions.
        std::vector<std::vector<dao::Variant>> rows;
        for (int k = 0; k < accounts; ++k)
            rows.push_back(
                {"edit-" + std::to_string(k), std::string(static_cast<std::size_t>(15 - k % 3), 'p'),
                 QString("é").repeated(50 - k % 4).toStdString(),
                 (QString("x").repeated(100) + (k % 2 ? "\r\n" : "\n") + QString("ü").repeated(140 - k)).toStdString(),
                 "http://x", k % 2, 7, 9});
        other->addRows("User, Password, Name, Description, UpdateURL, Official, Date, Time", rows);
    }

    // Every field of the account, as SQL quotes them.
    std::string row(int k) {
        return other->quotedRow("edit-" + std::to_string(k),
                                "Password, Name, Description, UpdateURL, Official, Date, Time");
    }
    std::string field(int k, const char* name) {
        SQLite::Statement query(other->connection(), std::string("SELECT ") + name +
                                                         " FROM Servers WHERE User = 'edit-" + std::to_string(k) + "'");
        query.executeStep();
        return query.getColumn(0).getString();
    }

    void act(Generator& generate, QWidget* box, Action action, QString text) {
        if (action == Action::Paste) {
            QApplication::clipboard()->setText(text);
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        } else if (action == Action::Type) {
            QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier);
            for (const QChar c : text.left(std::min<qsizetype>(text.size(), 12))) {
                if (c == '\n')
                    QTest::keyClick(box, Qt::Key_Return, generate.chance(30) ? Qt::ShiftModifier : Qt::NoModifier);
                else
                    typeInto(box, QString(c));
            }
        }
    }

    std::unique_ptr<OtherProgram> other;
};

// The Description as the operator sees it, each line break (paragraph or line separator) as
// CR LF: what a changed box must store.
QString descriptionShown(LimitedTextEdit* box) {
    QString text;
    for (QTextBlock block = box->document()->begin(); block.isValid(); block = block.next()) {
        if (block != box->document()->begin())
            text += QStringLiteral("\r\n");
        text += block.text();
    }
    return text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
}

// Ten runs of a thousand edits, each from a seed of its own, so that each stays well inside the
// time a hung test is given.
TEST_P(RandomEditTest, EveryEditIsSavedExactlyOrRefusedWithNothingWritten) {
    const int batch = GetParam();
    Generator generate(20240607 + static_cast<unsigned>(batch));
    const int edits = scaled(1'000);
    int accepted = 0;
    int refused = 0;
    int disagreements = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int edit = 0; edit < edits; ++edit) {
        const int k = generate.below(accounts);
        const std::string before = row(k);
        const std::string loadedPassword = field(k, "Password");
        const std::string loadedName = field(k, "Name");
        const std::string loadedDescription = field(k, "Description");
        const bool loadedOfficial = field(k, "Official") == "1";

        auto* editor = new frmEdit();
        editor->User = QStringLiteral("edit-%1").arg(k);
        ASSERT_TRUE(editor->load()) << MessageBox::shownForTesting().join("\n").toStdString();

        auto action = [&] {
            const int roll = generate.below(100);
            return roll < 25 ? Action::Leave : roll < 75 ? Action::Paste : Action::Type;
        };
        const Action passwordAction = action();
        const Action nameAction = action();
        const Action descriptionAction = action();
        act(generate, editor->txtPassword, passwordAction, generate.text(generate.lengthNear({1, 15, 30})));
        act(generate, editor->txtName, nameAction, generate.text(generate.lengthNear({0, 30})));
        act(generate, editor->txtDescription, descriptionAction,
            generate.text(generate.lengthNear({0, 125, 250, 500})));
        if (generate.chance(50))
            editor->chkOfficial->setChecked(!editor->chkOfficial->isChecked());

        // The boxes hold no more than their limits let the operator bring, or what was loaded.
        const QString password = editor->txtPassword->text();
        const QString name = editor->txtName->text();
        const QString description = descriptionShown(editor->txtDescription);
        EXPECT_LE(characters(password), std::max<qsizetype>(30, characters(QString::fromStdString(loadedPassword))));
        EXPECT_LE(characters(name), std::max<qsizetype>(30, characters(QString::fromStdString(loadedName))));
        EXPECT_LE(characters(editor->txtDescription->toPlainText()),
                  std::max<qsizetype>(500, characters(QString::fromStdString(loadedDescription))));

        // The model: what the store must hold after the save, and whether it may.
        const std::string newPassword = editor->txtPassword->isUnchanged() ? loadedPassword : password.toStdString();
        const std::string newName = editor->txtName->isUnchanged() ? loadedName : name.toStdString();
        const std::string newDescription =
            editor->txtDescription->isUnchanged() ? loadedDescription : description.toStdString();
        const bool newOfficial = editor->chkOfficial->isChecked();
        auto fits = [](const std::string& text, qsizetype least, qsizetype most) {
            const qsizetype n = characters(QString::fromStdString(text));
            return text.find('\0') == std::string::npos && n >= least && n <= most;
        };
        const bool acceptable = fits(newPassword, 1, 15) && fits(newName, 0, 50) && fits(newDescription, 0, 250);

        MessageBox::clearShownForTesting();
        click(editor->cmdEdit);
        const bool closed = !editor->isVisible() && MessageBox::shownForTesting().isEmpty();
        if (closed != acceptable) {
            ++disagreements;
            ADD_FAILURE() << "edit " << edit << ": the model " << (acceptable ? "accepts" : "refuses")
                          << " but the editor " << (closed ? "saved" : "refused") << "; "
                          << MessageBox::shownForTesting().join("\n").toStdString();
        }
        if (closed) {
            ++accepted;
            settle(); // the editor deletes itself on close
            const std::string expected = sqlLiteral(newPassword) + "|" + sqlLiteral(newName) + "|" +
                                         sqlLiteral(newDescription) + "|'http://x'|" + (newOfficial ? "1" : "0") +
                                         "|7|9";
            EXPECT_EQ(row(k), expected) << "edit " << edit;
        } else {
            ++refused;
            EXPECT_EQ(MessageBox::shownForTesting().size(), 1) << "edit " << edit;
            EXPECT_TRUE(MessageBox::shownForTesting().value(0).startsWith("Error 16: The value for \""))
                << "edit " << edit << ": " << MessageBox::shownForTesting().value(0).toStdString();
            EXPECT_EQ(row(k), before) << "edit " << edit << ": a refused save wrote something";
            EXPECT_EQ(editor->txtPassword->text(), password) << "edit " << edit;
            EXPECT_EQ(editor->txtName->text(), name) << "edit " << edit;
            EXPECT_EQ(descriptionShown(editor->txtDescription), description) << "edit " << edit;
            delete editor;
        }
        if (HasFailure())
            break;
        (void)loadedOfficial;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[reliability] random edits, run %d: %d checked against the model, %d saved and read back exactly, "
                "%d refused with nothing written, %d disagreements, in %.1f s\n",
                batch, edits, accepted, refused, disagreements, seconds);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomEditTest, ::testing::Range(0, 10));

} // namespace
