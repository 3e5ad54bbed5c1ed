// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QTableView>

// The list of user names: a one-column table, since it alone lays out a million rows of one
// height without visiting each of them (QListView walks every row, even with uniform sizes).
// It behaves as a list: Home and End go to the first and the last name, type-ahead finds a name
// in O(log n), and a screen reader sees one list item per name, without headers.
class UserListView : public QTableView {
    Q_OBJECT

public:
    explicit UserListView(QWidget* parent = nullptr);

    // Type-ahead as QAbstractItemView has it: a prefix typed within the keyboard input interval
    // goes to the first name after the current one that starts with it, ignoring case and
    // wrapping round; the same letter again goes on to the next name that starts with it. It
    // matches the name as stored, not the marks the list shows for invisible characters.
    void keyboardSearch(const QString& search) override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    QString m_typed;
    QElapsedTimer m_lastKey;
};
