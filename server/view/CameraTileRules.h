#pragma once

#include "server/api/ApiTypes.h"

#include <QPoint>
#include <QRect>
#include <QString>

// The camera tile's rules that need no window: which overlays show, where
// they go, and how a failed start reads.
namespace tile {

struct TileState {
    int width = 0;
    bool hovered = false;
    bool inVideoWall = false;
    bool hasAudio = false;
    bool listening = false;
    bool offline = false;
    bool failed = false;
};

struct Overlays {
    bool remove = false;
    bool open = false;
    bool expand = false;
    bool snapshot = false;
    bool listen = false;
    bool quality = false;
    bool retry = false;
};
Overlays overlaysShown(const TileState& state);

// Whether a tile of this width has room for every overlay button.
bool isWide(int width);

// Top-left corners of the overlay buttons along the top edge.
struct OverlayPlaces {
    QPoint remove;
    QPoint open;
    QPoint expand;   // meaningful only when wide
    QPoint snapshot; // meaningful only when wide
    QPoint listen;
};
OverlayPlaces overlayPlaces(int width);

// Room for the elided camera name, in pixels.
int nameWidth(int width, bool hovered);
QRect retryRect(int width, int height);

} // namespace tile
