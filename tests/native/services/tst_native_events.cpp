#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "tests/fixtures/devices/FakeAlertStream.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <memory>

using namespace Native;
using namespace std::chrono_literals;
using kvrtest::FakeAlertStream;
using Delays = QList<qint64>;

namespace {

constexpr qint64 kHalfHourMs = 30 * 60 * 1000;
const QString kClosed = QStringLiteral("The device closed the event stream.");

// Stands in for the device probe: records the kind of every job started.
struct Probes {
    QList<QPair<QString, NativeController::Kind>> calls;
    ProbeResult next; // the answer to every job
    NativeController::ProbeFn fn()
    {
        return [this](const Device& d, NativeController::Kind kind, int, NativeController::Done done) {
            calls.append({d.id, kind});
            done(next);
        };
    }
    int count(NativeController::Kind kind) const
    {
        return int(std::count_if(calls.begin(), calls.end(), [kind](const auto& c) { return c.second == kind; }));
    }
};

// The connection timers: every planned delay is recorded; attempts planned
// for less than half an hour run at once, longer ones only when told.
struct Timers {
    QList<QPair<QString, qint64>> planned;
    QHash<QString, QPointer<QTimer>> held;
    NativeEvents::TimerFn fn()
    {
        return [this](const QString& id, std::chrono::milliseconds delay, QTimer* timer) {
            planned.append({id, qint64(delay.count())});
            if (delay.count() < kHalfHourMs)
                timer->start(0);
            else
                held.insert(id, timer);
        };
    }
    Delays delaysOf(const QString& id) const
    {
        Delays out;
        for (const auto& p : planned)
            if (p.first == id)
                out << p.second;
        return out;
    }
};

QByteArray notice(const QByteArray& type, int channel = 1, const QByteArray& state = "active",
                  const QByteArray& date = "2026-03-02T10:15:00+01:00")
{
    return FakeAlertStream::part("boundary", FakeAlertStream::notification(type, state, channel, date));
}

AlertStream::Alert alert(const QString& type, int channel = 1, bool active = true)
{
    AlertStream::Alert a;
    a.type = type;
    a.channel = channel;
    a.active = active;
    return a;
}

int countKind(const QList<NativeEvents::Event>& events, int kind)
{
    return int(
        std::count_if(events.begin(), events.end(), [kind](const NativeEvents::Event& e) { return e.kind == kind; }));
}

// A stored event in one line: device, channel, kind, word, state, device time and text.
QString said(const NativeEvents::Event& e)
{
    return QStringLiteral("%1 ch%2 k%3 %4 %5 %6 %7")
        .arg(e.deviceId)
        .arg(e.channel)
        .arg(e.kind)
        .arg(e.type, e.active ? "on" : "off", e.deviceTime.isValid() ? e.deviceTime.toUTC().toString(Qt::ISODate) : "-",
             e.description);
}

QJsonArray readLog()
{
    QFile f(SecureFile::path("native-events.json"));
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).array() : QJsonArray();
}

} // namespace

class TestNativeEvents : public QObject {
    Q_OBJECT

    std::unique_ptr<kvrtest::TestClock> clock;
    std::unique_ptr<NativeStore> store;
    Probes probes;
    std::unique_ptr<NativeController> controller;
    Timers timers;
    std::unique_ptr<NativeEvents> events;
    std::unique_ptr<FakeAlertStream> fake;
    // Every (link, text) the watched stream went through, in order.
    QList<QPair<NativeEvents::Link, QString>> seen;

