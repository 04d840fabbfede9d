#pragma once

#include "app/ui/TileWord.h"
#include "server/api/ApiTypes.h"

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QString>

namespace kvr::view {

// The camera tile's rules that need no window: which overlays show, where
// they go, and how a failed start reads.
namespace CameraTileRules {

struct TileState {
    int width = 0;
    bool hovered = false;
    bool inVideoWall = false;
    bool hasAudio = false;
    bool listening = false;
    bool offline = false;
    bool failed = false;
    int height = 0; // 0: tall enough for everything
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

// The name badge of a tile of this width (the title strip at its top left:
// dot, a failure's word and the name): its distance from the tile's edges,
// its margins, dot and spacing. A narrow tile's is tighter.
struct Strip {
    int inset = 0;
    QMargins margins;
    int dot = 0;
    int spacing = 0;
};
Strip stripFor(int width);
// Where the name badge (at the tile's top left) must end: short of the
// tile's right edge, and of every overlay button shown along the top.
int nameRight(int width, const Overlays& shown);
// Room for the camera's name in the badge of a tile `width` wide that ends
// at `right`: what is left after the badge's place and its margins, dot and
// spacing; never more, so that the badge stays within its tile (the tile
// leaves out a name with less room than kNameLeast_px).
int nameWidth(int right, int width);
// Retry sits low on the tile, below the buttons along its top edge where
// the tile is tall enough for both (a failed tile too low for both shows no
// buttons along its top: Retry is what it offers). `buttonHeight` is Retry's
// own height.
QRect retryRect(int width, int height, int buttonHeight = 30);
// The least height of a tile that has room for the buttons along its top
// and, below them, a Retry of `buttonHeight`.
int roomForTopAndRetry(int buttonHeight);
// A started tile waiting for a picture: its first, after its stream was
// handed to the player; or the next, once the tile saw its picture stop
// (Stalled) or the player tries again (Reconnecting). What shows counts what
// a person can see happen, the time since the start or the last picture,
// never the player's own tries (one of which may open the stream several
// times), and the wait ends within a bound: the tile then fails, shows Retry
// and tries again later by itself, however the player would go on.
enum class Waiting : quint8 { Opening, Stalled, Reconnecting };
struct WaitView {
    QString headline;
    QString detail;
    bool giveUp = false; // the bound is reached: the detail is the failure's
};
// `why` is the player's reason for reconnecting ("The connection dropped");
// `elapsedMs` counts from the start, or from the last picture.
WaitView waitView(Waiting what, const QString& why, qint64 elapsedMs);
// What a tile whose stream stopped says once its player gave up on it,
// counted from its last picture.
QString stoppedDetail(qint64 sinceLastPictureMs);

// Whether the Main/Sub switch (at the bottom right) has room beside Retry
// (at the bottom, in the middle) on a tile of `width`; where it has not, a
// failed tile shows Retry alone.
bool switchBesideRetry(int width, int switchWidth);

// The word a failed tile says of itself: offline as the catalogue or the
// server says, no answer where the server or the relay did not answer.
ui::TileFault faultOf(bool offline, api::ApiFailure failure);

} // namespace CameraTileRules

} // namespace kvr::view
