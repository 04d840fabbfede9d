#include "video/PlayerInput.h"

#include "video/Logging.h"
#include "video/Playback.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

extern "C" {
#include <libavformat/avformat.h>
}

using namespace kvr::core;

namespace kvr::video {

namespace {

// The I/O context around one byte source.
int readSource(void* opaque, uint8_t* buffer, int size)
{
    return static_cast<Source*>(opaque)->read(buffer, size);
}
int64_t seekSource(void* opaque, int64_t offset, int whence)
{
    return static_cast<Source*>(opaque)->seek(offset, whence);
}

// The FFmpeg hooks get the playback as their opaque pointer.
Playback* playbackOf(AVFormatContext* ctx)
{
    return ctx ? static_cast<Playback*>(ctx->opaque) : nullptr;
}

int interruptCallback(void* opaque)
{
    auto* p = static_cast<Playback*>(opaque);
    if (!p)
        return 0;
    // A stop ends a bounded close at once too: the owner is waiting for it.
    if (p->stopFlag.load())
        return 1;
    // Segments kept failing: the demuxer would go on asking for every one
    // its playlist names.
    if (p->inputGivenUp)
        return 1;
    if (p->deadlineArmed.load())
        return steadyMs() > p->deadlineMs.load() ? 1 : 0;
    return 0;
}

int ioOpen(AVFormatContext* context, AVIOContext** result, const char* address, int flags, AVDictionary** options)
{
    Q_UNUSED(flags)
    Q_UNUSED(options)
    Playback* p = playbackOf(context);
    if (!p || p->stopFlag.load())
        return AVERROR_EXIT;
    const QString where = QString::fromUtf8(address);
    Source* source = nullptr;

    if (where == QLatin1String(kInlinePlaylistUrl)) {
        source = new MemSource(p->inlinePlaylist);
    } else if (!where.contains(QLatin1String("://")) && QFileInfo::exists(where)) {
        QFile file(where);
        if (!file.open(QIODevice::ReadOnly))
            return AVERROR(EIO);
        source = new MemSource(file.readAll());
    } else {
        const QUrl u(where);
        const QString path = u.path();
        if (!path.endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive) && p->net
            && !path.contains(QLatin1String(kRelayHlsMarker))) {
            auto* http = new HttpSource(p->net, &p->stopFlag, u, p->token, p->tokenOrigin);
            if (!http->request(0)) {
                p->noteError(http->failure(), http->failureText());
                delete http;
                if (p->stopFlag.load())
                    return AVERROR_EXIT;
                p->segmentOpened(false);
                return AVERROR(EIO);
            }
            p->segmentOpened(true);
            source = http;
        } else {
            const QByteArray body = p->fetchBlocking(where, classifyInput(p->url) == InputKind::RelayHls);
            if (p->stopFlag.load())
                return AVERROR_EXIT;
            const bool segment = !path.endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive);
            if (segment)
                p->segmentOpened(!body.isEmpty());
            if (body.isEmpty())
                return AVERROR(EIO);
            source = new MemSource(body);
        }
    }

    auto* buffer = static_cast<unsigned char*>(av_malloc(tun::kIoBufferBytes));
    AVIOContext* io =
        buffer ? avio_alloc_context(buffer, tun::kIoBufferBytes, 0, source, readSource, nullptr, seekSource) : nullptr;
    if (!io) {
        av_free(buffer);
        delete source;
        return AVERROR(ENOMEM);
    }
    io->seekable = AVIO_SEEKABLE_NORMAL;
    *result = io;
    return 0;
}

int ioClose(AVFormatContext* context, AVIOContext* io)
{
    Q_UNUSED(context)
    if (!io)
        return 0;
    auto* source = static_cast<Source*>(io->opaque);
    // The demuxer may have swapped the buffer for one of its own; whichever is
    // current belongs to the context.
    av_freep(&io->buffer);
    avio_context_free(&io);
    delete source;
    return 0;
}

} // namespace

