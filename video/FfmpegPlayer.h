#pragma once

#include "video/Pacing.h"
#include "video/PlayerFailure.h"
#include "video/Tunables.h"
#include "video/YuvFrame.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace kvr::video {
struct PlayerControls;
struct Playback;
struct OwnerLink;
} // namespace kvr::video

// The one video player of the application. It lives on the GUI thread; each
// playback runs on a decode thread of its own that opens the input with
// FFmpeg, decodes, paces pictures on the sound or wall clock and posts them
// back as signals. Owners steer it through play/pause/stop and the public
// atomic control fields, which they may write at any time.
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
// control fields, its address and token) alive on its own, so the player
// may be destroyed or play something else at once; the thread is joined by
// a process-wide reaper as soon as it has ended. To stop many players at
// once (a wall changing pages), call requestStop() on each, then destroy
// them or play something else: no player waits for another.
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

    // Starts a new playback. A non-empty `inlinePlaylist` is played from
    // memory as "kvr-inline://playlist.m3u8" and `url` is then ignored. The
    // token goes only to `tokenHost`, never to the relay's HLS paths.
    void play(const QString& url, const QString& token = QString(), const QString& tokenHost = QString(),
              const QByteArray& inlinePlaylist = QByteArray(), double startSeconds = 0.0);
    // Asks the playback to end and returns at once (see above).
    void requestStop();
    // Ends the playback; returns once its decode thread has ended, or after
    // kStopWait at most (see above).
    void stop();
    void pause(bool on) { paused.store(on); }
    // Waits at most kStopWait for the decode thread to end by itself (at the
    // end of a recording, say), without asking it to; true when it has.
    bool join();
    void seekFraction(double fraction) { seekRequest.store(fraction); }

    bool isRunning() const;
    int currentGeneration() const { return m_generation; }
    // The kind of failure the last `status` reported; None before any and
    // after play() (see above).
    kvr::video::PlayerFailure lastFailure() const { return m_lastFailure; }

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
    // first thing in main(), before any thread starts: the number of heaps is
    // fixed once threads have made theirs. The first player calls it too.
    static void prepareProcessHeap();

    // ---- Control fields ---------------------------------------------------
    // Written by owners at any time, read by the decode thread; they live in a
    // block shared with the decode threads (see above).
    std::atomic<bool>& boundedClose;
    std::atomic<int32_t>& openAttempts;
    std::atomic<bool>& paused;
    std::atomic<bool>& muted;
    std::atomic<bool>& audioEnabled;
    std::atomic<bool>& listen;
    std::atomic<bool>& loop;
    std::atomic<double>& rate;
    std::atomic<bool>& live;
    std::atomic<double>& seekRequest;
    std::atomic<int32_t>& targetWidth;
    std::atomic<int32_t>& targetHeight;
    // RGB pictures fit inside the target size (false, for a surface that
    // shows the whole picture, as VideoStage does unless told to cover), or
    // cover it (true, for a surface that crops): either way they are drawn
    // as converted, not scaled again on the GUI thread for every picture.
    std::atomic<bool>& coverTarget;
    std::atomic<double>& maxFps;
    std::atomic<bool>& lightDecode;
    std::atomic<bool>& hardwareDecode;
    std::atomic<bool>& keyframesOnly;
    std::atomic<bool>& catchUpLive;
    std::atomic<bool>& snapshotRequest;
    std::atomic<bool>& yuvOutput;
    std::atomic<bool>& autoReconnect;
    // Media seconds of pictures read ahead at most, when shorter than the
    // player's own choice; 0: the player's choice.
    std::atomic<double>& readAheadCap;
    // Set once, before the first play().
    QString label;

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

    FfmpegPlayer(std::shared_ptr<kvr::video::PlayerControls> controls, QObject* parent);
    void startWorker(bool fresh);
    // Hands the current decode thread to the reaper, after waiting at most `wait` for it.
    void letGo(std::chrono::milliseconds wait);
    void onWorkerEnded(const kvr::video::ReconnectSchedule::Ended& ended);
    void restartStep(int carriedGeneration);

    std::shared_ptr<kvr::video::PlayerControls> m_controls;
    std::shared_ptr<kvr::video::OwnerLink> m_owner;
    // The current playback's state and thread; null / not joinable when idle.
    std::shared_ptr<kvr::video::Playback> m_playback;
    std::thread m_worker;
    int m_generation = 0;
    QString m_url;
    QString m_token;
    QString m_tokenHost;
    QByteArray m_inlinePlaylist;
    double m_startSeconds = 0.0;
    kvr::video::ReconnectSchedule m_reconnect;
    kvr::video::PlayerFailure m_lastFailure = kvr::video::PlayerFailure::None;
};