    // A device of the brand on the fake's port.
    QString addDevice(const QString& brand = QStringLiteral("HIKVISION"))
    {
        Device d;
        d.name = QStringLiteral("Gate NVR");
        d.ip = QStringLiteral("127.0.0.1");
        d.httpPort = fake->port();
        d.username = QStringLiteral("admin");
        d.password = QStringLiteral("pw-1");
        d.manufacturer = brand;
        return store->addDevice(d);
    }
    void watch(const QString& id)
    {
        connect(events.get(), &NativeEvents::linksChanged, this, [this, id] {
            const auto it = events->statuses().constFind(id);
            if (it != events->statuses().constEnd() && (seen.isEmpty() || seen.last() != qMakePair(it->link, it->text)))
                seen.append({it->link, it->text});
        });
    }
    NativeEvents::Link link(const QString& id) const { return events->statuses().value(id).link; }
    // Fresh timers, so a new run's delays start from nothing.
    void restart()
    {
        events->stop();
        timers = {};
        events->setTimerFunction(timers.fn());
        events->start();
    }

private Q_SLOTS:
    void init()
    {
        QDir(QFileInfo(SecureFile::path("x")).path()).removeRecursively();
        clock = std::make_unique<kvrtest::TestClock>();
        store = std::make_unique<NativeStore>();
        probes = {};
        controller = std::make_unique<NativeController>(store.get(), probes.fn());
        timers = {};
        seen.clear();
        events = std::make_unique<NativeEvents>(store.get(), controller.get());
        events->setTimerFunction(timers.fn());
        fake = std::make_unique<FakeAlertStream>();
        QVERIFY(fake->start());
    }
    void cleanup()
    {
        events.reset();
        fake.reset();
        controller.reset();
        store.reset();
        clock.reset();
    }

    void whichDevicesGetAStream()
    {
        const QString hik = addDevice();
        const QString other = addDevice("HONEYWELL"); // ISAPI, but without events
        const QString unknown = addDevice("ACME");    // unknown codes speak ISAPI
        const QString own = addDevice("PRAMA_STQC");
        const QString dahua = addDevice("DAHUA");
        const QString off = addDevice();
        store->setEnabled(off, false, "maintenance");
        QCOMPARE(events->eligibleCount(), 3);

        events->start();
        QCOMPARE(events->connectionCount(), 3);
        for (const QString& id : {hik, unknown, own})
            QTRY_VERIFY(events->statuses().contains(id));
        for (const QString& id : {other, dahua, off})
            QVERIFY(!events->statuses().contains(id));
        // Opened 20 ms apart in store order.
        QCOMPARE(timers.planned.mid(0, 3), (QList<QPair<QString, qint64>>{{hik, 0}, {unknown, 20}, {own, 40}}));
        QTRY_COMPARE(events->connectedCount(), 2);
        // The own-root brand asks its own path, which this fake does not serve.
        QTRY_COMPARE(link(own), NativeEvents::Unsupported);

        // Disabling closes the stream and removes its status at the next sync.
        store->setEnabled(hik, false, "off");
        QTRY_VERIFY(!events->statuses().contains(hik));
        QCOMPARE(events->connectionCount(), 2);
        QTRY_COMPARE(fake->openStreams(), 1);

        // A login the scheduler found refused takes the device out as well.
        probes.next.loginRefused = true;
        probes.next.health.device = Failed;
        controller->run(unknown, NativeController::Diagnose);
        QTRY_VERIFY(!events->statuses().contains(unknown));
        QCOMPARE(events->connectionCount(), 1);
        QCOMPARE(events->eligibleCount(), 2);
        events->stop();
        QCOMPARE(events->connectionCount(), 0);
        QVERIFY(events->statuses().isEmpty());
    }

    void reopensOnlyWhenTheConnectionChanges()
    {
        const QString id = addDevice();
        events->start();
        QTRY_COMPARE(link(id), NativeEvents::Live);
        const QString key = NativeEvents::fingerprint(*store->device(id));
        QVERIFY(!key.contains("pw-1"));

        Device d = *store->device(id);
        d.name = QStringLiteral("Renamed");
        d.type = QStringLiteral("dvr");
        QVERIFY(store->updateDevice(d));
        QCOMPARE(NativeEvents::fingerprint(*store->device(id)), key);
        QSignalSpy links(events.get(), &NativeEvents::linksChanged);
        QTRY_VERIFY(links.count() > 0); // the sync ran
        QCOMPARE(fake->requests(), 1);

        d.password = QStringLiteral("pw-2");
        QVERIFY(store->updateDevice(d));
        QTRY_COMPARE(fake->requests(), 2);
        QTRY_COMPARE(link(id), NativeEvents::Live);
        QTRY_COMPARE(fake->openStreams(), 1);
    }

