// The audit of the keyboard and the screen reader: names, and the Tab walk.

#include "tests/support/AuditChecks.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QButtonGroup>
#include <QComboBox>
#include <QDebug>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTextEdit>

#include <functional>

namespace screenaudit {

namespace {

// Set KVR_AUDIT_TRACE to see each Tab step of the walk in the test log.
// Tab presses after which a walk that never came back is given up, and
// presses on one control after which it counts as a trap (tables move
// through their cells first).
constexpr int kMaxTabPresses = 6000;
constexpr int kTrapPresses = 1500;

} // namespace

QSet<const QObject*> inAccessibilityTree(const QWidget* root)
{
    QSet<const QObject*> seen;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* a, int depth) {
        if (!a || depth > 60)
            return;
        if (const QObject* o = a->object())
            seen.insert(o);
        for (int i = 0; i < a->childCount(); ++i)
            walk(a->child(i), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(const_cast<QWidget*>(root)), 0);
    return seen;
}

QString accessibleName(QWidget* w)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name).trimmed() : QString();
}

QStringList nameFaults(const Scene& scene)
{
    QStringList faults;
    const QSet<const QObject*> reachable = inAccessibilityTree(scene.window);
    for (const SceneWidget& s : scene.widgets) {
        QWidget* w = s.widget;
        if (w == scene.window || !(takesTab(w) || (isControl(w) && w->isEnabled())) || isInnerPart(w))
            continue;
        // A button's drop-down menu is met in the tree, with the button.
        if (auto* button = qobject_cast<QPushButton*>(w);
            button && button->menu() && !reachable.contains(static_cast<const QObject*>(button->menu())))
            faults << describe(w) + QStringLiteral(": its menu is missing from the accessibility tree");
        if (accessibleName(w).isEmpty())
            faults << describe(w) + QStringLiteral(": no accessible name");
        else if (!reachable.contains(w))
            faults << describe(w) + QStringLiteral(": not in the accessibility tree");
        // The text field of an editable drop-down is where the caret is, and
        // what a screen reader reads there.
        if (auto* combo = qobject_cast<QComboBox*>(w);
            combo && combo->isEditable() && combo->lineEdit() && accessibleName(combo->lineEdit()).isEmpty())
            faults << describe(w) + QStringLiteral(": its text field has no accessible name");
    }
    return faults;
}

namespace {

// Controls of one kind side by side: Tab stops at some and passes others by.
QStringList skippedLikeNeighbours(const Scene& scene)
{
    QStringList faults;
    for (const SceneWidget& p : scene.widgets) {
        QHash<QString, QList<const QWidget*>> kinds;
        for (QObject* o : p.widget->children()) {
            auto* c = qobject_cast<QWidget*>(o);
            if (!c || !scene.indexOf.contains(c) || !c->isEnabled() || isInnerPart(c))
                continue;
            // Buttons of an exclusive group are one stop.
            if (auto* b = qobject_cast<QAbstractButton*>(c); b && b->group() && b->group()->exclusive())
                continue;
            kinds[QString::fromLatin1(c->metaObject()->className()) + QLatin1Char('#') + c->objectName()] << c;
        }
        for (const QList<const QWidget*>& like : std::as_const(kinds)) {
            if (like.size() < 2)
                continue;
            QList<const QWidget*> skipped;
            for (const QWidget* c : like)
                if (!takesTab(c))
                    skipped << c;
            if (!skipped.isEmpty() && skipped.size() < like.size())
                for (const QWidget* c : std::as_const(skipped))
                    faults << describe(c)
                            + QStringLiteral(": Tab passes it by, though it stops at its like neighbours");
        }
    }
    return faults;
}

// Tab steps that go back up to something above, in the same column: a
// person reads down, so only the step back to the start may.
QStringList outOfReadingOrder(const Scene& scene, const QList<QWidget*>& walked)
{
    QStringList jumps;
    for (qsizetype i = 0; i + 1 < walked.size(); ++i) {
        const SceneWidget* a = scene.find(walked.at(i));
        const SceneWidget* b = scene.find(walked.at(i + 1));
        if (!a || !b || isWithin(a->widget, b->widget) || isWithin(b->widget, a->widget))
            continue;
        const bool above = b->rect.bottom() < a->rect.top() - 4;
        const bool sameColumn = b->rect.left() < a->rect.right() && b->rect.right() > a->rect.left();
        if (above && sameColumn)
            jumps << QStringLiteral("Tab goes back up from %1 to %2").arg(describe(a->widget), describe(b->widget));
    }
    // One step back up is the round starting again.
    return jumps.size() >= 2 ? jumps : QStringList();
}

} // namespace

