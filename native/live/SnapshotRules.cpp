#include "native/live/SnapshotRules.h"

#include "app/core/TextDirection.h"
#include "native/live/Tunables.h"

using namespace kvr::services;

namespace kvr::live {

namespace SnapshotRules {

QList<int> camerasInScope(const Native::Device& device, int channel)
{
    QList<int> out;
    for (const Native::Camera& c : device.cameras) {
        if (device.isIgnored(c.channelId))
            continue;
        if (channel != 0 && c.channelId != channel)
            continue;
        out << c.channelId;
    }
    return out;
}

bool fetchAtOpen(const Native::Device* device, int channel, const QMap<int, SnapshotRecord>& cached)
{
    if (!device || channel != 0)
        return true;
    for (int c : camerasInScope(*device, channel)) {
        if (!cached.contains(c))
            return true;
    }
    return false;
}

Outcome readReply(const NativeHttp::Response& reply)
{
    Outcome out;
    if (reply.ok()) {
        out.picture = QImage::fromData(reply.body);
        if (out.picture.isNull())
            out.error = QStringLiteral("Not a picture.");
    } else if (reply.status == 401) {
        out.error = QStringLiteral("Login refused.");
    } else if (reply.status != 0) {
        out.error = QStringLiteral("HTTP %1.").arg(reply.status);
    } else {
        out.error = reply.error;
    }
    return out;
}

QPixmap cardPicture(const QImage& image)
{
    QPixmap pixmap =
        QPixmap::fromImage(image.scaled(tun::kSnapshotPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(tun::kSnapshotPixelRatio);
    return pixmap;
}

QString noPathError(bool usesOnvif)
{
    return usesOnvif ? QStringLiteral("Needs ONVIF snapshot support.")
                     : QStringLiteral("This brand has no snapshot over HTTP.");
}

QString statusText(int total, int inFlight, int queued)
{
    return QStringLiteral("Checking %1 of %2").arg(total - inFlight - queued).arg(total);
}

QString placeholder(const SnapshotRecord* record)
{
    if (!record || record->checking)
        return QStringLiteral("Checking");
    return QStringLiteral("No snapshot\n%1").arg(record->error);
}

QString caption(int channel, const QString& name)
{
    return QStringLiteral("#%1 %2").arg(channel).arg(kvr::core::TextDirection::isolate(name));
}

} // namespace SnapshotRules

} // namespace kvr::live
