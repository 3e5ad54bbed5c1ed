// SPDX-License-Identifier: MIT
#include "tests/support/Operator.h"

#include "ui/UserListModel.h"
#include "ui/UserListView.h"
#include "ui/frmEdit.h"
#include "ui/frmMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QTest>

namespace testing_support {

void typeInto(QWidget* box, const QString& text) {
    for (const QChar c : text) {
        if (c == u'\n') {
            QTest::keyClick(box, Qt::Key_Return);
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &press);
    }
}

void retype(QWidget* box, const QString& text) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    typeInto(box, text);
}

void click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

void pressAlt(QWidget* window, Qt::Key key) {
    QTest::keyClick(window, key, Qt::AltModifier);
    QTest::qWait(150);
}

int entryOf(const frmMain& list, const QString& user) {
    for (int row = 0; row < list.users()->rowCount(); ++row)
        if (list.users()->name(row) == user)
            return row;
    return -1;
}

frmEdit* openEntry(frmMain& list, int row) {
    if (!list.isVisible()) {
        list.show();
        if (!QTest::qWaitForWindowExposed(&list))
            return nullptr;
    }
    UserListView* view = list.lstUser();
    const QModelIndex index = view->model()->index(row, 0);
    if (!index.isValid())
        return nullptr;
    view->scrollTo(index);
    const QPoint place = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, place);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, place);
    return list.editor();
}

frmEdit* openEntry(frmMain& list, const QString& user) {
    const int row = entryOf(list, user);
    return row < 0 ? nullptr : openEntry(list, row);
}

void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace testing_support
