#pragma once

// Windows open where a person can use them: inside the available area of
// the screen they show on (the desktop less its menu bar, panels and dock),
// frame included, and never smaller than the smallest size their screens are
// built for. A window that wants more room than the screen has opens as
// large as the screen allows instead of running off its edge.

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace kvr::ui {

namespace ScreenFit {

// Where a window's contents go when it opens on a screen whose available
// area is `available`: `wanted` shrunk to the area less the window frame's
// `frame` margins but never below `minimum`, centred in the area, and moved
// so that the frame starts inside it (when even the minimum does not fit, at
// the area's top left corner).
QRect placement(QSize wanted, QSize minimum, QMargins frame, const QRect& available);

// A rectangle of contents `at` with that frame moved into the area, its size
// first bounded to it as above; a window already inside stays where it is.
QRect keptInside(const QRect& at, QSize minimum, QMargins frame, const QRect& available);

// `wanted` no larger than the available area of the screen `w` shows on (its
// window's, or the primary screen), less the window's frame where that is
// known, and never below `w`'s minimum size. For dialogs, which their
// toolkit centres over their parent as they open.
QSize bounded(const QWidget* w, QSize wanted);

// Sizes and moves the top-level `window` by `placement` on its screen the
// first time it is shown through here; on later calls keeps the size and
// place the user left it at, moved back inside the area when it no longer
// lies there (a screen that got smaller). Then shows it.
void showWithin(QWidget* window, QSize wanted);

} // namespace ScreenFit

} // namespace kvr::ui
