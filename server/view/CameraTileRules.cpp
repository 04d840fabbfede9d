#include "server/view/CameraTileRules.h"

#include "server/view/Tunables.h"

#include <algorithm>

namespace kvr::view {

namespace CameraTileRules {

bool isWide(int width)
{
    return width >= tun::kTileWide_px;
}

Overlays overlaysShown(const TileState& s)
{
    Overlays o;
    const bool roomAtTop = !s.failed || s.height <= 0 || s.height >= roomForTopAndRetry(30);
    o.remove = o.open = s.hovered && !s.inVideoWall && roomAtTop;
    o.expand = o.snapshot = s.hovered && isWide(s.width) && roomAtTop;
    // A listening tile keeps its button when the mouse leaves.
    o.listen = !s.inVideoWall && s.hasAudio && (s.hovered || s.listening);
    o.quality = s.hovered && !s.offline;
    o.retry = s.failed;
    return o;
}

OverlayPlaces overlayPlaces(int w)
{
    OverlayPlaces p;
    p.remove = {w - 38, 8};
    p.open = {w - 70, 8};
    if (isWide(w)) {
        p.expand = {w - 102, 8};
        p.snapshot = {w - 134, 8};
        p.listen = {w - 166, 8};
    } else {
        p.listen = {w - 102, 8};
    }
    return p;
}

Strip stripFor(int width)
{
    if (width < tun::kTileNarrow_px)
        return {tun::kNarrowInset_px, QMargins(5, 2, 6, 2), tun::kNarrowDot_px, 3};
    return {tun::kBadgeInset_px, QMargins(8, 3, 10, 3), 14, 4};
}

int nameRight(int w, const Overlays& shown)
{
    const OverlayPlaces at = overlayPlaces(w);
    int right = w - stripFor(w).inset;
    const auto avoid = [&right](bool on, QPoint place) {
        if (on)
            right = std::min(right, place.x() - tun::kBadgeGap_px);
    };
    avoid(shown.remove, at.remove);
    avoid(shown.open, at.open);
    if (isWide(w)) {
        avoid(shown.expand, at.expand);
        avoid(shown.snapshot, at.snapshot);
    }
    avoid(shown.listen, at.listen);
    return right;
}

int nameWidth(int right, int width)
{
    const Strip strip = stripFor(width);
    const int chrome = strip.margins.left() + strip.dot + strip.spacing + strip.margins.right();
    return std::max(0, right - strip.inset - chrome);
}

int roomForTopAndRetry(int buttonHeight)
{
    return 8 + tun::kOverlayButton_px + 4 + buttonHeight + 4;
}

QRect retryRect(int w, int h, int buttonHeight)
{
    // Low on the tile, 8 pixels over its bottom edge as the other overlays,
    // so that a short tile keeps a line for its message above it; never
    // over the buttons along the top, nor past the bottom edge.
    const int belowButtons = 8 + tun::kOverlayButton_px + 4;
    const int low = std::min(h - 8 - buttonHeight, h / 2 + 48);
    return {(w - 96) / 2, std::min(std::max(low, belowButtons), h - 4 - buttonHeight), 96, buttonHeight};
}

ui::TileFault faultOf(bool offline, api::ApiFailure failure)
{
    if (offline || failure == api::ApiFailure::Offline)
        return ui::TileFault::Offline;
    if (failure == api::ApiFailure::NoAnswer || failure == api::ApiFailure::Unreachable)
        return ui::TileFault::NoAnswer;
    return ui::TileFault::Failed;
}

WaitView waitView(Waiting what, const QString& why, qint64 elapsedMs)
{
    const qint64 bound = std::chrono::milliseconds(tun::kTileNoPictureBound).count();
    WaitView view;
    if (elapsedMs >= bound) {
        view.giveUp = true;
        switch (what) {
        case Waiting::Opening:
            view.detail = QStringLiteral("No picture within %1 s.").arg(bound / 1000);
            break;
        case Waiting::Stalled:
            view.detail = QStringLiteral("The picture stopped; no picture for %1 s.").arg(bound / 1000);
            break;
        case Waiting::Reconnecting:
            view.detail = QStringLiteral("%1; no picture for %2 s.").arg(why).arg(bound / 1000);
            break;
        }
        return view;
    }
    switch (what) {
    case Waiting::Opening:
        view.headline = QStringLiteral("Loading");
        if (ui::waitWorthCounting(elapsedMs))
            view.detail = ui::waitedFor(ui::noPictureYetWords(), elapsedMs);
        break;
    case Waiting::Stalled:
        view.headline = ui::pictureStoppedHeadline();
        view.detail = ui::waitedFor(ui::pictureStoppedWords(), elapsedMs);
        break;
    case Waiting::Reconnecting:
        view.headline = QStringLiteral("Reconnecting…");
        view.detail = elapsedMs < 1000 ? why : ui::waitedFor(why, elapsedMs);
        break;
    }
    return view;
}

QString stoppedDetail(qint64 sinceLastPictureMs)
{
    return QStringLiteral("No new picture for %1 s.").arg(std::max<qint64>(0, sinceLastPictureMs) / 1000);
}

bool switchBesideRetry(int w, int switchWidth)
{
    const QRect retry = retryRect(w, 1000);
    return retry.right() + tun::kBadgeGap_px < w - switchWidth - 8;
}

} // namespace CameraTileRules

} // namespace kvr::view
