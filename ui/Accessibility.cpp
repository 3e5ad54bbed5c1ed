// SPDX-License-Identifier: MIT
#include "ui/Accessibility.h"

#include "ui/UserListView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QWindow>

namespace {

// One name of the list, known by its row. The list is filled once, so a row always stands for
// the same name.
class NameItemAccessible : public QAccessibleInterface {
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

    int row() const { return m_row; }

private:
    QModelIndex index() const { return m_view->model()->index(m_row, 0); }

    QPointer<UserListView> m_view;
    int m_row;
};

// The list: as many children as names, made only when asked for, so that a million names cost
// nothing until a screen reader visits them.
class UserListAccessible : public QAccessibleWidget {
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
