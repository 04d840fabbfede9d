#pragma once

// Keyboard reach for controls that the pointer brings up: a video tile's
// buttons show while the pointer is over the tile, and the same way while
// the keyboard focus is on the tile or on one of its controls, so Tab walks
// into them as a pointer would reach them.

#include <QWidget>

#include <functional>
#include <initializer_list>

namespace kvr::ui {

namespace FocusWithin {

// Makes `tile` a Tab stop and calls `changed` whenever the keyboard focus
// moves into or out of `tile` and its children.
void watch(QWidget* tile, std::function<void()> changed);

// The keyboard focus is on `tile` or on one of its children.
bool has(const QWidget* tile);

// Puts `controls` (nulls skipped) right after `tile` in the Tab order, in
// the order given: controls made after their tile would otherwise come after
// every other tile of the window.
void tabAfter(QWidget* tile, std::initializer_list<QWidget*> controls);

} // namespace FocusWithin

} // namespace kvr::ui
