#include "native/services/DeviceWire.h"

#include "native/services/Tunables.h"

#include <QNetworkProxy>
#include <QTcpSocket>

#if QT_CONFIG(ssl)
#include <QSslSocket>
#endif

#include <utility>

namespace kvr::services {

namespace {

bool isHttps(const QUrl& url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

} // namespace

DeviceWire::DeviceWire(Request request, QObject* parent)
    : QObject(parent),
      m_request(std::move(request)),
      m_framing(m_request.heldLimit)
{
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        // Bytes that came while a busy event loop was late to read them are
        // movement all the same: looked for before giving up.
        if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState
            && (m_socket->bytesAvailable() > 0 || m_socket->waitForReadyRead(0))) {
            touch();
            pump();
            return;
        }
        fail(Error::Timeout);
        report();
    });
    m_answerBound.setSingleShot(true);
    connect(&m_answerBound, &QTimer::timeout, this, &DeviceWire::onAnswerBound);
    m_connectBound.setSingleShot(true);
    connect(&m_connectBound, &QTimer::timeout, this, [this] {
        fail(Error::TooSlow);
        report();
    });
}

DeviceWire::~DeviceWire()
{
    if (m_waitTicket)
        ConnectionGate::instance().cancel(m_waitTicket);
    dropSocket();
}

QByteArray DeviceWire::target(const QUrl& url)
{
    QUrl target = url;
    QUrl::FormattingOptions format =
        QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment | QUrl::RemoveUserInfo | QUrl::FullyEncoded;
    if (target.path().isEmpty())
        target.setPath(QStringLiteral("/"));
    else
        format |= QUrl::NormalizePathSegments;
    return target.toEncoded(format);
}

void DeviceWire::start()
{
    if (m_started)
        return;
    m_started = true;
    const ConnectionGate::Ticket ticket = ConnectionGate::instance().ask(m_request.use, this, [this] {
        m_waitTicket = 0;
        m_holdsPlace = true;
        connectNow();
    });
    if (!m_holdsPlace)
        m_waitTicket = ticket;
}

void DeviceWire::connectNow()
{
    if (m_request.answerTimeout.count() > 0)
        m_answerBound.start(m_request.answerTimeout);
    if (m_request.connectTimeout.count() > 0)
        m_connectBound.start(m_request.connectTimeout);
    const bool secure = isHttps(m_request.url);
    QTcpSocket* socket = nullptr;
#if QT_CONFIG(ssl)
    if (secure) {
        auto* ssl = new QSslSocket(this);
        connect(ssl, &QSslSocket::encrypted, this, &DeviceWire::send);
        socket = ssl;
    }
#endif
    if (!socket) {
        socket = new QTcpSocket(this);
        if (!secure)
            connect(socket, &QTcpSocket::connected, this, &DeviceWire::send);
    }
    m_socket = socket;
    // Devices are spoken to directly; a proxy would see the credentials.
    socket->setProxy(QNetworkProxy::NoProxy);
    // What is not read waits in the connection, and the device with it.
    socket->setReadBufferSize(tun::kWireSocketBuffer_bytes);
    connect(socket, &QTcpSocket::readyRead, this, &DeviceWire::pump);
    connect(socket, &QTcpSocket::bytesWritten, this, &DeviceWire::touch);
    connect(socket, &QTcpSocket::disconnected, this, &DeviceWire::onClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, &DeviceWire::onSocketError);
    touch();
    const quint16 port = quint16(m_request.url.port(secure ? 443 : 80));
#if QT_CONFIG(ssl)
    if (auto* ssl = qobject_cast<QSslSocket*>(socket)) {
        ssl->connectToHostEncrypted(m_request.url.host(), port);
        return;
    }
#endif
    if (secure) {
        // No TLS in this build: as a certificate nobody can check.
        QTimer::singleShot(0, this, [this] {
            fail(Error::Untrusted);
            report();
        });
        return;
    }
    socket->connectToHost(m_request.url.host(), port);
}

void DeviceWire::abort()
{
    m_framing.abandon();
    m_idle.stop();
    m_answerBound.stop();
    m_connectBound.stop();
    if (m_waitTicket)
        ConnectionGate::instance().cancel(std::exchange(m_waitTicket, 0));
    dropSocket();
}

void DeviceWire::dropSocket()
{
    if (m_socket) {
        QTcpSocket* socket = m_socket;
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    // The connection is closed (abort() closes it at once): its place goes
    // to the next in line.
    if (std::exchange(m_holdsPlace, false))
        ConnectionGate::instance().release(m_request.use);
}

// The head did not come in time, or an answer that is no stream did not
// end in time: a device dripping it would hold the exchange for ever.
void DeviceWire::onAnswerBound()
{
    const int status = m_framing.status();
    if (m_framing.isDone() || (status >= 200 && status <= 299))
        return;
    fail(Error::TooSlow);
    report();
}

void DeviceWire::send()
{
    m_connectBound.stop();
    const QUrl& url = m_request.url;
    const int defaultPort = isHttps(url) ? 443 : 80;
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':')) {
        // An IPv6 address goes in brackets; its zone means something to
        // this computer alone and stays here.
        const qsizetype zone = host.indexOf('%');
        if (zone >= 0)
            host.truncate(zone);
        host = '[' + host + ']';
    }
    if (url.port(defaultPort) != defaultPort)
        host += ':' + QByteArray::number(url.port());
    QByteArray out = m_request.method + ' ' + target(url) + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const auto& [name, value] : std::as_const(m_request.headers))
        out += name + ": " + value + "\r\n";
    if (m_request.hasBody)
        out += "Content-Length: " + QByteArray::number(m_request.body.size()) + "\r\n";
    // One exchange per connection: nothing waits behind an answer, so its
    // end is never mistaken for the next one's beginning.
    out += "Connection: close\r\n\r\n";
    if (m_request.hasBody)
        out += m_request.body;
    touch();
    m_socket->write(out);
}

