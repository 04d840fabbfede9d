#include "app/ui/FocusRing.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace kvr::ui {

namespace FocusRing {

namespace {

constexpr int kPen_px = 2;
constexpr int kGap_px = 1;
constexpr int kButtonHeight_px = 36;

const QString kRingName = QStringLiteral("kvrFocusRing");
const QString kAreaName = QStringLiteral("kvrFocusRingFollower");
const QString kEverywhereName = QStringLiteral("kvrFocusRingEverywhere");

// What the views of scrolling areas between `target` and `parent` (an
// ancestor) leave in sight, in parent's coordinates: the ring of a field
// scrolled half out of sight stands around the half in sight.
QRect inSight(const QWidget* target, const QWidget* parent)
{
    QRect clip = parent->rect();
    for (const QWidget* w = target->parentWidget(); w && w != parent; w = w->parentWidget()) {
        const auto* area = qobject_cast<const QAbstractScrollArea*>(w->parentWidget());
        if (area && area->viewport() == w)
            clip &= QRect(w->mapTo(parent, QPoint(0, 0)), w->size());
    }
    return clip;
}

// The ring itself: a frame of its own over the area, through which the
// pointer passes. It keeps the widget it stands around and whether the
// keyboard took the focus there.
class Ring : public QWidget {
public:
    Ring(QWidget* area, const QColor& colour, int radius) : QWidget(area), m_colour(colour), m_radius(radius)
    {
        setObjectName(kRingName);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
        m_again.setSingleShot(true);
        m_again.setInterval(0);
        QObject::connect(&m_again, &QTimer::timeout, this, [this] {
            if (byKeyboard && target && target->hasFocus())
                place();
        });
    }

    QPointer<QWidget> target;
    bool byKeyboard = false;

    // Placed again once the layouts on the way have settled.
    void placeSoon() { m_again.start(); }

    void place()
    {
        if (!target || !target->isVisible()) {
            hide();
            return;
        }
        // Outside the widget; the area itself, within its edge. Where the
        // area's edge (a window's) or a scrolled view cuts the widget, the
        // ring stands inside along that side.
        QWidget* area = parentWidget();
        const bool whole = target == area;
        const QRect clip = whole ? area->rect() : inSight(target, area);
        const QRect r = whole ? clip : QRect(target->mapTo(area, QPoint(0, 0)), target->size()) & clip;
        if (r.isEmpty()) {
            hide();
            return;
        }
        const int out = whole ? 0 : kPen_px + kGap_px;
        m_round = target->height() <= kButtonHeight_px ? target->height() / 2 + out : m_radius + out;
        setGeometry(r.adjusted(-out, -out, out, out) & clip);
        raise();
        show();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(m_colour, kPen_px, Qt::SolidLine, Qt::RoundCap));
        const qreal half = kPen_px / 2.0;
        const qreal round = std::max<qreal>(0, std::min<qreal>(m_round, std::min(width(), height()) / 2.0) - half);
        QPainterPath ring;
        ring.addRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), round, round);
        // Drawn a short stroke at a time: the ring lies over the widget's own
        // texts nowhere but along its edge, also for whoever reads what is
        // painted where.
        const int strokes = std::max(16, int(ring.length() / 4));
        QPointF from = ring.pointAtPercent(0);
        for (int i = 1; i <= strokes; ++i) {
            const QPointF to = ring.pointAtPercent(qreal(i) / strokes);
            p.drawLine(QLineF(from, to));
            from = to;
        }
    }

private:
    QColor m_colour;
    int m_radius;
    int m_round = 0;
    QTimer m_again;
};

// Whether `w` lies in an area that follows the focus with a ring of its own.
bool inOwnArea(const QWidget* w)
{
    for (const QWidget* a = w; a; a = a->parentWidget()) {
        if (a->findChild<QObject*>(kAreaName, Qt::FindDirectChildrenOnly))
            return true;
        if (a->isWindow())
            break;
    }
    return false;
}

