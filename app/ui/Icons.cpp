#include "app/ui/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <numbers>

namespace kvr::ui {

namespace Theme {

namespace {

// Every icon is drawn on a square of side s in logical pixels; points are
// given as fractions of s. The stroke keeps one width at every size, so small
// icons read bolder.
constexpr qreal kStrokeWidth = 1.8;

class Canvas {
public:
    Canvas(QPainter& painter, qreal side) : p(painter), s(side) {}

    QPointF at(qreal x, qreal y) const { return {x * s, y * s}; }
    QRectF box(qreal x, qreal y, qreal w, qreal h) const { return {x * s, y * s, w * s, h * s}; }

    void line(qreal x1, qreal y1, qreal x2, qreal y2) const { p.drawLine(at(x1, y1), at(x2, y2)); }

    void polyline(std::initializer_list<QPointF> fractions) const
    {
        QPolygonF poly;
        for (const QPointF& f : fractions)
            poly << at(f.x(), f.y());
        p.drawPolyline(poly);
    }

    void polygon(std::initializer_list<QPointF> fractions) const
    {
        QPolygonF poly;
        for (const QPointF& f : fractions)
            poly << at(f.x(), f.y());
        p.drawPolygon(poly);
    }

    void circle(qreal cx, qreal cy, qreal r) const { p.drawEllipse(at(cx, cy), r * s, r * s); }

