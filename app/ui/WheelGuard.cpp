#include "app/ui/WheelGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QPointer>
#include <QScrollBar>

namespace kvr::ui {

namespace WheelGuard {

namespace {

// The dynamic property that marks a guarded page.
constexpr char kGuarded[] = "kvrWheelGuarded";

bool onGuardedPage(const QWidget* w)
{
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget()) {
        if (p->property(kGuarded).toBool())
            return true;
        if (p->isWindow())
            return false;
    }
    return false;
}

// A control that the wheel would give the focus to takes the focus only by
// click and Tab: with the wheel's focus it would have the focus, and the
// wheel, as soon as the wheel met it.
void keepFocusFromWheel(QWidget* w)
{
    if ((w->focusPolicy() & Qt::WheelFocus) == Qt::WheelFocus)
        w->setFocusPolicy(Qt::StrongFocus);
}

// The dynamic property that marks a control the person chose: clicked, or
// reached with Tab or its shortcut.
constexpr char kChosen[] = "kvrWheelChosen";

// The control that `w` is, or is part of (a drop-down's or spin box's field).
QWidget* controlOf(QWidget* w)
{
    for (; w; w = w->parentWidget()) {
        if (takesWheel(w))
            return w;
        if (w->isWindow())
            break;
    }
    return nullptr;
}

// How the focus came or went decides whether the person chose the control:
// a click, Tab and a shortcut are theirs; the window's first focus, a
// dialog's own setFocus and the focus coming back with its window are not
// (the last keeps what was chosen before it went, as does a control's own
// pop-up or the menu bar taking the focus a moment). A dialog as it shows
// tells the control it means to focus that it came by Tab while it has no
// focus yet: that is the dialog's choice.
void focusMoved(QWidget* control, QWidget* receiver, QEvent* event)
{
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (event->type() == QEvent::FocusIn && !receiver->hasFocus()) {
        control->setProperty(kChosen, false);
        return;
    }
    switch (reason) {
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
    case Qt::MenuBarFocusReason:
        return;
    case Qt::MouseFocusReason:
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
        control->setProperty(kChosen, event->type() == QEvent::FocusIn);
        return;
    default:
        control->setProperty(kChosen, false);
        return;
    }
}

// A click on a control chooses it, also where it had the focus already.
void pressed(QWidget* w)
{
    if (QWidget* control = controlOf(w))
        control->setProperty(kChosen, true);
}

// One filter for the whole program, installed with the first guarded page or
// by install(): a window's controls come and go, and each is met as it shows.
class Filter : public QObject {
public:
    using QObject::QObject;

    // Every window's controls, not only those of guarded pages.
    bool everywhere = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (!watched->isWidgetType())
            return false;
        auto* w = static_cast<QWidget*>(watched);
        switch (type) {
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            if (QWidget* control = controlOf(w); control && (everywhere || onGuardedPage(control)))
                focusMoved(control, w, event);
            return false;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (everywhere || onGuardedPage(w))
                pressed(w);
            return false;
        case QEvent::Show:
        case QEvent::Wheel:
            break;
        default:
            return false;
        }
        if (!takesWheel(w) || !(everywhere || onGuardedPage(w)))
            return false;
        if (type == QEvent::Show) {
            keepFocusFromWheel(w);
            return false;
        }
        if (w->hasFocus() && w->property(kChosen).toBool())
            return false;
        // Not taken here: the application hands the wheel to the parent, and
        // so up to the page, which scrolls.
        event->ignore();
        return true;
    }
};

} // namespace

bool takesWheel(const QWidget* w)
{
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w)
        || (qobject_cast<const QAbstractSlider*>(w) && !qobject_cast<const QScrollBar*>(w));
}

namespace {

Filter* filter()
{
    static QPointer<Filter> filter;
    if (!filter) {
        filter = new Filter(qApp);
        qApp->installEventFilter(filter);
    }
    return filter;
}

} // namespace

void install()
{
    filter()->everywhere = true;
    for (QWidget* w : QApplication::allWidgets())
        if (takesWheel(w))
            keepFocusFromWheel(w);
}

void guard(QAbstractScrollArea* page)
{
    filter();
    page->setProperty(kGuarded, true);
    for (QWidget* w : page->findChildren<QWidget*>())
        if (takesWheel(w))
            keepFocusFromWheel(w);
}

} // namespace WheelGuard

} // namespace kvr::ui
