#pragma once

// A push button that opens a drop-down menu ("Import CSV") is found with its
// menu in the accessibility tree: the menu is the button's child there, as
// its items are the menu's, and the button says that it opens a menu and
// opens it on a screen reader's asking. Left to Qt, the menu names the
// button as its parent while the button has no child, so that a screen
// reader or a test walking the tree down from the window never meets the
// menu or its items.

class QMenu;
class QPushButton;

namespace kvr::ui {

namespace MenuButtons {

// Gives `button` its drop-down `menu` (QPushButton::setMenu), and the two
// their places in the accessibility tree.
void attach(QPushButton* button, QMenu* menu);

} // namespace MenuButtons

} // namespace kvr::ui
