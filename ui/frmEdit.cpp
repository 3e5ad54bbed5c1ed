// SPDX-License-Identifier: MIT
#include "ui/frmEdit.h"

#include "store/Error.h"
#include "store/mdlDatabase.h"
#include "ui/Accessibility.h"
#include "ui/HandlerBoundary.h"
#include "ui/LimitedLineEdit.h"
#include "ui/LimitedTextEdit.h"
#include "ui/MessageBox.h"
#include "ui/NameDisplay.h"
#include "ui/StoredText.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

namespace {

template <class Label = QLabel>
Label* makeLabel(QWidget* parent, const char* name, const QString& caption, Qt::Alignment alignment, QRect geometry) {
    auto* label = new Label(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText); // a user name like "<b>x" is text, not markup
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setGeometry(geometry);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QString& accessible,
                        QRect geometry) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAccessibleName(accessible);
    button->setGeometry(geometry);
    button->setAutoDefault(false); // neither Enter nor Esc presses a button
    button->setDefault(false);
    return button;
}

// A user name as messages quote it: as stored, or, past what the list shows of a name, its
// start and the count of the rest, so a box never grows with a name a registry may hold.
std::string quotedName(const QString& user) {
    const QString name = user.size() > NameDisplay::shownCharacters ? NameDisplay::visible(user) : user;
    return dao::inQuotes(name.toStdString());
}

QString shown(const dao::Variant& value) {
    return value.isNull() ? QString() : storedText(value.toText());
}

// The value to store for a box: exactly what was read, null included, when the operator left
// the box alone, else the box's text.
dao::Variant stored(bool unchanged, const dao::Variant& loaded, const QString& text) {
    if (unchanged)
        return loaded;
    return dao::Variant(text.toStdString());
}

// The fields as the operator reads them, for messages: "Password", "Password and Name",
// "Password, Name and Official".
QString listed(const QStringList& names) {
    if (names.size() < 2)
        return names.join(QString());
    return names.first(names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + names.back();
}

} // namespace

void HeadingLabel::setName(const QString& shown, const QString& whole, const QString& why) {
    setText(shown);
    const QString described = why.isEmpty() ? whole : whole + QLatin1Char('\n') + why;
    setToolTip(QStringLiteral("<p style=\"white-space:pre\">") + described.toHtmlEscaped() + QStringLiteral("</p>"));
    setAccessibleDescription(described);
}

QString HeadingLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void HeadingLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(), isEnabled(), shownText(),
                          foregroundRole());
}

frmEdit::frmEdit(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    Accessibility::install();
    setObjectName(QStringLiteral("frmEdit"));
    setAttribute(Qt::WA_DeleteOnClose); // unloading discards the window; the next load starts afresh
    // Qt leaves tool windows out when it decides that the last window has closed; the editor
    // counts, so that it keeps the program running after the list window is closed.
    setAttribute(Qt::WA_QuitOnClose);
    setWindowTitle(QStringLiteral("Edit Registry Account"));
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(8.25);
    setFont(font);
    setFixedSize(twips::size(4215, 3015));

    txtPassword = new LimitedLineEdit(30, this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setAccessibleName(tr("Password"));
    txtPassword->setGeometry(twips::rect(1080, 480, 3015, 285));

    txtName = new LimitedLineEdit(30, this);
    txtName->setObjectName(QStringLiteral("txtName"));
    txtName->setAccessibleName(tr("Name"));
    txtName->setGeometry(twips::rect(1080, 840, 3015, 285));

    txtDescription = new LimitedTextEdit(500, this);
    txtDescription->setObjectName(QStringLiteral("txtDescription"));
    txtDescription->setAccessibleName(tr("Description"));
    txtDescription->setGeometry(twips::rect(120, 1440, 3975, 975));
    txtDescription->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    cmdEdit = makeButton(this, "cmdEdit", QStringLiteral("&Edit"), tr("Edit"), twips::rect(120, 2520, 1215, 375));
    cmdCancel =
        makeButton(this, "cmdCancel", QStringLiteral("C&ancel"), tr("Cancel"), twips::rect(2880, 2520, 1215, 375));

    lblUser = makeLabel<HeadingLabel>(this, "lblUser", QString(), Qt::AlignHCenter, twips::rect(0, 120, 4215, 255));
    QFont large(QStringLiteral("Verdana"));
    large.setPointSizeF(12);
    lblUser->setFont(large);
    lblPassword =
        makeLabel(this, "lblPassword", QStringLiteral("Password:"), Qt::AlignRight, twips::rect(0, 480, 975, 255));
    lblName = makeLabel(this, "lblName", QStringLiteral("Name:"), Qt::AlignRight, twips::rect(0, 840, 975, 255));
    lblDescription = makeLabel(this, "lblDescription", QStringLiteral("Description:"), Qt::AlignLeft,
                               twips::rect(120, 1200, 1095, 255));
    lblPassword->setBuddy(txtPassword);
    lblName->setBuddy(txtName);
    lblDescription->setBuddy(txtDescription);

    chkOfficial = new QCheckBox(QStringLiteral("&Official"), this);
    chkOfficial->setObjectName(QStringLiteral("chkOfficial"));
    chkOfficial->setAccessibleName(tr("Official"));
    chkOfficial->setGeometry(twips::rect(2280, 1155, 975, 255));

    setTabOrder(txtPassword, txtName);
    setTabOrder(txtName, txtDescription);
    setTabOrder(txtDescription, cmdEdit);
    setTabOrder(cmdEdit, cmdCancel);
    setTabOrder(cmdCancel, chkOfficial);

    connect(cmdEdit, &QPushButton::clicked, this, &frmEdit::cmdEdit_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmEdit::cmdCancel_Click);
    m_watchFocus = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now == txtPassword || now == txtName || now == txtDescription || now == chkOfficial)
            m_lastBox = now;
    });
}

