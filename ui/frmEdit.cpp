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

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, Qt::Alignment alignment, QRect geometry) {
    auto* label = new QLabel(caption, parent);
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

} // namespace

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

    lblUser = makeLabel(this, "lblUser", QString(), Qt::AlignHCenter, twips::rect(0, 120, 4215, 255));
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
}

bool frmEdit::load() {
    return runHandler(nullptr, [this] { Form_Load(); });
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

void frmEdit::Form_Load() {
    using mdlDatabase::rsServers;
    mdlDatabase::OpenDB();
    FindAccount();
    m_loadedPassword = rsServers->Fields("Password").Value();
    m_loadedName = rsServers->Fields("Name").Value();
    m_loadedOfficial = rsServers->Fields("Official").Value();
    m_loadedDescription = rsServers->Fields("Description").Value();
    if (!m_loadedOfficial.isNull() && !m_loadedOfficial.isInteger())
        throw dao::Error(dao::ErrorNumber::ValueRefused, "The account " + quotedName(User) +
                                                             " cannot be edited: its field " + "\"Official\" holds " +
                                                             m_loadedOfficial.describe() +
                                                             ", which is neither true nor false.");
    mdlDatabase::CloseDB();

    lblUser->setText(NameDisplay::shown(User));
    lblUser->setToolTip(NameDisplay::lookReason(User));
    lblUser->setAccessibleDescription(NameDisplay::lookReason(User));
    setAccessibleName(windowTitle() + QStringLiteral(": ") + NameDisplay::visible(User));
    txtPassword->loadText(shown(m_loadedPassword));
    txtName->loadText(shown(m_loadedName));
    m_loadedChecked = !m_loadedOfficial.isNull() && m_loadedOfficial.toBool();
    chkOfficial->setChecked(m_loadedChecked);
    txtDescription->loadText(shown(m_loadedDescription));
}

void frmEdit::cmdEdit_Click() {
    QString unconfirmed; // the save is in the file, but the disk did not confirm it
    const bool saved = runHandler(this, [this, &unconfirmed] {
        using mdlDatabase::rsServers;
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
        rsServers->Fields("Official").SetValue(checked == m_loadedChecked ? m_loadedOfficial : dao::Variant(checked));
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
            throw dao::Error(dao::ErrorNumber::AccountChanged,
                             "The account " + quotedName(User) +
                                 " was changed by another program since it was opened; nothing was saved. Press "
                                 "Cancel and open the account again to see its current values.");
        }
        mdlDatabase::CloseDB();
    });
    // A failed save keeps the editor open with everything the operator typed. A save that is in
    // the file is done, even when the disk did not confirm that it will outlive a power cut: the
    // editor closes, and the operator is told.
    if (!saved)
        return;
    close();
    if (!unconfirmed.isEmpty())
        MessageBox::show(nullptr, unconfirmed, MessageBox::Icon::Warning);
}

void frmEdit::cmdCancel_Click() {
    close();
}
