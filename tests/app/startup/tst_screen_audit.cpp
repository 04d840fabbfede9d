// Every top-level window and dialog of both modes opened as a new user meets
// them, with data (a catalogue of long names, a wall of sixteen and more, a
// fleet of fifty devices, a page of live tiles that cannot play), at the
// smallest size the program allows (1280 x 720) and at its default sizes.
// Each window must show every text whole (or wrapped, or shortened with its
// whole text in a tool tip), name every control for a screen reader, and let
// Tab reach every control a mouse can use. One screenshot per window and size
// goes to build/screenshots/ for a person to look at.

#include "app/context/AppContext.h"
#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/startup/Startup.h"
#include "app/ui/Modal.h"
#include "app/ui/Theme.h"
#include "native/live/NativeLive.h"
#include "native/live/VmsPage.h"
#include "native/live/VmsTile.h"
#include "native/screens/DevicePanel.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeWindow.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "server/shell/BrandRegistry.h"
#include "server/shell/CatalogModel.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/DevicePages.h"
#include "server/shell/LoginWindow.h"
#include "server/shell/ServerDialog.h"
#include "server/shell/ShellWindow.h"
#include "server/view/GridPage.h"
#include "server/view/StagePages.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/server/shell/ShellTestSupport.h"
#include "tests/support/ScreenAudit.h"
#include "tests/support/TestKit.h"
#include "video/VideoStage.h"
#include "wall/DisplayWindow.h"
#include "wall/SetupDialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTreeView>

#include <algorithm>

namespace {

constexpr QSize kSmallest{1280, 720};
const QString kShots = QStringLiteral(KVR_SCREENSHOT_DIR);

// Long names, as organisations really give them.
const QStringList kSiteNames{
    QStringLiteral("Head Office · Andheri East Corporate Park"),
    QStringLiteral("Bhiwandi Distribution Centre Warehouse 4"),
    QStringLiteral("Pune Retail Flagship Store"),
};

// The messages video stages paint (the check of labels cannot see them):
// every line inside the stage and no wider than its place, and a shortened
// message readable whole in a tool tip.
QStringList paintedMessageFaults(QWidget* window)
{
    QStringList faults;
    for (VideoStage* stage : window->findChildren<VideoStage*>()) {
        if (!stage->isVisible() || stage->window() != window)
            continue;
        for (const VideoStage::MessageLine& line : stage->messageLines()) {
            QFont f = stage->font();
            f.setPixelSize(line.headline ? (stage->headlineText() == QLatin1String("Loading") ? 13 : 18) : 13);
            f.setWeight(!line.headline                                          ? QFont::Normal
                            : stage->headlineText() == QLatin1String("Loading") ? QFont::Medium
                                                                                : QFont::DemiBold);
            if (!stage->rect().contains(line.rect) || QFontMetrics(f).horizontalAdvance(line.text) > line.rect.width())
                faults << QStringLiteral("VideoStage \"%1\": line \"%2\" does not fit")
                              .arg(stage->headlineText(), line.text);
        }
        if (stage->messageShortened()) {
            QWidget* holder = stage->testAttribute(Qt::WA_TransparentForMouseEvents) ? stage->parentWidget() : stage;
            if (!holder->toolTip().contains(stage->headlineText()))
                faults << QStringLiteral("VideoStage \"%1\": shortened without its text in a tool tip")
                              .arg(stage->headlineText());
        }
    }
    return faults;
}

QAbstractButton* visibleButton(QWidget* root, const QString& text)
{
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        if ((b->text() == text || b->accessibleName() == text) && b->isVisible())
            return b;
    return nullptr;
}

} // namespace

class ScreenAudit : public QObject {
    Q_OBJECT

    QStringList faults;
    QStringList seen;

    // Settles fades, queued rebuilds and first paints before looking.
    static void settle(int ms = 350) { QTest::qWait(ms); }

