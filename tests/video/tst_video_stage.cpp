#include "tests/support/TestKit.h"
#include "tests/video/YuvTestFrames.h"
#include "video/GpuVideoView.h"
#include "video/VideoStage.h"

#include <QOpenGLContext>
#include <QScreen>
#include <QSignalSpy>

using namespace yuvtest;

namespace {

const QColor kBackdropColour(0x0b, 0x0f, 0x14);

// Mouse events through the stage's window, as the window system delivers
// them (so children's transparency counts), without moving the shared
// pointer of a display that other test processes may use at the same time.
void moveOver(QWidget* w, QPoint p)
{
    QTest::mouseMove(w->window()->windowHandle(), w->mapTo(w->window(), p));
}

void doubleClickOn(QWidget* w, QPoint p)
{
    QTest::mouseDClick(w->window()->windowHandle(), Qt::LeftButton, Qt::NoModifier, w->mapTo(w->window(), p));
}

QImage solid(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

} // namespace

class TestVideoStage : public QObject {
    Q_OBJECT

    std::unique_ptr<VideoStage> stage;

    VideoStage* shownStage(int w = 640, int h = 360)
    {
        stage = std::make_unique<VideoStage>();
        stage->resize(w, h);
        stage->show();
        if (!QTest::qWaitForWindowExposed(stage.get()))
            return nullptr;
        return stage.get();
    }

private Q_SLOTS:
    void cleanup() { stage.reset(); }

    // Fit, cover and the unscaled case are checked on screen below; here the
    // sizes a screen of ratio 1 cannot show.
    void pictureGeometryAtOtherRatios()
    {
        // A 2556 × 1440 picture at ratio 2 is 1278 × 720 device-independent
        // pixels: within 3 pixels of the widget, so drawn unscaled at x = 1.
        QImage hiDpi(2556, 1440, QImage::Format_RGB32);
        hiDpi.setDevicePixelRatio(2.0);
        const QSize logical = hiDpi.deviceIndependentSize().toSize();
        const QRect placed = VideoStage::pictureRect(logical, QSize(1280, 720), false);
        QCOMPARE(placed, QRect(1, 0, 1278, 720));
        QVERIFY(VideoStage::drawsUnscaled(logical, placed.size()));
        QVERIFY(!VideoStage::drawsUnscaled(QSize(1277, 720), QSize(1280, 720)));
        QVERIFY(VideoStage::pictureRect(QSize(0, 10), QSize(100, 100), false).isEmpty());
        // Sizes in device pixels round halves away from zero.
        QCOMPARE(VideoStage::devicePixelSize(QSize(101, 50), 1.5), QSize(152, 75));
        QCOMPARE(VideoStage::devicePixelSize(QSize(3, 5), 0.5), QSize(2, 3));
        QCOMPARE(VideoStage::devicePixelSize(QSize(640, 360), 2.0), QSize(1280, 720));
    }

    void spinnerTurnsOnlyWhileLoadingWithoutAPicture()
    {
        VideoStage s;
        auto state = [&] {
            return QStringLiteral("%1|%2|%3").arg(s.headlineText(), s.detailText()).arg(s.spinnerRunning());
        };
        QCOMPARE(state(), QStringLiteral("Loading||1"));
        s.setFrame(solid(64, 36, Qt::red));
        QCOMPARE(state(), QStringLiteral("||0"));
        s.setMessage(QStringLiteral("Loading"), QString());
        QCOMPARE(state(), QStringLiteral("Loading||1"));
        QVERIFY(s.currentFrame().isNull());
        s.setMessage(QStringLiteral("Can’t play this stream"), QStringLiteral("HTTP 404"));
        QCOMPARE(state(), QStringLiteral("Can’t play this stream|HTTP 404|0"));
        s.clear();
        QCOMPARE(state(), QStringLiteral("||0"));
    }

