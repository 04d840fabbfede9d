#include "app/ui/FocusRing.h"

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

// The ring itself: a frame of its own over the area, through which the
// pointer passes.
class Ring : public QWidget {
public:
    Ring(QWidget* area, const QColor& colour, int radius) : QWidget(area), m_colour(colour), m_radius(radius)
    {
        setObjectName(QStringLiteral("kvrFocusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

    void around(const QWidget* target)
    {
        // Outside the widget; the area itself, within its edge.
        const bool whole = target == parentWidget();
        const QRect r(whole ? QPoint(0, 0) : target->mapTo(parentWidget(), QPoint(0, 0)), target->size());
        const int out = whole ? 0 : kPen_px + kGap_px;
        m_round = target->height() <= kButtonHeight_px ? target->height() / 2 + out : m_radius + out;
        setGeometry(r.adjusted(-out, -out, out, out));
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
        const qreal round = std::min<qreal>(m_round, std::min(width(), height()) / 2.0) - half;
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
};

// Follows the keyboard's focus within its area: the focus coming and going,
// and the ringed widget (or what holds it) moving.
class Follower : public QObject {
public:
    Follower(QWidget* area, const QColor& colour, int radius)
        : QObject(area),
          m_area(area),
          m_ring(new Ring(area, colour, radius))
    {
        setObjectName(QStringLiteral("kvrFocusRingFollower"));
        qApp->installEventFilter(this);
        m_again.setSingleShot(true);
        m_again.setInterval(0);
        connect(&m_again, &QTimer::timeout, this, [this] {
            if (m_byKeyboard && m_target && m_target->hasFocus())
                place();
        });
    }

    const QWidget* ring() const { return m_ring->isVisible() ? m_ring : nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
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
            // Placed again once the layouts on the way have settled.
            if (m_target && m_byKeyboard && watched->isWidgetType()
                && (watched == m_target || static_cast<QWidget*>(watched)->isAncestorOf(m_target)))
                m_again.start();
            break;
        default:
            break;
        }
        return false;
    }

private:
    bool inArea(const QWidget* w) const { return w && (w == m_area || m_area->isAncestorOf(w)); }

    void focusMoved(QWidget* w, const QFocusEvent* event)
    {
        if (!inArea(w) || w == m_ring)
            return;
        const Qt::FocusReason reason = event->reason();
        if (event->type() == QEvent::FocusOut) {
            // Back with its window, or from its own pop-up, it is ringed again.
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                m_byKeyboard = false;
            m_ring->hide();
            return;
        }
        // A dialog as it shows tells its first control, which has no focus
        // yet, that it came by Tab: that is no key a person pressed.
        const bool keys = w->hasFocus()
            && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason);
        const bool again =
            (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) && m_byKeyboard && w == m_target;
        m_target = w;
        m_byKeyboard = keys || again;
        if (m_byKeyboard)
            place();
        else
            m_ring->hide();
    }

    void place()
    {
        if (!m_target || !m_target->isVisible()) {
            m_ring->hide();
            return;
        }
        m_ring->around(m_target);
    }

    QWidget* m_area;
    Ring* m_ring;
    QPointer<QWidget> m_target;
    bool m_byKeyboard = false;
    QTimer m_again;
};

} // namespace

void follow(QWidget* area, const QColor& colour, int radius)
{
    if (!area->findChild<QObject*>(QStringLiteral("kvrFocusRingFollower"), Qt::FindDirectChildrenOnly))
        new Follower(area, colour, radius);
}

const QWidget* shown(const QWidget* area)
{
    const auto* follower = static_cast<const Follower*>(
        area->findChild<QObject*>(QStringLiteral("kvrFocusRingFollower"), Qt::FindDirectChildrenOnly));
    return follower ? follower->ring() : nullptr;
}

} // namespace FocusRing

} // namespace kvr::ui
