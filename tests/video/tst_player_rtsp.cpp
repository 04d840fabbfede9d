// The player against GStreamer's RTSP server: live pictures and sound over
// RTSP and RTSPS with a pause, certificate checks (authority and host name),
// credentials, the secure tunnel's loopback port, a refused port, the kinds
// of failure the server's answers give, and passwords kept out of the log.

#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/FfmpegPlayer.h"
#include "video/TlsTunnel.h"

#include <QSignalSpy>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

using kvr::video::PlayerFailure;
using kvr::video::TlsTunnel;

namespace {

// A TLS server on a thread of its own (the tunnel's opening blocks the test's
// thread) that sends `total` bytes as fast as the connection takes them and
// counts what left it.
class FloodServer : public QThread {
public:
    FloodServer(const QString& certFile, const QString& keyFile, qint64 total) : m_total(total)
    {
        QFile cert(certFile), key(keyFile);
        if (cert.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly)) {
            m_conf = QSslConfiguration::defaultConfiguration();
            m_conf.setLocalCertificate(QSslCertificate(&cert, QSsl::Pem));
            m_conf.setPrivateKey(QSslKey(&key, QSsl::Rsa, QSsl::Pem));
        }
    }
    ~FloodServer() override
    {
        done = true;
        wait();
    }
    quint16 port()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait_for(lock, std::chrono::seconds(10), [this] { return m_port != 0; });
        return m_port;
    }
    std::atomic<qint64> sent{0};
    std::atomic<bool> done{false};

protected:
    void run() override
    {
        QSslServer server;
        server.setSslConfiguration(m_conf);
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, &server, [&] {
            auto* peer = static_cast<QSslSocket*>(server.nextPendingConnection());
            QObject::connect(peer, &QSslSocket::encryptedBytesWritten, peer, [this](qint64 n) { sent += n; });
            peer->write(QByteArray(m_total, 'v'));
        });
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &server, [this] {
            if (done)
                quit();
        });
        poll.start(20);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_port = server.serverPort();
        }
        m_ready.notify_all();
        exec();
    }

private:
    QSslConfiguration m_conf;
    qint64 m_total;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    quint16 m_port = 0;
};

} // namespace

