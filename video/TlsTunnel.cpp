#include "video/TlsTunnel.h"

#include "app/core/Env.h"
#include "video/Tunables.h"

#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QtDebug>

#include <functional>

namespace kvr::video {

namespace {

// Runs on the tunnel's own thread: one TLS session to the server and one
// loopback connection from FFmpeg, bytes copied both ways.
class TunnelThread : public QThread {
public:
    TunnelThread(std::shared_ptr<void> keep, std::function<void(TunnelThread&)> body)
        : m_keep(std::move(keep)),
          m_body(std::move(body))
    {}
    int runLoop() { return exec(); }

protected:
    void run() override { m_body(*this); }

private:
    std::shared_ptr<void> m_keep;
    std::function<void(TunnelThread&)> m_body;
};

QString describe(const QList<QSslError>& errors)
{
    QStringList parts;
    for (const QSslError& e : errors)
        parts << e.errorString();
    return parts.join(QStringLiteral("; "));
}

} // namespace

TlsTunnel::TlsTunnel() : m_shared(std::make_shared<Shared>()) {}

TlsTunnel::~TlsTunnel()
{
    if (m_thread) {
        m_thread->requestInterruption();
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
    }
}

QString TlsTunnel::caBundle()
{
    const QString path = envOr("KVR_TLS_CA_FILE", QString::fromLatin1(tun::kCaBundle));
    return QFile::exists(path) ? path : QString();
}

QString TlsTunnel::localAddress(const QString& rtspsUrl, quint16 localPort)
{
    QUrl u(rtspsUrl);
    u.setScheme(QStringLiteral("rtsp"));
    u.setHost(QStringLiteral("127.0.0.1"));
    u.setPort(localPort);
    return u.toString(QUrl::FullyEncoded);
}

TlsTunnel::Result TlsTunnel::open(const QString& host, quint16 port, const QString& caFile,
                                  const std::atomic<bool>* stopFlag, std::chrono::milliseconds handshakeTimeout)
{
    auto shared = m_shared;
    auto report = [shared](Outcome outcome, const QString& error, quint16 localPort) {
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (shared->done)
            return;
        shared->done = true;
        shared->result.outcome = outcome;
        shared->result.error = error;
        shared->port = localPort;
        shared->cv.notify_all();
    };

    auto body = [=](TunnelThread& self) {
        QSslSocket tls;
        QTcpServer server;
        QPointer<QTcpSocket> local;
        QString certProblems;

        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        if (!caFile.isEmpty())
            conf.setCaCertificates(QSslCertificate::fromPath(caFile, QSsl::Pem));
        conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
        tls.setSslConfiguration(conf);
        tls.setPeerVerifyName(host);

        QObject::connect(&tls, &QSslSocket::sslErrors, &tls,
                         [&](const QList<QSslError>& errors) { certProblems = describe(errors); });
        QObject::connect(&tls, &QSslSocket::encrypted, &tls, [&] {
            if (!server.listen(QHostAddress::LocalHost, 0)) {
                report(Outcome::Failed, QStringLiteral("No local port for the secure stream"), 0);
                tls.abort();
                return;
            }
            report(Outcome::Ready, QString(), server.serverPort());
        });
        QObject::connect(&tls, &QAbstractSocket::errorOccurred, &tls, [&](QAbstractSocket::SocketError err) {
            if (err == QAbstractSocket::ConnectionRefusedError)
                report(Outcome::Refused, tls.errorString(), 0);
            else if (!certProblems.isEmpty())
                report(Outcome::Untrusted, QStringLiteral("Certificate not trusted: %1").arg(certProblems), 0);
            else if (err == QAbstractSocket::SslHandshakeFailedError)
                report(Outcome::Untrusted, QStringLiteral("Certificate not trusted: %1").arg(tls.errorString()), 0);
            else
                report(Outcome::Failed, tls.errorString(), 0);
            if (local)
                local->disconnectFromHost();
        });
        // Back-pressure: no more of the server's bytes are taken than the
        // reader is behind by a bounded amount, so a player that stops
        // reading holds the server back as a plain connection would, instead
        // of the stream piling up here.
        tls.setReadBufferSize(tun::kTunnelHeldBytes);
        auto toLocal = [&] {
            if (!local)
                return;
            const qint64 room = tun::kTunnelHeldBytes - local->bytesToWrite();
            if (room > 0 && tls.bytesAvailable() > 0)
                local->write(tls.read(room));
        };
        QObject::connect(&tls, &QSslSocket::readyRead, &tls, toLocal);
        QObject::connect(&tls, &QAbstractSocket::disconnected, &tls, [&] {
            if (local) {
                local->write(tls.readAll());
                local->disconnectFromHost();
            }
        });
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket* c = server.nextPendingConnection()) {
                if (local) { // one reader per session
                    c->abort();
                    c->deleteLater();
                    continue;
                }
                local = c;
                QObject::connect(c, &QIODevice::readyRead, c, [&, c] { tls.write(c->readAll()); });
                QObject::connect(c, &QAbstractSocket::disconnected, c, [&] { tls.disconnectFromHost(); });
                QObject::connect(c, &QIODevice::bytesWritten, c, toLocal);
                // Anything the server sent before FFmpeg connected.
                toLocal();
                server.close();
            }
        });
        // Bounds the handshake only: once encrypted the session lives as long
        // as the stream.
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &tls, [&] {
            if (tls.isEncrypted())
                return;
            report(Outcome::Failed, QStringLiteral("Secure connection timed out"), 0);
            tls.abort();
        });
        QObject::connect(&tls, &QSslSocket::encrypted, &timeout, &QTimer::stop);
        timeout.start(int(handshakeTimeout.count()));
        // The owner's request to end may come before this loop runs, when a
        // plain quit() would be lost; it is looked for from inside the loop.
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &tls, [&self] {
            if (self.isInterruptionRequested())
                self.quit();
        });
        watch.start(int(tun::kStopPoll.count()));
        tls.connectToHostEncrypted(host, port);
        self.runLoop();
        if (local)
            local->abort();
        delete local.data();
        tls.abort();
    };

    m_thread = new TunnelThread(shared, body);
    m_thread->start();

    std::unique_lock<std::mutex> lock(shared->mutex);
    while (!shared->done) {
        if (stopFlag && stopFlag->load()) {
            Result r;
            r.outcome = Outcome::Stopped;
            return r;
        }
        shared->cv.wait_for(lock, tun::kStopPoll);
    }
    m_localPort = shared->port;
    return shared->result;
}

} // namespace kvr::video