    void look(QWidget* window, const QString& name)
    {
        // As it opens: no field chosen by an earlier walk, pages at their top.
        if (QWidget* focused = window->focusWidget())
            focused->clearFocus();
        for (QScrollArea* area : window->findChildren<QScrollArea*>())
            area->verticalScrollBar()->setValue(0);
        settle();
        const QString tag = QStringLiteral("%1-%2x%3").arg(name).arg(window->width()).arg(window->height());
        // The picture first: the walk with Tab moves the focus and scrolls.
        QVERIFY(screenshot(window, tag));
        faults += screenaudit::audit(window, tag);
        for (const QString& f : paintedMessageFaults(window))
            faults << tag + QStringLiteral(" [text] ") + f;
        seen << tag;
    }

    static bool screenshot(QWidget* window, const QString& tag)
    {
        return screenaudit::screenshot(window, kShots, QStringLiteral("audit-") + tag);
    }

    // A window at its default size and at the smallest the program allows.
    void lookAtBothSizes(QWidget* window, const QString& name, QSize defaultSize)
    {
        window->resize(defaultSize);
        look(window, name);
        window->resize(kSmallest);
        look(window, name);
        window->resize(defaultSize);
    }

    // A dialog as it opens, and within 1280 x 720 when it opens larger.
    void lookAtDialog(QDialog& dialog, const QString& name)
    {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QSize opened = dialog.size();
        look(&dialog, name);
        const QSize bounded = opened.boundedTo(kSmallest);
        if (bounded != opened) {
            dialog.resize(bounded);
            look(&dialog, name);
            dialog.resize(opened);
        }
    }

    // The next modal dialog is looked at and then closed with `result`.
    void auditNext(const QString& name, int result = QDialog::Rejected, std::function<void(QDialog&)> more = {})
    {
        Modal::respond([this, name, result, more](QDialog& d) {
            lookAtDialog(d, name);
            if (more)
                more(d);
            d.hide();
            return result;
        });
    }

    // Starts the wall of a set-up dialog with every camera of its tree on
    // this display, looks at the display's full-screen window, and stops it.
    void lookAtRunningWall(VideoWall::SetupDialog& setup, const QString& name)
    {
        setup.enabledBox()->setChecked(true);
        setup.tree()->expandAll();
        setup.tree()->selectAll();
        setup.fillButton()->click();
        setup.startButton()->click();
        VideoWall::DisplayWindow* shown = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((shown = wallWindow()) && shown->isVisible(), 10000);
        settle(1500);
        look(shown, name);
        setup.stopButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!wallWindow(), 10000);
    }

    static VideoWall::DisplayWindow* wallWindow()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<VideoWall::DisplayWindow*>(w); d && d->isVisible())
                return d;
        return nullptr;
    }

    void expectAnswered() { QTRY_COMPARE_WITH_TIMEOUT(Modal::pending(), 0, 10000); }

    // Every window named was looked at (a step that silently opened nothing
    // would otherwise pass).
    void expectSeen(const QStringList& names) const
    {
        QStringList missing;
        for (const QString& name : names) {
            const QString prefix = name + QLatin1Char('-');
            if (std::none_of(seen.cbegin(), seen.cend(), [&](const QString& tag) {
                    return tag.startsWith(prefix) && tag.at(prefix.size()).isDigit();
                }))
                missing << name;
        }
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("not looked at: ") + missing.join(QLatin1String(", "))));
    }

