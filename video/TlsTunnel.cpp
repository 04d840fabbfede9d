#include "video/TlsTunnel.h"

#include "app/core/Env.h"
#include "video/Logging.h"
#include "video/Tunables.h"

#include <QDir>
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

#if defined(Q_OS_LINUX)
#include <unistd.h>
#endif

using namespace kvr::core;

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

#if defined(Q_OS_LINUX)
// The inode of the TCP socket from local port `from` to local port `to`, as
// /proc/net/tcp lists it ("sl local rem st ... uid timeout inode"); 0 if none.
quint64 loopbackSocketInode(quint16 from, quint16 to)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray local = QByteArray("0100007F:") + QByteArray::number(from, 16).toUpper().rightJustified(4, '0');
    const QByteArray remote = QByteArray("0100007F:") + QByteArray::number(to, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 9 && f[1] == local && f[2] == remote)
            return f[9].toULongLong();
    }
    return 0;
}
#endif

// Whether the loopback connection that came from `peerPort` to our `localPort`
// was made by this process: the decrypted stream carries the ticket's
// credentials and must not go to another program that raced for the port.
// Where the platform cannot tell, the listener taking one connection only and
// closing at once is the protection.
bool fromThisProcess(quint16 peerPort, quint16 localPort)
{
#if defined(Q_OS_LINUX)
    const quint64 inode = loopbackSocketInode(peerPort, localPort);
    if (!inode)
        return false;
    const QByteArray wanted = "socket:[" + QByteArray::number(inode) + "]";
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        char target[64] = {0};
        const QByteArray path = fds.filePath(fd).toLocal8Bit();
        if (::readlink(path.constData(), target, sizeof target - 1) > 0 && wanted == target)
            return true;
    }
    return false;
#else
    Q_UNUSED(peerPort)
    Q_UNUSED(localPort)
    return true;
#endif
}

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
            else if (err == QAbstractSocket::SocketTimeoutError)
                report(Outcome::TimedOut, tls.errorString(), 0);
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
        // Exactly one connection is taken, and the port closes with it.
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            const quint16 listening = server.serverPort();
            QTcpSocket* c = server.nextPendingConnection();
            while (QTcpSocket* extra = server.nextPendingConnection())
                extra->abort();
            server.close();
            if (!c || local)
                return;
            if (!fromThisProcess(c->peerPort(), listening)) {
                qCWarning(lcVideo).noquote() << "[play] secure stream: refused a local connection from another program";
                c->abort();
                tls.abort();
                return;
            }
            local = c;
            QObject::connect(c, &QIODevice::readyRead, c, [&, c] { tls.write(c->readAll()); });
            QObject::connect(c, &QAbstractSocket::disconnected, c, [&] { tls.disconnectFromHost(); });
            QObject::connect(c, &QIODevice::bytesWritten, c, toLocal);
            // Anything the server sent before FFmpeg connected.
            toLocal();
        });
        // Bounds the handshake only: once encrypted the session lives as long
        // as the stream.
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &tls, [&] {
            if (tls.isEncrypted())
                return;
            report(Outcome::TimedOut, QStringLiteral("Secure connection timed out"), 0);
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
