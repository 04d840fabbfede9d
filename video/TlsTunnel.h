#pragma once

#include "video/Tunables.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

class QThread;

namespace kvr::video {

// TLS for RTSPS input. FFmpeg's RTSP demuxer does not hand certificate checks
// to its TLS layer, so a server with a certificate from an unknown authority
// or for another name would play. Instead the player opens the TLS session
// itself (chain checked against the bundle, name checked against the host)
// and lets FFmpeg speak plain RTSP to a loopback port of this process whose
// bytes are carried through that session.

class TlsTunnel {
public:
    enum class Outcome { Ready, Refused, Untrusted, TimedOut, Failed, Stopped };
    struct Result {
        Outcome outcome = Outcome::Failed;
        QString error; // readable reason when not Ready
    };

    TlsTunnel();
    ~TlsTunnel(); // closes the session and ends the tunnel's thread
    TlsTunnel(const TlsTunnel&) = delete;
    TlsTunnel& operator=(const TlsTunnel&) = delete;

    // Connects and completes the handshake; blocks until done, the stop flag
    // or `handshakeTimeout`, which bounds the handshake only, never the
    // session after it. `caFile` empty: the system's certificates.
    // The chain and the host name are always verified: a secure stream
    // carries the ticket's credentials, whatever network it is on.
    Result open(const QString& host, quint16 port, const QString& caFile, const std::atomic<bool>* stopFlag,
                std::chrono::milliseconds handshakeTimeout = tun::kTlsHandshakeTimeout);

    // The loopback port FFmpeg connects to (valid after a Ready open).
    quint16 localPort() const { return m_localPort; }

    // The CA bundle: KVR_TLS_CA_FILE when set, else the platform's bundle;
    // empty when that file does not exist.
    static QString caBundle();

    // An rtsps:// address rewritten to plain rtsp:// on the loopback port,
    // user, password, path and query kept.
    static QString localAddress(const QString& rtspsUrl, quint16 localPort);

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        Result result;
        quint16 port = 0;
    };
    std::shared_ptr<Shared> m_shared;
    QThread* m_thread = nullptr;
    quint16 m_localPort = 0;
};

} // namespace kvr::video
