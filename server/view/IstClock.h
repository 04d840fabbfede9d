#pragma once

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

namespace kvr::view {

// ---- IST day clock ----------------------------------------------------------
// Server playback, timelines and cloud segment names count time in India
// Standard Time, a fixed offset from UTC with no daylight saving; every date
// and time of these screens is carried in that zone, never in the computer's.
namespace Ist {

QTimeZone zone();
// Today's IST date at the given instant.
QDate dateAt(const QDateTime& instant);
// The instant at `second` (whole seconds, 0..86399) of an IST day.
QDateTime at(const QDate& day, int second);
// 00:00 of an IST day.
inline QDateTime midnight(const QDate& day)
{
    return at(day, 0);
}

} // namespace Ist

// Today's IST date by the project clock.
QDate todayIst();

} // namespace kvr::view
