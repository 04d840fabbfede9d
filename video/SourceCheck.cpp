#include "video/SourceCheck.h"

#include "app/core/NetAddress.h"
#include "video/Logging.h"
#include "video/StreamInput.h"
#include "video/Tunables.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace kvr::video {

namespace SourceCheckRules {

QByteArray describeRequest(const QString& url, int cseq, const QByteArray& authorization)
{
    QByteArray out = "DESCRIBE " + url.toUtf8() + " RTSP/1.0\r\nCSeq: " + QByteArray::number(cseq)
        + "\r\nAccept: application/sdp\r\nUser-Agent: Kavira\r\n";
    if (!authorization.isEmpty())
        out += "Authorization: " + authorization + "\r\n";
    return out + "\r\n";
}

int rtspStatus(const QByteArray& head)
{
    if (!head.startsWith("RTSP/1.0 ") || !head.contains("\r\n\r\n"))
        return 0;
    bool ok = false;
    const int status = head.mid(9, 3).toInt(&ok);
    return ok && status >= 100 && status <= 599 ? status : 0;
}

namespace {

QByteArray md5Hex(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

// A parameter of a challenge, quoted or not.
QByteArray challengeValue(const QByteArray& challenge, const char* name)
{
    const QRegularExpression re(
        QStringLiteral("(?:^|[\\s,])%1\\s*=\\s*(?:\"([^\"]*)\"|([^\\s,]*))").arg(QLatin1String(name)),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(challenge));
    if (!m.hasMatch())
        return {};
    return (m.capturedLength(1) > 0 ? m.captured(1) : m.captured(2)).toLatin1();
}

} // namespace

QByteArray digestAuthorization(const QByteArray& head, const QByteArray& method, const QString& user,
                               const QString& password, const QString& uri, const QByteArray& cnonce)
{
    QByteArray challenge;
    for (const QByteArray& line : head.split('\n')) {
        const QByteArray l = line.trimmed();
        if (l.toLower().startsWith("www-authenticate:") && l.mid(17).trimmed().toLower().startsWith("digest ")) {
            challenge = l.mid(17).trimmed().mid(7);
            break;
        }
    }
    const QByteArray realm = challengeValue(challenge, "realm");
    const QByteArray nonce = challengeValue(challenge, "nonce");
    if (challenge.isEmpty() || nonce.isEmpty())
        return {};
    const QByteArray ha1 = md5Hex(user.toUtf8() + ':' + realm + ':' + password.toUtf8());
    const QByteArray ha2 = md5Hex(method + ':' + uri.toUtf8());
    const bool qopAuth = challengeValue(challenge, "qop").split(',').contains("auth");
    const QByteArray nc = "00000001";
    const QByteArray response = qopAuth ? md5Hex(ha1 + ':' + nonce + ':' + nc + ':' + cnonce + ":auth:" + ha2)
                                        : md5Hex(ha1 + ':' + nonce + ':' + ha2);
    QByteArray out = "Digest username=\"" + user.toUtf8() + "\", realm=\"" + realm + "\", nonce=\"" + nonce
        + "\", uri=\"" + uri.toUtf8() + "\", response=\"" + response + '"';
    if (qopAuth)
        out += ", qop=auth, nc=" + nc + ", cnonce=\"" + cnonce + '"';
    const QByteArray opaque = challengeValue(challenge, "opaque");
    if (!opaque.isEmpty())
        out += ", opaque=\"" + opaque + '"';
    return out;
}

} // namespace SourceCheckRules

namespace {

// One question: answered once, unless its asker has gone.
struct Asked {
    QPointer<QObject> context;
    bool hadContext = false;
    SourceCheck::Done done;
    bool finished = false;