    void streamedNotificationsAreStoredOnce()
    {
        // A quoted boundary with its own dashes, a keep-alive, a picture, a
        // notification with a bad date and one with a wrong length, all cut
        // into small pieces on the wire.
        fake->contentType = "multipart/mixed; boundary=\"--boundary\"";
        const QString id = addDevice();
        QSignalSpy received(events.get(), &NativeEvents::eventReceived);
        events->start();
        QTRY_COMPARE(link(id), NativeEvents::Live);
        fake->push(notice("videoloss", 0, "inactive") + FakeAlertStream::picturePart("boundary", 5000)
                       + notice("VMD", 2) + notice("diskerror", 0, "active", "not a date")
                       + FakeAlertStream::part("boundary", FakeAlertStream::notification("linedetection", "active", 3),
                                               "application/xml", 5000)
                       + notice("io", 4),
                   97);
        QTRY_COMPARE(received.count(), 4);
        QStringList stored;
        for (const NativeEvents::Event& e : events->events())
            stored << said(e);
        const QString at = QStringLiteral("2026-03-02T09:15:00Z");
        QCOMPARE(stored,
                 QStringList({id + " ch2 k1 VMD on " + at + " VMD alarm", id + " ch0 k7 diskerror on - diskerror alarm",
                              id + " ch3 k2 linedetection on " + at + " linedetection alarm",
                              id + " ch4 k13 io on " + at + " io alarm"}));
        QCOMPARE(events->events().at(0).receivedAt, clock->nowUtc().toLocalTime());
        // The disk error asked for an early details check.
        QCOMPARE(probes.count(NativeController::Refresh), 1);
        QVERIFY(events->statuses().value(id).lastData.isValid());

        // The same motion 10 s later is the same event; a marker after it
        // shows the stream was read that far.
        clock->advanceSecs(10);
        fake->push(notice("VMD", 2) + notice("alarminput", 9), 5);
        QTRY_COMPARE(received.count(), 5);
        QCOMPARE(countKind(events->events(), AlertStream::Motion), 1);
        QCOMPARE(events->events().last().channel, 9);
    }

    void bareXmlStreams()
    {
        fake->contentType = "application/xml";
        const QString id = addDevice();
        events->start();
        QTRY_COMPARE(link(id), NativeEvents::Live);
        fake->push(FakeAlertStream::notification("fielddetection", "active", 2)
                       + FakeAlertStream::notification("videoloss", "inactive", 0)
                       + FakeAlertStream::notification("shelteralarm", "active", 1),
                   7);
        QTRY_COMPARE(events->events().size(), 2);
        QCOMPARE(events->events()[0].kind, int(AlertStream::Intrusion));
        QCOMPARE(events->events()[1].kind, int(AlertStream::Tampering));
        // The device ends its streams after a while: each is reopened.
        fake->closeAfterMs = 200;
        fake->closeStreams();
        QTRY_VERIFY(fake->requests() >= 3);
        events->stop();
    }

