#include "native/services/CalendarSearch.h"

#include "app/core/Clock.h"
#include "native/services/Brands.h"
#include "native/services/DeviceParsers.h"
#include "native/services/Tunables.h"

#include <QRegularExpression>
#include <QUrl>

#include <memory>
#include <utility>

namespace kvr::services {

namespace NativeCalendar {

namespace {

const QString kSearching = QStringLiteral("searching recordings");

struct DahuaMonth {
    const QObject* receiver = nullptr;
    Native::Device device;
    int channel = 1;
    bool main = true;
    int year = 0;
    int month = 0;
    int lastDay = 0;
    QSet<int> days;
    MonthCallback done;
};

void hikMonth(const Native::Device& device, int channel, bool main, int year, int month, const QObject* receiver,
              MonthCallback done)
{
    const QString path = QStringLiteral("%1/ContentMgmt/record/tracks/%2/dailyDistribution")
                             .arg(NativeBrand::isapiRoot(device), QString::number(trackId(channel, main)));
    NativeHttp::post(
        device, path, hikMonthBody(year, month), kXmlContentType, NativeHttp::Digest, receiver,
        [done, year, month](const NativeHttp::Response& r) {
            if (!r.ok()) {
                done({}, failureText(r, QStringLiteral("a recording calendar")));
                return;
            }
            done(hikMonthDays(r.body, year, month), QString());
        },
        tun::kDeviceRequestTimeout);
}

void dahuaMonthStep(const std::shared_ptr<DahuaMonth>& search, const QString& object, int day,
                    const std::function<void()>& close)
{
    if (day > search->lastDay) {
        close();
        search->done(search->days, QString());
        return;
    }
    const QDate date(search->year, search->month, day);
    NativeHttp::get(
        search->device, dahuaFindFileUrl(search->channel, search->main, object, date), NativeHttp::Digest,
        search->receiver,
        [search, object, day, close](const NativeHttp::Response& found) {
            if (!found.ok()) {
                close();
                search->done({}, failureText(found, kSearching));
                return;
            }
            NativeHttp::get(
                search->device,
                QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=findNextFile&object=%1&count=1").arg(object),
                NativeHttp::Digest, search->receiver,
                [search, object, day, close](const NativeHttp::Response& next) {
                    // A failed findNextFile only means no recording that day.
                    if (next.ok()) {
                        bool ok = false;
                        const qint64 n =
                            NativeParse::keyValue(next.body).value(QStringLiteral("found")).toLongLong(&ok);
                        if (ok && n > 0)
                            search->days.insert(day);
                    }
                    dahuaMonthStep(search, object, day + 1, close);
                },
                tun::kDeviceRequestTimeout);
        },
        tun::kDeviceRequestTimeout);
}

struct FileSearch {
    const QObject* receiver = nullptr;
    Native::Device device;
    int pageSize = 0;
    std::function<bool(const QByteArray&, int)> page;
    std::function<void(const QString&)> done;
};

void fileSearchPage(const std::shared_ptr<FileSearch>& search, const QString& object, int page,
                    const std::function<void()>& close)
{
    NativeHttp::get(
        search->device,
        QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=findNextFile&object=%1&count=%2")
            .arg(object)
            .arg(search->pageSize),
        NativeHttp::Digest, search->receiver,
        [search, object, page, close](const NativeHttp::Response& r) {
            if (!r.ok()) {
                close();
                search->done(failureText(r, kSearching));
                return;
            }
            if (search->page(r.body, page)) {
                fileSearchPage(search, object, page + 1, close);
                return;
            }
            close();
            search->done(QString());
        },
        tun::kDeviceRequestTimeout);
}

} // namespace

void dahuaFileSearch(const Native::Device& device, int channel, bool main, const QDate& from, const QDate& to,
                     const QObject* receiver, int pageSize, std::function<bool(const QByteArray&, int)> page,
                     std::function<void(const QString&)> done)
{
    auto search = std::make_shared<FileSearch>();
    search->receiver = receiver;
    search->device = device;
    search->pageSize = pageSize;
    search->page = std::move(page);
    search->done = std::move(done);
    withFinder(device, receiver, search->done,
               [search, channel, main, from, to](const QString& object, std::function<void()> close) {
                   NativeHttp::get(
                       search->device, dahuaFindFileUrl(channel, main, object, from, to), NativeHttp::Digest,
                       search->receiver,
                       [search, object, close](const NativeHttp::Response& r) {
                           if (!r.ok()) {
                               close();
                               search->done(failureText(r, kSearching));
                               return;
                           }
                           fileSearchPage(search, object, 0, close);
                       },
                       tun::kDeviceRequestTimeout);
               });
}

void dahuaRecordedDays(const Native::Device& device, int channel, bool main, const QDate& from, const QDate& to,
                       const QObject* receiver, DaysCallback done)
{
    if (!done)
        done = [](const QSet<QDate>&, const QString&) {};
    auto days = std::make_shared<QSet<QDate>>();
    dahuaFileSearch(
        device, channel, main, from, to, receiver, kSpanPageSize,
        [days, from, to](const QByteArray& body, int page) {
            const DahuaSpanPage got = readDahuaSpanPage(body, from, to);
            *days += got.days;
            // A full page may have more behind it, unless every day is
            // counted already.
            const bool all = days->size() > from.daysTo(to);
            return got.found >= kSpanPageSize && page + 1 < kSpanMaxPages && !all;
        },
        [days, done](const QString& error) { done(error.isEmpty() ? *days : QSet<QDate>(), error); });
}

DahuaSpanPage readDahuaSpanPage(const QByteArray& body, const QDate& from, const QDate& to)
{
    DahuaSpanPage page;
    const NativeParse::FlatMap kv = NativeParse::keyValue(body);
    bool ok = false;
    const qint64 found = kv.value(QStringLiteral("found")).toLongLong(&ok);
    page.found = ok && found > 0 ? found : 0;
    // Each file needs a key, so a count beyond what the answer holds reads
    // nothing more; a wild count must not become a long loop.
    const qint64 readable = std::min<qint64>(page.found, kv.size());
    for (qint64 i = 0; i < readable; ++i) {
        const QDateTime start = NativeParse::wallClock(kv.value(QStringLiteral("items[%1].StartTime").arg(i)));
        if (!start.isValid())
            continue;
        const QDateTime end = NativeParse::wallClock(kv.value(QStringLiteral("items[%1].EndTime").arg(i)));
        const QDate last = std::min(end.isValid() && end.date() > start.date() ? end.date() : start.date(), to);
        for (QDate d = std::max(start.date(), from); d <= last; d = d.addDays(1))
            page.days.insert(d);
    }
    return page;
}

void month(const Native::Device& device, int channel, bool main, int year, int month, const QObject* receiver,
           MonthCallback done)
{
    if (!done)
        done = [](const QSet<int>&, const QString&) {};
    if (!NativeBrand::calendarSupported(device)) {
        done({}, QStringLiteral("This brand has no recording calendar yet."));
        return;
    }
    if (NativeBrand::isHikStyle(device.manufacturer)) {
        hikMonth(device, channel, main, year, month, receiver, std::move(done));
        return;
    }
    auto search = std::make_shared<DahuaMonth>();
    search->receiver = receiver;
    search->device = device;
    search->channel = channel;
    search->main = main;
    search->year = year;
    search->month = month;
    search->lastDay = dahuaLastDay(year, month, kvr::core::Clock::instance().nowUtc().toLocalTime().date());
    search->done = std::move(done);
    withFinder(
        device, receiver, [search](const QString& error) { search->done({}, error); },
        [search](const QString& object, std::function<void()> close) { dahuaMonthStep(search, object, 1, close); });
}

qint64 trackId(int channel, bool main)
{
    return qint64(channel) * 100 + (main ? 1 : 2);
}

QString failureText(const NativeHttp::Response& reply, const QString& what)
{
    switch (reply.status) {
    case 0:
        return QStringLiteral("Can't reach the device (%1)").arg(reply.error);
    case 401:
        return QStringLiteral("The device refused the login.");
    case 404:
    case 501:
        return QStringLiteral("This device doesn't support %1.").arg(what);
    default:
        return QStringLiteral("The device answered HTTP %1.").arg(reply.status);
    }
}

QString percentEncoded(const QString& text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString dahuaFindFileUrl(int channel, bool main, const QString& object, const QDate& date)
{
    return dahuaFindFileUrl(channel, main, object, date, date);
}

QString dahuaFindFileUrl(int channel, bool main, const QString& object, const QDate& from, const QDate& to)
{
    // Written from the dates themselves: a local midnight that a clock
    // change skips has no QDateTime, and the device's day starts at 00:00
    // anyway.
    const QString start = from.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00");
    const QString end = to.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 23:59:59");
    return QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=findFile&object=%1&condition.Channel=%2"
                          "&condition.StartTime=%3&condition.EndTime=%4&condition.Types[0]=dav"
                          "&condition.VideoStream=%5")
        .arg(object, QString::number(channel), percentEncoded(start), percentEncoded(end),
             main ? QStringLiteral("Main") : QStringLiteral("Extra1"));
}

void withFinder(const Native::Device& device, const QObject* receiver, std::function<void(const QString&)> fail,
                std::function<void(const QString&, std::function<void()>)> job)
{
    NativeHttp::get(
        device, QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=factory.create"), NativeHttp::Digest, receiver,
        [device, receiver, fail, job](const NativeHttp::Response& r) {
            if (!r.ok()) {
                fail(failureText(r, kSearching));
                return;
            }
            const QString object = NativeParse::keyValue(r.body).value(QStringLiteral("result"));
            // The object goes into the addresses of the next requests as it
            // is: only a plain token (recorders send a number) is taken.
            static const QRegularExpression token(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
            if (!token.match(object).hasMatch()) {
                fail(QStringLiteral("The device didn't open a search."));
                return;
            }
            // Closed once: when the search ends, or when its receiver goes
            // while a request of the search is pending (the device keeps an
            // open finder until it is told).
            auto closed = std::make_shared<bool>(false);
            auto close = [device, object, closed] {
                if (!std::exchange(*closed, true))
                    dahuaDestroy(device, object);
            };
            if (receiver) {
                auto* watch = new QObject;
                QObject::connect(receiver, &QObject::destroyed, watch, [close, watch] {
                    close();
                    watch->deleteLater();
                });
                job(object, [close, watch] {
                    close();
                    watch->deleteLater();
                });
                return;
            }
            job(object, close);
        },
        tun::kDeviceRequestTimeout);
}

void dahuaDestroy(const Native::Device& device, const QString& object)
{
    NativeHttp::get(
        device, QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=close&object=") + object, NativeHttp::Digest,
        [device, object](const NativeHttp::Response&) {
            NativeHttp::get(
                device, QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=destroy&object=") + object,
                NativeHttp::Digest, [](const NativeHttp::Response&) {}, tun::kDeviceRequestTimeout);
        },
        tun::kDeviceRequestTimeout);
}

int dahuaLastDay(int year, int month, const QDate& today)
{
    const QDate first(year, month, 1);
    if (!first.isValid() || first > today)
        return 0;
    const QDate last(year, month, first.daysInMonth());
    return last <= today ? first.daysInMonth() : today.day();
}

QSet<int> hikMonthDays(const QByteArray& body)
{
    QSet<int> days;
    const auto items = NativeParse::xmlList(body, QStringLiteral("day"));
    for (const NativeParse::FlatMap& item : items) {
        bool ok = false;
        const int d = item.value(QStringLiteral("dayofmonth")).toInt(&ok);
        if (!ok)
            continue;
        if (item.value(QStringLiteral("record")).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            days.insert(d);
    }
    return days;
}

QSet<int> hikMonthDays(const QByteArray& body, int year, int month)
{
    // A device's day number is not to be trusted: the month grid has only
    // the days of that month.
    const QDate first(year, month, 1);
    const int last = first.isValid() ? first.daysInMonth() : 31;
    QSet<int> days;
    for (const int d : hikMonthDays(body))
        if (d >= 1 && d <= last)
            days.insert(d);
    return days;
}

QByteArray hikMonthBody(int year, int month)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?><trackDailyParam><year>%1</year>"
                          "<monthOfYear>%2</monthOfYear></trackDailyParam>")
        .arg(year)
        .arg(month)
        .toUtf8();
}

} // namespace NativeCalendar

} // namespace kvr::services