    void finish(const SourceCheck::Answer& answer)
    {
        if (finished)
            return;
        finished = true;
        if (done && (!hadContext || context))
            done(answer);
    }
};

} // namespace

SourceCheck::SourceCheck(QObject* parent) : QObject(parent) {}

SourceCheck::~SourceCheck() = default;

void SourceCheck::ask(const QString& url, const QString& token, const QString& tokenOrigin, QObject* context, Done done)
{
    const QString scheme = QUrl(url).scheme().toLower();
    if (scheme == QLatin1String("rtsp") || scheme == QLatin1String("rtsps"))
        askRtsp(url, context, std::move(done));
    else if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        askPlaylist(url, token, tokenOrigin, context, std::move(done));
    else
        QTimer::singleShot(0, context ? context : this, [done = std::move(done)] {
            if (done)
                done(Answer());
        });
}

void SourceCheck::askRtsp(const QString& url, QObject* context, Done done)
{
    const QUrl address(url);
    const bool secure = address.scheme().compare(QLatin1String("rtsps"), Qt::CaseInsensitive) == 0;
    auto asked = std::make_shared<Asked>();
    asked->context = context;
    asked->hadContext = context != nullptr;
    asked->done = std::move(done);
    auto* socket = secure ? new QSslSocket(this) : new QTcpSocket(this);
    auto* timer = new QTimer(socket);
    timer->setSingleShot(true);
    ++m_underWay;
    const QString uri = address.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded);
    const QString user = address.userName(QUrl::FullyDecoded);
    const QString password = address.password(QUrl::FullyDecoded);
    // Basic from the start, as the stream's own account; a relay that wants
    // Digest says so in its 401, answered once.
    const QByteArray basic =
        user.isEmpty() ? QByteArray() : "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
    auto state = std::make_shared<QByteArray>();
    auto triedDigest = std::make_shared<bool>(false);
    const auto finish = [this, asked, socket](bool answers) {
        if (asked->finished)
            return;
        --m_underWay;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        asked->finish({answers, {}});
    };
    connect(timer, &QTimer::timeout, this, [finish, url] {
        qCInfo(lcVideo).noquote() << "[check]" << maskSecrets(url) << "gave no answer in time";
        finish(false);
    });
    connect(socket, &QAbstractSocket::errorOccurred, this, [finish](QAbstractSocket::SocketError) { finish(false); });
    const auto send = [socket, uri, basic] { socket->write(SourceCheckRules::describeRequest(uri, 1, basic)); };
    if (secure) {
        auto* tls = static_cast<QSslSocket*>(socket);
        connect(tls, &QSslSocket::sslErrors, this, [tls, host = address.host()](const QList<QSslError>& errors) {
            if (core::isPrivateHost(host))
                tls->ignoreSslErrors(errors);
        });
        connect(tls, &QSslSocket::encrypted, this, send);
    } else {
        connect(socket, &QAbstractSocket::connected, this, send);
    }
    connect(socket, &QIODevice::readyRead, this, [socket, state, triedDigest, finish, user, password, uri, url] {
        *state += socket->readAll();
        const qsizetype end = state->indexOf("\r\n\r\n");
        if (end < 0) {
            if (state->size() > tun::kSourceCheckHeadBytes) {
                qCInfo(lcVideo).noquote() << "[check]" << maskSecrets(url) << "answered with no end to its head";
                finish(false);
            }
            return;
        }
        const int status = SourceCheckRules::rtspStatus(*state);
        if (status == 401 && !*triedDigest) {
            *triedDigest = true;
            const QByteArray digest =
                SourceCheckRules::digestAuthorization(state->left(end + 4), "DESCRIBE", user, password, uri,
                                                      QByteArray::number(QRandomGenerator::global()->generate64(), 16));
            if (!digest.isEmpty()) {
                state->clear(); // what a 401 carries after its head is of no use
                socket->write(SourceCheckRules::describeRequest(uri, 2, digest));
                return;
            }
        }
        if (status != 200)
            qCInfo(lcVideo).noquote() << "[check]" << maskSecrets(url) << "answered" << status;
        finish(status == 200);
    });
    timer->start(tun::kSourceCheckTimeout);
    const quint16 port = quint16(address.port(secure ? 322 : 554));
    if (secure)
        static_cast<QSslSocket*>(socket)->connectToHostEncrypted(address.host(), port);
    else
        socket->connectToHost(address.host(), port);
}

void SourceCheck::askPlaylist(const QString& url, const QString& token, const QString& tokenOrigin, QObject* context,
                              Done done)
{
    if (!m_net) {
        m_net = new QNetworkAccessManager(this);
        connect(m_net, &QNetworkAccessManager::sslErrors, this,
                [](QNetworkReply* reply, const QList<QSslError>& errors) {
                    if (core::isPrivateHost(reply->url().host(QUrl::FullyDecoded)))
                        reply->ignoreSslErrors(errors);
                });
    }
    auto asked = std::make_shared<Asked>();
    asked->context = context;
    asked->hadContext = context != nullptr;
    asked->done = std::move(done);
    const QUrl address(url);
    QNetworkRequest request(address);
    request.setRawHeader("Accept", "*/*");
    request.setTransferTimeout(int(std::chrono::milliseconds(tun::kSourceCheckTimeout).count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    if (tokenAllowed(address, token, tokenOrigin))
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    QNetworkReply* reply = m_net->get(request);
    reply->setReadBufferSize(64 * 1024);
    ++m_underWay;
    auto body = std::make_shared<QByteArray>();
    const auto finish = [this, asked, reply, body](bool complete) {
        if (asked->finished)
            return;
        --m_underWay;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
        Answer answer;
        answer.answers = complete && status == 200 && body->trimmed().startsWith("#EXTM3U");
        if (answer.answers)
            answer.playlist = QCryptographicHash::hash(*body, QCryptographicHash::Sha1);
        asked->finish(answer);
    };
    connect(reply, &QIODevice::readyRead, this, [reply, body, finish] {
        *body += reply->readAll();
        if (body->size() > tun::kPlaylistMaxBytes)
            finish(false);
    });
    connect(reply, &QNetworkReply::finished, this, [reply, body, finish] {
        *body += reply->readAll();
        finish(reply->error() == QNetworkReply::NoError && body->size() <= tun::kPlaylistMaxBytes);
    });
}

} // namespace kvr::video
