// What a person does: keys, clicks, the wheel and the pointer; and the
// checks of retyping, scrolling and hovering.

#include "tests/support/Drive.h"

#include "tests/support/ScreenAudit.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QtDebug>

#include <memory>

namespace drive {

namespace {

// Steps of the wheel after which a page that has not reached its bottom
// counts as stuck.
constexpr int kMaxWheelSteps = 400;
// Faults of one pass of the pointer over a wall listed one by one.
constexpr qsizetype kHoverFaultsListed = 6;
// Passes of the pointer over a widget that changed by itself, until one
// finds it holding still.
constexpr int kHoverPasses = 4;

// What the wheel could change: a drop-down, a spin box, a slider that is not
// a scroll bar.
bool takesWheel(const QWidget* w)
{
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w)
        || (qobject_cast<const QAbstractSlider*>(w) && !qobject_cast<const QScrollBar*>(w));
}

QString valueOf(const QWidget* w)
{
    if (auto* combo = qobject_cast<const QComboBox*>(w))
        return QStringLiteral("\"%1\" (%2)").arg(combo->currentText()).arg(combo->currentIndex());
    if (auto* spin = qobject_cast<const QAbstractSpinBox*>(w))
        return QStringLiteral("\"%1\"").arg(spin->text());
    if (auto* slider = qobject_cast<const QAbstractSlider*>(w))
        return QString::number(slider->value());
    return {};
}

QList<QWidget*> wheelControls(const QAbstractScrollArea* page)
{
    QList<QWidget*> controls;
    for (QWidget* w : page->viewport()->findChildren<QWidget*>())
        if (takesWheel(w) && w->isVisibleTo(page->viewport()))
            controls << w;
    return controls;
}

// The part of `w` the page shows, in the page's viewport; empty when none.
QRect shownPart(const QAbstractScrollArea* page, const QWidget* w)
{
    if (!w->isVisible())
        return {};
    const QRect inViewport(w->mapTo(page->viewport(), QPoint(0, 0)), w->size());
    return inViewport.intersected(page->viewport()->rect());
}

} // namespace

// ---- Actions ------------------------------------------------------------

bool activate(QWidget* window)
{
    window = window->window();
    window->raise();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window, 3000);
}

void type(QWidget* window, const QString& text)
{
    for (const QChar c : text) {
        QWidget* target = window->window()->focusWidget();
        QTest::keyClicks(target ? target : window, QString(c));
    }
}

void press(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QWidget* target = window->window()->focusWidget();
    QTest::keyClick(target ? target : window, key, modifiers);
}

void menuKey(QWidget* window)
{
    QWidget* target = window->window()->focusWidget();
    if (!target)
        target = window;
    // Where the pointer happens to be: the program places a keyboard's menu
    // itself.
    const QPoint at = target->mapFromGlobal(QCursor::pos());
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, QCursor::pos());
    QApplication::sendEvent(target, &event);
}

void click(QWidget* w)
{
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
}

