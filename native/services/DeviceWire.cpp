#include "native/services/DeviceWire.h"

#include "native/services/Tunables.h"

#include <QNetworkProxy>
#include <QTcpSocket>

#if QT_CONFIG(ssl)
#include <QSslSocket>
#endif

#include <algorithm>
#include <utility>

namespace kvr::services {

namespace {

// A chunk-size line is a number and perhaps extensions nobody reads.
constexpr qsizetype kChunkLine_bytes = 1024;

bool isHttps(const QUrl& url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

// Drops what was read through once it is half the buffer, so that reading
// from the front never moves the rest byte by byte.
void compact(QByteArray& buffer, qsizetype& pos)
{
    if (pos == buffer.size()) {
        buffer.clear();
        pos = 0;
    } else if (pos > 0 && pos >= buffer.size() / 2) {
        buffer.remove(0, pos);
        pos = 0;
    }
}

} // namespace

DeviceWire::DeviceWire(Request request, QObject* parent) : QObject(parent), m_request(std::move(request))
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
    m_done = true;
    m_owesHead = m_owesData = m_owesEnd = false;
    m_idle.stop();
    m_answerBound.stop();
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
    if (m_done || (m_status >= 200 && m_status <= 299))
        return;
    fail(Error::TooSlow);
    report();
}

void DeviceWire::send()
{
    const QUrl& url = m_request.url;
    const int defaultPort = isHttps(url) ? 443 : 80;
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
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
    if (!m_done)
        m_idle.start(m_request.transferTimeout);
}

QByteArray DeviceWire::header(const QByteArray& name) const
{
    const QByteArray key = name.toLower();
    QByteArray out;
    for (const auto& [n, v] : m_headers) {
        if (n != key)
            continue;
        if (!out.isEmpty())
            out += ", ";
        out += v;
    }
    return out;
}

QByteArray DeviceWire::read(qint64 max)
{
    const qint64 n = std::min<qint64>(max, bytesAvailable());
    if (n <= 0)
        return {};
    QByteArray out = m_held.mid(m_heldPos, n);
    m_heldPos += n;
    compact(m_held, m_heldPos);
    // Room again: what waits in the connection may come on.
    if (!m_done)
        pumpLater();
    return out;
}

QString DeviceWire::errorText() const
{
    switch (m_error) {
    case Error::None:
        return {};
    case Error::ConnectionRefused:
        return QStringLiteral("Connection refused.");
    case Error::HostNotFound:
        return QStringLiteral("Host not found.");
    case Error::Closed:
        return m_status == 0 ? QStringLiteral("The device closed the connection.")
                             : QStringLiteral("The device closed the connection before its whole answer came.");
    case Error::Timeout:
        return QStringLiteral("No answer in time.");
    case Error::LoginTooLarge:
        return QStringLiteral("The device's login answer was too large.");
    case Error::NotHttp:
        return QStringLiteral("The device's answer was not HTTP.");
    case Error::Untrusted:
        return QStringLiteral("The device's certificate is not trusted.");
    case Error::Network:
        return m_detail.isEmpty() ? QStringLiteral("The connection to the device failed.") : m_detail;
    case Error::TooSlow:
        return m_status == 0 ? QStringLiteral("No answer in time.")
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

qint64 DeviceWire::room() const
{
    return std::max<qint64>(0, m_request.heldLimit - bytesAvailable());
}

// Whether bytes wait that the parser has not taken.
bool DeviceWire::inputWaits() const
{
    return m_inPos < m_in.size() || (m_socket && m_socket->bytesAvailable() > 0);
}

// Takes what the connection has into the parser, as far as the reader has
// room, and sends the signals that follow.
void DeviceWire::pump()
{
    if (m_done || m_inPump)
        return;
    m_inPump = true;
    for (;;) {
        bool gotMore = false;
        const qsizetype pending = m_in.size() - m_inPos;
        if (m_socket && pending < tun::kWireSocketBuffer_bytes && (!inBody() || room() > 0)) {
            const QByteArray more = m_socket->read(tun::kWireSocketBuffer_bytes - pending);
            if (!more.isEmpty()) {
                compact(m_in, m_inPos);
                m_in += more;
                gotMore = true;
                touch();
            }
        }
        const qsizetype before = m_in.size() - m_inPos;
        const Stage stage = m_stage;
        if (!parse() || m_done)
            break;
        if (!gotMore && before == m_in.size() - m_inPos && stage == m_stage)
            break;
    }
    m_inPump = false;
    // The device closed and all it sent that can be read is read: the
    // answer ends here, whole only when it runs to the close. (While the
    // reader has no room, the rest waits for it.)
    if (!m_done && m_closed && !(inBody() && room() == 0 && inputWaits()))
        m_stage == Stage::ToClose ? complete() : fail(Error::Closed);
    report();
}

bool DeviceWire::inBody() const
{
    return m_stage == Stage::Length || m_stage == Stage::ChunkData || m_stage == Stage::ToClose;
}

// Reads the head and the body's framing from what came; false when the
// answer turned out no HTTP (the exchange has failed then).
bool DeviceWire::parse()
{
    for (;;) {
        const QByteArray view = QByteArray::fromRawData(m_in.constData() + m_inPos, m_in.size() - m_inPos);
        switch (m_stage) {
        case Stage::Head:
        case Stage::Trailers: {
            // Lines end with CRLF, or with a bare LF as some devices write.
            qsizetype end = -1;
            qsizetype gap = 0;
            if (view.startsWith("\r\n") || view.startsWith('\n')) {
                end = 0;
                gap = view.startsWith('\n') ? 1 : 2;
            } else {
                const qsizetype crlf = view.indexOf("\r\n\r\n");
                const qsizetype lf = view.indexOf("\n\n");
                if (crlf >= 0 && (lf < 0 || crlf <= lf)) {
                    end = crlf;
                    gap = 4;
                } else if (lf >= 0) {
                    end = lf;
                    gap = 2;
                }
            }
            if (end < 0) {
                // (What is held never passes the connection's share, which
                // this bound must not pass.)
                static_assert(tun::kAnswerHead_bytes <= tun::kWireSocketBuffer_bytes);
                if (view.size() >= tun::kAnswerHead_bytes) {
                    fail(Error::NotHttp);
                    return false;
                }
                return true;
            }
            if (end > tun::kAnswerHead_bytes) {
                fail(Error::NotHttp);
                return false;
            }
            const QByteArray block = view.left(end);
            m_inPos += end + gap;
            if (m_stage == Stage::Trailers) {
                complete();
                return true;
            }
            if (block.isEmpty())
                continue; // blank lines before an answer are tolerated
            if (!readHead(block)) {
                fail(Error::NotHttp);
                return false;
            }
            if (m_status >= 100 && m_status <= 199) {
                // An interim answer ("100 Continue"): the real one follows.
                m_status = 0;
                m_headers.clear();
                continue;
            }
            m_owesHead = true;
            // A 2xx answer's body may go on as long as the device sends.
            if (m_status >= 200 && m_status <= 299)
                m_answerBound.stop();
            beginBody();
            if (m_done)
                return false;
            continue;
        }
        case Stage::Length:
        case Stage::ChunkData:
        case Stage::ToClose: {
            const qint64 n = std::min<qint64>(view.size(), room());
            const qint64 take = m_stage == Stage::ToClose ? n : std::min(n, m_left);
            if (take <= 0)
                return true;
            if (!takeBody(take))
                return false;
            if (m_stage == Stage::ToClose)
                continue;
            m_left -= take;
            if (m_left > 0)
                continue;
            if (m_stage == Stage::Length) {
                complete();
                return true;
            }
            m_stage = Stage::ChunkEnd;
            continue;
        }
        case Stage::ChunkEnd: {
            if (view.startsWith("\r\n") || view.startsWith('\n')) {
                m_inPos += view.startsWith('\n') ? 1 : 2;
                m_stage = Stage::ChunkSize;
                continue;
            }
            if (view.isEmpty() || view == "\r")
                return true;
            fail(Error::NotHttp);
            return false;
        }
        case Stage::ChunkSize: {
            const qsizetype eol = view.indexOf('\n');
            if (eol < 0) {
                if (view.size() > kChunkLine_bytes) {
                    fail(Error::NotHttp);
                    return false;
                }
                return true;
            }
            QByteArray line = view.left(eol).trimmed();
            const qsizetype ext = line.indexOf(';');
            if (ext >= 0)
                line = line.left(ext).trimmed();
            bool ok = false;
            const qint64 size = line.size() <= 15 ? line.toLongLong(&ok, 16) : -1;
            if (!ok || size < 0) {
                fail(Error::NotHttp);
                return false;
            }
            m_inPos += eol + 1;
            m_left = size;
            m_stage = size == 0 ? Stage::Trailers : Stage::ChunkData;
            continue;
        }
        case Stage::Done:
            return true;
        }
    }
}

bool DeviceWire::readHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QByteArray first = lines.value(0).trimmed();
    // "HTTP/1.1 200 OK": the version, a status of three digits, a reason.
    if (!first.startsWith("HTTP/1.") || first.size() < 12 || first.at(8) != ' ')
        return false;
    bool ok = false;
    const int status = first.mid(9, 3).toInt(&ok);
    if (!ok || status < 100 || status > 999 || (first.size() > 12 && first.at(12) != ' '))
        return false;
    m_status = status;
    m_headers.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& raw = lines.at(i);
        if ((raw.startsWith(' ') || raw.startsWith('\t')) && !m_headers.isEmpty()) {
            // A header folded over lines, as old servers write it.
            m_headers.last().second += ' ' + raw.trimmed();
            continue;
        }
        const QByteArray line = raw.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue; // not a header: nothing to read in it
        m_headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
    }
    return true;
}

void DeviceWire::beginBody()
{
    if (m_status == 204 || m_status == 304) {
        complete();
        return;
    }
    const QByteArray coding = header("transfer-encoding").toLower();
    if (!coding.isEmpty() && coding.trimmed().endsWith("chunked")) {
        m_stage = Stage::ChunkSize;
        return;
    }
    QByteArray length;
    for (const auto& [name, value] : std::as_const(m_headers)) {
        if (name != "content-length")
            continue;
        // Several lengths that differ leave the body's end unknown.
        if (!length.isEmpty() && length != value) {
            fail(Error::NotHttp);
            return;
        }
        length = value;
    }
    if (length.isEmpty()) {
        m_stage = Stage::ToClose;
        return;
    }
    bool ok = false;
    const qint64 n = length.toLongLong(&ok);
    if (!ok || n < 0) {
        fail(Error::NotHttp);
        return;
    }
    if (m_status == 401 && n > tun::kChallengeBody_bytes) {
        fail(Error::LoginTooLarge);
        return;
    }
    m_left = n;
    m_stage = Stage::Length;
    if (n == 0)
        complete();
}

bool DeviceWire::takeBody(qint64 upTo)
{
    if (m_status == 401 && m_bodyTotal + upTo > tun::kChallengeBody_bytes) {
        fail(Error::LoginTooLarge);
        return false;
    }
    compact(m_held, m_heldPos);
    m_held.append(m_in.constData() + m_inPos, upTo);
    m_inPos += upTo;
    compact(m_in, m_inPos);
    m_bodyTotal += upTo;
    m_owesData = true;
    return true;
}

void DeviceWire::complete()
{
    if (m_done)
        return;
    m_stage = Stage::Done;
    m_done = true;
    m_owesEnd = true;
    m_idle.stop();
    m_answerBound.stop();
    m_in.clear();
    m_inPos = 0;
    dropSocket();
}

void DeviceWire::fail(Error error, const QString& detail)
{
    if (m_done)
        return;
    m_error = error;
    m_detail = detail;
    complete();
}

void DeviceWire::onSocketError()
{
    if (m_done || !m_socket)
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
    if (m_done || m_closed)
        return;
    m_closed = true;
    pump();
}

// Sends the signals owed, in order; the receiver of one may end the
// exchange or delete it, which ends the rest.
void DeviceWire::report()
{
    QPointer<DeviceWire> self(this);
    if (std::exchange(m_owesHead, false)) {
        Q_EMIT headReceived();
        if (!self)
            return;
    }
    if (std::exchange(m_owesData, false) && bytesAvailable() > 0) {
        Q_EMIT readyRead();
        if (!self)
            return;
    }
    if (m_done && std::exchange(m_owesEnd, false))
        Q_EMIT finished();
}

} // namespace kvr::services
