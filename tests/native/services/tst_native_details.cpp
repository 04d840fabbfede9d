#include "native/services/CalendarSearch.h"
#include "native/services/DeviceDetails.h"
#include "native/services/DeviceProbe.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QtTest>

using namespace kvr::services;

using kvrtest::FakeDevice;
using NativeHttp::Response;
using NativeProbe::Outcome;
using nativetest::probe;

namespace {

// The body served, or a 404 where there is none.
Response served(const QByteArray& body)
{
    return body.isEmpty() ? nativetest::answer(404) : nativetest::answer(200, body);
}

Native::Device recorder(const QString& brand, const QString& type = QStringLiteral("nvr"))
{
    Native::Device d;
    d.ip = QStringLiteral("192.168.1.10");
    d.manufacturer = brand;
    d.type = type;
    d.channels = 8;
    return d;
}

Native::Device deviceFor(const FakeDevice& fake, const QString& brand, const QString& type = QStringLiteral("nvr"))
{
    Native::Device d = nativetest::deviceFor(fake, brand);
    d.type = type;
    d.channels = 8;
    return d;
}

QList<Response> hikAnswers(const QByteArray& storage, const QByteArray& status = {}, const QByteArray& names = {},
                           const QByteArray& inputs = {})
{
    return {served("<Time><localTime>2025-03-01T08:15:30+05:30</localTime></Time>"), served(storage), served(status),
            served(names), served(inputs)};
}

QList<Response> dahuaAnswers(const QByteArray& storage, const QByteArray& titles = {}, const QByteArray& states = {})
{
    return {served("version=2.800.0000.5.R,build:2021-03-24\r\n"),
            served("name=Yard NVR\r\n"),
            served("result=2025-03-01 08:15:30\r\n"),
            served(storage),
            served(titles),
            served(states)};
}

// One month's recorded days from the device, waited for, in one line:
// "[days] error", or "no answer".
QString month(const Native::Device& d, int channel, bool main, int year, int month)
{
    nativetest::Catch<QString> c;
    NativeCalendar::month(d, channel, main, year, month, [&c](const QSet<int>& days, const QString& e) {
        QList<int> sorted(days.cbegin(), days.cend());
        std::sort(sorted.begin(), sorted.end());
        QStringList list;
        for (int day : sorted)
            list << QString::number(day);
        c.cb()(QStringLiteral("[%1] %2").arg(list.join(','), e).trimmed());
    });
    return c.wait() ? *c.value : QStringLiteral("no answer");
}

// A fetch's outcome in one line: state, model, serial, name, clock, disks,
// recorded days of the window, error; then each channel.
QString describe(const Outcome& o)
{
    const Native::Health& h = o.health;
    QString out = QString::asprintf(
        "%d %s [%s] [%s] %s [%s]%s %d/%d [%s]", h.device, qUtf8Printable(h.model), qUtf8Printable(h.serial),
        qUtf8Printable(h.deviceName), qUtf8Printable(h.deviceTime), qUtf8Printable(h.hdd),
        h.unreadOf(Native::Detail::Disks) ? "?" : "", h.recordingDays, h.recordingWindow, qUtf8Printable(h.error));
    for (const Native::ChannelInfo& c : o.channels)
        out += QStringLiteral(" | %1 %2 %3").arg(c.channel).arg(c.name, c.onlineKnown ? (c.online ? "+" : "-") : "?");
    return out;
}

// The channels read, each as "number name state".
QString channels(const NativeDetails::ChannelMap& map)
{
    QStringList out;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        out << QStringLiteral("%1 %2 %3").arg(it.key()).arg(it->name, it->onlineKnown ? (it->online ? "+" : "-") : "?");
    return out.join(QStringLiteral(" | "));
}

} // namespace