    // A 4:3 picture is pillar-boxed on 16:9, or covers it cropped; the
    // rounded clip keeps the backdrop in the corners; a cleared stage is black.
    void fitCoverAndClear()
    {
        VideoStage* s = shownStage(640, 360);
        QVERIFY(s);
        s->setFrame(solid(400, 300, Qt::red));
        QImage shot = s->grab().toImage();
        QCOMPARE(shot.pixelColor(40, 180), QColor(Qt::black));
        QCOMPARE(shot.pixelColor(320, 2), QColor(Qt::red)); // full height
        s->setCover(true);
        shot = s->grab().toImage();
        QCOMPARE(shot.pixelColor(40, 180), QColor(Qt::red));
        QCOMPARE(shot.pixelColor(0, 0), kBackdropColour);
        QCOMPARE(s->currentFrame().size(), QSize(400, 300));
        s->clear();
        shot = s->grab().toImage();
        QCOMPARE(shot.pixelColor(639, 359), kBackdropColour);
        for (QPoint p : {QPoint(320, 180), QPoint(20, 180), QPoint(320, 5)})
            QCOMPARE(shot.pixelColor(p), QColor(Qt::black));
        // Its size is reported in device pixels.
        QSignalSpy sized(s, &VideoStage::pixelSizeChanged);
        s->resize(500, 400);
        QTRY_VERIFY(!sized.isEmpty());
        QCOMPARE(sized.last().at(0).toSize(), VideoStage::devicePixelSize(QSize(500, 400), s->devicePixelRatioF()));
    }

    // A picture two pixels narrower than the widget is drawn as it is: its
    // columns are not smeared by a rescale.
    void nearlyFittingPictureIsDrawnUnscaled()
    {
        VideoStage* s = shownStage(640, 360);
        QVERIFY(s);
        s->setCornerRadius(0);
        QImage stripes(638, 360, QImage::Format_RGB32);
        for (int x = 0; x < 638; ++x)
            for (int y = 0; y < 360; ++y)
                stripes.setPixel(x, y, x % 2 ? 0xffffffff : 0xff000080);
        s->setFrame(stripes);
        const QImage shot = s->grab().toImage();
        QList<QColor> row; // x = 1 is the picture's first column
        for (int x : {0, 1, 2, 300, 301})
            row << shot.pixelColor(x, 100);
        QCOMPARE(row, (QList<QColor>{Qt::black, QColor(0, 0, 0x80), Qt::white, Qt::white, QColor(0, 0, 0x80)}));
    }

    // Moving to a display of another pixel ratio reports the new size in
    // device pixels, though the widget keeps its size.
    void movingToADenserDisplayReportsTheNewSize()
    {
        const QList<QScreen*> screens = QGuiApplication::screens();
        if (screens.size() < 2 || screens.at(0)->devicePixelRatio() == screens.at(1)->devicePixelRatio())
            QSKIP("runs on two displays of different pixel ratios (see CMakeLists.txt)");
        QWidget top;
        top.setScreen(screens.at(0));
        top.move(screens.at(0)->geometry().topLeft() + QPoint(10, 10));
        auto* s = new VideoStage(&top);
        s->resize(400, 320);
        top.resize(400, 320);
        QSignalSpy sized(s, &VideoStage::pixelSizeChanged);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        const qreal before = s->devicePixelRatioF();
        sized.clear();
        QScreen* other = screens.at(1);
        top.setScreen(other);
        top.move(other->geometry().topLeft() + QPoint(10, 10));
        QTRY_VERIFY(!sized.isEmpty());
        QVERIFY(s->devicePixelRatioF() != before);
        QCOMPARE(s->size(), QSize(400, 320));
        QCOMPARE(sized.last().at(0).toSize(), VideoStage::devicePixelSize(QSize(400, 320), other->devicePixelRatio()));
    }

