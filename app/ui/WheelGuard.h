#pragma once

// The mouse wheel on a page that scrolls: a person scrolling the page moves
// the page, whatever passes under the pointer on the way. A drop-down, spin
// box or slider of the page takes the wheel only while it has the keyboard
// focus (a click or Tab gives it); otherwise the wheel goes on to the page.
// Without this a filter drop-down that passes under the pointer turns from
// "All" to "Online" to "Offline" while the page stands still, and the list
// below it is filtered without the person noticing.

class QAbstractScrollArea;
class QWidget;

namespace kvr::ui {

namespace WheelGuard {

// Guards the controls of `page`, those it holds now and those it shows later
// (pages that rebuild their rows make new controls).
void guard(QAbstractScrollArea* page);

// A drop-down, spin box or slider (a scroll bar is not one): what takes the
// wheel to change a value.
bool takesWheel(const QWidget* w);

} // namespace WheelGuard

} // namespace kvr::ui
