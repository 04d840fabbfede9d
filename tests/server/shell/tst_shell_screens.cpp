// Screenshots of the server shell under a real X server, for a person to
// look at: the sign-in window with its film, the code step, the server
// dialog, the main window with its catalogue and a device, live video on the
// stage, the health page, presets and settings. A few pixels are checked
// where a colour is the rule.
#include "app/core/Settings.h"
#include "app/ui/Theme.h"
#include "server/shell/BrandRegistry.h"
#include "server/shell/BrandVideo.h"
#include "server/shell/CatalogModel.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/DevicePages.h"
#include "server/shell/LoginWindow.h"
#include "server/shell/PresetsDialog.h"
#include "server/shell/ServerDialog.h"
#include "server/shell/SettingsDialog.h"
#include "server/shell/ShellWindow.h"
#include "server/view/StagePages.h"
#include "tests/server/shell/ShellTestSupport.h"
#include "tests/video/Peers.h"
#include "video/VideoStage.h"

#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeView>

using namespace shelltest;

namespace {

QString screenshot(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(KVR_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/shell-") + name + QStringLiteral(".png");
    widget->grab().save(path);
    return path;
}

QModelIndex rowOf(QAbstractItemModel* m, const QString& text, const QModelIndex& parent = {})
{
    for (int r = 0; r < m->rowCount(parent); ++r) {
        const QModelIndex i = m->index(r, 0, parent);
        if (i.data().toString() == text)
            return i;
        const QModelIndex inner = rowOf(m, text, i);
        if (inner.isValid())
            return inner;
    }
    return {};
}

} // namespace

class TestShellScreens : public QObject {
    Q_OBJECT

    peers::Peer rtsp;

    static void settle()
    {
        QTest::qWait(400); // fades and first paints
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
        QVERIFY(peers::startRtsp(rtsp, {"--size", "1280x720", "--no-audio", "--pattern", "smpte"}));
        qputenv("KVR_RTSP_HOST", "127.0.0.1");
        qputenv("KVR_RTSP_PORT", QByteArray::number(rtsp.port));
    }

    void signInAndCodeEntry()
    {
        Rig rig;
        LoginWindow w;
        w.resize(1100, 720);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* film = w.findChild<BrandVideo*>();
        QTRY_VERIFY_WITH_TIMEOUT(film->stage()->hasPicture(), 20000);
        settle();
        screenshot(&w, QStringLiteral("sign-in"));
        // The film fills its column: no backdrop shows at its middle.
        const QImage shot = w.grab().toImage();
        const QPoint middle = film->geometry().center() * shot.devicePixelRatio();
        QVERIFY(shot.pixelColor(middle) != Theme::kBackdrop);

        fieldOf(&w, QStringLiteral("Username"))->setText(QStringLiteral("otp"));
        fieldOf(&w, QStringLiteral("Password"))->setText(QStringLiteral("secret"));
        buttonNamed(&w, QStringLiteral("Sign in"))->click();
        QTRY_COMPARE(w.currentPage(), LoginWindow::CodePage);
        w.otpBoxes()[0]->setText(QStringLiteral("123"));
        settle();
        screenshot(&w, QStringLiteral("code-entry"));
    }

    void serverDialog()
    {
        Rig rig;
        ServerDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        fieldOf(&d, QStringLiteral("Video relay address (optional)"))->setText(QStringLiteral("127.0.0.1:9"));
        d.runTest();
        QTRY_VERIFY(buttonNamed(&d, QStringLiteral("Test connection"))->isEnabled());
        settle();
        screenshot(&d, QStringLiteral("server-dialog"));
    }

    void mainWindowStageHealthPresetsAndSettings()
    {
        Rig rig;
        rig.server.streamIdOverride = QStringLiteral("live");
        ApiClient& api = AppContext::instance().api;
        bool done = false;
        api.login(QStringLiteral("demo"), QStringLiteral("secret"), false, [&](const LoginStart& a) {
            api.setAccessToken(a.accessToken);
            AppContext::instance().user = a.user;
            done = true;
        });
        QTRY_VERIFY(done);
        ShellWindow w;
        w.resize(1440, 860);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.loadCatalog();
        CatalogPane* pane = w.catalogue();
        QTRY_VERIFY_WITH_TIMEOUT(rowOf(pane->model(), QStringLiteral("Recorder 2-2")).isValid()
                                     && !pane->rebuildPending() && pane->loadingLabel()->text().isEmpty(),
                                 10000);
        QTRY_VERIFY(w.chip()->isVisible());
        const QModelIndex device = rowOf(pane->model(), QStringLiteral("Recorder 1-1"));
        QTest::mouseClick(pane->tree()->viewport(), Qt::LeftButton, {}, pane->tree()->visualRect(device).center());
        settle();
        screenshot(&w, QStringLiteral("main-device"));
        // The online chip of the relay is drawn in its colour.
        QCOMPARE(w.chip()->property("state").toString(), QStringLiteral("online"));

        // Live on the stage.
        const QModelIndex camera = rowOf(pane->model(), QStringLiteral("Camera 2"), device);
        QTest::mouseClick(pane->tree()->viewport(), Qt::LeftButton, {}, pane->tree()->visualRect(camera).center());
        auto* stage = w.findChild<StagePages*>();
        QTRY_VERIFY_WITH_TIMEOUT(stage->videoStage()->hasPicture(), 30000);
        settle();
        screenshot(&w, QStringLiteral("stage-live"));
        stage->stopPlayback();

        // Health.
        w.openDevice(w.currentDeviceId());
        Q_EMIT w.devicePage()->checkHealth();
        QTRY_COMPARE(w.healthPage()->table()->item(0, 2)->text(), QStringLiteral("No result"));
        settle();
        screenshot(&w, QStringLiteral("health"));

        // Presets, and the selection mode of the catalogue.
        PresetsDialog presets(api, AppContext::instance().user.organisationId, &w);
        presets.show();
        QTRY_COMPARE(presets.list()->count(), 1);
        settle();
        screenshot(&presets, QStringLiteral("presets"));
        presets.close();

        SettingsDialog settings(&w);
        settings.show();
        settle();
        screenshot(&settings, QStringLiteral("settings"));
        settings.close();

        pane->setSelecting(true);
        pane->toggleSite(QStringLiteral("1"));
        QTest::mouseClick(pane->tree()->viewport(), Qt::LeftButton, {},
                          pane->tree()
                              ->visualRect(rowOf(pane->model(), QStringLiteral("Camera 3"),
                                                 rowOf(pane->model(), QStringLiteral("Recorder 2-1"))))
                              .center());
        settle();
        screenshot(&w, QStringLiteral("catalogue-selection"));
    }
};

KVR_TEST_MAIN(TestShellScreens)
#include "tst_shell_screens.moc"
