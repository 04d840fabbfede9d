#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "native/services/Verdicts.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeSeed.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <memory>

using namespace kvr::services;

using namespace Native;
using namespace std::chrono_literals;
using kvrtest::FakeDevice;
using nativeseed::alert;
using Delays = QList<qint64>;

namespace {

constexpr qint64 kHalfHourMs = 30 * 60 * 1000;
const QString kPath = QStringLiteral("/ISAPI/Event/notification/alertStream");

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
    return FakeDevice::part("boundary", FakeDevice::notification(type, state, channel, date));
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

void writeLog(const QByteArray& bytes)
{
    QFile f(SecureFile::path("native-events.json"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
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
    std::unique_ptr<FakeDevice> fake;

    // A device of the brand on the port (the fake's by default).
    QString addDevice(const QString& brand = QStringLiteral("HIKVISION"), quint16 port = 0)
    {
        Device d;
        d.name = QStringLiteral("Gate NVR");
        d.ip = QStringLiteral("127.0.0.1");
        d.httpPort = port ? port : fake->httpPort();
        d.username = fake->username;
        d.password = QStringLiteral("pw-1");
        d.manufacturer = brand;
        return store->addDevice(d);
    }
    NativeEvents::LinkStatus status(const QString& id) const { return events->statuses().value(id); }
    Link link(const QString& id) const { return status(id).link; }

private Q_SLOTS:
    void init()
    {
        QDir(QFileInfo(SecureFile::path("x")).path()).removeRecursively();
        clock = std::make_unique<kvrtest::TestClock>();
        store = std::make_unique<NativeStore>();
        probes = {};
        controller = std::make_unique<NativeController>(store.get(), probes.fn());
        timers = {};
        events = std::make_unique<NativeEvents>(store.get(), controller.get());
        events->setTimerFunction(timers.fn());
        fake = std::make_unique<FakeDevice>(FakeDevice::Kind::Isapi);
        fake->login = FakeDevice::Login::None;
        fake->password = QStringLiteral("pw-1");
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

    // ---- Rules ----------------------------------------------------------------

    void retrySchedule()
    {
        Delays delays;
        for (int attempt = 0; attempt < 10; ++attempt)
            delays << qint64(NativeEvents::retryDelay(attempt).count());
        QCOMPARE(delays, (Delays{0, 5000, 10000, 20000, 40000, 80000, 120000, 120000, 120000, 120000}));
    }

    void endOfStream()
    {
        // An end (status, how it ended, how long it lived after its 200 or -1,
        // whether it delivered) and its verdict: link, next step, "fresh" when
        // the delays start again, "recheck" when a full check is asked, text.
        using E = NativeEvents::StreamEnd::Error;
        const QList<std::tuple<int, E, qint64, bool, const char*>> rows = {
            {401, E::Other, -1, false, "Refused Wait The device refused the saved username or password."},
            // A refusal past its bound says nothing about the login.
            {401, E::LoginTooLarge, -1, false, "Lost Retry The device's login answer was too large."},
            // Answers that did not come, or did not end, in time: a refusal
            // read only in part says nothing of the login either; a status
            // that came says what it says.
            {0, E::NoAnswer, -1, false, "Lost Retry The device did not answer in time; trying again."},
            {401, E::TooSlow, -1, false, "Lost Retry The device was too slow to send its whole answer."},
            {404, E::TooSlow, -1, false, "Unsupported RetryLater This device doesn't offer live events (HTTP 404)."},
            {500, E::TooSlow, -1, false, "Lost Retry HTTP 500"},
            {403, E::Other, -1, false, "Unsupported RetryLater This device doesn't offer live events (HTTP 403)."},
            {404, E::Other, -1, false, "Unsupported RetryLater This device doesn't offer live events (HTTP 404)."},
            {405, E::Other, -1, false, "Unsupported RetryLater This device doesn't offer live events (HTTP 405)."},
            {501, E::Other, -1, false, "Unsupported RetryLater This device doesn't offer live events (HTTP 501)."},
            {500, E::Other, -1, false, "Lost Retry HTTP 500"},
            {0, E::Other, -1, false, "Lost Retry Connection refused"},
            // Five silent minutes cut a live stream: reopened at once, no probe.
            {200, E::Timeout, 300000, false, "Lost Retry fresh No data for 5 minutes; reconnecting."},
            // A live stream that breaks may mean the device went away.
            {200, E::None, 31000, false, "Lost Retry fresh recheck The device closed the event stream."},
            // 200 and a hang-up at once, with or without a notification: the
            // delays keep growing, so it is not reopened in a loop.
            {200, E::None, 0, false, "Lost Retry recheck The device closed the event stream."},
            {200, E::None, 1000, true, "Lost Retry recheck The device closed the event stream."},
            {200, E::None, 6000, true, "Lost Retry fresh recheck The device closed the event stream."},
            {200, E::Outrun, 600000, true,
             "Lost Retry The device sent more events than could be read; reconnecting later."},
            {302, E::RedirectLoop, -1, false, "Lost Retry The device redirected the event stream in a loop."},
            {302, E::RedirectElsewhere, -1, false,
             "Lost Retry The device redirected the event stream to another address."},
        };
        const char* links[] = {"Off", "Connecting", "Live", "Refused", "Unsupported", "Lost"};
        const char* nexts[] = {"Retry", "RetryLater", "Wait"};
        for (const auto& [status, error, livedMs, delivered, verdict] : rows) {
            const NativeEvents::EndVerdict v = NativeEvents::judgeEnd(
                {status, error, QStringLiteral("Connection refused"), livedMs >= 0, livedMs, delivered});
            QStringList words = {links[int(v.link)], nexts[int(v.next)]};
            words << (v.freshStart ? "fresh" : "") << (v.recheck ? "recheck" : "") << v.text;
            QCOMPARE(words.filter(QRegularExpression(".")).join(' '), QString::fromUtf8(verdict));
        }
    }

    void floodsAreJudgedOnTheTotal()
    {
        // Three streams, each far below the limit on its own: past the
        // total, the busiest is the flood, whichever stream's bytes tipped it.
        StreamFloodMeter m(100, 5000);
        QCOMPARE(m.add("a", 40, 0), QString());
        QCOMPARE(m.add("b", 30, 10), QString());
        QCOMPARE(m.add("c", 20, 20), QString());
        QCOMPARE(m.add("c", 20, 30), QStringLiteral("a"));
        QCOMPARE(m.total(), 70); // the dropped stream's bytes left the count
        // Equal shares: the first by name.
        QCOMPARE(m.add("b", 10, 40), QString());
        QCOMPARE(m.add("d", 21, 50), QStringLiteral("b"));
        // A closed stream no longer counts; a new window starts from nothing.
        m.forget("c");
        QCOMPARE(m.total(), 21);
        m.forget("d");
        QCOMPARE(m.add("d", 90, 4999), QString());
        QCOMPARE(m.add("d", 90, 5000), QString());
        QCOMPARE(m.total(), 90);
        QCOMPARE(m.add("e", 11, 5001), QStringLiteral("d"));
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
        // Only stored events count: 35 s after the first (the folded one in
        // between does not extend the window) it is stored again, then folded
        // for 30 s after that. The wall clock set back does not stretch it.
        for (const auto& [secs, expected] : QList<QPair<int, int>>{{25, 4}, {29, 4}, {11, 5}}) {
            clock->advanceSecs(secs);
            events->ingest(a, {alert("VMD", 1)});
            QCOMPARE(motions(), expected);
        }
        clock->setNowUtc(clock->nowUtc().addSecs(-3600));
        clock->advanceMs(30000);
        events->ingest(a, {alert("VMD", 1)});
        QCOMPARE(motions(), 6);

        // Conditions are never folded; keep-alives never stored.
        events->ingest(a, {alert("shelteralarm", 1), alert("shelteralarm", 1), alert("videoloss", 1, false)});
        QCOMPARE(countKind(events->events(), AlertStream::Tampering), 2);
        QCOMPARE(countKind(events->events(), AlertStream::Heartbeat), 0);
        // recent: newest first, all devices for an empty id.
        const QList<NativeEvents::Event> last3 = events->recent(QString(), 3);
        QCOMPARE(last3[0].kind, int(AlertStream::Tampering));
        QCOMPARE(last3[2].kind, int(AlertStream::Motion));
    }

    void earlyProbes()
    {
        const QString id = addDevice("DAHUA"); // a store device without a stream
        events->ingest(
            id,
            {alert("videoloss", 1, false), alert("diskerror", 0, false), alert("tamperdetection", 1), alert("VMD")});
        QVERIFY(probes.calls.isEmpty()); // keep-alive, cleared, tampering, motion: none
        events->ingest(id, {alert("diskerror", 0), alert("hdfull", 0)});
        QCOMPARE(probes.count(NativeController::Refresh), 1);
        QTRY_VERIFY(!controller->isBusy(id));
        clock->advanceSecs(59);
        events->ingest(id, {alert("nicbroken", 0)});
        QCOMPARE(probes.count(NativeController::Refresh), 1); // at most once a minute
        clock->advanceSecs(2);
        events->ingest(id, {alert("recordexception", 2)});
        QCOMPARE(probes.count(NativeController::Refresh), 2);
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
        // Older than 7 days: gone when the next event arrives.
        clock->advanceSecs(7 * 24 * 3600 + 1);
        events->ingest("d", {alert("VMD", 1)});
        QCOMPARE(events->events().size(), 1);
    }

    // ---- Streams on the wire ----------------------------------------------------

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
        for (const QString& id : {other, dahua, off})
            QVERIFY(!events->statuses().contains(id));
        // Opened 20 ms apart in store order.
        QCOMPARE(timers.planned.mid(0, 3), (QList<QPair<QString, qint64>>{{hik, 0}, {unknown, 20}, {own, 40}}));
        QTRY_COMPARE(events->connectedCount(), 2);
        // The own-root brand asks its own path, which this fake does not
        // serve: asked again after half an hour, and waits again.
        QTRY_COMPARE(link(own), Link::Unsupported);
        QCOMPARE(timers.delaysOf(own), (Delays{40, kHalfHourMs}));
        timers.held.value(own)->start(0);
        QTRY_COMPARE(timers.delaysOf(own), (Delays{40, kHalfHourMs, kHalfHourMs}));

        // Disabling closes the stream and removes its status at the next sync.
        store->setEnabled(hik, false, "off");
        QTRY_VERIFY(!events->statuses().contains(hik));
        QTRY_COMPARE(fake->openStreams(), 1);

        // A login the scheduler found refused takes the device out as well.
        probes.next.loginRefused = true;
        probes.next.health.device = Failed;
        controller->run(unknown, NativeController::Diagnose);
        QTRY_VERIFY(!events->statuses().contains(unknown));
        QCOMPARE(events->connectionCount(), 1);
        events->stop();
        QCOMPARE(events->connectionCount(), 0);
        QVERIFY(events->statuses().isEmpty());
    }

    void fingerprintFollowsTheConnectionOnly()
    {
        Device d;
        d.ip = QStringLiteral("127.0.0.1");
        d.password = QStringLiteral("pw-1");
        const QString key = NativeEvents::fingerprint(d);
        QVERIFY(!key.contains("pw-1"));
        d.name = QStringLiteral("Renamed");
        d.type = QStringLiteral("dvr");
        QCOMPARE(NativeEvents::fingerprint(d), key);
        for (auto edit : {+[](Device& x) { x.password = "pw-2"; }, +[](Device& x) { x.httpPort = 81; },
                          +[](Device& x) { x.username = "u"; }, +[](Device& x) { x.manufacturer = "DAHUA"; }}) {
            Device e = d;
            edit(e);
            QVERIFY(NativeEvents::fingerprint(e) != key);
        }
    }

    void streamedNotificationsAreStoredOnce()
    {
        // A quoted boundary with its own dashes, a keep-alive, a picture, a
        // notification with a bad date and one with a wrong length, all cut
        // into small pieces on the wire.
        fake->eventStream.contentType = "multipart/mixed; boundary=\"--boundary\"";
        const QString id = addDevice();
        QSignalSpy received(events.get(), &NativeEvents::eventReceived);
        events->start();
        QTRY_COMPARE(link(id), Link::Live);
        fake->push(notice("videoloss", 0, "inactive") + FakeDevice::picturePart("boundary", 5000) + notice("VMD", 2)
                       + notice("diskerror", 0, "active", "not a date")
                       + FakeDevice::part("boundary", FakeDevice::notification("linedetection", "active", 3),
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
        QCOMPARE(probes.count(NativeController::Refresh), 1); // the disk error
        QVERIFY(status(id).lastData.isValid());
    }

    void streamEndsAreRetriedByTheirTimers()
    {
        // The wiring of the rules above. Five silent minutes cut the stream:
        // reopened at once, without a probe.
        const QString id = addDevice();
        events->setTransferTimeout(300ms);
        events->start();
        QTRY_COMPARE(link(id), Link::Live);
        clock->advanceSecs(300);
        QTRY_COMPARE(timers.delaysOf(id), (Delays{0, 0}));
        QTRY_COMPARE(link(id), Link::Live);
        QVERIFY(probes.calls.isEmpty());
        // Hang-ups right after the 200 back off and ask for one full check.
        fake->eventStream.closeAtOnce = true;
        fake->closeStreams();
        QTRY_VERIFY(timers.delaysOf(id).size() >= 5);
        QCOMPARE(timers.delaysOf(id).mid(0, 5), (Delays{0, 0, 5000, 10000, 20000}));
        QCOMPARE(probes.count(NativeController::Diagnose), 1);
        events->stop();
    }

    // A stream redirected to itself with another query each time is
    // followed a few times per attempt, not fifty, and reported as a loop;
    // one redirected to another host is not followed at all.
    void redirectsOfTheStream()
    {
        fake->script(kPath, nativetest::reply(200, {}, [](auto& r) {
                         r.fault = FakeDevice::Fault::RedirectLoop;
                         r.beforeLogin = true;
                     }));
        const QString id = addDevice();
        QStringList texts; // the stream is retried at once, so its texts are caught as they come
        connect(events.get(), &NativeEvents::linksChanged, this, [&] {
            if (!status(id).text.isEmpty() && !texts.contains(status(id).text))
                texts << status(id).text;
        });
        events->start();
        QTRY_VERIFY(!texts.isEmpty());
        events->stop();
        QCOMPARE(texts, QStringList({"The device redirected the event stream in a loop."}));
        const int attempts = int(timers.delaysOf(id).size());
        QVERIFY(attempts >= 1);
        QVERIFY2(fake->requestCount(kPath) <= 4 * attempts,
                 qPrintable(QStringLiteral("%1 requests in %2 attempts").arg(fake->requestCount(kPath)).arg(attempts)));

        FakeDevice other(FakeDevice::Kind::Isapi);
        other.login = FakeDevice::Login::None;
        QVERIFY(other.start());
        fake->script(kPath, nativetest::reply(302, {}, [&](auto& r) {
                         r.beforeLogin = true;
                         r.headers = {"Location: http://127.0.0.1:" + QByteArray::number(other.httpPort())
                                      + kPath.toLatin1()};
                     }));
        texts.clear();
        events->start();
        QTRY_VERIFY(!texts.isEmpty());
        events->stop();
        QCOMPARE(texts, QStringList({"The device redirected the event stream to another address."}));
        QCOMPARE(other.requestCount(), 0);
    }

    // A stream the device sends compressed is not read as nothing: the
    // link says so, and the stream is tried again as a lost one is.
    void compressedStreamIsSaid()
    {
        fake->eventStream.headers = {"Content-Encoding: gzip"};
        fake->eventStream.greeting = "\x1f\x8b\x08\x00 not a notification";
        const QString id = addDevice();
        events->start();
        const QString said = QStringLiteral("The device sent its answer compressed (gzip), which can't be read.");
        QTRY_VERIFY(link(id) == Link::Lost && status(id).text == said);
        QTRY_VERIFY(timers.delaysOf(id).size() >= 2);
        events->stop();
    }

    void refusedLoginWaitsForAProbe()
    {
        fake->login = FakeDevice::Login::Digest;
        fake->password = QStringLiteral("other");
        const QString id = addDevice();
        events->start();
        QTRY_COMPARE(link(id), Link::Refused);
        // Credentials were offered once, and nothing is retried.
        QCOMPARE(fake->requestCount(kPath), 2);
        QCOMPARE(fake->servedCount(kPath), 0);
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
        store->applyProbe(id, nativetest::upResult());
        QTRY_COMPARE(link(id), Link::Live);
        QCOMPARE(timers.delaysOf(id), (Delays{0, 0}));
        fake->push(notice("VMD", 5));
        QTRY_COMPARE(events->events().size(), 1);
        // A new password is a new connection: reopened at once.
        fake->password = d.password = QStringLiteral("pw-2");
        store->updateDevice(d);
        QTRY_COMPARE(timers.delaysOf(id), (Delays{0, 0, 0}));
        QTRY_COMPARE(link(id), Link::Live);
        events->stop();
    }

    // Devices that answer the stream's login challenge with an endless or a
    // huge (1 GB) body: at most a small body of the refusal is read, the
    // stream says so in our words and is tried again with growing delays,
    // and neither this process nor what the devices get to send grows with
    // the link's rate.
    void hugeLoginAnswersAreBounded()
    {
        const qint64 startKiB = nativetest::memoryKiB();
        std::vector<std::unique_ptr<kvrtest::FakeDeviceThread>> devices;
        QStringList ids;
        for (const FakeDevice::Fault fault : {FakeDevice::Fault::Endless, FakeDevice::Fault::Huge}) {
            devices.push_back(std::make_unique<kvrtest::FakeDeviceThread>(FakeDevice::Kind::Isapi));
            devices.back()->run([&](FakeDevice& f) {
                f.password = QStringLiteral("pw-1");
                f.refusalFault = fault;
                f.hugeBytes = qint64(1) << 30;
            });
            ids << addDevice(QStringLiteral("HIKVISION"), devices.back()->httpPort());
        }
        QStringList texts;
        connect(events.get(), &NativeEvents::linksChanged, this, [&] {
            for (const QString& id : std::as_const(ids))
                if (!status(id).text.isEmpty() && !texts.contains(status(id).text))
                    texts << status(id).text;
        });
        events->start();
        // (The test's timers run every retry at once.)
        for (const QString& id : std::as_const(ids))
            QTRY_VERIFY(timers.delaysOf(id).size() >= 3);
        QThread::msleep(1000); // busy with something else while the devices send
        QTest::qWait(100);
        events->stop();
        QCOMPARE(texts, QStringList({"The device's login answer was too large."}));
        for (const QString& id : std::as_const(ids))
            QCOMPARE(timers.delaysOf(id).mid(1, 2), (Delays{0, 5000}));
        // What a connection holds, a few MB at most for each refusal, not
        // what the link carries in a second (gigabytes).
        for (const auto& device : devices) {
            qint64 sent = 0;
            int refusals = 0;
            device->run([&](FakeDevice& f) {
                sent = f.chunkedBytes();
                refusals = f.requestCount(kPath);
            });
            QVERIFY(refusals > 0);
            QVERIFY2(sent / refusals < qint64(8) << 20, qPrintable(QStringLiteral("%1 / %2").arg(sent).arg(refusals)));
        }
        if (!nativetest::kSanitizedHeap) {
            const qint64 grownKiB = nativetest::memoryKiB() - startKiB;
            QVERIFY2(grownKiB < 64 * 1024, qPrintable(QString::number(grownKiB)));
        }
    }

    void floodKeepsMemoryFlat_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("unit");
        QByteArray notes;
        for (int i = 0; notes.size() < 64 * 1024; ++i)
            notes += notice(i % 2 ? "VMD" : "io", 1 + i % 16);
        QTest::newRow("notifications") << QByteArray("multipart/mixed; boundary=boundary") << notes;
        QTest::newRow("no frame at all") << QByteArray("application/xml") << QByteArray(64 * 1024, 'z');
    }
    void floodKeepsMemoryFlat()
    {
        // A device on its own thread sends up to 300 MB at 150 MB/s, far
        // faster than a stream is read: memory stays flat (the device is made
        // to wait), and the stream is dropped and reopened later, again and
        // again.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVR_UNDER_ASAN
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(KVR_UNDER_ASAN)
        QSKIP("AddressSanitizer holds freed memory back for a while: the process grows whatever the stream does");
#endif
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, unit);
        kvrtest::FakeDeviceThread flooder(FakeDevice::Kind::Isapi);
        flooder.run([&](FakeDevice& f) {
            f.login = FakeDevice::Login::None;
            f.eventStream.contentType = contentType;
        });
        const QString id = addDevice("HIKVISION", flooder.httpPort());
        QStringList texts;
        connect(events.get(), &NativeEvents::linksChanged, this, [&] { texts << status(id).text; });
        events->start();
        QTRY_COMPARE(link(id), Link::Live);

        const qint64 base = nativetest::memoryKiB();
        qint64 peak = base;
        flooder.run([&](FakeDevice& f) { f.flood(unit, 150 * 1000 * 1000, 300 * 1000 * 1000); });
        QElapsedTimer watch;
        watch.start();
        while (watch.elapsed() < 3000 || timers.delaysOf(id).size() < 4) {
            QTest::qWait(10);
            peak = std::max(peak, nativetest::memoryKiB());
            QVERIFY2(peak - base < 64 * 1024, qPrintable(QStringLiteral("grew by %1 MiB").arg((peak - base) / 1024)));
            QVERIFY(watch.elapsed() < 30000);
        }
        flooder.run([](FakeDevice& f) { f.closeStreams(); });
        events->stop();
        QVERIFY(texts.contains("The device sent more events than could be read; reconnecting later."));
        QCOMPARE(timers.delaysOf(id).mid(0, 4), (Delays{0, 5000, 10000, 20000}));
        QVERIFY(probes.calls.isEmpty());
    }

    void floodOfManyStreamsIsJudgedOnTheTotal()
    {
        // Three devices on threads of their own each send 20 MB at 6 MB/s:
        // below what one stream may send in the window, far above what all
        // may send together. The busiest is dropped and reopened later;
        // nothing is probed.
        QByteArray notes;
        for (int i = 0; notes.size() < 64 * 1024; ++i)
            notes += notice(i % 2 ? "VMD" : "io", 1 + i % 16);
        std::vector<std::unique_ptr<kvrtest::FakeDeviceThread>> flooders;
        QStringList ids;
        for (int i = 0; i < 3; ++i) {
            flooders.push_back(std::make_unique<kvrtest::FakeDeviceThread>(FakeDevice::Kind::Isapi));
            flooders.back()->run([](FakeDevice& f) { f.login = FakeDevice::Login::None; });
            ids << addDevice("HIKVISION", flooders.back()->httpPort());
        }
        QStringList texts;
        connect(events.get(), &NativeEvents::linksChanged, this, [&] {
            for (const QString& id : std::as_const(ids))
                texts << status(id).text;
        });
        events->start();
        for (const QString& id : std::as_const(ids))
            QTRY_COMPARE(link(id), Link::Live);
        for (auto& f : flooders)
            f->run([&](FakeDevice& d) { d.flood(notes, 6 * 1000 * 1000, 20 * 1000 * 1000); });
        QTRY_VERIFY_WITH_TIMEOUT(texts.contains("The device sent more events than could be read; reconnecting later."),
                                 30000);
        for (auto& f : flooders)
            f->run([](FakeDevice& d) { d.closeStreams(); });
        events->stop();
        QVERIFY(probes.calls.isEmpty());
    }

    void parsersShareOneBufferLimit()
    {
        // Three devices each send 3.75 MiB without a frame, then a
        // notification: each within what one stream may hold, together
        // more than all streams may. The largest buffers are emptied, and
        // the notifications after them still arrive.
        std::vector<std::unique_ptr<FakeDevice>> fakes;
        for (int i = 0; i < 3; ++i) {
            fakes.push_back(std::make_unique<FakeDevice>(FakeDevice::Kind::Isapi));
            fakes.back()->login = FakeDevice::Login::None;
            fakes.back()->eventStream.contentType = "application/xml";
            QVERIFY(fakes.back()->start());
            addDevice("HIKVISION", fakes.back()->httpPort());
        }
        events->start();
        QTRY_COMPARE(events->connectedCount(), 3);
        for (auto& f : fakes)
            f->push(QByteArray(15 << 18, 'z') + FakeDevice::notification("VMD"), 64 * 1024);
        qint64 peak = 0;
        QElapsedTimer watch;
        watch.start();
        while (events->events().size() < 3 && watch.elapsed() < 20000) {
            QTest::qWait(1);
            peak = std::max(peak, events->bufferedBytes());
        }
        QCOMPARE(events->events().size(), 3);
        QVERIFY2(peak <= kvr::services::tun::kStreamBufferedTotal_bytes, qPrintable(QString::number(peak)));
        QVERIFY2(peak > 6 << 20, qPrintable(QString::number(peak))); // they did fill up
        events->stop();
    }

    // ---- The event log file -------------------------------------------------------

    // Answers that trickle or never end on a status other than the
    // stream's: each attempt ends within the answer's bound and says why on
    // the link, instead of "Connecting" for as long as the device drips.
    void dripsEndTheAttempt_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("head a byte at a time")
            << 200 << int(FakeDevice::Fault::TrickleHead)
            << QStringLiteral("The device did not answer in time; trying again.") << int(Link::Lost);
        QTest::newRow("refusal whose page drips")
            << 401 << int(FakeDevice::Fault::Trickle)
            << QStringLiteral("The device was too slow to send its whole answer.") << int(Link::Lost);
        QTest::newRow("error page without end")
            << 404 << int(FakeDevice::Fault::Endless)
            << QStringLiteral("This device doesn't offer live events (HTTP 404).") << int(Link::Unsupported);
        QTest::newRow("server error page without end")
            << 500 << int(FakeDevice::Fault::Endless) << QStringLiteral("HTTP 500") << int(Link::Lost);
    }
    void dripsEndTheAttempt()
    {
        QFETCH(int, answer);
        QFETCH(int, fault);
        QFETCH(QString, text);
        QFETCH(int, expected);
        fake->trickleMs = 100;
        fake->script(kPath, nativetest::reply(answer, QByteArray(4000, 'x'), [&](auto& r) {
                         r.fault = FakeDevice::Fault(fault);
                         r.beforeLogin = true;
                         r.headers = {"WWW-Authenticate: Basic realm=\"fake-device\""};
                     }));
        const QString id = addDevice();
        events->setAnswerTimeout(400ms);
        // Attempts after the first wait: the link shows how the first ended.
        auto first = timers.fn();
        events->setTimerFunction([&](const QString& device, std::chrono::milliseconds delay, QTimer* timer) {
            if (timers.planned.isEmpty())
                first(device, delay, timer);
            else
                timers.planned.append({device, qint64(delay.count())});
        });
        events->start();
        QTRY_COMPARE(int(link(id)), expected);
        QCOMPARE(status(id).text, text);
        QCOMPARE(fake->requestCount(kPath), 1);
        QCOMPARE(timers.delaysOf(id).size(), 2); // the first attempt, then the next one planned
        QTRY_COMPARE(fake->openConnections(), 0);
        events->stop();
    }

    // The answer's bound is for its head and for answers other than the
    // stream: a live stream goes on past it.
    void liveStreamOutlastsTheAnswerBound()
    {
        const QString id = addDevice();
        events->setAnswerTimeout(200ms);
        events->start();
        QTRY_COMPARE(link(id), Link::Live);
        QTest::qWait(800);
        QCOMPARE(link(id), Link::Live);
        QCOMPARE(fake->streamsOpened(), 1);
        events->stop();
    }

    // A live stream that ends leaves the count of connected streams (what
    // the fleet window shows as "Live events N/M") until it is live again,
    // the count agreeing with the streams' own states all the while.
    void aStreamThatEndsLeavesTheConnectedCount()
    {
        probes.next = nativetest::upResult();
        QHash<QString, QPointer<QTimer>> later; // attempts planned for later, started when the test says
        events->setTimerFunction([&](const QString& device, std::chrono::milliseconds delay, QTimer* timer) {
            if (delay.count() == 0)
                timer->start(0);
            else
                later.insert(device, timer);
        });
        const QString id = addDevice();
        const auto counted = [&] {
            int live = 0;
            for (const NativeEvents::LinkStatus& s : events->statuses())
                live += s.link == Link::Live ? 1 : 0;
            return QStringLiteral("%1 %2/%3").arg(live).arg(events->connectedCount()).arg(events->eligibleCount());
        };
        events->start();
        QTRY_COMPARE(link(id), Link::Live);
        QCOMPARE(counted(), QStringLiteral("1 1/1"));

        // The device hangs up, and turns the attempts after away.
        fake->script(kPath, nativetest::reply(500, "busy", [](auto& r) { r.beforeLogin = true; }));
        fake->closeStreams();
        QTRY_VERIFY(later.contains(id));
        QCOMPARE(link(id), Link::Lost);
        QCOMPARE(counted(), QStringLiteral("0 0/1"));

        // Live again at its next attempt, and counted again.
        fake->clearScripts();
        later.take(id)->start(0);
        QTRY_COMPARE(link(id), Link::Live);
        QCOMPARE(counted(), QStringLiteral("1 1/1"));
        events->stop();
        QCOMPARE(events->connectedCount(), 0);
    }

    // A stream that failed waits for its next attempt, up to two minutes; a
    // check that finds the device up again brings it back at once.
    void streamComesBackAtTheCheck()
    {
        fake->script(kPath, nativetest::reply(500, "busy", [](auto& r) { r.beforeLogin = true; }));
        const QString id = addDevice();
        // Attempts planned for later wait.
        events->setTimerFunction([&](const QString& device, std::chrono::milliseconds delay, QTimer* timer) {
            timers.planned.append({device, qint64(delay.count())});
            if (delay.count() == 0)
                timer->start(0);
        });
        events->start();
        QTRY_COMPARE(timers.delaysOf(id), (Delays{0, 0, 5000}));
        QCOMPARE(link(id), Link::Lost);
        fake->clearScripts();

        // A check that finds it down plans nothing more (the stream waits
        // for one that finds it up), as one from before the failure does.
        store->applyProbe(id, nativetest::offlineResult());
        QTest::qWait(50);
        QCOMPARE(timers.delaysOf(id), (Delays{0, 0, 5000}));
        // The check that finds it up: the stream opens at that check.
        clock->advanceSecs(1);
        store->applyProbe(id, nativetest::upResult());
        QTRY_COMPARE(link(id), Link::Live);
        QCOMPARE(timers.delaysOf(id), (Delays{0, 0, 5000, 0}));
        QCOMPARE(fake->openStreams(), 1);
        events->stop();
    }

    // A stream that fails at every attempt while the device's checks pass
    // counts from its first failure: its retries (each one Connecting, then
    // failing again) do not move that time, so ten minutes on the verdicts
    // say the stream's problem in its own words, also while a retry is under
    // way. A stream that worked in between counts afresh.
    void aStreamThatKeepsFailingIsSaid_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("said");
        QTest::newRow("server error") << "500"
                                      << "HTTP 500";
        QTest::newRow("compressed") << "gzip"
                                    << "The device sent its answer compressed (gzip), which can't be read.";
        QTest::newRow("dropped after its answer") << "drop"
                                                  << "The device closed the event stream.";
    }
    void aStreamThatKeepsFailingIsSaid()
    {
        QFETCH(QString, fault);
        QFETCH(QString, said);
        const auto fail = [&] {
            if (fault == "500")
                fake->script(kPath, nativetest::reply(500, "busy", [](auto& r) { r.beforeLogin = true; }));
            fake->eventStream.headers =
                fault == "gzip" ? QList<QByteArray>{"Content-Encoding: gzip"} : QList<QByteArray>{};
            fake->eventStream.closeAtOnce = fault == "drop";
        };
        fail();
        probes.next = nativetest::upResult(); // the checks a dropped stream asks for find it up
        const QString id = addDevice();
        store->applyProbe(id, nativetest::upResult());
        // Every attempt waits to be let go; the next one planned marks the end of the last.
        QList<QPointer<QTimer>> planned;
        events->setTimerFunction([&](const QString&, std::chrono::milliseconds, QTimer* timer) { planned << timer; });
        const auto attempt = [&](bool fails = true) {
            QTRY_VERIFY(!planned.isEmpty() && planned.last());
            QPointer<QTimer> next = planned.takeLast();
            planned.clear();
            next->start(0);
            if (fails)
                QTRY_VERIFY(!planned.isEmpty());
        };
        const auto noticed = [&] {
            const QDateTime now = clock->nowUtc().toLocalTime();
            for (const NativeInsights::Issue& i :
                 NativeInsights::issuesFor(NativeInsights::Sources::over(store.get(), controller.get(), events.get()),
                                           *store->device(id), now))
                if (i.title == "No live events")
                    return i.detail;
            return QString();
        };
        events->start();
        attempt();
        QCOMPARE(link(id), Link::Lost);
        QCOMPARE(status(id).text, said);
        for (int minute = 1; minute <= 11; ++minute) {
            clock->advanceSecs(60);
            attempt();
            QCOMPARE(noticed().isEmpty(), minute <= 10); // ten minutes and a second
        }
        QCOMPARE(noticed(), said + " Problems show only at the next scheduled check.");
        // A retry under way does not clear it.
        QStringList whileConnecting;
        const auto seen = connect(events.get(), &NativeEvents::linksChanged, this, [&] {
            if (link(id) == Link::Connecting)
                whileConnecting << noticed();
        });
        attempt();
        disconnect(seen);
        QCOMPARE(whileConnecting, QStringList{said + " Problems show only at the next scheduled check."});

        // The stream works for a while, then fails: counted from then.
        fake->clearScripts();
        fake->eventStream = {};
        attempt(false);
        QTRY_COMPARE(link(id), Link::Live);
        clock->advanceSecs(60);
        fail();
        fake->closeStreams();
        QTRY_COMPARE(link(id), Link::Lost);
        clock->advanceSecs(60);
        QCOMPARE(noticed(), QString());
        events->stop();
    }

    // A device whose last check found it unreachable gets no attempt (a
    // connect to it would hang until its time bound) until a check finds it
    // up; one found unreachable while its stream waits to be tried again
    // loses that attempt too, and a failure found meanwhile plans none.
    void unreachableDevicesWaitForACheckThatFindsThemUp()
    {
        // Long enough that an attempt is still under way when the check
        // below comes, however busy the machine.
        events->setAnswerTimeout(1500ms);
        const QString id = addDevice();
        store->applyProbe(id, nativetest::offlineResult());
        QHash<QString, QPointer<QTimer>> timerOf;
        events->setTimerFunction([&](const QString& device, std::chrono::milliseconds delay, QTimer* timer) {
            timers.planned.append({device, qint64(delay.count())});
            timerOf.insert(device, timer);
            timer->start(delay);
        });
        events->start();
        QCOMPARE(events->connectionCount(), 1);
        QVERIFY(events->awaitsCheck(id));
        QCOMPARE(timers.delaysOf(id), Delays{});

        // Found up: opened at that check.
        clock->advanceSecs(1);
        store->applyProbe(id, nativetest::upResult());
        QTRY_COMPARE(link(id), Link::Live);
        QVERIFY(!events->awaitsCheck(id));
        QCOMPARE(timers.delaysOf(id), Delays{0});

        // The stream drops and waits for its next attempt; a check finds the
        // device unreachable meanwhile: the attempt is called off.
        fake->script(kPath, nativetest::reply(500, "busy", [](auto& r) { r.beforeLogin = true; }));
        fake->closeStreams();
        QTRY_COMPARE(timers.delaysOf(id), (Delays{0, 0, 5000}));
        QVERIFY(timerOf.value(id) && timerOf.value(id)->isActive());
        clock->advanceSecs(1);
        store->applyProbe(id, nativetest::offlineResult());
        QTRY_VERIFY(events->awaitsCheck(id));
        QVERIFY(!timerOf.value(id)->isActive());
        // An attempt under way when the check finds the device unreachable
        // ends by itself and plans no other.
        fake->script(kPath, nativetest::reply(200, {}, [](auto& r) {
                         r.fault = FakeDevice::Fault::Silence;
                         r.beforeLogin = true;
                     }));
        const int asked = fake->requestCount(kPath);
        clock->advanceSecs(1);
        store->applyProbe(id, nativetest::upResult());
        QTRY_COMPARE(fake->requestCount(kPath), asked + 1);
        QCOMPARE(timers.delaysOf(id), (Delays{0, 0, 5000, 0}));
        clock->advanceSecs(1);
        store->applyProbe(id, nativetest::offlineResult());
        QTRY_COMPARE(link(id), Link::Lost); // its answer's time bound
        QVERIFY(events->awaitsCheck(id));
        QCOMPARE(timers.delaysOf(id), (Delays{0, 0, 5000, 0}));
        QVERIFY(!timerOf.value(id)->isActive());

        fake->clearScripts();
        clock->advanceSecs(1);
        store->applyProbe(id, nativetest::upResult());
        QTRY_COMPARE(link(id), Link::Live);
        QCOMPARE(timers.delaysOf(id), (Delays{0, 0, 5000, 0, 0}));
        events->stop();
    }

    // Streams that never fall quiet still reach the disk: 5 s after the
    // last event of a burst, and never later than 30 s after the first
    // event not yet written.
    void eventsAreSavedWithinTheCap()
    {
        events->start(); // the file is read (there is none)
        auto onDisk = [&] {
            events->waitForWrites();
            return int(readLog().size());
        };
        // An event a second: each puts the write 5 s off, for 25 s.
        int stored = 0;
        for (int second = 0; second <= 25; ++second) {
            events->ingest("d1", {alert("io", 1 + second % 4)});
            ++stored;
            QCOMPARE(events->pendingSaveDelayMs(), 5000);
            clock->advanceSecs(1);
        }
        QCOMPARE(onDisk(), 0);
        // 30 s after the first: written now, every event so far.
        clock->advanceSecs(4);
        events->ingest("d1", {alert("io", 2)});
        ++stored;
        QCOMPARE(events->pendingSaveDelayMs(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(onDisk(), stored, 20000);
        // The next event starts the count again.
        clock->advanceSecs(1);
        events->ingest("d1", {alert("io", 3)});
        QCOMPARE(events->pendingSaveDelayMs(), 5000);
        clock->advanceSecs(28);
        events->ingest("d1", {alert("io", 4)});
        QCOMPARE(events->pendingSaveDelayMs(), 2000);
        events->stop();
        QCOMPARE(onDisk(), stored + 2);
    }

    void eventLogFile()
    {
        const QString path = SecureFile::path("native-events.json");
        // Never written before it was read.
        events->ingest("d1", {alert("VMD")});
        events->save();
        events->waitForWrites();
        QVERIFY(!QFile::exists(path));

        // An old file: events older than 7 days are left out when read;
        // missing fields take their defaults; unknown kinds are Other.
        const QDateTime now = clock->nowUtc().toLocalTime();
        writeLog(QStringLiteral(R"([{"d":"old","k":1,"at":"%1"},{"d":"kept","ch":2,"k":7,"t":"diskerror","a":false,
            "at":"%2","dt":"2026-02-24T08:00:00Z","desc":"Disk 1"},{"d":"no time","k":1},
            {"d":"unknown kind","k":99,"at":"%3"},5])")
                     .arg(now.addDays(-8).toString(Qt::ISODate), now.addDays(-6).toString(Qt::ISODate),
                          now.toString(Qt::ISODate))
                     .toUtf8());

        NativeEvents fresh(store.get(), controller.get());
        fresh.setTimerFunction(timers.fn());
        fresh.start();
        QStringList read;
        for (const NativeEvents::Event& e : fresh.events())
            read << said(e);
        QCOMPARE(read,
                 QStringList({"kept ch2 k7 diskerror off 2026-02-24T08:00:00Z Disk 1", "unknown kind ch0 k14  on - "}));

        // Saved when the application quits (or 5 s after the last stored
        // event); keys as written.
        fresh.ingest("d2", {alert("io", 3)});
        QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
        const QJsonArray saved = readLog();
        QCOMPARE(saved.size(), 3);
        QJsonObject last = saved[2].toObject();
        QCOMPARE(QDateTime::fromString(last.take("at").toString(), Qt::ISODate), now);
        QCOMPARE(last,
                 (QJsonObject{{"d", "d2"}, {"ch", 3}, {"k", int(AlertStream::AlarmInput)}, {"t", "io"}, {"a", true}}));
    }

    void damagedEventLogIsKeptAside()
    {
        writeLog("[{\"d\":\"x\",\"at\":\"2026-03-02T09:00:00\"}, trunc");
        events->start();
        QVERIFY(events->events().isEmpty());
        const QStringList copies = nativetest::unreadCopies();
        QCOMPARE(copies.size(), 1);
        QVERIFY(SecureFile::read(copies[0])->endsWith("trunc"));
        // The log goes on in a new file.
        events->ingest("d", {alert("io")});
        events->save();
        events->waitForWrites();
        QCOMPARE(readLog().size(), 1);
    }
};

KVR_TEST_MAIN(TestNativeEvents)

#include "tst_native_events.moc"
