#pragma once

// Keyboard focus a person can see: a ring around the control that holds the
// keyboard focus, drawn just outside it so that nothing moves and no style
// of the control has to know of it. A wall of video tiles and their round
// buttons shows no focus of its own (a tile's border barely changes, a
// button's is its dark disc on the dark picture), and a keyboard user cannot
// tell which tile or button Tab reached, nor that Space would remove a camera.

#include <QColor>

class QWidget;

namespace kvr::ui {

namespace FocusRing {

// Rings whichever widget inside `area` (or `area` itself) holds the keyboard
// focus, once it came there by the keyboard (Tab, Shift+Tab, a shortcut) and
// while it keeps it, also when its window comes to the front again; a click
// or the program moving the focus shows none. The ring is `colour`, 2 px
// wide, 1 px outside the widget, its corners rounded by `radius` (a widget
// no taller than a button is ringed as the pill or disc it is drawn as).
void follow(QWidget* area, const QColor& colour, int radius = 8);

// The ring drawn in `area` now, or null while none shows.
const QWidget* shown(const QWidget* area);

} // namespace FocusRing

} // namespace kvr::ui
