#include "video/FfmpegPlayer.h"

#include "video/DecodeThread.h"
#include "video/FfmpegLog.h"
#include "video/Logging.h"
#include "video/Playback.h"
#include "video/VideoDecoder.h"

#include <QTimer>

#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

extern "C" {
#include <libavformat/avformat.h>
}

using namespace kvr::core;

namespace kvr::video {

// The control surface of the player. Reading the input (PlayerInput), setting
// up the decoder (VideoDecoder), the decode loop with its pacing and delivery
// (DecodeRun), picture conversion (PictureConverter) and the decode thread's
// life and reaping (DecodeThread) each live in their own file.

using namespace kvr::video;
// ---- Construction and control ------------------------------------------------

FfmpegPlayer::FfmpegPlayer(QObject* parent)
    : QObject(parent),
      m_shared(std::make_shared<PlayerShared>()),
      m_owner(std::make_shared<OwnerLink>())
{
    m_owner->player = this;
    qRegisterMetaType<std::shared_ptr<const YuvFrame>>();
    avformat_network_init();
    installFfmpegLogFilter();
    prepareProcessHeap();
    ThreadReaper::instance(); // made here, on the GUI thread
}

FfmpegPlayer::~FfmpegPlayer()
{
    {
        std::lock_guard<std::mutex> lock(m_owner->mutex);
        m_owner->player = nullptr;
    }
    letGo(std::chrono::milliseconds(0));
}

FfmpegPlayer::Controls& FfmpegPlayer::controls()
{
    return m_shared->controls;
}

const FfmpegPlayer::Controls& FfmpegPlayer::controls() const
{
    return m_shared->controls;
}

void FfmpegPlayer::applyDecodeSettings(const DecodeSettings& decode, bool gpuViewWorks)
{
    using Drawing = DecodeSettings::Drawing;
    controls().hardwareDecode.store(decode.hardwareDecode);
    controls().yuvOutput.store(decode.drawing == Drawing::GraphicsChip && gpuViewWorks);
    delete m_drawingWait.data(); // an earlier call's wait ends
    if (decode.drawing != Drawing::ProcessorUntilReady || !gpuViewWorks)
        return;
    m_drawingWait = new QObject(this);
    DecodeSettings::whenDrawingSettles(m_drawingWait, [this] {
        m_drawingWait->deleteLater();
        if (DecodeSettings::drawingChosen() == Drawing::GraphicsChip)
            controls().yuvOutput.store(true);
    });
}

void FfmpegPlayer::pause(bool on)
{
    controls().paused.store(on);
}

void FfmpegPlayer::seekFraction(double fraction)
{
    controls().seekRequest.store(fraction);
}

void FfmpegPlayer::setHardwareSeam(HardwareSeam seam)
{
    VideoDecoder::setSeam(seam);
}

void FfmpegPlayer::reloadEnvironment()
{
    reloadPlayerEnv();
}

void FfmpegPlayer::prepareProcessHeap()
{
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] {
        if (tun::kHeaps > 0)
            mallopt(M_ARENA_MAX, tun::kHeaps);
        mallopt(M_MMAP_THRESHOLD, tun::kOwnMappingBytes);
        mallopt(M_TRIM_THRESHOLD, tun::kHeapTopKeptBytes);
        if (!tun::kFastBins)
            mallopt(M_MXFAST, 0);
    });
#endif
}

void FfmpegPlayer::returnFreedMemory()
{
#if defined(__GLIBC__)
    // glibc keeps freed blocks in its arenas (one per decode thread that
    // ever ran) for reuse; after a playback's pictures are gone that is tens
    // of MiB nothing will ask for soon.
    malloc_trim(0);
#endif
}

int FfmpegPlayer::backgroundThreads()
{
    ThreadReaper::instance().reapEnded();
    return ThreadReaper::instance().pending();
}

bool FfmpegPlayer::isRunning() const
{
    return m_playback && !m_playback->stopFlag.load() && m_playback->running.load();
}