    void storageRules()
    {
        const QString a = QStringLiteral("dev-a");
        auto motions = [&] { return countKind(events->recent(a, 100), AlertStream::Motion); };
        // Detections: the same device, channel, kind and state within 30 s
        // are one; other channels, states and devices are not.
        events->ingest(a, {alert("VMD", 1)});
        clock->advanceSecs(10);
        events->ingest(a, {alert("vmd", 1), alert("pir", 2), alert("VMD", 1, false)});
        events->ingest("dev-b", {alert("VMD", 1)});
        QCOMPARE(motions(), 3);
        QCOMPARE(countKind(events->recent("dev-b", 100), AlertStream::Motion), 1);
        // Only stored events count: 35 s after the first (the folded one in
        // between does not extend the window) it is stored again, then folded
        // for 30 s after that, and stored 40 s after it.
        for (const auto& [secs, expected] : QList<QPair<int, int>>{{25, 4}, {29, 4}, {11, 5}}) {
            clock->advanceSecs(secs);
            events->ingest(a, {alert("VMD", 1)});
            QCOMPARE(motions(), expected);
        }

        // Conditions are never folded; keep-alives never stored.
        events->ingest(a, {alert("shelteralarm", 1), alert("shelteralarm", 1), alert("videoloss", 1, false)});
        QCOMPARE(countKind(events->events(), AlertStream::Tampering), 2);
        QCOMPARE(countKind(events->events(), AlertStream::Heartbeat), 0);
        QVERIFY(probes.calls.isEmpty());

        // recent: newest first, all devices for an empty id.
        const QList<NativeEvents::Event> last3 = events->recent(QString(), 3);
        QCOMPARE(last3.size(), 3);
        QCOMPARE(last3[0].kind, int(AlertStream::Tampering));
        QCOMPARE(last3[2].kind, int(AlertStream::Motion));
    }

    void earlyProbes()
    {
        const QString id = addDevice("DAHUA"); // a store device without a stream
        events->ingest(id, {alert("videoloss", 1, false)});
        QVERIFY(probes.calls.isEmpty()); // a keep-alive asks for nothing
        events->ingest(id, {alert("diskerror", 0), alert("hdfull", 0)});
        QCOMPARE(probes.count(NativeController::Refresh), 1);
        QTRY_VERIFY(!controller->isBusy(id));
        clock->advanceSecs(59);
        events->ingest(id, {alert("nicbroken", 0)});
        QCOMPARE(probes.count(NativeController::Refresh), 1);
        clock->advanceSecs(2);
        events->ingest(id, {alert("diskerror", 0, false), alert("tamperdetection", 1), alert("VMD")});
        QCOMPARE(probes.count(NativeController::Refresh), 1); // inactive, tampering, motion: none
        events->ingest(id, {alert("recordexception", 2)});
        QCOMPARE(probes.count(NativeController::Refresh), 2);
        QCOMPARE(probes.calls.last().first, id);
    }

    void standingConditions()
    {
        const QString id = QStringLiteral("dev");
        events->ingest(id, {alert("shelteralarm", 1), alert("diskerror", 0), alert("VMD", 1)});
        clock->advanceSecs(5 * 60);
        events->ingest(id, {alert("shelteralarm", 1, false), alert("shelteralarm", 2)});
        events->ingest(QStringLiteral("other"), {alert("diskfull", 0)});
        const QList<NativeEvents::Event> s = events->standing(id, 24);
        QCOMPARE(s.size(), 2);
        QCOMPARE(s[0].kind, int(AlertStream::Tampering));
        QCOMPARE(s[0].channel, 2);
        QCOMPARE(s[1].kind, int(AlertStream::DiskError));
        // Outside the window nothing stands.
        clock->advanceSecs(2 * 3600);
        QVERIFY(events->standing(id, 1).isEmpty());
        QCOMPARE(events->standing(id, 3).size(), 2);
    }

    void retriesBackOffUntilLive()
    {
        fake->answer = FakeAlertStream::Answer::Status;
        fake->status = 500;
        const QString id = addDevice();
        watch(id);
        events->start();
        QTRY_VERIFY(timers.delaysOf(id).size() >= 10);
        // The first open, then 0, 5, 10, 20, 40, 80 s and 120 s from then on.
        QCOMPARE(timers.delaysOf(id).mid(0, 10),
                 (Delays{0, 0, 5000, 10000, 20000, 40000, 80000, 120000, 120000, 120000}));
        QVERIFY(seen.contains({NativeEvents::Lost, QStringLiteral("HTTP 500")}));

        // A hang-up without an answer is retried the same way, with the
        // network layer's sentence.
        fake->answer = FakeAlertStream::Answer::Hangup;
        seen.clear();
        restart();
        QTRY_VERIFY(timers.delaysOf(id).size() >= 5);
        QCOMPARE(timers.delaysOf(id).mid(0, 5), (Delays{0, 0, 5000, 10000, 20000}));
        events->stop();
        QVERIFY(std::any_of(seen.begin(), seen.end(), [](const auto& p) {
            return p.first == NativeEvents::Lost && !p.second.isEmpty() && p.second != QLatin1String("HTTP 500");
        }));
    }

