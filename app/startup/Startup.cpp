#include "app/startup/Startup.h"

#include "app/context/AppContext.h"
#include "app/core/Log.h"
#include "app/core/Logging.h"
#include "app/core/Process.h"
#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/ui/FocusRing.h"
#include "app/ui/Modal.h"
#include "app/ui/ScreenFit.h"
#include "app/ui/Theme.h"
#include "app/ui/WheelGuard.h"
#include "native/live/NativeLive.h"
#include "native/services/NativeServices.h"
#include "server/shell/BrandRegistry.h"
#include "video/DecodeSettings.h"
#include "video/GpuVideoView.h"

#include <QApplication>
#include <QIcon>
#include <QSurfaceFormat>
#include <QTimer>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::api;
using namespace kvr::context;
using namespace kvr::shell;
using namespace kvr::services;
using namespace kvr::screens;
using namespace kvr::live;

namespace kvr::app {

void prepareGraphics()
{
    // Every OpenGL context of the program shares with one. No context is made
    // here: that one is made once the graphics chip draws, so a program whose
    // pictures the processor draws never loads the OpenGL driver.
    kvr::video::GpuVideoView::shareContextsAppWide();
    QSurfaceFormat format;
    format.setAlphaBufferSize(8);
    QSurfaceFormat::setDefaultFormat(format);
}

void prepareApplication(QApplication& app)
{
    QCoreApplication::setApplicationName(QStringLiteral("Kavira"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kavira"));
    Log::install();
    // Every connection to a device is an open file, and a program on macOS
    // starts with room for 256.
    Process::raiseOpenFileLimit();
    // Logging out or shutting down ends the program as closing it does:
    // what it keeps is saved on the way out.
    Process::quitOnTerminationSignals();
    app.setWindowIcon(QIcon(QStringLiteral(":/brand/icon.png")));
    Theme::useProgramFont();
    // In every window, the wheel turns only a control the person chose.
    WheelGuard::install();
    // In every window, what the keyboard reached shows.
    FocusRing::install(Theme::colour(Theme::Colour::FocusRing));
    BrandRegistry::instance().add(std::make_unique<ImouProvider>());
    // Whether the graphics chip may draw video is found out in the
    // background from now on, so that the answer is in before the first
    // video opens; nothing waits for it.
    kvr::video::DecodeSettings::probeAhead();
}

void sayWhatQuitLeftUnsaved(bool endedBySignal)
{
    const QStringList lost = NativeServices::lostAtEnd();
    if (lost.isEmpty())
        return;
    if (endedBySignal) {
        qCWarning(lcCore).noquote() << "[app] ended on the system's request with files not saved:"
                                    << lost.join(QLatin1Char(' '));
        return;
    }
    Modal::inform(nullptr, QStringLiteral("Not saved"), lost.join(QStringLiteral("\n\n")), QMessageBox::Warning);
}

void shutdownApplication()
{
    NativeServices::shutdown();
    AppContext::shutdown();
}

TopLevelWindows::TopLevelWindows()
{
    login.hide();
    shell.hide();
    native.hide();
    // The native window's live wall page and media dialogs come from the
    // native live view, which sits above the window in the build.
    NativeLive::attach(native);
}

void TopLevelWindows::connectSwitches()
{
    QObject::connect(&login, &LoginWindow::signedIn, &login, [this] {
        login.hide();
        showShell();
        shell.loadCatalog();
    });
    QObject::connect(&shell, &ShellWindow::signedOut, &shell, [this] {
        shell.hide();
        showLogin();
    });
    QObject::connect(&login, &LoginWindow::openNativeRequested, &login, [this] {
        login.hide();
        showNative();
    });
    QObject::connect(&native, &NativeWindow::leaveNative, &native, [this] {
        native.hide();
        showLogin();
        QTimer::singleShot(0, &login, [this] { login.restoreSavedSession(); });
    });
    QObject::connect(&AppContext::instance().api, &ApiClient::refreshTokenChanged, &login,
                     [](const QString& token) { SessionStore::updateToken(token); });
}

void TopLevelWindows::showInitial()
{
    if (Prefs::get(Prefs::kNativeMode)) {
        showNative();
        return;
    }
    showLogin();
    QTimer::singleShot(0, &login, [this] { login.restoreSavedSession(); });
}

// Each window opens at its own size where the screen has room for it, and
// within the screen's available area where it has not: a 1280 x 720 screen
// shows the native window whole at its smallest size.
void TopLevelWindows::showLogin()
{
    showing = &login;
    ScreenFit::showWithin(&login, kLoginWindowSize);
}

// The two windows that show video: a window shown before the graphics probe
// answered is made for the processor and draws its video with it for good
// (made anew for the chip, it would leave the screen meanwhile), so one that
// shows as the program starts waits a moment for the answer.
void TopLevelWindows::showShell()
{
    showing = &shell;
    kvr::video::DecodeSettings::whenWindowCanBeReady(&shell, [this] {
        if (showing != &shell)
            return; // another window was asked for meanwhile
        // The size the window gives itself from its contents.
        if (!shell.testAttribute(Qt::WA_Resized))
            shell.adjustSize();
        ScreenFit::showWithin(&shell, shell.size());
    });
}

void TopLevelWindows::showNative()
{
    showing = &native;
    kvr::video::DecodeSettings::whenWindowCanBeReady(&native, [this] {
        if (showing == &native)
            ScreenFit::showWithin(&native, kNativeWindowSize);
    });
}

} // namespace kvr::app
