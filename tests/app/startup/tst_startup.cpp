#include "app/context/AppContext.h"
#include "app/core/Log.h"
#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/startup/Startup.h"
#include "app/ui/Modal.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeServices.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "server/shell/BrandRegistry.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/support/Drive.h"
#include "tests/support/TestKit.h"
#include "tests/video/HeldProbe.h"
#include "video/DecodeSettings.h"
#include "video/GpuProbe.h"
#include "video/GpuVideoView.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QLineEdit>
#include <QOpenGLContext>
#include <QProcess>
#include <QSettings>
#include <QSpinBox>
#include <QSurfaceFormat>
#include <QVBoxLayout>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

using namespace kvr::core;
using namespace kvr::api;
using namespace kvr::context;
using namespace kvr::shell;
using namespace kvr::app;

namespace {

// Run in a process of its own, as the program starts: the graphics prepared,
// then the application, then a window shown; later the context every view
// shares made, as once the graphics chip draws. Prints what it found.
int graphicsStart(int argc, char** argv)
{
    static bool warned = false;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
        if (message.contains(QLatin1String("AA_ShareOpenGLContexts")))
            warned = true;
    });
    const auto driverLoaded = [] {
        QFile maps(QStringLiteral("/proc/self/maps"));
        if (!maps.open(QIODevice::ReadOnly))
            return false;
        const QByteArray all = maps.readAll();
        return all.contains("_dri.so") || all.contains("libgallium") || all.contains("libLLVM");
    };
    // Loaded before anything ran (the leak-checked build keeps the driver
    // loaded from the process's start): start-up has not loaded it then.
    const bool driverBefore = driverLoaded();
    prepareGraphics();
    QApplication app(argc, argv);
    QWidget window;
    window.resize(200, 100);
    window.show();
    const bool exposed = QTest::qWaitForWindowExposed(&window);
    const bool driverAtStart = driverLoaded() && !driverBefore;
    const bool sharedAtStart = kvr::video::GpuVideoView::sharedContext() != nullptr;
    kvr::video::GpuVideoView::prepareContexts(false);
    QOpenGLContext* shared = kvr::video::GpuVideoView::sharedContext();
    std::printf("attribute %d, alpha %d, shown %d, shared %d, driver %d; made later: shared %d, warned %d\n",
                int(QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts)),
                QSurfaceFormat::defaultFormat().alphaBufferSize(), int(exposed), int(sharedAtStart), int(driverAtStart),
                int(shared && shared->isValid()), int(warned));
    return 0;
}

