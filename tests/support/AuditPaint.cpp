#include "tests/support/AuditPaint.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPen>
#include <QPixmap>
#include <QRegion>
#include <QTextItem>
#include <QTransform>
#include <QWidget>

#include <climits>

namespace screenaudit {

namespace {

// A paint engine that keeps what it is asked to draw instead of drawing it.
class Recorder final : public QPaintEngine {
public:
    explicit Recorder(QRectF whole) : QPaintEngine(QPaintEngine::AllFeatures), m_whole(whole) {}

    Painting painting;

    bool begin(QPaintDevice*) override
    {
        m_clip = m_whole;
        m_clipOn = false;
        m_transform = QTransform();
        return true;
    }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }

    void updateState(const QPaintEngineState& s) override
    {
        const DirtyFlags f = s.state();
        if (f & DirtyTransform)
            m_transform = s.transform();
        if (f & DirtyPen)
            m_pen = s.pen();
        if (f & DirtyBrush)
            m_brush = s.brush();
        if (f & DirtyOpacity)
            m_opacity = s.opacity();
        if (f & DirtyClipEnabled)
            m_clipOn = s.isClipEnabled();
        if (f & DirtyClipRegion)
            clipTo(s.clipOperation(), m_transform.mapRect(QRectF(s.clipRegion().boundingRect())));
        if (f & DirtyClipPath)
            clipTo(s.clipOperation(), m_transform.map(s.clipPath()).boundingRect());
    }

    void drawTextItem(const QPointF& p, const QTextItem& item) override
    {
        const QRectF box(p.x(), p.y() - item.ascent(), item.width(), item.ascent() + item.descent());
        PaintedText t;
        t.text = item.text();
        t.rect = m_transform.mapRect(box);
        t.clip = currentClip();
        QColor c = m_pen.brush().style() == Qt::SolidPattern ? m_pen.brush().color() : m_pen.color();
        c.setAlphaF(float(c.alphaF() * m_opacity));
        t.colour = c;
        t.font = item.font();
        if (!t.text.trimmed().isEmpty() && m_pen.style() != Qt::NoPen)
            painting.texts << t;
    }

    void drawRects(const QRectF* rects, int count) override
    {
        for (int i = 0; i < count; ++i)
            mark(rects[i], true);
    }
    void drawRects(const QRect* rects, int count) override
    {
        for (int i = 0; i < count; ++i)
            mark(QRectF(rects[i]), true);
    }
    void drawLines(const QLineF* lines, int count) override
    {
        for (int i = 0; i < count; ++i)
            mark(QRectF(lines[i].p1(), lines[i].p2()).normalized(), false);
    }
    void drawLines(const QLine* lines, int count) override
    {
        for (int i = 0; i < count; ++i)
            mark(QRectF(QPointF(lines[i].p1()), QPointF(lines[i].p2())).normalized(), false);
    }
    void drawEllipse(const QRectF& r) override { mark(r, true); }
    void drawEllipse(const QRect& r) override { mark(QRectF(r), true); }
    void drawPath(const QPainterPath& path) override { mark(path.boundingRect(), true); }
    void drawPoints(const QPointF* points, int count) override
    {
        for (int i = 0; i < count; ++i)
            mark(QRectF(points[i], QSizeF(1, 1)), false);
    }
    void drawPoints(const QPoint* points, int count) override
    {
        for (int i = 0; i < count; ++i)
            mark(QRectF(QPointF(points[i]), QSizeF(1, 1)), false);
    }
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        mark(QPolygonF(QList<QPointF>(points, points + count)).boundingRect(), mode != PolylineMode);
    }
    void drawPolygon(const QPoint* points, int count, PolygonDrawMode mode) override
    {
        QPolygonF polygon;
        for (int i = 0; i < count; ++i)
            polygon << QPointF(points[i]);
        mark(polygon.boundingRect(), mode != PolylineMode);
    }
    void drawPixmap(const QRectF& r, const QPixmap&, const QRectF&) override { markPicture(r); }
    void drawTiledPixmap(const QRectF& r, const QPixmap&, const QPointF&) override { markPicture(r); }
    void drawImage(const QRectF& r, const QImage&, const QRectF&, Qt::ImageConversionFlags) override { markPicture(r); }

private:
    QRectF currentClip() const
    {
        QRectF c = m_clipOn ? m_clip : m_whole;
        if (!systemClip().isEmpty())
            c &= QRectF(systemClip().boundingRect());
        return c;
    }

    void clipTo(Qt::ClipOperation op, const QRectF& r)
    {
        switch (op) {
        case Qt::NoClip:
            m_clipOn = false;
            m_clip = m_whole;
            break;
        case Qt::ReplaceClip:
            m_clipOn = true;
            m_clip = r;
            break;
        case Qt::IntersectClip:
            m_clip = (m_clipOn ? m_clip : m_whole) & r;
            m_clipOn = true;
            break;
        }
    }

    bool visible(bool filled) const
    {
        if (m_opacity <= 0.0)
            return false;
        const bool pen = m_pen.style() != Qt::NoPen && m_pen.color().alpha() > 0;
        const bool brush = filled && m_brush.style() != Qt::NoBrush
            && (m_brush.style() != Qt::SolidPattern || m_brush.color().alpha() > 0);
        return pen || brush;
    }

    void mark(const QRectF& r, bool filled)
    {
        if (!visible(filled))
            return;
        const QRectF box = m_transform.mapRect(r) & currentClip();
        if (!box.isEmpty() || (box.width() > 0 || box.height() > 0))
            painting.ink << box;
    }

    void markPicture(const QRectF& r)
    {
        if (m_opacity <= 0.0)
            return;
        const QRectF box = m_transform.mapRect(r) & currentClip();
        if (!box.isEmpty()) {
            painting.ink << box;
            painting.pictures << box;
        }
    }

    QRectF m_whole;
    QRectF m_clip;
    bool m_clipOn = false;
    QTransform m_transform;
    QPen m_pen;
    QBrush m_brush;
    qreal m_opacity = 1.0;
};

class RecordingDevice final : public QPaintDevice {
public:
    explicit RecordingDevice(const QWidget* w) : m_widget(w), m_engine(QRectF(w->rect())) {}
    QPaintEngine* paintEngine() const override { return &m_engine; }
    Painting painting() const { return m_engine.painting; }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth:
            return m_widget->width();
        case PdmHeight:
            return m_widget->height();
        case PdmWidthMM:
            return m_widget->widthMM();
        case PdmHeightMM:
            return m_widget->heightMM();
        case PdmNumColors:
            return INT_MAX;
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmPhysicalDpiX:
            return m_widget->logicalDpiX();
        case PdmDpiY:
        case PdmPhysicalDpiY:
            return m_widget->logicalDpiY();
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    const QWidget* m_widget;
    mutable Recorder m_engine;
};

} // namespace

Painting recordPainting(QWidget* w)
{
    RecordingDevice device(w);
    w->render(&device, QPoint(), QRegion(w->rect()), QWidget::RenderFlags());
    return device.painting();
}

} // namespace screenaudit
