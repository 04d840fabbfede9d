// Problem verdicts, site roll-ups, CSV import and CSV reports for a large
// fleet: 500 devices x 16 cameras in 50 sites with 40 days of hourly uptime
// and 5,000 live events; an import of 5,000 rows. Prints one line per
// figure (the best and the median of several runs).

#include "native/services/CsvImport.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeStore.h"
#include "native/services/Reports.h"
#include "native/services/SecureFile.h"
#include "native/services/Verdicts.h"
#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QSaveFile>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <random>

using namespace kvr::services;

using namespace Native;

namespace {

constexpr int kDevices = 500;
constexpr int kCameras = 16;
constexpr int kSites = 50;
constexpr int kDays = 40;
constexpr int kEvents = 5000;
constexpr int kImportRows = 5000;

struct Figure {
    double best = 0;
    double median = 0;
};

Figure measure(int runs, const std::function<void()>& work)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times << double(t.nsecsElapsed()) / 1e6;
    }
    std::sort(times.begin(), times.end());
    return {times.first(), times.at(times.size() / 2)};
}

// A fleet with a realistic spread of troubles, so every rule is evaluated
// and many fire.
void makeFleet(const QDateTime& now, QList<Site>* sites, QList<Device>* devices)
{
    std::mt19937 rng(11);
    for (int s = 0; s < kSites; ++s) {
        Site site;
        site.id = NativeStore::newId();
        site.name = QStringLiteral("Branch %1").arg(s);
        site.isp = QStringLiteral("FibreNet");
        site.contact = QStringLiteral("Desk %1").arg(s);
        sites->append(site);
    }
    for (int i = 0; i < kDevices; ++i) {
        Device d;
        d.id = NativeStore::newId();
        d.siteId = sites->at(i % kSites).id;
        d.name = QStringLiteral("Branch %1 recorder %2").arg(i % kSites).arg(i);
        d.ip = QStringLiteral("10.%1.%2.10").arg(i / 250).arg(i % 250);
        d.channels = kCameras;
        d.createdAt = now.addDays(-60);
        d.enabled = i % 50 != 0;
        Health& h = d.health;
        h.checkedAt = now.addSecs(-int(rng() % 900));
        h.fetchedAt = now.addSecs(-3600);
        h.internet = i % 10 == 3 ? Failed : Passed;
        h.device = i % 10 == 3 || i % 25 == 4 ? Failed : Passed;
        h.httpPort = h.rtspPort = Passed;
        if (i % 17 == 0)
            h.rtspPort = Failed;
        h.latencyMs = 20 + int(rng() % 400);
        h.lossPercent = int(rng() % 3) * 10;
        h.quality = h.latencyMs > 300 ? QStringLiteral("Poor")
            : h.latencyMs > 100       ? QStringLiteral("Degraded")
                                      : QStringLiteral("Good");
        h.hdd = i % 20 == 5 ? QStringLiteral("Fault") : QStringLiteral("OK");
        h.model = QStringLiteral("DS-7616NI");
        h.recordingDays = 20 + int(rng() % 11);
        h.recordingWindow = 30;
        h.deviceTime = now.addSecs(-3600 + (i % 7 == 0 ? 600 : 5)).toString(Qt::ISODate);
        h.lastUp = now.addSecs(-int(rng() % 7200));
        syncCameras(d);
        for (Camera& c : d.cameras) {
            c.name = QStringLiteral("Cam %1-%2").arg(i).arg(c.channelId);
            c.onlineKnown = true;
            c.online = rng() % 12 != 0;
            c.lastOnline = now.addSecs(-int(rng() % 90000));
        }
        devices->append(d);
    }
}

