#pragma once

#include "native/screens/NativeWindow.h"
#include "server/shell/LoginWindow.h"
#include "server/shell/ShellWindow.h"

class QApplication;

namespace kvr::app {

// The three top-level windows, owned for the life of the process. Members are
// destroyed in reverse order: native, server main, then sign-in window.
struct TopLevelWindows {
    shell::LoginWindow login;
    shell::ShellWindow shell;
    screens::NativeWindow native;

    TopLevelWindows();
    // Wires the five switches between the windows.
    void connectSwitches();
    // Shows the window of the remembered mode; the sign-in window then tries
    // the remembered sign-in once the event loop runs.
    void showInitial();
    // Show one window, sized and placed within its screen's available area.
    // A window that shows video shows once it can be made for the graphics
    // chip (DecodeSettings::whenWindowCanBeReady): at start-up, a moment later.
    void showLogin();
    void showShell();
    void showNative();

    // The window last asked for.
    const QWidget* showing = nullptr;
};

// Application-wide preparation that must happen before the QApplication
// exists (shared OpenGL contexts, default surface format).
void prepareGraphics();
// Names, log, icon, fonts, the wheel's guard and brand providers, and the
// graphics probe started in the background; run right after the QApplication
// exists.
void prepareApplication(QApplication& app);
// Says what the program could not save by the time it quit (the native
// inventory, uptime history or event log still failing to be written): in a
// notice before it ends, one sentence per file, or, where a signal ended it
// and no one may be at the screen, in the log alone (which the services
// wrote it to). Run once the event loop has returned.
void sayWhatQuitLeftUnsaved(bool endedBySignal);
// Ends the process-wide services (the native services, then the application
// context) once the event loop has returned and the windows are gone, while
// the QApplication still exists.
void shutdownApplication();

// The sizes the windows open at where the screen has room for them.
inline constexpr QSize kLoginWindowSize{1100, 720};
inline constexpr QSize kNativeWindowSize{1440, 860};

} // namespace kvr::app
