#include "app/core/LocalZone.h"

#include <QHash>

#include <chrono>
#include <cstdlib>
#include <limits>
#include <string>

namespace kvr::core {

namespace LocalZone {

namespace {

constexpr qint64 kQuarterSecs = 15 * 60;
constexpr auto kForgetAfter = std::chrono::minutes(1);
constexpr qsizetype kMostRemembered = 20000; // about seven months of quarters

struct Remembered {
    bool tzSet = false;
    std::string tz;
    std::chrono::steady_clock::time_point since;
    QHash<qint64, int> offsets;    // by quarter since the epoch
    QHash<qint64, int> dayOffsets; // by local day (Julian day number)
};

constexpr int kOffsetChanges = std::numeric_limits<int>::min(); // of a day

qint64 floorDiv(qint64 a, qint64 b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

Remembered& remembered()
{
    thread_local Remembered r;
    const char* tz = std::getenv("TZ");
    const auto now = std::chrono::steady_clock::now();
    const bool sameTz = (tz != nullptr) == r.tzSet && (!tz || r.tz == tz);
    if (!sameTz || now - r.since >= kForgetAfter || r.offsets.size() >= kMostRemembered
        || r.dayOffsets.size() >= kMostRemembered) {
        r.offsets.clear();
        r.dayOffsets.clear();
        r.tzSet = tz != nullptr;
        r.tz = tz ? tz : "";
        r.since = now;
    }
    return r;
}

} // namespace

int offsetAt(qint64 utcSecs)
{
    Remembered& r = remembered();
    const qint64 quarter = floorDiv(utcSecs, kQuarterSecs);
    const auto it = r.offsets.constFind(quarter);
    if (it != r.offsets.cend())
        return *it;
    const int offset = QDateTime::fromSecsSinceEpoch(quarter * kQuarterSecs, Qt::UTC).toLocalTime().offsetFromUtc();
    r.offsets.insert(quarter, offset);
    return offset;
}

QDateTime wallClock(const QDateTime& moment)
{
    if (!moment.isValid())
        return {};
    if (moment.timeSpec() == Qt::LocalTime)
        return QDateTime(moment.date(), moment.time(), Qt::UTC); // already a local reading
    const qint64 ms = moment.toMSecsSinceEpoch();
    return QDateTime::fromMSecsSinceEpoch(ms + qint64(offsetAt(floorDiv(ms, 1000))) * 1000, Qt::UTC);
}

QDate date(const QDateTime& moment)
{
    if (!moment.isValid())
        return {};
    if (moment.timeSpec() == Qt::LocalTime)
        return moment.date();
    return wallClock(moment).date();
}

namespace {

// The day's offset, or kOffsetChanges when it changes during the day.
int dayOffset(const QDate& day)
{
    Remembered& r = remembered();
    auto it = r.dayOffsets.constFind(day.toJulianDay());
    if (it == r.dayOffsets.cend()) {
        const QDateTime start(day, QTime(0, 0));
        const QDateTime end(day, QTime(23, 59, 59, 999));
        const int offset = start.isValid() && end.isValid() && start.offsetFromUtc() == end.offsetFromUtc()
            ? start.offsetFromUtc()
            : kOffsetChanges;
        it = r.dayOffsets.insert(day.toJulianDay(), offset);
    }
    return *it;
}

} // namespace

QDateTime utc(const QDateTime& moment)
{
    if (!moment.isValid() || moment.timeSpec() != Qt::LocalTime)
        return moment.toUTC();
    const int offset = dayOffset(moment.date());
    if (offset == kOffsetChanges)
        return moment.toUTC(); // it knows which of two same-named hours it is
    return QDateTime(moment.date(), moment.time(), Qt::UTC).addSecs(-offset);
}

QDateTime utc(const QDate& date, const QTime& time)
{
    if (!date.isValid() || !time.isValid())
        return {};
    const int offset = dayOffset(date);
    if (offset == kOffsetChanges)
        return QDateTime(date, time).toUTC();
    return QDateTime(date, time, Qt::UTC).addSecs(-offset);
}

} // namespace LocalZone

} // namespace kvr::core
