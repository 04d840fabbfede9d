// Save and load times of native-inventory.bin and native-uptime.json for
// large fleets: 500 devices x 16 cameras and 2,000 devices x 32 cameras,
// with 40 days of hourly uptime, and what a flush of the store costs the
// main thread (target: under 50 ms). Prints one line per figure.

#include "native/services/NativeInventory.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "native/services/UptimeHistory.h"
#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <random>

using namespace Native;

namespace {

QList<Device> makeFleet(int devices, int cameras)
{
    QList<Device> fleet;
    fleet.reserve(devices);
    const QDateTime t(QDate(2026, 3, 2), QTime(9, 0));
    for (int i = 0; i < devices; ++i) {
        Device d;
        d.id = NativeStore::newId();
        d.siteId = NativeStore::newId();
        d.name = QStringLiteral("Branch %1 recorder").arg(i);
        d.ip = QStringLiteral("10.%1.%2.10").arg(i / 250).arg(i % 250);
        d.username = QStringLiteral("admin");
        d.password = QStringLiteral("pa55-%1").arg(i);
        d.channels = cameras;
        d.createdAt = t;
        d.health.checkedAt = t;
        d.health.internet = d.health.device = d.health.httpPort = d.health.rtspPort = Passed;
        d.health.digest = Passed;
        d.health.latencyMs = 12;
        d.health.lossPercent = 0;
        d.health.quality = QStringLiteral("Good");
        d.health.model = QStringLiteral("DS-7616NI");
        d.health.serial = QStringLiteral("SN%1").arg(i, 10, 10, QLatin1Char('0'));
        d.health.lastUp = t;
        syncCameras(d);
        for (Camera& c : d.cameras) {
            c.name = QStringLiteral("Camera %1 of %2").arg(c.channelId).arg(i);
            c.online = c.onlineKnown = true;
            c.lastOnline = t;
        }
        fleet.append(d);
    }
    return fleet;
}

// A history file with every series of the fleet filled for `days` days.
QByteArray makeUptime(const QList<Device>& fleet, int days, const QDate& today)
{
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> tenths(0, 600);
    QByteArray out = "{\"series\":{";
    bool first = true;
    auto series = [&](const QString& key) {
        if (!first)
            out += ',';
        first = false;
        out += '"' + key.toLatin1() + "\":{";
        for (int d = days - 1; d >= 0; --d) {
            out += '"' + today.addDays(-d).toString(Qt::ISODate).toLatin1() + "\":[";
            for (int h = 0; h < 24; ++h) {
                const int v = tenths(rng);
                out += QByteArray::number(v / 10) + (v % 10 ? '.' + QByteArray::number(v % 10) : QByteArray());
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
        series(checkedKey(dev.id));
        series(internetKey(dev.id));
        series(deviceKey(dev.id));
        for (const Camera& c : dev.cameras)
            series(cameraKey(dev.id, c.channelId));
    }
    out += "},\"version\":1}";
    return out;
}

double ms(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

void run(QTextStream& out, int devices, int cameras, int days)
{
    const QString label = QStringLiteral("%1x%2").arg(devices).arg(cameras);
    const QDate today = QDate::currentDate();
    const QList<Device> fleet = makeFleet(devices, cameras);

    QElapsedTimer t;
    t.start();
    const QByteArray inventory = encodeInventory({}, fleet);
    const double encodeMs = ms(t);
    t.start();
    SecureFile::write(QLatin1String(kInventoryFile), inventory);
    const double writeMs = ms(t);
    t.start();
    const InventoryData back = decodeInventory(*SecureFile::read(QLatin1String(kInventoryFile)));
    const double loadMs = ms(t);
    out << "inventory " << label << ": " << inventory.size() / 1024 << " KiB, encode " << encodeMs
        << " ms, save (encode + secure write) " << encodeMs + writeMs << " ms, load (read + decode) " << loadMs
        << " ms, devices read " << back.devices.size() << Qt::endl;

    const QByteArray uptimeText = makeUptime(fleet, days, today);
    {
        QSaveFile f(SecureFile::path(QLatin1String(kUptimeFile)));
        f.open(QIODevice::WriteOnly);
        f.write(uptimeText);
        f.commit();
    }
    UptimeHistory history;
    QStringList problems;
    t.start();
    history.decode(uptimeText, today, &problems);
    const double decodeMs = ms(t);
    t.start();
    const QByteArray again = history.encode(today);
    const double uptimeEncodeMs = ms(t);
    out << "uptime " << label << " x " << days << " days: " << history.seriesCount() << " series, "
        << uptimeText.size() / (1024 * 1024) << " MiB, decode " << decodeMs << " ms, encode " << uptimeEncodeMs << " ms"
        << Qt::endl;

    // The store's own paths: load both files at creation, then one flush
    // that saves both: the main thread only takes a snapshot and hands it to
    // the writer thread. Then the first credit after it (which copies the
    // shared series it touches) and the time until both files are on disk.
    t.start();
    NativeStore store;
    const double storeLoadMs = ms(t);
    const QString first = store.devices().first().id;
    store.applyProbe(first, {}); // marks the history changed
    t.start();
    store.flush();
    const double flushMs = ms(t);
    QElapsedTimer written;
    written.start();
    t.start();
    store.applyProbe(first, {});
    const double creditMs = ms(t);
    store.waitForWrites();
    const double writtenMs = ms(written);
    out << "store " << label << " x " << days << " days: load both files " << storeLoadMs
        << " ms; flush on the main thread " << flushMs << " ms; first probe applied after it " << creditMs
        << " ms; both files on disk after " << writtenMs << " ms (" << store.devices().size() << " devices, "
        << store.uptime().seriesCount() << " series)" << Qt::endl;
    SecureFile::remove(QLatin1String(kInventoryFile));
    SecureFile::remove(QLatin1String(kUptimeFile));
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_native_files");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTextStream out(stdout);
    out.setRealNumberPrecision(1);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    run(out, 500, 16, 40);
    run(out, 2000, 32, 40);
    return 0;
}
