#pragma once

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

class QScreen;

namespace kvr::wall {

namespace VideoWall {

// A display's identity is the text "manufacturer|model|serial|name" (empty
// parts stay in), made unique among identical displays by their place on the
// desktop: sorted by left edge, then top edge, the first keeps the text alone
// and the i-th (from 0) gets "#<i+1>" appended. Empty for a null screen.
QString screenKey(QScreen* screen);

// "<name> · <width> × <height>" in device pixels, with the model when the
// name is empty and "Display" when both are. Empty for a null screen.
QString screenTitle(QScreen* screen);

// The connected display with that key; null when none is connected.
QScreen* screenFor(const QString& key);

// The display's number as the user sees it: its place in the platform's
// list of displays counted from 1; 0 when it is not in the list.
int screenNumber(QScreen* screen);

// ---- The rules behind the functions above, on plain values -------------------

// What identifies one connected display: its identity text and its place.
struct ScreenFacts {
    QString base;
    QRect geometry;
};

// The identity text of a display from what it reports about itself.
QString identityBase(const QString& manufacturer, const QString& model, const QString& serial, const QString& name);

// The key of display `index` among `connected` (all displays, platform order).
// An index outside the list gives the identity text alone.
QString keyAmong(const QList<ScreenFacts>& connected, int index);

// The title from the display's name, model, size in points and pixel ratio.
QString titleFor(const QString& name, const QString& model, const QSize& points, double devicePixelRatio);

// ---- For tests -------------------------------------------------------------------
// Virtual displays all report the same (empty) maker, model and serial but
// distinct names; a test that needs identical displays replaces the reading
// of a display's identity text. An empty function restores the real one.
void setIdentityReader(std::function<QString(QScreen*)> reader);

} // namespace VideoWall

} // namespace kvr::wall
