#include "native/services/Verdicts.h"

#include "app/core/LocalZone.h"
#include "app/core/ShownText.h"
#include "native/services/AlertStream.h"
#include "native/services/DeviceParsers.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"

#include <QHash>
#include <QMap>
#include <QStringBuilder>

#include <algorithm>

namespace kvr::services {

namespace Native {

QString cameraLabel(const Camera& camera)
{
    return camera.name.isEmpty() ? QString(QStringLiteral("Camera ") % QString::number(camera.channelId))
                                 : kvr::core::shownText(camera.name);
}

QString deviceLabel(const Device& device)
{
    if (const QString name = device.name.trimmed(); !name.isEmpty())
        return kvr::core::shownText(name);
    if (const QString reported = device.health.deviceName.trimmed(); !reported.isEmpty())
        return kvr::core::shownText(reported);
    return kvr::core::shownText(device.ip);
}

} // namespace Native

namespace NativeInsights {

namespace {

using Native::Device;
using Native::Failed;
using Native::Passed;

// Live-event kinds whose standing condition is a problem rather than a
// warning: a disk error and a failed recording mean footage is being lost.
constexpr int kDiskErrorKind = AlertStream::DiskError;
constexpr int kRecordingFailedKind = AlertStream::RecordingFailed;

constexpr int kStandingHours = 24;
constexpr qint64 kStaleCheckSecs = 86401; // a result more than a day old
constexpr qint64 kEventsQuietSecs = 601;  // a lost stream is worth a notice
constexpr int kDriftLimitSecs = 121;      // less is ordinary clock wander
constexpr double kUnstableBelowPercent = 95.0;
constexpr int kUnstableDays = 7;
static_assert(kUnstableDays == 7, "a caller's week (issuesFor) is seven days");
constexpr int kListedNames = 4; // names listed before "and N more"
// Above the largest fleet's devices, so a pass over the fleet leaves the
// figures of its start standing for the next pass.
constexpr int kUptimeCacheLimit = 16384;

Issue make(const Device& d, int level, int order, const QString& title, const QString& detail)
{
    Issue i;
    i.level = level;
    i.deviceId = d.id;
    i.title = title;
    i.detail = detail;
    i.order = order;
    return i;
}

// "a, b, c, d and 2 more": the first four entries, then the count of the rest.
QString listed(const QStringList& names)
{
    QString out = names.mid(0, kListedNames).join(QStringLiteral(", "));
    if (names.size() > kListedNames)
        out += QStringLiteral(" and %1 more").arg(names.size() - kListedNames);
    return out;
}

void standingFindings(const Sources& src, const Device& d, const QDateTime& now, QList<Issue>& out)
{
    if (!src.standing)
        return;
    const QList<Standing> events = src.standing(d.id, kStandingHours);
    struct PerKind {
        QStringList names;
        QDateTime newest;
    };
    QMap<int, PerKind> kinds; // ascending kind order
    for (const Standing& e : events) {
        PerKind& k = kinds[e.kind];
        if (!k.newest.isValid() || (e.receivedAt.isValid() && e.receivedAt > k.newest))
            k.newest = e.receivedAt;
        if (e.channel < 1)
            continue;
        const Native::Camera* cam = d.camera(e.channel);
        const QString name = cam ? Native::cameraLabel(*cam) : QStringLiteral("Channel %1").arg(e.channel);
        if (!k.names.contains(name))
            k.names.append(name);
    }
    for (auto it = kinds.cbegin(); it != kinds.cend(); ++it) {
        const bool severe = it.key() == kDiskErrorKind || it.key() == kRecordingFailedKind;
        const QString label = src.kindLabel ? src.kindLabel(it.key()) : AlertStream::label(it.key());
        QString place;
        if (!it->names.isEmpty())
            place = listed(it->names) + QStringLiteral(", ");
        out << make(d, severe ? Problem : Warning, severe ? 6 : 16, label + QStringLiteral(" reported"),
                    place + ago(it->newest, now) + QStringLiteral(", by the device's live events. Not cleared since."));
    }
}

void cameraFindings(const Device& d, const QDateTime& now, QList<Issue>& out)
{
    int counted = 0;
    QStringList offline;
    for (const Native::Camera& c : d.cameras) {
        if (d.isIgnored(c.channelId))
            continue;
        ++counted;
        if (c.state() != Native::CameraState::Offline)
            continue;
        const QString label = Native::cameraLabel(c);
        offline << (c.lastOnline.isValid()
                        ? QString(label % QStringLiteral(" (seen ") % ago(c.lastOnline, now) % QLatin1Char(')'))
                        : label);
    }
    if (offline.isEmpty())
        return;
    const QString detail = listed(offline) + QLatin1Char('.');
    if (offline.size() == counted)
        out << make(d, Problem, 5, QStringLiteral("All cameras offline"), detail);
    else
        out << make(d, Warning, 11,
                    countText(offline.size(), QStringLiteral("camera"), QStringLiteral("cameras"))
                        + QStringLiteral(" offline"),
                    detail);
}

// What a device is called in a sentence about it.
QString deviceNoun(const Device& d)
{
    if (d.type == QLatin1String("nvr") || d.type == QLatin1String("dvr"))
        return QStringLiteral("recorder");
    return d.type == QLatin1String("ipcamera") ? QStringLiteral("camera") : QStringLiteral("device");
}

QString partText(Native::Detail part)
{
    switch (part) {
    case Native::Detail::Clock:
        return QStringLiteral("its clock");
    case Native::Detail::Disks:
        return QStringLiteral("its disk status");
    case Native::Detail::CameraStates:
        return QStringLiteral("the states of its cameras");
    case Native::Detail::ChannelNames:
        return QStringLiteral("the names of its cameras");
    case Native::Detail::Firmware:
        return QStringLiteral("its firmware version");
    case Native::Detail::DeviceName:
        return QStringLiteral("its name");
    }
    return {};
}

// What the last details fetch could not read, one sentence per reason:
// "The recorder did not send its disk status or the states of its cameras:
// No answer in time." The disk and camera states matter most (footage may be
// lost unseen), so they make a warning; the rest a notice.
void unreadFindings(const Device& d, QList<Issue>& out)
{
    const QList<Native::Unread>& unread = d.health.unread;
    if (unread.isEmpty())
        return;
    QStringList reasons;
    QList<QStringList> parts;
    for (const Native::Unread& u : unread) {
        qsizetype i = reasons.indexOf(u.reason);
        if (i < 0) {
            reasons << u.reason;
            parts << QStringList();
            i = reasons.size() - 1;
        }
        parts[i] << partText(u.part);
    }
    QStringList sentences;
    for (qsizetype i = 0; i < reasons.size(); ++i) {
        const QString subject = i == 0 ? QStringLiteral("The ") + deviceNoun(d) : QStringLiteral("It");
        QString reason = reasons.at(i).trimmed();
        if (reason.isEmpty())
            reason = QStringLiteral("No reason was given.");
        QStringList named = parts.at(i);
        const QString last = named.takeLast();
        const QString what = named.isEmpty() ? last : named.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
        sentences << QStringLiteral("%1 did not send %2: %3").arg(subject, what, reason);
    }
    const QString detail = sentences.join(QLatin1Char(' '));
    if (d.health.unreadOf(Native::Detail::Disks))
        out << make(d, Warning, 17, QStringLiteral("Disk status unknown"), detail);
    else if (d.health.unreadOf(Native::Detail::CameraStates))
        out << make(d, Warning, 17, QStringLiteral("Camera states unknown"), detail);
    else
        out << make(d, Notice, 42, QStringLiteral("Details not read"), detail);
}

int nonNegative(int v)
{
    return v < 0 ? 0 : v;
}

// A device's figures for a number of days, as the cache keys them.
struct CacheKey {
    QString id;
    int days = 0;
    bool operator==(const CacheKey&) const = default;
};

size_t qHash(const CacheKey& key, size_t seed = 0)
{
    return qHashMulti(seed, key.id, key.days);
}

struct CacheEntry {
    const NativeStore* store = nullptr;
    quint64 revision = 0;
    qint64 hour = 0;
    QList<double> days;
};

// Main thread only, like every rule here.
QHash<CacheKey, CacheEntry>& uptimeCache()
{
    static QHash<CacheKey, CacheEntry> cache;
    return cache;
}

qint64 hourNumber(const QDateTime& now)
{
    // Callers pass now in local time as often as in UTC.
    const qint64 s =
        now.timeSpec() == Qt::UTC ? now.toSecsSinceEpoch() : kvr::core::LocalZone::utc(now).toSecsSinceEpoch();
    return s >= 0 ? s / 3600 : -((-s + 3599) / 3600);
}

} // namespace

Sources Sources::live()
{
    return over(&NativeStore::instance(), &NativeController::instance(), &NativeEvents::instance());
}

Sources Sources::over(const NativeStore* store, const NativeController* controller, const NativeEvents* events)
{
    Sources s;
    s.store = store;
    s.kindLabel = AlertStream::label;
    if (controller)
        s.refused = [controller](const QString& id) { return controller->isRefused(id); };
    if (events) {
        s.standing = [events](const QString& id, int hours) {
            QList<Standing> out;
            const QList<NativeEvents::Event> found = events->standing(id, hours);
            out.reserve(found.size());
            for (const NativeEvents::Event& e : found)
                out.append(Standing{e.kind, e.channel, e.receivedAt});
            return out;
        };
        s.link = [events](const QString& id) {
            const auto it = events->statuses().constFind(id);
            return it == events->statuses().cend() ? Native::LinkStatus{} : *it;
        };
    }
    return s;
}

// ---------------------------------------------------------------- findings --

QList<Issue> issuesFor(const Sources& src, const Device& d, const QDateTime& now, const QList<double>* knownWeek)
{
    QList<Issue> out;
    if (!d.enabled)
        return out;
    const Native::Health& h = d.health;

    standingFindings(src, d, now, out);

    if (!h.checkedAt.isValid()) {
        out << make(d, Notice, 50, QStringLiteral("Not checked yet"),
                    QStringLiteral("Run a diagnostic to see whether it is reachable and recording."));
        return out;
    }

    // How long ago it was checked, told by two findings only: worked out
    // when one of them is made, not for every device.
    const auto checkedText = [&] { return ago(h.checkedAt, now); };
    auto seenText = [&] {
        // The record's own time first, as the store gives it: the caller's
        // copy may hold it already converted for quick comparisons.
        const QDateTime seen = h.lastUp.isValid() || !src.store ? h.lastUp : src.store->lastSeenUp(d.id);
        return seen.isValid() ? QString(QStringLiteral("Last online ") % ago(seen, now) % QLatin1Char('.'))
                              : QStringLiteral("Never seen online.");
    };
    const bool refused = src.refused && src.refused(d.id);

    if (h.internet == Failed) {
        out << make(d, Problem, 0, QStringLiteral("Unreachable"),
                    QStringLiteral("No answer from %1 on ports %2 (checked %3). %4")
                        .arg(kvr::core::shownText(d.ip), QStringLiteral("%1 / %2").arg(d.httpPort).arg(d.rtspPort),
                             checkedText(), seenText()));
    } else if (h.device != Passed && refused) {
        out << make(d, Problem, 1, QStringLiteral("Login refused"),
                    QStringLiteral("The saved username or password was refused. Automatic checks are "
                                   "paused so the account is not locked."));
    } else if (h.device != Passed) {
        const QString why = h.error.isEmpty()
            ? QStringLiteral("The host answers, but the recorder did not accept the check.")
            : kvr::core::shownText(h.error, kvr::core::tun::kShownNoteChars);
        out << make(d, Problem, 2, QStringLiteral("Not answering properly"), why + QLatin1Char(' ') + seenText());
    }

    if (h.hdd == QLatin1String("Fault"))
        out << make(d, Problem, 3, QStringLiteral("Disk fault"),
                    QStringLiteral("A disk reports an error: recordings may be missing or about to stop."));

    // Counts read from devices and files may be anything: compare in 64 bits.
    const qint64 recDays = h.recordingDays;
    const qint64 recWindow = h.recordingWindow;
    if (recDays >= 1 && recWindow >= 1 && recDays * 10 < recWindow * 9)
        out << make(d, Warning, 10, QStringLiteral("Recording gaps"),
                    QStringLiteral("Recordings on ") % QString::number(recDays) % QStringLiteral(" of the last ")
                        % QString::number(recWindow) % QStringLiteral(" days."));
    else if (recDays == 0 && recWindow >= 1)
        out << make(d, Problem, 4, QStringLiteral("Not recording"),
                    QStringLiteral("No recordings found in the last %1.")
                        .arg(countText(recWindow, QStringLiteral("day"), QStringLiteral("days"))));

    if (h.device == Passed) {
        cameraFindings(d, now, out);
        unreadFindings(d, out);
    }

    if (h.internet == Passed && h.device == Passed && h.rtspPort == Failed)
        out << make(d, Warning, 12, QStringLiteral("Live view port closed"),
                    QStringLiteral("RTSP port %1 did not answer: live view and playback will not work from here.")
                        .arg(d.rtspPort));

    if (h.internet == Passed && h.quality == QLatin1String("Poor"))
        out << make(d, Warning, 13, QStringLiteral("Poor network"),
                    QStringLiteral("%1 ms latency, %2% of probes lost. Expect slow or broken live view.")
                        .arg(nonNegative(h.latencyMs))
                        .arg(nonNegative(h.lossPercent)));
    else if (h.internet == Passed && h.quality == QLatin1String("Degraded"))
        out << make(d, Notice, 30, QStringLiteral("Slow network"),
                    QStringLiteral("%1 ms latency, %2% of probes lost.")
                        .arg(nonNegative(h.latencyMs))
                        .arg(nonNegative(h.lossPercent)));

    const int drift = clockDriftSecs(d);
    if (drift != kUnknownDrift && std::abs(qint64(drift)) >= kDriftLimitSecs)
        out << make(d, Warning, 14,
                    QStringLiteral("Clock %1 by %2")
                        .arg(drift >= 1 ? QStringLiteral("ahead") : QStringLiteral("behind"), span(drift)),
                    QStringLiteral("Recordings are stamped with the wrong time, so searches by time miss. "
                                   "Turn on NTP on the device."));

    if (h.internet != Failed && h.device == Passed && src.store) {
        const double week = average(knownWeek ? *knownWeek : dailyUptime(*src.store, d.id, kUnstableDays, now));
        if (week >= 0 && week < kUnstableBelowPercent)
            out << make(
                d, Warning, 15, QStringLiteral("Unstable"),
                QStringLiteral("Up %1% of the checked time in the last 7 days.").arg(QString::number(week, 'f', 1)));
    }

    if (findingsReadLink(d) && src.link) {
        const Native::LinkStatus link = src.link(d.id);
        // A stream that keeps failing counts from its first failure, and a
        // retry under way does not clear what the last one said.
        const bool failing = link.link == Native::Link::Unsupported || link.link == Native::Link::Lost
            || (link.link == Native::Link::Connecting && link.failingSince.isValid());
        const QDateTime failingSince = link.failingSince.isValid() ? link.failingSince : link.since;
        if (failing && failingSince.isValid() && failingSince.secsTo(now) >= kEventsQuietSecs)
            out << make(d, Notice, 45, QStringLiteral("No live events"),
                        QStringLiteral("%1 Problems show only at the next scheduled check.")
                            .arg(link.text.isEmpty() ? link.failure : link.text));
        else if (link.link == Native::Link::Refused)
            out << make(d, Notice, 45, QStringLiteral("No live events"),
                        QStringLiteral("The device refused the event stream's login although checks log in "
                                       "fine. Problems show only at the next scheduled check."));
    }

    if (h.checkedAt.secsTo(now) >= kStaleCheckSecs)
        out << make(d, Notice, 40, QStringLiteral("Last checked ") + checkedText(),
                    QStringLiteral("This result may be out of date. Refresh to check again."));
    else if (h.device == Passed && !h.fetchedAt.isValid() && h.model.isEmpty())
        out << make(d, Notice, 41, QStringLiteral("No device info yet"),
                    QStringLiteral("Fetch device info to read its model, disks, recordings and cameras."));
    return out;
}

bool findingsReadLink(const Device& d)
{
    return d.health.device == Passed && NativeEvents::supports(d.manufacturer);
}

QList<Issue> issuesFor(const Device& device, const QDateTime& now)
{
    return issuesFor(Sources::live(), device, now);
}

QList<Issue> issues(const Sources& src, const QDateTime& now)
{
    QList<Issue> out;
    if (!src.store)
        return out;
    for (const Device& d : src.store->devices())
        out += issuesFor(src, d, now);
    std::stable_sort(out.begin(), out.end(), [](const Issue& a, const Issue& b) {
        return a.level != b.level ? a.level < b.level : a.order < b.order;
    });
    return out;
}

QList<Issue> issues(const QDateTime& now)
{
    return issues(Sources::live(), now);
}

SiteTally siteTally(const Device& d, const QList<Issue>& findings)
{
    SiteTally t;
    if (d.health.checkedAt.isValid()) {
        t.checked = 1;
        t.up = d.health.device == Passed ? 1 : 0;
    }
    for (const Native::Camera& c : d.cameras) {
        if (d.isIgnored(c.channelId))
            continue;
        ++t.cameras;
        if (c.onlineKnown)
            ++t.camerasKnown;
        if (c.online)
            ++t.camerasOnline;
    }
    for (const Issue& i : findings) {
        if (i.level == Problem)
            ++t.problems;
        else if (i.level == Warning)
            ++t.warnings;
    }
    return t;
}

QList<SiteSummary> sitesOver(const QList<Device>& devices, const QList<Native::Site>& allSites,
                             const std::function<QList<Issue>(const Device&)>& findingsOf)
{
    return sitesOver(devices, allSites, std::function<SiteTally(const Device&)>([&](const Device& d) {
                         return siteTally(d, findingsOf(d));
                     }));
}

SiteSummary siteRow(const QString& siteId, const Native::Site* site)
{
    SiteSummary row;
    row.siteId = siteId;
    if (site) {
        row.name = kvr::core::shownText(site->name);
        QStringList parts;
        if (!site->isp.isEmpty())
            parts << kvr::core::shownText(site->isp);
        if (!site->contact.isEmpty())
            parts << kvr::core::shownText(site->contact);
        row.subtitle = parts.join(QStringLiteral(" · "));
    } else {
        row.name = QStringLiteral("No site");
    }
    return row;
}

void addTally(SiteSummary& row, const SiteTally& t, int devices)
{
    row.devices += devices;
    row.checked += t.checked;
    row.up += t.up;
    row.cameras += t.cameras;
    row.camerasKnown += t.camerasKnown;
    row.camerasOnline += t.camerasOnline;
    row.problems += t.problems;
    row.warnings += t.warnings;
}

bool siteBefore(const SiteSummary& a, const SiteSummary& b)
{
    if (a.problems != b.problems)
        return a.problems > b.problems;
    if (a.warnings != b.warnings)
        return a.warnings > b.warnings;
    return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
}

QList<SiteSummary> sitesOver(const QList<Device>& devices, const QList<Native::Site>& allSites,
                             const std::function<SiteTally(const Device&)>& tallyOf)
{
    QList<SiteSummary> rows;
    QHash<QString, qsizetype> index;
    QHash<QString, const Native::Site*> siteById;
    for (const Native::Site& s : allSites)
        siteById.insert(s.id, &s);
    for (const Device& d : devices) {
        if (!d.enabled)
            continue;
        qsizetype at = index.value(d.siteId, -1);
        if (at < 0) {
            at = rows.size();
            rows.append(siteRow(d.siteId, d.siteId.isEmpty() ? nullptr : siteById.value(d.siteId)));
            index.insert(d.siteId, at);
        }
        addTally(rows[at], tallyOf(d));
    }
    std::stable_sort(rows.begin(), rows.end(), siteBefore);
    return rows;
}

QList<SiteSummary> sites(const Sources& src, const QDateTime& now)
{
    if (!src.store)
        return {};
    return sitesOver(src.store->devices(), src.store->sites(), [&](const Device& d) { return issuesFor(src, d, now); });
}

QList<SiteSummary> sites(const QDateTime& now)
{
    return sites(Sources::live(), now);
}

// ------------------------------------------------------------------ uptime --

QList<double> dailyUptime(const NativeStore& store, const QString& id, int days, const QDateTime& now)
{
    if (days <= 0)
        return {};
    const CacheKey key{id, days};
    const qint64 hour = hourNumber(now);
    QHash<CacheKey, CacheEntry>& cache = uptimeCache();
    const auto hit = cache.constFind(key);
    const quint64 revision = store.uptime().revisionOf(id);
    if (hit != cache.cend() && hit->store == &store && hit->revision == revision && hit->hour == hour)
        return hit->days;

    const QList<Native::UptimeCell> cells = store.uptimeGrid(id, Native::GraphType::Device, 0, days, now);
    QList<double> out;
    out.reserve(days);
    for (qsizetype i = 0; i + 24 <= cells.size(); i += 24)
        out.append(NativeStore::uptimePercent(cells.mid(i, 24)));
    // The grid has at least one day; keep the promised length whatever it gave.
    while (out.size() < days)
        out.prepend(-1.0);
    while (out.size() > days)
        out.removeFirst();

    if (cache.size() > kUptimeCacheLimit)
        cache.clear();
    cache.insert(key, CacheEntry{&store, revision, hour, out});
    return out;
}

QList<double> dailyUptime(const QString& id, int days, const QDateTime& now)
{
    return dailyUptime(NativeStore::instance(), id, days, now);
}

double average(const QList<double>& values)
{
    double sum = 0;
    int n = 0;
    for (double v : values) {
        if (v >= 0) {
            sum += v;
            ++n;
        }
    }
    return n == 0 ? -1.0 : sum / n;
}

QList<double> fleetDailyUptime(const NativeStore& store, int days, const QDateTime& now)
{
    if (days <= 0)
        return {};
    QList<double> sum(days, 0.0);
    QList<int> count(days, 0);
    for (const Device& d : store.devices()) {
        if (!d.enabled)
            continue;
        const QList<double> list = dailyUptime(store, d.id, days, now);
        for (int i = 0; i < days && i < list.size(); ++i) {
            if (list.at(i) >= 0) {
                sum[i] += list.at(i);
                ++count[i];
            }
        }
    }
    QList<double> out(days, -1.0);
    for (int i = 0; i < days; ++i)
        if (count.at(i) > 0)
            out[i] = sum.at(i) / count.at(i);
    return out;
}

QList<double> fleetDailyUptime(int days, const QDateTime& now)
{
    return fleetDailyUptime(NativeStore::instance(), days, now);
}

void clearUptimeCache()
{
    uptimeCache().clear();
}

// ------------------------------------------------------------ time texts --

int clockDriftSecs(const Device& d)
{
    const Native::Health& h = d.health;
    if (!h.fetchedAt.isValid() || h.deviceTime.isEmpty())
        return kUnknownDrift;
    const QDateTime device = NativeParse::wallClock(h.deviceTime);
    if (!device.isValid())
        return kUnknownDrift;
    // Against the moment the clock answer arrived; files of older versions
    // have only the time the whole fetch was stored. Both as plain
    // wall-clock readings: no zone conversion on either side, and both in
    // whole seconds (the device's clock has no fraction; the check time has
    // one until it is saved), or a drift of 420 s reads 419.
    const QDateTime fetched = kvr::core::LocalZone::wallClock(h.deviceTimeAt.isValid() ? h.deviceTimeAt : h.fetchedAt);
    const QTime at = fetched.time();
    const QDateTime a(fetched.date(), QTime(at.hour(), at.minute(), at.second()), Qt::UTC);
    const QDateTime b(device.date(), device.time(), Qt::UTC);
    const qint64 secs = a.secsTo(b);
    // A device clock centuries off must not wrap into a small number, nor
    // land on the value that means "unknown".
    constexpr qint64 lo = qint64(std::numeric_limits<int>::min()) + 1;
    constexpr qint64 hi = std::numeric_limits<int>::max();
    return int(std::clamp(secs, lo, hi));
}

QString countText(qint64 n, const QString& singular, const QString& plural)
{
    return QString::number(n) % QLatin1Char(' ') % (n == 1 ? singular : plural);
}

QString span(qint64 seconds)
{
    const quint64 s = seconds < 0 ? quint64(0) - quint64(seconds) : quint64(seconds);
    if (s <= 89)
        return countText(1, QStringLiteral("min"), QStringLiteral("min"));
    if (s < 3600)
        return QStringLiteral("%1 min").arg(s / 60);
    if (s < 36000 && s % 3600 >= 60)
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s % 3600) / 60);
    if (s < 172800)
        return QStringLiteral("%1 h").arg(s / 3600);
    return countText(qint64(s / 86400), QStringLiteral("day"), QStringLiteral("days"));
}

QString ago(const QDateTime& moment, const QDateTime& now)
{
    if (!moment.isValid())
        return QStringLiteral("never");
    // Moments read from files are often in local time: each difference
    // would otherwise ask the C library for the zone. Two moments in UTC
    // need no conversion at all.
    const qint64 d = moment.timeSpec() == Qt::UTC && now.timeSpec() == Qt::UTC
        ? moment.secsTo(now)
        : kvr::core::LocalZone::utc(moment).secsTo(kvr::core::LocalZone::utc(now));
    if (d <= 59)
        return QStringLiteral("just now");
    if (d < 3600)
        return QString::number(d / 60) % QStringLiteral(" min ago");
    if (d < 86400)
        return QString::number(d / 3600) % QStringLiteral(" h ago");
    const qint64 days = kvr::core::LocalZone::date(moment).daysTo(kvr::core::LocalZone::date(now));
    if (days < 2)
        return QStringLiteral("yesterday");
    return QString::number(days) % QStringLiteral(" days ago");
}

} // namespace NativeInsights

} // namespace kvr::services