void DeviceWire::touch()
{
    if (!m_framing.isDone())
        m_idle.start(m_request.transferTimeout);
}

QByteArray DeviceWire::read(qint64 max)
{
    QByteArray out = m_framing.read(max);
    // Room again: what waits in the connection may come on.
    if (!out.isEmpty() && !m_framing.isDone())
        pumpLater();
    return out;
}

QString DeviceWire::errorText(Error error, int status, const QString& detail)
{
    switch (error) {
    case Error::None:
        return {};
    case Error::ConnectionRefused:
        return QStringLiteral("Connection refused.");
    case Error::HostNotFound:
        return QStringLiteral("Host not found.");
    case Error::Closed:
        return status == 0 ? QStringLiteral("The device closed the connection.")
                           : QStringLiteral("The device closed the connection before its whole answer came.");
    case Error::Timeout:
        return QStringLiteral("No answer in time.");
    case Error::LoginTooLarge:
        return QStringLiteral("The device's login answer was too large.");
    case Error::NotHttp:
        return QStringLiteral("The device's answer was not HTTP.");
    case Error::Untrusted:
        return QStringLiteral("The device's certificate is not trusted.");
    case Error::Encoded:
        return QStringLiteral("The device sent its answer compressed (%1), which can't be read.").arg(detail);
    case Error::Network:
        return detail.isEmpty() ? QStringLiteral("The connection to the device failed.") : detail;
    case Error::TooSlow:
        return status == 0 ? QStringLiteral("No answer in time.")
                           : QStringLiteral("The device was too slow to send its whole answer.");
    }
    return {};
}

void DeviceWire::pumpLater()
{
    if (m_pumpQueued)
        return;
    m_pumpQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pumpQueued = false;
            pump();
        },
        Qt::QueuedConnection);
}

// Takes what the connection has into the framing, as far as the reader has
// room, and sends the signals that follow.
void DeviceWire::pump()
{
    if (m_framing.isDone() || m_inPump)
        return;
    m_inPump = true;
    for (;;) {
        const qint64 want = m_socket ? m_framing.intake() : 0;
        const QByteArray more = want > 0 ? m_socket->read(want) : QByteArray();
        if (!more.isEmpty())
            touch();
        if (!m_framing.feed(more) || m_framing.isDone())
            break;
    }
    m_inPump = false;
    // The device closed and all it sent that can be read is read: the
    // answer ends here.
    if (m_closed)
        m_framing.peerClosed(m_socket && m_socket->bytesAvailable() > 0);
    settle();
    report();
}

// Once the answer is over, the connection and its time-out go.
void DeviceWire::settle()
{
    if (!m_framing.isDone())
        return;
    m_idle.stop();
    m_answerBound.stop();
    m_connectBound.stop();
    dropSocket();
}

void DeviceWire::fail(Error error, const QString& detail)
{
    if (m_framing.isDone())
        return;
    m_detail = detail;
    m_framing.fail(error);
    settle();
}

void DeviceWire::onSocketError()
{
    if (m_framing.isDone() || !m_socket)
        return;
    switch (m_socket->error()) {
    case QAbstractSocket::RemoteHostClosedError:
        onClosed();
        return;
    case QAbstractSocket::ConnectionRefusedError:
        fail(Error::ConnectionRefused);
        break;
    case QAbstractSocket::HostNotFoundError:
        fail(Error::HostNotFound);
        break;
    case QAbstractSocket::SocketTimeoutError:
        fail(Error::Timeout);
        break;
    case QAbstractSocket::SslHandshakeFailedError:
        fail(Error::Untrusted);
        break;
    default:
        fail(Error::Network, m_socket->errorString());
        break;
    }
    report();
}

void DeviceWire::onClosed()
{
    if (m_framing.isDone() || m_closed)
        return;
    m_closed = true;
    pump();
}

// Sends the signals owed, in order; the receiver of one may end the
// exchange or delete it, which ends the rest.
void DeviceWire::report()
{
    QPointer<DeviceWire> self(this);
    if (m_framing.takeHead()) {
        // A 2xx answer's body may go on as long as the device sends.
        if (status() >= 200 && status() <= 299)
            m_answerBound.stop();
        const QByteArray coding = header("Content-Encoding").trimmed();
        if (m_request.plainBodyOnly && !coding.isEmpty() && coding.compare("identity", Qt::CaseInsensitive) != 0) {
            fail(Error::Encoded, QString::fromLatin1(coding.left(40)));
            m_framing.read(m_framing.bytesAvailable()); // nothing of it is for the reader
        } else {
            Q_EMIT headReceived();
            if (!self)
                return;
        }
    }
    if (m_framing.takeData() && bytesAvailable() > 0) {
        Q_EMIT readyRead();
        if (!self)
            return;
    }
    if (m_framing.isDone() && m_framing.takeEnd())
        Q_EMIT finished();
}

} // namespace kvr::services
