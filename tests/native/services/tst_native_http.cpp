#include "native/services/NativeHttp.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <optional>

using kvrtest::FakeDevice;
using NativeHttp::Response;
using nativetest::deviceFor;

namespace {

// Waits for one answer and checks it came exactly once.
struct Catch {
    std::optional<Response> r;
    int calls = 0;
    NativeHttp::Callback cb()
    {
        return [this](const Response &x) {
            r = x;
            ++calls;
        };
    }
    bool wait(int ms = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (!r && t.elapsed() < ms)
            QTest::qWait(5);
        return r.has_value();
    }
};

} // namespace

class TestNativeHttp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Login modes against a device that wants Digest.
    void loginModesAgainstDigest()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        const QString path = QStringLiteral("/ISAPI/System/deviceInfo");

        Catch none;
        NativeHttp::get(deviceFor(fake), path, NativeHttp::None, none.cb(), 8000);
        QVERIFY(none.wait());
        QCOMPARE(none.r->status, 401);
        QVERIFY(none.r->error.isEmpty());
        QVERIFY(none.r->wwwAuthenticate.toLower().contains("digest"));
        QCOMPARE(fake.requestCount(), 1);
        QVERIFY(!fake.requests().first().hasCredentials());

        fake.clearLog();
        Catch basic;
        NativeHttp::get(deviceFor(fake), path, NativeHttp::Basic, basic.cb(), 8000);
        QVERIFY(basic.wait());
        QCOMPARE(basic.r->status, 401);
        QVERIFY(fake.requests().first().headers.value("authorization").startsWith("Basic "));

        fake.clearLog();
        Catch digest;
        NativeHttp::get(deviceFor(fake), path, NativeHttp::Digest, digest.cb(), 8000);
        QVERIFY(digest.wait());
        QCOMPARE(digest.r->status, 200);
        QVERIFY(digest.r->body.contains("<model>DS-FAKE-16</model>"));
        QVERIFY(digest.r->contentType.startsWith("application/xml"));
        QVERIFY(digest.r->wwwAuthenticate.contains("fake-device"));
        QCOMPARE(fake.requestCount(), 2);
        QVERIFY(!fake.requests().at(0).hasCredentials());
        QVERIFY(fake.requests().at(1).headers.value("authorization").startsWith("Digest "));

        // A wrong password is answered once; the second 401 ends it.
        fake.clearLog();
        Catch wrong;
        NativeHttp::get(deviceFor(fake, QStringLiteral("HIKVISION"), QStringLiteral("nope")), path, NativeHttp::Digest, wrong.cb(), 8000);
        QVERIFY(wrong.wait());
        QCOMPARE(wrong.r->status, 401);
        QVERIFY(wrong.r->error.isEmpty());
        QCOMPARE(fake.requestCount(), 2);
        QTest::qWait(50);
        QCOMPARE(wrong.calls, 1);
        QCOMPARE(fake.requestCount(), 2);
    }

    // (Devices offering Digest and Basic together are covered by the probe
    // suite's login table.)
    void basicOnlyDevice()
    {
        FakeDevice basicOnly(FakeDevice::Kind::Isapi);
        basicOnly.login = FakeDevice::Login::Basic;
        QVERIFY(basicOnly.start());
        const QString path = QStringLiteral("/ISAPI/System/time");
        Catch b;
        NativeHttp::get(deviceFor(basicOnly), path, NativeHttp::Basic, b.cb(), 8000);
        QVERIFY(b.wait());
        QCOMPARE(b.r->status, 200);
        QCOMPARE(basicOnly.requestCount(), 1);
        // Mode 2 answers whatever scheme the device asks for.
        Catch d;
        NativeHttp::get(deviceFor(basicOnly), path, NativeHttp::Digest, d.cb(), 8000);
        QVERIFY(d.wait());
        QCOMPARE(d.r->status, 200);
    }

    void methodsAndBodies()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.login = FakeDevice::Login::None;
        QVERIFY(fake.start());
        // The key-frame request: a PUT with an empty body stays a PUT.
        Catch put;
        NativeHttp::put(deviceFor(fake), QStringLiteral("/ISAPI/Streaming/channels/101/requestKeyFrame"),
                        QByteArray(), QByteArray(), NativeHttp::Digest, put.cb(), 4000);
        QVERIFY(put.wait());
        QCOMPARE(put.r->status, 200);
        QCOMPARE(fake.requests().last().method, QByteArray("PUT"));
        QVERIFY(fake.requests().last().body.isEmpty());
        QVERIFY(!fake.requests().last().headers.contains("content-type"));

        Catch post;
        const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><trackDailyParam><year>2025</year>"
                                "<monthOfYear>3</monthOfYear></trackDailyParam>";
        NativeHttp::post(deviceFor(fake), QStringLiteral("/ISAPI/ContentMgmt/record/tracks/101/dailyDistribution"),
                         body, "application/xml", NativeHttp::Digest, post.cb(), 8000);
        QVERIFY(post.wait());
        QCOMPARE(post.r->status, 200);
        QCOMPARE(fake.requests().last().method, QByteArray("POST"));
        QCOMPARE(fake.requests().last().body, body);
        QCOMPARE(fake.requests().last().headers.value("content-type"), QByteArray("application/xml"));
        QCOMPARE(fake.requests().last().target, QStringLiteral("/ISAPI/ContentMgmt/record/tracks/101/dailyDistribution"));
    }

    void fanOutKeepsPathOrder()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.login = FakeDevice::Login::None;
        QVERIFY(fake.start());
        FakeDevice::Reply slow;
        slow.body = "first";
        slow.delayMs = 300;
        fake.script(QStringLiteral("/a"), slow);
        FakeDevice::Reply fast;
        fast.body = "second";
        fake.script(QStringLiteral("/b"), fast);
        FakeDevice::Reply missing;
        missing.status = 500;
        fake.script(QStringLiteral("/c"), missing);

        std::optional<QList<Response>> got;
        NativeHttp::getAll(deviceFor(fake), {QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c")},
                           NativeHttp::Digest, [&](const QList<Response> &l) { got = l; }, 8000);
        QTRY_VERIFY_WITH_TIMEOUT(got.has_value(), 10000);
        QCOMPARE(got->size(), 3);
        QCOMPARE(got->at(0).body, QByteArray("first"));
        QCOMPARE(got->at(1).body, QByteArray("second"));
        QCOMPARE(got->at(2).status, 500);

        bool called = false;
        NativeHttp::getAll(deviceFor(fake), {}, NativeHttp::None, [&](const QList<Response> &l) {
            called = l.isEmpty();
        }, 8000);
        QVERIFY(called);
    }

    void failuresBecomeSentences()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.login = FakeDevice::Login::None;
        QVERIFY(fake.start());
        FakeDevice::Reply silent;
        silent.fault = FakeDevice::Fault::Silence;
        fake.script(QStringLiteral("/silent"), silent);
        FakeDevice::Reply closes;
        closes.fault = FakeDevice::Fault::Close;
        fake.script(QStringLiteral("/close"), closes);
        FakeDevice::Reply error404;
        error404.status = 404;
        fake.script(QStringLiteral("/missing"), error404);

        Catch timeout;
        NativeHttp::get(deviceFor(fake), QStringLiteral("/silent"), NativeHttp::None, timeout.cb(), 300);
        QVERIFY(timeout.wait());
        QCOMPARE(timeout.r->status, 0);
        QCOMPARE(timeout.r->error, QStringLiteral("No answer in time."));

        Catch closed;
        NativeHttp::get(deviceFor(fake), QStringLiteral("/close"), NativeHttp::None, closed.cb(), 8000);
        QVERIFY(closed.wait());
        QCOMPARE(closed.r->status, 0);
        QCOMPARE(closed.r->error, QStringLiteral("The device closed the connection."));

        Catch notFound;
        NativeHttp::get(deviceFor(fake), QStringLiteral("/missing"), NativeHttp::None, notFound.cb(), 8000);
        QVERIFY(notFound.wait());
        QCOMPARE(notFound.r->status, 404);
        QVERIFY(notFound.r->error.isEmpty());

        Native::Device off = deviceFor(fake);
        off.httpPort = kvrtest::closedPort();
        Catch refused;
        NativeHttp::get(off, QStringLiteral("/x"), NativeHttp::None, refused.cb(), 8000);
        QVERIFY(refused.wait());
        QCOMPARE(refused.r->status, 0);
        QCOMPARE(refused.r->error, QStringLiteral("Connection refused."));
    }

    // A device that never stops sending fails the request at the cap;
    // a picture may be larger than a text answer.
    void bodiesAreCapped()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.login = FakeDevice::Login::None;
        QVERIFY(fake.start());
        FakeDevice::Reply endless;
        endless.fault = FakeDevice::Fault::Endless;
        fake.script(QStringLiteral("/endless"), endless);
        Catch c;
        NativeHttp::get(deviceFor(fake), QStringLiteral("/endless"), NativeHttp::None, c.cb(), 8000);
        QVERIFY(c.wait(20000));
        QCOMPARE(c.r->status, 0);
        QVERIFY(c.r->body.isEmpty());
        QVERIFY2(c.r->error.contains(QStringLiteral("more than")), qPrintable(c.r->error));

        FakeDevice::Reply big;
        big.body = QByteArray(6 * 1024 * 1024, 'j');
        big.contentType = "image/jpeg";
        fake.script(QStringLiteral("/big.jpg"), big);
        Catch text;
        NativeHttp::get(deviceFor(fake), QStringLiteral("/big.jpg"), NativeHttp::None, text.cb(), 8000);
        QVERIFY(text.wait());
        QCOMPARE(text.r->status, 0);
        Catch picture;
        NativeHttp::get(deviceFor(fake), QStringLiteral("/big.jpg"), NativeHttp::None, picture.cb(), 12000,
                        NativeHttp::BodyLimit::Picture);
        QVERIFY(picture.wait());
        QCOMPARE(picture.r->status, 200);
        QCOMPARE(picture.r->body.size(), big.body.size());
    }

    // Credentials never leave for a host other than the device's.
    void addressesAndRedirects()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        for (const QString host : {"127.0.0.1/x", "evil@127.0.0.1", "127.0.0.1:80", "a b"}) {
            Native::Device d = deviceFor(fake);
            d.ip = host;
            Catch c;
            NativeHttp::get(d, QStringLiteral("/ISAPI/System/deviceInfo"), NativeHttp::Basic, c.cb(), 8000);
            QCOMPARE(c.calls, 0); // never before the call returns
            QVERIFY(c.wait());
            QCOMPARE(c.r->status, 0);
            QVERIFY(!c.r->error.isEmpty());
        }
        QCOMPARE(fake.httpConnections(), 0);

        FakeDevice other(FakeDevice::Kind::Isapi);
        other.login = FakeDevice::Login::None;
        QVERIFY(other.start());
        FakeDevice::Reply away;
        away.status = 302;
        away.headers << "Location: http://127.0.0.2:" + QByteArray::number(other.httpPort()) + "/steal";
        away.beforeLogin = true;
        fake.script(QStringLiteral("/away"), away);
        Catch c;
        NativeHttp::get(deviceFor(fake), QStringLiteral("/away"), NativeHttp::Basic, c.cb(), 8000);
        QVERIFY(c.wait());
        QCOMPARE(c.r->status, 0);
        QCOMPARE(other.requestCount(), 0);

        FakeDevice::Reply here;
        here.status = 302;
        here.headers << "Location: /ISAPI/System/time";
        fake.script(QStringLiteral("/here"), here);
        fake.login = FakeDevice::Login::None;
        Catch h;
        NativeHttp::get(deviceFor(fake), QStringLiteral("/here"), NativeHttp::None, h.cb(), 8000);
        QVERIFY(h.wait());
        QCOMPARE(h.r->status, 200);
        QVERIFY(h.r->body.contains("localTime"));
    }

    void tcpConnectTest()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        std::optional<QPair<bool, int>> open;
        NativeHttp::tcpProbe(QStringLiteral("127.0.0.1"), fake.httpPort(), 3000,
                             [&](bool ok, int ms) { open = qMakePair(ok, ms); });
        QTRY_VERIFY(open.has_value());
        QVERIFY(open->first);
        QVERIFY(open->second >= 0);
        QTRY_COMPARE(fake.httpConnections(), 1);
        QCOMPARE(fake.requestCount(), 0); // nothing was sent

        std::optional<QPair<bool, int>> closed;
        NativeHttp::tcpProbe(QStringLiteral("127.0.0.1"), kvrtest::closedPort(), 3000,
                             [&](bool ok, int ms) { closed = qMakePair(ok, ms); });
        QTRY_VERIFY(closed.has_value());
        QVERIFY(!closed->first);
        QVERIFY(closed->second < 2000);

        kvrtest::SilentPort silent;
        int calls = 0;
        std::optional<QPair<bool, int>> never;
        NativeHttp::tcpProbe(QStringLiteral("127.0.0.1"), silent.port(), 400, [&](bool ok, int ms) {
            never = qMakePair(ok, ms);
            ++calls;
        });
        QTRY_VERIFY_WITH_TIMEOUT(never.has_value(), 5000);
        QVERIFY(!never->first);
        QVERIFY2(never->second >= 380, qPrintable(QString::number(never->second)));
        QTest::qWait(50);
        QCOMPARE(calls, 1);

        std::optional<bool> bad;
        NativeHttp::tcpProbe(QStringLiteral("127.0.0.1"), 0, 3000, [&](bool ok, int) { bad = ok; });
        QVERIFY(!bad.has_value());
        QTRY_VERIFY(bad.has_value());
        QVERIFY(!*bad);
    }
};

KVR_TEST_MAIN(TestNativeHttp)
#include "tst_native_http.moc"
