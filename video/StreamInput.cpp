#include "video/StreamInput.h"

#include "app/core/NetAddress.h"
#include "video/Logging.h"
#include "video/Tunables.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <QtDebug>

#include <thread>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include <cerrno>
#include <cstring>

using namespace kvr::core;

namespace kvr::video {

using namespace tun;

InputKind classifyInput(const QString& url)
{
    if (url.startsWith(QLatin1String("rtsp://"), Qt::CaseInsensitive)
        || url.startsWith(QLatin1String("rtsps://"), Qt::CaseInsensitive))
        return InputKind::Rtsp;
    if (QUrl(url).path(QUrl::FullyDecoded).contains(QLatin1String(kRelayHlsMarker)))
        return InputKind::RelayHls;
    return InputKind::OtherHls;
}

bool isRtsps(const QString& url)
{
    return url.startsWith(QLatin1String("rtsps://"), Qt::CaseInsensitive);
}

QString maskSecrets(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("(://[^:/@\\s]+):[^@\\s]*@"));
    QString out = text;
    out.replace(re, QStringLiteral("\\1:***@"));
    return out;
}

bool tokenAllowed(const QUrl& url, const QString& token, const QString& tokenOrigin)
{
    if (token.isEmpty())
        return false;
    const QUrl origin(tokenOrigin, QUrl::StrictMode);
    const QString scheme = origin.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    const int ownPort = scheme == QLatin1String("https") ? 443 : 80;
    return !origin.host().isEmpty() && url.scheme().toLower() == scheme
        && url.host().compare(origin.host(), Qt::CaseInsensitive) == 0 && url.port(ownPort) == origin.port(ownPort)
        && !url.path(QUrl::FullyDecoded).contains(QLatin1String(kRelayHlsMarker));
}

bool isRedirect(int httpStatus)
{
    return httpStatus == 301 || httpStatus == 302 || httpStatus == 303 || httpStatus == 307 || httpStatus == 308;
}

QUrl redirectTarget(const QUrl& from, const QByteArray& location)
{
    if (location.isEmpty())
        return {};
    const QUrl to = from.resolved(QUrl::fromEncoded(location.trimmed(), QUrl::TolerantMode));
    const QString scheme = to.scheme().toLower();
    const bool secureFrom = from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    if (!to.isValid() || to.host().isEmpty() || (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        || (secureFrom && scheme != QLatin1String("https")))
        return {};
    return to;
}

namespace {

// Why a request got no success, as a kind and in words: its HTTP status
// where it has one, else what the network met, or a time-out when it never
// finished. The network layer's own words are for the log.
struct ReplyFailure {
    PlayerFailure kind = PlayerFailure::Other;
    QString words;
};
// A redirect that is not followed: less safe than where it came from, or
// one more than a request needs.
ReplyFailure redirectFailure(bool lessSafe)
{
    return {PlayerFailure::Other,
            lessSafe ? QStringLiteral("The server redirected the request to a less safe address.")
                     : QStringLiteral("The server redirected the request too many times.")};
}

// A GET of `url` whose redirects this side follows, with the token only
// where it may go.
QNetworkRequest getRequest(const QUrl& url, const QString& token, const QString& tokenOrigin)
{
    QNetworkRequest req(url);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    req.setRawHeader("Accept", "*/*");
    if (tokenAllowed(url, token, tokenOrigin))
        req.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    return req;
}

ReplyFailure replyFailure(const QNetworkReply* reply, int httpStatus)
{
    if (httpStatus >= 1)
        return {failureFromStatus(httpStatus), QStringLiteral("HTTP %1").arg(httpStatus)};
    if (!reply->isFinished())
        return {PlayerFailure::TimedOut, QStringLiteral("No answer in time.")};
    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
        return {PlayerFailure::Refused, QStringLiteral("The connection was refused.")};
    case QNetworkReply::TimeoutError:
        return {PlayerFailure::TimedOut, QStringLiteral("No answer in time.")};
    case QNetworkReply::SslHandshakeFailedError:
        return {PlayerFailure::Untrusted, QStringLiteral("The server's certificate is not trusted.")};
    case QNetworkReply::RemoteHostClosedError:
        return {PlayerFailure::Other, QStringLiteral("The connection was closed before an answer came.")};
    case QNetworkReply::HostNotFoundError:
        return {PlayerFailure::Other, QStringLiteral("The server's name is not known.")};
    default:
        return {PlayerFailure::Other, QStringLiteral("The request failed.")};
    }
}

} // namespace

