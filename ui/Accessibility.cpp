// SPDX-License-Identifier: MIT
#include "ui/Accessibility.h"

#include "ui/UserListView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QWindow>

namespace {

const QString& openAction() {
    static const QString name = QStringLiteral("Open");
    return name;
}

// One name of the list, known by its row. The list is filled once, so a row always stands for
// the same name. Its one action, "Open", opens the editor on it as Enter does; it is a cell of
// the list's one column for the screen readers that read a list as a table.
class NameItemAccessible : public QAccessibleInterface,
                           public QAccessibleActionInterface,
                           public QAccessibleTableCellInterface {
public:
    NameItemAccessible(UserListView* view, int row) : m_view(view), m_row(row) {}

    bool isValid() const override { return m_view && m_view->model() && m_row < m_view->model()->rowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_view); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        if (!isValid())
            return {};
        if (t == QAccessible::Description)
            return index().data(Qt::AccessibleDescriptionRole).toString();
        return t == QAccessible::Name ? index().data(Qt::AccessibleTextRole).toString() : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect item = m_view->visualRect(index());
        return {m_view->viewport()->mapToGlobal(item.topLeft()), item.size()};
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid())
            return state;
        state.selectable = true;
        state.focusable = true;
        state.selected = m_view->selectionModel() && m_view->selectionModel()->isSelected(index());
        state.focused = m_view->hasFocus() && m_view->currentIndex().row() == m_row;
        if (!m_view->viewport()->rect().intersects(m_view->visualRect(index())))
            state.invisible = state.offscreen = true;
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface*>(this);
        return nullptr;
    }

    QStringList actionNames() const override { return {openAction()}; }
    void doAction(const QString& action) override {
        if (action == openAction() && isValid())
            m_view->requestOpen(m_row);
    }
    QString localizedActionName(const QString& action) const override {
        return action == openAction() ? QObject::tr("Open") : QString();
    }
    QString localizedActionDescription(const QString& action) const override {
        return action == openAction() ? QObject::tr("Opens the account in the editor") : QString();
    }
    QStringList keyBindingsForAction(const QString& action) const override {
        return action == openAction() ? QStringList{QStringLiteral("Return")} : QStringList();
    }

    bool isSelected() const override { return isValid() && state().selected; }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    int row() const { return m_row; }

private:
    QModelIndex index() const { return m_view->model()->index(m_row, 0); }

    QPointer<UserListView> m_view;
    int m_row;
};

// The list: as many children as names, made only when asked for, so that a million names cost
// nothing until a screen reader visits them. It offers the table interface of one column, which
// is how the accessibility bridge tells a screen reader the count of items and which is selected
// ("User names, list, 1,000,000 items"), and lets it select an item.
class UserListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit UserListAccessible(UserListView* view) : QAccessibleWidget(view, QAccessible::List) {}
    ~UserListAccessible() override {
        for (const QAccessible::Id id : std::as_const(m_items))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return view()->model() ? view()->model()->rowCount() : 0; }

    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto known = m_items.constFind(index); known != m_items.constEnd())
            return QAccessible::accessibleInterface(*known);
        auto* item = new NameItemAccessible(view(), index);
        m_items.insert(index, QAccessible::registerAccessibleInterface(item));
        return item;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child && child->role() == QAccessible::ListItem && child->parent() == this)
            return static_cast<const NameItemAccessible*>(child)->row();
        return -1;
    }

    QAccessibleInterface* focusChild() const override {
        const QModelIndex current = view()->currentIndex();
        return current.isValid() ? child(current.row()) : nullptr;
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QModelIndex at = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return at.isValid() ? child(at.row()) : nullptr;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // The table of one column: a row is a name.
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override { return column == 0 ? child(row) : nullptr; }
    int columnCount() const override { return 1; }
    int rowCount() const override { return childCount(); }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedCellCount() const override { return selectedRowCount(); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (const int row : selectedRows())
            cells.append(child(row));
        return cells;
    }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        QList<int> rows;
        if (const QItemSelectionModel* selection = view()->selectionModel())
            for (const QModelIndex& index : selection->selectedRows())
                rows.append(index.row());
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override {
        return view()->selectionModel() && view()->selectionModel()->isRowSelected(row, QModelIndex());
    }
    bool selectRow(int row) override {
        if (row < 0 || row >= rowCount())
            return false;
        view()->setCurrentIndex(view()->model()->index(row, 0));
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override {
        if (!isRowSelected(row))
            return false;
        view()->selectionModel()->clearSelection();
        return true;
    }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override {}

private:
    UserListView* view() const { return static_cast<UserListView*>(widget()); }

    mutable QHash<int, QAccessible::Id> m_items;
};

QAccessibleInterface* vantrelAccessible(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("frmMain"))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("frmEdit"))
        return new QAccessibleWidget(widget, QAccessible::Dialog);
    if (className == QLatin1String("UserListView"))
        return new UserListAccessible(static_cast<UserListView*>(widget));
    return nullptr;
}

} // namespace

namespace Accessibility {

void install() {
    static const bool installed = [] {
        QAccessible::installFactory(vantrelAccessible);
        return true;
    }();
    (void)installed;
}

} // namespace Accessibility