// 40 days of every series: mostly up, some down hours in runs, some
// partly-up hours, the rest of today unknown.
QByteArray makeUptime(const QList<Device>& fleet, const QDate& today)
{
    std::mt19937 rng(5);
    QByteArray out = "{\"series\":{";
    bool first = true;
    auto series = [&](const QString& key, bool checked) {
        if (!first)
            out += ',';
        first = false;
        out += '"' + key.toLatin1() + "\":{";
        for (int d = kDays - 1; d >= 0; --d) {
            out += '"' + today.addDays(-d).toString(Qt::ISODate).toLatin1() + "\":[";
            bool down = false;
            for (int h = 0; h < 24; ++h) {
                if (rng() % 40 == 0)
                    down = !down;
                const int v = checked ? 60 : down ? 0 : (rng() % 30 == 0 ? int(rng() % 60) : 60);
                out += QByteArray::number(v);
                if (h < 23)
                    out += ',';
            }
            out += ']';
            if (d)
                out += ',';
        }
        out += '}';
    };
    for (const Device& dev : fleet) {
        series(checkedKey(dev.id), true);
        series(internetKey(dev.id), false);
        series(deviceKey(dev.id), false);
        for (const Camera& c : dev.cameras)
            series(cameraKey(dev.id, c.channelId), false);
    }
    out += "},\"version\":1}";
    return out;
}

// 5,000 events over the last seven days, stored the way the live streams
// store them (keep-alives dropped, repeated detections folded).
void fillEvents(NativeEvents& events, const QList<Device>& fleet, const QDateTime& now)
{
    static const char* const words[] = {
        "vmd",       "linedetection", "fielddetection", "videoloss", "tamperdetection",  "diskfull",
        "diskerror", "nicbroken",     "ipconflict",     "illaccess", "recordingfailure", "videomismatch",
        "io",        "somethingelse"};
    std::mt19937 rng(3);
    kvrtest::TestClock clock(now.addDays(-7).toUTC());
    for (int i = 0; i < kEvents; ++i) {
        clock.setNowUtc(now.addSecs(-qint64(7 * 86400) + qint64(i) * (7 * 86400 / kEvents)).toUTC());
        const Device& d = fleet.at(int(rng() % fleet.size()));
        AlertStream::Alert a;
        a.type = QString::fromLatin1(words[rng() % std::size(words)]);
        a.channel = 1 + int(rng() % kCameras);
        a.active = rng() % 3 != 0;
        events.ingest(d.id, {a});
    }
}

