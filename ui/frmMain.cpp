// SPDX-License-Identifier: MIT
#include "ui/frmMain.h"

#include "store/mdlDatabase.h"
#include "ui/Accessibility.h"
#include "ui/HandlerBoundary.h"
#include "ui/LoadingSplash.h"
#include "ui/MessageBox.h"
#include "ui/PackedNames.h"
#include "ui/Twips.h"
#include "ui/UserListModel.h"
#include "ui/UserListView.h"
#include "ui/frmEdit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

// The registry counts as present when its path names a regular file, also through a symbolic
// link, read-only or not. A folder, FIFO, socket or device of that name does not; Linux has no
// other mark that would hide a file.
bool registryExists(const std::string& path) {
    std::error_code failure;
    return std::filesystem::is_regular_file(path, failure);
}

// The frame the window manager has put round a shown window; none before it is framed.
QMargins frameMargins(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
            frame.bottom() - client.bottom()};
}

// Places `window`, with a frame of `frame`, in the middle of its screen. move() places a window's
// frame, not its client area.
void centreOnScreen(QWidget* window, QMargins frame) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    QRect outer(QPoint(), window->size().grownBy(frame));
    outer.moveCenter(screen->availableGeometry().center());
    window->move(outer.topLeft());
}

} // namespace

frmMain::frmMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_lstUser(new UserListView(this)) {
    Accessibility::install();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vantrel"));
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(8.25);
    setFont(font);
    setFixedSize(twips::size(2055, 4740));

    m_lstUser->setObjectName(QStringLiteral("lstUser"));
    m_lstUser->setAccessibleName(tr("User names"));
    m_lstUser->setGeometry(twips::rect(0, 0, 2055, 4740));
    m_lstUser->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lstUser->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lstUser->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(m_lstUser, &UserListView::doubleClicked, this, &frmMain::lstUser_DblClick);
    connect(m_lstUser, &UserListView::openRequested, this, &frmMain::lstUser_DblClick);
}

frmMain::LoadResult frmMain::Form_Load() {
    const std::string path = mdlDatabase::RegistryPath();
    if (!registryExists(path)) {
        std::fprintf(stderr, "Cannot find registry database: %s\n", path.c_str()); // where to put it
        MessageBox::show(nullptr, QStringLiteral("Cannot find registry database."));
        return LoadResult::RegistryMissing;
    }
    const bool loaded = runHandler(nullptr, [this] {
        using mdlDatabase::rsServers;
        LoadingSplash loading; // gone when the handler ends, whichever way
        mdlDatabase::OpenDB();
        PackedNames names;
        if (!rsServers->BOF()) {
            rsServers->MoveFirst();
            auto user = rsServers->Fields("User");
            std::string name;
            while (!rsServers->Eof()) {
                // A row without a user name has nothing to list and could not be opened by name.
                name.clear();
                if (user.AppendText(name))
                    names.append(name);
                rsServers->MoveNext();
                loading.accountRead();
            }
        }
        mdlDatabase::CloseDB();
        users()->setNames(std::move(names));
    });
    return loaded ? LoadResult::Loaded : LoadResult::Failed;
}

UserListModel* frmMain::users() const {
    return m_lstUser->users();
}

frmMain::~frmMain() {
    delete m_editor; // an editor still open when the program ends
}

// Opens the editor on the selected name; a double-click, Enter and a screen reader's "Open" all
// come here. While the editor is open, the list and the editor must name the same account, so
// what it shows and the row Edit writes belong together and nothing the operator typed is lost:
// with nothing typed, the editor moves to the chosen account, loaded afresh; with anything typed
// (or when the chosen account cannot be loaded), it stays on its account and the list's
// selection goes back to it. Either way the editor comes to the front.
void frmMain::lstUser_DblClick() {
    const QModelIndexList selected = m_lstUser->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    const int row = selected.front().row();
    if (m_editor) {
        if (row != m_editorRow) {
            if (!m_editor->isTouched() && m_editor->loadAccount(users()->name(row)))
                m_editorRow = row;
            else if (m_editor)
                m_lstUser->setCurrentIndex(users()->index(m_editorRow, 0));
        }
        if (m_editor) {
            m_editor->raise();
            m_editor->activateWindow();
        }
        return;
    }
    auto* editor = new frmEdit();
    if (!editor->loadAccount(users()->name(row))) {
        delete editor;
        return;
    }
    m_editorRow = row;
    m_editor = editor;
    // The editor's frame is not known before the window manager frames it: it is centred with the
    // list window's frame, and again with its own once it is framed, should that differ.
    centreOnScreen(editor, frameMargins(this));
    editor->show();
    if (QWindow* handle = editor->windowHandle()) {
        auto framed = std::make_shared<QMetaObject::Connection>();
        *framed = connect(handle, &QWindow::activeChanged, editor, [editor, framed] {
            QObject::disconnect(*framed);
            if (frameMargins(editor) != QMargins())
                centreOnScreen(editor, frameMargins(editor));
        });
    }
    editor->activateWindow();
}
