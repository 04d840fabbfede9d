#include "app/ui/TimelineBar.h"

#include "app/ui/Theme.h"
#include "app/ui/Tunables.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTime>

#include <algorithm>
#include <cmath>

namespace kvr::ui {

namespace {

namespace tun = kvr::ui::tun;
constexpr double kMarginX = tun::kTimelineMargin_px;
constexpr double kTrackTop = tun::kTimelineTrackTop_px;
constexpr double kTrackHeight = tun::kTimelineTrackHeight_px;
constexpr int kHeight = tun::kTimelineHeight_px;
constexpr int kMajorEveryTwoFrom_px = tun::kTimelineMajorEveryTwoFrom_px;
constexpr double kDay_s = double(tun::kTimelineSpan.count());

} // namespace

TimelineBar::TimelineBar(QWidget* parent) : QWidget(parent), m_accent(Theme::colour(Theme::Colour::Accent))
{
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Timeline"));
}

double TimelineBar::keyedSecond(double playhead, int key)
{
    const double from = std::max(playhead, 0.0);
    double to = -1;
    switch (key) {
    case Qt::Key_Left:
        to = from - 60;
        break;
    case Qt::Key_Right:
        to = from + 60;
        break;
    case Qt::Key_PageUp:
        to = from - 600;
        break;
    case Qt::Key_PageDown:
        to = from + 600;
        break;
    case Qt::Key_Home:
        to = 0;
        break;
    default:
        return -1;
    }
    return std::clamp(to, 0.0, 86399.0);
}

void TimelineBar::keyPressEvent(QKeyEvent* event)
{
    const double to = m_interactive && !m_dragging ? keyedSecond(m_playhead, event->key()) : -1;
    if (to < 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    m_playhead = to;
    update();
    Q_EMIT seekRequested(to);
}

QSize TimelineBar::sizeHint() const
{
    return {600, kHeight};
}

QSize TimelineBar::minimumSizeHint() const
{
    return {200, kHeight};
}

void TimelineBar::setCoverage(const QList<std::pair<double, double>>& blocks, bool known)
{
    m_coverage = blocks;
    m_coverageKnown = known;
    m_blocksWhileUnknown = false;
    update();
}

void TimelineBar::setFoundCoverage(const QList<std::pair<double, double>>& blocks, bool complete)
{
    setCoverage(blocks, complete);
    m_blocksWhileUnknown = true;
}

void TimelineBar::setPlayhead(double seconds)
{
    if (m_dragging)
        return;
    m_playhead = seconds;
    update();
}

void TimelineBar::setAccent(const QColor& colour)
{
    m_accent = colour;
    update();
}

void TimelineBar::setInteractive(bool on)
{
    m_interactive = on;
    setCursor(on ? Qt::PointingHandCursor : Qt::ArrowCursor);
    setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus);
}

QRectF TimelineBar::trackRect() const
{
    return {kMarginX, kTrackTop, width() - 2 * kMarginX, kTrackHeight};
}

double TimelineBar::xAt(double second) const
{
    return kMarginX + (width() - 2 * kMarginX) * std::clamp(second / kDay_s, 0.0, 1.0);
}

double TimelineBar::secondAt(double x) const
{
    const double span = width() - 2 * kMarginX;
    if (span <= 0)
        return 0;
    return std::clamp((x - kMarginX) / span, 0.0, 1.0) * kDay_s;
}

QString TimelineBar::clock(double seconds)
{
    // A second that is no number counts as the day's start.
    const double held = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, kDay_s - 1);
    return QTime(0, 0).addSecs(int(held)).toString(QStringLiteral("HH:mm:ss"));
}

bool TimelineBar::isMajorHour(int hour, int width)
{
    return hour % (width >= kMajorEveryTwoFrom_px ? 2 : 4) == 0;
}

void TimelineBar::mousePressEvent(QMouseEvent* event)
{
    if (!m_interactive || event->button() != Qt::LeftButton)
        return;
    m_dragging = true;
    m_playhead = secondAt(event->position().x());
    update();
}

