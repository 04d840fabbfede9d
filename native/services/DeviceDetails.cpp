#include "native/services/DeviceDetails.h"

#include "app/core/Clock.h"
#include "native/services/Brands.h"
#include "native/services/CalendarSearch.h"
#include "native/services/DeviceParsers.h"
#include "native/services/Tunables.h"

#include <QRegularExpression>

#include <memory>

namespace kvr::services {

namespace NativeDetails {

namespace {

// Dahua-style devices answer an unsupported request with a 200 whose body
// is "Error" and a reason; that is no answer at all, not an empty one.
bool dahuaError(const NativeHttp::Response& r)
{
    // Only a first line that is the word itself: "ErrorCount=0" is a key.
    const QByteArray body = r.body.trimmed();
    qsizetype end = body.indexOf('\n');
    if (end < 0)
        end = body.size();
    return r.ok() && body.left(end).trimmed().toLower() == "error";
}

// What an answer gives its part of the details.
enum class Got {
    Answer,  // read it
    Nothing, // the device does not offer the part: nothing to read, nothing to say
    Unread,  // no whole answer came, or it reads as nothing: marked with the reason
};

Got markUnread(Native::Detail part, const QString& reason, Native::ProbeResult& outcome)
{
    if (!outcome.health.unreadOf(part))
        outcome.health.unread.append({part, reason});
    return Got::Unread;
}

// Whether a status other than 2xx says the device could not answer now (a
// fault of its own, a refusal, too busy), rather than that it does not
// offer the part.
bool unanswered(int status)
{
    return (status >= 500 && status != 501) || status == 401 || status == 408 || status == 429;
}

// The answer's worth for its part: no status says the answer failed (too
// slow, cut short, too big, a loop), and so does a status of a device that
// could not answer now; any other status than 2xx says the device does not
// offer the part; a 2xx that `readable` rejects reads as nothing.
Got judge(const NativeHttp::Response& r, Native::Detail part, bool readable, Native::ProbeResult& outcome)
{
    if (r.status == 0)
        return markUnread(part, r.error, outcome);
    if (unanswered(r.status))
        return markUnread(part, NativeCalendar::failureText(r, QString()), outcome);
    if (!r.ok())
        return Got::Nothing;
    if (!readable)
        return markUnread(part, QStringLiteral("The device's answer could not be read."), outcome);
    return Got::Answer;
}

// A readable ISAPI answer: one whole XML document (of disks: one that
// speaks of disks, so a page of another kind is no empty disk list).
bool isapiReadable(const NativeHttp::Response& r, Native::Detail part)
{
    QStringList names;
    if (!r.ok() || !NativeParse::xmlReadable(r.body, &names))
        return false;
    return part != Native::Detail::Disks || names.contains(QLatin1String("storage"))
        || names.contains(QLatin1String("hddlist")) || names.contains(QLatin1String("hdd"));
}

// A Dahua-style answer: an "Error" body is no answer to an offered part
// (but for the disks, which every recorder has, an unread one); else it
// must hold key=value lines.
Got judgeDahua(const NativeHttp::Response& r, Native::Detail part, Native::ProbeResult& outcome)
{
    if (dahuaError(r))
        return part == Native::Detail::Disks
            ? markUnread(part, QStringLiteral("The device answered with an error."), outcome)
            : Got::Nothing;
    return judge(r, part, r.ok() && NativeParse::keyValueReadable(r.body), outcome);
}

bool recorderType(const Native::Device& d)
{
    return d.type == QLatin1String("nvr") || d.type == QLatin1String("dvr");
}

// A channel number the records can hold, or 0.
int channelNumber(qint64 n)
{
    return (n >= 1 && n <= Native::kMaxChannels) ? int(n) : 0;
}

Native::ChannelInfo& entry(ChannelMap& map, int channel)
{
    Native::ChannelInfo& e = map[channel];
    e.channel = channel;
    return e;
}

// Devices write the same key in different letter cases; the first key
// (in sorted order) that matches without regard to case is taken.
QString valueNoCase(const NativeParse::FlatMap& map, const QString& key)
{
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        if (it.key().compare(key, Qt::CaseInsensitive) == 0)
            return it.value();
    return QString();
}

// The channel an ISAPI list item describes by its "id", 0 when none.
int itemChannel(const NativeParse::FlatMap& item)
{
    bool ok = false;
    const qint64 id = item.value(QStringLiteral("id")).toLongLong(&ok);
    return ok ? channelNumber(id) : 0;
}

// The device's clock with the moment its answer arrived: the other
// answers of the fetch (and the recordings count after them) may take
// seconds longer, which would read as the clock being behind.
void setDeviceTime(Native::Health& h, const QString& clock, const NativeHttp::Response& answer)
{
    h.deviceTime = clock;
    h.deviceTimeAt = clock.isEmpty() ? QDateTime() : answer.receivedAt.toLocalTime();
}

void mergeChannelNames(const QList<NativeParse::FlatMap>& items, ChannelMap& channels)
{
    for (const NativeParse::FlatMap& item : items) {
        const int channel = itemChannel(item);
        if (channel == 0)
            continue;
        Native::ChannelInfo& e = entry(channels, channel);
        if (e.name.isEmpty())
            e.name = item.value(QStringLiteral("name"));
    }
}

struct Count {
    const QObject* receiver = nullptr; // the months' requests are tied to it
    Native::Device device;
    int channel = 1;
    Window window;
    QDate cursor;
    QSet<QDate> dates;
    std::function<void(bool counted, int days)> done;
};

void monthStep(const std::shared_ptr<Count>& count)
{
    if (count->cursor < count->window.firstMonth) {
        count->done(true, recordedDaysIn(count->dates, count->window));
        return;
    }
    const QDate cursor = count->cursor;
    NativeCalendar::month(count->device, count->channel, true, cursor.year(), cursor.month(), count->receiver,
                          [count, cursor](const QSet<int>& days, const QString& error) {
                              if (!error.isEmpty()) {
                                  count->done(false, -1);
                                  return;
                              }
                              for (int d : days) {
                                  const QDate date(cursor.year(), cursor.month(), d);
                                  if (date.isValid())
                                      count->dates.insert(date);
                              }
                              count->cursor = cursor.addMonths(-1);
                              monthStep(count);
                          });
}

void countRecording(const Native::Device& device, int windowDays, Native::ProbeResult outcome, const QObject* receiver,
                    std::function<void(Native::ProbeResult)> done)
{
    if (windowDays < 1 || !NativeBrand::calendarSupported(device)) {
        done(std::move(outcome));
        return;
    }
    const QDate today = kvr::core::Clock::instance().nowUtc().toLocalTime().date();
    auto count = std::make_shared<Count>();
    count->receiver = receiver;
    count->device = device;
    count->channel = countedChannel(device);
    count->window = recordingWindow(today, windowDays);
    count->cursor = QDate(today.year(), today.month(), 1);
    auto result = std::make_shared<Native::ProbeResult>(std::move(outcome));
    count->done = [result, windowDays, done](bool counted, int days) {
        if (counted) {
            result->health.recordingDays = days;
            result->health.recordingWindow = windowDays;
        }
        done(*result);
    };
    if (NativeBrand::isHikStyle(device.manufacturer)) {
        monthStep(count); // a request a month
        return;
    }
    // A Dahua-style month search asks two requests a day, one after
    // another: the whole window is searched at once instead.
    NativeCalendar::dahuaRecordedDays(device, count->channel, true, count->window.start, count->window.end, receiver,
                                      [count](const QSet<QDate>& dates, const QString& error) {
                                          if (!error.isEmpty()) {
                                              count->done(false, -1);
                                              return;
                                          }
                                          count->done(true, recordedDaysIn(dates, count->window));
                                      });
}

void finishChannels(Native::ProbeResult& outcome, const ChannelMap& channels)
{
    for (auto it = channels.cbegin(); it != channels.cend(); ++it)
        outcome.channels << it.value();
    outcome.channelsKnown = !outcome.channels.isEmpty();
}

} // namespace

QList<Native::Detail> partsAsked(const Native::Device& device)
{
    using Native::Detail;
    if (NativeBrand::usesOnvif(device)
        || !(NativeBrand::isHikStyle(device.manufacturer) || NativeBrand::isDahuaStyle(device.manufacturer)))
        return {};
    return {Detail::Clock, Detail::Disks, Detail::ChannelNames, Detail::CameraStates};
}

QStringList hikPaths(const Native::Device& d)
{
    const QString r = NativeBrand::isapiRoot(d);
    return {r + QStringLiteral("/System/time"), r + QStringLiteral("/ContentMgmt/Storage"),
            r + QStringLiteral("/ContentMgmt/InputProxy/channels/status"),
            r + QStringLiteral("/ContentMgmt/InputProxy/channels"),
            r + QStringLiteral("/System/Video/inputs/channels")};
}

QStringList dahuaPaths()
{
    return {QStringLiteral("/cgi-bin/magicBox.cgi?action=getSoftwareVersion"),
            QStringLiteral("/cgi-bin/magicBox.cgi?action=getMachineName"),
            QStringLiteral("/cgi-bin/global.cgi?action=getCurrentTime"),
            QStringLiteral("/cgi-bin/storageDevice.cgi?action=getDeviceAllInfo"),
            QStringLiteral("/cgi-bin/configManager.cgi?action=getConfig&name=ChannelTitle"),
            QStringLiteral("/cgi-bin/LogicDeviceManager.cgi?action=getCameraState&uniqueChannels=All")};
}

void readHik(const Native::Device& device, const QList<NativeHttp::Response>& a, Native::ProbeResult& outcome,
             ChannelMap& channels)
{
    using Native::Detail;
    Native::Health& h = outcome.health;
    if (a.size() < 5)
        return;
    auto got = [&outcome, &a](int i, Detail part) {
        return judge(a[i], part, isapiReadable(a[i], part), outcome) == Got::Answer;
    };
    if (got(0, Detail::Clock))
        setDeviceTime(h, formatDeviceTime(NativeParse::xmlFlat(a[0].body).value(QStringLiteral("localtime"))), a[0]);
    if (got(1, Detail::Disks)) {
        // A fault is a disk that says so, or a list without a disk on a
        // recorder; an answer that reads as nothing was marked unread.
        const QList<NativeParse::FlatMap> disks = NativeParse::xmlList(a[1].body, QStringLiteral("hdd"));
        if (!disks.isEmpty()) {
            static const QStringList healthy = {QStringLiteral("ok"), QStringLiteral("normal"), QStringLiteral("idle"),
                                                QStringLiteral("sleeping")};
            bool fault = false;
            for (const NativeParse::FlatMap& disk : disks) {
                const auto status = disk.constFind(QStringLiteral("status"));
                if (status == disk.cend() || !healthy.contains(status.value().trimmed().toLower()))
                    fault = true;
            }
            h.hdd = fault ? QStringLiteral("Fault") : QStringLiteral("OK");
        } else if (recorderType(device)) {
            h.hdd = QStringLiteral("Fault");
        }
    }
    if (got(3, Detail::ChannelNames))
        mergeChannelNames(NativeParse::xmlList(a[3].body, QStringLiteral("InputProxyChannel")), channels);
    if (got(4, Detail::ChannelNames))
        mergeChannelNames(NativeParse::xmlList(a[4].body, QStringLiteral("VideoInputChannel")), channels);
    if (got(2, Detail::CameraStates)) {
        const auto items = NativeParse::xmlList(a[2].body, QStringLiteral("InputProxyChannelStatus"));
        for (const NativeParse::FlatMap& item : items) {
            const int channel = itemChannel(item);
            if (channel == 0)
                continue;
            Native::ChannelInfo& e = entry(channels, channel);
            e.onlineKnown = item.contains(QStringLiteral("online"));
            e.online = item.value(QStringLiteral("online")).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
        }
    }
}

void readDahua(const Native::Device& device, const QList<NativeHttp::Response>& a, Native::ProbeResult& outcome,
               ChannelMap& channels)
{
    Native::Health& h = outcome.health;
    if (a.size() < 6)
        return;
    // Keys are matched without regard to case: recorders in the field write
    // "states[0].channel" and "connectionState" as often as the documented
    // spelling, and put a disk's State on list.info[N] as well as on its
    // Detail[M].
    static const QRegularExpression diskKey(
        QStringLiteral("^list\\.info\\[\\d+\\](?:\\.Detail\\[\\d+\\])?\\.(IsError|State)$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression titleKey(QStringLiteral("^table\\.ChannelTitle\\[(\\d+)\\]\\.Name$"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression stateKey(
        QStringLiteral("^(?:result\\.)?states\\[(\\d+)\\]\\.(Channel|ConnectionState)$"),
        QRegularExpression::CaseInsensitiveOption);

    using Native::Detail;
    auto got = [&outcome, &a](int i, Detail part) { return judgeDahua(a[i], part, outcome) == Got::Answer; };
    // The firmware and name are asked only for what the device-information
    // answer left out.
    if (h.firmware.isEmpty() && got(0, Detail::Firmware))
        h.firmware =
            valueNoCase(NativeParse::keyValue(a[0].body), QStringLiteral("version")).section(QLatin1Char(','), 0, 0);
    if (h.deviceName.isEmpty() && got(1, Detail::DeviceName))
        h.deviceName = valueNoCase(NativeParse::keyValue(a[1].body), QStringLiteral("name"));
    if (got(2, Detail::Clock))
        setDeviceTime(h, formatDeviceTime(valueNoCase(NativeParse::keyValue(a[2].body), QStringLiteral("result"))),
                      a[2]);
    if (got(3, Detail::Disks)) {
        const NativeParse::FlatMap m = NativeParse::keyValue(a[3].body);
        bool matched = false;
        bool fault = false;
        for (auto it = m.cbegin(); it != m.cend(); ++it) {
            const auto match = diskKey.match(it.key());
            if (!match.hasMatch())
                continue;
            matched = true;
            const bool isError = match.captured(1).compare(QLatin1String("IsError"), Qt::CaseInsensitive) == 0;
            if (isError && it.value().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
                fault = true;
            if (!isError && it.value().compare(QLatin1String("Success"), Qt::CaseInsensitive) != 0)
                fault = true;
        }
        if (matched)
            h.hdd = fault ? QStringLiteral("Fault") : QStringLiteral("OK");
        else if (recorderType(device))
            h.hdd = QStringLiteral("Fault");
    }
    if (got(4, Detail::ChannelNames)) {
        const NativeParse::FlatMap m = NativeParse::keyValue(a[4].body);
        for (auto it = m.cbegin(); it != m.cend(); ++it) {
            const auto match = titleKey.match(it.key());
            if (!match.hasMatch())
                continue;
            bool ok = false;
            const qint64 index = match.captured(1).toLongLong(&ok);
            const int channel = ok ? channelNumber(index + 1) : 0;
            if (channel == 0)
                continue;
            entry(channels, channel).name = it.value();
        }
    }
    if (got(5, Detail::CameraStates)) {
        struct Row {
            int channel = 0; // 0: not given (or unusable)
            QString state;
        };
        QMap<qint64, Row> rows;
        const NativeParse::FlatMap m = NativeParse::keyValue(a[5].body);
        for (auto it = m.cbegin(); it != m.cend(); ++it) {
            const auto match = stateKey.match(it.key());
            if (!match.hasMatch())
                continue;
            bool ok = false;
            const qint64 index = match.captured(1).toLongLong(&ok);
            if (!ok)
                continue;
            Row& row = rows[index];
            if (match.captured(2).compare(QLatin1String("Channel"), Qt::CaseInsensitive) == 0) {
                // A value that is no usable number leaves the row to its
                // index instead of landing on channel 1.
                bool numOk = false;
                const qint64 value = it.value().toLongLong(&numOk);
                row.channel = numOk && value < Native::kMaxChannels ? channelNumber(value + 1) : 0;
            } else {
                row.state = it.value();
            }
        }
        for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
            const int channel = it->channel >= 1 ? it->channel : channelNumber(it.key() + 1);
            if (channel == 0 || it->state.isEmpty())
                continue;
            Native::ChannelInfo& e = entry(channels, channel);
            e.onlineKnown = true;
            e.online = it->state.compare(QLatin1String("Connected"), Qt::CaseInsensitive) == 0;
        }
    }
}

QString formatDeviceTime(const QString& clockText)
{
    const QDateTime t = NativeParse::wallClock(clockText);
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

int countedChannel(const Native::Device& d)
{
    const int channels = qBound(Native::kMinChannels, d.channels, Native::kMaxChannels);
    for (int c = 1; c <= channels; ++c)
        if (!d.ignored.contains(c))
            return c;
    return 1;
}

Window recordingWindow(const QDate& today, int windowDays)
{
    Window w;
    w.end = today;
    w.start = today.addDays(-(qint64(qMax(windowDays, 1)) - 1));
    w.firstMonth = QDate(w.start.year(), w.start.month(), 1);
    return w;
}

int recordedDaysIn(const QSet<QDate>& dates, const Window& window)
{
    int n = 0;
    for (const QDate& d : dates)
        if (d >= window.start && d <= window.end)
            ++n;
    return n;
}

void fetch(const Native::Device& device, int windowDays, Native::ProbeResult outcome, const QByteArray& infoBody,
           const QObject* receiver, const std::function<void(const Native::ProbeResult&)>& read,
           std::function<void(Native::ProbeResult)> done, std::chrono::milliseconds timeout)
{
    const NativeParse::DeviceInfo info = NativeParse::deviceInfo(infoBody);
    Native::Health& h = outcome.health;
    h.model = info.model;
    h.deviceName = info.deviceName;
    h.serial = info.serial;
    h.firmware = info.firmware;
    h.mac = info.mac;
    outcome.detailsFetched = true;
    outcome.health.unread.clear();

    const bool hik = NativeBrand::isHikStyle(device.manufacturer);
    const bool dahua = NativeBrand::isDahuaStyle(device.manufacturer);
    if (NativeBrand::usesOnvif(device) || (!hik && !dahua)) {
        if (read)
            read(outcome);
        countRecording(device, windowDays, std::move(outcome), receiver, std::move(done));
        return;
    }
    auto result = std::make_shared<Native::ProbeResult>(std::move(outcome));
    const QStringList paths = hik ? hikPaths(device) : dahuaPaths();
    // The receiver is alive here (its requests end with it), so a raw
    // pointer is safe to hand on to the count.
    NativeHttp::getAll(
        device, paths, NativeHttp::Digest, receiver,
        [device, windowDays, hik, result, receiver, read, done](const QList<NativeHttp::Response>& answers) {
            ChannelMap channels;
            if (hik)
                readHik(device, answers, *result, channels);
            else
                readDahua(device, answers, *result, channels);
            finishChannels(*result, channels);
            if (read)
                read(*result);
            countRecording(device, windowDays, *result, receiver, done);
        },
        timeout);
}

} // namespace NativeDetails

} // namespace kvr::services
