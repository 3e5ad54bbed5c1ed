// SPDX-License-Identifier: MIT
#pragma once

#include "ui/frmEdit.h"

#include <QPointer>
#include <QWidget>

class UserListModel;
class UserListView;

// The list window: every account's user name, in the order of the index "User". The program
// starts with it, and a double-click on a name, Enter on it or a screen reader's "Open" opens the
// account editor.
class frmMain : public QWidget {
    Q_OBJECT

public:
    enum class LoadResult {
        Loaded,          // the list holds every account: show the window
        RegistryMissing, // the operator was told; end the program with status 1
        Failed,          // an error was shown; end the program with status 2
    };

    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // The load handler: runs once, before the window is first shown.
    LoadResult Form_Load();

    UserListView* lstUser() const { return m_lstUser; }
    UserListModel* users() const;
    // The one editor, while it is loaded.
    frmEdit* editor() const { return m_editor; }

private:
    void lstUser_DblClick();

    UserListView* m_lstUser;
    QPointer<frmEdit> m_editor;
    int m_editorRow = -1; // the entry the editor was opened from

};
