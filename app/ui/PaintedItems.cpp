#include "app/ui/PaintedItems.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QWidget>

namespace kvr::ui {

namespace PaintedItems {

namespace {

const QString kHolderName = QStringLiteral("kvrPaintedItems");

// The description, kept with the widget it describes.
class Holder : public QObject {
public:
    Holder(QWidget* widget, Items items) : QObject(widget), items(std::move(items)) { setObjectName(kHolderName); }
    const Items items;
};

// A holder that may go before what refers to it (with its widget).
class HolderRef {
public:
    explicit HolderRef(Holder* holder) : m_holder(holder) {}
    explicit operator bool() const { return !m_holder.isNull(); }
    const Items* operator->() const { return &static_cast<const Holder*>(m_holder.data())->items; }

private:
    QPointer<QObject> m_holder;
};

class ItemAccess : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ItemAccess(QWidget* widget, HolderRef holder, int item) : m_widget(widget), m_holder(holder), m_item(item) {}

    bool isValid() const override { return m_widget && m_holder && m_item < m_holder->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_widget ? m_widget->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_widget.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name && isValid() ? m_holder->name(m_item) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = m_holder->rect(m_item);
        return r.isEmpty() ? QRect() : QRect(m_widget->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = m_holder->selected(m_item);
        s.focused = m_widget->hasFocus() && m_holder->current() == m_item;
        s.disabled = !pickable();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override
    {
        return isValid() && pickable() ? QStringList{pressAction()} : QStringList();
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && isValid() && pickable())
            m_holder->pick(m_item);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    bool pickable() const { return !m_holder->pickable || m_holder->pickable(m_item); }

    QPointer<QWidget> m_widget;
    HolderRef m_holder;
    int m_item;
};

class ListAccess : public QAccessibleWidget {
public:
    ListAccess(QWidget* widget, Holder* holder) : QAccessibleWidget(widget, QAccessible::List), m_holder(holder) {}
    ~ListAccess() override
    {
        for (QAccessible::Id id : std::as_const(m_items))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return m_holder ? m_holder->count() : 0; }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        QAccessible::Id id = m_items.value(index);
        if (!id) {
            id = QAccessible::registerAccessibleInterface(new ItemAccess(widget(), m_holder, index));
            m_items.insert(index, id);
        }
        return QAccessible::accessibleInterface(id);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const QAccessible::Id id = QAccessible::uniqueId(const_cast<QAccessibleInterface*>(child));
        for (auto it = m_items.cbegin(); it != m_items.cend(); ++it)
            if (it.value() == id)
                return it.key() < childCount() ? it.key() : -1;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        for (int i = 0; i < childCount(); ++i)
            if (QAccessibleInterface* item = child(i); item && item->rect().contains(x, y))
                return item;
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        return m_holder && widget()->hasFocus() ? child(m_holder->current()) : nullptr;
    }

private:
    HolderRef m_holder;
    mutable QHash<int, QAccessible::Id> m_items;
};

QAccessibleInterface* listAccess(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    QObject* holder = widget ? widget->findChild<QObject*>(kHolderName, Qt::FindDirectChildrenOnly) : nullptr;
    return holder ? new ListAccess(widget, static_cast<Holder*>(holder)) : nullptr;
}

} // namespace

void describe(QWidget* widget, Items items)
{
    static const bool installed = [] {
        QAccessible::installFactory(listAccess);
        return true;
    }();
    Q_UNUSED(installed);
    new Holder(widget, std::move(items));
}

} // namespace PaintedItems

} // namespace kvr::ui
