#pragma once

// Windows open where a person can use them: inside the available area of
// the screen they show on (the desktop less its menu bar, panels and dock),
// frame included, and never smaller than the smallest size their screens are
// built for. A window that wants more room than the screen has opens as
// large as the screen allows instead of running off its edge.

#include <QMargins>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

namespace kvr::ui {

namespace ScreenFit {

// Where a window's contents go when it opens on a screen whose available
// area is `available`: `wanted` shrunk to the area less the window frame's
// `frame` margins but never below `minimum`, its frame centred on `over` (a
// dialog's parent window, frame included; the area itself when empty), and
// moved so that the frame lies inside the area (when even the minimum does
// not fit, from the area's top left corner).
QRect placement(QSize wanted, QSize minimum, QMargins frame, const QRect& available, const QRect& over = {});

// Whether margins read from the window system can be a window's frame: none
// negative, none larger than a window manager draws. Window systems report
// nonsense for a moment while a window is being framed (X11: a frame of 1 x 1
// at the window's corner).
bool isFrame(QMargins frame);

// The area windows may take on `screen`: its available area, less the last
// pixel row and column where the screen's scale is fractional (at 1.5 a
// logical pixel is one or two of the screen's, and a window ending on the
// area's last logical pixel ran one pixel under a panel there).
QRect usableArea(const QScreen* screen);

// A rectangle of contents `at` with that frame moved into the area, its size
// first bounded to it as above; a window already inside stays where it is.
QRect keptInside(const QRect& at, QSize minimum, QMargins frame, const QRect& available);

// `wanted` no larger than the usable area of the screen `w` shows on (its
// window's, or the primary screen), less the window's frame (or, before it
// has one, its parent's), and never below `w`'s minimum size.
QSize bounded(const QWidget* w, QSize wanted);

// The smallest size a window whose own smallest is `minimum` may keep on a
// screen whose available area is `available`, with a frame of `frame`: its
// own where the area has room for it and the frame, else what the area
// leaves (a laptop's 1280 x 720 screen is 1280 x 680 or less once a title
// bar and a panel take their share).
QSize minimumWithin(QSize minimum, QMargins frame, const QRect& available);

// Keeps the top-level `window`'s smallest size at `minimum` where its
// screen's available area has room for it, frame included, and at what the
// area leaves where it has not; and keeps the window, frame included, inside
// the area whenever it shows, its frame becomes known (a window manager
// frames a window only once it shows), it goes to another screen or the area
// changes. A dialog (a window with a parent) opens centred on its parent's
// window every time it shows, frame included, and is centred again when its
// frame becomes known; until then its frame is taken to be its parent's (one
// window manager frames a program's windows alike), and it stays centred for
// as long as the window manager takes to frame it and a moment after (its
// late answers to earlier requests). A window the user moves is left where
// it is. A window is never left narrower than its layout's least width where
// the area has room for it (a window system may answer an earlier, narrower
// request last). For main windows and dialogs alike; in place of
// setMinimumSize. An invalid `minimum` (QSize()) keeps only the window inside
// the area and leaves its minimum as it sets it. Once per window: later calls
// change nothing (Modal keeps every dialog it shows so).
void keepWithin(QWidget* window, QSize minimum);

// Sizes and moves the top-level `window` by `placement` on its screen the
// first time it is shown through here; on later calls keeps the size and
// place the user left it at, moved back inside the area when it no longer
// lies there (a screen that got smaller). Then shows it.
void showWithin(QWidget* window, QSize wanted);

} // namespace ScreenFit

} // namespace kvr::ui
