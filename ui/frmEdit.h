// SPDX-License-Identifier: MIT
#pragma once

#include "store/Variant.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class LimitedLineEdit;
class LimitedTextEdit;

// The account editor: shows one account and writes the operator's changes to its row. It holds
// nothing of the registry between events: loading and saving each find the account anew.
class frmEdit : public QWidget {
    Q_OBJECT

public:
    explicit frmEdit(QWidget* parent = nullptr);

    // The user name of the account being edited; set before the editor loads.
    QString User;

    // Runs the load handler inside the handler boundary. False when it failed: the error was
    // shown and the editor must not be shown.
    bool load();

    QLabel* lblUser;
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
    void Form_Load();
    void cmdEdit_Click();
    void cmdCancel_Click();
    void FindAccount();

    // What the load handler read, so that a field the operator left alone is written back
    // exactly as it was, whatever its line breaks or trailing spaces.
    dao::Variant m_loadedPassword;
    dao::Variant m_loadedName;
    dao::Variant m_loadedDescription;
    dao::Variant m_loadedOfficial;
    bool m_loadedChecked = false;
};