frmEdit::~frmEdit() {
    // QWidget's own destructor hides the window, which moves the focus while this part is gone.
    disconnect(m_watchFocus);
}

bool frmEdit::load() {
    return runHandler(nullptr, [this] { Form_Load(); });
}

bool frmEdit::loadAccount(const QString& user) {
    const QString previous = User;
    User = user;
    if (load())
        return true;
    User = previous;
    return false;
}

bool frmEdit::isTouched() const {
    return !txtPassword->isUnchanged() || !txtName->isUnchanged() || !txtDescription->isUnchanged() ||
           chkOfficial->isChecked() != m_loadedChecked;
}

// Stands rsServers on the first row, in "User" order, whose user name is exactly User. Never
// stands on another row: without one, it fails naming the account.
void frmEdit::FindAccount() {
    using mdlDatabase::rsServers;
    const std::string user = User.toStdString();
    if (!rsServers->BOF()) {
        rsServers->Seek(user); // the index's own lookup, not a walk through the table
        // An index made by another program may compare without case: walk on to the exact name.
        while (!rsServers->Eof()) {
            const dao::Variant value = rsServers->Fields("User").Value();
            if (value.isText() && *value.text() == user)
                return;
            rsServers->MoveNext();
        }
    }
    throw dao::Error(dao::ErrorNumber::AccountNotFound,
                     "The account " + quotedName(User) +
                         " is not in the registry; another program may have removed or renamed it.");
}

frmEdit::Values frmEdit::ReadFields() {
    using mdlDatabase::rsServers;
    return {rsServers->Fields("Password").Value(), rsServers->Fields("Name").Value(),
            rsServers->Fields("Official").Value(), rsServers->Fields("Description").Value()};
}

// Reads everything before it shows anything: an editor already open on another account keeps it
// when this one cannot be loaded.
void frmEdit::Form_Load() {
    mdlDatabase::OpenDB();
    FindAccount();
    const Values loaded = ReadFields();
    if (!loaded.official.isNull() && !loaded.official.isInteger())
        throw dao::Error(dao::ErrorNumber::ValueRefused, "The account " + quotedName(User) +
                                                             " cannot be edited: its field " + "\"Official\" holds " +
                                                             loaded.official.describe() +
                                                             ", which is neither true nor false.");
    mdlDatabase::CloseDB();
    ShowLoaded(loaded);
}

void frmEdit::ShowLoaded(const Values& loaded) {
    m_loadedPassword = loaded.password;
    m_loadedName = loaded.name;
    m_loadedOfficial = loaded.official;
    m_loadedDescription = loaded.description;
    lblUser->setName(NameDisplay::shown(User), NameDisplay::visible(User), NameDisplay::lookReason(User));
    setAccessibleName(windowTitle() + QStringLiteral(": ") + NameDisplay::visible(User));
    txtPassword->loadText(shown(m_loadedPassword));
    txtName->loadText(shown(m_loadedName));
    m_loadedChecked = !m_loadedOfficial.isNull() && m_loadedOfficial.toBool();
    chkOfficial->setChecked(m_loadedChecked);
    txtDescription->loadText(shown(m_loadedDescription));
}

QStringList frmEdit::ChangedFields(const Values& current) const {
    QStringList changed;
    if (current.password != m_loadedPassword)
        changed << tr("Password");
    if (current.name != m_loadedName)
        changed << tr("Name");
    if (current.official != m_loadedOfficial)
        changed << tr("Official");
    if (current.description != m_loadedDescription)
        changed << tr("Description");
    return changed;
}

QWidget* frmEdit::TakeCurrent(const Values& current) {
    QWidget* both = nullptr;
    const auto take = [&both](auto* box, dao::Variant& loaded, const dao::Variant& now) {
        if (box->isUnchanged())
            box->loadText(shown(now));
        else if (now != loaded && !both)
            both = box;
        loaded = now;
    };
    take(txtPassword, m_loadedPassword, current.password);
    take(txtName, m_loadedName, current.name);
    take(txtDescription, m_loadedDescription, current.description);
    const bool checked = !current.official.isNull() && current.official.toBool();
    if (chkOfficial->isChecked() == m_loadedChecked)
        chkOfficial->setChecked(checked);
    else if (current.official != m_loadedOfficial && !both)
        both = chkOfficial;
    m_loadedOfficial = current.official;
    m_loadedChecked = checked;
    return both;
}

