// What needs a real X server, one of this suite's own: displays plugged in
// and unplugged (monitors added and removed with xrandr, which Qt reports as
// screens coming and going) while the wall runs and while its set-up dialog
// is open, and a cell dragged inside the layout preview by the platform's
// own drag and drop.

#include "tests/wall/WallTestKit.h"

#include "wall/Config.h"
#include "wall/Controller.h"
#include "wall/DisplayWindow.h"
#include "wall/LayoutPreview.h"
#include "wall/Screens.h"
#include "wall/SetupDialog.h"
#include "wall/SetupRules.h"

#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>

#include <cstdio>

using namespace VideoWall;
using walltest::TestSource;

namespace {

QScreen* screenNamed(const QString& name)
{
    for (QScreen* s : QGuiApplication::screens())
        if (s->name() == name)
            return s;
    return nullptr;
}

ScreenConfig wallOn(const QString& key, const QString& ids)
{
    ScreenConfig s;
    s.key = key;
    s.layout = QStringLiteral("2x2");
    s.cells = QList<QString>(ids.split(QLatin1Char(',')));
    return s;
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
    void initTestCase();
    void cleanup();
    void unplugClosesTheWindowOfThatDisplay();
    void theOnlyDisplayComesAndGoes();
    void dialogFollowsDisplays();
    void cellDragInsideThePreview();

private:
    walltest::VirtualDisplay& m_display;
};

void TestWallX11::initTestCase()
{
    QCOMPARE(QGuiApplication::screens().size(), 2);
    QVERIFY(screenNamed("L") && screenNamed("R"));
}

void TestWallX11::cleanup()
{
    Controller::instance()->stop();
    setIdentityReader({});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (!screenNamed("R"))
        QVERIFY(m_display.addMonitor("R", QRect(1920, 0, 1920, 1080), false));
    QTRY_VERIFY(screenNamed("R"));
}

void TestWallX11::unplugClosesTheWindowOfThatDisplay()
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
    QSignalSpy running(c, &Controller::runningChanged);

    // Once R has gone, its key would read as L's: the window must go by the
    // display itself.
    QVERIFY(m_display.removeMonitor("R"));
    QTRY_VERIFY(!rightWindow);
    QVERIFY(leftWindow && leftWindow->isVisible());
    QCOMPARE(c->windowCount(), 1);
    QCOMPARE(running.size(), 1);
    QCOMPARE(running.last().first().toBool(), true);
    QVERIFY(!src->runningIds.contains("c"));
    QVERIFY(src->runningIds.contains("a"));

    src->calls.clear();
    QVERIFY(m_display.addMonitor("R", QRect(1920, 0, 1920, 1080), false));
    QTRY_COMPARE(c->windowCount(), 2);
    QVERIFY(c->windowFor(screenNamed("R")));
    QCOMPARE(c->windowFor(screenNamed("R"))->screenConfig().key, right);
    QTRY_COMPARE(src->callsStarting("start"), QStringList{"start c main"});
    QCOMPARE(running.last().first().toBool(), true);
}

void TestWallX11::theOnlyDisplayComesAndGoes()
{
    const QString right = screenKey(screenNamed("R"));
    auto src = std::make_shared<TestSource>();
    Controller* c = Controller::instance();
    c->start(src, Config{{wallOn(right, "a,,,")}});
    QCOMPARE(c->windowCount(), 1);
    QSignalSpy running(c, &Controller::runningChanged);

    QVERIFY(m_display.removeMonitor("R"));
    QTRY_COMPARE(c->windowCount(), 0);
    QCOMPARE(running.size(), 1);
    QCOMPARE(running.first().first().toBool(), true); // the wall runs on, with no window
    QVERIFY(c->isRunning());

    QVERIFY(m_display.addMonitor("R", QRect(1920, 0, 1920, 1080), false));
    QTRY_COMPARE(c->windowCount(), 1);
    QCOMPARE(running.size(), 2);

    // Idle: a display coming back changes nothing.
    c->stop();
    QVERIFY(m_display.removeMonitor("R"));
    QTRY_VERIFY(!screenNamed("R"));
    QVERIFY(m_display.addMonitor("R", QRect(1920, 0, 1920, 1080), false));
    QTRY_VERIFY(screenNamed("R"));
    QCoreApplication::processEvents();
    QCOMPARE(c->windowCount(), 0);
}

void TestWallX11::dialogFollowsDisplays()
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
    QCOMPARE(dialog.config().find(right)->cells.at(1), QStringLiteral("cam2"));
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

void TestWallX11::cellDragInsideThePreview()
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
    QCOMPARE(preview->selectedCell(), 2);
}

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("TestWallX11");
    walltest::VirtualDisplay display;
    QString why;
    if (!display.start(3840, 1600, &why) || !display.addMonitor("L", QRect(0, 0, 1920, 1080), true)
        || !display.addMonitor("R", QRect(1920, 0, 1920, 1080), false)) {
        std::fprintf(stderr, "FAIL! no virtual display for the hot-plug cases: %s\n", qPrintable(why));
        return 1;
    }
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTEST_SET_MAIN_SOURCE_PATH
    TestWallX11 tc(display);
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_wall_x11.moc"
