// Asking a stream's source whether it would play, without playing it: the
// RTSP server's paths (served, turned away, behind an account), playlists
// from our HTTP peer (one that answers, one not found, one slower than the
// question's time, one that never ends, one too large, the token only to its
// host), a port whose head never ends, and the Digest answer and RTSP heads
// on their own. Every question gets one answer, and reads a bounded one.

#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/SourceCheck.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>

using namespace kvr::video;

namespace {

// The one answer to a question, waited for.
std::optional<SourceCheck::Answer> ask(SourceCheck& check, const QString& url, const QString& token = {},
                                       const QString& tokenOrigin = {})
{
    std::optional<SourceCheck::Answer> got;
    int calls = 0;
    check.ask(url, token, tokenOrigin, nullptr, [&](const SourceCheck::Answer& a) {
        ++calls;
        got = a;
    });
    if (!QTest::qWaitFor([&] { return calls > 0; }, 20000))
        return std::nullopt;
    QTest::qWait(50);
    return calls == 1 ? got : std::nullopt;
}

} // namespace

class SourceCheckTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private Q_SLOTS:
    void digestAndHeads()
    {
        using namespace SourceCheckRules;
        // The worked example of RFC 2617 (a GET there; a check asks DESCRIBE).
        const QByteArray challenge =
            "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-Authenticate: Digest realm=\"testrealm@host.com\", "
            "qop=\"auth,auth-int\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
            "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"\r\n\r\n";
        const QByteArray answer =
            digestAuthorization(challenge, "GET", "Mufasa", "Circle Of Life", "/dir/index.html", "0a4f113b");
        QVERIFY2(answer.contains("response=\"6629fae49393a05397450978507c4ef1\""), answer.constData());
        QVERIFY(answer.contains("qop=auth, nc=00000001, cnonce=\"0a4f113b\"")
                && answer.contains("opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""));
        QVERIFY(digestAuthorization("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n\r\n",
                                    "DESCRIBE", "u", "p", "/x", "c")
                    .isEmpty());
        QCOMPARE(rtspStatus("RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n"), 200);
        QCOMPARE(rtspStatus("RTSP/1.0 453 Not Enough Bandwidth\r\n\r\n"), 453);
        QCOMPARE(rtspStatus("RTSP/1.0 200 OK\r\nCSeq: 1\r\n"), 0); // not a whole head yet
        QCOMPARE(rtspStatus("HTTP/1.1 200 OK\r\n\r\n"), 0);
        QCOMPARE(describeRequest("rtsp://h:554/live", 2, "Basic YTpi"),
                 QByteArray("DESCRIBE rtsp://h:554/live RTSP/1.0\r\nCSeq: 2\r\nAccept: application/sdp\r\n"
                            "User-Agent: Kavira\r\nAuthorization: Basic YTpi\r\n\r\n"));
    }

    void rtspPathsAreAskedByTheirDescribe()
    {
        peers::Peer camera;
        QVERIFY(peers::startRtsp(
            camera,
            {"--no-audio", "--user", "admin", "--password", "wisp", "--mount", "/gone", "--answer", "404=/gone"}));
        SourceCheck check;
        const auto at = [&](const QString& account, const QString& path) {
            return QString("rtsp://%1@127.0.0.1:%2/%3").arg(account).arg(camera.port).arg(path);
        };
        const auto served = ask(check, at("admin:wisp", "live"));
        QVERIFY(served && served->answers && served->playlist.isEmpty());
        const auto gone = ask(check, at("admin:wisp", "gone"));
        QVERIFY(gone && !gone->answers);
        const auto wrongAccount = ask(check, at("admin:nope", "live"));
        QVERIFY(wrongAccount && !wrongAccount->answers);
        const auto nobody = ask(check, QString("rtsp://127.0.0.1:%1/live").arg(kvrtest::freePort()));
        QVERIFY(nobody && !nobody->answers);
        QCOMPARE(check.underWay(), 0);
    }

    void playlistsAreAskedForTheirAnswer()
    {
        QVERIFY(dir.isValid());
        const QString script = dir.filePath("script.json");
        const QString log = dir.filePath("requests.log");
        peers::writeScript(script, R"({"rules": [{"match": "slow", "delay_ms": 8000}]})");
        peers::Peer server;
        QVERIFY(peers::startHls(server, dir.path(), script, log));
        const QString base = QString("http://127.0.0.1:%1").arg(server.port);
        SourceCheck check;
        const auto first = ask(check, base + "/vod/index.m3u8", "tok", base);
        const auto again = ask(check, base + "/vod/index.m3u8");
        QVERIFY(first && first->answers && !first->playlist.isEmpty());
        QVERIFY(again && again->answers && again->playlist == first->playlist); // a playlist that did not move on
        // The token goes to its own origin only.
        const auto elsewhere = ask(check, QString("http://localhost:%1/vod/index.m3u8").arg(server.port), "tok", base);
        QVERIFY(elsewhere && elsewhere->answers);
        QStringList sent;
        for (const QJsonObject& r : peers::readRequests(log))
            sent << r["headers"].toObject()["Host"].toString().section(':', 0, 0) + " "
                    + r["headers"].toObject()["Authorization"].toString();
        QCOMPARE(sent, (QStringList{"127.0.0.1 Bearer tok", "127.0.0.1 ", "localhost "}));

        for (const QString path :
             {"/vod/none.m3u8", "/vod/seg0", "/slow/index.m3u8", "/endless/live.m3u8", "/big/8388608/live.m3u8"}) {
            const auto refused = ask(check, base + path);
            QVERIFY2(refused && !refused->answers, qPrintable(path));
        }
        QCOMPARE(check.underWay(), 0);
    }

    // A relay that takes the connection and says nothing, to the question
    // or to the secure handshake: the check gives up on it within its time
    // and answers that it does not play, so that a wall asks it again at a
    // later turn rather than waiting on it for ever.
    void aSourceThatTakesTheConnectionAndStaysSilentIsGivenUp()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QList<QPointer<QTcpSocket>> taken;
        QByteArray heard;
        connect(&silent, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* s = silent.nextPendingConnection()) {
                taken << s;
                connect(s, &QTcpSocket::readyRead, this, [&heard, s] { heard += s->readAll(); });
            }
        });
        SourceCheck check;
        kvrtest::LogCapture log;
        for (const char* scheme : {"rtsp", "rtsps"}) {
            const QString url = QString("%1://admin:wisp@127.0.0.1:%2/live").arg(scheme).arg(silent.serverPort());
            const auto said = ask(check, url);
            QVERIFY2(said && !said->answers, scheme);
            QCOMPARE(check.underWay(), 0);
        }
        QVERIFY(heard.startsWith("DESCRIBE rtsp://127.0.0.1:")); // the plain question was asked
        QCOMPARE(taken.size(), 2);                               // both were taken, and left unanswered
        QCOMPARE(log.matching("gave no answer in time").size(), 2);
        QVERIFY(!log.contains("wisp"));
    }

    // A port that takes the question and answers with a head that never
    // ends: the check reads no more than a head may take, and ends.
    void anEndlessHeadIsNotReadOn()
    {
        QTcpServer port;
        QVERIFY(port.listen(QHostAddress::LocalHost));
        qint64 written = 0;
        QPointer<QTcpSocket> peer;
        QTimer pump;
        connect(&port, &QTcpServer::newConnection, this, [&] {
            peer = port.nextPendingConnection();
            pump.start(0);
        });
        connect(&pump, &QTimer::timeout, this, [&] {
            if (!peer || peer->state() != QAbstractSocket::ConnectedState) {
                pump.stop();
                return;
            }
            if (peer->bytesToWrite() < 1024 * 1024)
                written += peer->write(QByteArray(64 * 1024, 'x'));
        });
        SourceCheck check;
        kvrtest::LogCapture log;
        const auto endless = ask(check, QString("rtsp://127.0.0.1:%1/live").arg(port.serverPort()));
        QVERIFY(endless && !endless->answers);
        QVERIFY(log.contains("answered with no end to its head") && !log.contains("gave no answer in time"));
        QVERIFY2(written < 64 * 1024 * 1024, qPrintable(QString::number(written)));
    }
};

KVR_TEST_MAIN(SourceCheckTest)

#include "tst_source_check.moc"