    QPainter& p;
    const qreal s;
};

void speaker(const Canvas& c)
{
    c.polygon({{0.2, 0.4}, {0.34, 0.4}, {0.52, 0.24}, {0.52, 0.76}, {0.34, 0.6}, {0.2, 0.6}});
}

void draw(Icon kind, const Canvas& c, const QColor& colour)
{
    QPainter& p = c.p;
    QPen stroke(colour, kStrokeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const auto strokeMode = [&] {
        p.setBrush(Qt::NoBrush);
        p.setPen(stroke);
    };
    p.setPen(Qt::NoPen);
    p.setBrush(colour);

    switch (kind) {
    case Icon::Play:
        c.polygon({{0.32, 0.2}, {0.8, 0.5}, {0.32, 0.8}});
        break;
    case Icon::Pause:
        p.drawRoundedRect(c.box(0.28, 0.22, 0.16, 0.56), 1.5, 1.5);
        p.drawRoundedRect(c.box(0.56, 0.22, 0.16, 0.56), 1.5, 1.5);
        break;
    case Icon::Stop:
        p.drawRoundedRect(c.box(0.26, 0.26, 0.48, 0.48), 3.0, 3.0);
        break;
    case Icon::EnterFullscreen:
        strokeMode();
        // Each corner's arms run towards the centre.
        c.line(0.22, 0.22, 0.4, 0.22);
        c.line(0.22, 0.22, 0.22, 0.4);
        c.line(0.78, 0.22, 0.6, 0.22);
        c.line(0.78, 0.22, 0.78, 0.4);
        c.line(0.22, 0.78, 0.4, 0.78);
        c.line(0.22, 0.78, 0.22, 0.6);
        c.line(0.78, 0.78, 0.6, 0.78);
        c.line(0.78, 0.78, 0.78, 0.6);
        break;
    case Icon::LeaveFullscreen:
        strokeMode();
        // Corners near the centre, arms running outwards.
        c.line(0.4, 0.4, 0.22, 0.4);
        c.line(0.4, 0.4, 0.4, 0.22);
        c.line(0.6, 0.4, 0.78, 0.4);
        c.line(0.6, 0.4, 0.6, 0.22);
        c.line(0.4, 0.6, 0.22, 0.6);
        c.line(0.4, 0.6, 0.4, 0.78);
        c.line(0.6, 0.6, 0.78, 0.6);
        c.line(0.6, 0.6, 0.6, 0.78);
        break;
    case Icon::Search:
        strokeMode();
        p.drawEllipse(c.box(0.2, 0.2, 0.44, 0.44));
        c.line(0.58, 0.58, 0.8, 0.8);
        break;
    case Icon::ChevronLeft:
        strokeMode();
        c.polyline({{0.6, 0.25}, {0.38, 0.5}, {0.6, 0.75}});
        break;
    case Icon::ChevronRight:
        strokeMode();
        c.polyline({{0.4, 0.25}, {0.62, 0.5}, {0.4, 0.75}});
        break;
    case Icon::SoundOn:
        speaker(c);
        strokeMode();
        // Two sound waves: 50 degrees below three o'clock, 100 degrees upwards.
        p.drawArc(c.box(0.4, 0.34, 0.26, 0.32), -50 * 16, 100 * 16);
        p.drawArc(c.box(0.46, 0.22, 0.38, 0.56), -50 * 16, 100 * 16);
        break;
    case Icon::SoundOff:
        speaker(c);
        strokeMode();
        c.line(0.64, 0.38, 0.84, 0.62);
        c.line(0.84, 0.38, 0.64, 0.62);
        break;
    case Icon::Settings: {
        strokeMode();
        c.circle(0.5, 0.5, 0.15);
        c.circle(0.5, 0.5, 0.28);
        for (int i = 0; i < 8; ++i) {
            const qreal a = i * std::numbers::pi / 4.0;
            const qreal dx = std::cos(a), dy = std::sin(a);
            c.line(0.5 + 0.28 * dx, 0.5 + 0.28 * dy, 0.5 + 0.4 * dx, 0.5 + 0.4 * dy);
        }
        break;
    }
    case Icon::Checked:
        strokeMode();
        p.drawRoundedRect(c.box(0.2, 0.2, 0.6, 0.6), 0.12 * c.s, 0.12 * c.s);
        c.polyline({{0.34, 0.5}, {0.45, 0.62}, {0.67, 0.38}});
        break;
    case Icon::Snapshot:
        strokeMode();
        p.drawRoundedRect(c.box(0.16, 0.3, 0.68, 0.5), 0.1 * c.s, 0.1 * c.s);
        c.line(0.34, 0.3, 0.4, 0.2);
        c.line(0.4, 0.2, 0.6, 0.2);
        c.line(0.6, 0.2, 0.66, 0.3);
        c.circle(0.5, 0.55, 0.14);
        break;
    case Icon::Close:
        strokeMode();
        c.line(0.28, 0.28, 0.72, 0.72);
        c.line(0.72, 0.28, 0.28, 0.72);
        break;
    case Icon::Expand:
        strokeMode();
        c.line(0.55, 0.45, 0.8, 0.2);
        c.line(0.8, 0.2, 0.6, 0.2);
        c.line(0.8, 0.2, 0.8, 0.4);
        c.line(0.45, 0.55, 0.2, 0.8);
        c.line(0.2, 0.8, 0.4, 0.8);
        c.line(0.2, 0.8, 0.2, 0.6);
        break;
    case Icon::SkipStart:
        strokeMode();
        c.polyline({{0.46, 0.28}, {0.36, 0.5}, {0.46, 0.72}});
        c.polyline({{0.68, 0.28}, {0.58, 0.5}, {0.68, 0.72}});
        c.line(0.2, 0.28, 0.2, 0.72);
        break;
    case Icon::SkipEnd:
        strokeMode();
        c.polyline({{0.54, 0.28}, {0.64, 0.5}, {0.54, 0.72}});
        c.polyline({{0.32, 0.28}, {0.42, 0.5}, {0.32, 0.72}});
        c.line(0.8, 0.28, 0.8, 0.72);
        break;
    case Icon::Retry: {
        // Most of a ring turning clockwise, open at the right; from its upper
        // end the stroke runs on into an arrowhead's corner.
        strokeMode();
        constexpr qreal cx = 0.47, cy = 0.53, r = 0.28;
        p.drawArc(c.box(cx - r, cy - r, 2 * r, 2 * r), 45 * 16, 295 * 16);
        const qreal end = r * std::numbers::sqrt2 / 2.0;
        const QPointF corner(cx + end + 0.145, cy - end + 0.135);
        c.line(cx + end, cy - end, corner.x(), corner.y());
        c.polyline({{corner.x(), corner.y() - 0.19}, corner, {corner.x() - 0.19, corner.y()}});
        break;
    }
    }
    // Any other value falls through the switch and leaves the icon empty.
}

} // namespace

QIcon icon(Icon kind, const QColor& colour, int size)
{
    if (size < 1)
        return QIcon();
    QPixmap pm(2 * size, 2 * size);
    pm.setDevicePixelRatio(2.0);
    pm.fill(Qt::transparent);
    {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        draw(kind, Canvas(p, size), colour);
    }
    return QIcon(pm);
}

} // namespace Theme

} // namespace kvr::ui