QWidget* frmEdit::BoxNamedBy(const std::string& description) const {
    const std::pair<const char*, QWidget*> boxes[] = {
        {"Password", txtPassword}, {"Name", txtName}, {"Description", txtDescription}, {"Official", chkOfficial}};
    for (const auto& [field, box] : boxes)
        if (description.starts_with("The value for " + dao::inQuotes(field)))
            return box;
    return nullptr;
}

// After a save met error 23: the operator's typing is kept and what the other program wrote is
// shown, so the next Edit saves the one over the other knowingly, without typing anything again.
// Nothing is written here. Sets `focus` to the box both sides changed, if any, then throws the
// conflict naming the fields that differ. An account gone meanwhile is error 21.
void frmEdit::ShowCurrentAfterConflict(QWidget*& focus) {
    mdlDatabase::ReleaseDB();
    mdlDatabase::OpenDB();
    FindAccount();
    const Values current = ReadFields();
    mdlDatabase::CloseDB();
    const QStringList changed = ChangedFields(current);
    focus = TakeCurrent(current);
    const std::string which = changed.isEmpty() ? std::string()
                                                : " " + listed(changed).toStdString() +
                                                      (changed.size() > 1 ? " were" : " was") +
                                                      " changed by another program.";
    throw dao::Error(dao::ErrorNumber::AccountChanged,
                     "The account " + quotedName(User) +
                         " was changed by another program since it was opened; nothing was saved." + which +
                         " The editor now shows the account's current values, except in the boxes you changed, "
                         "which keep your text: press Edit to save it.");
}

void frmEdit::cmdEdit_Click() {
    QString unconfirmed;       // the save is in the file, but the disk did not confirm it
    QWidget* focus = nullptr;  // where typing goes on after a refused save
    const bool saved = runHandler(this, [this, &unconfirmed, &focus] {
        using mdlDatabase::rsServers;
        try {
            mdlDatabase::OpenDB();
            FindAccount();
            rsServers->Edit();
            // The row must still be the one the editor loaded: the same user name and the same four
            // fields, compared inside the save's own transaction. Another program may have changed,
            // renamed or replaced the account meanwhile; its change is then kept and nothing is saved.
            rsServers->Fields("User").SetOriginalValue(dao::Variant(User.toStdString()));
            rsServers->Fields("Password").SetOriginalValue(m_loadedPassword);
            rsServers->Fields("Name").SetOriginalValue(m_loadedName);
            rsServers->Fields("Official").SetOriginalValue(m_loadedOfficial);
            rsServers->Fields("Description").SetOriginalValue(m_loadedDescription);
            rsServers->Fields("Password")
                .SetValue(stored(txtPassword->isUnchanged(), m_loadedPassword, txtPassword->text()));
            rsServers->Fields("Name").SetValue(stored(txtName->isUnchanged(), m_loadedName, txtName->text()));
            const bool checked = chkOfficial->isChecked();
            rsServers->Fields("Official")
                .SetValue(checked == m_loadedChecked ? m_loadedOfficial : dao::Variant(checked));
            rsServers->Fields("Description")
                .SetValue(stored(txtDescription->isUnchanged(), m_loadedDescription, txtDescription->textWithCrLf()));
            try {
                rsServers->Update(dao::UpdateType::Regular, false);
            } catch (const dao::Error& error) {
                if (error.code() == dao::ErrorNumber::SavedNotConfirmed) {
                    unconfirmed = QStringLiteral("Warning %1: %2")
                                      .arg(error.number())
                                      .arg(QString::fromStdString(error.description()));
                    mdlDatabase::ReleaseDB();
                    return;
                }
                if (error.code() != dao::ErrorNumber::AccountChanged)
                    throw;
                ShowCurrentAfterConflict(focus);
            }
            mdlDatabase::CloseDB();
        } catch (const dao::Error& error) {
            if (!focus)
                focus = BoxNamedBy(error.description());
            throw;
        }
    });
    // A failed save keeps the editor open with everything the operator typed, and the keyboard
    // in the box the error names, else in the box it was in before Edit: never on Edit itself,
    // where typed letters would vanish. A save that is in the file is done, even when the disk
    // did not confirm that it will outlive a power cut: the editor closes, and the operator is
    // told.
    if (!saved) {
        if (!focus)
            focus = m_lastBox ? m_lastBox.data() : txtPassword;
        if (isVisible())
            focus->setFocus(Qt::OtherFocusReason);
        return;
    }
    close();
    if (!unconfirmed.isEmpty())
        MessageBox::show(nullptr, unconfirmed, MessageBox::Icon::Warning);
}

void frmEdit::cmdCancel_Click() {
    close();
}
