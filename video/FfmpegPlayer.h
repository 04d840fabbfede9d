#pragma once

#include "video/DecodeSettings.h"
#include "video/Pacing.h"
#include "video/PlayerFailure.h"
#include "video/Tunables.h"
#include "video/YuvFrame.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace kvr::video {

struct PlayerShared;
struct Playback;
struct OwnerLink;

// The one video player of the application. It lives on the GUI thread; each
// playback runs on a decode thread of its own that opens the input with
// FFmpeg, decodes, paces pictures on the sound or wall clock and posts them
// back as signals. Owners steer it in two ways (see below): the options a
// playback starts with, and the few live controls that they may change while
// pictures flow.
//
// Stopping, and what a stopped thread may still do:
// - requestStop() asks the decode thread to end and returns at once. From
//   then on the playback is over for the owner: isRunning() is false and no
//   signal of it is emitted any more, while its thread winds down (closes the
//   input, hangs up on the camera, releases the sound device) in the
//   background. That takes a fraction of a second, unless the thread sits in
//   a call nothing can interrupt (a name lookup, a sound device that stopped
//   taking data), which ends when the system lets it.
// - stop() is requestStop() followed by a wait of at most kStopWait for the
//   thread to end, so that what it held (a camera's session, a connection)
//   is free when stop() returns in all ordinary cases.
// - play() stops the previous playback as stop() does, then starts the new
//   one; it never waits longer than kStopWait either.
// - The destructor only asks the thread to end; it never waits.
// A decode thread left to end in the background keeps what it reads (the
// live controls, its copy of the options, its address and token) alive on
// its own, so the player may be destroyed or play something else at once;
// the thread is joined by a process-wide reaper as soon as it has ended. To
// stop many players at once (a wall changing pages), call requestStop() on
// each, then destroy them or play something else: no player waits for
// another.
//
// Failures: `status(headline, detail)` carries texts for people. What kind of
// failure it reports is lastFailure(), set just before `status` is emitted
// and kept until the next play(); owners decide on that, never on the texts.
// `status` is always emitted on the player's own thread, so a slot connected
// to it reads the kind that belongs to it.
class FfmpegPlayer : public QObject {
    Q_OBJECT
public:
    explicit FfmpegPlayer(QObject* parent = nullptr);
    ~FfmpegPlayer() override;

    // What a playback starts with. The owner sets them before play(), which
    // copies them into the playback; the playback keeps its copy to its end,
    // restarts after a drop included, so its decode thread reads values that
    // nothing changes under it. Changing them meanwhile applies from the next
    // play().
    struct Options {
        // The owner's short name for this player's camera, in log lines.
        QString label;
        // RTSP: attempts at opening (a refusal is never tried again), and a
        // session closed with kBoundedClose at most.
        int32_t openAttempts = kvr::video::tun::kDefaultOpenAttempts;
        bool boundedClose = false;
        // Live input: a relay playlist is joined at its live edge.
        bool live = true;
        // The sound output opens at the start (at rate 1 only); without it,
        // Controls::listen can still open it later.
        bool audioEnabled = true;
        // At the end of the input, start again from the beginning.
        bool loop = false;
        // Playback speed (0.25 to 32).
        double rate = 1.0;
        // Cheaper decoding: one thread, no loop filter, fast scaling.
        bool lightDecode = false;
        // RTSP that falls behind the camera skips ahead to a keyframe.
        bool catchUpLive = false;
        // After an unexpected end, start again (three times at most).
        bool autoReconnect = false;
        // RGB pictures fit inside the target size (false, for a surface that
        // shows the whole picture, as VideoStage does unless told to cover),
        // or cover it (true, for a surface that crops): either way they are
        // drawn as converted, not scaled again on the GUI thread for every
        // picture.
        bool coverTarget = false;
        // Media seconds of pictures read ahead at most, when shorter than the
        // player's own choice; 0: the player's choice.
        double readAheadCap = 0.0;
    };

    // The live controls: what an owner may change while pictures flow. They
    // live in a block shared with the decode threads (see above); the owner
    // writes them on the GUI thread at any time and the decode thread reads
    // them as it goes.
    struct Controls {
        // pause(); cleared when a playback starts.
        std::atomic<bool> paused{false};
        std::atomic<bool> muted{false};
        // Sound switched on later, where the output was not opened at the start.
        std::atomic<bool> listen{false};
        // seekFraction(): a fraction 0..1 of the duration, taken by the decode
        // thread; -1: none. play() drops one asked for before it.
        std::atomic<double> seekRequest{-1.0};
        // Size in device pixels of the RGB pictures (see Options::coverTarget);
        // 0: as decoded.
        std::atomic<int32_t> targetWidth{0};
        std::atomic<int32_t> targetHeight{0};
        // Most pictures delivered a second; 0: no limit.
        std::atomic<double> maxFps{0.0};
        std::atomic<bool> keyframesOnly{false};
        // The next picture is delivered full-size as well; cleared when taken.
        std::atomic<bool> snapshotRequest{false};
        // YUV pictures for the GPU view instead of RGB ones; turned off while
        // playing when that view fails.
        std::atomic<bool> yuvOutput{false};
        // Hardware decoding may be tried. Read as each decode thread opens its
        // decoder, so a change applies from the next start or restart; a wall
        // that loses a display changes it for tiles that go on playing.
        std::atomic<bool> hardwareDecode{false};
    };