QStringList tabFaults(const Scene& scene)
{
    QWidget* window = scene.window;
    QStringList faults = skippedLikeNeighbours(scene);
    QList<QWidget*> wanted;
    for (const SceneWidget& s : scene.widgets)
        if (s.widget != window && s.widget->isEnabled() && isControl(s.widget) && !isInnerPart(s.widget))
            wanted << s.widget;
    if (wanted.isEmpty())
        return faults;

    // The first Tab stop of the window, as Tab from nothing would find it.
    QWidget* start = nullptr;
    for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
        if (w->window() == window && w->isVisible() && takesTab(w)) {
            start = w;
            break;
        }
    }
    if (!start)
        return faults << QStringLiteral("no control takes the focus by Tab");
    start->setFocus(Qt::TabFocusReason);

    QSet<QWidget*> reached;
    QList<QWidget*> walked;
    QWidget* current = window->focusWidget();
    int samePresses = 0;
    for (int press = 0; press < kMaxTabPresses && current; ++press) {
        if (!reached.contains(current))
            walked << current;
        reached.insert(current);
        QTest::keyClick(current, Qt::Key_Tab);
        QWidget* next = window->focusWidget();
        if (next == current) {
            // A table walks its cells first and a date field its parts; a
            // text box that types the Tab keeps the keyboard for ever; a lone
            // control is the whole round.
            const bool walksCells = qobject_cast<QAbstractItemView*>(current)
                || qobject_cast<QAbstractSpinBox*>(current) || qobject_cast<QAbstractSpinBox*>(current->parentWidget());
            const bool typesTabs =
                (qobject_cast<QPlainTextEdit*>(current) && !static_cast<QPlainTextEdit*>(current)->tabChangesFocus())
                || (qobject_cast<QTextEdit*>(current) && !static_cast<QTextEdit*>(current)->tabChangesFocus());
            if (typesTabs) {
                faults << describe(current) + QStringLiteral(": Tab never leaves it");
                break;
            }
            if (!walksCells)
                break;
            if (++samePresses >= kTrapPresses) {
                faults << describe(current) + QStringLiteral(": Tab never leaves it");
                break;
            }
            continue;
        }
        samePresses = 0;
        if (qEnvironmentVariableIsSet("KVR_AUDIT_TRACE"))
            qDebug().noquote() << "tab" << describe(current) << "->"
                               << (next ? describe(next) : QStringLiteral("none"));
        if (next == start) {
            walked << start; // the round starts again: the one step back up allowed
            break;
        }
        current = next;
    }

    for (QWidget* w : std::as_const(wanted)) {
        // A control counts as reached when the focus landed on it or on the
        // widget it hands its focus to. Buttons of an exclusive group are one
        // stop: Tab lands on the chosen one and the arrow keys move on.
        QWidget* proxy = w->focusProxy() ? w->focusProxy() : w;
        bool ok = reached.contains(proxy) || reached.contains(w);
        if (auto* button = qobject_cast<QAbstractButton*>(w);
            !ok && button && button->group() && button->group()->exclusive()) {
            for (QAbstractButton* other : button->group()->buttons())
                ok = ok || reached.contains(other);
        }
        if (!ok)
            faults << describe(w) + QStringLiteral(": Tab never reaches it");
    }
    faults += outOfReadingOrder(scene, walked);
    return faults;
}

} // namespace screenaudit
