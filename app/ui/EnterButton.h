#pragma once

// Enter in a dialog does what the dialog is for. Left to itself, Qt makes the
// first push button in the Tab order the default one (Enter in a video wall's
// set-up "identifies displays", in a calendar it goes to the previous month),
// and a push button that holds the focus takes Enter for itself.

class QDialog;
class QPushButton;

namespace kvr::ui {

// `purpose` (null: none) becomes the one default button of `dialog`, and the
// dialog's other push buttons no longer take Enter while they hold the focus
// (Space still presses a focused button): wherever the focus stands as the
// dialog opens, Enter fires `purpose`, or nothing while it is disabled.
void setEnterButton(QDialog* dialog, QPushButton* purpose);

} // namespace kvr::ui
