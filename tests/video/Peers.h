#pragma once

// Starts one of the real peers of tests/fixtures as a child process and reads
// the port it announces ("PORT <n>"). The peer ends when this object goes: its
// standard input is closed, and it is killed if it lingers.

#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

namespace peers {

class Peer {
public:
    ~Peer() { stop(); } // not copied: it owns its process

    // Starts `program` with `args`; true once it printed its port.
    bool start(const QString& program, const QStringList& args, int timeoutMs = 60000)
    {
        proc = std::make_unique<QProcess>();
        proc->start(program, args);
        if (!proc->waitForStarted(10000))
            return false;
        QElapsedTimer t;
        t.start();
        QByteArray out;
        static const QRegularExpression re(QStringLiteral("PORT (\\d+)"));
        while (t.elapsed() < timeoutMs) {
            if (!proc->waitForReadyRead(200) && proc->state() != QProcess::Running)
                break;
            out += proc->readAllStandardOutput();
            const auto m = re.match(QString::fromUtf8(out));
            if (m.hasMatch()) {
                port = quint16(m.captured(1).toUInt());
                return true;
            }
        }
        qWarning() << "peer did not start:" << program << args << out << proc->readAllStandardError();
        return false;
    }

    void stop()
    {
        if (!proc)
            return;
        proc->closeWriteChannel();
        if (!proc->waitForFinished(3000)) {
            proc->kill();
            proc->waitForFinished(3000);
        }
        proc.reset();
    }

    quint16 port = 0;
    std::unique_ptr<QProcess> proc;
};

// Debian's python3 has the GStreamer bindings; a python3 earlier on PATH may not.
inline QString systemPython()
{
    return QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                             : QStringLiteral("python3");
}

inline bool startRtsp(Peer& peer, const QStringList& extra = {})
{
    return peer.start(systemPython(), QStringList{kvrtest::fixturePath(QStringLiteral("rtsp/rtsp_server.py"))} + extra);
}

// With `make` it first writes its media; `port` 0 takes a free one; with a
// `tls` certificate (and key, one PEM file) it speaks HTTPS.
inline bool startHls(Peer& peer, const QString& root, const QString& script, const QString& log, bool make = true,
                     quint16 port = 0, const QString& tls = QString())
{
    QStringList args{kvrtest::fixturePath(QStringLiteral("hls/hls_server.py"))};
    args << QStringLiteral("--root") << root << QStringLiteral("--script") << script << QStringLiteral("--log") << log
         << QStringLiteral("--port") << QString::number(port);
    if (make)
        args << QStringLiteral("--make");
    if (!tls.isEmpty())
        args << QStringLiteral("--tls") << tls;
    return peer.start(QStringLiteral("python3"), args, 120000);
}

inline bool startProxy(Peer& peer, quint16 target, const QString& mode, int afterMs = 1000, int stallMs = 3000)
{
    QStringList args{kvrtest::fixturePath(QStringLiteral("proxy/fault_proxy.py"))};
    args << QStringLiteral("--target") << QString::number(target) << QStringLiteral("--mode") << mode
         << QStringLiteral("--after-ms") << QString::number(afterMs) << QStringLiteral("--stall-ms")
         << QString::number(stallMs);
    return peer.start(QStringLiteral("python3"), args);
}

// Steers a fault proxy as an outage of what stands behind it: "down" cuts
// its connections and refuses new ones, "up" listens on its port again;
// "mute" cuts the path silently (connections stay and are taken, no byte
// passes), "unmute" ends that. True once the proxy has done it.
// A peer steered through its standard input, which says a command back in
// capitals once it has done it (the fault proxy, the RTSP server).
inline bool steer(Peer& peer, const QString& command)
{
    if (!peer.proc)
        return false;
    peer.proc->write(command.toUtf8() + '\n');
    const QByteArray done = command.toUpper().toUtf8();
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        out += peer.proc->readAllStandardOutput();
        if (out.contains(done))
            return true;
        peer.proc->waitForReadyRead(100);
    }
    return false;
}

inline bool steerProxy(Peer& proxy, const QString& command)
{
    return steer(proxy, command);
}

// Writes the HLS server's script.
inline void writeScript(const QString& path, const QByteArray& json)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(json);
}

// The HLS server's request log, one JSON object per request.
inline QList<QJsonObject> readRequests(const QString& path)
{
    QList<QJsonObject> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            out << QJsonDocument::fromJson(line).object();
    }
    return out;
}

inline QString rtspUrl(quint16 port, const QString& scheme = QStringLiteral("rtsp"))
{
    return QStringLiteral("%1://127.0.0.1:%2/live").arg(scheme).arg(port);
}

// Arguments for the ffmpeg tool making `seconds` of a 320 x 240, 25 a second
// H.264 test picture with a keyframe every second (at real speed when asked);
// the output options follow.
inline QStringList testPictureArgs(int seconds, bool realTime = false)
{
    return QStringLiteral("-hide_banner -loglevel error%1 -f lavfi -i testsrc2=size=320x240:rate=25:duration=%2 "
                          "-c:v libx264 -preset ultrafast -g 25")
        .arg(realTime ? QStringLiteral(" -re") : QString())
        .arg(seconds)
        .split(QLatin1Char(' '));
}

// The first logged line that contains any of `secrets`, or an empty string.
inline QString leaked(const kvrtest::LogCapture& log, const QStringList& secrets)
{
    for (const QString& line : log.messages())
        for (const QString& secret : secrets)
            if (line.contains(secret))
                return line;
    return QString();
}

} // namespace peers
