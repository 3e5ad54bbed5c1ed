// SPDX-License-Identifier: MIT
#include "ui/UserListView.h"

#include "ui/UserListModel.h"

#include <QAccessible>
#include <QApplication>

namespace {

// A screen reader knows the list's names as children 0 to n-1, one per row (see Accessibility).
void announce(QWidget* view, QAccessible::Event type, int row) {
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(view, type);
    event.setChild(row);
    QAccessible::updateAccessibility(&event);
}

} // namespace

UserListView::UserListView(QWidget* parent) : QTableView(parent) {}

void UserListView::keyboardSearch(const QString& search) {
    auto* users = qobject_cast<UserListModel*>(model());
    if (!users) {
        QTableView::keyboardSearch(search);
        return;
    }
    const int rows = users->rowCount();
    if (rows == 0)
        return;

    const QModelIndex current = currentIndex();
    int start = current.isValid() ? current.row() : 0;
    bool skipCurrent = false;
    const bool typing = m_lastKey.isValid();
    const qint64 pause = typing ? m_lastKey.restart() : 0;
    if (!typing)
        m_lastKey.start();
    if (search.isEmpty() || !typing || pause > QApplication::keyboardInputInterval()) {
        m_typed = search;
        skipCurrent = current.isValid();
    } else {
        m_typed += search;
    }
    // "aaa" steps through the names that start with "a".
    bool sameKey = false;
    if (m_typed.size() > 1) {
        sameKey = m_typed.count(m_typed.back()) == m_typed.size();
        skipCurrent = skipCurrent || sameKey;
    }
    if (skipCurrent)
        start = start + 1 < rows ? start + 1 : 0;

    const int row = users->findPrefix(sameKey ? QString(m_typed.front()) : m_typed, start);
    if (row >= 0)
        setCurrentIndex(users->index(row, 0));
}

QModelIndex UserListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    if ((cursorAction == MoveHome || cursorAction == MoveEnd) && model() && model()->rowCount() > 0)
        return model()->index(cursorAction == MoveHome ? 0 : model()->rowCount() - 1, 0);
    return QTableView::moveCursor(cursorAction, modifiers);
}

// QTableView numbers its accessible children as a table with headers; the list's are its rows.
void UserListView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous);
    if (current.isValid() && hasFocus())
        announce(this, QAccessible::Focus, current.row());
}

void UserListView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    const QModelIndexList added = selected.indexes();
    if (!added.isEmpty())
        announce(this, QAccessible::SelectionAdd, added.front().row());
    const QModelIndexList removed = deselected.indexes();
    if (!removed.isEmpty())
        announce(this, QAccessible::SelectionRemove, removed.front().row());
}

void UserListView::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    if (currentIndex().isValid())
        announce(this, QAccessible::Focus, currentIndex().row());
}
