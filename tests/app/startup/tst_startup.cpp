#include "app/context/AppContext.h"
#include "app/core/Log.h"
#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/startup/Startup.h"
#include "server/shell/BrandRegistry.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/support/TestKit.h"

#include <QFile>
#include <QFontInfo>
#include <QSettings>

#include <memory>

class TestStartup : public QObject {
    Q_OBJECT

    static int shownCount(const TopLevelWindows& w)
    {
        return int(w.login.isVisible()) + int(w.shell.isVisible()) + int(w.native.isVisible());
    }

    std::unique_ptr<TopLevelWindows> start(bool nativeMode)
    {
        NativeMode::prefs().setValue(QStringLiteral("nativeMode"), nativeMode);
        auto w = std::make_unique<TopLevelWindows>();
        w->connectSwitches();
        w->showInitial();
        return w;
    }

private Q_SLOTS:
    void init() { SessionStore::clear(); }

    void preparationNamesTheAppAndSetsLogIconFontAndBrands()
    {
        prepareApplication(*qApp);
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Kavira"));
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Kavira"));
        QVERIFY(QFile(Log::directory() + QStringLiteral("/kvr.log")).size() > 0);
        QVERIFY(!QApplication::windowIcon().isNull());
        QCOMPARE(QApplication::font().family(), QStringLiteral("Inter"));
        QCOMPARE(QApplication::font().pixelSize(), 14);
        QVERIFY(QFontInfo(QApplication::font()).family() == QStringLiteral("Inter")); // really loaded
        QVERIFY(BrandRegistry::instance().get(QStringLiteral("imou")));
        Log::uninstall();
    }

    void nativeModeShowsOnlyTheNativeWindowAndTriesNoSignIn()
    {
        auto w = start(true);
        QVERIFY(w->native.isVisible());
        QCOMPARE(shownCount(*w), 1);
        QCOMPARE(w->native.size(), kNativeWindowSize);
        QCoreApplication::processEvents();
        QCOMPARE(w->login.restoreAttempts(), 0);
        QCOMPARE(w->native.windowTitle(), QStringLiteral("Vigilo"));
    }

    void serverModeShowsSignInAndTriesTheRememberedSignInOnceShown()
    {
        NativeMode::prefs().remove(QStringLiteral("nativeMode")); // absent means server mode
        auto w = std::make_unique<TopLevelWindows>();
        w->connectSwitches();
        w->showInitial();
        QVERIFY(w->login.isVisible());
        QCOMPARE(shownCount(*w), 1);
        QCOMPARE(w->login.size(), kLoginWindowSize);
        QCOMPARE(w->login.restoreAttempts(), 0); // not before the event loop runs
        QTRY_COMPARE(w->login.restoreAttempts(), 1);
        QTest::qWait(20);
        QCOMPARE(w->login.restoreAttempts(), 1);
    }

    void signInSignOutAndOpenNative()
    {
        auto w = start(false);
        QTRY_COMPARE(w->login.restoreAttempts(), 1);

        Q_EMIT w->login.signedIn();
        QVERIFY(w->shell.isVisible());
        QCOMPARE(shownCount(*w), 1);
        QCOMPARE(w->shell.catalogLoads(), 1);

        Q_EMIT w->shell.signedOut();
        QVERIFY(w->login.isVisible());
        QCOMPARE(shownCount(*w), 1);
        QTest::qWait(20);
        QCOMPARE(w->login.restoreAttempts(), 1); // signing out does not try again

        Q_EMIT w->login.openNativeRequested();
        QVERIFY(w->native.isVisible());
        QCOMPARE(shownCount(*w), 1);
    }

    // Against the fake organisation server: a remembered sign-in that the
    // server accepts lands in the server-mode main window untouched; one it
    // refuses is forgotten; one it cannot be asked about is kept.
    void leavingNativeModeRestoresARememberedSignInEndToEnd()
    {
        orgserver::FakeOrgServer server;
        QVERIFY(server.listen());
        server.addUser(QStringLiteral("asha"), QStringLiteral("secret"), false);
        ApiClient& api = AppContext::instance().api;
        api.setBaseUrl(server.baseUrl());

        LoginStart first;
        bool answered = false;
        api.login(QStringLiteral("asha"), QStringLiteral("secret"), true, [&](const LoginStart& a) {
            first = a;
            answered = true;
        });
        QTRY_VERIFY(answered);
        QCOMPARE(first.step, qint32(LoginStart::SignedIn));
        QVERIFY(!first.refreshToken.isEmpty());
        api.setAccessToken(QString());
        api.setRefreshToken(QString());
        QVERIFY(SessionStore::save({QStringLiteral("asha"), first.refreshToken, QDateTime::currentDateTimeUtc()}));

        auto w = start(true);
        w->native.useServerSignIn();
        QVERIFY(!NativeMode::prefs().value(QStringLiteral("nativeMode")).toBool());
        QVERIFY(w->login.isVisible() && !w->native.isVisible()); // the sign-in window first
        QTRY_VERIFY(w->shell.isVisible());
        QCOMPARE(shownCount(*w), 1);
        QCOMPARE(w->login.restoreAttempts(), 1);
        QCOMPARE(w->shell.catalogLoads(), 1);
        QCOMPARE(AppContext::instance().user.username, QStringLiteral("asha"));
        QVERIFY(SessionStore::active());
        api.logout();
    }

    void aRefusedRememberedSignInIsForgottenAnUnreachableOneKept()
    {
        orgserver::FakeOrgServer server;
        QVERIFY(server.listen());
        ApiClient& api = AppContext::instance().api;
        api.setBaseUrl(server.baseUrl());
        // The server no longer knows the token.
        QVERIFY(SessionStore::save(
            {QStringLiteral("asha"), QStringLiteral("unknown-token"), QDateTime::currentDateTimeUtc()}));
        {
            auto w = start(false);
            QTRY_VERIFY(!SessionStore::active());
            QVERIFY(!QFile::exists(SessionStore::filePath()));
            QVERIFY(w->login.isVisible());
            QVERIFY(!w->shell.isVisible());
        }
        // No server at all: the remembered sign-in survives for a later try.
        api.setBaseUrl(QStringLiteral("http://127.0.0.1:%1").arg(kvrtest::freePort()));
        QVERIFY(SessionStore::save(
            {QStringLiteral("asha"), QStringLiteral("some-token"), QDateTime::currentDateTimeUtc()}));
        auto w = start(false);
        QTRY_COMPARE(w->login.restoreAttempts(), 1);
        QTRY_VERIFY(api.refreshToken().isEmpty()); // the attempt has ended
        QVERIFY(QFile::exists(SessionStore::filePath()));
        QVERIFY(w->login.isVisible());
        QVERIFY(!w->shell.isVisible());
    }

    void newRefreshTokensReachTheStoreWhicheverWindowShows()
    {
        auto w = start(true);
        QVERIFY(SessionStore::save({QStringLiteral("asha"), QStringLiteral("old"), QDateTime::currentDateTimeUtc()}));
        Q_EMIT AppContext::instance().api.refreshTokenChanged(QStringLiteral("new"));
        const auto loaded = SessionStore::load();
        QVERIFY(loaded);
        QCOMPARE(loaded->refreshToken, QStringLiteral("new"));
    }
};

KVR_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
