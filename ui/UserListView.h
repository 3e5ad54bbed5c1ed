// SPDX-License-Identifier: MIT
#pragma once

#include "ui/UserListModel.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QListView>

// The list box of user names: one column of one-line rows, all of one height, that costs nothing
// per row. It lays out, paints, scrolls and hit-tests by arithmetic on the row number, so ten
// million names take no memory beside the model's own and a model reset visits no row. (A
// QListView lays out every row and keeps a position for each; a QTableView's row header keeps
// eight bytes for each.) It stays a QListView for everything else, for assistive technology too.
//
// The view makes its model, the user names, and shows no other.
//
// The vertical scroll bar counts rows: its value is the top row.
class UserListView : public QListView {
    Q_OBJECT

public:
    explicit UserListView(QWidget* parent = nullptr);

    UserListModel* users() { return &m_users; }

    // The height of every row: the font's line and a pixel above and below.
    int rowHeight() const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void doItemsLayout() override;

    // Type-ahead as QAbstractItemView has it: a prefix typed within the keyboard input interval
    // goes to the first name after the current one that starts with it, ignoring case and
    // wrapping round; the same letter again goes on to the next name that starts with it. It
    // matches the name as stored, not the marks the list shows for invisible characters.
    void keyboardSearch(const QString& search) override;

    // Selects the entry at `row` and asks for it to be opened, as Enter on it would. The request
    // is delivered from the event loop, so a caller such as a screen reader's action returns
    // before any window or message of the opening is shown.
    void requestOpen(int row);

signals:
    // The operator asked to open the selected entry: Enter (Return or keypad Enter) on it, or the
    // accessible "Open" action of an entry. Never sent while nothing is selected.
    void openRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    using QListView::setModel;

    int rows() const;
    int topRow() const;
    // Rows that fit whole in the viewport; at least one.
    int pageRows() const;
    // The row at viewport height y, which may lie outside the model's rows.
    qint64 rowAtY(int y) const;
    void announce(QAccessible::Event type, int row);

    // A member, not a child object: it goes while the view is still whole, which lets go of it as
    // of any model destroyed before its view.
    UserListModel m_users;
    QString m_typed;
    QElapsedTimer m_lastKey;
};
