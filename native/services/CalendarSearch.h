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

// The days from `from` to `to` on which the channel's main or sub stream
// has recordings, from a Dahua-style recorder: one search over the whole
// span, its files read a page at a time, each file counting for the days it
// covers. A window of a month costs a few requests where the month search
// asks two a day, which a recorder on a slow link (seconds an answer)
// cannot answer within a check. On failure an empty set and a sentence.
// The receiver as for `month`.
using DaysCallback = std::function<void(const QSet<QDate>& days, const QString& error)>;
void dahuaRecordedDays(const Native::Device& device, int channel, bool main, const QDate& from, const QDate& to,
                       const QObject* receiver, DaysCallback done);

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

// The findFile path covering one whole day, or whole days from `from` to
// `to`.
QString dahuaFindFileUrl(int channel, bool main, const QString& object, const QDate& date);
QString dahuaFindFileUrl(int channel, bool main, const QString& object, const QDate& from, const QDate& to);

// Files asked for per page of a span search, and pages read at most.
inline constexpr int kSpanPageSize = 100;
inline constexpr int kSpanMaxPages = 100;

// The days from `from` to `to` that the files of one findNextFile answer
// cover (a file with an unreadable end counts for its start's day), and the
// device's "found" count (0 when missing or not a number).
struct DahuaSpanPage {
    QSet<QDate> days;
    qint64 found = 0;
};
DahuaSpanPage readDahuaSpanPage(const QByteArray& body, const QDate& from, const QDate& to);

// Creates a Dahua finder; `job` gets its object and a close callback that
// closes and destroys it (once; also when the receiver goes first); `fail`
// gets the sentence when none was made.
void withFinder(const Native::Device& device, const QObject* receiver, std::function<void(const QString& error)> fail,
                std::function<void(const QString& object, std::function<void()> close)> job);

// A Dahua file search from `from` to `to` on a finder of its own: findFile,
// then findNextFile pages of `pageSize` files. `page` gets each answer's
// body with its index and says whether another page is wanted; `done` gets
// the sentence of the answer that failed (empty when none did), after the
// finder was closed.
void dahuaFileSearch(const Native::Device& device, int channel, bool main, const QDate& from, const QDate& to,
                     const QObject* receiver, int pageSize, std::function<bool(const QByteArray& body, int page)> page,
                     std::function<void(const QString& error)> done);

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
