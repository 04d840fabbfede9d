#pragma once

// What the player and its decode threads share: the live controls, the way
// back to the player, and one playback's state with its options. Private to the video layer.

#include "video/FfmpegPlayer.h"
#include "video/Logging.h"
#include "video/Pacing.h"
#include "video/PlayerFailure.h"
#include "video/StreamInput.h"
#include "video/Tunables.h"

#include <QByteArray>
#include <QString>
#include <QtDebug>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kvr::video {

// What the player shares with every decode thread it started, so that a
// thread left to end in the background never reads a destroyed player: the
// owner's live controls, and what earlier playbacks learnt.
struct PlayerShared {
    FfmpegPlayer::Controls controls;
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
    Playback(std::shared_ptr<PlayerShared> s, std::shared_ptr<OwnerLink> o, const FfmpegPlayer::Options& opts)
        : shared(std::move(s)),
          controls(shared->controls),
          owner(std::move(o)),
          options(opts)
    {}

    // Fixed before the thread starts.
    std::shared_ptr<PlayerShared> shared;
    FfmpegPlayer::Controls& controls; // the live controls, in `shared`
    std::shared_ptr<OwnerLink> owner;
    const FfmpegPlayer::Options options;
    int generation = 0;
    QString url;
    QString token;
    QString tokenOrigin;
    QByteArray inlinePlaylist;
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
    core::PlayerFailure lastErrorKind = core::PlayerFailure::None;
    NetPool* net = nullptr;
    LivePlaylistWatch playlists;
    // Media segments that failed to open since the last one that opened; at
    // kFailedSegmentsInARow the input is given up (the interrupt callback
    // ends the demuxer's reading).
    int failedSegments = 0;
    bool inputGivenUp = false;
    QString failure; // why playback could not start; empty when it did
    core::PlayerFailure failureKind = core::PlayerFailure::None;

    // Written by the decode thread, read by the player.
    std::atomic<bool> running{true};
    std::atomic<bool> hadPicture{false};
    // Pictures came, but all of them had been shown before.
    std::atomic<bool> onlyReplayed{false};
    // The live playlist stopped moving on: the stream stopped, its
    // connection did not drop.
    std::atomic<bool> playlistStopped{false};
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

    void noteError(core::PlayerFailure kind, const QString& text)
    {
        lastErrorKind = kind;
        lastError = text;
    }
    // A media segment opened, or failed to (its failure noted before).
    void segmentOpened(bool opened)
    {
        failedSegments = opened ? 0 : failedSegments + 1;
        if (failedSegments >= tun::kFailedSegmentsInARow && !inputGivenUp) {
            inputGivenUp = true;
            qCWarning(lcVideo).noquote() << "[hls]" << options.label << failedSegments
                                         << "segments in a row could not be fetched; giving the input up";
        }
    }
    // The last media segment asked for could not be fetched: what the input
    // met says more than what the demuxer made of it.
    bool segmentsFailing() const { return failedSegments > 0 && !lastError.isEmpty(); }
    QString labelPrefix() const
    {
        return options.label.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(options.label);
    }
    qint64 msSinceStart() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startedAt)
            .count();
    }
    void logStep(const QString& step) const
    {
        qCWarning(lcVideo).noquote()
            << QStringLiteral("[play]%1 +%2 ms  %3").arg(labelPrefix()).arg(msSinceStart()).arg(step);
    }
    // Emits on the GUI thread, unless the playback was stopped or replaced by then.
    void post(std::function<void(FfmpegPlayer&)> emitter);
    // A playlist or whole file fetched for the demuxer (PlayerInput.cpp).
    QByteArray fetchBlocking(const QString& address, bool liveRelay);
    // Playback could not start: reported with the end of the thread, where the
    // player decides between a status and a restart.
    void fail(core::PlayerFailure kind, const QString& detail)
    {
        failure = detail;
        failureKind = kind;
    }

private:
    std::mutex finishMutex;
    std::condition_variable finishCv;
    bool finished = false;
};

// The body of a decode thread (DecodeRun.cpp).
void runDecodeLoop(Playback& playback);

// The test and debugging switches of the environment, read once per process.
struct PlayerEnv {
    int slowDecodeMs = 0;
    bool testOverload = false;
    bool playDebug = false;
};
PlayerEnv playerEnv();
void reloadPlayerEnv();

inline double steadyNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QString ffmpegError(int code);

// Gives the playback's notices access to the player's private state.
struct PlayerAccess {
    static bool current(const FfmpegPlayer& player, int generation)
    {
        return player.m_playback && player.m_playback->generation == generation && !player.m_playback->stopFlag.load();
    }
    static kvr::video::ReconnectSchedule& reconnect(FfmpegPlayer& player) { return player.m_reconnect; }
    static void ended(FfmpegPlayer& player, const kvr::video::ReconnectSchedule::Ended& e) { player.onWorkerEnded(e); }
};

} // namespace kvr::video
