#pragma once

// Keyboard focus a person can see: a ring around the control that holds the
// keyboard focus, drawn just outside it so that nothing moves and no style
// of the control has to know of it. Many controls show no focus of their own
// (a wall's tile barely changes its border, a round button on a dark picture
// none, a flat text button or a card none at all), and a keyboard user cannot
// tell where Tab went, nor what Space would do.

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

// The same in every window of the program that is not a pop-up (dialogs and
// message boxes too), each with a ring of its own, but in areas that follow
// the focus themselves. Start-up installs it once.
void install(const QColor& colour, int radius = 8);

// The ring drawn in `area` (or in the window `area`) now, or null while none shows.
const QWidget* shown(const QWidget* area);

} // namespace FocusRing

} // namespace kvr::ui
