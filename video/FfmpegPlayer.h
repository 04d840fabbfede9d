#pragma once

#include "video/Tunables.h"
#include "video/YuvFrame.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSslError>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

class QNetworkAccessManager;
class QNetworkReply;
struct AVFormatContext;
struct AVIOContext;
struct AVCodecContext;
struct AVDictionary;

// The one video player of the application. It lives on the GUI thread; each
// playback runs on a decode thread of its own that opens the input with
// FFmpeg, decodes, paces pictures on the sound or wall clock and posts them
// back as signals. Owners steer it through play/pause/stop and the public
// atomic control fields, which they may write at any time.
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
    // Ends the playback; returns once the decode thread has ended. The
    // thread's waits all end within a fraction of a second of the request.
    void stop();
    void pause(bool on) { paused.store(on); }
    // Joins the decode thread without asking it to end.
    void join();
    void seekFraction(double fraction) { seekRequest.store(fraction); }

    bool isRunning() const { return running.load(); }
    int currentGeneration() const { return generation.load(); }

    // ---- Test seams -----------------------------------------------------
    // There is no hardware decoder on the build machines; tests force the
    // hardware branch's two failure modes through this.
    enum class HardwareSeam { Real, FailOpen, NoPicture };
    static void setHardwareSeam(HardwareSeam seam);
    // Reads the KVR_ variables of the player again (normally once per process).
    static void reloadEnvironment();

private:
    std::thread worker;
    std::atomic<bool> stopFlag{false};

public:
    // ---- Control fields ---------------------------------------------------
    std::atomic<bool> boundedClose{false};

private:
    std::atomic<bool> deadlineArmed{false};
    std::atomic<int64_t> deadlineMs{0};

public:
    std::atomic<int32_t> openAttempts{kvr::video::tun::kDefaultOpenAttempts};
    std::atomic<bool> paused{false};

private:
    std::atomic<bool> running{false};

public:
    std::atomic<bool> muted{false};
    std::atomic<bool> audioEnabled{true};
    std::atomic<bool> listen{false};
    std::atomic<bool> loop{false};
    std::atomic<double> rate{1.0};
    std::atomic<bool> live{true};

private:
    double startSeconds = 0.0;

public:
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

private:
    std::atomic<bool> hardwareFailed{false};

public:
    std::atomic<bool> autoReconnect{false};

private:
    std::atomic<bool> hadPicture{false};
    std::atomic<bool> endedUnexpectedly{false};
    // The call ended to retry in software; restarted whatever autoReconnect says.
    std::atomic<bool> endedForSoftware{false};
    int32_t reconnectCount = 0;
    std::atomic<int32_t> generation{0};

public:
    QString label;

private:
    QString url;
    QString token;
    QString tokenHost;
    QByteArray inlinePlaylist;
    QString lastError;
    std::chrono::steady_clock::time_point startedAt{};
    std::atomic<QNetworkAccessManager*> net{nullptr};

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
    friend class DecodeRun;
    friend struct PlayerAccess;

    void startWorker();
    void onWorkerEnded(int endedGeneration, bool hadPictureThen, bool unexpected, bool forSoftware);
    void restartStep(int carriedGeneration);
    void run();
    QByteArray fetchBlocking(const QString& address);
    void onSslErrors(QNetworkReply* reply, const QList<QSslError>& errors);
    void stopAndJoin();

    // Queued notices to the GUI thread (context: this player).
    void post(std::function<void()> emitter);
    void logStep(const QString& step);
    QString labelPrefix() const;
    qint64 msSinceStart() const;

    static int interrupt(void* opaque);
    static int ioOpen(AVFormatContext* context, AVIOContext** result, const char* address, int flags,
                      AVDictionary** options);
    static int ioClose(AVFormatContext* context, AVIOContext* io);
};
