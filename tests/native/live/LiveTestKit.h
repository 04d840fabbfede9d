#pragma once

// Helpers shared by the native live view suites: the RTSP server with recorder-style addresses, and
// native devices in the process's inventory that point at a fake device's
// HTTP port and at that RTSP server.

#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"

#include <QtTest>

#include <memory>

namespace livetest {

// The RTSP server answering the addresses native tiles ask for: Dahua-style
// live and playback (every channel and stream: the query plays no part) and
// the ISAPI-style main and sub streams of channels 1 and 2. Every viewer gets
// its own pipeline: tiles that stop and start together never share a media
// that is being torn down (the server's shared media does not survive that).
inline bool startRecorderRtsp(peers::Peer& peer, const QStringList& extra = {})
{
    QStringList args{QStringLiteral("--no-audio"), QStringLiteral("--unshared")};
    for (const char* path : {"/cam/realmonitor", "/cam/playback", "/Streaming/Channels/101", "/Streaming/Channels/102",
                             "/Streaming/Channels/201", "/Streaming/Channels/202"})
        args << QStringLiteral("--mount") << QString::fromLatin1(path);
    return peers::startRtsp(peer, args + extra);
}

// A native device record for a fake device and an RTSP port.
inline kvr::services::Native::Device deviceFor(const QString& name, const QString& brand, quint16 httpPort,
                                               quint16 rtspPort, int channels, const QString& siteId = QString())
{
    kvr::services::Native::Device d;
    d.name = name;
    d.siteId = siteId;
    d.ip = QStringLiteral("127.0.0.1");
    d.httpPort = httpPort;
    d.rtspPort = rtspPort;
    d.username = QStringLiteral("admin");
    d.password = QStringLiteral("s3cret:/@pw");
    d.manufacturer = brand;
    d.type = QStringLiteral("nvr");
    d.channels = channels;
    return d;
}

// Adds the device to the process's inventory; returns its id.
inline QString addDevice(const kvr::services::Native::Device& d)
{
    return kvr::services::NativeStore::instance().addDevice(d);
}

// Marks channels online (the rest offline) as a probe would.
inline void setOnline(const QString& id, const QList<int>& online, int channels)
{
    kvr::services::Native::ProbeResult r;
    r.health.internet = r.health.device = kvr::services::Native::Passed;
    r.channelsKnown = true;
    for (int c = 1; c <= channels; ++c) {
        kvr::services::Native::ChannelInfo info;
        info.channel = c;
        info.onlineKnown = true;
        info.online = online.contains(c);
        r.channels << info;
    }
    kvr::services::NativeStore::instance().applyProbe(id, r);
}

// Names cameras "Camera <n>" would otherwise show.
inline void nameCameras(const QString& id, const QStringList& names)
{
    QList<kvr::services::Native::Camera> cams = kvr::services::NativeStore::instance().device(id)->cameras;
    for (int i = 0; i < cams.size() && i < names.size(); ++i)
        cams[i].name = names.at(i);
    kvr::services::NativeStore::instance().saveCameras(id, cams);
}

// Empties the process's inventory.
inline void clearInventory()
{
    // Walked over copies: each removal changes the store's lists.
    const QList<kvr::services::Native::Device> devices = kvr::services::NativeStore::instance().devices();
    for (const kvr::services::Native::Device& d : devices)
        kvr::services::NativeStore::instance().removeDevice(d.id);
    const QList<kvr::services::Native::Site> sites = kvr::services::NativeStore::instance().sites();
    for (const kvr::services::Native::Site& s : sites)
        kvr::services::NativeStore::instance().removeSite(s.id);
}

// A picture as a device would send it.
inline QByteArray pictureBytes(int w, int h, const char* format = "JPG", QColor colour = QColor(40, 90, 140))
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace livetest
