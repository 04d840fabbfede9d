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
    g.badge = QPoint(10, 10);
    g.badgeMargins = QMargins(9, 4, 11, 4);
    g.badgeSpacing = tun::kBadgeSpacing_px;
    g.nameLeast = tun::kNameLeast_px;
    const bool narrow = w < tun::kTileNarrow_px;
    if (narrow) {
        // A narrow tile's badge lies nearer its edges and never past them.
        g.badge = QPoint(tun::kNarrowInset_px, tun::kNarrowInset_px);
        g.badgeMargins = QMargins(5, 2, 6, 2);
        g.badgeSpacing = 4;
        g.nameLeast = tun::kNarrowNameLeast_px;
    }
    const int inset = g.badge.x();

    // "Try again": low on the tile and below the badge; on a tile too low
    // for both it gives up height first, down to a line of its text, and
    // never rises over the badge. Where its text has no room there (across
    // or down), its icon stands before the badge in place of the badge's
    // dot: the badge's names keep all but a few pixels of their room.
    const int badgeHeight =
        std::max(in.badgeHint.height(), in.lineHeight + g.badgeMargins.top() + g.badgeMargins.bottom());
    const int badgeBottom = g.badge.y() + badgeHeight;
    const int belowBadge = badgeBottom + tun::kOverlayGap_px;
    const int y = std::max(std::min(h / 2 + 44, h - 44), belowBadge);
    const int line = in.retryCompactHint.isValid() ? std::min(in.retryHint.height(), in.retryCompactHint.height())
                                                   : std::min(in.retryHint.height(), 22);
    g.retryHeight = std::max(std::min(in.retryHint.height(), h - 4 - y), line);
    const int across = w - 2 * tun::kNarrowInset_px;
    // A size smaller also where it is too wide at its full size.
    if (in.retryCompactHint.isValid() && in.retryHint.width() > across)
        g.retryHeight = std::min(g.retryHeight, in.retryCompactHint.height());
    const bool compact = g.retryHeight < in.retryHint.height() && in.retryCompactHint.isValid();
    const int textWidth = (compact ? in.retryCompactHint : in.retryHint).width();
    const int top = std::max(std::min(y, h - 4 - g.retryHeight), badgeBottom + tun::kRetryGap_px);
    g.retry = QPoint((w - textWidth) / 2, top);
    const int side = tun::kRetryIcon_px;
    if (textWidth <= across && top + g.retryHeight <= h - tun::kRetryGap_px)
        g.retryForm = RetryForm::Text;
    else if (g.badge.y() + side <= h - tun::kRetryGap_px && inset + side <= w - inset)
        g.retryForm = RetryForm::Icon;
    else
        g.retryForm = RetryForm::None;
    const bool icon = in.failed && g.retryForm == RetryForm::Icon;
    if (icon) {
        g.retry = QPoint(inset, g.badge.y() + std::max(0, (badgeHeight - side) / 2));
        g.retryHeight = side;
        g.badge.rx() += side + tun::kRetryGap_px;
    }

    // The names' room in the badge; the camera's name takes what it needs
    // of it first. The icon and its gap take the place of the dot and the
    // spacing after it.
    g.dotPlace = icon ? -g.badgeSpacing : in.dotWidth;
    const int dot = in.dotWidth + g.badgeSpacing;
    const int shift = icon ? std::max(0, side + tun::kRetryGap_px - dot) : 0;
    const int text = std::max(tun::kNameLeast_px, room - tun::kBadgeChrome_px) - shift;
    g.nameWidth = text;
    if (narrow) {
        // Under the pointer, its buttons take the room as on a wider tile.
        const int within = w - g.badge.x() - inset - g.badgeMargins.left() - g.badgeMargins.right() - (icon ? 0 : dot);
        g.nameWidth = std::max(0, in.hovered ? std::min(text, within) : within);
    }
    if (w >= tun::kDeviceNameMinWidth) {
        const int name = std::min(in.nameTextWidth, text);
        const int device = std::min(in.deviceNameTextWidth, text - name - tun::kBadgeSpacing_px);
        g.deviceNameShown = in.deviceNameTextWidth > 0 && device >= tun::kDeviceNameLeast_px;
        if (g.deviceNameShown) {
            g.nameWidth = name;
            g.deviceNameWidth = device;
        }
    }
    g.remove = QPoint(w - 38, 8);
    g.focus = QPoint(w - 72, 8);
    g.snapshotPlaced = w >= tun::kSnapshotButtonMinWidth;
    g.snapshot = QPoint(w - 106, 8);
    g.streamSwitch = QPoint(w - in.switchHint.width() - 8, h - in.switchHint.height() - 8);
    g.toast = QPoint(8, h - in.toastHint.height() - 8);
    return g;
}

BesideName besideName(int room, int dotWidth, int spacing, int wordWidth, int channelWidth, int wholeName,
                      const std::function<int()>& need)
{
    BesideName out;
    out.nameRoom = room;
    int needed = -1;
    const auto keeps = [&](int left) {
        if (left >= wholeName)
            return true;
        if (needed < 0)
            needed = need();
        return left >= needed;
    };
    // The word stands in the dot's place.
    if (wordWidth > 0 && keeps(room + dotWidth - wordWidth)) {
        out.word = true;
        out.nameRoom = room + dotWidth - wordWidth;
    }
    if (channelWidth > 0 && keeps(out.nameRoom - channelWidth - spacing)) {
        out.channel = true;
        out.nameRoom -= channelWidth + spacing;
    }
    return out;
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
