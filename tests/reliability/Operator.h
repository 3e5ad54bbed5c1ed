// SPDX-License-Identifier: MIT
#pragma once

#include "ui/UserListModel.h"
#include "ui/UserListView.h"
#include "ui/frmEdit.h"
#include "ui/frmMain.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QKeyEvent>
#include <QTest>

// What an operator does with the windows, for the reliability checks.
namespace reliability {

// Types `text` key by key, any Unicode included (QTest::keyClicks takes ASCII only); a line
// feed is the Return key.
inline void type(QWidget* box, const QString& text) {
    for (const QChar c : text) {
        if (c == u'\n') {
            QTest::keyClick(box, Qt::Key_Return);
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &press);
    }
}

// Selects everything in the box, deletes it and types `text`.
inline void retype(QWidget* box, const QString& text) {
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    type(box, text);
}

// The list entry of the first account named `user`, or -1.
inline int entryOf(frmMain& list, const QString& user) {
    for (int row = 0; row < list.users()->rowCount(); ++row)
        if (list.users()->name(row) == user)
            return row;
    return -1;
}

// Selects entry `row` of the list and double-clicks it; the editor it opened, or null.
inline frmEdit* openEntry(frmMain& list, int row) {
    UserListView* view = list.lstUser();
    const QModelIndex index = view->model()->index(row, 0);
    view->setCurrentIndex(index);
    emit view->doubleClicked(index);
    return list.editor();
}

// Lets closed windows be destroyed.
inline void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace reliability
