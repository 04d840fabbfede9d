#pragma once

#include "video/PlayerFailure.h"
#include "video/Tunables.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace kvr::video {

// Byte input of the player's FFmpeg hooks: playlists held in memory, local
// files, whole-file fetches and ranged HTTP reads. Everything here runs on the
// decode thread that owns the network manager; every wait also ends promptly
// when the player's stop flag is raised.

// How an address is played.
enum class InputKind { Rtsp, RelayHls, OtherHls };
InputKind classifyInput(const QString& url);
bool isRtsps(const QString& url);

inline constexpr char kInlinePlaylistUrl[] = "kvr-inline://playlist.m3u8";
inline constexpr char kRelayHlsMarker[] = "/mediamtx/hls/";

// The address with the password of its user part replaced by "***".
QString maskSecrets(const QString& text);

// Whether the bearer token may go with a request to `url`: only to the origin
// it was given for (`tokenOrigin`: the same scheme, host and port, a port left
// out being the scheme's own), and never to the relay's HLS paths. Another
// port or scheme of the same host may be another service: a front a redirect
// names there gets no token.
bool tokenAllowed(const QUrl& url, const QString& token, const QString& tokenOrigin);

// Where a redirect answer to a request for `from` sends it, when it may be
// followed: an HTTP or HTTPS address, never from HTTPS down to plain HTTP.
// Empty otherwise. Followed by hand (a few at most, tun::kMaxRedirects), so
// that each address gets the bearer token only when tokenAllowed() says so.
QUrl redirectTarget(const QUrl& from, const QByteArray& location);
bool isRedirect(int httpStatus);

// The last "/"-separated part of an address's path, for log lines.
QString shortName(const QUrl& url);

// Base of the byte sources behind an FFmpeg I/O context.
class Source {
public:
    virtual ~Source() = default;
    // Bytes copied, or an FFmpeg error code.
    virtual int read(uint8_t* buffer, int size) = 0;
    // New position, the size (AVSEEK_SIZE), or -1.
    virtual int64_t seek(int64_t offset, int whence) = 0;
};

class MemSource : public Source {
public:
    explicit MemSource(QByteArray data) : m_data(std::move(data)) {}
    int read(uint8_t* buffer, int size) override;
    int64_t seek(int64_t offset, int whence) override;

private:
    QByteArray m_data;
    int64_t m_pos = 0;
};

// The HTTP connections of one decode thread: every playlist, segment and
// ranged read of the thread goes through one network manager, so they ride on
// kept-alive connections instead of paying a new TCP and TLS set-up each.
//
// Qt 6.4 keeps a connection whose reply was paused by the read-buffer limit
// busy for good once that reply is aborted; a few seeks would leave no
// connection for new requests. So a request given up before its end retires
// the manager: later requests get a fresh one, and the retired one closes its
// connections when its last reply has gone. Replies that finished leave their
// connection idle and reusable.
//
// Certificate errors are tolerated for private hosts only. Use on one thread.
class NetPool {
public:
    NetPool() = default;
    NetPool(const NetPool&) = delete;
    NetPool& operator=(const NetPool&) = delete;

    // The manager for the next request (made when there is none).
    std::shared_ptr<QNetworkAccessManager> manager();
    // A reply made through `used` is given up before its end.
    void retire(const std::shared_ptr<QNetworkAccessManager>& used);

private:
    std::shared_ptr<QNetworkAccessManager> m_current;
};

// Reads one HTTP resource in pieces, with byte ranges when the server has them.
class HttpSource : public Source {
public:
    // The bearer token goes with each request, and each redirect of it, whose
    // address tokenAllowed() lets it go to.
    HttpSource(NetPool* pool, const std::atomic<bool>* stopFlag, const QUrl& url, const QString& token = QString(),
               const QString& tokenOrigin = QString());
    ~HttpSource() override;

    // Sends a request at `offset`; false when it failed (see httpStatus()).
    bool request(int64_t offset);
    int read(uint8_t* buffer, int size) override;
    int64_t seek(int64_t offset, int whence) override;

    int httpStatus() const { return m_httpStatus; }
    // Why the last request failed (see request()), as a kind and in words:
    // "HTTP %1" where the server answered, else what the network met.
    core::PlayerFailure failure() const { return m_failure; }
    QString failureText() const { return m_failureText; }
    int64_t totalSize() const { return m_totalSize; }
    int64_t position() const { return m_pos; }
    int64_t bufferStart() const { return m_bufferStart; }
    int64_t bufferedBytes() const { return m_buffer.size(); }
    int requestCount() const { return m_requests; }

private:
    void dropReply();
    void drain();
    bool stopped() const { return m_stopFlag && m_stopFlag->load(); }

    NetPool* m_pool;
    std::shared_ptr<QNetworkAccessManager> m_net; // the manager of the current reply
    const std::atomic<bool>* m_stopFlag;
    QUrl m_url;
    QString m_token;
    QString m_tokenOrigin;
    QNetworkReply* m_reply = nullptr;
    QByteArray m_buffer;
    int64_t m_bufferStart = 0;
    int64_t m_pos = 0;
    int64_t m_totalSize = -1;
    int64_t m_expectedEnd = -1; // absolute end of the current body when announced
    uint64_t m_bytesRead = 0;
    int m_httpStatus = 0;
    core::PlayerFailure m_failure = core::PlayerFailure::None;
    QString m_failureText;
    bool m_rangesSupported = false;
    bool m_finished = false;
    bool m_failed = false;
    bool m_loggedOpen = false;
    int m_requests = 0;
    QElapsedTimer m_clock;
};

// A blocking GET of a whole file, bounded by size (a playlist, kPlaylistMaxBytes;
// any other file, kWholeFileMaxBytes) and by time: the whole answer must have
// come within `timeout`.
struct FetchRequest {
    NetPool* net = nullptr;
    const std::atomic<bool>* stopFlag = nullptr;
    QString url;
    QString token;
    QString tokenOrigin;
    bool hadPicture = false;
    std::chrono::milliseconds timeout = tun::kFetchTimeout;
};
struct FetchResult {
    QByteArray body; // empty on failure
    // "HTTP %1" where the server answered with a failure, else what went
    // wrong in words ("The playlist is too large."); empty on success.
    QString error;
    // The kind of `error`.
    core::PlayerFailure failure = core::PlayerFailure::None;
    // Bytes of the body taken from the network by the last attempt, also
    // when it failed (a body beyond the bound is not read on).
    qint64 received = 0;
};
FetchResult fetchWhole(const FetchRequest& request);

// Notices live playlists that stopped moving on: the last segment of a
// playlist without an end stays the same for three target durations (at
// least 3 s). Finished playlists and variant lists are never stale.
class LivePlaylistWatch {
public:
    // A fetched copy of the playlist at `url`, at `now` (steady seconds).
    bool stale(const QString& url, const QByteArray& text, double now);

private:
    struct Seen {
        qint64 lastSegment = -1;
        double since = 0.0;
    };
    QHash<QString, Seen> m_seen;
};

// Outcome of a wait on a network reply.
enum class WaitEnd { Signalled, TimedOut, Stopped };
enum class WaitFor { Headers, Data, Finish };
// Waits on the reply for `what` (its end always counts), at most `timeout`;
// ends early when the stop flag is raised.
WaitEnd waitOnReply(QNetworkReply* reply, WaitFor what, std::chrono::milliseconds timeout,
                    const std::atomic<bool>* stopFlag);

} // namespace kvr::video