private Q_SLOTS:
    void initTestCase()
    {
        Theme::loadFonts();
        QFont font(QStringLiteral("Inter"));
        font.setPixelSize(14);
        QApplication::setFont(font);
        Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));
        if (BrandRegistry::instance().count() == 0)
            BrandRegistry::instance().add(std::make_unique<ImouProvider>());
        Modal::setStrict(true);
        QVERIFY(QGuiApplication::primaryScreen()->availableSize().width() >= 1440);
        // The pointer rests where no window is, so no tile shows its hover
        // controls by chance.
        QCursor::setPos(QGuiApplication::primaryScreen()->geometry().bottomRight());
    }

    void cleanup()
    {
        // One line each, so that a long list is read whole.
        for (const QString& f : std::as_const(faults))
            qWarning().noquote() << "FAULT" << f;
        const qsizetype count = faults.size();
        faults.clear();
        QVERIFY2(count == 0, qPrintable(QStringLiteral("%1 faults, listed above").arg(count)));
    }

    void serverMode()
    {
        orgserver::FakeOrgServer server;
        QVERIFY(server.listen());
        server.populate(3, 3, 8);
        for (int i = 0; i < kSiteNames.size(); ++i)
            server.sites[i].name = kSiteNames.at(i);
        server.sites[0].devices[0].name = QStringLiteral("Reception and lobby recorder (32 channel)");
        server.sites[0].devices[0].cameras[0].name = QStringLiteral("Main entrance turnstiles, facing the street");
        server.sites[1].devices[2].online = false;
        for (orgserver::FakeCamera& c : server.sites[1].devices[2].cameras)
            c.online = false;
        server.addUser(QStringLiteral("demo"), QStringLiteral("secret"), false);
        server.addUser(QStringLiteral("otp"), QStringLiteral("secret"), true);
        AppContext& ctx = AppContext::instance();
        ctx.api.setBaseUrl(server.baseUrl());
        // No relay answers here: live pictures fail, as on a closed network.
        qputenv("KVR_RTSP_HOST", "127.0.0.1");
        qputenv("KVR_RTSP_PORT", QByteArray::number(kvrtest::closedPort()));

        TopLevelWindows windows;
        windows.connectSwitches();
        LoginWindow& login = windows.login;
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        lookAtBothSizes(&login, QStringLiteral("sign-in"), kLoginWindowSize);

        // The code step.
        for (QLineEdit* e : login.findChildren<QLineEdit*>()) {
            if (e->objectName() == QLatin1String("LoginField") && e->echoMode() == QLineEdit::Normal)
                e->setText(QStringLiteral("otp"));
            else if (e->objectName() == QLatin1String("LoginField"))
                e->setText(QStringLiteral("secret"));
        }
        visibleButton(&login, QStringLiteral("Sign in"))->click();
        QTRY_COMPARE(login.currentPage(), LoginWindow::CodePage);
        lookAtBothSizes(&login, QStringLiteral("sign-in-code"), kLoginWindowSize);

        // The server dialog after a test that met a server answering in
        // plain HTTP where a secure connection was expected, and no relay.
        {
            QTcpServer plain;
            QVERIFY(shelltest::answerInPlainHttp(plain));
            ServerDialog dialog(&login);
            dialog.findChildren<QLineEdit*>().at(0)->setText(
                QStringLiteral("https://127.0.0.1:%1").arg(plain.serverPort()));
            dialog.findChildren<QLineEdit*>().at(1)->setText(QStringLiteral("127.0.0.1:%1").arg(kvrtest::closedPort()));
            dialog.show();
            dialog.runTest();
            QTRY_VERIFY_WITH_TIMEOUT(visibleButton(&dialog, QStringLiteral("Test connection"))->isEnabled(), 15000);
            lookAtDialog(dialog, QStringLiteral("server-dialog"));
        }

        // Signed in, the main window with its catalogue.
        login.hide();
        {
            ApiClient& api = ctx.api;
            bool done = false;
            api.login(QStringLiteral("demo"), QStringLiteral("secret"), true, [&](const LoginStart& a) {
                api.setAccessToken(a.accessToken);
                api.setRefreshToken(a.refreshToken);
                ctx.user = a.user;
                done = true;
            });
            QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        }
        ShellWindow& shell = windows.shell;
        shell.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shell));
        const QSize shellDefault = shell.size();
        shell.loadCatalog();
        CatalogPane* pane = shell.catalogue();
        QTRY_VERIFY_WITH_TIMEOUT(!pane->rebuildPending() && pane->model()->rowCount() == 3, 10000);
        settle(600);
        lookAtBothSizes(&shell, QStringLiteral("main-home"), shellDefault);

        const QString deviceId = server.sites[0].devices[0].id;
        shell.openDevice(deviceId);
        lookAtBothSizes(&shell, QStringLiteral("main-device"), shellDefault);

        Q_EMIT shell.devicePage()->checkHealth();
        settle(800);
        lookAtBothSizes(&shell, QStringLiteral("main-health"), shellDefault);

        Q_EMIT shell.devicePage()->openLive();
        auto* stage = shell.findChild<StagePages*>();
        QTRY_VERIFY_WITH_TIMEOUT(stage->isVisible(), 10000);
        lookAtBothSizes(&shell, QStringLiteral("stage-live-loading"), shellDefault);
        // The relay refuses every try: the player gives up with its reason.
        QTRY_VERIFY_WITH_TIMEOUT(visibleButton(stage, QStringLiteral("Try again")), 60000);
        lookAtBothSizes(&shell, QStringLiteral("stage-live-failed"), shellDefault);

        shell.openDevice(deviceId);
        Q_EMIT shell.devicePage()->openDevicePlayback();
        QTRY_VERIFY_WITH_TIMEOUT(stage->isVisible() && stage->mode() == StagePages::DevicePlayback, 10000);
        settle(800);
        lookAtBothSizes(&shell, QStringLiteral("stage-device"), shellDefault);
        pane->setPaneWidth(520);
        shell.resize(kSmallest);
        look(&shell, QStringLiteral("stage-device-wide-catalogue"));
        pane->setPaneWidth(300);

        shell.openDevice(deviceId);
        Q_EMIT shell.devicePage()->openCloudPlayback();
        QTRY_VERIFY_WITH_TIMEOUT(stage->isVisible() && stage->mode() == StagePages::CloudPlayback, 10000);
        settle(800);
        lookAtBothSizes(&shell, QStringLiteral("stage-cloud"), shellDefault);
        stage->stopPlayback();

        // A wall of a whole site, nine to a page: the pager shows.
        Q_EMIT pane->siteLiveRequested(server.sites[0].id);
        auto* wall = shell.findChild<GridPage*>();
        QTRY_VERIFY_WITH_TIMEOUT(wall->isVisible(), 10000);
        visibleButton(wall, QStringLiteral("9"))->click();
        settle(1500);
        lookAtBothSizes(&shell, QStringLiteral("wall"), shellDefault);
        visibleButton(wall, QStringLiteral("16"))->click();
        settle(3000);
        lookAtBothSizes(&shell, QStringLiteral("wall-16"), shellDefault);

        // The wall's own questions.
        auditNext(QStringLiteral("wall-auto-advance"));
        visibleButton(wall, QStringLiteral("Auto-advance"))->click();
        expectAnswered();
        auditNext(QStringLiteral("preset-name"), QDialog::Accepted, [](QDialog& d) {
            if (auto* edit = d.findChild<QLineEdit*>())
                edit->setText(QStringLiteral("Night shift"));
        });
        auditNext(QStringLiteral("preset-saved"));
        shell.savePreset();
        expectAnswered();
        auditNext(QStringLiteral("sign-out-question"));
        shell.signOutButton()->click();
        expectAnswered();

        // The catalogue choosing cameras for a wall of one's own.
        pane->setSelecting(true);
        pane->toggleSite(server.sites[1].id);
        lookAtBothSizes(&shell, QStringLiteral("main-selection"), shellDefault);
        pane->setSelecting(false);

        auditNext(QStringLiteral("presets"));
        shell.presetsButton()->click();
        expectAnswered();
        auditNext(QStringLiteral("settings"));
        shell.settingsButton()->click();
        expectAnswered();
        auditNext(QStringLiteral("no-access"));
        shell.noAccess();
        expectAnswered();

        shell.videoWallButton()->click();
        VideoWall::SetupDialog* setup = nullptr;
        QTRY_VERIFY((setup = shell.findChild<VideoWall::SetupDialog*>()) && setup->isVisible());
        lookAtDialog(*setup, QStringLiteral("video-wall-setup"));
        lookAtRunningWall(*setup, QStringLiteral("video-wall"));
        setup->close();

        auditNext(QStringLiteral("session-expired"), QMessageBox::Ok);
        shell.onSessionExpired();
        expectAnswered();
        QTRY_VERIFY(login.isVisible());
        shell.hide();
        expectSeen({"sign-in",
                    "sign-in-code",
                    "server-dialog",
                    "main-home",
                    "main-device",
                    "main-health",
                    "stage-live-loading",
                    "stage-live-failed",
                    "stage-device",
                    "stage-device-wide-catalogue",
                    "stage-cloud",
                    "wall",
                    "wall-16",
                    "wall-auto-advance",
                    "preset-name",
                    "preset-saved",
                    "sign-out-question",
                    "main-selection",
                    "presets",
                    "settings",
                    "no-access",
                    "video-wall-setup",
                    "video-wall",
                    "session-expired"});
    }

    void nativeMode()
    {
        // Checks run only when asked; every device is at a loopback address
        // where nothing listens, so pictures and probes fail as they would
        // on a network where the recorders are off.
        NativeController::setPollEnabled(false);
        NativeStore& store = NativeStore::instance();
        const quint16 closed = kvrtest::closedPort();
        const QStringList siteNames = kSiteNames
            + QStringList{QStringLiteral("Nashik Cold Storage"), QStringLiteral("Thane Service Centre"),
                          QStringLiteral("Goa Resort · Beach Gate")};
        QStringList siteIds;
        for (const QString& name : siteNames) {
            Native::Site s;
            s.name = name;
            s.isp = QStringLiteral("FiberNet Business 200 Mbps");
            siteIds << store.addSite(s);
        }
        const QStringList brands{QStringLiteral("HIKVISION"), QStringLiteral("DAHUA"), QStringLiteral("CPPLUS"),
                                 QStringLiteral("UNIVIEW")};
        QStringList ids;
        for (int i = 0; i < 50; ++i) {
            Native::Device d;
            d.name = i == 0 ? QStringLiteral("Reception and lobby recorder, main building (32 channel)")
                            : QStringLiteral("Recorder %1").arg(i + 1);
            d.siteId = siteIds.at(i % siteIds.size());
            d.ip = QStringLiteral("127.0.0.1");
            d.httpPort = closed;
            d.rtspPort = closed;
            d.username = QStringLiteral("admin");
            d.password = QStringLiteral("s3cret");
            d.manufacturer = brands.at(i % brands.size());
            d.type = i % 6 == 5 ? QStringLiteral("ipcamera") : QStringLiteral("nvr");
            d.channels = i == 0 ? 16 : (i % 6 == 5 ? 1 : 4);
            const QString id = store.addDevice(d);
            QVERIFY(!id.isEmpty());
            ids << id;
            if (i % 11 == 3)
                continue; // never checked
            Native::ProbeResult r;
            const bool up = i % 5 != 2;
            r.health.internet = Native::Passed;
            r.health.device = up ? Native::Passed : Native::Failed;
            r.health.httpPort = r.health.rtspPort = up ? Native::Passed : Native::Failed;
            r.health.latencyMs = 12 + i;
            r.health.quality = up ? QStringLiteral("Good") : QString();
            r.health.hdd = i % 9 == 4 ? QStringLiteral("Fault") : QStringLiteral("OK");
            if (!up)
                r.health.error = QStringLiteral("The device did not answer on its HTTP port or its RTSP port.");
            r.channelsKnown = true;
            for (int c = 1; c <= d.channels; ++c) {
                Native::ChannelInfo info;
                info.channel = c;
                info.onlineKnown = true;
                info.online = up && c != 3;
                r.channels << info;
            }
            store.applyProbe(id, r);
            if (i % 13 == 7)
                store.setEnabled(id, false, QStringLiteral("Moved to the new building; waiting for its network"));
        }
        QList<Native::Camera> cams = store.device(ids.first())->cameras;
        cams[0].name = QStringLiteral("Main entrance turnstiles, facing the street");
        store.saveCameras(ids.first(), cams);

        // The live wall: twenty cameras, sixteen to a page.
        QStringList wallKeys;
        for (int c = 1; c <= 16; ++c)
            wallKeys << QStringLiteral("%1#%2").arg(ids.first()).arg(c);
        for (int c = 1; c <= 4; ++c)
            wallKeys << QStringLiteral("%1#%2").arg(ids.at(1)).arg(c);
        Prefs::set(Prefs::kNativeVmsWall, wallKeys);
        Prefs::set(Prefs::kNativeVmsLayout, 4);

        TopLevelWindows windows;
        NativeWindow& native = windows.native;
        native.show();
        QVERIFY(QTest::qWaitForWindowExposed(&native));
        settle(600);
        lookAtBothSizes(&native, QStringLiteral("native-fleet"), kNativeWindowSize);

        // The device panel with its tabs, its form, and its questions.
        auditNext(QStringLiteral("native-device"), QDialog::Rejected, [this](QDialog& d) {
            auto* tabs = d.findChild<QTabWidget*>();
            for (int t = 1; t < tabs->count(); ++t) {
                tabs->setCurrentIndex(t);
                look(&d, QStringLiteral("native-device-tab%1").arg(t));
            }
            tabs->setCurrentIndex(0);
            const auto answered = [this, &d](const QString& button, const QString& name) {
                auditNext(name);
                visibleButton(&d, button)->click();
                expectAnswered();
            };
            answered(QStringLiteral("Deactivate"), QStringLiteral("native-deactivate"));
            answered(QStringLiteral("Get snapshots"), QStringLiteral("native-snapshots"));
            answered(QStringLiteral("Recording calendar"), QStringLiteral("native-calendar"));
            answered(QStringLiteral("Test live"), QStringLiteral("native-stream"));
            visibleButton(&d, QStringLiteral("Edit"))->click();
            QTRY_VERIFY(visibleButton(&d, QStringLiteral("Remove device")));
            look(&d, QStringLiteral("native-device-edit"));
            answered(QStringLiteral("Remove device"), QStringLiteral("native-remove-question"));
        });
        native.openDetails(ids.first());
        expectAnswered();

        auditNext(QStringLiteral("native-add-device"));
        native.addDevice();
        expectAnswered();
        auditNext(QStringLiteral("native-add-site"));
        native.addSite();
        expectAnswered();
        auditNext(QStringLiteral("native-settings"));
        native.openSettings();
        expectAnswered();
        auditNext(QStringLiteral("native-report"));
        native.openReports(ids.first());
        expectAnswered();
        auditNext(QStringLiteral("native-events"));
        native.openEvents();
        expectAnswered();

        // The live wall, its tiles failing, then in playback.
        native.setPage(1);
        QTRY_VERIFY_WITH_TIMEOUT(native.findChildren<VmsTile*>().size() == 16, 10000);
        const auto allFailed = [&native] {
            const QList<VmsTile*> tiles = native.findChildren<VmsTile*>();
            return std::all_of(tiles.cbegin(), tiles.cend(), [](VmsTile* t) { return t->isFailed(); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(allFailed(), 30000);
        lookAtBothSizes(&native, QStringLiteral("native-live-wall"), kNativeWindowSize);
        visibleButton(&native, QStringLiteral("Playback"))->click();
        settle(1500);
        lookAtBothSizes(&native, QStringLiteral("native-playback"), kNativeWindowSize);

        visibleButton(&native, QStringLiteral("Video wall"))->click();
        VideoWall::SetupDialog* setup = nullptr;
        QTRY_VERIFY((setup = native.findChild<VideoWall::SetupDialog*>()) && setup->isVisible());
        lookAtDialog(*setup, QStringLiteral("native-video-wall-setup"));
        lookAtRunningWall(*setup, QStringLiteral("native-video-wall"));
        setup->close();
        native.hide();
        expectSeen({"native-fleet", "native-device", "native-device-tab1", "native-device-tab2", "native-deactivate",
                    "native-snapshots", "native-calendar", "native-stream", "native-device-edit",
                    "native-remove-question", "native-add-device", "native-add-site", "native-settings",
                    "native-report", "native-events", "native-live-wall", "native-playback", "native-video-wall-setup",
                    "native-video-wall"});
    }
};

KVR_TEST_MAIN(ScreenAudit)
#include "tst_screen_audit.moc"
