#include "video/StreamInput.h"

#include "app/core/NetAddress.h"
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

bool tokenAllowed(const QUrl& url, const QString& token, const QString& tokenHost)
{
    return !token.isEmpty() && url.host() == tokenHost
        && !url.path(QUrl::FullyDecoded).contains(QLatin1String(kRelayHlsMarker));
}

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
    auto done = [&] { signalled = true; loop.quit(); };
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

int MemSource::read(uint8_t* buffer, int size)
{
    if (pos_ >= data_.size())
        return AVERROR_EOF;
    const int n = int(std::min<int64_t>(size, data_.size() - pos_));
    std::memcpy(buffer, data_.constData() + pos_, size_t(n));
    pos_ += n;
    return n;
}

int64_t MemSource::seek(int64_t offset, int whence)
{
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return data_.size();
    int64_t target;
    switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = pos_ + offset; break;
    case SEEK_END: target = data_.size() + offset; break;
    default: return -1;
    }
    if (target < 0 || target > data_.size())
        return -1;
    pos_ = target;
    return target;
}

// ---- HttpSource ----------------------------------------------------------------

HttpSource::HttpSource(const std::atomic<bool>* stopFlag, const QUrl& url, const QByteArray& authorization)
    : stopFlag_(stopFlag), url_(url), authorization_(authorization)
{
    clock_.start();
}

HttpSource::~HttpSource()
{
    dropReply();
    qWarning().noquote() << QStringLiteral("[hls] %1 closed after %2 MB read in %3 ms")
                                .arg(shortName(url_))
                                .arg(double(bytesRead_) / (1024.0 * 1024.0), 0, 'f', 1)
                                .arg(clock_.elapsed());
}

void HttpSource::dropReply()
{
    if (!reply_)
        return;
    reply_->disconnect();
    reply_->abort();
    // Deleted now rather than later: the decode thread has no event loop of
    // its own that would ever get round to it.
    delete reply_;
    reply_ = nullptr;
    net_.reset(); // closes the connection (see the class comment)
}

