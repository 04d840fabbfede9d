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
#include "tests/server/shell/CatalogSamples.h"
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

// Once fades and first paints are over.
void screenshot(QWidget* widget, const QString& name)
{
    QTest::qWait(400);
    const QString dir = QStringLiteral(KVR_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    widget->grab().save(dir + "/shell-" + name + ".png");
}

} // namespace

class TestShellScreens : public QObject {
    Q_OBJECT

    peers::Peer rtsp;

private Q_SLOTS:
    void initTestCase()
    {
        Theme::loadFonts();
        QFont font("Inter");
        font.setPixelSize(14);
        QApplication::setFont(font);
        Prefs::set(Prefs::kRenderMode, "cpu");
        if (BrandRegistry::instance().count() == 0)
            BrandRegistry::instance().add(std::make_unique<ImouProvider>());
        QVERIFY(peers::startRtsp(rtsp, {"--size", "1280x720", "--no-audio", "--pattern", "smpte"}));
        qputenv("KVR_RTSP_HOST", "127.0.0.1");
        qputenv("KVR_RTSP_PORT", QByteArray::number(rtsp.port));
    }

    void signInCodeEntryAndServerDialog()
    {
        Rig rig;
        LoginWindow w;
        w.resize(1100, 720);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* film = w.findChild<BrandVideo*>();
        QTRY_VERIFY_WITH_TIMEOUT(film->stage()->hasPicture(), 20000);
        screenshot(&w, "sign-in");
        // The film fills its column: no backdrop shows at its middle.
        const QImage shot = w.grab().toImage();
        const QPoint middle = film->geometry().center() * shot.devicePixelRatio();
        QVERIFY(shot.pixelColor(middle) != Theme::kBackdrop);

        fieldOf(&w, "Username")->setText("otp");
        fieldOf(&w, "Password")->setText("secret");
        buttonNamed(&w, "Sign in")->click();
        QTRY_COMPARE(w.currentPage(), LoginWindow::CodePage);
        w.otpBoxes()[0]->setText("123");
        screenshot(&w, "code-entry");

        ServerDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        fieldOf(&d, "Video relay address (optional)")->setText("127.0.0.1:9");
        d.runTest();
        QTRY_VERIFY(buttonNamed(&d, "Test connection")->isEnabled());
        screenshot(&d, "server-dialog");
    }

    void mainWindowStageHealthPresetsAndSettings()
    {
        Rig rig;
        rig.server.streamIdOverride = "live";
        rig.signIn();
        ShellWindow w;
        w.resize(1440, 860);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.loadCatalog();
        CatalogPane* pane = w.catalogue();
        QTRY_VERIFY_WITH_TIMEOUT(rowOf(pane->model(), "Recorder 2-2").isValid() && !pane->rebuildPending()
                                     && pane->loadingLabel()->text().isEmpty(),
                                 10000);
        QTRY_VERIFY(w.chip()->isVisible());
        const QModelIndex device = rowOf(pane->model(), "Recorder 1-1");
        clickRow(pane, device);
        screenshot(&w, "main-device");
        // The online chip of the relay is drawn in its colour.
        QCOMPARE(w.chip()->property("state").toString(), "online");

        // Live on the stage.
        clickRow(pane, rowOf(pane->model(), "Camera 2", device));
        auto* stage = w.findChild<StagePages*>();
        QTRY_VERIFY_WITH_TIMEOUT(stage->videoStage()->hasPicture(), 30000);
        screenshot(&w, "stage-live");
        stage->stopPlayback();

        // Health.
        w.openDevice(w.currentDeviceId());
        Q_EMIT w.devicePage()->checkHealth();
        QTRY_COMPARE(w.healthPage()->table()->item(0, 2)->text(), "No result");
        screenshot(&w, "health");

        // Presets, and the selection mode of the catalogue.
        PresetsDialog presets(AppContext::instance().api, AppContext::instance().user.organisationId, &w);
        presets.show();
        QTRY_COMPARE(presets.list()->count(), 1);
        screenshot(&presets, "presets");
        presets.close();

        SettingsDialog settings(&w);
        settings.show();
        screenshot(&settings, "settings");
        settings.close();

        pane->setSelecting(true);
        pane->toggleSite("1");
        clickRow(pane, rowOf(pane->model(), "Camera 3", rowOf(pane->model(), "Recorder 2-1")));
        screenshot(&w, "catalogue-selection");
    }
};

KVR_TEST_MAIN(TestShellScreens)
#include "tst_shell_screens.moc"