QByteArray makeCsv(int rows)
{
    QByteArray out = "site,name,ip,http_port,rtsp_port,server_port,username,password,manufacturer,type,channels,"
                     "code,address\n";
    const char* brands[] = {"HIKVISION", "dahua", "CPPLUS", "PRAMA"};
    for (int i = 0; i < rows; ++i) {
        out += QStringLiteral("Site %1,Recorder %2,10.%3.%4.%5,80,554,8000,admin,pw%2,%6,nvr,%7,C%2,\"%1 Main "
                              "Road, Town\"\n")
                   .arg(i % 200)
                   .arg(i)
                   .arg(i / 62500)
                   .arg((i / 250) % 250)
                   .arg(i % 250 + 1)
                   .arg(QLatin1String(brands[i % 4]))
                   .arg(4 << (i % 3))
                   .toUtf8();
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_native_reports");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTextStream out(stdout);
    out.setRealNumberPrecision(1);
    out.setRealNumberNotation(QTextStream::FixedNotation);

    const QDateTime now = QDateTime::currentDateTime();
    const QDate today = now.date();
    QList<Site> sites;
    QList<Device> fleet;
    makeFleet(now, &sites, &fleet);
    SecureFile::write(QLatin1String(kInventoryFile), encodeInventory(sites, fleet));
    {
        QSaveFile f(SecureFile::path(QLatin1String(kUptimeFile)));
        f.open(QIODevice::WriteOnly);
        f.write(makeUptime(fleet, today));
        f.commit();
    }
    NativeStore store;
    store.waitForWrites(); // the history, read on the store's thread
    out << "fleet: " << store.devices().size() << " devices x " << kCameras << " cameras, " << store.sites().size()
        << " sites, " << store.uptime().seriesCount() << " uptime series over " << kDays << " days" << Qt::endl;

    NativeEvents events(&store, nullptr);
    fillEvents(events, fleet, now);
    out << "event log: " << events.events().size() << " events stored of " << kEvents << " received" << Qt::endl;
    QSet<QString> refused;
    for (int i = 0; i < kDevices; i += 40)
        refused.insert(fleet.at(i).id);
    NativeInsights::Sources src = NativeInsights::Sources::over(&store, nullptr, &events);
    src.refused = [&](const QString& id) { return refused.contains(id); };
    // Every supported device's stream lost an hour ago.
    src.link = [&](const QString&) {
        return Native::LinkStatus{Native::Link::Lost, QStringLiteral("The stream ended."), now.addSecs(-3600), {}};
    };

    // ---- Verdicts ----
    int found = 0;
    Figure cold = measure(1, [&] {
        NativeInsights::clearUptimeCache();
        found = int(NativeInsights::issues(src, now).size());
    });
    Figure warm = measure(7, [&] { found = int(NativeInsights::issues(src, now).size()); });
    out << "issues, " << kDevices << " devices, " << kEvents << " events: " << found << " findings; first " << cold.best
        << " ms (uptime cache empty), then best " << warm.best << " ms, median " << warm.median << " ms" << Qt::endl;
    int rows = 0;
    cold = measure(1, [&] {
        NativeInsights::clearUptimeCache();
        rows = int(NativeInsights::sites(src, now).size());
    });
    warm = measure(7, [&] { rows = int(NativeInsights::sites(src, now).size()); });
    out << "sites, " << kDevices << " devices, " << kEvents << " events: " << rows << " rows; first " << cold.best
        << " ms (uptime cache empty), then best " << warm.best << " ms, median " << warm.median << " ms" << Qt::endl;
    warm = measure(7, [&] { rows = int(NativeInsights::fleetDailyUptime(store, 7, now).size()); });
    out << "fleet daily uptime, 7 days: best " << warm.best << " ms, median " << warm.median << " ms" << Qt::endl;

    // ---- Reports ----
    const QDate from = today.addDays(-(kDays - 1));
    const struct {
        NativeReports::Kind kind;
        const char* name;
    } kinds[] = {{NativeReports::Uptime, "uptime"},
                 {NativeReports::Downtime, "downtime"},
                 {NativeReports::Cameras, "cameras"},
                 {NativeReports::Storage, "storage"}};
    for (const auto& k : kinds) {
        QString text;
        const Figure f = measure(3, [&] { text = NativeReports::build(store, k.kind, {}, from, today, now); });
        out << "report " << k.name << ", " << kDevices << " x " << kCameras << " over " << kDays
            << " days: " << text.count(QLatin1Char('\n')) - 1 << " rows, " << text.size() * 2 / (1024 * 1024)
            << " MiB; best " << f.best << " ms, median " << f.median << " ms" << Qt::endl;
    }

    // ---- Import ----
    const QByteArray csv = makeCsv(kImportRows);
    QList<double> times;
    NativeCsv::ImportResult result;
    for (int run = 0; run < 3; ++run) {
        SecureFile::remove(QLatin1String(kInventoryFile));
        SecureFile::remove(QLatin1String(kUptimeFile));
        NativeStore empty;
        QElapsedTimer t;
        t.start();
        result = NativeCsv::importBytes(empty, csv);
        times << double(t.nsecsElapsed()) / 1e6;
    }
    std::sort(times.begin(), times.end());
    out << "import " << kImportRows << " rows (" << csv.size() / 1024 << " KiB): " << result.added << " added, "
        << result.skipped << " skipped; best " << times.first() << " ms, median " << times.at(1) << " ms" << Qt::endl;

    SecureFile::remove(QLatin1String(kInventoryFile));
    SecureFile::remove(QLatin1String(kUptimeFile));
    return 0;
}
