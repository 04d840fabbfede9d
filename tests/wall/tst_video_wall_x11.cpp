// What needs a real X server, one of this suite's own: displays plugged in
// and unplugged (monitors added and removed with xrandr, which Qt reports as
// screens coming and going) while the wall runs and while its set-up dialog
// is open, and a cell dragged inside the layout preview by the platform's
// own drag and drop.

#include "tests/wall/VideoWallTestKit.h"

#include "wall/Config.h"
#include "wall/Controller.h"
#include "wall/DisplayWindow.h"
#include "wall/LayoutPreview.h"
#include "wall/Screens.h"
#include "wall/SetupDialog.h"
#include "wall/SetupRules.h"

#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>

using namespace kvr::wall;

using namespace VideoWall;
using namespace VideoWall::SetupRules;
using walltest::TestSource;

using walltest::screenNamed;

namespace {

const QRect kRight(1920, 0, 1920, 1080);

ScreenConfig wallOn(const QString& key, const QString& ids)
{
    return ScreenConfig{key, QString(), true, QStringLiteral("2x2"), QList<QString>(ids.split(QLatin1Char(',')))};
}

void dropCamera(LayoutPreview* preview, int cell, const QString& id)
{
    QMimeData data;
    data.setData(kCameraMime, cameraPayload({id}));
    walltest::dragAndDrop(preview, preview->cellRect(cell).center(), data);
}

} // namespace

