// The connection device HTTP and the event streams talk over, against a raw
// peer on loopback that writes answers byte for byte as devices do: whole,
// or a byte at a time with pauses, so that every framing is read across
// pieces; answers that are no HTTP, heads and refusals past their bounds,
// and a reader that takes nothing.

#include "native/services/DeviceWire.h"
#include "native/services/Tunables.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/support/TestKit.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

using namespace kvr::services;
using namespace std::chrono_literals;

namespace {

// Answers the first request of each connection with `answer`, whole or a
// byte every few milliseconds; then closes, or keeps the connection open.
class RawPeer : public QObject {
public:
    QByteArray answer;
    bool piecewise = false;
    bool closeAfter = true;
    QByteArray request; // the last one, as it came
    qint64 written = 0;
    // Not empty: after `answer`, this is written over and over, as fast as
    // the connection takes it.
    QByteArray flood;

    RawPeer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(s, &QTcpSocket::readyRead, this, [this, s, buffer] {
                    *buffer += s->readAll();
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end < 0 || !request.isNull())
                        return;
                    request = *buffer;
                    reply(s);
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    quint16 port() const { return server.serverPort(); }

private:
    void reply(QTcpSocket* s)
    {
        if (!piecewise) {
            s->write(answer);
            written += answer.size();
            finish(s);
            return;
        }
        auto left = std::make_shared<QByteArray>(answer);
        auto* drip = new QTimer(s);
        connect(drip, &QTimer::timeout, s, [this, s, left, drip] {
            if (left->isEmpty()) {
                drip->stop();
                finish(s);
                return;
            }
            s->write(left->left(1));
            ++written;
            left->remove(0, 1);
        });
        drip->start(1);
    }
    void finish(QTcpSocket* s)
    {
        if (!flood.isEmpty()) {
            auto feed = [this, s] {
                while (s->state() == QAbstractSocket::ConnectedState && s->bytesToWrite() < 256 * 1024) {
                    s->write(flood);
                    written += flood.size();
                }
            };
            connect(s, &QTcpSocket::bytesWritten, s, feed);
            feed();
            return;
        }
        if (closeAfter)
            s->disconnectFromHost();
    }

    QTcpServer server;
};

struct Outcome {
    int status = 0;
    QByteArray body;
    QString error;
    QByteArray header;
};

// One exchange with the peer, read to its end; `header` names a header to
// report.
Outcome exchange(RawPeer& peer, const QByteArray& header = QByteArray(), DeviceWire::Request request = {})
{
    if (request.url.isEmpty())
        request.url = QUrl(QStringLiteral("http://127.0.0.1:%1/a").arg(peer.port()));
    request.transferTimeout = 5s;
    DeviceWire wire(request);
    Outcome out;
    QObject::connect(&wire, &DeviceWire::readyRead, &wire, [&] { out.body += wire.read(1 << 20); });
    bool ended = false;
    QObject::connect(&wire, &DeviceWire::finished, &wire, [&] { ended = true; });
    wire.start();
    if (!QTest::qWaitFor([&] { return ended; }, 10000))
        out.error = QStringLiteral("never ended");
    out.body += wire.read(1 << 20);
    out.status = wire.status();
    if (out.error.isEmpty())
        out.error = wire.errorText();
    out.header = wire.header(header);
    return out;
}

} // namespace

class TestDeviceWire : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each answer as devices write it, whole and a byte at a time.
    void framings_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("expected"); // status|body|error
        const QByteArray ok = "HTTP/1.1 200 OK\r\n";
        const QString cut = QStringLiteral("The device closed the connection before its whole answer came.");
        const QString notHttp = QStringLiteral("The device's answer was not HTTP.");
        QTest::newRow("length") << ok + "Content-Length: 5\r\n\r\nhello" << false << "200|hello|";
        QTest::newRow("chunked, extensions, trailers")
            << ok + "Transfer-Encoding: chunked\r\n\r\n5;name=x\r\nhello\r\n6\r\n world\r\n0\r\nX-Sum: 1\r\n\r\n"
            << false << "200|hello world|";
        // Codings are named in any case: a device's "Chunked" is chunked,
        // its framing no part of the body.
        QTest::newRow("chunked, named in capitals") << ok + "TRANSFER-ENCODING: Chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"
                                                    << false << "200|hello|";
        QTest::newRow("bare line ends") << QByteArray("HTTP/1.0 200 OK\nContent-Length: 2\n\nok") << false << "200|ok|";
        QTest::newRow("interim answer first")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n") << false
            << "201||";
        QTest::newRow("no content") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << false << "204||";
        QTest::newRow("to the close") << QByteArray("HTTP/1.0 200 OK\r\n\r\nup to the end") << true
                                      << "200|up to the end|";
        QTest::newRow("length that lies") << ok + "Content-Length: 10\r\n\r\nshort" << true << "200|short|" + cut;
        QTest::newRow("chunk cut short") << ok + "Transfer-Encoding: chunked\r\n\r\n9\r\nabc" << true
                                         << "200|abc|" + cut;
        QTest::newRow("closed at once") << QByteArray() << true << "0||The device closed the connection.";
        static const char garbage[] = "\x1f\x8b\x08\x00<\xfe garbage\r\n\r\n";
        QTest::newRow("garbage") << QByteArray(garbage, sizeof(garbage) - 1) << true << "0||" + notHttp;
        QTest::newRow("lengths that differ")
            << ok + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc" << false << "200||" + notHttp;
        QTest::newRow("chunk size no number") << ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n"
                                              << false << "200||" + notHttp;
        QTest::newRow("refusal within its bound")
            << "HTTP/1.1 401 Unauthorized\r\nContent-Length: " + QByteArray::number(tun::kChallengeBody_bytes)
                + "\r\n\r\n" + QByteArray(tun::kChallengeBody_bytes, 'r')
            << false << QStringLiteral("401|%1|").arg(QString(tun::kChallengeBody_bytes, QLatin1Char('r')));
        QTest::newRow("refusal past its bound, told")
            << QByteArray("HTTP/1.1 401 Unauthorized\r\nContent-Length: 65537\r\n\r\n") << false
            << "401||The device's login answer was too large.";
    }
    void framings()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, closes);
        QFETCH(QString, expected);
        for (const bool piecewise : {false, true}) {
            if (piecewise && answer.size() > 4096)
                continue; // a byte at a time would take a minute
            RawPeer peer;
            peer.answer = answer;
            peer.piecewise = piecewise;
            peer.closeAfter = closes;
            const Outcome o = exchange(peer);
            QCOMPARE(QStringLiteral("%1|%2|%3").arg(o.status).arg(QString::fromLatin1(o.body), o.error), expected);
        }
    }

    // The same answers fed to the framing with no connection at all: whole,
    // a byte at a time, and to a reader with room for three bytes at once.
    void framingsWithoutAConnection_data()
    {
        framings_data();
        // A chunk-size line has a bound, whether it comes whole or in pieces.
        QTest::newRow("chunk size line past its bound") << "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                + QByteArray(1100, ' ')
                + "5\r\nhello\r\n0\r\n\r\n" << false << "200||The device's answer was not HTTP.";
    }
    void framingsWithoutAConnection()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, closes);
        QFETCH(QString, expected);
        for (const qsizetype piece : {answer.size() + 1, qsizetype(1)}) {
            for (const qint64 held : {qint64(1) << 20, qint64(3)}) {
                AnswerFraming framing(held);
                QByteArray body;
                qsizetype sent = 0;
                for (int round = 0; !framing.isDone() && round < 4 * answer.size() + 16; ++round) {
                    const qsizetype n = qsizetype(std::min<qint64>({framing.intake(), piece, answer.size() - sent}));
                    framing.feed(answer.mid(sent, n));
                    sent += n;
                    QVERIFY(framing.bytesAvailable() <= held);
                    body += framing.read(held);
                    if (sent == answer.size() && closes)
                        framing.peerClosed(false);
                }
                QVERIFY2(framing.isDone(), qPrintable(expected));
                body += framing.read(held);
                QCOMPARE(QStringLiteral("%1|%2|%3")
                             .arg(framing.status())
                             .arg(QString::fromLatin1(body),
                                  DeviceWire::errorText(framing.error(), framing.status(), QString())),
                         expected);
            }
        }
    }

    // A device that drips its answer costs in proportion to what it sends:
    // the end of a head, of trailers or of a chunk's size line is searched
    // for in each byte once, however the answer is cut (a head of 63 KiB fed
    // a byte at a time was searched 2 GB over).
    void drippedAnswersAreReadOnce_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected"); // status|last header|body
        QByteArray head = "HTTP/1.1 200 OK\r\n";
        for (int i = 0; head.size() < 63 * 1024; ++i)
            head += "X-Pad-" + QByteArray::number(i) + ": " + QByteArray(60, 'p') + "\r\n";
        QTest::newRow("63 KiB head") << head + "X-Last: yes\r\nContent-Length: 2\r\n\r\nok"
                                     << "200|yes|ok";
        QByteArray bare = head;
        bare.replace("\r\n", "\n");
        QTest::newRow("63 KiB head, bare line ends") << bare + "X-Last: yes\nContent-Length: 2\n\nok"
                                                     << "200|yes|ok";
        QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        QByteArray body;
        for (int i = 0; i < 40; ++i) {
            chunked += "1;ext=" + QByteArray(1000, 'e') + "\r\n" + QByteArray(1, char('a' + i % 26)) + "\r\n";
            body += char('a' + i % 26);
        }
        QByteArray trailers;
        for (int i = 0; trailers.size() < 30 * 1024; ++i)
            trailers += "X-Trail-" + QByteArray::number(i) + ": " + QByteArray(60, 't') + "\r\n";
        QTest::newRow("long chunk size lines and trailers") << chunked + "0\r\n" + trailers + "\r\n"
                                                            << "200||" + QString::fromLatin1(body);
    }
    void drippedAnswersAreReadOnce()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        for (const qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(4096), answer.size()}) {
            AnswerFraming framing(qint64(1) << 20);
            QByteArray body;
            for (qsizetype sent = 0; sent < answer.size() && !framing.isDone(); sent += piece) {
                framing.feed(answer.mid(sent, piece));
                body += framing.read(1 << 20);
            }
            QVERIFY(framing.isDone());
            QCOMPARE(QStringLiteral("%1|%2|%3")
                         .arg(framing.status())
                         .arg(QString::fromLatin1(framing.header("X-Last")), QString::fromLatin1(body)),
                     expected);
            // Each byte once, and the few before a piece that an end may
            // straddle.
            QVERIFY2(framing.examined() <= answer.size() + 3 * (answer.size() / piece + 1),
                     qPrintable(QStringLiteral("%1 bytes examined for %2 in pieces of %3")
                                    .arg(framing.examined())
                                    .arg(answer.size())
                                    .arg(piece)));
        }
    }

    // The request as it goes out, and headers as they come back: repeated
    // ones joined, folded ones unfolded, names in any case.
    void requestAndHeaders()
    {
        RawPeer peer;
        peer.answer = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
                      "www-authenticate: Basic\r\n  realm=\"r\"\r\nContent-Length: 0\r\n\r\n";
        DeviceWire::Request put;
        put.method = "PUT";
        put.hasBody = true;
        put.url = QUrl(QStringLiteral("http://127.0.0.1:%1/a b?x=1&y=%2F#frag").arg(peer.port()));
        put.headers = {{"Authorization", "Basic xyz"}};
        const Outcome o = exchange(peer, "WWW-AUTHENTICATE", put);
        QCOMPARE(o.status, 401);
        QCOMPARE(o.header, QByteArray("Digest realm=\"r\", nonce=\"n\", Basic realm=\"r\""));
        QCOMPARE(peer.request,
                 "PUT /a%20b?x=1&y=%2F HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(peer.port())
                     + "\r\nAuthorization: Basic xyz\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }

    // What no device writes: an endless head, an endless refusal, and a
    // body nobody reads. The wire holds its bounds, and the peer waits in
    // its connection.
    void bounds()
    {
        RawPeer head;
        head.answer = "HTTP/1.1 200 OK\r\n";
        head.flood = "X-Filler: " + QByteArray(1000, 'h') + "\r\n";
        QCOMPARE(exchange(head).error, QStringLiteral("The device's answer was not HTTP."));

        RawPeer refusal;
        refusal.answer = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                         "Transfer-Encoding: chunked\r\n\r\n";
        refusal.flood = "400\r\n" + QByteArray(0x400, 'r') + "\r\n";
        const Outcome o = exchange(refusal, "www-authenticate");
        QCOMPARE(o.error, QStringLiteral("The device's login answer was too large."));
        QCOMPARE(o.header, QByteArray("Basic realm=\"r\"")); // read all the same
        QVERIFY2(o.body.size() <= tun::kChallengeBody_bytes, qPrintable(QString::number(o.body.size())));

        // A reader that takes nothing: the wire holds its limit, the rest
        // waits in the connection (a few MB at most), and nothing ends it
        // but the time-out.
        RawPeer body;
        body.answer = "HTTP/1.1 200 OK\r\n\r\n";
        body.flood = QByteArray(64 * 1024, 'b');
        DeviceWire::Request request;
        request.url = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(body.port()));
        request.transferTimeout = 2s;
        request.heldLimit = 100 * 1000;
        DeviceWire wire(request);
        wire.start();
        QTRY_VERIFY(wire.bytesAvailable() > 0);
        QTest::qWait(500);
        QCOMPARE(wire.bytesAvailable(), request.heldLimit);
        QVERIFY2(body.written < qint64(16) << 20, qPrintable(QString::number(body.written)));
        // Reading makes room, and more comes.
        QCOMPARE(wire.read(50 * 1000).size(), 50 * 1000);
        QTRY_COMPARE(wire.bytesAvailable(), request.heldLimit);
        QVERIFY(!wire.isFinished());
        wire.abort();
    }

    // A port that refuses, a peer that says nothing and one whose connect
    // hangs (its attempt dropped unanswered): each in its own words, the
    // silent one at its time-out, the hanging one at its connect's bound
    // however long the transfer may take.
    void failures()
    {
        auto end = [](const QUrl& url, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds connectTimeout = std::chrono::milliseconds(0)) {
            DeviceWire::Request r;
            r.url = url;
            r.transferTimeout = timeout;
            r.connectTimeout = connectTimeout;
            DeviceWire wire(r);
            bool ended = false;
            QObject::connect(&wire, &DeviceWire::finished, &wire, [&] { ended = true; });
            wire.start();
            return QTest::qWaitFor([&] { return ended; }, 20000) ? wire.errorText() : QStringLiteral("never ended");
        };
        QCOMPARE(end(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(kvrtest::freePort())), 5s),
                 QStringLiteral("Connection refused."));
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QCOMPARE(end(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort())), 300ms),
                 QStringLiteral("No answer in time."));
        kvrtest::SilentPort hanging;
        QCOMPARE(end(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(hanging.port())), 60s, 300ms),
                 QStringLiteral("No answer in time."));
    }
};

KVR_TEST_MAIN(TestDeviceWire)

#include "tst_device_wire.moc"