    // The options the next play() starts with (GUI thread only).
    Options& options() { return m_options; }
    const Options& options() const { return m_options; }
    // The live controls, for the owner to change at any time.
    Controls& controls();
    const Controls& controls() const;
    // How the decode settings reach the player, for both modes: hardware
    // decoding as they allow it, and YUV pictures when they draw with the
    // graphics chip and the owner's view still can (`gpuViewWorks`). While
    // that is not settled (DecodeSettings::Drawing::ProcessorUntilReady),
    // RGB pictures; once the chip is ready, YUV ones from the next picture.
    void applyDecodeSettings(const kvr::video::DecodeSettings& decode, bool gpuViewWorks = true);

    // Starts a new playback with options(). A non-empty `inlinePlaylist` is
    // played from memory as "kvr-inline://playlist.m3u8" and `url` is then
    // ignored. The token goes only to `tokenOrigin` (the server's scheme,
    // host and port, as "https://vms.example.org:8443"), never to the relay's
    // HLS paths.
    void play(const QString& url, const QString& token = QString(), const QString& tokenOrigin = QString(),
              const QByteArray& inlinePlaylist = QByteArray(), double startSeconds = 0.0);
    // Asks the playback to end and returns at once (see above).
    void requestStop();
    // Ends the playback; returns once its decode thread has ended, or after
    // kStopWait at most (see above).
    void stop();
    void pause(bool on);
    // Waits at most kStopWait for the decode thread to end by itself (at the
    // end of a recording, say), without asking it to; true when it has.
    bool join();
    void seekFraction(double fraction);

    bool isRunning() const;
    int currentGeneration() const { return m_generation; }
    // The kind of failure the last `status` reported; None before any and
    // after play() (see above).
    kvr::video::PlayerFailure lastFailure() const { return m_lastFailure; }
    // Why the restart that `reconnecting` announced is made: Stopped when the
    // stream stopped moving on (its live playlist no longer advances, the
    // connection held), else Dropped. Set just before `reconnecting`.
    kvr::video::PlayerFailure reconnectingFor() const { return m_reconnectingFor; }

    // ---- Test seams -----------------------------------------------------
    // There is no hardware decoder on the build machines; tests force the
    // hardware branch's two failure modes through this.
    enum class HardwareSeam { Real, FailOpen, NoPicture };
    static void setHardwareSeam(HardwareSeam seam);
    // Reads the KVR_ variables of the player again (normally once per process).
    static void reloadEnvironment();
    // Decode threads that were let go of and have not been joined yet.
    static int backgroundThreads();
    // Hands memory freed by ended playbacks back to the system where the C
    // library keeps it (glibc); call after a playback's pictures are gone.
    static void returnFreedMemory();
    // Sets the C library's heap (glibc) up so that what playbacks freed can
    // go back to the system (see the memory tunables). A program calls it
    // first thing in main(), before any thread starts: a number of heaps, when
    // one is set, is fixed once threads have made theirs. The first player
    // calls it too.
    static void prepareProcessHeap();

Q_SIGNALS:
    void overloaded();
    void opened();
    void yuvFrameReady(std::shared_ptr<const YuvFrame> frame);
    void snapshotReady(QImage fullSize);
    void reconnecting(int attempt, int total, QString why);
    void frameReady(QImage frame);
    void status(QString headline, QString detail);
    void durationKnown(double seconds);
    void position(double seconds);
    void audioTrack(bool present);

private:
    friend struct PlayerAccess;

    void startWorker(bool fresh);
    // Hands the current decode thread to the reaper, after waiting at most `wait` for it.
    void letGo(std::chrono::milliseconds wait);
    void onWorkerEnded(const kvr::video::ReconnectSchedule::Ended& ended);
    void restartStep(int carriedGeneration);

    Options m_options;
    // The options of the playback under way, copied by play().
    Options m_playing;
    std::shared_ptr<kvr::video::PlayerShared> m_shared;
    std::shared_ptr<kvr::video::OwnerLink> m_owner;
    // The current playback's state and thread; null / not joinable when idle.
    std::shared_ptr<kvr::video::Playback> m_playback;
    std::thread m_worker;
    int m_generation = 0;
    QPointer<QObject> m_drawingWait; // while it lives: a switch to the graphics chip once drawing settles
    QString m_url;
    QString m_token;
    QString m_tokenOrigin;
    QByteArray m_inlinePlaylist;
    double m_startSeconds = 0.0;
    kvr::video::ReconnectSchedule m_reconnect;
    kvr::video::PlayerFailure m_lastFailure = kvr::video::PlayerFailure::None;
    kvr::video::PlayerFailure m_reconnectingFor = kvr::video::PlayerFailure::Dropped;
    // The relay stream the last playback played live: play() of it again
    // shows nothing of it that was shown before (a frozen playlist's window).
    QString m_lastLive;
};

} // namespace kvr::video
