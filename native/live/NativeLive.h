#pragma once

namespace kvr::screens {
class NativeWindow;
} // namespace kvr::screens

namespace kvr::live {

// Puts the native live view into the native main window: the live wall page
// into its second page, and the snapshot, calendar and live-view dialogs
// behind the buttons of its device panel and cameras tab.

namespace NativeLive {

// Installs the media hooks (snapshots, recording calendar, live view, video
// wall stop) for the whole process. Safe to call more than once.
void installHooks();
// Hands the window a new live wall page (the window owns it) and installs
// the hooks.
void attach(screens::NativeWindow& window);

} // namespace NativeLive

} // namespace kvr::live