// Run in a process of its own, as the program starts in native mode (its
// window shows the live wall), with the graphics probe's answer held until
// this says: "answered" lets the chip's answer come while the window waits
// for it; "silent" never lets it come before the window shows, then does;
// "switched" has the window left (native mode given up) before the answer.
// Prints how the native window was made.
int firstWindow(int argc, char** argv, const QByteArray& variant)
{
    kvrtest::prepareEnvironment("TestStartupFirstWindow");
    prepareGraphics();
    QApplication app(argc, argv);
    probetest::HeldProbe held;
    if (variant == "answered" || variant == "switched")
        kvr::video::DecodeSettings::firstWindowWaitForTest(std::chrono::minutes(10));
    prepareApplication(app);
    NativeMode::prefs().setValue(QStringLiteral("nativeMode"), true);
    TopLevelWindows w;
    w.connectSwitches();
    w.showInitial();
    const auto made = [&w] {
        const QWindow* handle = w.native.windowHandle();
        return QStringLiteral("made for %1, chip view %2")
            .arg(!handle                                                ? QStringLiteral("nothing")
                     : handle->surfaceType() == QSurface::OpenGLSurface ? QStringLiteral("OpenGL")
                                                                        : QStringLiteral("the processor"))
            .arg(w.native.findChild<kvr::video::GpuVideoView*>() ? 1 : 0);
    };
    QStringList said;
    if (variant == "silent") {
        const bool shown = QTest::qWaitFor([&w] { return w.native.isVisible(); }, 60000);
        said << QStringLiteral("shown without an answer %1, %2")
                    .arg(shown && !kvr::video::GpuProbe::known())
                    .arg(made());
        if (!held.answer() || !QTest::qWaitFor([] { return kvr::video::GpuProbe::known().has_value(); }, 60000))
            return 1;
        QTest::qWait(200);
        said << QStringLiteral("answered later: %1").arg(made());
    } else {
        QTest::qWait(300);
        said << QStringLiteral("%1 before the answer").arg(w.native.isVisible() ? "shown" : "not shown");
        if (variant == "switched")
            Q_EMIT w.native.leaveNative();
        if (!held.answer() || !QTest::qWaitFor([&w] { return w.native.isVisible() || w.login.isVisible(); }, 60000)
            || !QTest::qWaitFor([] { return kvr::video::GpuVideoView::contextsReady(); }, 60000))
            return 1;
        QTest::qWait(200);
        said << QStringLiteral("then native %1, login %2, %3")
                    .arg(w.native.isVisible() ? "shown" : "hidden", w.login.isVisible() ? "shown" : "hidden", made());
    }
    std::printf("%s\n", qPrintable(said.join(QStringLiteral("; "))));
    return 0;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

    // The windows on screen, in the order sign-in, server main, native.
    static QString shown(const TopLevelWindows& w)
    {
        QStringList out;
        for (const auto& [window, name] :
             {std::pair<const QWidget*, const char*>{&w.login, "login"}, {&w.shell, "shell"}, {&w.native, "native"}})
            if (window->isVisible())
                out << QString::fromLatin1(name);
        return out.join(' ');
    }

    // Starts in the mode given, or with no mode remembered at all.
    std::unique_ptr<TopLevelWindows> start(std::optional<bool> nativeMode)
    {
        if (nativeMode)
            NativeMode::prefs().setValue(QStringLiteral("nativeMode"), *nativeMode);
        else
            NativeMode::prefs().remove(QStringLiteral("nativeMode"));
        auto w = std::make_unique<TopLevelWindows>();
        w->connectSwitches();
        w->showInitial();
        return w;
    }

private Q_SLOTS:
    void init() { SessionStore::clear(); }

    // Every OpenGL context of the program shares with one, asked for before
    // the application exists; yet nothing makes a context as the program
    // starts (a program whose pictures the processor draws never loads the
    // OpenGL driver), and the one context is made later without Qt saying
    // the request came too late.
    void graphicsArePreparedBeforeTheApplication()
    {
        if (!QFile::exists(QStringLiteral("/proc/self/maps")))
            QSKIP("reads the process's mappings from /proc");
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--graphics-start")});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), 0);
        const QString said = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        if (said.contains(QLatin1String("made later: shared 0")))
            QSKIP("no OpenGL on this display");
        QCOMPARE(said,
                 QStringLiteral("attribute 1, alpha 8, shown 1, shared 0, driver 0; made later: shared 1, warned 0"));
    }

    // A window that shows video and shows as the program starts waits for
    // the graphics probe's answer, so that where the chip draws it is made
    // for OpenGL from the start (made for the processor, it would keep its
    // video there for good: made anew for the chip, it would leave the
    // screen). It waits a moment at most: without an answer by then it
    // shows made for the processor, and stays so when the answer comes
    // later. A window asked for while another is given up waits for nothing.
    void aWindowThatShowsVideoWaitsForTheGraphicsAnswer()
    {
        if (QOpenGLContext probe; !probe.create())
            QSKIP("no OpenGL on this display");
        const auto run = [](const char* variant) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--first-window"), QString::fromLatin1(variant)});
            return child.waitForFinished(180000) && child.exitCode() == 0
                ? QString::fromUtf8(child.readAllStandardOutput()).trimmed()
                : QStringLiteral("failed");
        };
        QCOMPARE(run("answered"),
                 QStringLiteral("not shown before the answer; then native shown, login hidden, made for "
                                "OpenGL, chip view 1"));
        QCOMPARE(run("silent"),
                 QStringLiteral("shown without an answer 1, made for the processor, chip view 0; "
                                "answered later: made for the processor, chip view 0"));
        QCOMPARE(run("switched"),
                 QStringLiteral("not shown before the answer; then native hidden, login shown, "
                                "made for nothing, chip view 1"));
    }

    void preparationThenServerModeSwitchesBetweenTheWindows()
    {
        prepareApplication(*qApp);
        const QFont font = QApplication::font();
        QCOMPARE(QStringList({QCoreApplication::applicationName(), QCoreApplication::organizationName(), font.family(),
                              QString::number(font.pixelSize()), QFontInfo(font).family()})
                     .join(' '),
                 QStringLiteral("Kavira Kavira Inter 14 Inter")); // the last: really loaded
        QVERIFY(QFile(Log::directory() + QStringLiteral("/kvr.log")).size() > 0);
        QVERIFY(!QApplication::windowIcon().isNull() && BrandRegistry::instance().get(QStringLiteral("imou")));
        // The graphics probe runs from the start, its answer in without any
        // view asking.
        QTRY_VERIFY_WITH_TIMEOUT(kvr::video::GpuProbe::known(), 30000);
        Log::uninstall();
        // In any window, a wheel passing over a drop-down or a spin box nobody
        // clicked leaves it as it is; one the person clicked into takes it.
        QDialog any;
        auto* layout = new QVBoxLayout(&any);
        layout->addWidget(new QLineEdit(&any)); // where the focus is as the dialog opens
        auto* combo = new QComboBox(&any);
        combo->addItems({QStringLiteral("2x2"), QStringLiteral("1+5"), QStringLiteral("3x3")});
        auto* spin = new QSpinBox(&any);
        layout->addWidget(combo);
        layout->addWidget(spin);
        any.show();
        QVERIFY(drive::activate(&any));
        for (QWidget* w : {static_cast<QWidget*>(combo), static_cast<QWidget*>(spin)})
            drive::wheel(&any, w->geometry().center());
        QCOMPARE(QStringLiteral("%1 %2").arg(combo->currentIndex()).arg(spin->value()), QStringLiteral("0 0"));
        drive::click(spin);
        drive::wheel(&any, spin->geometry().center(), 1);
        QCOMPARE(spin->value(), 1);
        any.hide();

        // No mode remembered means server mode: the sign-in window, which tries
        // the remembered sign-in once the event loop runs, and only then.
        auto w = start(std::nullopt);
        QCOMPARE(shown(*w), QStringLiteral("login"));
        QCOMPARE(w->login.size(), kLoginWindowSize);
        QCOMPARE(w->login.restoreAttempts(), 0);
        QTRY_COMPARE(w->login.restoreAttempts(), 1);
        Q_EMIT w->login.signedIn();
        QCOMPARE(shown(*w), QStringLiteral("shell"));
        QCOMPARE(w->shell.catalogLoads(), 1);
        Q_EMIT w->shell.signedOut();
        QCOMPARE(shown(*w), QStringLiteral("login"));
        Q_EMIT w->login.openNativeRequested();
        QCOMPARE(shown(*w), QStringLiteral("native"));
        QTest::qWait(20);
        QCOMPARE(w->login.restoreAttempts(), 1); // signing out and switching do not try again
    }

    // Native mode shows its window alone and tries no sign-in. A new refresh
    // token reaches the store while it shows; leaving native mode shows the
    // sign-in window, whose remembered sign-in (with that token) the fake
    // server accepts, landing in the server-mode main window untouched.
    void leavingNativeModeRestoresARememberedSignInEndToEnd()
    {
        orgserver::FakeOrgServer server;
        QVERIFY(server.listen());
        server.addUser(QStringLiteral("asha"), QStringLiteral("secret"), false);
        server.seedRefreshToken(QStringLiteral("remembered"), QStringLiteral("asha"));
        ApiClient& api = AppContext::instance().api;
        api.setBaseUrl(server.baseUrl());
        QVERIFY(SessionStore::save({QStringLiteral("asha"), QStringLiteral("stale"), QDateTime::currentDateTimeUtc()}));

        auto w = start(true);
        QCOMPARE(shown(*w), QStringLiteral("native"));
        QCOMPARE(w->native.size(), kNativeWindowSize);
        Q_EMIT api.refreshTokenChanged(QStringLiteral("remembered"));
        QCoreApplication::processEvents();
        QCOMPARE(w->login.restoreAttempts(), 0);

        w->native.useServerSignIn();
        QVERIFY(!NativeMode::prefs().value(QStringLiteral("nativeMode")).toBool());
        QCOMPARE(shown(*w), QStringLiteral("login")); // the sign-in window first
        QTRY_COMPARE(shown(*w), QStringLiteral("shell"));
        QVERIFY(w->login.restoreAttempts() == 1 && w->shell.catalogLoads() == 1 && SessionStore::active());
        QCOMPARE(AppContext::instance().user.username, QStringLiteral("asha"));
        api.logout();
    }

    // A quit whose last save still fails says so before the program ends:
    // in a notice, one sentence per file, or in the log alone when the
    // system's request ended it.
    void aQuitThatCannotSaveSaysSo()
    {
        using namespace kvr::services;
        kvr::ui::Modal::reset();
        kvr::ui::Modal::setStrict(true);
        NativeStore& store = NativeStore::instance();
        store.waitForWrites();
        sayWhatQuitLeftUnsaved(false); // all saved: nothing to say
        QVERIFY(kvr::ui::Modal::shown().isEmpty());

        // A folder where the device list is written: no write of it can work.
        const QString path = SecureFile::path(QLatin1String(Native::kInventoryFile));
        QFile::remove(path);
        QVERIFY(QDir().mkpath(path));
        store.addSite(Native::Site{{}, QStringLiteral("Depot"), {}, {}, {}, {}, {}});
        QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
        const QStringList lost = NativeServices::lostAtEnd();
        QCOMPARE(lost.size(), 1);
        QVERIFY2(lost.first().startsWith(QStringLiteral("The device list could not be saved in")),
                 qPrintable(lost.first()));
        {
            kvrtest::LogCapture log;
            sayWhatQuitLeftUnsaved(true);
            QVERIFY(kvr::ui::Modal::shown().isEmpty());
            QVERIFY(log.contains(QStringLiteral("[app] ended on the system's request with files not saved: ")
                                 + lost.first()));
        }
        kvr::ui::Modal::answer(QMessageBox::Ok);
        sayWhatQuitLeftUnsaved(false);
        QCOMPARE(kvr::ui::Modal::shown(), QStringList{QStringLiteral("Not saved: ") + lost.first()});

        QVERIFY(QDir(path).removeRecursively());
        store.flush();
        store.waitForWrites();
        QVERIFY(NativeServices::lostAtEnd().isEmpty());
        kvr::ui::Modal::setStrict(false);
    }
};

int main(int argc, char** argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--graphics-start") == 0)
        return graphicsStart(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--first-window") == 0)
        return firstWindow(argc, argv, argv[2]);
    kvrtest::prepareEnvironment("TestStartup");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTEST_SET_MAIN_SOURCE_PATH
    TestStartup tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_startup.moc"