// Follows the keyboard's focus: the focus coming and going, and the ringed
// widget (or what holds it) moving. With an area, within that area and with
// one ring; without one, in every window that is not a pop-up, each with a
// ring of its own, but in areas that follow it themselves.
class Follower : public QObject {
public:
    Follower(QObject* parent, QWidget* area, const QColor& colour, int radius)
        : QObject(parent),
          m_area(area),
          m_colour(colour),
          m_radius(radius)
    {
        setObjectName(area ? kAreaName : kEverywhereName);
        if (area)
            m_rings << new Ring(area, colour, radius);
        m_keyTurn.setSingleShot(true);
        m_keyTurn.setInterval(0);
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            // What a key sets off, up to the next turn of the event loop.
            m_keyTurn.start();
            break;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            if (watched->isWidgetType())
                focusMoved(static_cast<QWidget*>(watched), static_cast<QFocusEvent*>(event));
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::LayoutRequest:
            if (watched->isWidgetType())
                for (const QPointer<Ring>& ring : std::as_const(m_rings))
                    if (ring && ring->target && ring->byKeyboard
                        && (watched == ring->target || static_cast<QWidget*>(watched)->isAncestorOf(ring->target)))
                        ring->placeSoon();
            break;
        default:
            break;
        }
        return false;
    }

private:
    // The ring for `w`, made when first needed; null where `w` is not ours.
    Ring* ringFor(QWidget* w)
    {
        if (w->objectName() == kRingName)
            return nullptr;
        if (m_area)
            return (w == m_area || m_area->isAncestorOf(w)) ? static_cast<Ring*>(m_rings.first().data()) : nullptr;
        QWidget* window = w->window();
        const Qt::WindowType type = window->windowType();
        if ((type != Qt::Window && type != Qt::Dialog && type != Qt::Sheet) || inOwnArea(w))
            return nullptr;
        if (auto* ring = static_cast<Ring*>(window->findChild<QWidget*>(kRingName, Qt::FindDirectChildrenOnly)))
            return ring;
        auto* ring = new Ring(window, m_colour, m_radius);
        m_rings.removeAll(nullptr);
        m_rings << ring;
        return ring;
    }

    void focusMoved(QWidget* w, const QFocusEvent* event)
    {
        Ring* ring = ringFor(w);
        if (!ring)
            return;
        const Qt::FocusReason reason = event->reason();
        if (event->type() == QEvent::FocusOut) {
            // Back with its window, or from its own pop-up, it is ringed again.
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                ring->byKeyboard = false;
            ring->hide();
            return;
        }
        // A dialog as it shows tells its first control, which has no focus
        // yet, that it came by Tab: that is no key a person pressed. A key
        // that turned a page or took its own button away moves the focus by
        // the program's hand, and the keyboard's ring goes with it.
        const bool keys = w->hasFocus()
            && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason
                || (reason == Qt::OtherFocusReason && m_keyTurn.isActive()));
        const bool again = (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) && ring->byKeyboard
            && w == ring->target;
        ring->target = w;
        ring->byKeyboard = keys || again;
        if (ring->byKeyboard)
            ring->place();
        else
            ring->hide();
    }

    QWidget* m_area;
    QColor m_colour;
    int m_radius;
    QList<QPointer<Ring>> m_rings;
    QTimer m_keyTurn; // runs from a key's press or release to the next turn of the event loop
};

} // namespace

void follow(QWidget* area, const QColor& colour, int radius)
{
    if (!area->findChild<QObject*>(kAreaName, Qt::FindDirectChildrenOnly))
        new Follower(area, area, colour, radius);
}

void install(const QColor& colour, int radius)
{
    if (!qApp->findChild<QObject*>(kEverywhereName, Qt::FindDirectChildrenOnly))
        new Follower(qApp, nullptr, colour, radius);
}

const QWidget* shown(const QWidget* area)
{
    const auto* ring = area->findChild<const QWidget*>(kRingName, Qt::FindDirectChildrenOnly);
    return ring && ring->isVisible() ? ring : nullptr;
}

} // namespace FocusRing

} // namespace kvr::ui