void wheel(QWidget* window, const QPoint& pos, int notches)
{
    QWidget* target = window->childAt(pos);
    if (!target)
        target = window;
    const QPoint local = target->mapFrom(window, pos);
    QWheelEvent event(local, target->mapToGlobal(local), QPoint(),
                      QPoint(0, notches * QWheelEvent::DefaultDeltasPerStep), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    // As from the window system: passed on to the parents while none takes it
    // (an event a program sends itself goes to its receiver alone).
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(target, &event);
}

// The pointer itself is moved, and the window system's own enter and leave
// events are waited for: events made up on the side would be undone by the
// real pointer's next ones.
bool enter(QWidget* w)
{
    QCursor::setPos(w->mapToGlobal(w->rect().center()));
    return QTest::qWaitFor([w] { return w->underMouse(); }, 2000);
}

bool leave(QWidget* w, const QPoint& away)
{
    QCursor::setPos(w->window()->mapToGlobal(away));
    return QTest::qWaitFor([w] { return !w->underMouse(); }, 2000);
}

QStringList tagged(const QString& tag, const QStringList& faults)
{
    QStringList out;
    for (const QString& f : faults)
        out << tag + QLatin1Char(' ') + f;
    return out;
}

// ---- Retype ---------------------------------------------------------------

QStringList retype(QWidget* first, const QString& text, const std::function<QString()>& read)
{
    QWidget* window = first->window();
    if (!activate(window))
        return {screenaudit::describe(window) + QStringLiteral(": could not be brought to the keyboard")};
    click(first);
    type(window, text);
    const QString got = read();
    if (got == text)
        return {};
    return {QStringLiteral("[retype] %1: clicked and typed \"%2\", reads \"%3\"")
                .arg(screenaudit::describe(first), text, got)};
}

// ---- Wheel ----------------------------------------------------------------

QStringList scrollThrough(QAbstractScrollArea* page)
{
    QStringList faults;
    QWidget* window = page->window();
    QScrollBar* bar = page->verticalScrollBar();
    const QList<QWidget*> controls = wheelControls(page);
    QMap<QWidget*, QString> before;
    QMap<QWidget*, QString> names;
    for (QWidget* c : controls) {
        before.insert(c, valueOf(c));
        names.insert(c, screenaudit::describe(c));
    }
    // In the window a person uses (where the wheel would give a control the
    // focus as it met it), who has not clicked into the page.
    activate(window);
    if (QWidget* focused = window->focusWidget(); focused && page->isAncestorOf(focused))
        focused->clearFocus();
    bar->setValue(bar->minimum());

    QSet<QWidget*> wheeled;
    bool bottom = bar->value() >= bar->maximum();
    for (int step = 0; step < kMaxWheelSteps; ++step) {
        // The next control the page shows that the wheel has not met yet,
        // else the middle of the page.
        QPoint at = page->viewport()->rect().center();
        bool overControl = false;
        for (QWidget* c : controls) {
            const QRect part = shownPart(page, c);
            if (!part.isEmpty() && !wheeled.contains(c)) {
                at = part.center();
                wheeled.insert(c);
                overControl = true;
                break;
            }
        }
        if (bottom && !overControl)
            break;
        wheel(window, page->viewport()->mapTo(window, at));
        bottom = bar->value() >= bar->maximum();
    }
    if (!bottom)
        faults << QStringLiteral("[wheel] %1: did not reach its bottom in %2 steps of the wheel (at %3 of %4)")
                      .arg(screenaudit::describe(page))
                      .arg(kMaxWheelSteps)
                      .arg(bar->value())
                      .arg(bar->maximum());
    for (QWidget* c : controls)
        if (valueOf(c) != before.value(c))
            faults << QStringLiteral("[wheel] %1: the wheel changed it from %2 to %3 while the page scrolled past")
                          .arg(names.value(c), before.value(c), valueOf(c));
    bar->setValue(bar->minimum());
    return faults;
}

QStringList scrollPages(QWidget* window)
{
    QStringList faults;
    QList<QScrollArea*> pages = window->findChildren<QScrollArea*>();
    if (auto* self = qobject_cast<QScrollArea*>(window))
        pages.prepend(self);
    for (QScrollArea* page : pages) {
        if (!page->isVisible() || !page->viewport()->isVisible())
            continue;
        const bool scrolls = page->verticalScrollBar()->maximum() > page->verticalScrollBar()->minimum();
        if (scrolls || !wheelControls(page).isEmpty())
            faults += scrollThrough(page);
    }
    return faults;
}

namespace {

// Whether `w` lies on a page that scrolls (what scrollThrough wheels over).
bool onScrollingPage(const QWidget* w)
{
    for (const QWidget* p = w->parentWidget(); p && !p->isWindow(); p = p->parentWidget())
        if (auto* area = qobject_cast<const QAbstractScrollArea*>(p->parentWidget()); area && area->viewport() == p)
            return true;
    return false;
}

} // namespace

namespace {

// A notch of the wheel over control `c` of `window` one way and, where that
// changed nothing, the other: what it then holds, where it changed (empty
// where it kept its value).
QString turnedBy(QWidget* window, const QPointer<QWidget>& c, const QString& before)
{
    const QPoint at = c->mapTo(window, c->rect().center());
    wheel(window, at, -1);
    if (c && valueOf(c) == before)
        wheel(window, at, 1);
    if (c && valueOf(c) == before)
        return {};
    return c ? valueOf(c) : QStringLiteral("(gone)");
}

} // namespace

QStringList wheelPast(QWidget* window)
{
    QStringList faults;
    QList<QPointer<QWidget>> controls;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (takesWheel(w) && w->window() == window && w->isVisible() && w->isEnabled() && !w->hasFocus()
            && !onScrollingPage(w))
            controls << w;
    for (const QPointer<QWidget>& c : controls) {
        // A control an earlier wheel hid or replaced is not passed over.
        if (!c || !c->isVisible())
            continue;
        const QString before = valueOf(c);
        const QString name = screenaudit::describe(c);
        if (const QString after = turnedBy(window, c, before); !after.isEmpty())
            faults << QStringLiteral(
                          "[wheel] %1: a wheel passing over it, nobody clicking it, changed it from %2 to %3")
                          .arg(name, before, after);
    }
    return faults;
}

QStringList wheelPastFocus(QWidget* window)
{
    QWidget* control = window->focusWidget();
    while (control && control != window && !takesWheel(control))
        control = control->parentWidget();
    if (!control || !takesWheel(control) || !control->isVisible() || !control->isEnabled())
        return {};
    const QPointer<QWidget> c(control);
    const QString before = valueOf(c);
    const QString name = screenaudit::describe(c);
    if (const QString after = turnedBy(window, c, before); !after.isEmpty())
        return {QStringLiteral("[wheel] %1: focused as the window opened, nobody clicking it, a passing wheel changed "
                               "it from %2 to %3")
                    .arg(name, before, after)};
    return {};
}

// ---- Menu ----------------------------------------------------------------

QStringList contextMenu(QWidget* field)
{
    // A text field that scrolls takes the right-click in its viewport.
    QWidget* target = field;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(field))
        target = area->viewport();
    const QPoint at = target->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
    QSpontaneKeyEvent::setSpontaneous(&event);
    const QString name = screenaudit::describe(field);
    // Looked at from the event loop: some fields (a spin box's) show their
    // menu modally, and the right-click returns only once it is closed. What
    // the look finds is kept by whoever ends last: the look, or this call.
    struct Look {
        QStringList faults;
        bool done = false;
    };
    auto look = std::make_shared<Look>();
    QTimer::singleShot(0, qApp, [look, name] {
        QPointer<QMenu> menu;
        const bool opened = QTest::qWaitFor(
            [&menu] {
                menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                return !menu.isNull();
            },
            2000);
        if (!opened || !menu)
            look->faults << QStringLiteral("[menu] %1: a right-click opened no menu").arg(name);
        else if (!QTest::qWaitForWindowExposed(menu))
            look->faults << QStringLiteral("[menu] %1: its menu did not show").arg(name);
        else
            for (const QString& f : screenaudit::run(screenaudit::Check::Contrast, menu))
                look->faults << QStringLiteral("[menu] %1, its menu: %2").arg(name, f);
        if (menu)
            menu->close();
        look->done = true;
    });
    qApp->notify(target, &event);
    if (!QTest::qWaitFor([&look] { return look->done; }, 10000))
        return {QStringLiteral("[menu] %1: its menu was not looked at").arg(name)};
    return look->faults;
}

