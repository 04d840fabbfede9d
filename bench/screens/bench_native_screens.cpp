// The native fleet page under load: the main window's rebuild with 200, 2,000
// and 5,000 devices over 100 sites (40 days of hourly uptime, 5,000 stored
// events), with the problem overview on and off; a burst of 2,000 device
// updates and busy changes (the longest stall of the event loop); a search
// keystroke until the table shows it; the events list refill; the memory
// of 100 rebuilds. Prints one line per figure.

#include "app/core/Clock.h"
#include "app/core/Settings.h"
#include "native/screens/DeviceTable.h"
#include "native/screens/EventsDialog.h"
#include "native/screens/NativeWindow.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "native/services/UptimeHistory.h"
#include "native/services/Verdicts.h"
#include "tests/support/TestKit.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTableView>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>

#include <unistd.h>

using namespace Native;

namespace {

// The system clock moved on by a given number of seconds, for minute ticks
// that find every relative time a minute further on.
class AheadClock : public kvr::Clock {
public:
    QDateTime nowUtc() const override { return QDateTime::currentDateTimeUtc().addSecs(ahead); }
    qint64 monotonicMs() const override { return m_steady.elapsed() + ahead * 1000; }
    qint64 ahead = 0;

private:
    QElapsedTimer m_steady = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
};

constexpr int kSites = 100;
constexpr int kDays = 40;
constexpr int kEvents = 5000;

QTextStream& out()
{
    static QTextStream s(stdout);
    return s;
}

struct Figure {
    double best = 0;
    double median = 0;
    double worst = 0;
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
    return {times.first(), times.at(times.size() / 2), times.last()};
}

double rssMiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts.at(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : -1;
}

// Sites and devices with a realistic spread of states, their 40 days of
// history and 5,000 events, written where the next store reads them. No
// device of a brand with event streams, so nothing connects anywhere.
void writeFleet(int count, QList<Device>* devicesOut)
{
    std::mt19937 rng(7);
    const QDateTime now = QDateTime::currentDateTime();
    QList<Site> sites;
    for (int s = 0; s < kSites; ++s) {
        Site site;
        site.id = NativeStore::newId();
        site.name = QStringLiteral("Site %1").arg(s, 3, 10, QLatin1Char('0'));
        site.isp = QStringLiteral("ISP %1").arg(s % 7);
        sites << site;
    }
    static const char* brands[] = {"DAHUA", "CPPLUS", "UNIVIEW", "SAMSUNG", "ONVIF"};
    QList<Device> devices;
    UptimeHistory history;
    for (int i = 0; i < count; ++i) {
        Device d;
        d.id = NativeStore::newId();
        d.siteId = sites.at(i % kSites).id;
        d.name = QStringLiteral("Recorder %1").arg(i, 5, 10, QLatin1Char('0'));
        d.ip = QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg((i / 256) % 256).arg(i % 256);
        d.manufacturer = QString::fromLatin1(brands[i % 5]);
        d.channels = 4 + int(rng() % 13);
        d.createdAt = now.addDays(-60);
        syncCameras(d);
        const int kind = int(rng() % 100);
        Health& h = d.health;
        if (kind < 5) {
            d.enabled = false;
            d.disabledReason = QStringLiteral("Moved");
        } else if (kind >= 15) {
            h.checkedAt = now.addSecs(-int(rng() % 600));
            const bool up = kind >= 25;
            h.internet = up || kind < 20 ? Passed : Failed;
            h.device = up ? Passed : Failed;
            h.httpPort = up ? Passed : Failed;
            h.rtspPort = kind % 17 == 0 ? Failed : Passed;
            h.latencyMs = 5 + int(rng() % 200);
            h.lossPercent = kind % 11 == 0 ? 20 : 0;
            h.quality = h.lossPercent ? QStringLiteral("Degraded") : QStringLiteral("Good");
            if (up) {
                h.lastUp = h.checkedAt;
                h.fetchedAt = h.checkedAt;
                h.model = QStringLiteral("NVR-%1").arg(kind);
                h.serial = QStringLiteral("SN%1").arg(i);
                h.hdd = kind % 23 == 0 ? QStringLiteral("Fault") : QStringLiteral("OK");
                h.recordingDays = 20 + int(rng() % 11);
                h.recordingWindow = 30;
                for (Camera& c : d.cameras) {
                    c.onlineKnown = true;
                    c.online = rng() % 20 != 0;
                }
            }
        }
        devices << d;
        if (!d.enabled)
            continue;
        for (int day = kDays - 1; day >= 0; --day) {
            const QDateTime start(now.date().addDays(-day), QTime(0, 0));
            const QDateTime end = day == 0 ? now : start.addDays(1);
            history.credit(checkedKey(d.id), start, end);
            const qint64 down = rng() % 50 == 0 ? 3 * 3600 : 0;
            history.credit(deviceKey(d.id), start, end.addSecs(-down));
            history.credit(internetKey(d.id), start, end.addSecs(-down));
        }
    }
    SecureFile::write(QLatin1String(kInventoryFile), encodeInventory(sites, devices));
    SecureFile::write(QStringLiteral("native-uptime.json"), history.encode(now.date()));
    QJsonArray events;
    for (int i = 0; i < kEvents; ++i) {
        QJsonObject o;
        o.insert(QStringLiteral("d"), devices.at(int(rng() % devices.size())).id);
        o.insert(QStringLiteral("ch"), 1 + int(rng() % 8));
        o.insert(QStringLiteral("k"), 1 + int(rng() % 14));
        o.insert(QStringLiteral("t"), QStringLiteral("VMD"));
        o.insert(QStringLiteral("a"), true);
        o.insert(QStringLiteral("at"), now.addSecs(-qint64(kEvents - i) * 60).toString(Qt::ISODate));
        events.append(o);
    }
    SecureFile::write(QStringLiteral("native-events.json"), QJsonDocument(events).toJson(QJsonDocument::Compact));
    *devicesOut = devices;
}

struct Services {
    std::unique_ptr<NativeStore> store;
    std::unique_ptr<NativeController> controller;
    std::unique_ptr<NativeEvents> events;
    NativeContext context() const { return {store.get(), controller.get(), events.get()}; }
};

Services load()
{
    Services s;
    s.store = std::make_unique<NativeStore>();
    s.store->waitForWrites(); // the history, read on the store's thread
    s.controller = std::make_unique<NativeController>(
        s.store.get(), [](const Device&, NativeController::Kind, int, NativeController::Done) {});
    s.controller->setDelayFunction([](std::chrono::milliseconds, std::function<void()>) {});
    s.events = std::make_unique<NativeEvents>(s.store.get(), s.controller.get());
    s.events->start();
    return s;
}

// The longest time the event loop did not turn while `work` runs its course
// (a 2 ms heartbeat; `until` says when the work is over).
double longestStall(const std::function<void()>& start, const std::function<bool()>& until, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    double worst = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    beat.setInterval(2);
    QObject::connect(&beat, &QTimer::timeout, &beat, [&] {
        const qint64 t = clock.nsecsElapsed();
        worst = std::max(worst, double(t - last) / 1e6 - 2);
        last = t;
    });
    beat.start();
    last = clock.nsecsElapsed();
    start();
    while (!until() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return worst;
}

// A table model of text and nothing else.
class PlainModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_columns; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        return role == Qt::DisplayRole ? QVariant(m_rows.at(index.row()).at(index.column())) : QVariant();
    }
    void reset(QList<QStringList> rows, int columns)
    {
        beginResetModel();
        m_rows = std::move(rows);
        m_columns = columns;
        endResetModel();
    }

private:
    QList<QStringList> m_rows;
    int m_columns = 0;
};