QString shortName(const QUrl& url)
{
    const QString path = url.path();
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

WaitEnd waitOnReply(QNetworkReply* reply, WaitFor what, std::chrono::milliseconds timeout,
                    const std::atomic<bool>* stopFlag)
{
    if (stopFlag && stopFlag->load())
        return WaitEnd::Stopped;
    if (reply->isFinished())
        return WaitEnd::Signalled;
    QEventLoop loop;
    bool signalled = false;
    bool stopped = false;
    auto done = [&] {
        signalled = true;
        loop.quit();
    };
    QObject::connect(reply, &QNetworkReply::finished, &loop, done);
    if (what == WaitFor::Headers)
        QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, done);
    else if (what == WaitFor::Data)
        QObject::connect(reply, &QIODevice::readyRead, &loop, done);
    QElapsedTimer elapsed;
    elapsed.start();
    // The wait is cut into short slices so that a stop ends it at once rather
    // than at the request's time-out.
    QTimer poll;
    poll.setInterval(int(kStopPoll.count()));
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stopFlag && stopFlag->load()) {
            stopped = true;
            loop.quit();
        } else if (elapsed.elapsed() >= timeout.count()) {
            loop.quit();
        }
    });
    poll.start();
    loop.exec();
    if (signalled)
        return WaitEnd::Signalled;
    return stopped ? WaitEnd::Stopped : WaitEnd::TimedOut;
}

// ---- MemSource ----------------------------------------------------------------

namespace {

// Where a seek of the demuxer asks to go; -1 for a kind of seek no source
// serves, or from the end when the size is not known (negative).
int64_t seekPosition(int64_t offset, int whence, int64_t pos, int64_t size)
{
    switch (whence) {
    case SEEK_SET:
        return offset;
    case SEEK_CUR:
        return pos + offset;
    case SEEK_END:
        return size < 0 ? -1 : size + offset;
    default:
        return -1;
    }
}

} // namespace

int MemSource::read(uint8_t* buffer, int size)
{
    if (m_pos >= m_data.size())
        return AVERROR_EOF;
    const int n = int(std::min<int64_t>(size, m_data.size() - m_pos));
    std::memcpy(buffer, m_data.constData() + m_pos, size_t(n));
    m_pos += n;
    return n;
}

int64_t MemSource::seek(int64_t offset, int whence)
{
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return m_data.size();
    const int64_t target = seekPosition(offset, whence, m_pos, m_data.size());
    if (target < 0 || target > m_data.size())
        return -1;
    m_pos = target;
    return target;
}

// ---- NetPool ------------------------------------------------------------------

std::shared_ptr<QNetworkAccessManager> NetPool::manager()
{
    if (!m_current) {
        m_current = std::make_shared<QNetworkAccessManager>();
        QObject::connect(m_current.get(), &QNetworkAccessManager::sslErrors, m_current.get(),
                         [](QNetworkReply* r, const QList<QSslError>&) {
                             if (isPrivateHost(r->url().host()))
                                 r->ignoreSslErrors();
                         });
    }
    return m_current;
}

void NetPool::retire(const std::shared_ptr<QNetworkAccessManager>& used)
{
    if (used == m_current)
        m_current.reset();
}

// ---- HttpSource ----------------------------------------------------------------

HttpSource::HttpSource(NetPool* pool, const std::atomic<bool>* stopFlag, const QUrl& url, const QString& token,
                       const QString& tokenOrigin)
    : m_pool(pool),
      m_stopFlag(stopFlag),
      m_url(url),
      m_token(token),
      m_tokenOrigin(tokenOrigin)
{
    m_clock.start();
}

HttpSource::~HttpSource()
{
    dropReply();
    qCWarning(lcVideo).noquote() << QStringLiteral("[hls] %1 closed after %2 MB read in %3 ms")
                                        .arg(shortName(m_url))
                                        .arg(double(m_bytesRead) / (1024.0 * 1024.0), 0, 'f', 1)
                                        .arg(m_clock.elapsed());
}

void HttpSource::dropReply()
{
    if (!m_reply)
        return;
    // A body that has all arrived finishes in a moment: its connection can
    // then serve the next request (the next segment, typically).
    const bool bodyIn =
        m_expectedEnd >= 0 && m_bufferStart + m_buffer.size() + m_reply->bytesAvailable() >= m_expectedEnd;
    if (bodyIn && !m_reply->isFinished())
        waitOnReply(m_reply, WaitFor::Finish, kFinishGrace, m_stopFlag);
    if (!m_reply->isFinished())
        m_pool->retire(m_net); // its connection must not serve another request
    m_reply->disconnect();
    m_reply->abort();
    // Deleted now rather than later: the decode thread has no event loop of
    // its own that would ever get round to it.
    delete m_reply;
    m_reply = nullptr;
    m_net.reset();
}