void TimelineBar::mouseMoveEvent(QMouseEvent* event)
{
    m_hover = secondAt(event->position().x());
    if (m_dragging)
        m_playhead = m_hover;
    update();
}

void TimelineBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    m_playhead = secondAt(event->position().x());
    update();
    Q_EMIT seekRequested(m_playhead);
}

void TimelineBar::leaveEvent(QEvent* event)
{
    m_hover = -1;
    update();
    QWidget::leaveEvent(event);
}

void TimelineBar::paintEvent(QPaintEvent*)
{
    using Theme::Colour;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = p.font();
    font.setPixelSize(10);
    p.setFont(font);
    const QRectF track = trackRect();
    const double bottom = track.bottom();

    // Hour marks, labelled every two or four hours.
    for (int h = 0; h <= 24; ++h) {
        const double x = xAt(h * 3600.0);
        const bool major = isMajorHour(h, width());
        p.setPen(QPen(Theme::colour(Colour::White, (major ? 60 : 28) / 255.0), 1));
        p.drawLine(QPointF(x, bottom + 3), QPointF(x, bottom + (major ? 9 : 6)));
        if (major) {
            p.setPen(Theme::colour(Colour::Muted));
            p.drawText(QRectF(x - 20, bottom + 10, 40, 14), Qt::AlignCenter,
                       QStringLiteral("%1:00").arg(h, 2, 10, QLatin1Char('0')));
        }
    }

    p.setPen(Qt::NoPen);
    p.setBrush(Theme::colour(Colour::Raised));
    QPainterPath rounded;
    rounded.addRoundedRect(track, 7, 7);
    p.drawPath(rounded);
    if (hasFocus()) {
        // Where the keyboard is: the track ringed in the accent.
        p.save();
        p.setPen(QPen(m_accent, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(track.adjusted(-2, -2, 2, 2), 8, 8);
        p.restore();
    }
    p.save();
    p.setClipPath(rounded);
    if (!m_coverageKnown) {
        // Unknown footage: the day is hatched.
        p.setPen(QPen(Theme::colour(Colour::White, 14 / 255.0), 1));
        for (double x = kMarginX; x < kMarginX + track.width() + 14; x += 8)
            p.drawLine(QPointF(x, bottom), QPointF(x + 14, track.top()));
    }
    if (blocksShown()) {
        QColor block = m_accent;
        block.setAlpha(190);
        p.setPen(Qt::NoPen);
        p.setBrush(block);
        for (const auto& [start, end] : m_coverage) {
            const double x1 = xAt(start);
            const double x2 = std::max(xAt(end), x1 + 2);
            p.drawRect(QRectF(x1, track.top(), x2 - x1, track.height()));
        }
    }
    p.restore();

    if (m_hover >= 0 && m_interactive) {
        const double x = xAt(m_hover);
        p.setPen(QPen(Theme::colour(Colour::White, 90 / 255.0), 1));
        p.drawLine(QPointF(x, track.top() - 4), QPointF(x, bottom + 4));
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::colour(Colour::Black, 160 / 255.0));
        const QRectF bubble(x - 30, 0, 60, 18);
        p.drawRoundedRect(bubble, 6, 6);
        p.setPen(Theme::colour(Colour::White, 220 / 255.0));
        p.drawText(bubble, Qt::AlignCenter, clock(m_hover));
    }

    if (m_playhead >= 0) {
        const double x = xAt(m_playhead);
        QPen head(Theme::colour(Colour::White), 2);
        head.setCapStyle(Qt::RoundCap);
        p.setPen(head);
        p.drawLine(QPointF(x, track.top() - 5), QPointF(x, bottom + 5));
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::colour(Colour::White));
        const QPointF tip[] = {{x - 5, track.top() - 9}, {x + 5, track.top() - 9}, {x, track.top() - 3}};
        p.drawPolygon(tip, 3);
    }
}

} // namespace kvr::ui
