#include "server/view/CameraTileRules.h"

#include "server/view/Tunables.h"

#include <algorithm>

namespace tun = kvr::view::tun;

namespace tile {

bool isWide(int width)
{
    return width >= tun::kTileWide_px;
}

Overlays overlaysShown(const TileState& s)
{
    Overlays o;
    o.remove = o.open = s.hovered && !s.inVideoWall;
    o.expand = o.snapshot = s.hovered && isWide(s.width);
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

int nameWidth(int w, bool hovered)
{
    return std::max(60, w - (hovered ? 210 : 40)) - 40;
}

QRect retryRect(int w, int h)
{
    return {(w - 96) / 2, std::min(h - 44, h / 2 + 48), 96, 30};
}

} // namespace tile
