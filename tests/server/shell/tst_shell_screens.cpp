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
#include "tests/support/AuditPaint.h"
#include "tests/video/Peers.h"
#include "video/VideoStage.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTreeView>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::api;
using namespace kvr::context;
using namespace kvr::view;
using namespace kvr::shell;

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
        Theme::useProgramFont();
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
        // A server slow to give its sites: the window says they are loading.
        rig.server.delayRule = [](const orgserver::Request& r) {
            return r.path == "/v2/get_sites_by_org_string" ? 3000 : 0;
        };
        w.loadCatalog();
        CatalogPane* pane = w.catalogue();
        QTRY_VERIFY(rowOf(pane->model(), "Loading sites…").isValid());
        screenshot(&w, "main-loading");
        rig.server.delayRule = nullptr;
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

    // Long lists in the smallest main window: the channel rows of recorders
    // of 1 to 64 channels keep their height, one under the other, and the
    // list scrolls to the last; presets with long names are shortened on
    // their line, whole in their tool tip, and the list never scrolls sideways.
    void longListsInTheSmallestWindow()
    {
        Rig rig;
        rig.signIn();
        ShellWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), QSize(1280, 720));
        DevicePage* page = w.devicePage();
        Site site{"s1", "Head Office", false, {}};
        for (int channels : {1, 8, 24, 32, 64}) {
            Device device{"d1", "s1", "Reception recorder", "SN1", "hikvision", true, true, {}, {}};
            for (int c = 1; c <= channels; ++c)
                device.channels.append({QString("c%1").arg(c), "d1", QString("Camera %1").arg(c), c, true, true, true});
            page->showDevice(device, site, QString());
            QList<QPushButton*> rows;
            const auto shownRows = [&] {
                rows.clear();
                for (QPushButton* row : page->findChildren<QPushButton*>("ChannelRow"))
                    if (row->isVisibleTo(page))
                        rows << row;
                return rows.size();
            };
            // Once the list has shown and laid out its rows.
            QTRY_COMPARE(shownRows(), channels);
            QTRY_VERIFY(page->channelList()->widget()->height() >= channels * 52);
            std::sort(rows.begin(), rows.end(), [](QPushButton* a, QPushButton* b) { return a->y() < b->y(); });
            for (qsizetype i = 0; i < rows.size(); ++i) {
                QVERIFY2(rows.at(i)->height() >= 52, qPrintable(QString("%1 channels").arg(channels)));
                if (i > 0)
                    QVERIFY2(rows.at(i)->y() >= rows.at(i - 1)->geometry().bottom(),
                             qPrintable(QString("%1 channels: row %2 over row %3").arg(channels).arg(i + 1).arg(i)));
            }
            QScrollArea* list = page->channelList();
            list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
            QCoreApplication::processEvents();
            const QRect last(rows.last()->mapTo(list->viewport(), QPoint(0, 0)), rows.last()->size());
            QVERIFY2(list->viewport()->rect().contains(last), qPrintable(QString("%1 channels").arg(channels)));
            if (channels == 32)
                screenshot(&w, "device-32-channels-end");
        }

        const QString longName = "Night shift: every entrance, gate and loading bay, all sites";
        rig.server.presets.append(QJsonObject{{"id", 2}, {"preset_name", longName}, {"cameras", QJsonArray{5000001}}});
        PresetsDialog presets(AppContext::instance().api, AppContext::instance().user.organisationId, &w);
        presets.show();
        QTRY_COMPARE(presets.list()->count(), 2);
        QListWidget* list = presets.list();
        QCOMPARE(list->item(1)->toolTip(), longName);
        QTRY_COMPARE(list->horizontalScrollBar()->maximum(), 0);
        QVERIFY(!list->horizontalScrollBar()->isVisible());
        const QRect item = list->visualItemRect(list->item(1));
        QVERIFY(item.right() <= list->viewport()->width());
        // What the list paints: the long name shortened within the list.
        QStringList painted;
        for (const screenaudit::PaintedText& t : screenaudit::recordPainting(list->viewport()).texts) {
            QVERIFY2(t.rect.right() <= list->viewport()->width() + 1, qPrintable(t.text));
            painted << t.text;
        }
        const auto shortened = std::find_if(painted.cbegin(), painted.cend(),
                                            [](const QString& t) { return t.startsWith("Night shift"); });
        QVERIFY(shortened != painted.cend() && shortened->endsWith(QChar(0x2026)));
        QVERIFY2(painted.contains("1 camera"), qPrintable(painted.join(" | ")));
        screenshot(&presets, "presets-long-name");
    }
};

KVR_TEST_MAIN(TestShellScreens)

#include "tst_shell_screens.moc"
