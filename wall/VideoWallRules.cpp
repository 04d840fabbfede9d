#include "wall/VideoWallRules.h"

#include "wall/Config.h"
#include "wall/Source.h"
#include "wall/Tunables.h"

namespace kvr::wall {

namespace VideoWall::VideoWallRules {

int fpsCapFor(int shownOnDisplay)
{
    if (shownOnDisplay < tun::kNoFpsCapBelowTiles)
        return 0;
    if (shownOnDisplay < tun::kMidFpsCapBelowTiles)
        return tun::kMidFpsCap;
    return tun::kLowFpsCap;
}

bool useMain(int quality, int tileCount)
{
    if (quality == kQualityMain)
        return true;
    if (quality == kQualitySub)
        return false;
    return tileCount < tun::kAutoMainBelowTiles;
}

bool qualifies(const ScreenConfig* screen)
{
    return screen && screen->enabled && screen->assignedCount() >= 1;
}

QString barText(int number, const QString& label, int tiles)
{
    const QString dot = QStringLiteral(" \u00B7 ");
    return QStringLiteral("Display ") + QString::number(number) + dot + label + dot + QString::number(tiles)
        + (tiles == 1 ? QStringLiteral(" camera") : QStringLiteral(" cameras")) + dot
        + QStringLiteral("Esc stops the wall");
}

BarChange barChange(const QSize& window, const QPoint& pointer, bool barVisible, const QRect& barGeometry)
{
    if (QRect(QPoint(0, 0), window).contains(pointer) && pointer.y() < tun::kBarHotBandPx)
        return BarChange::Show;
    if (barVisible && !barGeometry.contains(pointer))
        return BarChange::Hide;
    return BarChange::Keep;
}

QString identifyText(int number, const QString& title)
{
    return QStringLiteral("<div style='font-size:120px; font-weight:700;'>%1</div>"
                          "<div style='font-size:20px;'>%2</div>")
        .arg(QString::number(number), title.toHtmlEscaped());
}

QRect identifyGeometry(const QRect& display, const QSize& natural)
{
    const int w = qMax(natural.width(), tun::kIdentifyMinWidthPx);
    const int h = qMax(natural.height(), tun::kIdentifyMinHeightPx);
    const int left = (display.left() + display.right()) / 2 - w / 2;
    const int top = (display.top() + display.bottom()) / 2 - h / 2;
    return QRect(left, top, w, h);
}

} // namespace VideoWall::VideoWallRules

} // namespace kvr::wall
