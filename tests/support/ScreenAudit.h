#pragma once

// Checks a shown window the way a new user meets it, on the screen it was
// opened on. Each check returns one line per fault, naming the widget; an
// empty list is a pass. What the checks look for:
//
// - Text: every text of a label, button, drop-down or field fits its widget
//   or wraps; a text shortened with "…" is shortened only when it does not fit
//   the room it is given (a tool tip does not excuse one that would fit), can
//   be read whole in its tool tip; no text says its count twice.
// - Alike: texts that read the same stand for the same thing: shortened
//   labels and buttons, the items of a view (one column under one parent),
//   the names a widget paints in its cells, and widgets of one kind side by
//   side (the tiles of a wall, read as all their labels say) do not read
//   alike while what they stand for differs.
// - Painted: what item views (lists, tables, trees), headers, video stages and
//   other painted widgets draw is not cut by its cell, its view or its
//   containers, is not shortened in a header or a tile, in a cell only when
//   it does not fit, does not run into another painted text, and is not
//   covered by a widget lying over it.
// - Overlap: widgets laid side by side do not cover each other, nor do
//   floating ones that both draw there.
// - Screen: the window and every control lie within the screen's area.
// - Contrast: text and what lies behind it contrast by 4.5:1 at least
//   (disabled text aside, and the theme's colour pairs kept below it).
// - Looks: expandable tree rows show their arrow, no button carries a
//   stock icon of the style, scroll bars of a window all wear its theme,
//   an error stands under the field it is about, which is marked, and video
//   keeps the proportions of a picture.
// - Words: no library's own message shows.
// - Names: every control that takes the keyboard focus has a name a screen
//   reader can say and is met in the window's accessibility tree.
// - Tab: the Tab key reaches every control a mouse can use, goes through them
//   in reading order, and skips no control whose like neighbours it stops at.

#include <QColor>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>

class QWidget;

namespace screenaudit {

// A text colour on a background colour of the theme that contrast by less
// than 4.5:1 and are kept so on purpose (muted looks, chips): let pass.
struct ColourPair {
    QColor text;
    QColor background;
};

struct Setting {
    // The area windows must lie within, in screen coordinates; empty: the
    // available area of the screen the window is on.
    QRect screen;
    // Messages of libraries (as their own error texts read) that the screens
    // must put in plain words instead.
    QStringList jargon;
    QList<ColourPair> themePairs;
};

enum class Check { Text, Painted, Alike, Overlap, Screen, Contrast, Looks, Words, Names, Tab };

// Waits until `window` holds still, as a person's eye meets it once it has
// opened: its layouts done and the window system's answers to what the
// program asked of it in, shown on the screen and no smaller than its own
// least size (a resize the window system has yet to answer), and every
// animation that ends (a fade, a collapse) ended. Empty once it holds still;
// else what still moved when `patience` ran out.
QString settle(QWidget* window, std::chrono::milliseconds patience = std::chrono::seconds(30));

// One check on `window` once it has settled. Tab moves the keyboard focus.
QStringList run(Check check, QWidget* window, const Setting& setting = {});

// Every check on `window` once it has settled, each fault prefixed with
// `label` and the check's name.
QStringList audit(QWidget* window, const QString& label, const Setting& setting = {});

// Where the shown top-level `window` opened, once its window manager has
// framed it and it stands still (this waits for that): its whole frame, title
// bar included, inside the work area, counted in the screen's own pixels
// where the window system tells them; a dialog's frame centred on its
// parent's where it fits. One line per fault.
QStringList openingFaults(QWidget* window);

// The columns of each table of `window` a person can resize, each dragged by
// its own edge (and put back after): it widens by what the pointer moved and
// no other column narrows for it. One line per fault.
QStringList columnFaults(QWidget* window);

// A short, readable name of a widget for fault lines: its class, object
// name and text.
QString describe(const QWidget* w);

// Writes `root` as <dir>/<name>.png; false when it could not be written.
bool screenshot(QWidget* root, const QString& dir, const QString& name);

} // namespace screenaudit
