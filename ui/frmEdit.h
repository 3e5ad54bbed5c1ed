// SPDX-License-Identifier: MIT
#pragma once

#include "store/Variant.h"

#include <QLabel>
#include <QPointer>
#include <QWidget>

class QCheckBox;
class QPushButton;
class LimitedLineEdit;
class LimitedTextEdit;

// The editor's heading: a user name on one line. A name wider than the heading is drawn with its
// middle left out ("…"); text() stays the whole name, which the tooltip and the accessible
// description also hold.
class HeadingLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

    // `shown`: the name as drawn, cut in the middle when it is wider than the heading; `whole`:
    // the whole name, for the tooltip and the description, with `why` it may pass for another.
    void setName(const QString& shown, const QString& whole, const QString& why = {});
    // What the heading draws.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The account editor: shows one account and writes the operator's changes to its row. It holds
// nothing of the registry between events: loading and saving each find the account anew.
class frmEdit : public QWidget {
    Q_OBJECT

public:
    explicit frmEdit(QWidget* parent = nullptr);
    ~frmEdit() override;

    // The user name of the account being edited; set before the editor loads.
    QString User;

    // Runs the load handler inside the handler boundary. False when it failed: the error was
    // shown and the editor must not be shown.
    bool load();
    // Loads the account of `user`, also into an editor already shown. When that fails, the error
    // was shown and the editor keeps the account and the text it had.
    bool loadAccount(const QString& user);

    // Whether the operator changed anything since the account was loaded.
    bool isTouched() const;

    HeadingLabel* lblUser;
    LimitedLineEdit* txtPassword;
    LimitedLineEdit* txtName;
    LimitedTextEdit* txtDescription;
    QPushButton* cmdEdit;
    QPushButton* cmdCancel;
    QLabel* lblPassword;
    QLabel* lblName;
    QLabel* lblDescription;
    QCheckBox* chkOfficial;

private:
    // The four fields the editor shows, as the registry holds them.
    struct Values {
        dao::Variant password;
        dao::Variant name;
        dao::Variant official;
        dao::Variant description;
    };

    void Form_Load();
    void cmdEdit_Click();
    void cmdCancel_Click();
    void FindAccount();
    // The fields of the row rsServers stands on.
    static Values ReadFields();
    void ShowLoaded(const Values& loaded);
    // After another program changed the account: every box left alone shows `current`, every
    // box changed keeps its text, and `current` is what the next Edit expects to find. Returns
    // the first box changed by both, in the order of the tab key, or null.
    QWidget* TakeCurrent(const Values& current);
    // After a save met a conflict: shows the current values, sets `focus`, throws the conflict.
    [[noreturn]] void ShowCurrentAfterConflict(QWidget*& focus);
    // The fields in which `current` differs from what the editor read, as the boxes name them.
    QStringList ChangedFields(const Values& current) const;
    // The box that a refusal of the store names, or null.
    QWidget* BoxNamedBy(const std::string& description) const;

    // What the load handler read, so that a field the operator left alone is written back
    // exactly as it was, whatever its line breaks or trailing spaces.
    dao::Variant m_loadedPassword;
    dao::Variant m_loadedName;
    dao::Variant m_loadedDescription;
    dao::Variant m_loadedOfficial;
    bool m_loadedChecked = false;
    // The box that last had the focus: where typing goes on after a refused save.
    QPointer<QWidget> m_lastBox;
    QMetaObject::Connection m_watchFocus; // ended before the boxes go: closing moves the focus
};