    void answerThenCloseDoesNotLoop()
    {
        // 200 and an immediate close: every attempt "reaches" live, yet the
        // delays must grow as for any failure.
        fake->answer = FakeAlertStream::Answer::OkThenClose;
        const QString id = addDevice();
        watch(id);
        events->start();
        QTRY_VERIFY(timers.delaysOf(id).size() >= 6);
        events->stop();
        QCOMPARE(timers.delaysOf(id).mid(0, 6), (Delays{0, 0, 5000, 10000, 20000, 40000}));
        QVERIFY(fake->streamsOpened() >= 5);
        // Each drop of a live stream may mean the device went away, but a
        // full check is asked for at most once a minute.
        QCOMPARE(probes.count(NativeController::Diagnose), 1);

        // A stream that stayed open a while is reopened at once; closing
        // soon after the open, twice, backs off ...
        fake->answer = FakeAlertStream::Answer::Stream;
        restart();
        QTRY_COMPARE(link(id), NativeEvents::Live);
        clock->advanceSecs(31);
        for (int n = 2; n <= 4; ++n) {
            QTRY_COMPARE(fake->openStreams(), 1);
            fake->closeStreams();
            QTRY_COMPARE(timers.delaysOf(id).size(), n);
        }
        QCOMPARE(timers.delaysOf(id), (Delays{0, 0, 5000, 10000}));
        // ... but a notification shows the stream works, and the next close
        // is retried at once.
        QTRY_COMPARE(fake->openStreams(), 1);
        QSignalSpy received(events.get(), &NativeEvents::eventReceived);
        fake->push(notice("io"));
        QTRY_COMPARE(received.count(), 1);
        clock->advanceSecs(6);
        fake->closeStreams();
        QTRY_COMPARE(timers.delaysOf(id).size(), 5);
        QCOMPARE(timers.delaysOf(id).last(), qint64(0));
        QTRY_COMPARE(link(id), NativeEvents::Live);

        // A device that sends a notification with every answer and hangs up
        // at once is not reopened in a loop either; its notification is
        // stored once.
        fake->answer = FakeAlertStream::Answer::OkThenClose;
        fake->greeting = notice("VMD", 7);
        restart();
        QTRY_VERIFY(timers.delaysOf(id).size() >= 5);
        events->stop();
        QCOMPARE(timers.delaysOf(id).mid(0, 5), (Delays{0, 0, 5000, 10000, 20000}));
        QCOMPARE(countKind(events->recent(id, 100), AlertStream::Motion), 1);
        QVERIFY(seen.contains({NativeEvents::Lost, kClosed}));
    }

    void silentStreamIsCutAndReopened()
    {
        const QString id = addDevice();
        watch(id);
        events->setTransferTimeout(300ms);
        events->start();
        QTRY_COMPARE(link(id), NativeEvents::Live);
        // It has been open for five minutes when the silence cuts it.
        clock->advanceSecs(300);
        QTRY_COMPARE(timers.delaysOf(id).size(), 2);
        QCOMPARE(timers.delaysOf(id), (Delays{0, 0}));
        QVERIFY(seen.contains({NativeEvents::Lost, QStringLiteral("No data for 5 minutes; reconnecting.")}));
        // A silent stream says nothing about the device: no probe.
        QVERIFY(probes.calls.isEmpty());
        QTRY_COMPARE(link(id), NativeEvents::Live);
        events->stop();
    }

