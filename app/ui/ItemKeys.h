#pragma once

// A list, table or tree the keyboard works as the pointer does. Enter, Return
// and Space open the current item (what a click, or a double-click, does
// there), on every platform: left to itself a view opens an item on Return on
// some platforms only (macOS's views take it to edit, and none opens on
// Space). The menu key and Shift+F10 open the current item's menu under it,
// where a right-click opens the item's menu at the pointer. Arrows move the
// current item as before, and act on nothing.

#include <QPoint>
#include <QString>

#include <functional>

class QAbstractItemView;
class QModelIndex;

namespace kvr::ui {

namespace ItemKeys {

// What opening an item does.
using Open = std::function<void(const QModelIndex& item)>;
// Shows the menu of an item at `at` (global coordinates); empty: no menu.
using Menu = std::function<void(const QModelIndex& item, const QPoint& at)>;

void install(QAbstractItemView* view, Open open, Menu menu = {});

// Whether a key opens what holds the focus, as a click or a double-click
// there does: Enter, Return or Space, without a modifier (the keypad aside).
// For widgets that are no view (a video tile, a card) that open on a
// double-click.
bool opens(int key, Qt::KeyboardModifiers modifiers);

// What a screen reader adds to the name of such a widget: the key, and what
// it does ("Enter: fill the wall with this camera").
QString keyHint(const QString& action);

} // namespace ItemKeys

} // namespace kvr::ui
