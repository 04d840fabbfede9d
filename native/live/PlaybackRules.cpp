#include "native/live/PlaybackRules.h"

#include "native/live/Tunables.h"

#include <algorithm>
#include <cmath>

using namespace kvr::services;

namespace kvr::live {

namespace PlaybackRules {

namespace {
// The same day and time zone at another time of day.
QDateTime atTime(QDateTime on, const QTime& time)
{
    on.setTime(time);
    return on;
}
const QTime kLastStart(23, 58, 0);
const QTime kLastSecond(23, 59, 59);
} // namespace

QDateTime clampStart(const QDateTime& at, const QDateTime& now)
{
    QDateTime start = at;
    if (start > now)
        start = now.addSecs(-tun::kFutureStartBack.count());
    const QDateTime latest = atTime(start, kLastStart);
    if (start > latest)
        start = latest;
    return start;
}

QDateTime windowEnd(const QDateTime& start)
{
    const QDateTime end = start.addSecs(tun::kPlaybackWindow.count());
    const QDateTime last = atTime(start, kLastSecond);
    return end > last ? last : end;
}

QDateTime seekTarget(const QDate& day, double second)
{
    const double clamped = std::clamp(std::isfinite(second) ? second : 0.0, 0.0, 86399.0);
    return QDateTime(day, QTime(0, 0).addSecs(int(clamped)));
}

QDateTime stepped(const QDateTime& position, int seconds)
{
    return position.addSecs(seconds);
}

std::optional<QDateTime> clockStep(const QDateTime& playStart, double clockBase, double seconds,
                                   const QDateTime& position)
{
    const qint64 ms = qint64(std::trunc((seconds - clockBase) * 1000.0));
    const QDateTime next = playStart.addMSecs(ms);
    if (position.isValid() && next.toSecsSinceEpoch() == position.toSecsSinceEpoch())
        return std::nullopt;
    return next;
}

Transport transportFor(bool hasTiles, bool started, bool paused, const QDateTime& position, const QDate& day)
{
    Transport t;
    t.playEnabled = hasTiles;
    t.stepEnabled = hasTiles && started;
    t.pauseText = paused ? QStringLiteral("Resume") : QStringLiteral("Pause");
    if (started) {
        t.status = QStringLiteral("%1%2").arg(paused ? QStringLiteral("Paused \u00b7 ") : QString(),
                                              position.time().toString(QStringLiteral("HH:mm:ss")));
        t.playhead = position.date() == day ? double(QTime(0, 0).secsTo(position.time())) : -1.0;
    } else {
        t.status = QStringLiteral("Pick a time");
    }
    return t;
}

void appendClips(QList<Block>& blocks, const QList<NativeCalendar::Clip>& clips, const QDate& day)
{
    for (const NativeCalendar::Clip& clip : clips) {
        if (clip.start.date() != day)
            continue;
        const double s = QTime(0, 0).secsTo(clip.start.time());
        double e = clip.end.date() > day ? 86400.0 : double(QTime(0, 0).secsTo(clip.end.time()));
        if (clip.end.date() < day)
            e = s; // ends before it starts: a block of one second
        e = std::max(e, s + 1.0);
        blocks.append({s, e});
    }
}

QList<Block> mergeBlocks(QList<Block> blocks)
{
    std::sort(blocks.begin(), blocks.end());
    QList<Block> merged;
    for (const Block& b : blocks) {
        if (!merged.isEmpty() && b.first <= merged.last().second + double(tun::kCoverageJoinGap.count()))
            merged.last().second = std::max(merged.last().second, b.second);
        else
            merged.append(b);
    }
    return merged;
}

QString coverageNote(bool complete, int mergedBlocks)
{
    if (!complete)
        return QStringLiteral("Footage times are not listed for every camera here");
    return mergedBlocks > 0 ? QString() : QStringLiteral("No footage found on this day");
}

QString idleHeadline(bool paused)
{
    return paused ? QStringLiteral("Paused") : QStringLiteral("Pick a time");
}

QString idleDetail(bool paused)
{
    // Before the first start each tile of a page says one short thing; the
    // transport bar above them is where the time is picked.
    return paused ? QStringLiteral("Press Resume to carry on.") : QString();
}

} // namespace PlaybackRules

} // namespace kvr::live
