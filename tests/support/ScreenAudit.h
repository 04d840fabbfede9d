#pragma once

// Checks a shown window the way a new user meets it: every text of a label,
// button, drop-down or field must fit its widget (or wrap, or be shortened
// with "…" and carry the whole text in its tool tip), every control that
// takes the keyboard focus must have a name a screen reader can say, and the
// Tab key must reach every control a mouse can use. Each check returns one
// line per fault, naming the widget; an empty list is a pass.

#include <QString>
#include <QStringList>

class QWidget;

namespace screenaudit {

// A short, readable name of a widget for fault lines: its class, object
// name and text.
QString describe(const QWidget* w);

// Texts of the visible labels, buttons, drop-downs, number and date fields
// and empty fields' placeholders of `root`'s window that do not fit the room
// their widget gives them, or that the widget's ancestors cut off.
QStringList cutTexts(const QWidget* root);

// Visible, enabled controls that take focus by Tab but have no accessible
// name (their own text, a buddy label or a name given to them), or that a
// walk of the window's accessibility tree never meets (a widget laid inside
// an item view, whose accessible children are its cells).
QStringList unnamedControls(const QWidget* root);

// Visible, enabled controls a mouse can use (buttons, fields, drop-downs,
// lists, sliders, tabs and anything with a pointing-hand cursor) that
// pressing Tab over and over from the window's first control never reaches.
// Moves the keyboard focus.
QStringList unreachableByTab(QWidget* window);

// All three checks at once, each fault prefixed with `label`.
QStringList audit(QWidget* window, const QString& label);

// Writes `root` as <dir>/<name>.png; false when it could not be written.
bool screenshot(QWidget* root, const QString& dir, const QString& name);

} // namespace screenaudit
