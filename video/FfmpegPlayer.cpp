#include "video/FfmpegPlayer.h"

#include "app/core/Env.h"
#include "video/AudioOut.h"
#include "video/FfmpegLog.h"
#include "video/Pacing.h"
#include "video/StreamInput.h"
#include "video/TlsTunnel.h"
#include "video/Tunables.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QtDebug>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace kvr::video;
namespace tun = kvr::video::tun;

namespace kvr::video {

// The control fields, shared by the player and every decode thread it
// started, so that a thread left to end in the background never reads a
// destroyed player.
struct PlayerControls {
    std::atomic<bool> boundedClose{false};
    std::atomic<int32_t> openAttempts{tun::kDefaultOpenAttempts};
    std::atomic<bool> paused{false};
    std::atomic<bool> muted{false};
    std::atomic<bool> audioEnabled{true};
    std::atomic<bool> listen{false};
    std::atomic<bool> loop{false};
    std::atomic<double> rate{1.0};
    std::atomic<bool> live{true};
    std::atomic<double> seekRequest{-1.0};
    std::atomic<int32_t> targetWidth{0};
    std::atomic<int32_t> targetHeight{0};
    std::atomic<double> maxFps{0.0};
    std::atomic<bool> lightDecode{false};
    std::atomic<bool> hardwareDecode{false};
    std::atomic<bool> keyframesOnly{false};
    std::atomic<bool> catchUpLive{false};
    std::atomic<bool> snapshotRequest{false};
    std::atomic<bool> yuvOutput{false};
    std::atomic<bool> autoReconnect{false};
    std::atomic<double> readAheadCap{0.0};
    // Set when hardware decoding produced nothing or would not open; later
    // playbacks of the player decode in software.
    std::atomic<bool> hardwareFailed{false};
};

// The way from decode threads to their player: null once the player is gone.
// Notices are posted under the lock, so none is queued for a player after its
// destructor cleared the pointer (and Qt drops those queued before).
struct OwnerLink {
    std::mutex mutex;
    FfmpegPlayer* player = nullptr;
};

// One decode thread's state, shared by the player and the thread.
struct Playback {
    Playback(std::shared_ptr<PlayerControls> c, std::shared_ptr<OwnerLink> o)
        : controls(std::move(c)),
          owner(std::move(o))
    {}

    // Fixed before the thread starts.
    std::shared_ptr<PlayerControls> controls;
    std::shared_ptr<OwnerLink> owner;
    int generation = 0;
    QString url;
    QString token;
    QString tokenHost;
    QByteArray inlinePlaylist;
    QString label;
    double startSeconds = 0.0;
    // A restart of a playback on a continuous timeline: the latest media time
    // earlier decode threads showed. What is not newer is not shown again.
    std::optional<double> shownUpTo;
    std::chrono::steady_clock::time_point startedAt{};

    // Raised to end the thread; read by the loop, the interrupt callback and the hooks.
    std::atomic<bool> stopFlag{false};
    // The interrupt callback uses the deadline instead of the stop flag.
    std::atomic<bool> deadlineArmed{false};
    std::atomic<int64_t> deadlineMs{0};

    // Decode thread only.
    // The input's last failure, detail of an opening failure, and its kind.
    QString lastError;
    PlayerFailure lastErrorKind = PlayerFailure::None;
    NetPool* net = nullptr;
    LivePlaylistWatch playlists;
    QString failure; // why playback could not start; empty when it did
    PlayerFailure failureKind = PlayerFailure::None;

    // Written by the decode thread, read by the player.
    std::atomic<bool> running{true};
    std::atomic<bool> hadPicture{false};
    // Pictures came, but all of them had been shown before.
    std::atomic<bool> onlyReplayed{false};
    std::atomic<bool> endedUnexpectedly{false};
    std::atomic<bool> endedForSoftware{false};

    // The thread's last act: nothing of it runs after this but its return.
    void markFinished()
    {
        std::lock_guard<std::mutex> lock(finishMutex);
        finished = true;
        finishCv.notify_all();
    }
    bool waitFinished(std::chrono::milliseconds wait)
    {
        std::unique_lock<std::mutex> lock(finishMutex);
        return finishCv.wait_for(lock, wait, [this] { return finished; });
    }
    bool hasFinished()
    {
        std::lock_guard<std::mutex> lock(finishMutex);
        return finished;
    }

    void noteError(PlayerFailure kind, const QString& text)
    {
        lastErrorKind = kind;
        lastError = text;
    }
    QString labelPrefix() const { return label.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(label); }
    qint64 msSinceStart() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startedAt)
            .count();
    }
    void logStep(const QString& step) const
    {
        qWarning().noquote() << QStringLiteral("[play]%1 +%2 ms  %3").arg(labelPrefix()).arg(msSinceStart()).arg(step);
    }
    // Emits on the GUI thread, unless the playback was stopped or replaced by then.
    void post(std::function<void(FfmpegPlayer&)> emitter);
    QByteArray fetchBlocking(const QString& address, bool liveRelay);

private:
    std::mutex finishMutex;
    std::condition_variable finishCv;
    bool finished = false;
};

// The body of a decode thread (below).
void runDecodeLoop(Playback& playback);

} // namespace kvr::video

namespace {

struct PlayerEnv {
    int slowDecodeMs = 0;
    bool testOverload = false;
    bool playDebug = false;
};

std::mutex envMutex;
std::optional<PlayerEnv> envCache;

PlayerEnv playerEnv()
{
    std::lock_guard<std::mutex> lock(envMutex);
    if (!envCache) {
        PlayerEnv e;
        e.slowDecodeMs = std::max(0, envOr("KVR_TEST_SLOW_DECODE_MS", QStringLiteral("0")).toInt());
        e.testOverload = envSet("KVR_TEST_OVERLOAD");
        e.playDebug = envSet("KVR_PLAY_DEBUG");
        envCache = e;
    }
    return *envCache;
}

std::atomic<FfmpegPlayer::HardwareSeam> hardwareSeam{FfmpegPlayer::HardwareSeam::Real};

double steadyNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Large blocks are mapped on their own, whatever was freed before (see the
// tunable); set once, before the first decode thread starts.
void keepLargeBlocksMapped()
{
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, tun::kOwnMappingBytes); });
#endif
}

// The platform's hardware decoding device.
#if defined(__APPLE__)
constexpr const char* kHardwareDevice = "videotoolbox";
#else
constexpr const char* kHardwareDevice = "vaapi";
#endif

enum AVPixelFormat chooseHardwareFormat(AVCodecContext* ctx, const enum AVPixelFormat* offered)
{
    if (!offered || *offered == AV_PIX_FMT_NONE)
        return AV_PIX_FMT_NONE;
    const auto wanted = static_cast<AVPixelFormat>(reinterpret_cast<intptr_t>(ctx->opaque));
    for (const AVPixelFormat* f = offered; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == wanted)
            return wanted;
    }
    return offered[0];
}