bool HttpSource::request(int64_t offset)
{
    dropReply();
    m_buffer.clear();
    m_bufferStart = m_pos = offset;
    m_expectedEnd = -1;
    m_finished = m_failed = false;
    m_failure = PlayerFailure::None;
    m_failureText.clear();
    ++m_requests;

    // Each request starts from the address given: a redirect may be for
    // this moment only.
    QUrl at = m_url;
    ReplyFailure refused;
    for (int hops = 0;; ++hops) {
        QNetworkRequest req = getRequest(at, m_token, m_tokenOrigin);
        req.setRawHeader("Range", "bytes=" + QByteArray::number(qint64(offset)) + "-");
        m_net = m_pool->manager();
        m_reply = m_net->get(req);
        m_reply->setReadBufferSize(kReplyReadBufferBytes);

        if (!m_reply->isFinished() && !m_reply->hasRawHeader("Content-Type")
            && !m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            waitOnReply(m_reply, WaitFor::Headers, kFetchTimeout, m_stopFlag);

        m_httpStatus = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!isRedirect(m_httpStatus) || stopped())
            break;
        const QUrl next = redirectTarget(at, m_reply->rawHeader("Location"));
        if (next.isEmpty() || hops >= kMaxRedirects) {
            refused = redirectFailure(next.isEmpty());
            break;
        }
        qCWarning(lcVideo).noquote()
            << QStringLiteral("[hls] %1 HTTP %2, following it").arg(shortName(at)).arg(m_httpStatus);
        dropReply();
        at = next;
    }
    if (m_httpStatus == 200) {
        m_rangesSupported = false;
        const QByteArray len = m_reply->rawHeader("Content-Length");
        bool ok = false;
        const qint64 n = len.toLongLong(&ok);
        m_totalSize = (ok && n >= 1) ? n : -1;
        m_expectedEnd = m_totalSize;
        m_bufferStart = 0; // the body starts at byte 0 whatever was asked
    } else if (m_httpStatus == 206) {
        m_rangesSupported = true;
        const QByteArray range = m_reply->rawHeader("Content-Range");
        const int slash = range.lastIndexOf('/');
        if (slash >= 1) {
            bool ok = false;
            const qint64 n = range.mid(slash + 1).trimmed().toLongLong(&ok);
            if (ok && n >= 0)
                m_totalSize = n;
        }
        bool lengthOk = false;
        const qint64 length = m_reply->rawHeader("Content-Length").toLongLong(&lengthOk);
        m_expectedEnd = lengthOk ? offset + length : m_totalSize;
    } else {
        m_failed = true;
        const ReplyFailure why = refused.words.isEmpty() ? replyFailure(m_reply, m_httpStatus) : refused;
        m_failure = why.kind;
        m_failureText = why.words;
        qCWarning(lcVideo).noquote() << QStringLiteral("[hls] %1 HTTP %2").arg(shortName(m_url)).arg(m_httpStatus)
                                     << (m_httpStatus ? QString() : maskSecrets(m_reply->errorString()));
        return false;
    }
    if (!m_loggedOpen) {
        m_loggedOpen = true;
        const QString size =
            m_totalSize >= 0 ? QString::number(double(m_totalSize) / (1024.0 * 1024.0), 'f', 1) : QStringLiteral("?");
        qCWarning(lcVideo).noquote() << QStringLiteral("[hls] %1 HTTP %2 (%3), %4 MB, headers in %5 ms")
                                            .arg(shortName(m_url))
                                            .arg(m_httpStatus)
                                            .arg(m_rangesSupported ? QStringLiteral("ranges")
                                                                   : QStringLiteral("no ranges"))
                                            .arg(size)
                                            .arg(m_clock.elapsed());
    }
    return true;
}

void HttpSource::drain()
{
    if (!m_reply)
        return;
    const bool done = m_reply->isFinished();
    m_buffer += m_reply->readAll();
    if (done) {
        m_finished = true;
        QString problem;
        if (m_reply->error() != QNetworkReply::NoError)
            problem = maskSecrets(m_reply->errorString());
        else if (m_expectedEnd >= 0 && m_bufferStart + m_buffer.size() < m_expectedEnd)
            // A body shorter than announced is a cut connection, not an end.
            problem = QStringLiteral("connection closed before the end of the body");
        if (!problem.isEmpty()) {
            m_failed = true;
            qCWarning(lcVideo).noquote() << QStringLiteral("[hls] %1 failed: %2").arg(shortName(m_url), problem);
        }
    }
}

