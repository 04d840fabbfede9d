#pragma once

// The recorded intervals ("clips") of one day of a camera stream, asked of
// the recorder in the dialect of its brand: the ISAPI content-management
// search, paged by position, or a Dahua media-file finder, paged by
// findNextFile. The callback runs exactly once on the main thread.

#include "native/services/CalendarSearch.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <functional>

namespace kvr::services {

namespace NativeCalendar {

using DayCallback = std::function<void(const QList<Clip>& clips, const QString& error)>;

// The clips of that day, sorted by start; on failure an empty list and a
// sentence (never the part gathered before the failure). A receiver (see
// NativeHttp.h) that goes first stops the search, as for month().
void day(const Native::Device& device, int channel, bool main, const QDate& date, const QObject* receiver,
         DayCallback done);
inline void day(const Native::Device& device, int channel, bool main, const QDate& date, DayCallback done)
{
    day(device, channel, main, date, nullptr, std::move(done));
}

// ---- Building blocks -----------------------------------------------------------
// Clips asked for per page, and pages read at most by one day search.
inline constexpr int kDayPageSize = 100;
inline constexpr int kDayMaxPages = 20;

// The ISAPI record-type identifier that selects recordings of every type.
inline constexpr char kAllRecordTypes[] = "//recordType.meta.std-cgi.com";

// The ISAPI search body for one page of a day.
QByteArray hikDayBody(const QString& searchId, qint64 trackId, const QDate& date, qint64 position);

// One ISAPI search answer: the clips read, the number of items it held
// (readable or not) and whether it marks a further page.
struct HikDayPage {
    QList<Clip> clips;
    qint64 items = 0;
    bool more = false;
};
HikDayPage readHikDayPage(const QByteArray& body);
// Where the next ISAPI page starts after page `pageIndex` (0-based) read at
// `position`; -1 when the search ends: no further page marked, a page that
// brought nothing (it cannot move the position on), or the page limit.
qint64 hikNextPosition(const HikDayPage& page, qint64 position, int pageIndex);

// One findNextFile answer: the clips read and the device's "found" count
// (0 when missing or not a number).
struct DahuaDayPage {
    QList<Clip> clips;
    qint64 found = 0;
};
DahuaDayPage readDahuaDayPage(const QByteArray& body);
// Whether a Dahua day search asks for another page after page `pageIndex`:
// a full page, and the page limit not reached.
bool dahuaWantsNextPage(const DahuaDayPage& page, int pageIndex);

} // namespace NativeCalendar

} // namespace kvr::services