// ---- Hover ----------------------------------------------------------------

namespace {

// How `w` looks: each widget of it that shows, its place in `w` and its words.
QMap<QString, QString> looksOf(QWidget* w)
{
    QMap<QString, QString> looks;
    QList<QWidget*> parts{w};
    parts += w->findChildren<QWidget*>();
    QHash<QString, int> seen;
    for (QWidget* part : parts) {
        if (!part->isVisibleTo(w) && part != w)
            continue;
        QString key = QString::fromLatin1(part->metaObject()->className());
        if (!part->objectName().isEmpty())
            key += QLatin1Char('#') + part->objectName();
        key += QLatin1Char('/') + QString::number(seen[key]++);
        QString text;
        if (auto* label = qobject_cast<QLabel*>(part))
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(part))
            text = button->text();
        const QRect r(part->mapTo(w, QPoint(0, 0)), part->size());
        looks.insert(
            key,
            QStringLiteral("\"%1\" at %2,%3 %4x%5").arg(text).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()));
    }
    return looks;
}

QStringList differences(QWidget* w, const QMap<QString, QString>& before, const QMap<QString, QString>& after)
{
    QStringList faults;
    const QString name = screenaudit::describe(w);
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!after.contains(it.key()))
            faults << QStringLiteral("[hover] %1: after the pointer left, %2 no longer shows (was %3)")
                          .arg(name, it.key(), it.value());
        else if (after.value(it.key()) != it.value())
            faults << QStringLiteral("[hover] %1: after the pointer left, %2 is %3 (was %4)")
                          .arg(name, it.key(), after.value(it.key()), it.value());
    }
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        if (!before.contains(it.key()))
            faults
                << QStringLiteral("[hover] %1: after the pointer left, %2 shows (%3)").arg(name, it.key(), it.value());
    return faults;
}

} // namespace