    void refusedLoginWaitsForAProbe_data()
    {
        QTest::addColumn<bool>("digest");
        QTest::newRow("basic") << false;
        QTest::newRow("digest") << true;
    }
    void refusedLoginWaitsForAProbe()
    {
        QFETCH(bool, digest);
        fake->digest = digest;
        fake->password = QStringLiteral("other");
        const QString id = addDevice();
        events->start();
        QTRY_COMPARE(link(id), NativeEvents::Refused);
        QCOMPARE(events->statuses().value(id).text,
                 QStringLiteral("The device refused the saved username or password."));
        // Credentials were offered once, and nothing is retried.
        QCOMPARE(fake->refusedLogins(), 2);
        QCOMPARE(fake->requests(), 2);
        QCOMPARE(timers.delaysOf(id), (Delays{0}));

        // A store change without a successful probe changes nothing.
        Device d = *store->device(id);
        d.name = QStringLiteral("Still refused");
        store->updateDevice(d);
        QSignalSpy links(events.get(), &NativeEvents::linksChanged);
        QTRY_VERIFY(links.count() > 0);
        QCOMPARE(timers.delaysOf(id), (Delays{0}));

        // A probe after the refusal finds the device up: tried again.
        fake->password = QStringLiteral("pw-1");
        clock->advanceSecs(60);
        ProbeResult up;
        up.health.internet = up.health.device = Passed;
        store->applyProbe(id, up);
        QTRY_COMPARE(link(id), NativeEvents::Live);
        QCOMPARE(timers.delaysOf(id), (Delays{0, 0}));
        QVERIFY(fake->authorizations().last().startsWith(digest ? "Digest " : "Basic "));
        QVERIFY(!digest || !fake->authorizations().last().contains("pw-1"));
        fake->push(notice("VMD", 5));
        QTRY_COMPARE(events->events().size(), 1);
        QCOMPARE(events->events()[0].channel, 5);
        events->stop();
    }

    void unsupportedIsAskedAgainAfterHalfAnHour_data()
    {
        QTest::addColumn<int>("status");
        for (int status : {403, 404, 405, 501})
            QTest::addRow("%d", status) << status;
    }
    void unsupportedIsAskedAgainAfterHalfAnHour()
    {
        QFETCH(int, status);
        fake->answer = FakeAlertStream::Answer::Status;
        fake->status = status;
        const QString id = addDevice();
        events->start();
        QTRY_COMPARE(link(id), NativeEvents::Unsupported);
        QCOMPARE(events->statuses().value(id).text,
                 QStringLiteral("This device doesn't offer live events (HTTP %1).").arg(status));
        QCOMPARE(timers.delaysOf(id), (Delays{0, kHalfHourMs}));
        QCOMPARE(fake->requests(), 1);
        // When the half hour is up, it is asked again, and waits again.
        QVERIFY(timers.held.value(id));
        timers.held.value(id)->start(0);
        QTRY_COMPARE(fake->requests(), 2);
        QTRY_COMPARE(timers.delaysOf(id), (Delays{0, kHalfHourMs, kHalfHourMs}));
        events->stop();
    }

    void eventLogFile()
    {
        const QString path = SecureFile::path("native-events.json");
        // Never written before it was read.
        events->ingest("d1", {alert("VMD")});
        events->save();
        QVERIFY(!QFile::exists(path));

        // An old file: events older than 7 days are left out when read;
        // missing fields take their defaults; unknown kinds are Other.
        const QDateTime now = clock->nowUtc().toLocalTime();
        const QJsonArray list = {QJsonObject{{"d", "old"},
                                             {"ch", 1},
                                             {"k", 1},
                                             {"t", "VMD"},
                                             {"a", true},
                                             {"at", now.addDays(-8).toString(Qt::ISODate)}},
                                 QJsonObject{{"d", "kept"},
                                             {"ch", 2},
                                             {"k", 7},
                                             {"t", "diskerror"},
                                             {"a", false},
                                             {"at", now.addDays(-6).toString(Qt::ISODate)},
                                             {"dt", "2026-02-24T08:00:00Z"},
                                             {"desc", "Disk 1"}},
                                 QJsonObject{{"d", "no time"}, {"k", 1}},
                                 QJsonObject{{"d", "defaults"}, {"at", now.toString(Qt::ISODate)}},
                                 QJsonObject{{"d", "unknown kind"}, {"k", 99}, {"at", now.toString(Qt::ISODate)}},
                                 QJsonValue(5)};
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(list).toJson());
        f.close();

