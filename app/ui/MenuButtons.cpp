#include "app/ui/MenuButtons.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMenu>
#include <QPushButton>

namespace kvr::ui {

namespace MenuButtons {

namespace {

class MenuButtonAccess : public QAccessibleWidget {
public:
    explicit MenuButtonAccess(QPushButton* button) : QAccessibleWidget(button, QAccessible::ButtonMenu) {}

    QPushButton* button() const { return static_cast<QPushButton*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty())
            return QString(button()->text()).remove(QLatin1Char('&'));
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.hasPopup = true;
        s.expanded = button()->menu() && button()->menu()->isVisible();
        s.collapsed = !s.expanded;
        return s;
    }
    int childCount() const override { return button()->menu() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 && button()->menu() ? QAccessible::queryAccessibleInterface(button()->menu()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && button()->menu() && child->object() == button()->menu() ? 0 : -1;
    }
    QStringList actionNames() const override
    {
        QStringList names{showMenuAction(), pressAction()};
        return button()->isEnabled() ? names : QStringList();
    }
    void doAction(const QString& name) override
    {
        if (!button()->isEnabled())
            return;
        if (name == showMenuAction() || name == pressAction())
            button()->showMenu();
        else
            QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface* menuButtonAccess(const QString& className, QObject* object)
{
    if (className != QLatin1String("QPushButton"))
        return nullptr;
    auto* button = qobject_cast<QPushButton*>(object);
    return button && button->menu() ? new MenuButtonAccess(button) : nullptr;
}

} // namespace

void attach(QPushButton* button, QMenu* menu)
{
    static const bool installed = [] {
        QAccessible::installFactory(menuButtonAccess);
        return true;
    }();
    Q_UNUSED(installed);
    button->setMenu(menu);
    // A screen reader that already asked after the button (as it was made)
    // holds a plain button's interface: it goes, and the next asking makes
    // the menu button's.
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
    if (iface && !dynamic_cast<MenuButtonAccess*>(iface))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
}

} // namespace MenuButtons

} // namespace kvr::ui
