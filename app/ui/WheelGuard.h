#pragma once

// The mouse wheel over a drop-down, spin box or slider changes its value only
// when the person clicked or tabbed into it (it holds the keyboard focus,
// and got it from them: the focus a dialog gives its first control as it
// opens does not count); otherwise the wheel goes on to what lies under it:
// a page that scrolls moves, whatever passes under the pointer on the way.
// Without this a filter drop-down that passes under the pointer turns from
// "All" to "Online" to "Offline" while the page stands still, a layout
// drop-down that a wheel passes over changes the layout of a video wall
// nobody meant to change, and the recording calendar's camera, focused as it
// opens, changes under a passing wheel and loses the day picked.

class QAbstractScrollArea;
class QWidget;

namespace kvr::ui {

namespace WheelGuard {

// Guards every control of every window of the program, those it holds now and
// those it shows later. Start-up installs it once the application exists.
void install();

// Guards the controls of `page`, those it holds now and those it shows later
// (pages that rebuild their rows make new controls); what install() does for
// the whole program, for one page.
void guard(QAbstractScrollArea* page);

// A drop-down, spin box or slider (a scroll bar is not one): what takes the
// wheel to change a value.
bool takesWheel(const QWidget* w);

} // namespace WheelGuard

} // namespace kvr::ui
