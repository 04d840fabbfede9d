#pragma once

// The rules of the running wall on plain values: stream choice and frame-rate
// caps by load, which displays get a window, the texts and geometry of the
// display windows' bar and of the identify labels.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

namespace kvr::wall {

namespace VideoWall {
struct ScreenConfig;
} // namespace VideoWall

namespace VideoWall::VideoWallRules {

// Whether a display of `quality` showing `tileCount` tiles plays the main
// stream: Main yes, Sub no, Auto only below five tiles.
bool useMain(int quality, int tileCount);

// A display gets a window when its entry exists, is enabled and has a camera.
bool qualifies(const ScreenConfig* screen);

// "Display 2 · <label> · 3 cameras · Esc stops the wall".
QString barText(int number, const QString& label, int tiles);

// What the bar does for a pointer at `pointer` (window coordinates): it shows
// while the pointer is inside the window in the top band, hides once the
// pointer has left both the band and the bar, and otherwise stays as it is.
enum class BarChange { Show, Hide, Keep };
BarChange barChange(const QSize& window, const QPoint& pointer, bool barVisible, const QRect& barGeometry);

// The rich text of a display's identify label.
QString identifyText(int number, const QString& title);
// The label's geometry: at least the minimum size, centred on the display
// (right and bottom edges inclusive, halves rounded toward zero).
QRect identifyGeometry(const QRect& display, const QSize& natural);

// The frame-rate cap both camera sources give a tile for the tiles its display
// shows: 0 (none) below 5, 15 fps for 5 to 9, 10 fps from 10 on.
int fpsCapFor(int shownOnDisplay);

} // namespace VideoWall::VideoWallRules

} // namespace kvr::wall
