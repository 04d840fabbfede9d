#include "native/services/Brands.h"
#include "native/services/DeviceDetails.h"
#include "native/services/DeviceProbe.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <zlib.h>

using namespace kvr::services;

using kvrtest::FakeDevice;
using NativeProbe::LoginMachine;
using NativeProbe::Outcome;
using nativetest::answer;
using nativetest::deviceFor;
using nativetest::probe;

namespace {

// Feeds the answers to a login machine: each step it asks for (Send with
// None/Basic/Digest, Verdict or Failed), then accepted/refused, the Digest
// and Basic results, the body kept, the failure number (5: time-out) and
// the error.
QString login(const QList<NativeHttp::Response>& answers)
{
    LoginMachine m;
    QString out;
    for (const NativeHttp::Response& a : answers) {
        const LoginMachine::Step s = m.answer(a);
        out += QStringLiteral("%1%2 ").arg(QChar("SVF"[int(s.next)]), QChar("NBD"[int(s.auth)]));
    }
    return out
        + QString::asprintf("%s%s d%d b%d [%s] f%d %s", m.accepted() ? "accepted" : "-", m.refused() ? " refused" : "",
                            m.digest(), m.basic(), m.infoBody().constData(), int(m.failure()),
                            qUtf8Printable(m.error()));
}

// A probe's results in one line: internet, HTTP, RTSP and device checks,
// Digest and Basic logins, latency measured, loss, failure number, error.
QString summary(const Outcome& o)
{
    const Native::Health& h = o.health;
    return QString::asprintf("%d%d%d%d d%d b%d %s loss%d f%d %s", h.internet, h.httpPort, h.rtspPort, h.device,
                             h.digest, h.basic, h.latencyMs >= 0 ? "timed" : "-", h.lossPercent, int(o.failure),
                             qUtf8Printable(h.error));
}

} // namespace