void FfmpegPlayer::letGo(std::chrono::milliseconds wait)
{
    if (!m_playback)
        return;
    m_reconnect.stopped();
    releaseDecodeThread(m_worker, m_playback, wait);
    m_playback.reset();
}

void FfmpegPlayer::requestStop()
{
    letGo(std::chrono::milliseconds(0));
}

void FfmpegPlayer::stop()
{
    letGo(tun::kStopWait);
}

bool FfmpegPlayer::join()
{
    if (!m_worker.joinable())
        return true;
    if (!m_playback->waitFinished(tun::kStopWait))
        return false;
    m_worker.join();
    return true;
}

void FfmpegPlayer::play(const QString& address, const QString& bearer, const QString& bearerOrigin,
                        const QByteArray& playlist, double start)
{
    letGo(tun::kStopWait);
    m_lastFailure = PlayerFailure::None;
    m_startSeconds = start;
    m_inlinePlaylist = playlist;
    m_url = playlist.isEmpty() ? address : QString::fromLatin1(kInlinePlaylistUrl);
    m_token = bearer;
    m_tokenOrigin = bearerOrigin;
    m_playing = m_options;
    // A seek asked for during an earlier playback does not belong to this one.
    controls().seekRequest.store(-1.0);
    startWorker(true);
}

void FfmpegPlayer::startWorker(bool fresh)
{
    auto pb = std::make_shared<Playback>(m_shared, m_owner, m_playing);
    pb->generation = ++m_generation;
    pb->url = m_url;
    pb->token = m_token;
    pb->tokenOrigin = m_tokenOrigin;
    pb->inlinePlaylist = m_inlinePlaylist;
    pb->startSeconds = m_startSeconds;
    pb->startedAt = std::chrono::steady_clock::now();
    controls().paused.store(false);
    // The same relay stream played again (a tile trying again after its
    // restarts ran out) goes on where it was: a relay whose playlist froze
    // serves the same window, which is not to be shown as live a second
    // time. Files and recordings played again start from their beginning.
    const QString live = m_playing.live && classifyInput(m_url) == InputKind::RelayHls ? m_url : QString();
    const bool sameLive = fresh && !live.isEmpty() && live == m_lastLive;
    m_lastLive = live;
    m_reconnect.started(pb->generation, fresh, classifyInput(m_url) != InputKind::Rtsp, sameLive);
    pb->shownUpTo = m_reconnect.shownBefore();
    m_playback = pb;
    m_worker = startDecodeThread(pb);
}

void FfmpegPlayer::onWorkerEnded(const ReconnectSchedule::Ended& ended)
{
    const ReconnectSchedule::Decision d = m_reconnect.ended(ended, m_playing.autoReconnect);
    switch (d.kind) {
    case ReconnectSchedule::Decision::Kind::Nothing:
        return;
    case ReconnectSchedule::Decision::Kind::RestartNow:
        // Not a reconnect: the same playback goes on with a software decoder,
        // whoever owns the player and whatever it asked for on drops.
        restartStep(ended.generation);
        return;
    case ReconnectSchedule::Decision::Kind::Schedule:
        qCWarning(lcVideo).noquote() << "[play]" << m_playing.label
                                     << (d.stopped ? "stream stopped; reconnecting" : "stream dropped; reconnecting")
                                     << d.attempt << "of" << tun::kMaxReconnects;
        m_reconnectingFor = d.stopped ? PlayerFailure::Stopped : PlayerFailure::Dropped;
        Q_EMIT reconnecting(d.attempt, tun::kMaxReconnects, d.why);
        QTimer::singleShot(d.delayMs, Qt::PreciseTimer, this, [this, gen = ended.generation] { restartStep(gen); });
        return;
    case ReconnectSchedule::Decision::Kind::GiveUp:
        m_lastFailure = d.failure;
        Q_EMIT status(d.headline, d.detail);
        return;
    }
}

void FfmpegPlayer::restartStep(int carriedGeneration)
{
    if (!m_reconnect.restartDue(carriedGeneration))
        return;
    // The ended thread is past its last act, or nearly: this wait is short.
    letGo(tun::kStopWait);
    startWorker(false);
}

} // namespace kvr::video