class PlayerRtsp : public QObject {
    Q_OBJECT
    QString rtsps(quint16 port, const QString& user = QStringLiteral("alice"),
                  const QString& pass = QStringLiteral("s3cret")) const
    {
        return QStringLiteral("rtsps://%1:%2@127.0.0.1:%3/live").arg(user, pass).arg(port);
    }
    // Plays until a picture or a status; answers whether pictures came. The
    // kind of failure is read as the status arrives.
    bool playsPictures(const QString& url, QString* statusDetail = nullptr, PlayerFailure* kind = nullptr)
    {
        QSignalSpy frames(player.get(), &FfmpegPlayer::frameReady);
        QSignalSpy status(player.get(), &FfmpegPlayer::status);
        QMetaObject::Connection reader;
        if (kind) {
            *kind = PlayerFailure::None;
            reader =
                connect(player.get(), &FfmpegPlayer::status, this, [this, kind] { *kind = player->lastFailure(); });
        }
        player->play(url);
        QElapsedTimer t;
        t.start();
        while (frames.isEmpty() && status.isEmpty() && t.elapsed() < 30000)
            QTest::qWait(50);
        if (statusDetail && !status.isEmpty())
            *statusDetail = status.first().at(1).toString();
        QTest::qWait(300); // nothing may slip through after a failure either
        disconnect(reader);
        return !frames.isEmpty();
    }
    QByteArray ask(quint16 port, const QByteArray& request)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(5000))
            return "not connected";
        socket.write(request);
        QByteArray answer;
        QElapsedTimer t;
        t.start();
        while (!answer.contains("\r\n\r\n") && t.elapsed() < 5000 && socket.state() == QAbstractSocket::ConnectedState)
            if (socket.waitForReadyRead(100))
                answer += socket.readAll();
        return answer;
    }

    QTemporaryDir dir;
    peers::Peer plain, secure, wrongName, stranger, answering;
    std::unique_ptr<FfmpegPlayer> player;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QProcess certs;
        certs.start(QStringLiteral("sh"), {kvrtest::fixturePath(QStringLiteral("rtsp/make_certs.sh")), dir.path()});
        QVERIFY(certs.waitForFinished(60000));
        QCOMPARE(certs.exitCode(), 0);
        QVERIFY(peers::startRtsp(plain));
        QVERIFY(peers::startRtsp(answering,
                                 {QStringLiteral("--answer"), QStringLiteral("453=subtype=0"),
                                  QStringLiteral("--answer"), QStringLiteral("503=busy")}));
        const QStringList login = QStringLiteral("--user alice --password s3cret --tls").split(QLatin1Char(' '));
        QVERIFY(peers::startRtsp(secure, login + QStringList{dir.filePath(QStringLiteral("server.pem"))}));
        QVERIFY(peers::startRtsp(wrongName, login + QStringList{dir.filePath(QStringLiteral("wrongname.pem"))}));
        QVERIFY(peers::startRtsp(stranger, login + QStringList{dir.filePath(QStringLiteral("stranger.pem"))}));
    }

    void init()
    {
        qputenv("KVR_TLS_CA_FILE", dir.filePath(QStringLiteral("ca.pem")).toUtf8());
        player = std::make_unique<FfmpegPlayer>();
        player->openAttempts = 5;
    }

    void liveStreamGivesPicturesAndSound_data()
    {
        QTest::addColumn<bool>("secured");
        QTest::newRow("rtsp") << false;
        QTest::newRow("rtsps, trusted certificate") << true;
    }

    void liveStreamGivesPicturesAndSound()
    {
        QFETCH(bool, secured);
        kvrtest::LogCapture log;
        QSignalSpy audio(player.get(), &FfmpegPlayer::audioTrack);
        QSignalSpy overloaded(player.get(), &FfmpegPlayer::overloaded);
        QList<double> positions;
        connect(player.get(), &FfmpegPlayer::position, this, [&](double s) { positions << s; });
        QVERIFY(playsPictures(secured ? rtsps(secure.port) : peers::rtspUrl(plain.port)));
        QVERIFY(!audio.isEmpty() && audio.first().first().toBool());
        // Pictures keep coming, paced on the sound clock, at about real time.
        const int before = int(positions.size());
        const double from = positions.last();
        QTest::qWait(2000);
        const double advanced = positions.last() - from;
        QVERIFY2(positions.size() - before >= 25, qPrintable(QString::number(positions.size() - before)));
        QVERIFY2(advanced > 1.2 && advanced < 3.0, qPrintable(QString::number(advanced)));
        QVERIFY(!log.contains(QStringLiteral("Playing without audio")));
        QVERIFY(!log.contains(QStringLiteral("Audio stopped; continuing on the wall clock")));
        QVERIFY2(peers::leaked(log, {QStringLiteral("s3cret")}).isEmpty(), "password logged");

        // A pause holds the picture; after it the stream flows on, keeping up.
        player->pause(true);
        QTest::qWait(300);
        const int held = int(positions.size());
        QTest::qWait(2500);
        QCOMPARE(int(positions.size()), held);
        player->pause(false);
        QTRY_VERIFY_WITH_TIMEOUT(positions.size() >= held + 15, 5000);
        QCOMPARE(overloaded.size(), 0);
    }

    // Certificates and credentials that fail are tried once, whatever
    // openAttempts says: asking again changes nothing, and a recorder may
    // lock an account after a few wrong passwords.
    void secureStreamDoesNotPlay_data()
    {
        QTest::addColumn<int>("server"); // 0 right certificate, 1 for another host name, 2 from an unknown authority
        QTest::addColumn<QString>("bundle"); // ours, none (the system's) or a missing file
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<PlayerFailure>("kind");
        const QString untrusted = QStringLiteral("Certificate not trusted");
        const QString refused = QStringLiteral("401");
        const PlayerFailure distrust = PlayerFailure::Untrusted;
        const PlayerFailure login = PlayerFailure::Unauthorized;
        QTest::newRow("unknown authority") << 2 << "ours"
                                           << "alice"
                                           << "s3cret" << untrusted << distrust;
        QTest::newRow("another host name") << 1 << "ours"
                                           << "alice"
                                           << "s3cret" << untrusted << distrust;
        QTest::newRow("system authorities only") << 0 << "none"
                                                 << "alice"
                                                 << "s3cret" << untrusted << distrust;
        QTest::newRow("missing bundle") << 0 << "missing"
                                        << "alice"
                                        << "s3cret" << untrusted << distrust;
        QTest::newRow("wrong password") << 0 << "ours"
                                        << "alice"
                                        << "wr0ngpass" << refused << login;
        QTest::newRow("unknown user") << 0 << "ours"
                                      << "mallory"
                                      << "s3cret" << refused << login;
    }

    void secureStreamDoesNotPlay()
    {
        QFETCH(int, server);
        QFETCH(QString, bundle);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, detail);
        QFETCH(PlayerFailure, kind);
        if (bundle == QLatin1String("none"))
            qunsetenv("KVR_TLS_CA_FILE");
        else if (bundle == QLatin1String("missing"))
            qputenv("KVR_TLS_CA_FILE", dir.filePath(QStringLiteral("missing.pem")).toUtf8());
        kvrtest::LogCapture log;
        const quint16 ports[] = {secure.port, wrongName.port, stranger.port};
        QString got;
        PlayerFailure gotKind;
        QVERIFY(!playsPictures(rtsps(ports[server], user, password), &got, &gotKind));
        QVERIFY2(got.contains(detail), qPrintable(got));
        QCOMPARE(gotKind, kind);
        QVERIFY2(log.matching(QStringLiteral("DESCRIBE failed")).size() <= 1,
                 qPrintable(log.matching(QStringLiteral("DESCRIBE failed")).join(QLatin1Char('\n'))));
        QVERIFY2(peers::leaked(log, {password}).isEmpty(), qPrintable(peers::leaked(log, {password})));
    }

    // The decrypted stream carries the ticket's credentials: the loopback
    // port serves one connection of this process, and the session outlives
    // the handshake's time limit.
    void secureTunnelServesThisProcessOnce()
    {
        std::atomic<bool> stop{false};
        TlsTunnel raced, ours;
        for (TlsTunnel* t : {&raced, &ours}) {
            const auto opened = t->open(QStringLiteral("127.0.0.1"), secure.port, TlsTunnel::caBundle(), &stop,
                                        std::chrono::milliseconds(300));
            QVERIFY2(opened.outcome == TlsTunnel::Outcome::Ready, qPrintable(opened.error));
        }
        const QByteArray options =
            QStringLiteral("OPTIONS rtsp://127.0.0.1:%1/live RTSP/1.0\r\nCSeq: 1\r\n\r\n").arg(secure.port).toUtf8();
        QProcess other;
        other.start(peers::systemPython(),
                    {QStringLiteral("-c"),
                     QStringLiteral("import socket,sys\ns=socket.create_connection(('127.0.0.1',%1))\n"
                                    "s.sendall(b'OPTIONS * RTSP/1.0\\r\\nCSeq: 1\\r\\n\\r\\n')\ns.settimeout(5)\n"
                                    "try: print(len(s.recv(100)))\nexcept OSError: print(0)\n")
                         .arg(raced.localPort())});
        QVERIFY(other.waitForFinished(15000));
        QCOMPARE(other.readAllStandardOutput().trimmed(), QByteArray("0"));
        QCOMPARE(ask(raced.localPort(), options), QByteArray("not connected"));

        QTest::qWait(700);
        QVERIFY2(ask(ours.localPort(), options).startsWith("RTSP/1.0 200"), "no answer through the tunnel");
        QCOMPARE(ask(ours.localPort(), options), QByteArray("not connected"));
    }

    // A server that never finishes the handshake is a time-out, not a
    // certificate problem.
    void secureHandshakeThatNeverEndsTimesOut()
    {
        peers::Peer silent;
        QVERIFY(peers::startProxy(silent, secure.port, QStringLiteral("stall"), 0, 60000));
        std::atomic<bool> stop{false};
        TlsTunnel tunnel;
        const auto opened = tunnel.open(QStringLiteral("127.0.0.1"), silent.port, TlsTunnel::caBundle(), &stop,
                                        std::chrono::milliseconds(300));
        QCOMPARE(int(opened.outcome), int(TlsTunnel::Outcome::TimedOut));
        QCOMPARE(opened.error, QStringLiteral("Secure connection timed out"));
    }

    // While the reader does not read (paused, or busy), the server is held
    // back as over a plain connection, not buffered without end in the tunnel.
    void secureTunnelHoldsTheServerBackForASlowReader()
    {
        const qint64 total = 64 * 1024 * 1024;
        FloodServer server(dir.filePath(QStringLiteral("server.crt")), dir.filePath(QStringLiteral("server.key")),
                           total);
        server.start();
        const quint16 port = server.port();
        QVERIFY(port);
        std::atomic<bool> stop{false};
        TlsTunnel tunnel;
        const auto opened = tunnel.open(QStringLiteral("127.0.0.1"), port, TlsTunnel::caBundle(), &stop);
        QVERIFY2(opened.outcome == TlsTunnel::Outcome::Ready, qPrintable(opened.error));
        QTcpSocket reader;
        reader.setReadBufferSize(64 * 1024); // a reader that takes nothing more
        reader.connectToHost(QHostAddress::LocalHost, tunnel.localPort());
        QVERIFY(reader.waitForConnected(5000));
        QTest::qWait(1500);
        QVERIFY2(server.sent.load() < total / 2, qPrintable(QString::number(server.sent.load())));
        // Reading again, everything comes through.
        reader.setReadBufferSize(0);
        qint64 got = 0;
        QElapsedTimer t;
        t.start();
        while (got < total && t.elapsed() < 20000) {
            reader.waitForReadyRead(100);
            got += reader.readAll().size();
        }
        QCOMPARE(got, total);
    }

    void refusedPortIsNotRetried()
    {
        peers::Peer refuse, hangUp;
        QVERIFY(peers::startProxy(refuse, 0, QStringLiteral("refuse")));
        QVERIFY(peers::startProxy(hangUp, plain.port, QStringLiteral("close")));
        kvrtest::LogCapture log;
        player->openAttempts = 40;
        // 40 attempts half a second apart would take 20 s.
        for (const QString& url : {peers::rtspUrl(refuse.port), rtsps(refuse.port)}) {
            QElapsedTimer t;
            t.start();
            QString detail;
            PlayerFailure kind;
            QVERIFY(!playsPictures(url, &detail, &kind));
            QVERIFY(!detail.isEmpty());
            QCOMPARE(kind, PlayerFailure::Refused);
            QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        }
        QVERIFY(!log.contains(QStringLiteral("opened (attempt")));

        // A peer that accepts and hangs up is tried again, half a second apart.
        player->openAttempts = 3;
        QElapsedTimer t;
        t.start();
        QVERIFY(!playsPictures(peers::rtspUrl(hangUp.port)));
        QVERIFY2(t.elapsed() >= 1000 + 300, qPrintable(QString::number(t.elapsed())));
    }

    // What the server answers decides the kind; FFmpeg folds every 4xx but
    // 400, 401, 403 and 404 into one code, and so 453 Not Enough Bandwidth
    // reaches us as a client error.
    void serverAnswersGiveTheirKinds_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<PlayerFailure>("kind");
        QTest::newRow("unknown mount") << "/nothing/here" << PlayerFailure::NotFound;
        QTest::newRow("453") << "/live?channel=1&subtype=0" << PlayerFailure::ClientError;
        QTest::newRow("503") << "/live?busy" << PlayerFailure::ServerError;
        QTest::newRow("a stream it has room for") << "/live?channel=1&subtype=1" << PlayerFailure::None;
    }
    void serverAnswersGiveTheirKinds()
    {
        QFETCH(QString, path);
        QFETCH(PlayerFailure, kind);
        player->openAttempts = 1;
        PlayerFailure got;
        const bool played =
            playsPictures(QStringLiteral("rtsp://127.0.0.1:%1%2").arg(answering.port).arg(path), nullptr, &got);
        QCOMPARE(played, kind == PlayerFailure::None);
        QCOMPARE(got, kind);
        QCOMPARE(player->lastFailure(), kind);
    }
};

KVR_TEST_MAIN(PlayerRtsp)
#include "tst_player_rtsp.moc"
