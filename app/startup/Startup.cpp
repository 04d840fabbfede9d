#include "app/startup/Startup.h"

#include "app/context/AppContext.h"
#include "app/core/Log.h"
#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/ui/Theme.h"
#include "native/live/NativeLive.h"
#include "native/services/NativeServices.h"
#include "server/shell/BrandRegistry.h"

#include <QApplication>
#include <QIcon>
#include <QSurfaceFormat>
#include <QTimer>

void prepareGraphics()
{
    // No OpenGL context here: the first view drawn by the graphics chip makes
    // the one all views share, so a program whose pictures the processor
    // draws never loads the OpenGL driver.
    QSurfaceFormat format;
    format.setAlphaBufferSize(8);
    QSurfaceFormat::setDefaultFormat(format);
}

void prepareApplication(QApplication& app)
{
    QCoreApplication::setApplicationName(QStringLiteral("Kavira"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kavira"));
    Log::install();
    app.setWindowIcon(QIcon(QStringLiteral(":/brand/icon.png")));
    Theme::loadFonts();
    QFont font(QStringLiteral("Inter"));
    font.setPixelSize(14);
    QApplication::setFont(font);
    BrandRegistry::instance().add(std::make_unique<ImouProvider>());
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
        shell.show();
        shell.loadCatalog();
    });
    QObject::connect(&shell, &ShellWindow::signedOut, &shell, [this] {
        shell.hide();
        login.show();
    });
    QObject::connect(&login, &LoginWindow::openNativeRequested, &login, [this] {
        login.hide();
        native.show();
    });
    QObject::connect(&native, &NativeWindow::leaveNative, &native, [this] {
        native.hide();
        login.show();
        QTimer::singleShot(0, &login, [this] { login.restoreSavedSession(); });
    });
    QObject::connect(&AppContext::instance().api, &ApiClient::refreshTokenChanged, &login,
                     [](const QString& token) { SessionStore::updateToken(token); });
    login.resize(kLoginWindowSize);
    native.resize(kNativeWindowSize);
}

void TopLevelWindows::showInitial()
{
    if (Prefs::get(Prefs::kNativeMode)) {
        native.show();
        return;
    }
    login.show();
    QTimer::singleShot(0, &login, [this] { login.restoreSavedSession(); });
}