class TestNativeProbe : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void networkQuality()
    {
        // Latency, loss and quality of connect times and failed connects;
        // long connect times do not overflow the mean.
        const QList<QPair<QList<int>, int>> runs = {
            {{120, 141}, 1}, {{100, 100, 100}, 0},         {{100, 101, 102}, 0}, {{301, 301, 301}, 0}, {{20}, 2},
            {{}, 3},         {{2000000000, 2000000000}, 1}};
        QStringList figures;
        for (const auto& [times, failed] : runs) {
            const auto f = NativeProbe::portFigures(times, failed);
            figures << QStringLiteral("%1 %2 %3").arg(f.latencyMs).arg(f.lossPercent).arg(f.quality);
        }
        QCOMPARE(figures,
                 QStringList({"130 33 Degraded", "100 0 Good", "101 0 Degraded", "301 0 Poor", "20 66 Poor", "-1 100 ",
                              "2000000000 33 Poor"}));
        QCOMPARE(NativeProbe::clampWindowDays(500), 120);
        QCOMPARE(NativeProbe::clampWindowDays(-5), 0);
    }

    // The rows of the login table that the fake devices below do not reach:
    // an empty 2xx body, Basic refused after a good Digest, an empty
    // challenge, and a retry that gets no answer.
    void loginStates()
    {
        // 2xx with an empty body is not accepted, with no error.
        QCOMPARE(login({answer(200)}), "VN - d0 b0 [] f0 ");
        // Both offered, Digest good: Basic asked too.
        QCOMPARE(login({answer(401, {}, "Digest realm=\"r\", qop=\"auth\", nonce=\"n\"\nBasic realm=\"r\""),
                        answer(200, "body"), answer(401)}),
                 "SD SB VN accepted d2 b1 [body] f0 ");
        // Empty challenge: Digest, Basic untouched.
        QCOMPARE(login({answer(401), answer(200, "x")}), "SD VN accepted d2 b0 [x] f0 ");
        // A retry that gets no answer is not a refused login.
        QCOMPARE(login({answer(401, {}, "Basic realm=\"r\""), answer(0)}),
                 "SB VN - d0 b1 [] f5 The device didn't answer HTTP (No answer in time.).");
        // A login the device let through whose answer then failed, or was
        // another status: the login passed, the check did not.
        NativeHttp::Response looped = answer(0);
        looped.loginPassed = true;
        looped.error = QStringLiteral("The device redirected the request in a loop.");
        QCOMPARE(login({answer(401), looped}),
                 "SD FN accepted d2 b0 [] f5 The device accepted the login, but its "
                 "answer failed: The device redirected the request in a loop.");
        NativeHttp::Response missing = answer(404);
        missing.loginPassed = true;
        QCOMPARE(login({answer(401, {}, "Basic realm=\"r\""), missing}),
                 "SB FN accepted d0 b2 [] f10 The device answered HTTP 404. Check the manufacturer.");
    }

    // The device accepted the login, then its answer looped, came short,
    // too big or too slow: the login shows as it went (passed), the check
    // fails with the answer's failure, and nothing reads as a wrong password.
    void loginAsItWent_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("error");
        using F = FakeDevice::Fault;
        QTest::newRow("loop") << int(F::RedirectLoop) << "The device redirected the request in a loop.";
        QTest::newRow("cut short") << int(F::Short) << "The device closed the connection before its whole answer came.";
        QTest::newRow("too big") << int(F::Huge) << "The device sent more than 4 MB; the answer was dropped.";
        QTest::newRow("too slow") << int(F::Trickle) << "The device was too slow to send its whole answer.";
    }
    void loginAsItWent()
    {
        QFETCH(int, fault);
        QFETCH(QString, error);
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.script(QStringLiteral("/ISAPI/System/deviceInfo"),
                    nativetest::reply(200, "<DeviceInfo><model>x</model></DeviceInfo>",
                                      [&](auto& r) { r.fault = FakeDevice::Fault(fault); }));
        QVERIFY(fake.start());
        nativetest::Catch<Outcome> run;
        NativeProbe::fetch(deviceFor(fake), 0, nullptr, run.cb(), {.request = std::chrono::milliseconds(1000)});
        QVERIFY(run.wait());
        QCOMPARE(summary(*run.value),
                 "2221 d2 b0 timed loss0 f" + QString::number(int(run->failure))
                     + " The device accepted the login, but its answer failed: " + error);
        QVERIFY(!run->loginRefused && run->failure != Native::Failure::LoginRefused);
        QVERIFY(!run->detailsFetched);
    }

    // Three HTTP-port connects, one RTSP connect, in that order, then the
    // first request without credentials.
    void connectOrderAndDigestLogin()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        nativetest::Catch<Outcome> run;
        NativeProbe::diagnose(deviceFor(fake), run.cb());
        QVERIFY(run.wait());
        const QStringList ev = fake.events();
        QCOMPARE(ev.mid(0, 6),
                 (QStringList{"http-connect", "http-connect", "http-connect", "rtsp-connect", "http-connect",
                              "GET /ISAPI/System/deviceInfo"}));
        QStringList schemes; // bare, then its challenge answered at once
        for (const kvrtest::FakeRequest& r : fake.requests())
            schemes << QString::fromLatin1(r.headers.value("authorization").split(' ').first());
        QCOMPARE(schemes, QStringList({"", "Digest"}));
        QCOMPARE(summary(*run.value), "2222 d2 b0 timed loss0 f0 ");
        QVERIFY(!run->detailsFetched && !run->channelsKnown); // a diagnosis asks nothing more
        QTest::qWait(20);
        QCOMPARE(run.calls, 1);
    }

    // Per login style and password: the Digest and Basic results, the
    // device result, requests made and how many carried credentials.
    void loginOutcomes_data()
    {
        QTest::addColumn<int>("login");
        QTest::addColumn<bool>("rightPassword");
        QTest::addColumn<QList<int>>("expected");
        using L = FakeDevice::Login;
        // The challenge of the first refusal is answered directly: one try
        // of a wrong password, never two.
        QTest::newRow("digest+basic right") << int(L::DigestOrBasic) << true << QList<int>{2, 2, 2, 3, 2};
        QTest::newRow("digest+basic wrong") << int(L::DigestOrBasic) << false << QList<int>{1, 1, 1, 2, 1};
        QTest::newRow("digest wrong") << int(L::Digest) << false << QList<int>{1, 0, 1, 2, 1};
        QTest::newRow("basic right") << int(L::Basic) << true << QList<int>{0, 2, 2, 2, 1};
        QTest::newRow("basic wrong") << int(L::Basic) << false << QList<int>{0, 1, 1, 2, 1};
        QTest::newRow("no login") << int(L::None) << false << QList<int>{0, 0, 2, 1, 0};
    }
    void loginOutcomes()
    {
        QFETCH(int, login);
        QFETCH(bool, rightPassword);
        QFETCH(QList<int>, expected);
        FakeDevice fake(FakeDevice::Kind::Dahua);
        fake.login = FakeDevice::Login(login);
        QVERIFY(fake.start());
        const Outcome o = probe(deviceFor(fake, "DAHUA", rightPassword ? QString() : QStringLiteral("wrong")));
        int withCredentials = 0;
        for (const auto& r : fake.requests())
            withCredentials += r.hasCredentials() ? 1 : 0;
        QCOMPARE(
            (QList<int>{o.health.digest, o.health.basic, o.health.device, int(fake.requestCount()), withCredentials}),
            expected);
        const bool refused = o.health.device == 1;
        QCOMPARE(o.loginRefused, refused);
        QCOMPARE(o.failure, refused ? Native::Failure::LoginRefused : Native::Failure::None);
        QCOMPARE(o.health.error, refused ? QStringLiteral("Username or password is incorrect.") : QString());
        QVERIFY(!fake.requests().first().hasCredentials());
    }

    // A device that answers its login challenge with an endless body: the
    // check fails in our words, with no word of a wrong password.
    void hugeLoginAnswer()
    {
        kvrtest::FakeDeviceThread fake(FakeDevice::Kind::Isapi);
        Native::Device d;
        fake.run([&](FakeDevice& f) {
            f.refusalFault = FakeDevice::Fault::Endless;
            d = deviceFor(f);
        });
        const Outcome o = probe(d);
        QCOMPARE(summary(o), "2221 d0 b0 timed loss0 f7 The device's login answer was too large.");
        QVERIFY(!o.loginRefused);
    }

    // What a login and a details fetch cost a recorder, by the fake's own
    // log: the first request is refused once and its challenge answered,
    // every details request is answered at once, its nonce count reaching
    // the device in order (the fake refuses a count not above the last), and
    // the next probe does the same with the challenge of its own first
    // refusal. A nonce gone stale costs one refused request, whose fresh
    // challenge is answered.
    void requestsPerFetch_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("brand");
        QTest::addColumn<int>("details");
        QTest::newRow("isapi") << int(FakeDevice::Kind::Isapi) << "HIKVISION" << 5;
        QTest::newRow("cgi") << int(FakeDevice::Kind::Dahua) << "DAHUA" << 6;
    }
    void requestsPerFetch()
    {
        QFETCH(int, kind);
        QFETCH(QString, brand);
        QFETCH(int, details);
        FakeDevice fake{FakeDevice::Kind(kind)};
        QVERIFY(fake.start());
        // What each request carried: "-" nothing, "B" Basic, else its
        // nonce's number (in order of first use) and its nonce count.
        auto answers = [](const FakeDevice& device) {
            QStringList out;
            QStringList nonces;
            for (const kvrtest::FakeRequest& r : device.requests()) {
                const QByteArray a = r.headers.value("authorization");
                if (a.startsWith("Basic ")) {
                    out << QStringLiteral("B");
                    continue;
                }
                const QRegularExpression field(QStringLiteral("\\b(nonce|nc)=\"?([0-9a-f]+)"));
                QString nonce, nc;
                for (auto it = field.globalMatch(QString::fromLatin1(a)); it.hasNext();) {
                    const auto m = it.next();
                    (m.captured(1) == QLatin1String("nc") ? nc : nonce) = m.captured(2);
                }
                if (nonce.isEmpty()) {
                    out << QStringLiteral("-");
                    continue;
                }
                if (!nonces.contains(nonce))
                    nonces << nonce;
                out << QStringLiteral("%1:%2").arg(nonces.indexOf(nonce) + 1).arg(nc.toInt(nullptr, 16));
            }
            return out;
        };
        QStringList expected = {"-", "1:1"};
        for (int i = 0; i < details; ++i)
            expected << QStringLiteral("1:%1").arg(i + 2);

        Outcome o = probe(deviceFor(fake, brand), 0);
        QVERIFY(o.detailsFetched && o.channelsKnown);
        QCOMPARE(fake.requestCount(), 2 + details);
        QCOMPARE(fake.servedCount(), 1 + details);
        QCOMPARE(answers(fake), expected);

        fake.clearLog();
        o = probe(deviceFor(fake, brand), 0);
        QVERIFY(o.detailsFetched);
        QCOMPARE(fake.requestCount(), 2 + details);
        QCOMPARE(fake.servedCount(), 1 + details);

        // The device lets the nonce go stale between the login and the
        // details: the first details request is refused and answers the
        // fresh challenge; the others wait for it and use that one, so all
        // still get through.
        fake.clearLog();
        Native::Device d = deviceFor(fake, brand);
        nativetest::Catch<QList<NativeHttp::Response>> got;
        fake.expireNonces();
        NativeHttp::getAll(d,
                           brand == QLatin1String("DAHUA") ? NativeDetails::dahuaPaths() : NativeDetails::hikPaths(d),
                           NativeHttp::Digest, got.cb(), std::chrono::milliseconds(8000));
        QVERIFY(got.wait());
        for (const NativeHttp::Response& r : *got.value)
            QCOMPARE(r.status, 200);
        QCOMPARE(fake.servedCount(), details);
        QCOMPARE(fake.staleRefusals(), 1);
        QCOMPARE(fake.requestCount(), details + 1);
        QCOMPARE(fake.countRefusals(), 0);

        // A device that asks for Basic alone: its first request is refused
        // once a probe, and every other request carries Basic at once.
        FakeDevice basic{FakeDevice::Kind(kind)};
        basic.login = FakeDevice::Login::Basic;
        QVERIFY(basic.start());
        for (int sweep = 0; sweep < 2; ++sweep) {
            basic.clearLog();
            QVERIFY(probe(deviceFor(basic, brand), 0).detailsFetched);
            QCOMPARE(answers(basic), QStringList({"-"}) + QStringList(details + 1, QStringLiteral("B")));
        }
    }

    // A device that trickles its answers (a byte now and then, so the
    // transfer time-out never fires) holds its probe only until the probe's
    // deadline: the probe ends with a finding, and what it still waited for
    // is abandoned, whether the login or the details were slow.
    void slowDevicesEndWithAFinding()
    {
        using namespace std::chrono_literals;
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.trickleMs = 100;
        QVERIFY(fake.start());
        nativetest::Catch<Outcome> run;
        NativeProbe::fetch(deviceFor(fake), 0, nullptr, run.cb(), {.deadline = 2s});
        QVERIFY(run.wait());
        QCOMPARE(summary(*run.value),
                 "2221 d0 b0 timed loss0 f5 The device was too slow to answer; the check was stopped after 2 s.");
        QVERIFY(!run->loginRefused);
        QTRY_COMPARE(fake.openConnections(), 0);

        fake.trickleMs = 0;
        fake.script(QStringLiteral("/ISAPI/System/time"), nativetest::reply(200, QByteArray(400, ' '), [](auto& r) {
                        r.fault = FakeDevice::Fault::Trickle;
                    }));
        nativetest::Catch<Outcome> details;
        NativeProbe::fetch(deviceFor(fake), 0, nullptr, details.cb(), {.deadline = 2s});
        QVERIFY(details.wait());
        QCOMPARE(summary(*details.value),
                 "2222 d2 b0 timed loss0 f5 The device was too slow to send its details; "
                 "the check was stopped after 2 s.");
        QVERIFY(!details->detailsFetched);
        // None of the details asked was read, and each says why.
        QCOMPARE(details->health.unread.size(), NativeDetails::partsAsked(deviceFor(fake)).size());
        QCOMPARE(details->health.unread.first().reason, details->health.error);
        QTRY_COMPARE(fake.openConnections(), 0);

        // The details came, the days with recordings were still being
        // counted: what was read stands.
        fake.clearScripts();
        fake.script(
            QStringLiteral("/ISAPI/ContentMgmt/record/tracks/101/dailyDistribution"),
            nativetest::reply(200, QByteArray(400, ' '), [](auto& r) { r.fault = FakeDevice::Fault::Trickle; }));
        nativetest::Catch<Outcome> counting;
        NativeProbe::fetch(deviceFor(fake), 30, nullptr, counting.cb(), {.deadline = 2s});
        QVERIFY(counting.wait());
        QCOMPARE(summary(*counting.value),
                 "2222 d2 b0 timed loss0 f5 The device was too slow to send its recordings; "
                 "the check was stopped after 2 s.");
        QVERIFY(counting->detailsFetched && counting->channelsKnown && counting->health.unread.isEmpty());
        QCOMPARE(counting->health.hdd + QLatin1Char(' ') + counting->health.model, QStringLiteral("OK DS-FAKE-16"));
        QTRY_COMPARE(fake.openConnections(), 0);
        QTest::qWait(50);
        QCOMPARE(run.calls + details.calls + counting.calls, 3);
    }

    void otherFirstAnswers()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.script(QStringLiteral("/ISAPI/System/deviceInfo"),
                    nativetest::reply(404, {}, [](auto& r) { r.beforeLogin = true; }));
        QVERIFY(fake.start());
        const Outcome o = probe(deviceFor(fake, "PRAMA"));
        QCOMPARE(summary(o), "2221 d0 b0 timed loss0 f10 The device answered HTTP 404. Check the manufacturer.");
        QVERIFY(!o.loginRefused); // failure: HttpStatus
        QCOMPARE(fake.requestCount(), 1);

        // The ISAPI variant with its own root is asked under that root.
        FakeDevice own(FakeDevice::Kind::Isapi);
        own.root = QStringLiteral("/pramaAPI");
        QVERIFY(own.start());
        QCOMPARE(probe(deviceFor(own, "PRAMA_STQC")).health.device, 2);
        QCOMPARE(own.requests().first().target, QStringLiteral("/pramaAPI/System/deviceInfo"));
    }

    void unreachableDevices()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        Native::Device d = deviceFor(fake);
        d.httpPort = d.rtspPort = kvrtest::closedPort();
        QCOMPARE(summary(probe(d)), "1111 d0 b0 - loss100 f11 Device is offline."); // failure: Offline

        fake.closeHttp();
        QCOMPARE(summary(probe(deviceFor(fake))), "2121 d0 b0 - loss100 f12 HTTP port closed."); // HttpPortClosed
        QCOMPARE(fake.requestCount(), 0);

        // An address hiding another host is never connected to.
        Native::Device bad = deviceFor(fake);
        bad.ip = QStringLiteral("127.0.0.1/evil");
        nativetest::Catch<Outcome> refused;
        NativeProbe::diagnose(bad, refused.cb());
        QCOMPARE(refused.calls, 0); // never before the call returns
        QVERIFY(refused.wait());
        QCOMPARE(summary(*refused.value), // BadAddress
                 "1111 d0 b0 - loss-1 f1 Enter only the IP address or host name, without a path.");
    }

    // A device that compresses its information unasked is read all the
    // same (not a device online with no model); one whose HTTP port
    // speaks something else is told in one sentence.
    void compressedAndForeignAnswers()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QByteArray xml = "<DeviceInfo><model>DS-GZIP-8</model><serialNumber>GZ01</serialNumber></DeviceInfo>";
        QByteArray gzip(256, Qt::Uninitialized);
        z_stream z{};
        deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef*>(xml.data());
        z.avail_in = uInt(xml.size());
        z.next_out = reinterpret_cast<Bytef*>(gzip.data());
        z.avail_out = uInt(gzip.size());
        QCOMPARE(deflate(&z, Z_FINISH), Z_STREAM_END);
        gzip.resize(qsizetype(z.total_out));
        deflateEnd(&z);
        fake.script(QStringLiteral("/ISAPI/System/deviceInfo"), nativetest::reply(200, gzip, [](auto& r) {
                        r.contentType = "application/xml";
                        r.headers << "Content-Encoding: gzip";
                    }));
        QVERIFY(fake.start());
        const Outcome o = probe(deviceFor(fake), 0);
        QVERIFY2(o.detailsFetched, qPrintable(summary(o)));
        QCOMPARE(o.health.model + '|' + o.health.serial, QStringLiteral("DS-GZIP-8|GZ01"));

        // The HTTP port given is a stream port: it answers in RTSP.
        QTcpServer rtsp;
        QVERIFY(rtsp.listen(QHostAddress::LocalHost, 0));
        connect(&rtsp, &QTcpServer::newConnection, &rtsp, [&rtsp] {
            while (QTcpSocket* s = rtsp.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [s] {
                    s->readAll();
                    s->write("RTSP/1.0 400 Bad Request\r\nCSeq: 0\r\n\r\n");
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        Native::Device wrongPort = deviceFor(fake);
        wrongPort.httpPort = rtsp.serverPort();
        QCOMPARE(summary(probe(wrongPort)),
                 QStringLiteral("2221 d0 b0 timed loss0 f13 The device's answer was not HTTP."));
    }

    // A device at an IPv6 address, written bare or in brackets as people
    // write it, or with the zone of the interface it is reached through:
    // its ports are checked, it is logged in to and its details read, with
    // the address in brackets in the Host header and the zone, which means
    // something to this computer alone, left out of it.
    void ipv6Device()
    {
        QTcpServer v6;
        if (!v6.listen(QHostAddress::LocalHostIPv6, 0))
            QSKIP("This machine has no IPv6 loopback (::1 does not take a listener): the IPv6 device case needs one.");
        v6.close();
        QString loopback;
        for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
            if (loopback.isEmpty() && i.flags().testFlag(QNetworkInterface::IsLoopBack))
                loopback = i.name();
        QVERIFY(!loopback.isEmpty());
        const QStringList written{"::1", "[::1]", "0:0::1", "::1%" + loopback, "[::1%" + loopback + "]"};
        for (const QString& ip : written) {
            FakeDevice fake(FakeDevice::Kind::Isapi);
            fake.channels = {{1, QStringLiteral("Gate")}};
            QVERIFY(fake.start(QHostAddress::LocalHostIPv6));
            Native::Device d = deviceFor(fake);
            d.ip = ip;
            const Outcome o = probe(d, 7);
            QVERIFY2(summary(o).startsWith(QStringLiteral("2222 d2 b0 timed loss0 f0 ")),
                     qPrintable(ip + ": " + summary(o)));
            QVERIFY(o.detailsFetched);
            QCOMPARE(o.health.model, fake.model);
            QVERIFY(!fake.requests().isEmpty());
            for (const kvrtest::FakeRequest& r : fake.requests())
                QCOMPARE(r.headers.value("host"), "[::1]:" + QByteArray::number(fake.httpPort()));
        }
    }

    // ONVIF devices are asked through the SOAP device service; LAPI and
    // stw-cgi devices by their own information paths.
    void onvifAndOtherFamilies()
    {
        FakeDevice onvif(FakeDevice::Kind::Onvif);
        onvif.login = FakeDevice::Login::Digest;
        QVERIFY(onvif.start());
        Outcome o = probe(deviceFor(onvif, "ONVIF"), 30);
        QCOMPARE(o.health.digest, 2);
        const kvrtest::FakeRequest first = onvif.requests().first();
        QCOMPARE(first.method, QByteArray("POST"));
        QCOMPARE(first.headers.value("content-type"), QByteArray("application/soap+xml; charset=utf-8"));
        QVERIFY(first.body.contains("GetDeviceInformation"));
        QVERIFY(o.detailsFetched);
        QCOMPARE(o.health.model + o.health.serial, onvif.model + onvif.serial);
        QCOMPARE(o.health.recordingDays, -1);
        QCOMPARE(onvif.requestCount(), 2); // no further requests

        FakeDevice lapi(FakeDevice::Kind::Lapi);
        lapi.login = FakeDevice::Login::None;
        QVERIFY(lapi.start());
        o = probe(deviceFor(lapi, "UNIVIEW"), 30);
        QCOMPARE(o.health.model + o.health.deviceName + o.health.mac, lapi.model + lapi.deviceName + lapi.mac);
        QCOMPARE(lapi.requestCount(), 1);

        FakeDevice stw(FakeDevice::Kind::StwCgi);
        stw.login = FakeDevice::Login::Digest;
        QVERIFY(stw.start());
        o = probe(deviceFor(stw, "SAMSUNG"), 30);
        QCOMPARE(o.health.firmware + o.health.serial, stw.firmware + stw.serial);

        // QTVUE asks the ONVIF path with a plain GET.
        FakeDevice qtvue(FakeDevice::Kind::Onvif);
        qtvue.login = FakeDevice::Login::Basic;
        QVERIFY(qtvue.start());
        QCOMPARE(probe(deviceFor(qtvue, "QTVUE")).health.basic, 2);
        QCOMPARE(qtvue.requests().first().method, QByteArray("GET"));
    }
};

KVR_TEST_MAIN(TestNativeProbe)

#include "tst_native_probe.moc"