class TestWallX11 : public QObject {
    Q_OBJECT
public:
    explicit TestWallX11(walltest::VirtualDisplay& display) : m_display(display) {}

private Q_SLOTS:
    void cleanup()
    {
        Controller::instance()->stop();
        setIdentityReader({});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!screenNamed("R"))
            QVERIFY(m_display.addMonitor("R", kRight, false));
        QTRY_VERIFY(screenNamed("R"));
    }

    void unplugClosesTheWindowOfThatDisplay()
    {
        // Two displays of one make and model: their keys differ only by place.
        setIdentityReader([](QScreen*) { return QStringLiteral("Acme|M27|SN|"); });
        const QString left = screenKey(screenNamed("L"));
        const QString right = screenKey(screenNamed("R"));
        QCOMPARE(right, left + "#2");

        auto src = std::make_shared<TestSource>();
        Controller* c = Controller::instance();
        c->start(src, Config{{wallOn(left, "a,b,,"), wallOn(right, "c,,,")}});
        QPointer<DisplayWindow> leftWindow = c->windowFor(screenNamed("L"));
        QPointer<DisplayWindow> rightWindow = c->windowFor(screenNamed("R"));
        QVERIFY(leftWindow && rightWindow);

        // Once R has gone, its key would read as L's: the window must go by the
        // display itself.
        QVERIFY(m_display.removeMonitor("R"));
        QTRY_VERIFY(!rightWindow);
        QVERIFY(leftWindow && leftWindow->isVisible());
        QCOMPARE(c->windowCount(), 1);
        QVERIFY(!src->runningIds.contains("c") && src->runningIds.contains("a"));

        src->calls.clear();
        QVERIFY(m_display.addMonitor("R", kRight, false));
        QTRY_COMPARE(c->windowCount(), 2);
        QCOMPARE(c->windowFor(screenNamed("R"))->screenConfig().key, right);
        QTRY_COMPARE(src->calls.filter(u"start "), QStringList{"start c main"});
    }

    void theOnlyDisplayComesAndGoes()
    {
        Controller* c = Controller::instance();
        c->start(std::make_shared<TestSource>(), Config{{wallOn(screenKey(screenNamed("R")), "a,,,")}});
        QSignalSpy running(c, &Controller::runningChanged);

        QVERIFY(m_display.removeMonitor("R"));
        QTRY_COMPARE(c->windowCount(), 0);
        QVERIFY(c->isRunning()); // the wall runs on, with no window
        QVERIFY(m_display.addMonitor("R", kRight, false));
        QTRY_COMPARE(c->windowCount(), 1);
        QCOMPARE(running.size(), 2);
        QVERIFY(running.first().first().toBool() && running.last().first().toBool());

        // Idle: a display coming back changes nothing.
        c->stop();
        QVERIFY(m_display.removeMonitor("R"));
        QTRY_VERIFY(!screenNamed("R"));
        { // The one display left is the set-up dialog's own.
            SetupDialog alone(std::make_shared<TestSource>(QStringLiteral("alone")));
            QCOMPARE(alone.selectedKey() + alone.note()->text(),
                     screenKey(screenNamed("L")) + editorNote(DisplayPlace::ThisWindow));
        }
        QVERIFY(m_display.addMonitor("R", kRight, false));
        QTRY_VERIFY(screenNamed("R"));
        QCoreApplication::processEvents();
        QCOMPARE(c->windowCount(), 0);
    }

    void dialogFollowsDisplays()
    {
        auto src = std::make_shared<TestSource>(QStringLiteral("hotplug"), walltest::someCameras(4));
        SetupDialog dialog(src);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QString right = screenKey(screenNamed("R"));
        dialog.selectScreen(right);
        QCOMPARE(dialog.preview()->screen()->key, right);

        // Displays plugged in while the preview shows R grow the list it lives in.
        const QStringList extra{"X1", "X2", "X3", "X4", "X5"};
        for (int i = 0; i < extra.size(); ++i)
            QVERIFY(m_display.addMonitor(extra.at(i), QRect(i * 700, 1080, 700, 500), false));
        QTRY_COMPARE(dialog.config().screens.size(), 7);
        dropCamera(dialog.preview(), 1, "cam2");
        QCOMPARE(load("hotplug").find(right)->cells.at(1), QStringLiteral("cam2"));
        for (const QString& name : extra)
            QVERIFY(m_display.removeMonitor(name));

        // R unplugged: still edited, now as a remembered display that can be
        // forgotten.
        QVERIFY(m_display.removeMonitor("R"));
        QTRY_VERIFY(dialog.forgetButton()->isVisibleTo(&dialog));
        QVERIFY(dialog.heading()->text().endsWith(QStringLiteral("not connected")));
        QVERIFY(dialog.note()->text().startsWith(QStringLiteral("This display isn't connected.")));
        dialog.forgetButton()->click();
        QVERIFY(!dialog.config().find(right));
        QVERIFY(!load("hotplug").find(right));
        const QString primary = screenKey(QGuiApplication::primaryScreen());
        QCOMPARE(dialog.selectedKey(), primary);
        dropCamera(dialog.preview(), 0, "cam3");
        QCOMPARE(dialog.config().find(primary)->cells.at(0), QStringLiteral("cam3"));
    }

    void cellDragInsideThePreview()
    {
        auto src = std::make_shared<TestSource>(QStringLiteral("drag"), walltest::someCameras(4));
        SetupDialog dialog(src);
        dialog.move(100, 100);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        LayoutPreview* preview = dialog.preview();
        const QString key = preview->screenKey();
        preview->screen()->cells = {"cam1", "", "cam3", ""};

        const QPoint from = preview->cellRect(0).center().toPoint();
        const QPoint to = preview->cellRect(2).center().toPoint();
        // The drag runs its own loop: the pointer moves and lets go from inside it.
        QTimer::singleShot(100, preview, [preview, to] {
            QTest::mouseMove(preview, to - QPoint(5, 0));
            QTest::mouseMove(preview, to);
            QTimer::singleShot(100, preview, [preview, to] { QTest::mouseRelease(preview, Qt::LeftButton, {}, to); });
        });
        QTest::mousePress(preview, Qt::LeftButton, {}, from);
        QTest::mouseMove(preview, from + QPoint(QApplication::startDragDistance() + 4, 0));
        QTRY_COMPARE(QStringList(dialog.config().find(key)->cells).join(','), QStringLiteral("cam3,,cam1,"));
        QCOMPARE(QStringList(load("drag").find(key)->cells).join(','), QStringLiteral("cam3,,cam1,"));
    }

private:
    walltest::VirtualDisplay& m_display;
};

int main(int argc, char** argv)
{
    return walltest::runOnTwoMonitors(argc, argv, "TestWallX11", 1600, [&](walltest::VirtualDisplay& display) {
        TestWallX11 tc(display);
        return QTest::qExec(&tc, argc, argv);
    });
}

#include "tst_video_wall_x11.moc"
