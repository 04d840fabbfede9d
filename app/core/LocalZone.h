#pragma once

#include <QDate>
#include <QDateTime>
#include <QtGlobal>

namespace kvr::core {

// Local wall-clock readings of moments, with the zone's offset remembered
// per quarter of an hour. Every conversion Qt makes to or from local time
// asks the C library, which reads the zone's file again each time; a table
// of thousands of rows with several times each spent most of its rebuild
// there. Zone changes land on quarter hours everywhere, so one offset holds
// for a whole quarter. What is remembered is forgotten after a minute and
// whenever the TZ variable changes, so a new system zone (a laptop carried
// abroad) shows within a minute. Each thread keeps its own.
namespace LocalZone {

// Seconds east of UTC of the local zone at `utcSecs` (seconds since the epoch).
int offsetAt(qint64 utcSecs);

// The local date and time of `moment` as a plain reading: a QDateTime in UTC
// whose date and time are the local ones, for formatting (without zone
// names) and for comparing days. An invalid moment gives an invalid one.
QDateTime wallClock(const QDateTime& moment);

// The local date of `moment`; invalid for an invalid moment.
QDate date(const QDateTime& moment);

// `moment` in UTC. A local time is converted with its day's offset, worked
// out once per day (a day on which the offset changes is converted moment
// by moment, as Qt does): comparisons and differences of moments held in
// local time then cost no zone look-up each.
QDateTime utc(const QDateTime& moment);
// The same for a local reading given as its date and time.
QDateTime utc(const QDate& date, const QTime& time);

} // namespace LocalZone

} // namespace kvr::core