        NativeEvents fresh(store.get(), controller.get());
        fresh.setTimerFunction(timers.fn());
        fresh.start();
        QStringList read;
        for (const NativeEvents::Event& e : fresh.events())
            read << said(e);
        QCOMPARE(read,
                 QStringList({"kept ch2 k7 diskerror off 2026-02-24T08:00:00Z Disk 1", "defaults ch0 k14  on - ",
                              "unknown kind ch0 k14  on - "}));

        // Saved on stop (or 5 s after the last stored event); keys as written.
        fresh.ingest("d2", {alert("io", 3)});
        fresh.stop();
        const QJsonArray saved = readLog();
        QCOMPARE(saved.size(), 4);
        QJsonObject last = saved[3].toObject();
        QCOMPARE(QDateTime::fromString(last.take("at").toString(), Qt::ISODate), now);
        QCOMPARE(last,
                 (QJsonObject{{"d", "d2"}, {"ch", 3}, {"k", int(AlertStream::AlarmInput)}, {"t", "io"}, {"a", true}}));
        QVERIFY(saved[0].toObject().contains("desc"));
    }

    void damagedEventLogIsKeptAside()
    {
        const QString path = SecureFile::path("native-events.json");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[{\"d\":\"x\",\"at\":\"2026-03-02T09:00:00\"}, trunc");
        f.close();
        kvrtest::LogCapture log;
        events->start();
        QVERIFY(events->events().isEmpty());
        QVERIFY(log.contains("unreadable event log was kept"));
        const QStringList copies = QDir(QFileInfo(path).path()).entryList({"native-events.json.unread-*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QFile copy(QFileInfo(path).path() + "/" + copies[0]);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QVERIFY(copy.readAll().endsWith("trunc"));
        // The log goes on in a new file.
        events->ingest("d", {alert("io")});
        events->save();
        QCOMPARE(readLog().size(), 1);
    }

    void savedWhenTheApplicationQuits()
    {
        const QString id = addDevice();
        events->start();
        events->ingest(id, {alert("diskfull", 0)});
        QVERIFY(readLog().isEmpty()); // not yet: the save waits 5 s
        QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
        QCOMPARE(readLog().size(), 1);
        QVERIFY(!events->isStarted());
    }

    void logIsBounded()
    {
        // 5,000 at most: one more removes the oldest.
        QList<AlertStream::Alert> many;
        for (int i = 0; i < 5000; ++i)
            many << alert("io", i + 1);
        events->ingest("d", many);
        events->ingest("d", {alert("diskfull", 0)});
        QCOMPARE(events->events().size(), 5000);
        QCOMPARE(events->events().first().channel, 2);
        QCOMPARE(events->events().last().kind, int(AlertStream::DiskFull));

        // Older than 7 days: gone when the next event arrives.
        clock->advanceSecs(7 * 24 * 3600 + 1);
        QCOMPARE(events->events().size(), 5000);
        events->ingest("d", {alert("VMD", 1)});
        QCOMPARE(events->events().size(), 1);
        // A keep-alive alone stores nothing and trims nothing.
        clock->advanceSecs(8 * 24 * 3600);
        events->ingest("d", {alert("videoloss", 0, false)});
        QCOMPARE(events->events().size(), 1);
    }
};

KVR_TEST_MAIN(TestNativeEvents)
#include "tst_native_events.moc"
