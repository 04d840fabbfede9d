#pragma once

// Asks a recorder about the recordings of one camera stream, over the
// device's own HTTP interface in the dialect of its brand: the ISAPI
// content-management search, or the media-file-find CGI of Dahua-style
// recorders. Each call calls back exactly once on the main thread:
// synchronously when the brand has no search, otherwise from a reply.

#include "native/services/NativeHttp.h"
#include "native/services/NativeRecords.h"

#include <QDate>
#include <QDateTime>
#include <QSet>
#include <QString>

#include <functional>

namespace kvr::services {

namespace NativeCalendar {

// One recorded interval, in the device's own wall-clock time.
struct Clip {
    QDateTime start;
    QDateTime end;
};

using MonthCallback = std::function<void(const QSet<int>& days, const QString& error)>;

// The day numbers of that month that hold recordings of the channel's main
// or sub stream; on failure an empty set and a sentence. When the receiver
// (see NativeHttp.h) goes first, the search stops at once: its requests are
// aborted, nobody is called back, and a Dahua finder is still closed.
void month(const Native::Device& device, int channel, bool main, int year, int month, const QObject* receiver,
           MonthCallback done);
inline void month(const Native::Device& device, int channel, bool main, int year, int monthNumber, MonthCallback done)
{
    month(device, channel, main, year, monthNumber, nullptr, std::move(done));
}

// ---- Building blocks shared by the month and day searches -------------------

// Content type of the ISAPI search bodies.
inline constexpr char kXmlContentType[] = "application/xml";

// ISAPI track id: channel x 100 + 1 (main) or + 2 (sub), in 64 bits.
qint64 trackId(int channel, bool main);

// The sentence for a failed reply; `what` names the request ("searching
// recordings", "a recording calendar").
QString failureText(const NativeHttp::Response& reply, const QString& what);

// The UTF-8 bytes of the text percent-encoded as in a URL query.
QString percentEncoded(const QString& text);

// The findFile path covering one whole day.
QString dahuaFindFileUrl(int channel, bool main, const QString& object, const QDate& date);

// Creates a Dahua finder; `job` gets its object and a close callback that
// closes and destroys it (once; also when the receiver goes first); `fail`
// gets the sentence when none was made.
void withFinder(const Native::Device& device, const QObject* receiver, std::function<void(const QString& error)> fail,
                std::function<void(const QString& object, std::function<void()> close)> job);

// Closes, then destroys a finder; nothing waits for either reply.
void dahuaDestroy(const Native::Device& device, const QString& object);

// The last day of the month a Dahua month search probes: days after today
// are never asked; 0 for a month that has not begun.
int dahuaLastDay(int year, int month, const QDate& today);

// The recorded day numbers of an ISAPI dailyDistribution answer.
QSet<int> hikMonthDays(const QByteArray& body);
// The same, keeping only day numbers that exist in that month.
QSet<int> hikMonthDays(const QByteArray& body, int year, int month);

// The ISAPI search body for one month.
QByteArray hikMonthBody(int year, int month);

} // namespace NativeCalendar

} // namespace kvr::services