QString ffmpegError(int code)
{
    char text[64] = {0};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

// The I/O context around one byte source.
int readSource(void* opaque, uint8_t* buffer, int size)
{
    return static_cast<Source*>(opaque)->read(buffer, size);
}
int64_t seekSource(void* opaque, int64_t offset, int whence)
{
    return static_cast<Source*>(opaque)->seek(offset, whence);
}

class SoundAdapter final : public SoundClockSource {
public:
    explicit SoundAdapter(AudioOut& out) : m_out(out) {}
    int queuedBytes() override { return m_out.queuedBytes(); }
    double playedSeconds() override { return m_out.playedSeconds(); }
    void clear() override { m_out.clear(); }

private:
    AudioOut& m_out;
};

// Joins decode threads that players let go of, once they have ended. Lives on
// the GUI thread for the whole process (it is never destroyed, so an ending
// thread may always post to it); at exit it gives threads still running a
// moment, then lets them go with the process.
class ThreadReaper : public QObject {
public:
    static ThreadReaper& instance()
    {
        static ThreadReaper* reaper = [] {
            auto* r = new ThreadReaper;
            std::atexit([] { instance().atExit(); });
            return r;
        }();
        return *reaper;
    }

    void adopt(std::thread thread, std::shared_ptr<Playback> playback)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads.push_back(Entry{std::move(thread), std::move(playback)});
    }

    // Called by an ending thread after its last act.
    void ended()
    {
        QMetaObject::invokeMethod(
            this,
            [this] {
                reapEnded();
                scheduleGiveBack();
            },
            Qt::QueuedConnection);
    }

    // Called on the GUI thread.
    void reapEnded()
    {
        std::vector<std::thread> done;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto it = m_threads.begin(); it != m_threads.end();) {
                if (it->playback->hasFinished()) {
                    done.push_back(std::move(it->thread));
                    it = m_threads.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (std::thread& t : done)
            t.join(); // past its last act: returns at once
    }

    int pending()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(m_threads.size());
    }

private:
    ThreadReaper()
    {
        m_giveBack.setSingleShot(true);
        m_giveBack.setInterval(tun::kGiveBackDelay);
        connect(&m_giveBack, &QTimer::timeout, this, [] {
#if defined(__GLIBC__)
            // Off the GUI thread: it walks every heap of the process.
            QThreadPool::globalInstance()->start([] { malloc_trim(0); });
#endif
        });
    }

    // A decode thread ended: what it freed is given back to the system a
    // little later, once for all the threads that end meanwhile. The C
    // library keeps freed pages in the heap of the thread that used them, so
    // streams that keep restarting would otherwise leave a growing share of
    // the process's memory held by heaps of threads long gone.
    void scheduleGiveBack()
    {
        if (!m_giveBack.isActive())
            m_giveBack.start();
    }

    void atExit()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto until = std::chrono::steady_clock::now() + tun::kStopWait;
        for (Entry& e : m_threads) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (e.playback->waitFinished(std::max(left, std::chrono::milliseconds(0))))
                e.thread.join();
            else
                e.thread.detach();
        }
        m_threads.clear();
    }

    struct Entry {
        std::thread thread;
        std::shared_ptr<Playback> playback;
    };
    std::mutex m_mutex;
    std::vector<Entry> m_threads;
    QTimer m_giveBack;
};

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
            QByteArray auth;
            if (tokenAllowed(u, p->token, p->tokenHost))
                auth = "Bearer " + p->token.toUtf8();
            auto* http = new HttpSource(p->net, &p->stopFlag, u, auth);
            if (!http->request(0)) {
                p->noteError(http->failure(), QStringLiteral("HTTP %1").arg(http->httpStatus()));
                delete http;
                return p->stopFlag.load() ? AVERROR_EXIT : AVERROR(EIO);
            }
            source = http;
        } else {
            const QByteArray body = p->fetchBlocking(where, classifyInput(p->url) == InputKind::RelayHls);
            if (p->stopFlag.load())
                return AVERROR_EXIT;
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

// Gives the playback's notices access to the player's private state.
struct PlayerAccess {
    static bool current(const FfmpegPlayer& player, int generation)
    {
        return player.m_playback && player.m_playback->generation == generation && !player.m_playback->stopFlag.load();
    }
    static ReconnectPolicy& reconnect(FfmpegPlayer& player) { return player.m_reconnect; }
    static void ended(FfmpegPlayer& player, const ReconnectPolicy::Ended& e) { player.onWorkerEnded(e); }
};

void Playback::post(std::function<void(FfmpegPlayer&)> emitter)
{
    std::lock_guard<std::mutex> lock(owner->mutex);
    FfmpegPlayer* player = owner->player;
    if (!player)
        return;
    const int gen = generation;
    QMetaObject::invokeMethod(
        player,
        [player, gen, emitter = std::move(emitter)] {
            if (PlayerAccess::current(*player, gen))
                emitter(*player);
        },
        Qt::QueuedConnection);
}

QByteArray Playback::fetchBlocking(const QString& address, bool liveRelay)
{
    FetchRequest r;
    r.net = net;
    r.stopFlag = &stopFlag;
    r.url = address;
    r.token = token;
    r.tokenHost = tokenHost;
    r.hadPicture = hadPicture.load();
    FetchResult result = fetchWhole(r);
    if (result.body.isEmpty() && !result.error.isEmpty())
        noteError(result.failure, result.error);
    // A relay playlist that stopped moving on is a stream that dropped: the
    // demuxer would wait on it for ever, showing the last picture.
    if (liveRelay && !result.body.isEmpty() && playlists.stale(address, result.body, steadyNow())) {
        qWarning().noquote() << "[hls]" << label << "the live playlist stopped advancing; treating it as a drop";
        return QByteArray();
    }
    return result.body;
}

// ---- Construction and control ------------------------------------------------

FfmpegPlayer::FfmpegPlayer(QObject* parent) : FfmpegPlayer(std::make_shared<PlayerControls>(), parent) {}

FfmpegPlayer::FfmpegPlayer(std::shared_ptr<PlayerControls> c, QObject* parent)
    : QObject(parent),
      boundedClose(c->boundedClose),
      openAttempts(c->openAttempts),
      paused(c->paused),
      muted(c->muted),
      audioEnabled(c->audioEnabled),
      listen(c->listen),
      loop(c->loop),
      rate(c->rate),
      live(c->live),
      seekRequest(c->seekRequest),
      targetWidth(c->targetWidth),
      targetHeight(c->targetHeight),
      maxFps(c->maxFps),
      lightDecode(c->lightDecode),
      hardwareDecode(c->hardwareDecode),
      keyframesOnly(c->keyframesOnly),
      catchUpLive(c->catchUpLive),
      snapshotRequest(c->snapshotRequest),
      yuvOutput(c->yuvOutput),
      autoReconnect(c->autoReconnect),
      readAheadCap(c->readAheadCap),
      m_controls(std::move(c)),
      m_owner(std::make_shared<OwnerLink>())
{
    m_owner->player = this;
    qRegisterMetaType<std::shared_ptr<const YuvFrame>>();
    avformat_network_init();
    installFfmpegLogFilter();
    keepLargeBlocksMapped();
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

void FfmpegPlayer::setHardwareSeam(HardwareSeam seam)
{
    hardwareSeam.store(seam);
}

void FfmpegPlayer::reloadEnvironment()
{
    std::lock_guard<std::mutex> lock(envMutex);
    envCache.reset();
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
    m_playback->stopFlag.store(true);
    m_reconnect.stopped();
    if (m_worker.joinable()) {
        if (m_playback->waitFinished(wait))
            m_worker.join();
        else
            ThreadReaper::instance().adopt(std::move(m_worker), m_playback);
    }
    m_playback.reset();
    ThreadReaper::instance().reapEnded();
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

void FfmpegPlayer::play(const QString& address, const QString& bearer, const QString& bearerHost,
                        const QByteArray& playlist, double start)
{
    letGo(tun::kStopWait);
    m_lastFailure = PlayerFailure::None;
    m_startSeconds = start;
    m_inlinePlaylist = playlist;
    m_url = playlist.isEmpty() ? address : QString::fromLatin1(kInlinePlaylistUrl);
    m_token = bearer;
    m_tokenHost = bearerHost;
    // A seek asked for during an earlier playback does not belong to this one.
    seekRequest.store(-1.0);
    startWorker(true);
}

void FfmpegPlayer::startWorker(bool fresh)
{
    auto pb = std::make_shared<Playback>(m_controls, m_owner);
    pb->generation = ++m_generation;
    pb->url = m_url;
    pb->token = m_token;
    pb->tokenHost = m_tokenHost;
    pb->inlinePlaylist = m_inlinePlaylist;
    pb->label = label;
    pb->startSeconds = m_startSeconds;
    pb->startedAt = std::chrono::steady_clock::now();
    paused.store(false);
    m_reconnect.started(pb->generation, fresh, classifyInput(m_url) != InputKind::Rtsp);
    pb->shownUpTo = m_reconnect.shownBefore();
    m_playback = pb;
    m_worker = std::thread([pb] {
        runDecodeLoop(*pb);
        ReconnectPolicy::Ended e;
        e.generation = pb->generation;
        e.hadPicture = pb->hadPicture.load() || pb->onlyReplayed.load();
        e.unexpected = pb->endedUnexpectedly.load();
        e.forSoftware = pb->endedForSoftware.load();
        e.failure = pb->failure;
        e.failureKind = pb->failureKind;
        {
            std::lock_guard<std::mutex> lock(pb->owner->mutex);
            if (FfmpegPlayer* player = pb->owner->player)
                QMetaObject::invokeMethod(
                    player, [player, e] { PlayerAccess::ended(*player, e); }, Qt::QueuedConnection);
        }
        pb->markFinished();
        ThreadReaper::instance().ended();
    });
}

void FfmpegPlayer::onWorkerEnded(const ReconnectPolicy::Ended& ended)
{
    const ReconnectPolicy::Decision d = m_reconnect.ended(ended, autoReconnect.load());
    switch (d.kind) {
    case ReconnectPolicy::Decision::Kind::Nothing:
        return;
    case ReconnectPolicy::Decision::Kind::RestartNow:
        // Not a reconnect: the same playback goes on with a software decoder,
        // whoever owns the player and whatever it asked for on drops.
        restartStep(ended.generation);
        return;
    case ReconnectPolicy::Decision::Kind::Schedule:
        qWarning().noquote() << "[play]" << label << "stream dropped; reconnecting" << d.attempt << "of"
                             << tun::kMaxReconnects;
        Q_EMIT reconnecting(d.attempt, tun::kMaxReconnects, d.why);
        QTimer::singleShot(d.delayMs, Qt::PreciseTimer, this, [this, gen = ended.generation] { restartStep(gen); });
        return;
    case ReconnectPolicy::Decision::Kind::GiveUp:
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

// ---- The decode loop -----------------------------------------------------------------

class DecodeRun {
public:
    explicit DecodeRun(Playback& playback) : p(playback), c(*playback.controls), sound(audio) {}
    ~DecodeRun() { cleanup(); }
    void exec();

private:
    bool stopped() const { return p.stopFlag.load(); }
    bool openInput();
    bool setupVideo();
    bool openVideoDecoder(bool allowHardware, bool& hardwareOpenFailed);
    void setupSound();
    void loop();
    void applyKeyframes();
    void applyListen();
    bool handlePause();
    void handleSeek();
    void pacingPass();
    void overloadAndStats();
    bool atEnd();
    void videoPacket();
    bool receiveVideo();
    bool handleVideoFrame(AVFrame* frame);
    void soundPacket();
    void boundedClose();
    void cleanup();
    void failStatus(PlayerFailure kind, const QString& detail);
    void seekTo(int64_t ts);
    bool shownAlready(double t);
    bool holdBeforeTarget(bool key);
    void decodeHeld();
    void dropHeld();
    void deliver(PendingPicture&& picture);
    bool soundWanted() const { return soundAtStart || (listening && audio.isOpen()); }

    Playback& p;
    PlayerControls& c;
    InputKind kind = InputKind::OtherHls;
    bool rtsps = false;
    std::unique_ptr<TlsTunnel> tunnel;
    AVFormatContext* ctx = nullptr;
    AVIOContext* mainIo = nullptr; // the top-level input of the HLS kinds
    AVCodecContext* vdec = nullptr;
    AVCodecContext* adec = nullptr;
    AVBufferRef* hwDevice = nullptr;
    int hwPixFmt = -1;
    bool hwFake = false; // the test seam stands in for a hardware device
    SwrContext* swr = nullptr;
    SwsContext* sws = nullptr;
    struct ScalerKey {
        int w = 0, h = 0, fmt = -1;
        bool full = false;
        int ow = 0, oh = 0;
        bool operator==(const ScalerKey&) const = default;
    } swsKey;
    AVFrame* frame = nullptr;
    AVFrame* hwFrame = nullptr;
    AVPacket* pkt = nullptr;
    AudioOut audio;
    SoundAdapter sound;
    std::unique_ptr<Pacer> pacer;
    std::unique_ptr<OverloadMeter> meter;
    BehindLive behind;
    std::deque<PendingPicture> pending;
    PlayerEnv env;

    int vidx = -1;
    int aidx = -1;
    AVRational vtb{0, 1};
    AVRational atb{0, 1};
    bool soundUsable = false;
    bool soundAtStart = false;
    bool listening = false;
    int sampleRate = 0;
    double rate = 1.0;
    double duration = 0.0;
    double readAhead = 1.0;
    bool eof = false;
    bool drained = false;
    bool appliedKeyframes = false;
    bool anyPictureDecoded = false;
    // The sound path keys on the first picture after the start or a seek:
    // sound before it is dropped, and so is sound earlier than it.
    bool firstPictureKnown = false;
    double firstPictureTime = 0.0;
    double lastPictureTime = 0.0;
    // Where a seek asked to be: the demuxer lands on a keyframe before it
    // (on HLS, at the start of the segment), and pictures before it are
    // decoded but not shown. Packets before it wait in `held` until a later
    // keyframe makes them useless, so that only the target's own group of
    // pictures is decoded.
    std::optional<double> seekTarget;
    std::vector<AVPacket*> held;
    int64_t heldBytes = 0;
    // A restart's floor (Playback::shownUpTo), until a newer picture comes.
    std::optional<double> replayFloor;
    std::optional<double> lastConverted;
    Continuity videoCont;
    Continuity soundCont;
    HardwareWatch hardwareWatch;
    bool endForSoftware = false;
    bool loggedFirstPacket = false;
    bool loggedFirstKey = false;
    int decodedCount = 0;
    int convertedCount = 0;
    double lastStats = 0.0;
};

namespace kvr::video {
void runDecodeLoop(Playback& playback)
{
    DecodeRun r(playback);
    r.exec();
}
} // namespace kvr::video

// Reported with the end of the thread: the player decides between a status
// and a restart.
void DecodeRun::failStatus(PlayerFailure kind, const QString& detail)
{
    p.failure = detail;
    p.failureKind = kind;
}

void DecodeRun::exec()
{
    p.hadPicture.store(false);
    p.onlyReplayed.store(false);
    p.endedUnexpectedly.store(false);
    p.endedForSoftware.store(false);
    replayFloor = p.shownUpTo;
    env = playerEnv();

    NetPool pool;
    p.net = &pool;

    kind = classifyInput(p.url);
    rtsps = kind == InputKind::Rtsp && isRtsps(p.url);

    if (openInput() && setupVideo()) {
        setupSound();
        loop();
    }
    cleanup();
    p.net = nullptr;
    p.running.store(false);
}

bool DecodeRun::openInput()
{
    const int attempts = kind == InputKind::Rtsp ? std::max(1, int(c.openAttempts.load())) : 1;
    int err = 0;
    for (int attempt = 1; attempt <= attempts && !stopped(); ++attempt) {
        QByteArray address = p.url.toUtf8();
        bool finalFailure = false;
        // What an earlier attempt met says nothing about this one.
        p.noteError(PlayerFailure::None, QString());
        if (rtsps) {
            tunnel = std::make_unique<TlsTunnel>();
            const QUrl u(p.url);
            const QString host = u.host();
            const TlsTunnel::Result t = tunnel->open(host, quint16(u.port(322)), TlsTunnel::caBundle(), &p.stopFlag);
            switch (t.outcome) {
            case TlsTunnel::Outcome::Ready:
                address = TlsTunnel::localAddress(p.url, tunnel->localPort()).toUtf8();
                break;
            case TlsTunnel::Outcome::Refused:
                err = AVERROR(ECONNREFUSED);
                finalFailure = true;
                break;
            case TlsTunnel::Outcome::Untrusted:
                // A certificate does not get better by asking again.
                p.noteError(PlayerFailure::Untrusted, t.error);
                qWarning().noquote() << "[play]" << p.label << "secure stream refused:" << t.error;
                err = AVERROR(EACCES);
                finalFailure = true;
                break;
            case TlsTunnel::Outcome::Stopped:
                err = AVERROR_EXIT;
                finalFailure = true;
                break;
            case TlsTunnel::Outcome::TimedOut:
                err = AVERROR(ETIMEDOUT);
                p.noteError(PlayerFailure::TimedOut, t.error);
                break;
            case TlsTunnel::Outcome::Failed:
                err = AVERROR(EIO);
                p.noteError(PlayerFailure::Other, t.error);
                break;
            }
        }
        if (!finalFailure && (!rtsps || tunnel->localPort())) {
            ctx = avformat_alloc_context();
            if (!ctx) {
                err = AVERROR(ENOMEM);
                break;
            }
            ctx->opaque = &p;
            ctx->io_open = &ioOpen;
            ctx->io_close2 = &ioClose;
            ctx->interrupt_callback.callback = &interruptCallback;
            ctx->interrupt_callback.opaque = &p;

            AVDictionary* opts = nullptr;
            if (kind == InputKind::Rtsp) {
                av_dict_set(&opts, "rtsp_transport", "tcp", 0);
                av_dict_set(&opts, "timeout", tun::kRtspTimeoutUs, 0);
                av_dict_set(&opts, "analyzeduration", tun::kRtspAnalyzeUs, 0);
                av_dict_set(&opts, "probesize", tun::kRtspProbeBytes, 0);
            } else {
                av_dict_set(&opts, "allowed_extensions", "ALL", 0);
                av_dict_set(&opts, "extension_picky", "0", 0);
                av_dict_set(&opts, "protocol_whitelist", "file,http,https,tcp,tls,crypto,hls", 0);
                av_dict_set(&opts, "rw_timeout", tun::kHlsRwTimeoutUs, 0);
                // The demuxer's connection reuse reaches behind the I/O
                // context for FFmpeg's own HTTP layer, which ours is not.
                av_dict_set(&opts, "http_persistent", "0", 0);
                if (kind == InputKind::RelayHls) {
                    av_dict_set(&opts, "live_start_index", c.live.load() ? "-2" : "0", 0);
                    av_dict_set(&opts, "analyzeduration", tun::kRelayHlsAnalyzeUs, 0);
                    av_dict_set(&opts, "probesize", tun::kRelayHlsProbeBytes, 0);
                }
            }
            if (kind != InputKind::Rtsp) {
                // The top-level input is opened here, not by the demuxer:
                // FFmpeg would close a context it opened through the hook
                // as one of its own, which ours is not.
                err = ioOpen(ctx, &mainIo, address.constData(), AVIO_FLAG_READ, nullptr);
                if (err < 0) {
                    av_dict_free(&opts);
                    avformat_free_context(ctx);
                    ctx = nullptr;
                    break;
                }
                ctx->pb = mainIo;
            }
            err = avformat_open_input(&ctx, address.constData(), nullptr, &opts);
            av_dict_free(&opts);
            if (err < 0) {
                ioClose(nullptr, mainIo);
                mainIo = nullptr;
            }
            if (err >= 0 && ctx) {
                qWarning().noquote() << QStringLiteral("[play]%1 +%2 ms  opened (attempt %3)")
                                            .arg(p.labelPrefix())
                                            .arg(p.msSinceStart())
                                            .arg(attempt);
                p.post([](FfmpegPlayer& pl) { Q_EMIT pl.opened(); });
                return true;
            }
            ctx = nullptr;
            tunnel.reset();
            if (err == AVERROR(ECONNREFUSED))
                break;
            if (err == AVERROR_HTTP_UNAUTHORIZED) {
                // Credentials do not get better by asking again, and a
                // recorder may lock the account after a few wrong ones.
                qWarning().noquote() << "[play]" << p.label << "credentials refused";
                break;
            }
        }
        if (finalFailure)
            break;
        if (kind == InputKind::Rtsp && attempt < attempts && !stopped()) {
            for (int i = 0; i < int(tun::kOpenRetryPause / tun::kSleepSlice) && !stopped(); ++i)
                std::this_thread::sleep_for(tun::kSleepSlice);
        }
    }
    tunnel.reset();
    if (stopped())
        return false;
    // The input's own account comes first: FFmpeg only sees an I/O error
    // where an HLS fetch was answered 404 or the secure tunnel failed.
    if (!p.lastError.isEmpty())
        failStatus(p.lastErrorKind, p.lastError);
    else
        failStatus(failureFromAverror(err), ffmpegError(err));
    return false;
}

bool DecodeRun::openVideoDecoder(bool allowHardware, bool& hardwareOpenFailed)
{
    hardwareOpenFailed = false;
    AVStream* st = ctx->streams[vidx];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return false;
    vdec = avcodec_alloc_context3(codec);
    if (!vdec || avcodec_parameters_to_context(vdec, st->codecpar) < 0)
        return false;
    const bool liveKind = kind != InputKind::OtherHls;
    if (liveKind) {
        vdec->flags |= AV_CODEC_FLAG_LOW_DELAY;
        vdec->flags2 |= AV_CODEC_FLAG2_FAST;
        vdec->thread_type = FF_THREAD_SLICE;
        vdec->thread_count = c.lightDecode.load() ? 1 : 0;
    }
    if (c.lightDecode.load()) {
        vdec->skip_loop_filter = AVDISCARD_ALL;
        vdec->flags2 |= AV_CODEC_FLAG2_FAST;
    }
    appliedKeyframes = c.keyframesOnly.load();
    if (appliedKeyframes)
        vdec->skip_frame = AVDISCARD_NONKEY;

    hwFake = false;
    if (allowHardware && c.hardwareDecode.load() && !c.hardwareFailed.load()) {
        if (hardwareSeam.load() != FfmpegPlayer::HardwareSeam::Real) {
            hwFake = true;
            vdec->thread_count = 1;
        } else {
            const AVHWDeviceType type = av_hwdevice_find_type_by_name(kHardwareDevice);
            if (type != AV_HWDEVICE_TYPE_NONE) {
                for (int i = 0;; ++i) {
                    const AVCodecHWConfig* cfg = avcodec_get_hw_config(codec, i);
                    if (!cfg)
                        break;
                    if ((cfg->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX) && cfg->device_type == type) {
                        if (av_hwdevice_ctx_create(&hwDevice, type, nullptr, nullptr, 0) == 0) {
                            vdec->hw_device_ctx = av_buffer_ref(hwDevice);
                            vdec->opaque = reinterpret_cast<void*>(intptr_t(cfg->pix_fmt));
                            hwPixFmt = cfg->pix_fmt;
                            vdec->thread_count = 1;
                            vdec->get_format = chooseHardwareFormat;
                        }
                        break;
                    }
                }
            }
        }
    }
    const bool withHardware = hwDevice || hwFake;
    int rc = avcodec_open2(vdec, codec, nullptr);
    if (rc >= 0 && hwFake && hardwareSeam.load() == FfmpegPlayer::HardwareSeam::FailOpen)
        rc = AVERROR(ENOSYS);
    if (rc < 0) {
        avcodec_free_context(&vdec);
        av_buffer_unref(&hwDevice);
        hwPixFmt = -1;
        hwFake = false;
        if (withHardware) {
            c.hardwareFailed.store(true);
            hardwareOpenFailed = true;
        }
        return false;
    }
    return true;
}

bool DecodeRun::setupVideo()
{
    if (kind != InputKind::Rtsp) {
        if (avformat_find_stream_info(ctx, nullptr) < 0) {
            boundedClose();
            p.deadlineArmed.store(false);
            failStatus(PlayerFailure::Other, QStringLiteral("No stream information"));
            return false;
        }
    }
    vidx = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vidx < 0) {
        boundedClose();
        failStatus(PlayerFailure::Other, QStringLiteral("No video stream"));
        return false;
    }
    vtb = ctx->streams[vidx]->time_base;
    bool hwOpenFailed = false;
    if (!openVideoDecoder(true, hwOpenFailed)) {
        bool ok = false;
        if (hwOpenFailed) {
            // A hardware decoder that will not open is no reason to give up:
            // software decoding takes over at once.
            qWarning().noquote() << "[play]" << p.label << "hardware decoder failed to open; decoding in software";
            ok = openVideoDecoder(false, hwOpenFailed);
        }
        if (!ok) {
            boundedClose();
            failStatus(PlayerFailure::Other, QStringLiteral("Decoder failed"));
            return false;
        }
    }
    p.logStep(kind == InputKind::Rtsp ? QStringLiteral("tracks known (SDP)") : QStringLiteral("stream info ready"));
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters* par = ctx->streams[i]->codecpar;
        const char* type = av_get_media_type_string(par->codec_type);
        qWarning().noquote() << QStringLiteral("[play]   track %1: %2 %3 %4x%5 rate=%6")
                                    .arg(i)
                                    .arg(QString::fromUtf8(type ? type : "unknown"))
                                    .arg(QString::fromUtf8(avcodec_get_name(par->codec_id)))
                                    .arg(par->width)
                                    .arg(par->height)
                                    .arg(par->sample_rate);
    }
    return true;
}

void DecodeRun::setupSound()
{
    aidx = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, vidx, nullptr, 0);
    const bool hasSoundStream = aidx >= 0;
    if (hasSoundStream) {
        AVStream* st = ctx->streams[aidx];
        atb = st->time_base;
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (codec && (adec = avcodec_alloc_context3(codec)) && avcodec_parameters_to_context(adec, st->codecpar) >= 0
            && avcodec_open2(adec, codec, nullptr) >= 0 && adec->sample_rate > 0) {
            if (adec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
                const int n = adec->ch_layout.nb_channels < 1 ? 2 : adec->ch_layout.nb_channels;
                av_channel_layout_uninit(&adec->ch_layout);
                av_channel_layout_default(&adec->ch_layout, n);
            }
            AVChannelLayout stereo;
            av_channel_layout_default(&stereo, 2);
            if (swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, adec->sample_rate, &adec->ch_layout,
                                    adec->sample_fmt, adec->sample_rate, 0, nullptr)
                    >= 0
                && swr && swr_init(swr) >= 0) {
                soundUsable = true;
                sampleRate = adec->sample_rate;
            }
            av_channel_layout_uninit(&stereo);
        }
        if (!soundUsable) {
            swr_free(&swr);
            avcodec_free_context(&adec);
        }
    }
    const double wantedRate = c.rate.load();
    if (soundUsable && c.audioEnabled.load() && wantedRate == 1.0)
        soundAtStart = audio.open(sampleRate, 2);
    if (hasSoundStream && c.audioEnabled.load() && wantedRate == 1.0 && !soundAtStart)
        qWarning().noquote() << "Playing without audio";
    const bool present = soundUsable;
    p.post([present](FfmpegPlayer& pl) { Q_EMIT pl.audioTrack(present); });

    rate = Pacer::clampRate(wantedRate);
    duration = ctx->duration > 0 ? double(ctx->duration) / AV_TIME_BASE : 0.0;
    const double d = duration;
    p.post([d](FfmpegPlayer& pl) { Q_EMIT pl.durationKnown(d); });
    if (p.startSeconds > 0.5 && duration > 0.0)
        c.seekRequest.store(std::min(p.startSeconds / duration, 0.999));

    readAhead = readAheadLimit(c.yuvOutput.load(), kind != InputKind::OtherHls);
    if (const double cap = c.readAheadCap.load(); cap > 0.0)
        readAhead = std::min(readAhead, cap);
    const double now = steadyNow();
    pacer = std::make_unique<Pacer>(rate, soundAtStart, &sound, now);
    meter = std::make_unique<OverloadMeter>(now);
    lastStats = now;
    frame = av_frame_alloc();
    hwFrame = av_frame_alloc();
    pkt = av_packet_alloc();
}

void DecodeRun::applyKeyframes()
{
    const bool kf = c.keyframesOnly.load();
    if (kf != appliedKeyframes && vdec) {
        vdec->skip_frame = kf ? AVDISCARD_NONKEY : AVDISCARD_DEFAULT;
        appliedKeyframes = kf;
    }
    audio.setMuted(c.muted.load());
}

void DecodeRun::applyListen()
{
    const bool want = c.listen.load() && soundUsable && !soundAtStart;
    if (want && !listening) {
        if (!audio.isOpen())
            audio.open(sampleRate, 2);
        else
            audio.pause(false);
        audio.clear();
        listening = true;
    } else if (!want && listening) {
        if (audio.isOpen()) {
            audio.pause(true);
            audio.clear();
        }
        listening = false;
    }
}

bool DecodeRun::handlePause()
{
    if (!c.paused.load())
        return true;
    audio.pause(true);
    if (kind == InputKind::Rtsp)
        av_read_pause(ctx);
    const double t0 = steadyNow();
    while (c.paused.load() && !stopped()) {
        sleepMs(tun::kPauseSlice_ms);
        applyKeyframes();
        applyListen();
    }
    if (stopped())
        return false;
    audio.pause(false);
    if (kind == InputKind::Rtsp)
        av_read_play(ctx);
    pacer->resumedAfter(steadyNow() - t0);
    behind.forgetOffset();
    return true;
}

void DecodeRun::seekTo(int64_t ts)
{
    // Positions count from the input's own start, which need not be 0.
    if (ctx->start_time != AV_NOPTS_VALUE && ctx->start_time > 0)
        ts += ctx->start_time;
    dropHeld();
    seekTarget = double(ts) / AV_TIME_BASE;
    const int rc = av_seek_frame(ctx, -1, ts, AVSEEK_FLAG_BACKWARD);
    if (rc < 0)
        qWarning().noquote() << "[play]" << p.label << "seek failed:" << ffmpegError(rc);
    if (vdec)
        avcodec_flush_buffers(vdec);
    if (adec)
        avcodec_flush_buffers(adec);
    pending.clear();
    pacer->resetClock(steadyNow());
    videoCont.forget();
    soundCont.forget();
    // A seek back to before where playback began would otherwise leave all
    // sound there "before the first picture", and the clock without sound.
    firstPictureKnown = false;
    eof = false;
    drained = false;
}

bool DecodeRun::holdBeforeTarget(bool key)
{
    if (!seekTarget)
        return false;
    const int64_t at = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    if (at == AV_NOPTS_VALUE || double(at) * av_q2d(vtb) >= *seekTarget - tun::kSeekTolerance_s) {
        decodeHeld(); // the target's group of pictures, up to here
        return false;
    }
    if (key)
        dropHeld();
    if (AVPacket* copy = av_packet_clone(pkt)) {
        held.push_back(copy);
        heldBytes += pkt->size;
    }
    // A group of pictures too long to keep is decoded as it comes.
    if (heldBytes > tun::kHeldPacketBytes)
        decodeHeld();
    return true;
}

void DecodeRun::decodeHeld()
{
    for (AVPacket* packet : held) {
        if (!stopped() && avcodec_send_packet(vdec, packet) >= 0)
            receiveVideo();
        av_packet_free(&packet);
    }
    held.clear();
    heldBytes = 0;
}

void DecodeRun::dropHeld()
{
    for (AVPacket* packet : held)
        av_packet_free(&packet);
    held.clear();
    heldBytes = 0;
}

bool DecodeRun::shownAlready(double t)
{
    if (seekTarget) {
        if (t < *seekTarget - tun::kSeekTolerance_s && t > *seekTarget - tun::kSeekReach_s)
            return true;
        seekTarget.reset();
    }
    if (replayFloor) {
        // A live playlist that stopped advancing serves the same footage to
        // every restart; a timeline far behind is a stream that began anew.
        if (t <= *replayFloor && t > *replayFloor - tun::kReplayWindow_s) {
            p.onlyReplayed.store(true);
            return true;
        }
        replayFloor.reset();
    }
    return false;
}

void DecodeRun::handleSeek()
{
    const double s = c.seekRequest.exchange(-1.0);
    if (s >= 0.0 && duration > 0.0)
        seekTo(int64_t(s * double(ctx->duration)));
}

void DecodeRun::deliver(PendingPicture&& picture)
{
    if (!p.hadPicture.load()) {
        p.hadPicture.store(true);
        p.logStep(QStringLiteral("first frame shown"));
    }
    const double pts = picture.pts;
    QImage image = std::move(picture.image);
    std::shared_ptr<const YuvFrame> yuv = std::move(picture.yuv);
    p.post([gen = p.generation, pts, image, yuv](FfmpegPlayer& pl) {
        PlayerAccess::reconnect(pl).picture(gen, pts);
        Q_EMIT pl.position(pts);
        if (yuv)
            Q_EMIT pl.yuvFrameReady(yuv);
        else
            Q_EMIT pl.frameReady(image);
    });
}

void DecodeRun::pacingPass()
{
    const bool catchUp = kind == InputKind::Rtsp && c.catchUpLive.load();
    pacer->pass(pending, steadyNow(), catchUp, [this](PendingPicture&& pic) { deliver(std::move(pic)); });
    if (pacer->takeGaveUp()) {
        qWarning().noquote() << "Audio stopped; continuing on the wall clock";
        soundAtStart = false;
    }
}

void DecodeRun::overloadAndStats()
{
    const double now = steadyNow();
    if ((kind != InputKind::OtherHls || env.testOverload) && !c.paused.load() && meter->windowDue(now)) {
        int onTime = 0, late = 0;
        pacer->takeCounts(onTime, late);
        if (meter->check(now, onTime, late)) {
            qWarning().noquote() << "[play]" << p.label << "can't keep up with the stream";
            p.post([](FfmpegPlayer& pl) { Q_EMIT pl.overloaded(); });
        }
    }
    if (env.playDebug && now - lastStats > tun::kDebugInterval_s) {
        qWarning().noquote() << QStringLiteral("[dbg]%1 decoded=%2 converted=%3 pending=%4 resets=%5")
                                    .arg(p.label)
                                    .arg(decodedCount)
                                    .arg(convertedCount)
                                    .arg(pending.size())
                                    .arg(pacer->resets());
        decodedCount = convertedCount = 0;
        lastStats = now;
    }
}

bool DecodeRun::atEnd()
{
    // The decoder still holds the last pictures of the input: drain them
    // before deciding that playback is over.
    if (!drained) {
        drained = true;
        if (vdec)
            decodeHeld(); // a seek target past the last packet
        if (vdec && avcodec_send_packet(vdec, nullptr) >= 0)
            receiveVideo();
        return true;
    }
    if (pending.empty()) {
        if (c.loop.load() && !stopped()) {
            seekTo(0);
            return true;
        }
        p.endedUnexpectedly.store(kind != InputKind::OtherHls && !stopped());
        return false;
    }
    sleepMs(tun::kIdleSleep_ms);
    return true;
}

bool DecodeRun::receiveVideo()
{
    bool got = false;
    while (!stopped()) {
        const int r = avcodec_receive_frame(vdec, frame);
        if (r < 0)
            break;
        if (handleVideoFrame(frame))
            got = true;
        av_frame_unref(frame);
    }
    return got;
}

void DecodeRun::videoPacket()
{
    const double now = steadyNow();
    const bool key = pkt->flags & AV_PKT_FLAG_KEY;
    if (kind == InputKind::Rtsp && c.catchUpLive.load() && pkt->pts != AV_NOPTS_VALUE) {
        const BehindLive::Result r =
            behind.onPacket(now, double(pkt->pts) * av_q2d(vtb), key, meter->busy(), meter->lastNotice());
        if (r.startedSkip) {
            qWarning().noquote() << QStringLiteral("[play] %1 %2 s behind the camera; skipping to the next keyframe")
                                        .arg(p.label)
                                        .arg(r.lag, 0, 'f', 1);
            if (r.notice) {
                meter->setLastNotice(now);
                p.post([](FfmpegPlayer& pl) { Q_EMIT pl.overloaded(); });
            }
        }
        if (r.action == BehindLive::Action::Drop)
            return;
        if (r.action == BehindLive::Action::ResumeAndDecode) {
            avcodec_flush_buffers(vdec);
            pending.clear();
            pacer->resetClock(now);
            // The jump in media time is the point of the skip: it must not be
            // folded away as a timestamp glitch.
            videoCont.forget();
            soundCont.forget();
        }
    }
    if (c.keyframesOnly.load() && !key)
        return;
    if (!loggedFirstPacket) {
        loggedFirstPacket = true;
        p.logStep(QStringLiteral("first video packet"));
    }
    if (key && !loggedFirstKey) {
        loggedFirstKey = true;
        p.logStep(QStringLiteral("first video keyframe"));
    }
    if (holdBeforeTarget(key))
        return;
    const double t0 = steadyNow();
    if (env.slowDecodeMs > 0)
        sleepMs(env.slowDecodeMs);
    bool got = false;
    if (avcodec_send_packet(vdec, pkt) >= 0)
        got = receiveVideo();
    meter->addDecodeSeconds(steadyNow() - t0);

    if ((hwDevice || hwFake) && hardwareWatch.packetDone(got || anyPictureDecoded)) {
        qWarning().noquote() << "[play]" << p.label << "hardware decoding produced no picture; switching to software";
        c.hardwareFailed.store(true);
        p.endedUnexpectedly.store(true);
        p.endedForSoftware.store(true);
        endForSoftware = true;
    }
}

bool DecodeRun::handleVideoFrame(AVFrame* f)
{
    if (f->width < 1 || f->height < 1 || f->format < 0)
        return false;
    if (hwFake && hardwareSeam.load() == FfmpegPlayer::HardwareSeam::NoPicture)
        return false; // the stand-in hardware decoder yields nothing
    double t = lastPictureTime;
    if (f->best_effort_timestamp != AV_NOPTS_VALUE)
        t = videoCont.apply(double(f->best_effort_timestamp) * av_q2d(vtb), tun::kVideoStep_s);
    lastPictureTime = t;
    if (shownAlready(t))
        return true;
    const double now = steadyNow();
    if (!anyPictureDecoded) {
        anyPictureDecoded = true;
        pacer->firstPictureDecoded(now);
        lastConverted.reset();
        p.logStep(QStringLiteral("first frame decoded"));
    }
    if (!firstPictureKnown) {
        firstPictureKnown = true;
        firstPictureTime = t;
    }
    ++decodedCount;

    const bool snap = c.snapshotRequest.exchange(false);
    if (!snap && capSkips(c.maxFps.load(), lastConverted, t))
        return true;

    AVFrame* src = f;
    if (hwPixFmt >= 0 && f->format == hwPixFmt) {
        av_frame_unref(hwFrame);
        if (av_hwframe_transfer_data(hwFrame, f, 0) < 0)
            return true;
        av_frame_copy_props(hwFrame, f);
        src = hwFrame;
    }
    int fmt = src->format;
    bool full = src->color_range == AVCOL_RANGE_JPEG;
    switch (fmt) {
    case AV_PIX_FMT_YUVJ420P:
        fmt = AV_PIX_FMT_YUV420P;
        full = true;
        break;
    case AV_PIX_FMT_YUVJ422P:
        fmt = AV_PIX_FMT_YUV422P;
        full = true;
        break;
    case AV_PIX_FMT_YUVJ444P:
        fmt = AV_PIX_FMT_YUV444P;
        full = true;
        break;
    case AV_PIX_FMT_YUVJ440P:
        fmt = AV_PIX_FMT_YUV440P;
        full = true;
        break;
    default:
        break;
    }
    const int* coeffs = sws_getCoefficients(SWS_CS_DEFAULT);

    if (snap) {
        SwsContext* one = sws_getContext(src->width, src->height, AVPixelFormat(fmt), src->width, src->height,
                                         AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (one) {
            sws_setColorspaceDetails(one, coeffs, full ? 1 : 0, coeffs, 0, 0, 1 << 16, 1 << 16);
            QImage image(src->width, src->height, QImage::Format_RGB32);
            uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
            int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
            sws_scale(one, src->data, src->linesize, 0, src->height, dst, dstStride);
            sws_freeContext(one);
            p.post([image](FfmpegPlayer& pl) { Q_EMIT pl.snapshotReady(image); });
        }
    }

    if (c.yuvOutput.load() && (fmt == AV_PIX_FMT_YUV420P || fmt == AV_PIX_FMT_NV12)) {
        if (AVFrame* clone = av_frame_clone(src)) {
            auto y = std::make_shared<YuvFrame>();
            y->format = fmt == AV_PIX_FMT_NV12 ? YuvFrame::kNv12 : YuvFrame::kThreePlanes;
            y->width = clone->width;
            y->height = clone->height;
            y->fullRange = full;
            y->bt709 = clone->colorspace == AVCOL_SPC_BT709
                || (clone->colorspace == AVCOL_SPC_UNSPECIFIED && clone->height >= 720);
            for (int i = 0; i < 3; ++i) {
                y->planes[i] = clone->data[i];
                y->strides[i] = clone->linesize[i];
            }
            if (y->format == YuvFrame::kNv12) {
                y->planes[2] = nullptr;
                y->strides[2] = 0;
            }
            y->keepAlive = std::shared_ptr<AVFrame>(clone, [](AVFrame* fr) { av_frame_free(&fr); });
            pending.push_back(PendingPicture{QImage(), t, std::move(y)});
            ++convertedCount;
            lastConverted = t;
            return true;
        }
    }

    const QSize out = rgbOutputSize(src->width, src->height, c.targetWidth.load(), c.targetHeight.load());
    const ScalerKey key{src->width, src->height, fmt, full, out.width(), out.height()};
    if (!sws || !(key == swsKey)) {
        sws_freeContext(sws);
        const int flags = (c.lightDecode.load() && out.width() != src->width) ? SWS_FAST_BILINEAR : SWS_BILINEAR;
        sws = sws_getContext(src->width, src->height, AVPixelFormat(fmt), out.width(), out.height(), AV_PIX_FMT_BGRA,
                             flags, nullptr, nullptr, nullptr);
        if (!sws)
            return true;
        sws_setColorspaceDetails(sws, coeffs, full ? 1 : 0, coeffs, 0, 0, 1 << 16, 1 << 16);
        swsKey = key;
    }
    QImage image(out, QImage::Format_RGB32);
    uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(sws, src->data, src->linesize, 0, src->height, dst, dstStride);
    pending.push_back(PendingPicture{std::move(image), t, nullptr});
    ++convertedCount;
    lastConverted = t;
    return true;
}

void DecodeRun::soundPacket()
{
    if (avcodec_send_packet(adec, pkt) < 0)
        return;
    while (!stopped()) {
        if (avcodec_receive_frame(adec, frame) < 0)
            break;
        double t = -1.0;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
            const double step = double(frame->nb_samples) / std::max(1, adec->sample_rate);
            t = soundCont.apply(double(frame->best_effort_timestamp) * av_q2d(atb), step);
        }
        const bool early = !firstPictureKnown || (t >= 0.0 && t < firstPictureTime - tun::kSoundLeadDrop_s);
        if (!early) {
            const int outSamples = swr_get_out_samples(swr, frame->nb_samples);
            if (outSamples > 0) {
                std::vector<uint8_t> buf(size_t(outSamples) * 4, 0);
                uint8_t* outPlanes[1] = {buf.data()};
                const int n = swr_convert(swr, outPlanes, outSamples, const_cast<const uint8_t**>(frame->extended_data),
                                          frame->nb_samples);
                if (n > 0) {
                    const int bytes = n * 4;
                    bool write = true;
                    if (soundAtStart) {
                        // Wait for room, pacing pictures meanwhile; give up
                        // waiting when the sound clock is given up.
                        while (!stopped() && !c.paused.load() && c.seekRequest.load() < 0.0 && audio.freeBytes() < bytes
                               && soundAtStart) {
                            pacingPass();
                            sleepMs(tun::kIdleSleep_ms);
                        }
                        if (!soundAtStart)
                            write = listening && audio.isOpen() && audio.freeBytes() >= bytes;
                    } else if (audio.freeBytes() < bytes) {
                        write = false;
                    }
                    if (write) {
                        const double now = steadyNow();
                        pacer->soundWritten(soundAtStart ? t : -1.0, now);
                        audio.write(buf.data(), bytes);
                    }
                }
            }
        }
        av_frame_unref(frame);
    }
}

void DecodeRun::loop()
{
    while (!stopped()) {
        applyKeyframes();
        applyListen();
        if (!handlePause())
            break;
        handleSeek();
        pacingPass();
        overloadAndStats();
        if (eof) {
            if (!atEnd())
                break;
            continue;
        }
        if (pacer->holdReading(pending, readAhead, c.keyframesOnly.load())) {
            sleepMs(tun::kIdleSleep_ms);
            continue;
        }
        if (av_read_frame(ctx, pkt) < 0) {
            eof = true;
            continue;
        }
        if (pkt->stream_index == vidx) {
            videoPacket();
        } else if (pkt->stream_index == aidx && soundUsable && soundWanted() && !behind.skipping()) {
            // Sound of a stretch being skipped is skipped with it: written to
            // the output it would hold reading back to real time, and the
            // picture could never catch up with the camera.
            soundPacket();
        }
        av_packet_unref(pkt);
        if (endForSoftware)
            break;
    }
}

void DecodeRun::boundedClose()
{
    if (!ctx)
        return;
    if (kind == InputKind::Rtsp && c.boundedClose.load()) {
        p.deadlineMs.store(steadyMs() + tun::kBoundedClose.count());
        p.deadlineArmed.store(true);
        avformat_close_input(&ctx);
        p.deadlineArmed.store(false);
    } else {
        avformat_close_input(&ctx);
    }
    ctx = nullptr;
    ioClose(nullptr, mainIo);
    mainIo = nullptr;
}

void DecodeRun::cleanup()
{
    dropHeld();
    audio.close();
    swr_free(&swr);
    av_frame_free(&frame);
    av_frame_free(&hwFrame);
    avcodec_free_context(&adec);
    av_packet_free(&pkt);
    sws_freeContext(sws);
    sws = nullptr;
    avcodec_free_context(&vdec);
    av_buffer_unref(&hwDevice);
    boundedClose();
    tunnel.reset();
    pending.clear();
}
