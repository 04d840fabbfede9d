#pragma once

// A search field's clear button, named. Qt's own clear button is an icon with
// no words, which a screen reader announces as an unnamed button once the
// field holds text.

class QLineEdit;

namespace kvr::ui {

// Turns on `field`'s clear button and names it "Clear search".
void giveClearButton(QLineEdit* field);

} // namespace kvr::ui
