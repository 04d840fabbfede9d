#include "native/services/DeviceProbe.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QtTest>

#include <optional>

using kvrtest::FakeDevice;
using NativeHttp::Response;
using NativeProbe::LoginMachine;
using nativetest::deviceFor;

namespace {

Response answer(int status, const QByteArray &challenge = QByteArray(), const QByteArray &body = QByteArray())
{
    Response r;
    r.status = status;
    r.wwwAuthenticate = challenge;
    r.body = body;
    if (status == 0)
        r.error = QStringLiteral("No answer in time.");
    return r;
}

struct Run {
    std::optional<NativeProbe::Outcome> outcome;
    int calls = 0;
    NativeProbe::Callback cb()
    {
        return [this](NativeProbe::Outcome o) {
            outcome = std::move(o);
            ++calls;
        };
    }
};

#define RUN_PROBE(run, call)                                                   \
    do {                                                                       \
        call;                                                                  \
        QTRY_VERIFY_WITH_TIMEOUT((run).outcome.has_value(), 20000);           \
    } while (0)

} // namespace

class TestNativeProbe : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void networkQuality()
    {
        auto f = NativeProbe::portFigures({120, 141}, 1);
        QCOMPARE(f.latencyMs, 130);
        QCOMPARE(f.lossPercent, 33);
        QCOMPARE(f.quality, QStringLiteral("Degraded"));
        QCOMPARE(NativeProbe::portFigures({100, 100, 100}, 0).quality, QStringLiteral("Good"));
        QCOMPARE(NativeProbe::portFigures({100, 101, 102}, 0).quality, QStringLiteral("Degraded"));
        QCOMPARE(NativeProbe::portFigures({301, 301, 301}, 0).quality, QStringLiteral("Poor"));
        f = NativeProbe::portFigures({20}, 2);
        QCOMPARE(f.quality, QStringLiteral("Poor"));
        QCOMPARE(f.lossPercent, 66);
        f = NativeProbe::portFigures({}, 3);
        QCOMPARE(f.latencyMs, -1);
        QCOMPARE(f.lossPercent, 100);
        QVERIFY(f.quality.isEmpty());
        // Long connect times do not overflow the mean.
        QCOMPARE(NativeProbe::portFigures({2000000000, 2000000000}, 1).latencyMs, 2000000000);
    }

    void sentencesAndWindow()
    {
        QCOMPARE(NativeProbe::loginError(answer(0)), QStringLiteral("The device didn't answer HTTP (No answer in time.)."));
        QCOMPARE(NativeProbe::loginError(answer(401)), QStringLiteral("Username or password is incorrect."));
        QCOMPARE(NativeProbe::loginError(answer(404)), QStringLiteral("The device answered HTTP 404. Check the manufacturer."));
        QCOMPARE(NativeProbe::clampWindowDays(500), 120);
        QCOMPARE(NativeProbe::clampWindowDays(-5), 0);
        QCOMPARE(NativeProbe::clampWindowDays(30), 30);
        const QByteArray soap = NativeProbe::onvifDeviceInfoRequest();
        QVERIFY(soap.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope"));
        QVERIFY(soap.contains("<tds:GetDeviceInformation/>"));
        QVERIFY(!soap.contains('\n'));
        QVERIFY(!soap.contains("Header"));
    }

    // The rows of the login table that the fake devices below do not reach:
    // an empty 2xx body, Basic refused after a good Digest, an empty
    // challenge, and a retry that gets no answer.
    void loginStates()
    {
        {   // 2xx with an empty body is not accepted, with no error.
            LoginMachine m;
            m.answer(answer(200));
            QVERIFY(!m.accepted());
            QVERIFY(m.error().isEmpty());
            QVERIFY(!m.refused());
        }
        {   // Both offered, Digest good: Basic asked too.
            LoginMachine m;
            auto s = m.answer(answer(401, "Digest realm=\"r\", qop=\"auth\", nonce=\"n\"\nBasic realm=\"r\""));
            QCOMPARE(s.auth, NativeHttp::Digest);
            s = m.answer(answer(200, {}, "body"));
            QCOMPARE(s.next, LoginMachine::Next::Send);
            QCOMPARE(s.auth, NativeHttp::Basic);
            s = m.answer(answer(401));
            QCOMPARE(s.next, LoginMachine::Next::Verdict);
            QCOMPARE(m.digest(), 2);
            QCOMPARE(m.basic(), 1);
            QVERIFY(m.accepted());
            QCOMPARE(m.infoBody(), QByteArray("body"));
        }
        {   // Empty challenge: Digest, Basic untouched.
            LoginMachine m;
            QCOMPARE(m.answer(answer(401)).auth, NativeHttp::Digest);
            m.answer(answer(200, {}, "x"));
            QCOMPARE(m.digest(), 2);
            QCOMPARE(m.basic(), 0);
        }
        {   // A retry that gets no answer is not a refused login.
            LoginMachine m;
            m.answer(answer(401, "Basic realm=\"r\""));
            m.answer(answer(0));
            QVERIFY(!m.accepted());
            QVERIFY(!m.refused());
            QVERIFY(m.error().startsWith(QStringLiteral("The device didn't answer HTTP")));
        }
    }

    // Three HTTP-port connects, one RTSP connect, in that order, then the
    // first request without credentials.
    void connectOrderAndDigestLogin()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        Run run;
        RUN_PROBE(run, NativeProbe::diagnose(deviceFor(fake, "HIKVISION"), run.cb()));
        const QStringList ev = fake.events();
        QCOMPARE(ev.mid(0, 5), (QStringList{"http-connect", "http-connect", "http-connect", "rtsp-connect", "http-connect"}));
        QCOMPARE(ev.at(5), QStringLiteral("GET /ISAPI/System/deviceInfo"));
        QVERIFY(!fake.requests().first().hasCredentials());
        QCOMPARE(fake.requestCount(), 3); // bare, then Digest: bare and answered
        QVERIFY(!fake.requests().at(1).hasCredentials());
        QVERIFY(fake.requests().at(2).headers.value("authorization").startsWith("Digest "));
        const Native::Health &h = run.outcome->health;
        QCOMPARE(h.internet, 2);
        QCOMPARE(h.httpPort, 2);
        QCOMPARE(h.rtspPort, 2);
        QCOMPARE(h.device, 2);
        QCOMPARE(h.digest, 2);
        QCOMPARE(h.basic, 0);
        QVERIFY(h.latencyMs >= 0);
        QCOMPARE(h.lossPercent, 0);
        QVERIFY(!h.quality.isEmpty());
        QVERIFY(h.error.isEmpty());
        QVERIFY(!run.outcome->detailsFetched);
        QVERIFY(run.outcome->channels.isEmpty());
        QVERIFY(!run.outcome->channelsKnown);
        QVERIFY(h.model.isEmpty());
        QVERIFY(!h.checkedAt.isValid());
        QTest::qWait(20);
        QCOMPARE(run.calls, 1);
    }

    void loginOutcomes_data()
    {
        QTest::addColumn<int>("login");
        QTest::addColumn<bool>("rightPassword");
        QTest::addColumn<int>("digest");
        QTest::addColumn<int>("basic");
        QTest::addColumn<int>("device");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("withCredentials");
        using L = FakeDevice::Login;
        QTest::newRow("digest+basic right") << int(L::DigestOrBasic) << true << 2 << 2 << 2 << false << 4 << 2;
        QTest::newRow("digest+basic wrong") << int(L::DigestOrBasic) << false << 1 << 1 << 1 << true << 3 << 1;
        QTest::newRow("digest wrong") << int(L::Digest) << false << 1 << 0 << 1 << true << 3 << 1;
        QTest::newRow("basic right") << int(L::Basic) << true << 0 << 2 << 2 << false << 2 << 1;
        QTest::newRow("basic wrong") << int(L::Basic) << false << 0 << 1 << 1 << true << 2 << 1;
        QTest::newRow("no login") << int(L::None) << false << 0 << 0 << 2 << false << 1 << 0;
    }
    void loginOutcomes()
    {
        QFETCH(int, login);
        QFETCH(bool, rightPassword);
        QFETCH(int, digest);
        QFETCH(int, basic);
        QFETCH(int, device);
        QFETCH(bool, refused);
        QFETCH(int, requests);
        QFETCH(int, withCredentials);
        FakeDevice fake(FakeDevice::Kind::Dahua);
        fake.login = FakeDevice::Login(login);
        QVERIFY(fake.start());
        Run run;
        RUN_PROBE(run, NativeProbe::diagnose(deviceFor(fake, "DAHUA", rightPassword ? QString() : QStringLiteral("wrong")), run.cb()));
        const Native::Health &h = run.outcome->health;
        QCOMPARE(h.digest, digest);
        QCOMPARE(h.basic, basic);
        QCOMPARE(h.device, device);
        QCOMPARE(run.outcome->loginRefused, refused);
        QCOMPARE(h.error, refused ? QStringLiteral("Username or password is incorrect.") : QString());
        // A Digest request is first sent bare and answers the challenge once.
        QCOMPARE(fake.requestCount(), requests);
        int sentCredentials = 0;
        for (const auto &r : fake.requests())
            sentCredentials += r.hasCredentials() ? 1 : 0;
        QCOMPARE(sentCredentials, withCredentials);
        QVERIFY(!fake.requests().first().hasCredentials());
    }

    void otherFirstAnswers()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        FakeDevice::Reply missing;
        missing.status = 404;
        missing.beforeLogin = true;
        fake.script(QStringLiteral("/ISAPI/System/deviceInfo"), missing);
        QVERIFY(fake.start());
        Run run;
        RUN_PROBE(run, NativeProbe::diagnose(deviceFor(fake, "PRAMA"), run.cb()));
        QCOMPARE(run.outcome->health.device, 1);
        QCOMPARE(run.outcome->health.error, QStringLiteral("The device answered HTTP 404. Check the manufacturer."));
        QVERIFY(!run.outcome->loginRefused);
        QCOMPARE(fake.requestCount(), 1);

        // The ISAPI variant with its own root is asked under that root.
        FakeDevice own(FakeDevice::Kind::Isapi);
        own.root = QStringLiteral("/pramaAPI");
        QVERIFY(own.start());
        Run r2;
        RUN_PROBE(r2, NativeProbe::diagnose(deviceFor(own, "PRAMA_STQC"), r2.cb()));
        QCOMPARE(r2.outcome->health.device, 2);
        QCOMPARE(own.requests().first().target, QStringLiteral("/pramaAPI/System/deviceInfo"));
    }

    void unreachableDevices()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        Native::Device d = deviceFor(fake, "HIKVISION");
        d.httpPort = kvrtest::closedPort();
        d.rtspPort = kvrtest::closedPort();
        Run off;
        RUN_PROBE(off, NativeProbe::diagnose(d, off.cb()));
        const Native::Health &h = off.outcome->health;
        QCOMPARE(h.internet, 1);
        QCOMPARE(h.httpPort, 1);
        QCOMPARE(h.rtspPort, 1);
        QCOMPARE(h.device, 1);
        QCOMPARE(h.latencyMs, -1);
        QCOMPARE(h.lossPercent, 100);
        QVERIFY(h.quality.isEmpty());
        QCOMPARE(h.error, QStringLiteral("Device is offline."));

        fake.closeHttp();
        Run rtspOnly;
        RUN_PROBE(rtspOnly, NativeProbe::diagnose(deviceFor(fake, "HIKVISION"), rtspOnly.cb()));
        QCOMPARE(rtspOnly.outcome->health.internet, 2);
        QCOMPARE(rtspOnly.outcome->health.httpPort, 1);
        QCOMPARE(rtspOnly.outcome->health.rtspPort, 2);
        QCOMPARE(rtspOnly.outcome->health.device, 1);
        QCOMPARE(rtspOnly.outcome->health.error, QStringLiteral("HTTP port closed."));
        QCOMPARE(fake.requestCount(), 0);

        // An address hiding another host is never connected to.
        Native::Device bad = deviceFor(fake, "HIKVISION");
        bad.ip = QStringLiteral("127.0.0.1/evil");
        Run refused;
        NativeProbe::diagnose(bad, refused.cb());
        QVERIFY(!refused.outcome.has_value());
        QTRY_VERIFY(refused.outcome.has_value());
        QCOMPARE(refused.outcome->health.device, 1);
        QVERIFY(refused.outcome->health.error.contains(QStringLiteral("path")));
    }

    // ONVIF devices are asked through the SOAP device service.
    void onvifAndOtherFamilies()
    {
        FakeDevice onvif(FakeDevice::Kind::Onvif);
        onvif.login = FakeDevice::Login::Digest;
        QVERIFY(onvif.start());
        Run run;
        RUN_PROBE(run, NativeProbe::fetch(deviceFor(onvif, "ONVIF"), 30, run.cb()));
        QCOMPARE(run.outcome->health.device, 2);
        QCOMPARE(run.outcome->health.digest, 2);
        const kvrtest::FakeRequest first = onvif.requests().first();
        QCOMPARE(first.method, QByteArray("POST"));
        QCOMPARE(first.headers.value("content-type"), QByteArray("application/soap+xml; charset=utf-8"));
        QVERIFY(first.body.contains("GetDeviceInformation"));
        QVERIFY(run.outcome->detailsFetched);
        QCOMPARE(run.outcome->health.model, onvif.model);
        QCOMPARE(run.outcome->health.serial, onvif.serial);
        QVERIFY(!run.outcome->channelsKnown);
        QCOMPARE(run.outcome->health.recordingDays, -1);
        QCOMPARE(onvif.requestCount(), 3); // no further requests

        FakeDevice lapi(FakeDevice::Kind::Lapi);
        lapi.login = FakeDevice::Login::None;
        QVERIFY(lapi.start());
        Run l;
        RUN_PROBE(l, NativeProbe::fetch(deviceFor(lapi, "UNIVIEW"), 30, l.cb()));
        QCOMPARE(l.outcome->health.model, lapi.model);
        QCOMPARE(l.outcome->health.deviceName, lapi.deviceName);
        QCOMPARE(l.outcome->health.mac, lapi.mac);
        QCOMPARE(lapi.requestCount(), 1);

        FakeDevice stw(FakeDevice::Kind::StwCgi);
        stw.login = FakeDevice::Login::Digest;
        QVERIFY(stw.start());
        Run s;
        RUN_PROBE(s, NativeProbe::fetch(deviceFor(stw, "SAMSUNG"), 30, s.cb()));
        QCOMPARE(s.outcome->health.firmware, stw.firmware);
        QCOMPARE(s.outcome->health.serial, stw.serial);
        QVERIFY(s.outcome->detailsFetched);
        QVERIFY(s.outcome->channels.isEmpty());

        // QTVUE asks the ONVIF path with a plain GET.
        FakeDevice qtvue(FakeDevice::Kind::Onvif);
        qtvue.login = FakeDevice::Login::Basic;
        QVERIFY(qtvue.start());
        Run q;
        RUN_PROBE(q, NativeProbe::diagnose(deviceFor(qtvue, "QTVUE"), q.cb()));
        QCOMPARE(qtvue.requests().first().method, QByteArray("GET"));
        QCOMPARE(q.outcome->health.basic, 2);
    }
};

KVR_TEST_MAIN(TestNativeProbe)
#include "tst_native_probe.moc"
