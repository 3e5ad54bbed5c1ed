// SPDX-License-Identifier: MIT
#include "ui/UserListView.h"

#include "ui/PrefixSearch.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

UserListView::UserListView(QWidget* parent) : QListView(parent) {
    QListView::setModel(&m_users);
    setUniformItemSizes(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

int UserListView::rowHeight() const {
    return fontMetrics().height() + 2;
}

int UserListView::rows() const {
    return m_users.rowCount();
}

int UserListView::topRow() const {
    return verticalScrollBar()->value();
}

int UserListView::pageRows() const {
    return std::max(1, viewport()->height() / rowHeight());
}

qint64 UserListView::rowAtY(int y) const {
    const int height = rowHeight();
    // Rounds towards minus infinity, so that a point above the viewport lies above its top row.
    const int steps = y >= 0 ? y / height : -((-y + height - 1) / height);
    return static_cast<qint64>(topRow()) + steps;
}

QRect UserListView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != modelColumn())
        return {};
    const qint64 y = (static_cast<qint64>(index.row()) - topRow()) * rowHeight();
    // Far off screen, a row lies just beyond the viewport's edge.
    const int clamped = static_cast<int>(std::clamp<qint64>(y, -rowHeight(), viewport()->height() + rowHeight()));
    return {0, clamped, viewport()->width(), rowHeight()};
}

QModelIndex UserListView::indexAt(const QPoint& point) const {
    const qint64 row = rowAtY(point.y());
    if (row < 0 || row >= rows() || point.x() < 0 || point.x() >= viewport()->width())
        return {};
    return model()->index(static_cast<int>(row), modelColumn(), rootIndex());
}

void UserListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid())
        return;
    const int row = index.row();
    const int page = pageRows();
    int top = topRow();
    switch (hint) {
    case EnsureVisible:
        if (row < top)
            top = row;
        else if (row >= top + page)
            top = row - page + 1;
        break;
    case PositionAtTop:
        top = row;
        break;
    case PositionAtBottom:
        top = row - page + 1;
        break;
    case PositionAtCenter:
        top = row - page / 2;
        break;
    }
    verticalScrollBar()->setValue(top); // the scroll bar keeps it within its range
}

void UserListView::doItemsLayout() {
    // Nothing to lay out row by row: the scroll bar and a repaint are all.
    QAbstractItemView::doItemsLayout();
}

QModelIndex UserListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
    const int count = rows();
    if (count == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, modelColumn(), rootIndex());
    qint64 row = current.row();
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        row -= 1;
        break;
    case MoveDown:
    case MoveNext:
        row += 1;
        break;
    case MovePageUp:
        row -= pageRows();
        break;
    case MovePageDown:
        row += pageRows();
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = count - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return model()->index(static_cast<int>(std::clamp<qint64>(row, 0, count - 1)), modelColumn(), rootIndex());
}

int UserListView::horizontalOffset() const {
    return 0;
}

int UserListView::verticalOffset() const {
    // In pixels, as the base class's mouse handling expects; within int up to 100 million rows.
    return static_cast<int>(std::min<qint64>(static_cast<qint64>(topRow()) * rowHeight(), INT_MAX));
}

bool UserListView::isIndexHidden(const QModelIndex&) const {
    return false;
}

void UserListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    const QRect area = rect.normalized();
    const qint64 first = std::max<qint64>(rowAtY(area.top()), 0);
    const qint64 last = std::min<qint64>(rowAtY(area.bottom()), rows() - 1);
    QItemSelection selection;
    if (first <= last && area.right() >= 0 && area.left() < viewport()->width())
        selection.select(model()->index(static_cast<int>(first), modelColumn(), rootIndex()),
                         model()->index(static_cast<int>(last), modelColumn(), rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion UserListView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int top = topRow();
    const int bottom = top + pageRows();
    for (const QItemSelectionRange& range : selection) {
        if (range.parent() != rootIndex() || range.left() > modelColumn() || range.right() < modelColumn())
            continue;
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        if (first <= last)
            region += QRect(0, (first - top) * rowHeight(), viewport()->width(), (last - first + 1) * rowHeight());
    }
    return region;
}

void UserListView::updateGeometries() {
    const int page = pageRows();
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setRange(0, std::max(0, rows() - page));
    horizontalScrollBar()->setRange(0, 0);
    QAbstractItemView::updateGeometries();
}

void UserListView::scrollContentsBy(int, int) {
    viewport()->update();
}

void UserListView::resizeEvent(QResizeEvent* event) {
    QAbstractItemView::resizeEvent(event);
}

void UserListView::paintEvent(QPaintEvent* event) {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State state = option.state;
    QPainter painter(viewport());
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const qint64 first = std::max<qint64>(rowAtY(event->rect().top()), 0);
    const qint64 last = std::min<qint64>(rowAtY(event->rect().bottom()), rows() - 1);
    for (qint64 row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(static_cast<int>(row), modelColumn(), rootIndex());
        option.rect = visualRect(index);
        option.state = state;
        if (selectionModel() && selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (focus && index == current)
            option.state |= QStyle::State_HasFocus;
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

// A screen reader knows the list's names as children 0 to n-1, one per row (see Accessibility).
void UserListView::announce(QAccessible::Event type, int row) {
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(this, type);
    event.setChild(row);
    QAccessible::updateAccessibility(&event);
}

void UserListView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous);
    if (current.isValid() && hasFocus())
        announce(QAccessible::Focus, current.row());
}

void UserListView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    if (const QModelIndex added = selected.indexes().value(0); added.isValid())
        announce(QAccessible::SelectionAdd, added.row());
    if (const QModelIndex removed = deselected.indexes().value(0); removed.isValid())
        announce(QAccessible::SelectionRemove, removed.row());
}

void UserListView::focusInEvent(QFocusEvent* event) {
    QListView::focusInEvent(event);
    if (currentIndex().isValid())
        announce(QAccessible::Focus, currentIndex().row());
}

void UserListView::keyboardSearch(const QString& search) {
    const int count = m_users.rowCount();
    if (count == 0)
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
        start = start + 1 < count ? start + 1 : 0;

    const int row = PrefixSearch::firstMatch(m_users.names(), sameKey ? QString(m_typed.front()) : m_typed, start);
    if (row >= 0)
        setCurrentIndex(m_users.index(row, 0));
}

void UserListView::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QListView::keyPressEvent(event);
        return;
    }
    event->accept();
    if (selectionModel()->hasSelection())
        emit openRequested();
}

void UserListView::requestOpen(int row) {
    if (row < 0 || row >= rows())
        return;
    setCurrentIndex(m_users.index(row, 0));
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (selectionModel()->hasSelection())
                emit openRequested();
        },
        Qt::QueuedConnection);
}
