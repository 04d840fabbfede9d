#include "app/ui/WheelGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
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
        if ((type != QEvent::Wheel && type != QEvent::Show) || !watched->isWidgetType())
            return false;
        auto* w = static_cast<QWidget*>(watched);
        if (!takesWheel(w) || !(everywhere || onGuardedPage(w)))
            return false;
        if (type == QEvent::Show) {
            keepFocusFromWheel(w);
            return false;
        }
        if (w->hasFocus())
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