int HttpSource::read(uint8_t* buffer, int size)
{
    if (stopped())
        return AVERROR_EXIT;
    while (!(m_bufferStart <= m_pos && m_pos < m_bufferStart + m_buffer.size())) {
        if (m_totalSize >= 0 && m_pos >= m_totalSize)
            return AVERROR_EOF;
        if (m_pos < m_bufferStart)
            return AVERROR(EIO); // cannot happen: seeks behind the window ask again
        if (!m_buffer.isEmpty()) {
            // Everything received was consumed (or skipped over): let it go.
            m_bufferStart += m_buffer.size();
            m_buffer.clear();
            continue;
        }
        if (m_finished)
            return m_failed ? AVERROR(EIO) : AVERROR_EOF;
        if (!m_reply)
            return AVERROR(ETIMEDOUT);
        drain();
        if (!m_finished && m_buffer.isEmpty()) {
            const WaitEnd end = waitOnReply(m_reply, WaitFor::Data, kReadStallTimeout, m_stopFlag);
            if (end == WaitEnd::Stopped)
                return AVERROR_EXIT;
            if (end == WaitEnd::TimedOut)
                return AVERROR(ETIMEDOUT);
            drain();
        }
        if (stopped())
            return AVERROR_EXIT;
    }
    const int64_t at = m_pos - m_bufferStart;
    const int n = int(std::min<int64_t>(size, m_buffer.size() - at));
    std::memcpy(buffer, m_buffer.constData() + at, size_t(n));
    m_pos += n;
    m_bytesRead += uint64_t(n);
    if (m_pos - m_bufferStart > kTrimAboveBytes) {
        const int64_t cut = m_pos - m_bufferStart - kKeepBehindBytes;
        m_buffer.remove(0, qsizetype(cut));
        m_bufferStart += cut;
    }
    return n;
}

int64_t HttpSource::seek(int64_t offset, int whence)
{
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return m_totalSize;
    const int64_t target = seekPosition(offset, whence, m_pos, m_totalSize);
    if (target < 0)
        return -1;
    if (m_bufferStart <= target && target <= m_bufferStart + m_buffer.size()) {
        m_pos = target;
        return target;
    }
    if (!m_rangesSupported && target > m_pos && target - m_pos < kReadOnSeekBytes) {
        m_pos = target;
        return target;
    }
    return request(target) ? target : -1;
}

// ---- Whole-file fetch -----------------------------------------------------------

namespace {

// One attempt of a whole-file fetch: the body read as it comes, never beyond
// `cap`, and within `timeout` for the whole answer.
struct Attempt {
    int status = 0;
    QByteArray body;
    bool finished = false;
    bool tooLarge = false;
    QString networkWords; // the network layer's own, for the log
    ReplyFailure failure;
};

Attempt fetchOnce(const FetchRequest& r, const QUrl& first, qint64 cap)
{
    Attempt a;
    QElapsedTimer timer;
    timer.start();
    QUrl url = first;
    for (int hops = 0;; ++hops) {
        a = Attempt();
        const std::shared_ptr<QNetworkAccessManager> manager = r.net->manager();
        QNetworkReply* reply = manager->get(getRequest(url, r.token, r.tokenOrigin));
        // What is not taken yet stays small: the body is taken as it comes.
        reply->setReadBufferSize(kFetchReadBufferBytes);
        for (;;) {
            bool lengthOk = false;
            const qint64 announced = reply->rawHeader("Content-Length").toLongLong(&lengthOk);
            const bool done = reply->isFinished();
            a.body += reply->read(cap + 1 - a.body.size());
            if ((lengthOk && announced > cap) || a.body.size() > cap) {
                a.tooLarge = true;
                break;
            }
            if (done)
                break;
            // The bound is on the whole answer, redirects and all.
            const auto left = r.timeout - std::chrono::milliseconds(timer.elapsed());
            if (left.count() <= 0 || waitOnReply(reply, WaitFor::Data, left, r.stopFlag) == WaitEnd::Stopped)
                break;
        }
        a.finished = reply->isFinished();
        a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        a.failure = replyFailure(reply, a.status);
        if (a.finished && reply->error() != QNetworkReply::NoError)
            a.networkWords = maskSecrets(reply->errorString());
        const QByteArray location = reply->rawHeader("Location");
        if (!a.finished)
            r.net->retire(manager); // its connection must not serve another request
        reply->disconnect();
        reply->abort();
        delete reply;
        if (!a.finished || a.tooLarge || !isRedirect(a.status) || (r.stopFlag && r.stopFlag->load()))
            return a;
        const QUrl next = redirectTarget(url, location);
        if (next.isEmpty() || hops >= kMaxRedirects) {
            a.failure = redirectFailure(next.isEmpty());
            return a;
        }
        qCWarning(lcVideo).noquote()
            << QStringLiteral("[hls] %1 HTTP %2, following it").arg(shortName(url)).arg(a.status);
        url = next;
    }
}

} // namespace