QByteArray Playback::fetchBlocking(const QString& address, bool liveRelay)
{
    FetchRequest r;
    r.net = net;
    r.stopFlag = &stopFlag;
    r.url = address;
    r.token = token;
    r.tokenOrigin = tokenOrigin;
    r.hadPicture = hadPicture.load();
    FetchResult result = fetchWhole(r);
    if (result.body.isEmpty() && !result.error.isEmpty())
        noteError(result.failure, result.error);
    // A relay playlist that stopped moving on is a stream that stopped: the
    // demuxer would wait on it for ever, showing the last picture. It ends
    // the input like a drop, and is said as what it is.
    if (liveRelay && !result.body.isEmpty() && playlists.stale(address, result.body, steadyNow())) {
        qCWarning(lcVideo).noquote() << "[hls]" << options.label
                                     << "the live playlist stopped advancing; the stream stopped";
        playlistStopped.store(true);
        return QByteArray();
    }
    return result.body;
}

PlayerInput::PlayerInput(Playback& playback)
    : p(playback),
      m_kind(classifyInput(playback.url)),
      m_rtsps(m_kind == InputKind::Rtsp && isRtsps(playback.url))
{}

PlayerInput::~PlayerInput()
{
    close();
}

bool PlayerInput::open()
{
    const int attempts = m_kind == InputKind::Rtsp ? std::max(1, int(p.options.openAttempts)) : 1;
    int err = 0;
    for (int attempt = 1; attempt <= attempts && !p.stopFlag.load(); ++attempt) {
        QByteArray address = p.url.toUtf8();
        bool finalFailure = false;
        // What an earlier attempt met says nothing about this one.
        p.noteError(PlayerFailure::None, QString());
        if (m_rtsps) {
            m_tunnel = std::make_unique<TlsTunnel>();
            const QUrl u(p.url);
            const QString host = u.host();
            const TlsTunnel::Result t = m_tunnel->open(host, quint16(u.port(322)), TlsTunnel::caBundle(), &p.stopFlag);
            switch (t.outcome) {
            case TlsTunnel::Outcome::Ready:
                address = TlsTunnel::localAddress(p.url, m_tunnel->localPort()).toUtf8();
                break;
            case TlsTunnel::Outcome::Refused:
                err = AVERROR(ECONNREFUSED);
                finalFailure = true;
                break;
            case TlsTunnel::Outcome::Untrusted:
                // A certificate does not get better by asking again.
                p.noteError(PlayerFailure::Untrusted, QStringLiteral("The server's certificate is not trusted."));
                qCWarning(lcVideo).noquote() << "[play]" << p.options.label << "secure stream refused:" << t.error;
                err = AVERROR(EACCES);
                finalFailure = true;
                break;
            case TlsTunnel::Outcome::Stopped:
                err = AVERROR_EXIT;
                finalFailure = true;
                break;
            case TlsTunnel::Outcome::TimedOut:
                err = AVERROR(ETIMEDOUT);
                p.noteError(PlayerFailure::TimedOut, QStringLiteral("No answer in time."));
                qCWarning(lcVideo).noquote() << "[play]" << p.options.label << "secure connection:" << t.error;
                break;
            case TlsTunnel::Outcome::Failed:
                err = AVERROR(EIO);
                p.noteError(PlayerFailure::Other, QStringLiteral("The secure connection could not be made."));
                qCWarning(lcVideo).noquote() << "[play]" << p.options.label << "secure connection:" << t.error;
                break;
            }
        }
        if (!finalFailure && (!m_rtsps || m_tunnel->localPort())) {
            m_ctx = avformat_alloc_context();
            if (!m_ctx) {
                err = AVERROR(ENOMEM);
                break;
            }
            m_ctx->opaque = &p;
            m_ctx->io_open = &ioOpen;
            m_ctx->io_close2 = &ioClose;
            m_ctx->interrupt_callback.callback = &interruptCallback;
            m_ctx->interrupt_callback.opaque = &p;

            AVDictionary* opts = nullptr;
            if (m_kind == InputKind::Rtsp) {
                av_dict_set(&opts, "rtsp_transport", "tcp", 0);
                av_dict_set_int(&opts, "timeout", tun::kRtspTimeout.count(), 0);
                av_dict_set_int(&opts, "analyzeduration", tun::kRtspAnalyze.count(), 0);
                av_dict_set(&opts, "probesize", tun::kRtspProbeBytes, 0);
            } else {
                av_dict_set(&opts, "allowed_extensions", "ALL", 0);
                av_dict_set(&opts, "extension_picky", "0", 0);
                av_dict_set(&opts, "protocol_whitelist", "file,http,https,tcp,tls,crypto,hls", 0);
                av_dict_set_int(&opts, "rw_timeout", tun::kHlsRwTimeout.count(), 0);
                // The demuxer's connection reuse reaches behind the I/O
                // context for FFmpeg's own HTTP layer, which ours is not.
                av_dict_set(&opts, "http_persistent", "0", 0);
                if (m_kind == InputKind::RelayHls) {
                    av_dict_set(&opts, "live_start_index", p.options.live ? "-2" : "0", 0);
                    av_dict_set_int(&opts, "analyzeduration", tun::kRelayHlsAnalyze.count(), 0);
                    av_dict_set(&opts, "probesize", tun::kRelayHlsProbeBytes, 0);
                }
            }
            if (m_kind != InputKind::Rtsp) {
                // The top-level input is opened here, not by the demuxer:
                // FFmpeg would close a context it opened through the hook
                // as one of its own, which ours is not.
                err = ioOpen(m_ctx, &m_mainIo, address.constData(), AVIO_FLAG_READ, nullptr);
                if (err < 0) {
                    av_dict_free(&opts);
                    avformat_free_context(m_ctx);
                    m_ctx = nullptr;
                    break;
                }
                m_ctx->pb = m_mainIo;
            }
            err = avformat_open_input(&m_ctx, address.constData(), nullptr, &opts);
            av_dict_free(&opts);
            if (err < 0) {
                ioClose(nullptr, m_mainIo);
                m_mainIo = nullptr;
            }
            if (err >= 0 && m_ctx) {
                qCWarning(lcVideo).noquote() << QStringLiteral("[play]%1 +%2 ms  opened (attempt %3)")
                                                    .arg(p.labelPrefix())
                                                    .arg(p.msSinceStart())
                                                    .arg(attempt);
                p.post([](FfmpegPlayer& pl) { Q_EMIT pl.opened(); });
                return true;
            }
            m_ctx = nullptr;
            m_tunnel.reset();
            if (err == AVERROR(ECONNREFUSED))
                break;
            if (err == AVERROR_HTTP_UNAUTHORIZED) {
                // Credentials do not get better by asking again, and a
                // recorder may lock the account after a few wrong ones.
                qCWarning(lcVideo).noquote() << "[play]" << p.options.label << "credentials refused";
                break;
            }
        }
        if (finalFailure)
            break;
        if (m_kind == InputKind::Rtsp && attempt < attempts && !p.stopFlag.load()) {
            for (int i = 0; i < int(tun::kOpenRetryPause / tun::kSleepSlice) && !p.stopFlag.load(); ++i)
                std::this_thread::sleep_for(tun::kSleepSlice);
        }
    }
    m_tunnel.reset();
    if (p.stopFlag.load())
        return false;
    // The input's own account comes first: FFmpeg only sees an I/O error
    // where an HLS fetch was answered 404 or the secure tunnel failed.
    if (!p.lastError.isEmpty()) {
        p.fail(p.lastErrorKind, p.lastError);
    } else {
        // FFmpeg's words are for the log; people read the program's.
        qCWarning(lcVideo).noquote() << "[play]" << p.options.label << "could not open:" << ffmpegError(err);
        p.fail(failureFromAverror(err), failureWords(err));
    }
    return false;
}

void PlayerInput::close()
{
    if (m_ctx) {
        if (m_kind == InputKind::Rtsp && p.options.boundedClose) {
            p.deadlineMs.store(steadyMs() + tun::kBoundedClose.count());
            p.deadlineArmed.store(true);
            avformat_close_input(&m_ctx);
            p.deadlineArmed.store(false);
        } else {
            avformat_close_input(&m_ctx);
        }
        m_ctx = nullptr;
        ioClose(nullptr, m_mainIo);
        m_mainIo = nullptr;
    }
    m_tunnel.reset();
}

} // namespace kvr::video
