#include "native/screens/UptimeCharts.h"

#include "native/screens/NativeStyle.h"

#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

using namespace kvr::services;

namespace kvr::screens {

namespace {

constexpr double kLeft = 64;
constexpr double kTop = 22;
constexpr double kMaxRowPitch = 34;

} // namespace

UptimeHeatmap::UptimeHeatmap(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumHeight(120);
    setAccessibleName(QStringLiteral("Uptime by hour"));
}

void UptimeHeatmap::setCells(const QList<Native::UptimeCell>& cells)
{
    m_cells = cells;
    m_hoverColumn = -1;
    m_hoverRow = -1;
    update();
}

QRectF UptimeHeatmap::cellRect(int row, int column) const
{
    const double cw = (width() - kLeft) / 24.0;
    const double rh = qMin((height() - kTop) / qMax(rows(), 1), kMaxRowPitch);
    return {kLeft + column * cw, kTop + row * rh, cw - 2, rh - 2};
}

QPoint UptimeHeatmap::hitAt(const QPointF& pos) const
{
    if (m_cells.size() < 24)
        return {-1, -1};
    const double cw = (width() - kLeft) / 24.0;
    const double rh = qMin((height() - kTop) / qMax(rows(), 1), kMaxRowPitch);
    for (int r = 0; r < rows(); ++r)
        for (int c = 0; c < 24; ++c)
            if (QRectF(kLeft + c * cw, kTop + r * rh, cw, rh).contains(pos))
                return {c, r};
    return {-1, -1};
}

QColor UptimeHeatmap::colorFor(int m)
{
    using namespace NativeStyle;
    if (m < 0)
        return kNoData;
    if (m == 0)
        return QColor(kDanger.red(), kDanger.green(), kDanger.blue(), 51);
    if (m <= 30) {
        const double t = (m - 1) / 29.0;
        QColor c;
        c.setRgbF(float(kWarning.redF() + (kSuccess.redF() - kWarning.redF()) * t),
                  float(kWarning.greenF() + (kSuccess.greenF() - kWarning.greenF()) * t),
                  float(kWarning.blueF() + (kSuccess.blueF() - kWarning.blueF()) * t));
        return c;
    }
    QColor c = kSuccess;
    c.setAlphaF(float(qMin(1.0, 0.8 + (m - 30) * 0.2 / 30.0)));
    return c;
}

QString UptimeHeatmap::tipFor(const Native::UptimeCell& cell)
{
    const QString head = QStringLiteral("%1, %2:00 to %3:00")
                             .arg(QLocale().toString(cell.date, QStringLiteral("ddd d MMM")))
                             .arg(cell.hour, 2, 10, QLatin1Char('0'))
                             .arg((cell.hour + 1) % 24, 2, 10, QLatin1Char('0'));
    return cell.minutes >= 0 ? head + QStringLiteral("\n%1 of 60 min up").arg(cell.minutes)
                             : head + QStringLiteral("\nNo data yet");
}

void UptimeHeatmap::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint hit = hitAt(event->position());
    if (hit.x() != m_hoverColumn || hit.y() != m_hoverRow) {
        m_hoverColumn = hit.x();
        m_hoverRow = hit.y();
        update();
    }
    if (hit.x() < 0) {
        QToolTip::showText(event->globalPosition().toPoint(), QString(), this);
        return;
    }
    QToolTip::showText(event->globalPosition().toPoint(), tipFor(m_cells.at(hit.y() * 24 + hit.x())), this);
}

void UptimeHeatmap::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    m_hoverColumn = -1;
    m_hoverRow = -1;
    update();
}

void UptimeHeatmap::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = font();
    f.setPixelSize(11);
    p.setFont(f);
    p.setPen(NativeStyle::kMuted);
    const double cw = (width() - kLeft) / 24.0;
    const double rh = qMin((height() - kTop) / qMax(rows(), 1), kMaxRowPitch);
    for (int h = 0; h < 24; h += 3)
        p.drawText(QRectF(kLeft + h * cw, 0, (cw - 2) * 3, 18), Qt::AlignLeft | Qt::AlignBottom,
                   QStringLiteral("%1:00").arg(h, 2, 10, QLatin1Char('0')));
    if (m_cells.size() < 24)
        return;
    const int n = rows();
    for (int r = 0; r < n; ++r) {
        p.setPen(NativeStyle::kMuted);
        const QString label =
            n == 1 ? QStringLiteral("Today") : QLocale().toString(m_cells.at(r * 24).date, QStringLiteral("MMM d"));
        p.drawText(QRectF(0, kTop + r * rh, 56, rh - 2), Qt::AlignRight | Qt::AlignVCenter, label);
        p.setPen(Qt::NoPen);
        for (int c = 0; c < 24; ++c) {
            p.setBrush(colorFor(m_cells.at(r * 24 + c).minutes));
            p.drawRoundedRect(cellRect(r, c), 3, 3);
        }
    }
    if (m_hoverColumn >= 0 && m_hoverRow >= 0 && m_hoverRow < n) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(NativeStyle::kPrimary, 1.5));
        const QRectF cell = cellRect(m_hoverRow, m_hoverColumn);
        p.drawRoundedRect(QRectF(cell.x() - 0.5, cell.y() - 0.5, cw - 1, rh - 1), 3, 3);
    }
}

UptimeLegend::UptimeLegend(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(28);
}

void UptimeLegend::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = font();
    f.setPixelSize(11);
    p.setFont(f);
    const int t = (height() - 1 - 11) / 2;
    const int h = height();
    p.setPen(NativeStyle::kMuted);
    p.drawText(QRect(0, 0, 28, h), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("0%"));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(UptimeHeatmap::colorFor(0));
    p.drawLine(32, t, 32, t + 11);
    for (int x = 33; x <= 191; ++x) {
        p.setPen(UptimeHeatmap::colorFor(59 * (x - 32) / 160 + 1));
        p.drawLine(x, t, x, t + 11);
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(NativeStyle::kMuted);
    p.drawText(QRect(197, 0, 40, h), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("100%"));
    p.setPen(Qt::NoPen);
    p.setBrush(NativeStyle::kNoData);
    p.drawRoundedRect(QRectF(250, t, 12, 12), 3, 3);
    p.setPen(NativeStyle::kMuted);
    p.drawText(QRect(269, 0, 90, h), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("No data yet"));
}

} // namespace kvr::screens