// The same number of rows and columns of text in a plain Qt table, the
// text made and the model reset each time: the baseline of the full
// rebuild (a table with nothing worked out).
Figure plainTable(int rows, int columns)
{
    QTableView view;
    PlainModel model;
    view.setModel(&model);
    view.resize(1440, 900);
    view.show();
    QCoreApplication::processEvents();
    int round = 0;
    return measure(10, [&] {
        ++round;
        QList<QStringList> text;
        text.reserve(rows);
        for (int r = 0; r < rows; ++r) {
            QStringList row;
            row.reserve(columns);
            for (int c = 0; c < columns; ++c)
                row << QStringLiteral("Recorder %1 · %2").arg(r).arg(c + round);
            text << row;
        }
        model.reset(std::move(text), columns);
    });
}

void benchSize(int count)
{
    QList<Device> devices;
    writeFleet(count, &devices);
    for (bool overview : {true, false}) {
        Prefs::set(Prefs::kNativeOverview, overview);
        NativeInsights::clearUptimeCache();
        Services s = load();
        QElapsedTimer built;
        built.start();
        NativeWindow w(s.context());
        const double buildMs = double(built.nsecsElapsed()) / 1e6;
        w.resize(1440, 900);
        w.show();
        QCoreApplication::processEvents();
        // The lists changed (every device compared with what its row was
        // made from).
        int worked = 0;
        const Figure full = measure(10, [&] {
            Q_EMIT s.store->changed();
            w.rebuild();
            worked = w.rowsWorkedOut();
        });
        // Everything worked out again (the history read).
        int workedAll = 0;
        const Figure all = measure(10, [&] {
            Q_EMIT s.store->uptimeLoaded();
            w.rebuild();
            workedAll = w.rowsWorkedOut();
        });
        // The minute tick, each a minute further on.
        AheadClock clock;
        kvr::Clock::setInstance(&clock);
        int tickWorked = 0;
        int tickClock = 0;
        const Figure tick = measure(10, [&] {
            clock.ahead += 60;
            QMetaObject::invokeMethod(w.minuteTimer(), "timeout");
            w.rebuild();
            tickWorked = w.rowsWorkedOut();
            tickClock = w.rowsClockOnly();
        });
        kvr::Clock::setInstance(nullptr);
        Q_EMIT s.store->uptimeLoaded();
        w.rebuild();
        // The event streams changed (here none of their states).
        int linksWorked = 0;
        const Figure links = measure(10, [&] {
            Q_EMIT s.events->linksChanged();
            w.rebuild();
            linksWorked = w.rowsWorkedOut();
        });
        // One probe result and its busy changes.
        int next = 0;
        const Figure one = measure(20, [&] {
            const QString id = devices.at(next++ % devices.size()).id;
            Q_EMIT s.controller->busyChanged(id, false);
            Q_EMIT s.store->deviceUpdated(id);
            w.rebuild();
        });
        // Nothing changed but a filter.
        const Figure filter = measure(20, [&w] { w.rebuild(); });
        w.rebuildTimer()->stop();
        const Figure plain = plainTable(w.model()->rowCount(), w.model()->columnCount());
        out() << QStringLiteral("rebuild %1 devices, overview %2: window built %3 ms; full rebuild median %4 ms (worst "
                                "%5, %11 rows worked out; a plain Qt table of as many rows and columns: %10 ms); "
                                "everything worked out again %12 ms (worst %13, %14 rows); minute tick %15 ms "
                                "(worst %16, %17 rows' relative times, %18 rows worked out); event streams changed "
                                "%19 ms (worst %20, %21 rows worked out); after one device's "
                                "update %6 ms (worst %7); filter only %8 ms (worst %9)\n")
                     .arg(count)
                     .arg(overview ? QStringLiteral("on ") : QStringLiteral("off"))
                     .arg(buildMs, 0, 'f', 1)
                     .arg(full.median, 0, 'f', 1)
                     .arg(full.worst, 0, 'f', 1)
                     .arg(one.median, 0, 'f', 1)
                     .arg(one.worst, 0, 'f', 1)
                     .arg(filter.median, 0, 'f', 1)
                     .arg(filter.worst, 0, 'f', 1)
                     .arg(plain.median, 0, 'f', 1)
                     .arg(worked)
                     .arg(all.median, 0, 'f', 1)
                     .arg(all.worst, 0, 'f', 1)
                     .arg(workedAll)
                     .arg(tick.median, 0, 'f', 1)
                     .arg(tick.worst, 0, 'f', 1)
                     .arg(tickClock)
                     .arg(tickWorked)
                     .arg(links.median, 0, 'f', 1)
                     .arg(links.worst, 0, 'f', 1)
                     .arg(linksWorked);
        out().flush();
        if (count != 2000)
            continue;

        // A burst of 2,000 probe results and 2,000 busy changes over about two
        // seconds, twenty per turn of the event loop.
        int sent = 0;
        QTimer feeder;
        QObject::connect(&feeder, &QTimer::timeout, &feeder, [&] {
            for (int i = 0; i < 20 && sent < 2000; ++i, ++sent) {
                const QString id = devices.at(sent % devices.size()).id;
                Q_EMIT s.controller->busyChanged(id, true);
                Q_EMIT s.store->deviceUpdated(id);
                Q_EMIT s.controller->busyChanged(id, false);
            }
        });
        const int before = w.rebuildCount();
        const double stall = longestStall([&feeder] { feeder.start(20); },
                                          [&] { return sent >= 2000 && !w.rebuildTimer()->isActive(); }, 10000);
        feeder.stop();
        out() << QStringLiteral("burst of 2000 updates and 4000 busy changes at 2000 devices: longest stall %1 ms, "
                                "%2 rebuilds\n")
                     .arg(stall, 0, 'f', 1)
                     .arg(w.rebuildCount() - before);

        // A keystroke until the table shows it.
        QList<double> keys;
        for (int k = 0; k < 5; ++k) {
            QCoreApplication::processEvents();
            const int n = w.rebuildCount();
            QElapsedTimer t;
            t.start();
            w.searchField()->setText(k % 2 ? QString() : QStringLiteral("Site 01%1").arg(k));
            while (w.rebuildCount() == n && t.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QCoreApplication::processEvents(); // the paint of the result
            keys << double(t.nsecsElapsed()) / 1e6;
        }
        std::sort(keys.begin(), keys.end());
        out() << QStringLiteral("search keystroke at 2000 devices: shown after %1 ms (median), %2 ms (worst)\n")
                     .arg(keys.at(keys.size() / 2), 0, 'f', 1)
                     .arg(keys.last(), 0, 'f', 1);

        // The events list.
        EventsDialog dialog(s.context());
        const Figure refill = measure(10, [&dialog] { dialog.refill(); });
        out() << QStringLiteral("events dialog refill (5000 stored, 501 rows): best %1 ms, median %2 ms\n")
                     .arg(refill.best, 0, 'f', 1)
                     .arg(refill.median, 0, 'f', 1);

        // Memory over 100 rebuilds, the table changing each time.
        for (int i = 0; i < 10; ++i)
            w.rebuild();
        QCoreApplication::processEvents();
        const double before100 = rssMiB();
        for (int i = 0; i < 100; ++i) {
            w.searchField()->blockSignals(true);
            w.searchField()->setText(i % 2 ? QString() : QStringLiteral("Site 0%1").arg(i % 10));
            w.searchField()->blockSignals(false);
            w.rebuild();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        }
        const double after100 = rssMiB();
        out() << QStringLiteral("memory over 100 rebuilds at 2000 devices: %1 MiB before, %2 MiB after (%3 MiB)\n")
                     .arg(before100, 0, 'f', 1)
                     .arg(after100, 0, 'f', 1)
                     .arg(after100 - before100, 0, 'f', 1);
        out().flush();
        s.events->stop();
    }
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_native_screens");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    // Fleet sizes from the command line, or the three standard ones.
    QList<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes << QByteArray(argv[i]).toInt();
    if (sizes.isEmpty())
        sizes = {200, 2000, 5000};
    for (int count : sizes)
        benchSize(count);
    return 0;
}