QStringList hoverAndLeave(const QList<QWidget*>& widgets, const QPoint& away, const OwnState& ownState)
{
    QStringList faults;
    if (widgets.isEmpty())
        return faults;
    const auto stateOf = [&ownState](QWidget* w) { return ownState ? ownState(w) : QString(); };
    struct Seen {
        QMap<QString, QString> looks;
        QString state;
    };
    QList<Seen> before;
    // Widgets that changed by themselves while the pointer passed them.
    QList<QPointer<QWidget>> again;
    const auto judge = [&](int i) {
        QWidget* w = widgets.at(i);
        if (stateOf(w) != before.at(i).state)
            again << w;
        else
            faults += differences(w, before.at(i).looks, looksOf(w));
    };
    // The pointer goes from one to the next, as over a wall: entering one is
    // leaving the one before. Each is looked at just before the pointer comes
    // onto it, not all at the start, so that only what changed while the
    // pointer passed is counted.
    for (int i = 0; i < widgets.size(); ++i) {
        before << Seen{looksOf(widgets.at(i)), stateOf(widgets.at(i))};
        if (!enter(widgets.at(i)))
            faults << QStringLiteral("[hover] %1: the pointer did not come onto it")
                          .arg(screenaudit::describe(widgets.at(i)));
        if (i > 0)
            judge(i - 1);
    }
    if (!leave(widgets.last(), away))
        faults << QStringLiteral("[hover] %1: the pointer did not leave it").arg(screenaudit::describe(widgets.last()));
    judge(int(widgets.size()) - 1);
    // A widget that changed by itself is passed again, alone, until a pass
    // finds it as it was: a tile's tries come seconds apart, a pass takes a
    // moment. One that never holds still is not judged.
    for (QWidget* w : std::as_const(again)) {
        if (!w || !w->isVisible())
            continue; // gone with its page
        bool judged = false;
        for (int pass = 0; pass < kHoverPasses && !judged; ++pass) {
            const Seen seen{looksOf(w), stateOf(w)};
            if (!enter(w) || !leave(w, away)) {
                faults << QStringLiteral("[hover] %1: the pointer did not come onto it and leave it")
                              .arg(screenaudit::describe(w));
                break;
            }
            if (stateOf(w) != seen.state)
                continue;
            judged = true;
            faults += differences(w, seen.looks, looksOf(w));
        }
        if (!judged)
            qInfo().noquote()
                << "[hover]" << screenaudit::describe(w)
                << QStringLiteral("changed by itself during each of %1 passes; not judged").arg(kHoverPasses);
    }
    // A wall of tiles that all keep the same fault says it a few times, and
    // how often.
    if (faults.size() > kHoverFaultsListed) {
        const qsizetype more = faults.size() - kHoverFaultsListed;
        faults.resize(kHoverFaultsListed);
        faults << QStringLiteral("[hover] ... and %1 more like these").arg(more);
    }
    return faults;
}

} // namespace drive
