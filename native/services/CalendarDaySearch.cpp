#include "native/services/CalendarDaySearch.h"

#include "native/services/Brands.h"
#include "native/services/DeviceParsers.h"
#include "native/services/Tunables.h"

#include <QUuid>

#include <algorithm>
#include <memory>

namespace kvr::services {

namespace NativeCalendar {

namespace {

const QString kSearching = QStringLiteral("searching recordings");

struct HikDay {
    const QObject* receiver = nullptr;
    Native::Device device;
    int channel = 1;
    bool main = true;
    QDate date;
    QString searchId;
    QList<Clip> clips;
    DayCallback done;
};

void sortByStart(QList<Clip>& clips)
{
    std::stable_sort(clips.begin(), clips.end(), [](const Clip& a, const Clip& b) { return a.start < b.start; });
}

bool isMore(const QString& text)
{
    return text.compare(QLatin1String("MORE"), Qt::CaseInsensitive) == 0;
}

void hikDayPage(const std::shared_ptr<HikDay>& search, qint64 position, int page)
{
    const QString path = NativeBrand::isapiRoot(search->device) + QStringLiteral("/ContentMgmt/search");
    NativeHttp::post(
        search->device, path,
        hikDayBody(search->searchId, trackId(search->channel, search->main), search->date, position), kXmlContentType,
        NativeHttp::Digest, search->receiver,
        [search, position, page](const NativeHttp::Response& r) {
            if (!r.ok()) {
                search->done({}, failureText(r, kSearching));
                return;
            }
            const HikDayPage got = readHikDayPage(r.body);
            search->clips += got.clips;
            const qint64 next = hikNextPosition(got, position, page);
            if (next >= 0) {
                hikDayPage(search, next, page + 1);
                return;
            }
            sortByStart(search->clips);
            search->done(search->clips, QString());
        },
        tun::kDeviceRequestTimeout);
}

} // namespace

void day(const Native::Device& device, int channel, bool main, const QDate& date, const QObject* receiver,
         DayCallback done)
{
    if (!done)
        done = [](const QList<Clip>&, const QString&) {};
    if (!NativeBrand::calendarSupported(device)) {
        done({}, QStringLiteral("This brand has no recording search yet."));
        return;
    }
    if (NativeBrand::isHikStyle(device.manufacturer)) {
        auto search = std::make_shared<HikDay>();
        search->receiver = receiver;
        search->device = device;
        search->channel = channel;
        search->main = main;
        search->date = date;
        search->searchId = QUuid::createUuid().toString(QUuid::WithoutBraces);
        search->done = std::move(done);
        hikDayPage(search, 0, 0);
        return;
    }
    auto clips = std::make_shared<QList<Clip>>();
    dahuaFileSearch(
        device, channel, main, date, date, receiver, kDayPageSize,
        [clips](const QByteArray& body, int page) {
            const DahuaDayPage got = readDahuaDayPage(body);
            *clips += got.clips;
            return dahuaWantsNextPage(got, page);
        },
        [clips, done](const QString& error) {
            if (!error.isEmpty()) {
                done({}, error);
                return;
            }
            sortByStart(*clips);
            done(*clips, QString());
        });
}

QByteArray hikDayBody(const QString& searchId, qint64 track, const QDate& date, qint64 position)
{
    // The device reads both times as its own wall clock, "Z" or not. Written
    // from the date alone: where a clock change skips midnight, that local
    // moment does not exist here and would print as nothing.
    const QString day = date.toString(Qt::ISODate);
    const QString start = day + QStringLiteral("T00:00:00Z");
    const QString end = day + QStringLiteral("T23:59:59Z");
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?><CMSearchDescription>"
                          "<searchID>%1</searchID>"
                          "<trackIDList><trackID>%2</trackID></trackIDList>"
                          "<timeSpanList><timeSpan><startTime>%3</startTime><endTime>%4</endTime></timeSpan>"
                          "</timeSpanList>"
                          "<maxResults>%5</maxResults>"
                          "<searchResultPostion>%6</searchResultPostion>"
                          "<metadataList><metadataDescriptor>%7</metadataDescriptor></metadataList>"
                          "</CMSearchDescription>")
        .arg(searchId, QString::number(track), start, end, QString::number(kDayPageSize), QString::number(position),
             QLatin1String(kAllRecordTypes))
        .toUtf8();
}

HikDayPage readHikDayPage(const QByteArray& body)
{
    HikDayPage page;
    const QList<NativeParse::FlatMap> items = NativeParse::xmlList(body, QStringLiteral("searchMatchItem"));
    page.items = items.size();
    for (const NativeParse::FlatMap& item : items) {
        const QDateTime start = NativeParse::wallClock(item.value(QStringLiteral("starttime")));
        const QDateTime end = NativeParse::wallClock(item.value(QStringLiteral("endtime")));
        if (start.isValid() && end.isValid())
            page.clips.append(Clip{start, end});
    }
    // Recorders mark a further page in one of two leaves, depending on the
    // firmware; either is believed.
    const NativeParse::FlatMap flat = NativeParse::xmlFlat(body);
    page.more = isMore(flat.value(QStringLiteral("responsestatusstrdesc")))
        || isMore(flat.value(QStringLiteral("responsestatusstrg")));
    return page;
}

qint64 hikNextPosition(const HikDayPage& page, qint64 position, int pageIndex)
{
    // The page count bounds a device that always says "more".
    if (!page.more || page.items <= 0 || pageIndex + 1 >= kDayMaxPages)
        return -1;
    return position + page.items;
}

bool dahuaWantsNextPage(const DahuaDayPage& page, int pageIndex)
{
    return page.found >= kDayPageSize && pageIndex + 1 < kDayMaxPages;
}

DahuaDayPage readDahuaDayPage(const QByteArray& body)
{
    DahuaDayPage page;
    const NativeParse::FlatMap kv = NativeParse::keyValue(body);
    bool ok = false;
    const qint64 found = kv.value(QStringLiteral("found")).toLongLong(&ok);
    page.found = ok && found > 0 ? found : 0;
    // Each clip needs two keys, so a count beyond what the answer holds reads
    // nothing more; a wild count must not become a long loop.
    const qint64 readable = std::min<qint64>(page.found, kv.size() / 2 + 1);
    for (qint64 i = 0; i < readable; ++i) {
        const QDateTime start = NativeParse::wallClock(kv.value(QStringLiteral("items[%1].StartTime").arg(i)));
        const QDateTime end = NativeParse::wallClock(kv.value(QStringLiteral("items[%1].EndTime").arg(i)));
        if (start.isValid() && end.isValid())
            page.clips.append(Clip{start, end});
    }
    return page;
}

} // namespace NativeCalendar

} // namespace kvr::services
