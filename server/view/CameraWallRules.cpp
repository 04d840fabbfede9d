#include "server/view/CameraWallRules.h"

#include "server/view/Tunables.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace kvr::view {

namespace {

const QString kSeparator = QStringLiteral("  ·  ");
constexpr int kAutoPerPage = 16;

} // namespace

namespace CameraWallRules {

QList<PerPage> perPageChoices()
{
    return {{QStringLiteral("Auto"), 0}, {QStringLiteral("4"), 2},  {QStringLiteral("9"), 3},
            {QStringLiteral("16"), 4},   {QStringLiteral("25"), 5}, {QStringLiteral("36"), 6}};
}

int camerasPerPage(int side)
{
    return side > 0 ? side * side : kAutoPerPage;
}

int pageCount(int cameras, int side)
{
    const int per = camerasPerPage(side);
    return std::max(1, (cameras + per - 1) / per);
}

int columnsFor(int side, int tiles)
{
    if (side > 0)
        return side;
    return std::max(1, int(std::ceil(std::sqrt(double(std::max(tiles, 0))))));
}

int rowsFor(int side, int tiles, int columns)
{
    if (side > 0)
        return side;
    return std::max(1, (tiles + columns - 1) / std::max(columns, 1));
}

PageSpan pageSpan(int page, int cameras, int side)
{
    PageSpan span;
    const int per = camerasPerPage(side);
    span.pages = pageCount(cameras, side);
    span.page = std::clamp(page, 0, span.pages - 1);
    span.first = span.page * per;
    span.end = std::min(per * (span.page + 1), cameras);
    if (span.end < span.first)
        span.end = span.first;
    return span;
}

QList<WallCamera> withoutRepeats(const QList<WallCamera>& cameras)
{
    QList<WallCamera> out;
    QSet<QString> seen;
    for (const WallCamera& c : cameras) {
        if (seen.contains(c.id))
            continue;
        seen.insert(c.id);
        out << c;
    }
    return out;
}

QString tileTitle(const WallCamera& camera)
{
    return camera.subtitle.isEmpty() ? camera.title : camera.title + kSeparator + camera.subtitle;
}

QString countLabel(const PageSpan& span, int cameras, int overloadStep)
{
    QString text = span.pages >= 2
        ? QStringLiteral("%1–%2 of %3 cameras").arg(span.first + 1).arg(span.end).arg(cameras)
        : QStringLiteral("%1 camera%2").arg(cameras).arg(cameras == 1 ? "" : "s");
    if (overloadStep >= 1)
        text += kSeparator + reductionNote(overloadStep);
    return text;
}

QString pageLabel(const PageSpan& span)
{
    return QStringLiteral("%1 / %2").arg(span.page + 1).arg(span.pages);
}

bool usesMain(int tilesOnPage, int overloadStep, int gridQuality)
{
    if (overloadStep >= 2)
        return false;
    if (gridQuality == 1)
        return true;
    if (gridQuality == 0)
        return tilesOnPage < 5;
    return false;
}

double fpsCap(int tiles, int overloadStep)
{
    if (overloadStep > 0)
        return tun::kOverloadCap_fps;
    if (tiles <= 4)
        return 0;
    if (tiles <= 9)
        return 12;
    if (tiles <= 16)
        return 10;
    return 8;
}

QString reductionNote(int overloadStep)
{
    if (overloadStep <= 0)
        return QString();
    if (overloadStep == 1)
        return QStringLiteral("Lower picture rate: this computer couldn’t keep up");
    if (overloadStep == 2)
        return QStringLiteral("Lighter streams and lower picture rate: this computer couldn’t keep up");
    return QStringLiteral("Still pictures only: this computer can’t play this many cameras live");
}

QString withReductionNote(const QString& label, int overloadStep)
{
    const qsizetype cut = label.indexOf(kSeparator);
    const QString base = cut < 0 ? label : label.left(cut);
    return base + kSeparator + reductionNote(overloadStep);
}

std::optional<int> OverloadSteps::report(qint64 nowMs)
{
    if (m_step >= tun::kLastOverloadStep)
        return std::nullopt;
    if (m_lastStepMs && nowMs - *m_lastStepMs < tun::kOverloadSpacing.count())
        return std::nullopt;
    m_lastStepMs = nowMs;
    return ++m_step;
}

void OverloadSteps::reset()
{
    m_step = 0;
    m_lastStepMs.reset();
}

int scoutTile(const QList<ScoutTile>& tiles, bool startsUnderWay, qint64 periodMs)
{
    if (startsUnderWay)
        return -1;
    int soonest = -1;
    for (int i = 0; i < tiles.size(); ++i) {
        const ScoutTile& t = tiles.at(i);
        if (t.playing || t.trying)
            return -1;
        if (t.waiting && (soonest < 0 || t.waitLeftMs < tiles.at(soonest).waitLeftMs))
            soonest = i;
    }
    return soonest >= 0 && tiles.at(soonest).waitLeftMs > periodMs ? soonest : -1;
}

AdvancePrefill advancePrefill(qint64 s)
{
    if (s > 0 && s % 3600 == 0)
        return {int(s / 3600), 2};
    if (s > 0 && s % 60 == 0)
        return {int(s / 60), 1};
    return {int(s), 0};
}

QString advanceRefusal(qint64 seconds)
{
    return seconds < tun::kShortestAdvance.count() ? QStringLiteral("The shortest interval is 10 seconds.") : QString();
}

qint64 unitSeconds(int unit)
{
    return unit == 2 ? 3600 : unit == 1 ? 60 : 1;
}

QString advanceButtonText(qint64 s)
{
    if (s > 0 && s % 3600 == 0)
        return QStringLiteral("Every %1 h").arg(s / 3600);
    if (s > 0 && s % 60 == 0)
        return QStringLiteral("Every %1 min").arg(s / 60);
    return QStringLiteral("Every %1 s").arg(s);
}

int nextTimerSliceMs(qint64 remainingMs)
{
    return int(std::clamp<qint64>(remainingMs, 1, tun::kLongestTimerSlice.count()));
}

} // namespace CameraWallRules

} // namespace kvr::view