bool HttpSource::request(int64_t offset)
{
    dropReply();
    buffer_.clear();
    bufferStart_ = pos_ = offset;
    expectedEnd_ = -1;
    finished_ = failed_ = false;
    ++requests_;

    QNetworkRequest req(url_);
    req.setRawHeader("Accept", "*/*");
    if (!authorization_.isEmpty())
        req.setRawHeader("Authorization", authorization_);
    req.setRawHeader("Range", "bytes=" + QByteArray::number(qint64(offset)) + "-");
    net_ = std::make_unique<QNetworkAccessManager>();
    // Certificate errors are tolerated for private hosts only.
    QObject::connect(net_.get(), &QNetworkAccessManager::sslErrors, net_.get(),
                     [](QNetworkReply* r, const QList<QSslError>&) {
                         if (isPrivateHost(r->url().host()))
                             r->ignoreSslErrors();
                     });
    reply_ = net_->get(req);
    reply_->setReadBufferSize(kReplyReadBufferBytes);

    if (!reply_->isFinished() && !reply_->hasRawHeader("Content-Type")
        && !reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        waitOnReply(reply_, WaitFor::Headers, kFetchTimeout, stopFlag_);

    httpStatus_ = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (httpStatus_ == 200) {
        rangesSupported_ = false;
        const QByteArray len = reply_->rawHeader("Content-Length");
        bool ok = false;
        const qint64 n = len.toLongLong(&ok);
        totalSize_ = (ok && n >= 1) ? n : -1;
        expectedEnd_ = totalSize_;
        bufferStart_ = 0; // the body starts at byte 0 whatever was asked
    } else if (httpStatus_ == 206) {
        rangesSupported_ = true;
        const QByteArray range = reply_->rawHeader("Content-Range");
        const int slash = range.lastIndexOf('/');
        if (slash >= 1) {
            bool ok = false;
            const qint64 n = range.mid(slash + 1).trimmed().toLongLong(&ok);
            if (ok && n >= 0)
                totalSize_ = n;
        }
        bool lengthOk = false;
        const qint64 length = reply_->rawHeader("Content-Length").toLongLong(&lengthOk);
        expectedEnd_ = lengthOk ? offset + length : totalSize_;
    } else {
        failed_ = true;
        qWarning().noquote() << QStringLiteral("[hls] %1 HTTP %2").arg(shortName(url_)).arg(httpStatus_);
        return false;
    }
    if (!loggedOpen_) {
        loggedOpen_ = true;
        const QString size = totalSize_ >= 0
            ? QString::number(double(totalSize_) / (1024.0 * 1024.0), 'f', 1)
            : QStringLiteral("?");
        qWarning().noquote() << QStringLiteral("[hls] %1 HTTP %2 (%3), %4 MB, headers in %5 ms")
                                    .arg(shortName(url_))
                                    .arg(httpStatus_)
                                    .arg(rangesSupported_ ? QStringLiteral("ranges") : QStringLiteral("no ranges"))
                                    .arg(size)
                                    .arg(clock_.elapsed());
    }
    return true;
}

void HttpSource::drain()
{
    if (!reply_)
        return;
    const bool done = reply_->isFinished();
    buffer_ += reply_->readAll();
    if (done) {
        finished_ = true;
        QString problem;
        if (reply_->error() != QNetworkReply::NoError)
            problem = reply_->errorString();
        else if (expectedEnd_ >= 0 && bufferStart_ + buffer_.size() < expectedEnd_)
            // A body shorter than announced is a cut connection, not an end.
            problem = QStringLiteral("connection closed before the end of the body");
        if (!problem.isEmpty()) {
            failed_ = true;
            qWarning().noquote() << QStringLiteral("[hls] %1 failed: %2").arg(shortName(url_), problem);
        }
    }
}

int HttpSource::read(uint8_t* buffer, int size)
{
    if (stopped())
        return AVERROR_EXIT;
    while (!(bufferStart_ <= pos_ && pos_ < bufferStart_ + buffer_.size())) {
        if (totalSize_ >= 0 && pos_ >= totalSize_)
            return AVERROR_EOF;
        if (pos_ < bufferStart_)
            return AVERROR(EIO); // cannot happen: seeks behind the window ask again
        if (!buffer_.isEmpty()) {
            // Everything received was consumed (or skipped over): let it go.
            bufferStart_ += buffer_.size();
            buffer_.clear();
            continue;
        }
        if (finished_)
            return failed_ ? AVERROR(EIO) : AVERROR_EOF;
        if (!reply_)
            return AVERROR(ETIMEDOUT);
        drain();
        if (!finished_ && buffer_.isEmpty()) {
            const WaitEnd end = waitOnReply(reply_, WaitFor::Data, kReadStallTimeout, stopFlag_);
            if (end == WaitEnd::Stopped)
                return AVERROR_EXIT;
            if (end == WaitEnd::TimedOut)
                return AVERROR(ETIMEDOUT);
            drain();
        }
        if (stopped())
            return AVERROR_EXIT;
    }
    const int64_t at = pos_ - bufferStart_;
    const int n = int(std::min<int64_t>(size, buffer_.size() - at));
    std::memcpy(buffer, buffer_.constData() + at, size_t(n));
    pos_ += n;
    bytesRead_ += uint64_t(n);
    if (pos_ - bufferStart_ > kTrimAboveBytes) {
        const int64_t cut = pos_ - bufferStart_ - kKeepBehindBytes;
        buffer_.remove(0, qsizetype(cut));
        bufferStart_ += cut;
    }
    return n;
}

int64_t HttpSource::seek(int64_t offset, int whence)
{
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return totalSize_;
    int64_t target;
    switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = pos_ + offset; break;
    case SEEK_END:
        if (totalSize_ < 0)
            return -1;
        target = totalSize_ + offset;
        break;
    default: return -1;
    }
    if (target < 0)
        return -1;
    if (bufferStart_ <= target && target <= bufferStart_ + buffer_.size()) {
        pos_ = target;
        return target;
    }
    if (!rangesSupported_ && target > pos_ && target - pos_ < kReadOnSeekBytes) {
        pos_ = target;
        return target;
    }
    return request(target) ? target : -1;
}

// ---- Whole-file fetch -----------------------------------------------------------

FetchResult fetchWhole(const FetchRequest& r)
{
    FetchResult result;
    auto stopped = [&] { return r.stopFlag && r.stopFlag->load(); };
    if (!r.net || stopped())
        return result;
    const QUrl url(r.url);
    const bool playlist = url.path().endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive);
    int attempts = playlist ? (r.hadPicture ? kPlaylistAttemptsPlaying : kPlaylistAttemptsFresh) : 1;
    const QString name = shortName(url);

    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (stopped())
            return FetchResult{};
        QElapsedTimer timer;
        timer.start();
        QNetworkRequest req(url);
        req.setRawHeader("Accept", "*/*");
        if (tokenAllowed(url, r.token, r.tokenHost))
            req.setRawHeader("Authorization", "Bearer " + r.token.toUtf8());
        QNetworkReply* reply = r.net->get(req);
        waitOnReply(reply, WaitFor::Finish, kFetchTimeout, r.stopFlag);

        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        QByteArray body;
        QString errorText;
        if (reply->isFinished()) {
            body = reply->readAll();
            errorText = reply->errorString();
        } else {
            errorText = QStringLiteral("Request timed out");
        }
        reply->disconnect();
        reply->abort();
        delete reply;
        if (stopped())
            return FetchResult{};

        qWarning().noquote() << QStringLiteral("[hls] %1 HTTP %2, %3 KB in %4 ms")
                                    .arg(name).arg(status).arg(body.size() / 1024).arg(timer.elapsed());
        if (status >= 200 && status <= 299 && !body.isEmpty()) {
            result.body = body;
            result.error.clear();
            return result;
        }
        result.error = status >= 1 ? QStringLiteral("HTTP %1").arg(status) : errorText;
        qWarning().noquote() << "HLS fetch failed" << maskSecrets(r.url) << result.error;

        const bool retryable = playlist && (status == 404 || status == 502 || status == 503 || status == 504);
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

} // namespace kvr::video
