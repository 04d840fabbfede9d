#include "native/live/LiveTileRules.h"

#include "app/core/FileNames.h"
#include "native/live/Tunables.h"
#include "native/services/Brands.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

using namespace kvr::core;
using namespace kvr::services;

namespace kvr::live {

namespace LiveTileRules {

QString defaultHeadline()
{
    return QStringLiteral("Can\u2019t play this stream");
}

QString removedText()
{
    return QStringLiteral("This device was removed.");
}

QString noAddressText()
{
    return QStringLiteral("No stream address is known for this brand.");
}

QString watchdogText(bool playback)
{
    return playback ? QStringLiteral("No recording at this time, or the device did not answer.")
                    : QStringLiteral("No picture after 10 seconds.");
}

StatusOutcome classifyStatus(kvr::video::PlayerFailure failure, const QString& detail, bool playback, bool playing,
                             bool main, const QString& host)
{
    using kvr::video::PlayerFailure;
    StatusOutcome out;
    if (playback && playing) {
        out.action = StatusAction::EndOfRecording;
        out.headline = QStringLiteral("End of recording");
        return out;
    }
    // A recorder out of bandwidth or sessions turns the Main stream away
    // with a 4xx (453 Not Enough Bandwidth); Sub usually still fits.
    if (!playback && main && failure == PlayerFailure::ClientError) {
        out.action = StatusAction::FallBackToSub;
        out.toast = QStringLiteral("The recorder has no bandwidth left for Main: showing Sub.");
        return out;
    }
    out.action = StatusAction::Fail;
    out.refused = failure == PlayerFailure::Refused;
    out.detail = NativeBrand::explainStreamError(failure, playback, host);
    out.cause = detail;
    if (playback && failure == PlayerFailure::NotFound)
        out.headline = QStringLiteral("No recording");
    return out;
}

OverloadOutcome overloadStep(bool main, bool playback)
{
    OverloadOutcome out;
    if (main && !playback) {
        out.switchToSub = true;
        out.toast = QStringLiteral("Switched to Sub: this computer can\u2019t keep up with Main here.");
    } else {
        out.toast = QStringLiteral("Can\u2019t keep up with this picture. Use fewer cameras or Sub.");
    }
    return out;
}

RefusedTable& RefusedTable::instance()
{
    static RefusedTable table;
    return table;
}

void RefusedTable::record(const QString& deviceId, qint64 nowMs)
{
    m_at.insert(deviceId, nowMs);
}

void RefusedTable::clear(const QString& deviceId)
{
    m_at.remove(deviceId);
}

bool RefusedTable::blocked(const QString& deviceId, qint64 nowMs) const
{
    const auto it = m_at.constFind(deviceId);
    if (it == m_at.constEnd())
        return false;
    const qint64 age = nowMs - *it;
    return age >= 0 && age < qint64(tun::kRefusedBlock.count());
}

ButtonVisibility buttonsFor(bool hovered, bool removable, bool failed, int width)
{
    ButtonVisibility v;
    v.remove = hovered && removable;
    v.focus = hovered;
    v.snapshot = hovered && width >= tun::kSnapshotButtonMinWidth;
    v.streamSwitch = hovered;
    v.retry = failed;
    return v;
}

OverlayGeometry layoutOverlays(const OverlayInputs& in)
{
    OverlayGeometry g;
    const int w = in.tile.width();
    const int h = in.tile.height();
    const int room = std::max(60, in.hovered ? w - 150 : w - 40);
    // The names' room in the badge; the camera's name takes what it needs
    // of it first.
    const int text = std::max(tun::kNameLeast_px, room - tun::kBadgeChrome_px);
    g.nameWidth = text;
    if (w >= tun::kDeviceNameMinWidth) {
        const int name = std::min(in.nameTextWidth, text);
        const int device = std::min(in.deviceNameTextWidth, text - name - tun::kBadgeSpacing_px);
        g.deviceNameShown = in.deviceNameTextWidth > 0 && device >= tun::kDeviceNameLeast_px;
        if (g.deviceNameShown) {
            g.nameWidth = name;
            g.deviceNameWidth = device;
        }
    }
    g.badge = QPoint(10, 10);
    g.remove = QPoint(w - 38, 8);
    g.focus = QPoint(w - 72, 8);
    g.snapshotPlaced = w >= tun::kSnapshotButtonMinWidth;
    g.snapshot = QPoint(w - 106, 8);
    g.streamSwitch = QPoint(w - in.switchHint.width() - 8, h - in.switchHint.height() - 8);
    // Low on the tile and below the badge; on a tile too low for both, "Try
    // again" gives up height first, down to a line of its text.
    const int belowBadge = g.badge.y() + in.badgeHint.height() + tun::kOverlayGap_px;
    const int y = std::max(std::min(h / 2 + 44, h - 44), belowBadge);
    g.retryHeight = std::max(std::min(in.retryHint.height(), h - 4 - y), std::min(in.retryHint.height(), 22));
    g.retry = QPoint((w - in.retryHint.width()) / 2, std::min(y, h - 4 - g.retryHeight));
    g.toast = QPoint(8, h - in.toastHint.height() - 8);
    return g;
}

bool switchBesideRetry(QSize tile, QSize switchHint, QSize retryHint)
{
    OverlayInputs in;
    in.tile = tile;
    in.switchHint = switchHint;
    in.retryHint = retryHint;
    const OverlayGeometry g = layoutOverlays(in);
    const QRect retry(g.retry, retryHint);
    const QRect around =
        QRect(g.streamSwitch, switchHint)
            .adjusted(-tun::kOverlayGap_px, -tun::kOverlayGap_px, tun::kOverlayGap_px, tun::kOverlayGap_px);
    return !retry.intersects(around);
}

QString snapshotBaseName(const QString& cameraName)
{
    return kvr::core::FileNames::safe(cameraName);
}

QString snapshotFileName(const QString& base, const QDateTime& localTime)
{
    const QString rest = QStringLiteral("_%1.png").arg(localTime.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    return kvr::core::FileNames::safe(base, kvr::core::FileNames::roomBefore(rest)) + rest;
}

QString freeSnapshotPath(const QDir& folder, const QString& base, const QDateTime& localTime)
{
    const QString stamp = QStringLiteral("_%1").arg(localTime.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    // Room for the stamp and the number that tells apart pictures of the
    // same second.
    const QString stem =
        kvr::core::FileNames::safe(base, kvr::core::FileNames::roomBefore(stamp + QStringLiteral("-9999.png"))) + stamp;
    QString path = folder.filePath(stem + QStringLiteral(".png"));
    for (int n = 2; QFileInfo::exists(path) && n < 10000; ++n)
        path = folder.filePath(QStringLiteral("%1-%2.png").arg(stem).arg(n));
    return path;
}

QString snapshotFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) + QStringLiteral("/Kavira");
}

} // namespace LiveTileRules

} // namespace kvr::live