    // YUV pictures go to the GPU child, and the shown picture is what it drew,
    // not the last RGB picture; an RGB picture takes over again.
    void yuvPicturesDrawOnTheChild()
    {
        if (!QOpenGLContext().create())
            QSKIP("no OpenGL on this display");
        VideoStage* s = shownStage(640, 360);
        QVERIFY(s);
        s->setFrame(solid(640, 360, Qt::red));
        s->setYuvFrame(nullptr);
        QVERIFY(!s->isGpuActive());
        s->setYuvFrame(plain(Qt::green, YuvFrame::kThreePlanes, 64, 36));
        auto* child = s->findChild<GpuVideoView*>();
        QVERIFY(child);
        const auto state = [&] {
            return QString::asprintf("gpu %d shown %d fits %d", s->isGpuActive(), child->isVisible(),
                                     child->geometry() == s->rect());
        };
        QVERIFY(s->headlineText().isEmpty());
        QCOMPARE(state(), QStringLiteral("gpu 1 shown 1 fits 1"));
        QTRY_VERIFY_WITH_TIMEOUT(child->isValid(), 5000);
        QImage shown = s->currentFrame();
        QVERIFY2(near(shown.pixelColor(shown.width() / 2, shown.height() / 2), Qt::green, 4),
                 qPrintable(describe(shown.pixelColor(shown.width() / 2, shown.height() / 2))));

        // The child lets the mouse through to the stage.
        QSignalSpy moved(s, &VideoStage::activity);
        QSignalSpy doubled(s, &VideoStage::doubleClicked);
        moveOver(s, QPoint(200, 100));
        moveOver(s, QPoint(210, 120));
        QTRY_VERIFY(!moved.isEmpty());
        doubleClickOn(s, QPoint(300, 150));
        QCOMPARE(doubled.size(), 1);

        s->resize(320, 320);
        QCOMPARE(state(), QStringLiteral("gpu 1 shown 1 fits 1"));
        s->setFrame(solid(64, 36, Qt::blue));
        QCOMPARE(state(), QStringLiteral("gpu 0 shown 0 fits 1"));
        QCOMPARE(s->currentFrame().pixelColor(5, 5), QColor(Qt::blue));
        s->setMessage(QStringLiteral("Loading"), QString());
        QVERIFY(s->currentFrame().isNull());
    }

    void gpuFailureFallsBackToTheProcessor()
    {
        if (!qEnvironmentVariableIsSet("KVR_TEST_GPU_FAIL"))
            QSKIP("runs in its own process with KVR_TEST_GPU_FAIL set");
        if (!QOpenGLContext().create())
            QSKIP("no OpenGL on this display");
        VideoStage* s = shownStage(640, 360);
        QVERIFY(s);
        kvrtest::LogCapture log;
        QSignalSpy failed(s, &VideoStage::gpuUnavailable);
        s->setYuvFrame(plain(Qt::green, YuvFrame::kThreePlanes, 64, 36));
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 5000);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("simulated failure"));
        QVERIFY(log.contains(QStringLiteral("[render] graphics chip not usable for this view: simulated failure")));
        auto* child = s->findChild<GpuVideoView*>();
        QVERIFY(child);
        const auto state = [&] {
            return QString::asprintf("disabled %d gpu %d shown %d", s->isGpuDisabled(), s->isGpuActive(),
                                     child->isVisible());
        };
        QCOMPARE(state(), QStringLiteral("disabled 1 gpu 0 shown 0"));
        // Later YUV pictures change nothing; RGB pictures are drawn.
        s->setMessage(QStringLiteral("Reconnecting"), QString());
        s->setYuvFrame(plain(Qt::green, YuvFrame::kThreePlanes, 64, 36));
        QCOMPARE(state(), QStringLiteral("disabled 1 gpu 0 shown 0"));
        QCOMPARE(s->headlineText(), QStringLiteral("Reconnecting"));
        s->setFrame(solid(640, 360, Qt::red));
        QCOMPARE(s->grab().toImage().pixelColor(320, 180), QColor(Qt::red));
        QCOMPARE(failed.size(), 1);
    }
};

KVR_TEST_MAIN(TestVideoStage)
#include "tst_video_stage.moc"