FetchResult fetchWhole(const FetchRequest& r)
{
    FetchResult result;
    auto stopped = [&] { return r.stopFlag && r.stopFlag->load(); };
    if (!r.net || stopped())
        return result;
    const QUrl url(r.url);
    const bool playlist = url.path().endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive);
    int attempts = playlist ? (r.hadPicture ? kPlaylistAttemptsPlaying : kPlaylistAttemptsFresh) : 1;
    const qint64 cap = playlist ? kPlaylistMaxBytes : kWholeFileMaxBytes;
    const QString what = playlist ? QStringLiteral("the playlist") : QStringLiteral("the video segment");
    const QString name = shortName(url);

    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (stopped())
            return FetchResult{};
        QElapsedTimer timer;
        timer.start();
        const Attempt a = fetchOnce(r, url, cap);
        if (stopped())
            return FetchResult{};

        result.received = a.body.size();
        qCWarning(lcVideo).noquote() << QStringLiteral("[hls] %1 HTTP %2, %3 KB in %4 ms")
                                            .arg(name)
                                            .arg(a.status)
                                            .arg(a.body.size() / 1024)
                                            .arg(timer.elapsed());
        const bool success = a.status >= 200 && a.status <= 299;
        if (success && a.finished && !a.tooLarge && !a.body.isEmpty()) {
            result.body = a.body;
            result.error.clear();
            result.failure = PlayerFailure::None;
            return result;
        }
        if (a.tooLarge) {
            // Read no further: what was sent beyond the bound is not taken.
            result.failure = PlayerFailure::Other;
            result.error = playlist ? QStringLiteral("The playlist is too large.")
                                    : QStringLiteral("The video segment is too large.");
        } else if (!a.finished && (a.status >= 1 || !a.body.isEmpty())) {
            // Cut by the time bound while it came: not the server's status.
            result.failure = PlayerFailure::TimedOut;
            result.error = QStringLiteral("The server did not finish sending %1.").arg(what);
        } else if (success && a.finished) {
            result.failure = PlayerFailure::Other;
            result.error = QStringLiteral("HTTP %1").arg(a.status); // a 2xx with an empty body
        } else {
            result.failure = a.failure.kind;
            result.error = a.failure.words;
        }
        qCWarning(lcVideo).noquote() << "HLS fetch failed" << maskSecrets(r.url) << result.error << a.networkWords;

        const int status = a.status;
        const bool retryable =
            playlist && !a.tooLarge && a.finished && (status == 404 || status == 502 || status == 503 || status == 504);
        if (!retryable)
            return result;
        if (attempt + 1 >= attempts)
            return result;
        for (int i = 0; i < int(kPlaylistRetryPause / kSleepSlice); ++i) {
            if (stopped())
                return FetchResult{};
            std::this_thread::sleep_for(kSleepSlice);
        }
    }
    return result;
}

// ---- Live playlists ----------------------------------------------------------------

bool LivePlaylistWatch::stale(const QString& url, const QByteArray& text, double now)
{
    if (text.contains("#EXT-X-ENDLIST") || !text.contains("#EXTINF"))
        return false;
    qint64 sequence = 0;
    double target = 0.0;
    qint64 segments = 0;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("#EXT-X-MEDIA-SEQUENCE:"))
            sequence = line.mid(22).toLongLong();
        else if (line.startsWith("#EXT-X-TARGETDURATION:"))
            target = line.mid(22).toDouble();
        else if (line.startsWith("#EXTINF"))
            ++segments;
    }
    Seen& seen = m_seen[url];
    const qint64 last = sequence + segments - 1;
    if (last != seen.lastSegment) {
        seen.lastSegment = last;
        seen.since = now;
        return false;
    }
    return now - seen.since > std::max(kStalePlaylistTargets * target, kStalePlaylistMin.count());
}

} // namespace kvr::video
