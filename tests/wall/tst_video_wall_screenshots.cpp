// Pictures of the wall for a person to look at, on two monitors of an X
// server of this suite's own: the set-up dialog with cameras on both
// displays, and a running display window with its control bar. Written to
// build/screenshots/; a few pixels are checked where a colour is the rule.

#include "tests/wall/VideoWallTestKit.h"

#include "app/ui/Theme.h"
#include "wall/Config.h"
#include "wall/Controller.h"
#include "wall/DisplayWindow.h"
#include "wall/LayoutPreview.h"
#include "wall/Screens.h"
#include "wall/SetupDialog.h"

#include <QDir>
#include <QPushButton>
#include <QScreen>

using namespace kvr::ui;
using namespace kvr::wall;

using namespace VideoWall;
using walltest::screenNamed;

class TestWallScreenshots : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(QStringLiteral(KVR_SCREENSHOT_DIR)));
        Theme::useProgramFont();
    }

    void setupDialogAndRunningDisplay()
    {
        QList<Camera> cams = walltest::someCameras(8);
        cams.append({"lobby", "Lobby entrance", "Reception camera", "Annexe", true});
        auto src = std::make_shared<walltest::TestSource>(QStringLiteral("shots"), cams);
        src->m_style = Theme::appStyle()
            + QStringLiteral("QLabel#TestTile { background: #11161d; border: 1px solid #1b2330; border-radius: 10px;"
                             " color: #cfd6e2; font-size: 18px; font-weight: 600; }");
        const ScreenConfig left{screenKey(screenNamed("L")), "", true, "2x2", {"cam1", "cam2", "", ""}};
        const ScreenConfig right{
            screenKey(screenNamed("R")), "", true, "1+5", {"cam3", "cam4", "cam5", "", "lobby", "gone"}};
        save(src->id(), Config{{left, right}});

        SetupDialog dialog(src);
        dialog.move(60, 60);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.selectedKey(), right.key);
        QTest::mouseMove(dialog.preview(), dialog.preview()->cellRect(1).center().toPoint());
        QTest::qWait(50);
        const QImage setup = dialog.grab().toImage();
        QVERIFY(setup.save(QStringLiteral(KVR_SCREENSHOT_DIR "/wall-setup.png")));
        QCOMPARE(setup.pixelColor(setup.width() - 4, setup.height() - 4), Theme::colour(Theme::Colour::Backdrop));
        const QRectF empty = dialog.preview()->cellRect(3);
        const QPoint inEmpty = dialog.preview()->mapTo(&dialog, empty.topLeft().toPoint() + QPoint(30, 30));
        QCOMPARE(setup.pixelColor(inEmpty), Theme::colour(Theme::Colour::Field));
        const QPoint inFilled =
            dialog.preview()->mapTo(&dialog, dialog.preview()->cellRect(2).topLeft().toPoint() + QPoint(30, 12));
        QCOMPARE(setup.pixelColor(inFilled), Theme::colour(Theme::Colour::Tint));

        dialog.startButton()->click();
        DisplayWindow* window = Controller::instance()->windowFor(screenNamed("R"));
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->showBar();
        QTest::qWait(50);
        const QImage display = window->grab().toImage();
        QVERIFY(display.save(QStringLiteral(KVR_SCREENSHOT_DIR "/video-wall-display.png")));
        QCOMPARE(display.pixelColor(window->cells().at(3)->geometry().center()),
                 Theme::colour(Theme::Colour::Backdrop));
        QCOMPARE(display.pixelColor(1, 1079), Theme::colour(Theme::Colour::Black));
        Controller::instance()->stop();
    }
};

int main(int argc, char** argv)
{
    return walltest::runOnTwoMonitors(argc, argv, "TestWallScreenshots", 1080, [&](walltest::VirtualDisplay&) {
        TestWallScreenshots tc;
        return QTest::qExec(&tc, argc, argv);
    });
}

#include "tst_video_wall_screenshots.moc"