class TestNativeDetails : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The disk verdict from every shape of storage answer.
    void diskVerdicts_data()
    {
        QTest::addColumn<QString>("brand");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("storage");
        QTest::addColumn<QString>("hdd");
        auto row = [](const char* name, const char* brand, const char* type, const QByteArray& storage,
                      const char* hdd) {
            QTest::newRow(name) << QString(brand) << QString(type) << storage << QString(hdd);
        };
        // clang-format off
        row("isapi ok", "HIKVISION", "nvr", "<storage><hddList><hdd><status>ok</status></hdd><hdd><status>Sleeping </status></hdd></hddList></storage>", "OK");
        row("isapi bad", "HIKVISION", "nvr", "<storage><hdd><status>unformatted</status></hdd></storage>", "Fault");
        row("isapi no status", "HIKVISION", "nvr", "<storage><hdd><id>1</id></hdd></storage>", "Fault");
        row("isapi no disk", "HIKVISION", "nvr", "<storage><hddList/></storage>", "Fault");
        row("isapi camera", "HIKVISION", "ipcamera", "<storage><hddList/></storage>", "");
        row("isapi prefixed", "HIKVISION", "nvr", "<p:storage xmlns:p=\"urn:x\"><p:hdd><p:status>idle</p:status></p:hdd></p:storage>", "OK");
        row("dahua ok", "DAHUA", "nvr", "list.info[0].Detail[0].IsError=false\r\nlist.info[0].Detail[0].State=Success\r\n", "OK");
        row("dahua state", "DAHUA", "nvr", "list.info[0].Detail[0].State=Error\r\n", "Fault");
        row("dahua error", "DAHUA", "nvr", "list.info[0].Detail[0].IsError=TRUE\r\n", "Fault");
        row("dahua no disk", "DAHUA", "dvr", "other=1\r\n", "Fault");
        row("dahua camera", "DAHUA", "ipcamera", "other=1\r\n", "");
        // The state on the disk itself, as recorders in the field report it.
        row("dahua info state", "DAHUA", "nvr", "list.info[0].State=Error\r\nlist.info[0].Detail[0].IsError=false\r\n", "Fault");
        row("dahua lower case", "DAHUA", "nvr", "list.info[0].state=success\r\nlist.info[0].detail[0].iserror=false\r\n", "OK");
        // An "Error" body in a 200 says nothing about the disks: only such an
        // answer makes them unknown (marked "?").
        row("dahua error body", "DAHUA", "nvr", "Error\r\nBad Request!\r\n", "?");
        row("dahua error count", "DAHUA", "nvr", "ErrorCount=0\r\nlist.info[0].State=Success\r\n", "OK");
        // An answer that reads as nothing says nothing about the disks either:
        // a fault is a disk that says so, or a well-formed list without one.
        row("isapi garbage", "HIKVISION", "nvr", FakeDevice::garbage(), "?");
        row("isapi cut short", "HIKVISION", "nvr", "<storage><hddList><hdd><status>ok</status></hdd>", "?");
        row("isapi other page", "HIKVISION", "nvr", "<html><body>Service Unavailable</body></html>", "?");
        row("dahua garbage", "DAHUA", "nvr", FakeDevice::garbage(), "?");
        row("dahua html", "DAHUA", "nvr", "<html><meta charset=\"utf-8\"><body>x</body></html>", "?");
        // clang-format on
    }
    void diskVerdicts()
    {
        QFETCH(QString, brand);
        QFETCH(QString, type);
        QFETCH(QByteArray, storage);
        Native::ProbeResult r;
        NativeDetails::ChannelMap c;
        if (brand == "DAHUA")
            NativeDetails::readDahua(recorder(brand, type), dahuaAnswers(storage), r, c);
        else
            NativeDetails::readHik(recorder(brand, type), hikAnswers(storage), r, c);
        QTEST(r.health.hdd + (r.health.unreadOf(Native::Detail::Disks) ? "?" : ""), "hdd");
    }

    // The channels and clock each brand's answers give.
    void channelsAndClock()
    {
        Native::ProbeResult r;
        Native::Health& h = r.health;
        NativeDetails::ChannelMap c;
        NativeDetails::readHik(
            recorder("HIKVISION"),
            hikAnswers("<storage/>",
                       "<l><InputProxyChannelStatus><id>2</id><online>TRUE</online></InputProxyChannelStatus>"
                       "<InputProxyChannelStatus><id>5</id><online>false</online></InputProxyChannelStatus>"
                       "<InputProxyChannelStatus><id>0</id><online>true</online></InputProxyChannelStatus>"
                       "<InputProxyChannelStatus><id>x</id><online>true</online></InputProxyChannelStatus>"
                       "<InputProxyChannelStatus><id>4294967298</id><online>true</online></InputProxyChannelStatus>"
                       "<InputProxyChannelStatus><id>300</id><online>true</online></InputProxyChannelStatus></l>",
                       "<l><InputProxyChannel><id>2</id><name>Gate</name></InputProxyChannel></l>",
                       // The first name met for a channel stays.
                       "<l><VideoInputChannel><id>2</id><name>Other</name></VideoInputChannel>"
                       "<VideoInputChannel><id>7</id><name>Analog</name></VideoInputChannel></l>"),
            r, c);
        // Zero, junk, huge and out-of-range ids dropped.
        QCOMPARE(channels(c), QStringLiteral("2 Gate + | 5  - | 7 Analog ?"));
        QCOMPARE(h.deviceTime, QStringLiteral("2025-03-01 08:15:30"));
        QCOMPARE(NativeDetails::formatDeviceTime("garbage"), QString());

        r = {};
        c.clear();
        NativeDetails::readDahua(
            recorder("DAHUA"),
            dahuaAnswers("", "table.ChannelTitle[0].Name=Lobby\r\ntable.ChannelTitle[999999999999].Name=Far\r\n",
                         "states[3].ConnectionState=Connected\r\n"
                         "result.states[0].Channel=6\r\nresult.states[0].ConnectionState=Unconnected\r\n"
                         // As recorders in the field write it.
                         "result.states[1].channel=1\r\nresult.states[1].connectionState=Unconnect\r\n"
                         "states[4].connectionstate=connected\r\n"
                         // Unusable channel values fall back to the row.
                         "states[5].Channel=2147483647\r\nstates[5].ConnectionState=Connected\r\n"
                         "states[9].Channel=abc\r\nstates[9].ConnectionState=Connected\r\n"
                         "states[7].Channel=3\r\n"),
            r, c);
        // Not 8: the row without a state.
        QCOMPARE(channels(c), QStringLiteral("1 Lobby ? | 2  - | 4  + | 5  + | 6  + | 7  - | 10  +"));
        QCOMPARE(QStringList({h.firmware, h.deviceName, h.deviceTime}),
                 QStringList({"2.800.0000.5.R", "Yard NVR", "2025-03-01 08:15:30"}));

        // The device-information answer's own firmware and name stay.
        h.firmware = h.deviceName = QStringLiteral("Own");
        NativeDetails::readDahua(recorder("DAHUA"), dahuaAnswers(""), r, c);
        QCOMPARE(h.firmware + h.deviceName, QStringLiteral("OwnOwn"));
    }

    // A recorder behind a slow link (a site on a mobile router) answers
    // each request in 0.4 s, or in 4 s with the bounds the program uses:
    // the details requests wait for the device's turn one after another,
    // each with its whole time from when it goes out, and every finding is
    // read (the disk fault, the offline camera by its name).
    void slowLinkLosesNothing_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("brand");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("requestMs");
        QTest::newRow("isapi, 0.4 s an answer") << int(FakeDevice::Kind::Isapi) << "HIKVISION" << 400 << 500;
        QTest::newRow("cgi, 4 s an answer")
            << int(FakeDevice::Kind::Dahua) << "DAHUA" << 4000 << int(tun::kDeviceRequestTimeout.count());
    }
    void slowLinkLosesNothing()
    {
        QFETCH(int, kind);
        QFETCH(QString, brand);
        QFETCH(int, delayMs);
        QFETCH(int, requestMs);
        FakeDevice fake{FakeDevice::Kind(kind)};
        fake.answerDelayMs = delayMs;
        fake.disks = {QStringLiteral("ok"), QStringLiteral("error")};
        fake.channels = {{1, QStringLiteral("Gate"), true, true}, {3, QStringLiteral("Yard"), false, true}};
        QVERIFY(fake.start());
        NativeStore store;
        const QString id = store.addDevice(deviceFor(fake, brand));
        nativetest::Catch<Outcome> run;
        NativeProbe::fetch(*store.device(id), 0, nullptr, run.cb(), {.request = std::chrono::milliseconds(requestMs)});
        QVERIFY(run.wait(60000));
        QCOMPARE(describe(*run.value),
                 "2 DS-FAKE-16 [FK0123456789] [Front gate NVR] 2025-03-01 08:15:30 [Fault] -1/0 "
                 "[] | 1 Gate + | 3 Yard -");
        QVERIFY(run->health.unread.isEmpty());
        store.applyProbe(id, *run.value);
        QStringList findings;
        for (const NativeInsights::Issue& i :
             NativeInsights::issuesFor(NativeInsights::Sources::over(&store, nullptr, nullptr), *store.device(id),
                                       QDateTime::currentDateTime()))
            findings << i.title + QStringLiteral(": ") + i.detail;
        QCOMPARE(findings.mid(0, 2),
                 QStringList({"Disk fault: A disk reports an error: recordings may be missing or "
                              "about to stop.",
                              "1 camera offline: Yard."}));
    }

    // Details requests that fail after the login (too slow, no answer, a
    // loop, cut short, too big, garbage): each part is marked unread with
    // the failed answer's reason, what the last good answer said of the
    // cameras' names stands, the disk and camera states are unknown, and
    // the device shows a finding that says why.
    void failedDetailsAreSaid_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("reason");
        using F = FakeDevice::Fault;
        QTest::newRow("too slow") << int(F::Trickle) << "The device was too slow to send its whole answer.";
        QTest::newRow("silent") << int(F::Silence) << "No answer in time.";
        QTest::newRow("loop") << int(F::RedirectLoop) << "The device redirected the request in a loop.";
        QTest::newRow("cut short") << int(F::Short) << "The device closed the connection before its whole answer came.";
        QTest::newRow("too big") << int(F::Huge) << "The device sent more than 4 MB; the answer was dropped.";
        QTest::newRow("garbage") << int(F::Garbage) << "The device's answer could not be read.";
    }
    void failedDetailsAreSaid()
    {
        QFETCH(int, fault);
        QFETCH(QString, reason);
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.channels = {{1, QStringLiteral("Gate"), true, true}, {2, QStringLiteral("Yard"), false, true}};
        fake.clockAheadSecs = 0;
        QVERIFY(fake.start());
        NativeStore store;
        Native::Device d = deviceFor(fake, QStringLiteral("HIKVISION"));
        d.channels = 2;
        const QString id = store.addDevice(d);
        const NativeProbe::Timing quick{.request = std::chrono::milliseconds(1000)};
        auto fetch = [&] {
            nativetest::Catch<Outcome> run;
            NativeProbe::fetch(*store.device(id), 0, nullptr, run.cb(), quick);
            run.wait();
            store.applyProbe(id, run.value.value_or(Outcome{}));
            return run.value.value_or(Outcome{});
        };
        QVERIFY(fetch().health.unread.isEmpty());
        const QString clockRead = store.device(id)->health.deviceTime;

        fake.detailsFault = FakeDevice::Fault(fault);
        const Outcome o = fetch();
        QCOMPARE(o.health.device, 2);
        QCOMPARE(o.health.digest, 2);
        QStringList unread;
        for (const Native::Unread& u : o.health.unread)
            unread << QString::number(int(u.part)) + QLatin1Char(' ') + u.reason;
        const QString r = QLatin1Char(' ') + reason;
        QCOMPARE(unread, QStringList({"0" + r, "1" + r, "3" + r, "2" + r})); // clock, disks, names, states

        const Native::Device stored = *store.device(id);
        QVERIFY(stored.health.hdd.isEmpty());
        QCOMPARE(nativetest::describe(stored).section('[', 1), "Gate:0:0,Yard:0:0]"); // named, states unknown
        QCOMPARE(stored.health.deviceTime, clockRead); // its reading stands, with its time
        QStringList findings;
        for (const NativeInsights::Issue& i : NativeInsights::issuesFor(
                 NativeInsights::Sources::over(&store, nullptr, nullptr), stored, QDateTime::currentDateTime()))
            findings << i.title + QStringLiteral(": ") + i.detail;
        QCOMPARE(findings,
                 QStringList(QStringLiteral("Disk status unknown: The recorder did not send its clock, its "
                                            "disk status, the names of its cameras or the states of its "
                                            "cameras: ")
                             + reason));
    }

    // A recorder that answers its disk request with an error status every
    // check (busy, or a disk service that failed): the disk status is
    // unknown with that reason, as for any other unread answer, and the
    // device shows the finding; one that does not offer the request (404)
    // keeps what it had, without a word.
    void unansweredDiskRequest_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("brand");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // the stored disk state and the finding
        const QString isapi = QStringLiteral("/ISAPI/ContentMgmt/Storage");
        const QString cgi = QStringLiteral("/cgi-bin/storageDevice.cgi?action=getDeviceAllInfo");
        const QString unknown = QStringLiteral("? Disk status unknown: The recorder did not send its disk status: ");
        QTest::newRow("isapi 503") << int(FakeDevice::Kind::Isapi) << "HIKVISION" << isapi << 503
                                   << unknown + "The device answered HTTP 503.";
        QTest::newRow("cgi 503") << int(FakeDevice::Kind::Dahua) << "DAHUA" << cgi << 503
                                 << unknown + "The device answered HTTP 503.";
        QTest::newRow("cgi 500") << int(FakeDevice::Kind::Dahua) << "DAHUA" << cgi << 500
                                 << unknown + "The device answered HTTP 500.";
        QTest::newRow("isapi 401") << int(FakeDevice::Kind::Isapi) << "HIKVISION" << isapi << 401
                                   << unknown + "The device refused the login.";
        QTest::newRow("isapi 404") << int(FakeDevice::Kind::Isapi) << "HIKVISION" << isapi << 404 << "OK";
    }
    void unansweredDiskRequest()
    {
        QFETCH(int, kind);
        QFETCH(QString, brand);
        QFETCH(QString, path);
        QFETCH(int, status);
        FakeDevice fake{FakeDevice::Kind(kind)};
        fake.channels = {{1, QStringLiteral("Gate"), true, true}};
        fake.clockAheadSecs = 0;
        QVERIFY(fake.start());
        NativeStore store;
        Native::Device d = deviceFor(fake, brand);
        d.channels = 1;
        const QString id = store.addDevice(d);
        auto check = [&] {
            nativetest::Catch<Outcome> run;
            NativeProbe::fetch(*store.device(id), 0, nullptr, run.cb(), {.request = std::chrono::milliseconds(2000)});
            QVERIFY(run.wait());
            store.applyProbe(id, *run.value);
        };
        check();
        QCOMPARE(store.device(id)->health.hdd, QStringLiteral("OK"));
        fake.script(path, nativetest::reply(status, "<html><body>Service Unavailable</body></html>", [](auto& r) {
                        r.contentType = "text/html";
                    }));
        for (int i = 0; i < 2; ++i) // every check alike
            check();
        const Native::Device stored = *store.device(id);
        QString said = stored.health.hdd + (stored.health.unreadOf(Native::Detail::Disks) ? "?" : "");
        for (const NativeInsights::Issue& issue : NativeInsights::issuesFor(
                 NativeInsights::Sources::over(&store, nullptr, nullptr), stored, QDateTime::currentDateTime()))
            said += QStringLiteral(" ") + issue.title + QStringLiteral(": ") + issue.detail;
        QTEST(said, "said");
        QCOMPARE(stored.health.device, Native::Passed);
    }

    // A recorder 420 s ahead answers its clock in 0.4 s while another of
    // its answers takes 2.5 s: the drift is taken against the clock answer's
    // arrival, not the end of the fetch, in the store and in its file.
    void clockDriftAgainstTheClockAnswer_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("brand");
        QTest::addColumn<QString>("slowPath");
        QTest::newRow("isapi") << int(FakeDevice::Kind::Isapi) << "HIKVISION"
                               << "/ISAPI/System/Video/inputs/channels";
        QTest::newRow("cgi") << int(FakeDevice::Kind::Dahua) << "DAHUA"
                             << "/cgi-bin/configManager.cgi?action=getConfig&name=ChannelTitle";
    }
    void clockDriftAgainstTheClockAnswer()
    {
        QFETCH(int, kind);
        QFETCH(QString, brand);
        QFETCH(QString, slowPath);
        FakeDevice fake{FakeDevice::Kind(kind)};
        fake.clockAheadSecs = 420;
        fake.clockDelayMs = 400;
        fake.script(slowPath, nativetest::reply(404, {}, [](auto& r) { r.delayMs = 2500; }));
        QVERIFY(fake.start());
        const Outcome o = probe(deviceFor(fake, brand), 0);
        QVERIFY(o.detailsFetched && o.health.deviceTimeAt.isValid());

        NativeStore store;
        const QString id = store.addDevice(deviceFor(fake, brand));
        store.applyProbe(id, o);
        const Native::Device stored = *store.device(id);
        QVERIFY(stored.health.fetchedAt.toMSecsSinceEpoch() - stored.health.deviceTimeAt.toMSecsSinceEpoch() >= 1500);
        // 419 only when a second turned between the answer's leaving and
        // its arrival; stamped at the end of the fetch it reads 418 or less.
        const int drift = NativeInsights::clockDriftSecs(stored);
        QVERIFY2(drift == 420 || drift == 419, qPrintable(QString::number(drift)));
        const Native::InventoryData read = Native::decodeInventory(Native::encodeInventory({}, {stored}));
        QCOMPARE(NativeInsights::clockDriftSecs(read.devices.value(0)), drift);
    }

    void recordingWindow()
    {
        auto window = [](const QDate& today, int days) {
            const auto w = NativeDetails::recordingWindow(today, days);
            return QStringLiteral("%1..%2 from %3")
                .arg(w.start.toString(Qt::ISODate), w.end.toString(Qt::ISODate), w.firstMonth.toString(Qt::ISODate));
        };
        QCOMPARE(window(QDate(2025, 12, 5), 30), QStringLiteral("2025-11-06..2025-12-05 from 2025-11-01"));
        QCOMPARE(window(QDate(2025, 3, 1), 30), QStringLiteral("2025-01-31..2025-03-01 from 2025-01-01"));
        QCOMPARE(window(QDate(2025, 3, 1), 1), QStringLiteral("2025-03-01..2025-03-01 from 2025-03-01"));
        const QSet<QDate> dates = {QDate(2025, 11, 5), QDate(2025, 11, 6), QDate(2025, 12, 5), QDate(2025, 12, 6)};
        QCOMPARE(NativeDetails::recordedDaysIn(dates, NativeDetails::recordingWindow(QDate(2025, 12, 5), 30)), 2);

        Native::Device d = recorder("HIKVISION");
        d.channels = 4;
        d.ignored = {1, 2};
        QCOMPARE(NativeDetails::countedChannel(d), 3);
        d.ignored = {1, 2, 3, 4};
        QCOMPARE(NativeDetails::countedChannel(d), 1);
    }

    void calendarBuildingBlocks()
    {
        // (A day whose local midnight is skipped: the day search suite.)
        QCOMPARE(NativeCalendar::failureText(nativetest::answer(401), "x"),
                 QStringLiteral("The device refused the login."));
        // Past months whole, the current one up to today, none ahead.
        for (const auto& [month, last] : {std::pair{2, 28}, {3, 10}, {4, 0}})
            QCOMPARE(NativeCalendar::dahuaLastDay(2025, month, QDate(2025, 3, 10)), last);
        QCOMPARE(month(recorder("SAMSUNG"), 1, true, 2025, 3), "[] This brand has no recording calendar yet.");
    }

    void isapiMonth()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.recorded = {QDate(2025, 3, 2), QDate(2025, 3, 9)};
        QVERIFY(fake.start());
        QCOMPARE(month(deviceFor(fake, "HIKVISION"), 4, false, 2025, 3), "[2,9]");
        const kvrtest::FakeRequest last = fake.requests().last();
        QCOMPARE(last.target, QStringLiteral("/ISAPI/ContentMgmt/record/tracks/402/dailyDistribution"));
        QCOMPARE(last.headers.value("content-type"), QByteArray("application/xml"));
        QVERIFY(last.body.contains("<trackDailyParam><year>2025</year><monthOfYear>3</monthOfYear></trackDailyParam>"));

        FakeDevice own(FakeDevice::Kind::Isapi);
        own.root = QStringLiteral("/pramaAPI");
        own.xmlPrefixed = true;
        own.recorded = {QDate(2025, 2, 28)};
        QVERIFY(own.start());
        QCOMPARE(month(deviceFor(own, "PRAMA_STQC"), 1, true, 2025, 2), "[28]");
        QCOMPARE(own.requests().last().target,
                 QStringLiteral("/pramaAPI/ContentMgmt/record/tracks/101/dailyDistribution"));

        fake.script(QStringLiteral("/ISAPI/ContentMgmt/record/tracks/101/dailyDistribution"), nativetest::reply(404));
        QCOMPARE(month(deviceFor(fake, "HIKVISION"), 1, true, 2025, 3),
                 "[] This device doesn't support a recording calendar.");
    }

    void dahuaMonth()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2025, 3, 10), QTime(12, 0), Qt::UTC));
        FakeDevice fake(FakeDevice::Kind::Dahua);
        fake.recorded = {QDate(2025, 3, 1), QDate(2025, 3, 7), QDate(2025, 3, 8), QDate(2025, 3, 11)};
        QVERIFY(fake.start());

        // Current month on its 10th day: days 1 to 10 only.
        QCOMPARE(month(deviceFor(fake, "DAHUA"), 1, true, 2025, 3), "[1,7,8]");
        QCOMPARE(fake.servedCount("/cgi-bin/mediaFileFind.cgi?action=findFile"), 10);
        QTRY_COMPARE(fake.finderEvents(), (QStringList{"create 1000", "close 1000", "destroy 1000"}));

        // A failed findNextFile is a day without recordings, not a failure.
        fake.clearLog();
        fake.failNextFileOn = {QDate(2025, 3, 7)};
        QCOMPARE(month(deviceFor(fake, "CPPLUS", "ipcamera"), 1, true, 2025, 3), "[1,8]");
        QTRY_COMPARE(fake.finderEvents().size(), 3); // closed and destroyed after the answer
    }

    // A search whose dialog closes stops at once, and still closes its
    // finder on the device.
    void monthSearchStopsWithItsReceiver()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2025, 3, 10), QTime(12, 0), Qt::UTC));
        FakeDevice fake(FakeDevice::Kind::Dahua);
        QVERIFY(fake.start());
        const QString findFile = QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=findFile");
        fake.script(NativeCalendar::dahuaFindFileUrl(1, true, "1000", QDate(2025, 3, 3)),
                    nativetest::reply(200, "OK\r\n", [](auto& r) { r.delayMs = 300; }));
        auto dialog = std::make_unique<QObject>();
        int answered = 0;
        NativeCalendar::month(deviceFor(fake, "DAHUA"), 1, true, 2025, 3, dialog.get(),
                              [&](const QSet<int>&, const QString&) { ++answered; });
        QTRY_COMPARE(fake.requestCount(findFile), 3); // day 3, its login answered at once
        dialog.reset();
        QTRY_COMPARE(fake.finderEvents(), (QStringList{"create 1000", "close 1000", "destroy 1000"}));
        QTest::qWait(400);
        QCOMPARE(answered, 0);
        QCOMPARE(fake.requestCount(findFile), 3); // day 4 is never asked
    }

    // A whole fetch against an ISAPI recorder, recorded days included.
    void isapiFetch()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2025, 3, 10), QTime(12, 0), Qt::UTC));
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.xmlPrefixed = true;
        fake.serial.clear(); // a field the device leaves out
        fake.disks = {QStringLiteral("ok"), QStringLiteral("error")};
        fake.channels = {{1, QStringLiteral("Gate"), true, true},
                         {3, QStringLiteral("Dock"), false, true},
                         {12, QString(), true, true}};
        fake.recorded = {QDate(2025, 2, 8), QDate(2025, 2, 9),  QDate(2025, 2, 20),
                         QDate(2025, 3, 1), QDate(2025, 3, 10), QDate(2025, 3, 12)};
        QVERIFY(fake.start());
        // Window 9 Feb .. 10 Mar: March, then February asked.
        QCOMPARE(describe(probe(deviceFor(fake, "HIKVISION"), 30)),
                 "2 DS-FAKE-16 [] [Front gate NVR] 2025-03-01 08:15:30 [Fault] 4/30 [] | 1 Gate + | 3 Dock - | 12  +");
        QCOMPARE(fake.servedCount("/ISAPI/ContentMgmt/record/tracks/101/dailyDistribution"), 2);
    }

    void dahuaFetch()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2025, 3, 4), QTime(12, 0), Qt::UTC));
        FakeDevice fake(FakeDevice::Kind::Dahua);
        fake.dahuaStates = FakeDevice::DahuaStates::Field;
        fake.dahuaDisks = FakeDevice::DahuaDisks::OnInfo;
        fake.disks = {QStringLiteral("ok"), QStringLiteral("bad")};
        fake.clock = QStringLiteral("2025-03-04 07:00:00");
        fake.channels = {{1, QStringLiteral("Lobby"), true, true}, {2, QStringLiteral("Lobby "), false, true}};
        fake.recorded = {QDate(2025, 3, 2), QDate(2025, 3, 4), QDate(2025, 2, 27)};
        QVERIFY(fake.start());
        // States as recorders in the field write them; window 2..4 March.
        QCOMPARE(
            describe(probe(deviceFor(fake, "DAHUA"), 3)),
            "2 DS-FAKE-16 [FK0123456789] [Front gate NVR] 2025-03-04 07:00:00 [Fault] 2/3 [] | 1 Lobby + | 2 Lobby -");
        QTRY_COMPARE(fake.finderEvents().size(), 3);

        // The whole window is one search (19 Feb .. 4 Mar, one finder);
        // when it fails, the count ends with no figures, and the finder is
        // still closed.
        fake.clearLog();
        fake.script(NativeCalendar::dahuaFindFileUrl(1, true, "1001", QDate(2025, 2, 19), QDate(2025, 3, 4)),
                    nativetest::reply(500));
        QCOMPARE(
            describe(probe(deviceFor(fake, "DAHUA"), 14)),
            "2 DS-FAKE-16 [FK0123456789] [Front gate NVR] 2025-03-04 07:00:00 [Fault] -1/0 [] | 1 Lobby + | 2 Lobby -");
        QTRY_VERIFY(fake.finderEvents().contains("destroy 1001"));
        QCOMPARE(fake.requestCount(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=findFile")), 1);
    }

    // A Dahua-style recorder on a slow link (a second an answer here, three
    // in the field, with the deadline in proportion): the check reads
    // everything, the days with recordings of a month's window included,
    // within its deadline, where two requests a day would take minutes.
    void slowCgiRecorderIsCountedInTime()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2025, 3, 20), QTime(12, 0), Qt::UTC));
        FakeDevice fake(FakeDevice::Kind::Dahua);
        fake.answerDelayMs = 1000;
        fake.clock = QStringLiteral("2025-03-20 12:00:00");
        fake.channels = {{1, QStringLiteral("Lobby"), true, true}};
        fake.recorded = {QDate(2025, 2, 18), QDate(2025, 2, 19), QDate(2025, 3, 1), QDate(2025, 3, 2),
                         QDate(2025, 3, 19)};
        // A file across midnight counts for both days; one whose end the
        // device writes unreadably, for its start's.
        fake.clips = {{QDateTime(QDate(2025, 3, 5), QTime(23, 0)), QDateTime(QDate(2025, 3, 6), QTime(1, 0))},
                      {QDateTime(QDate(2025, 3, 10), QTime(7, 0)), {}, true}};
        QVERIFY(fake.start());
        nativetest::Catch<Outcome> run;
        NativeProbe::fetch(deviceFor(fake, "DAHUA"), 30, nullptr, run.cb(), {.deadline = std::chrono::seconds(20)});
        QVERIFY(run.wait(30000));
        // Window 19 Feb .. 20 Mar: 19 Feb, 1, 2, 5, 6, 10 and 19 Mar.
        QCOMPARE(describe(*run.value),
                 "2 DS-FAKE-16 [FK0123456789] [Front gate NVR] 2025-03-20 12:00:00 [OK] 7/30 [] | 1 Lobby +");
        QVERIFY(run->health.unread.isEmpty());
        QTRY_COMPARE(fake.finderEvents(), QStringList({"create 1000", "close 1000", "destroy 1000"}));
        QTRY_COMPARE(fake.openConnections(), 0); // the last answered too
    }

    // A recorder that lists a hundred files of its window's first day before
    // any other: the full page asks for the next, and the days behind it
    // count; a page that is not full is the last.
    void daysBehindAFullPageOfFilesCount()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2025, 3, 20), QTime(12, 0), Qt::UTC));
        FakeDevice fake(FakeDevice::Kind::Dahua);
        fake.clock = QStringLiteral("2025-03-20 12:00:00");
        fake.channels = {{1, QStringLiteral("Lobby"), true, true}};
        for (int i = 0; i < NativeCalendar::kSpanPageSize; ++i) {
            const QDateTime start(QDate(2025, 2, 19), QTime(0, 0).addSecs(i * 600));
            fake.clips.append({start, start.addSecs(300)});
        }
        fake.recorded = {QDate(2025, 3, 1), QDate(2025, 3, 19)};
        QVERIFY(fake.start());
        QCOMPARE(describe(probe(deviceFor(fake, "DAHUA"), 30)),
                 "2 DS-FAKE-16 [FK0123456789] [Front gate NVR] 2025-03-20 12:00:00 [OK] 3/30 [] | 1 Lobby +");
        QCOMPARE(fake.servedCount(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=findNextFile")), 2);
    }

    // The days a page of a span search's files covers, within the span.
    void spanPages()
    {
        const QByteArray body = "found=5\r\n"
                                "items[0].StartTime=2025-03-01 22:00:00\r\nitems[0].EndTime=2025-03-03 01:00:00\r\n"
                                "items[1].StartTime=2025-02-27 10:00:00\r\nitems[1].EndTime=2025-02-28 23:00:00\r\n"
                                "items[2].StartTime=2025-03-09 10:00:00\r\nitems[2].EndTime=9999-12-31 00:00:00\r\n"
                                "items[3].StartTime=garbage\r\nitems[3].EndTime=2025-03-05 10:00:00\r\n"
                                "items[4].StartTime=2025-03-07 10:00:00\r\nitems[4].EndTime=no\r\n";
        const NativeCalendar::DahuaSpanPage page =
            NativeCalendar::readDahuaSpanPage(body, QDate(2025, 2, 28), QDate(2025, 3, 10));
        QList<QDate> days(page.days.cbegin(), page.days.cend());
        std::sort(days.begin(), days.end());
        QStringList out;
        for (const QDate& d : days)
            out << d.toString(QStringLiteral("MM-dd"));
        QCOMPARE(out.join(' '), QStringLiteral("02-28 03-01 03-02 03-03 03-07 03-09 03-10"));
        QCOMPARE(page.found, 5);
        // A count the answer cannot hold reads what it holds.
        QCOMPARE(NativeCalendar::readDahuaSpanPage("found=99999999999\r\n", QDate(2025, 1, 1), QDate(2025, 1, 2))
                     .days.size(),
                 0);
    }

    void onvifCameraOfDahuaFamilyCountsRecordings()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2025, 3, 2), QTime(12, 0), Qt::UTC));
        FakeDevice fake(FakeDevice::Kind::Dahua);
        fake.recorded = {QDate(2025, 3, 2)};
        QVERIFY(fake.start());
        // Its device information comes from the ONVIF path, which this fake
        // does not serve: script it.
        fake.script(QStringLiteral("/onvif/device_service"),
                    nativetest::reply(
                        200,
                        "<s:Envelope xmlns:s=\"urn:s\" xmlns:tds=\"urn:t\"><s:Body><tds:GetDeviceInformationResponse>"
                        "<tds:Model>CP-CAM</tds:Model></tds:GetDeviceInformationResponse></s:Body></s:Envelope>"));
        const Outcome out = probe(deviceFor(fake, "CPPLUS", "ipcamera"), 2);
        QCOMPARE(describe(out), "2 CP-CAM [] []  [] 1/2 []");
        QCOMPARE(fake.requestCount("/cgi-bin/magicBox.cgi") + fake.requestCount("/cgi-bin/storageDevice.cgi"), 0);
        QVERIFY(!out.channelsKnown);
    }
};

KVR_TEST_MAIN(TestNativeDetails)

#include "tst_native_details.moc"
