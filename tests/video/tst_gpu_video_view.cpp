#include "app/core/Settings.h"
#include "tests/support/TestKit.h"
#include "tests/video/HeldProbe.h"
#include "tests/video/Peers.h"
#include "tests/video/YuvTestFrames.h"
#include "video/DecodeSettings.h"
#include "video/FfmpegPlayer.h"
#include "video/GpuProbe.h"
#include "video/GpuVideoView.h"
#include "video/VideoStage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>

using namespace kvr::core;
using namespace kvr::video;

using namespace yuvtest;
using probetest::HeldProbe;
using probetest::kChipAnswer;

namespace {

// Texture (or shader program) names alive in the share group of every view.
int liveNames(bool programs = false)
{
    QOpenGLContext ctx;
    ctx.setShareContext(GpuVideoView::sharedContext());
    if (!ctx.create())
        return -1;
    QOffscreenSurface surface;
    surface.setFormat(ctx.format());
    surface.create();
    if (!ctx.makeCurrent(&surface))
        return -1;
    QOpenGLFunctions* gl = ctx.functions();
    int live = 0;
    for (GLuint name = 1; name < 4096; ++name)
        live += (programs ? gl->glIsProgram(name) : gl->glIsTexture(name)) ? 1 : 0;
    ctx.doneCurrent();
    return live;
}

int liveTextures()
{
    return liveNames();
}

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

// What the stage paints itself, its children left out.
QColor stageOwnMiddle(VideoStage* s)
{
    QImage own(s->size(), QImage::Format_ARGB32_Premultiplied);
    own.fill(Qt::transparent);
    s->render(&own, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return own.pixelColor(own.width() / 2, own.height() / 2);
}

} // namespace

// The GPU view, the video stage that holds it, and the graphics probe.
class TestGpuVideoView : public QObject {
    Q_OBJECT

    std::optional<bool> glAvailable; // asked by the first case that draws with OpenGL
    std::unique_ptr<QWidget> host;
    QPointer<GpuVideoView> view;

    // A view in a shown window of 64 × 48 pixels; with `ready`, once it can draw.
    GpuVideoView* shownView(QRect geometry = QRect(0, 0, 64, 48), bool ready = true)
    {
        host = std::make_unique<QWidget>();
        host->resize(64, 48);
        view = new GpuVideoView(host.get());
        view->setGeometry(geometry);
        host->show();
        if (!QTest::qWaitForWindowExposed(host.get()))
            return nullptr;
        QElapsedTimer waited;
        waited.start();
        while (ready && (!view->isValid() || !GpuVideoView::drawingReady()) && waited.elapsed() < 30000)
            QTest::qWait(10);
        return !ready || (view->isValid() && GpuVideoView::drawingReady()) ? view.data() : nullptr;
    }

    std::unique_ptr<VideoStage> stage;

    VideoStage* shownStage(int w = 640, int h = 360)
    {
        stage = std::make_unique<VideoStage>();
        stage->resize(w, h);
        stage->show();
        if (!QTest::qWaitForWindowExposed(stage.get()))
            return nullptr;
        // Where its window was made for the chip: once the views draw in the
        // shared context.
        if (stage->findChild<GpuVideoView*>() && !QTest::qWaitFor([] { return GpuVideoView::drawingReady(); }, 30000))
            return nullptr;
        return stage.get();
    }

    // Gives `s` the picture as a player does, once a turn of the event loop,
    // until its child draws (the first child in a window shows from a later
    // turn than the picture that made it) or fails; the child.
    static GpuVideoView* onTheChip(VideoStage* s, const std::shared_ptr<const YuvFrame>& picture)
    {
        for (int turn = 0; turn < 500 && !s->isGpuActive() && !s->isGpuDisabled(); ++turn) {
            s->setYuvFrame(picture);
            if (!s->isGpuActive())
                QTest::qWait(10);
        }
        return s->findChild<GpuVideoView*>();
    }

    // The probe's answer, the event loop running until it comes.
    static std::optional<GpuProbe> probed()
    {
        if (!GpuProbe::start())
            return std::nullopt;
        if (!QTest::qWaitFor([] { return GpuProbe::known().has_value(); }, 60000))
            return std::nullopt;
        return GpuProbe::known();
    }

private Q_SLOTS:
    // Drawing cases need a display with OpenGL (Xvfb with Mesa in CI); the
    // stage draws RGB pictures on the processor.
    void init()
    {
        const QByteArray withoutGl =
            "destinationFitsOrCovers onlyCompleteRecordsAreDrawable pictureGeometryAtOtherRatios "
            "picturesLookAsThroughARoundedClip "
            "spinnerTurnsOnlyWhileLoadingWithoutAPicture fitCoverAndClear "
            "nearlyFittingPictureIsDrawnUnscaled movingToADenserDisplayReportsTheNewSize "
            "picturesAreNotCopiedForADenserDisplay "
            "softwareRenderersAreRecognised settingAndRendererDecide probesOnceAndLogs cpuTurnsDrawingOff "
            "messagesWrapOrShortenWithATip probeLeavesNoDriverBehind probeAnswersOnTheEventLoop "
            "probeWithoutAnAnswerLeavesTheProcessorDrawing cpuSettingAsksNoOne";
        if (withoutGl.split(' ').contains(QTest::currentTestFunction()))
            return;
        if (!glAvailable) {
            QOpenGLContext probe;
            glAvailable = probe.create();
        }
        if (!*glAvailable)
            QSKIP("no OpenGL on this display");
        // The graphics chip draws here, so a stage's window is made ready for
        // it before it shows, as the program makes it where the chip draws.
        Prefs::set(Prefs::kRenderMode, QStringLiteral("gpu"));
    }

    void cleanup()
    {
        stage.reset();
        host.reset();
        Prefs::remove(Prefs::kRenderMode.name);
    }

    // Nothing makes an OpenGL context before the first view, so a program
    // whose pictures the processor draws never loads the driver; the first
    // view makes the context every view shares with, so views in other
    // windows share textures.
    void firstViewMakesTheSharedContext()
    {
        QVERIFY(!GpuVideoView::sharedContext());
        QVERIFY(shownView());
        QOpenGLContext* shared = GpuVideoView::sharedContext();
        QVERIFY(shared);
        QVERIFY(QOpenGLContext::areSharing(view->context(), shared));
        QVERIFY(QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts));
    }

    void destinationFitsOrCovers()
    {
        QCOMPARE(YuvDraw::destination(QSizeF(1280, 720), QSizeF(1000, 1000), false), QRectF(0, 218.75, 1000, 562.5));
        QCOMPARE(YuvDraw::destination(QSizeF(1280, 720), QSizeF(1000, 1000), true).toRect(),
                 QRect(-389, 0, 1778, 1000));
        QCOMPARE(YuvDraw::destination(QSizeF(100, 200), QSizeF(400, 100), false), QRectF(175, 0, 50, 100));
        QVERIFY(YuvDraw::destination(QSizeF(0, 720), QSizeF(100, 100), false).isEmpty());
        QCOMPARE(YuvDraw::chromaSize(641, 361), QSize(321, 181)); // the last column and row are kept
    }

    void onlyCompleteRecordsAreDrawable()
    {
        const auto good = plain(Qt::red, YuvFrame::kThreePlanes, 33, 17);
        QVERIFY(YuvDraw::isDrawable(*good) && YuvDraw::isDrawable(*plain(Qt::red, YuvFrame::kNv12, 33, 17)));
        const std::function<void(YuvFrame&)> breakages[] = {
            [](YuvFrame& f) { f.planes[2] = nullptr; },           // three planes need the third
            [](YuvFrame& f) { f.strides[0] = 20; },               // rows shorter than the picture
            [](YuvFrame& f) { f.format = 1, f.strides[1] = 17; }, // NV12 rows hold two samples per chroma pixel
            [](YuvFrame& f) { f.format = 7; },
            [](YuvFrame& f) { f.height = 0; },
        };
        for (const auto& breakage : breakages) {
            YuvFrame f = *good;
            breakage(f);
            QVERIFY(!YuvDraw::isDrawable(f));
        }
    }

    // Known colours through each matrix, range and plane layout, read back
    // from the framebuffer. Red and green tell the two matrices apart by more
    // than 20 levels, and a swap of U and V would turn red into blue.
    void coloursMatchTheMatrixAndRange()
    {
        GpuVideoView* v = shownView();
        QVERIFY(v);
        for (int layout : {int(YuvFrame::kThreePlanes), int(YuvFrame::kNv12)})
            for (bool bt709 : {false, true})
                for (bool full : {false, true})
                    for (QColor colour : {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255),
                                          QColor(128, 128, 128), QColor(230, 140, 40)}) {
                        v->setFrame(makeFrame(layout, 64, 48, colour, colour, full, bt709));
                        const QImage image = v->grabFramebuffer();
                        const QColor got = image.pixelColor(32, 24);
                        QVERIFY2(image.size() == QSize(64, 48) && got.alpha() == 255 && near(got, colour, 4),
                                 qPrintable(QStringLiteral("%1 for %2, layout %3, bt709 %4, full %5")
                                                .arg(describe(got), describe(colour))
                                                .arg(layout)
                                                .arg(bt709)
                                                .arg(full)));
                    }
    }

    // The top of the picture is at the top of the view, the chroma rows go
    // with their luma rows, also when rows run upwards in memory (negative
    // strides, as FFmpeg gives for flipped pictures); the corners are rounded
    // and filled with the backdrop.
    void pictureIsUprightWithRoundedCornersOnTheBackdrop()
    {
        GpuVideoView* v = shownView();
        QVERIFY(v);
        for (int layout : {int(YuvFrame::kThreePlanes), int(YuvFrame::kNv12)}) {
            for (bool upwards : {false, true}) {
                const auto stored = makeFrame(layout, 64, 48, Qt::red, Qt::blue, false, true);
                auto frame = std::make_shared<YuvFrame>(*stored);
                for (int i = 0; upwards && i < (layout == YuvFrame::kNv12 ? 2 : 3); ++i) {
                    const int rows = i == 0 ? 48 : YuvDraw::chromaSize(64, 48).height();
                    frame->planes[i] = stored->planes[i] + (rows - 1) * stored->strides[i];
                    frame->strides[i] = -stored->strides[i];
                }
                v->setFrame(frame);
                const QImage image = v->grabFramebuffer();
                const QColor top = image.pixelColor(32, 6), bottom = image.pixelColor(32, 42);
                QVERIFY2(near(top, upwards ? Qt::blue : Qt::red, 4), qPrintable(describe(top)));
                QVERIFY2(near(bottom, upwards ? Qt::red : Qt::blue, 4), qPrintable(describe(bottom)));
                QCOMPARE(image.pixelColor(0, 0), kBackdropColour);
                QCOMPARE(image.pixelColor(63, 47), kBackdropColour);
                QVERIFY(image.pixelColor(32, 0) != kBackdropColour);
            }
        }
    }

    // A change of layout or size at the same view reallocates the textures;
    // an odd size keeps its last chroma column and row. A cleared view draws
    // only the backdrop, and an incomplete record is ignored without failing
    // the view.
    void layoutAndSizeChangesReallocateAndClearEmpties()
    {
        GpuVideoView* v = shownView();
        QVERIFY(v);
        v->setCornerRadius(0);
        v->setFrame(plain(Qt::red));
        QVERIFY(near(v->grabFramebuffer().pixelColor(32, 24), Qt::red, 4));
        v->setFrame(plain(Qt::blue, YuvFrame::kNv12));
        QVERIFY(near(v->grabFramebuffer().pixelColor(32, 24), Qt::blue, 4));
        v->setFrame(plain(Qt::green, YuvFrame::kThreePlanes, 33, 25));
        const QImage image = v->grabFramebuffer();
        QVERIFY(near(image.pixelColor(32, 24), Qt::green, 4));
        QVERIFY2(near(image.pixelColor(56, 40), Qt::green, 6), qPrintable(describe(image.pixelColor(56, 40))));
        v->clearFrame();
        QCOMPARE(v->grabFramebuffer().pixelColor(32, 24), kBackdropColour);
        auto broken = std::make_shared<YuvFrame>(*plain(Qt::red));
        broken->planes[2] = nullptr;
        v->setFrame(broken);
        QCOMPARE(v->grabFramebuffer().pixelColor(32, 24), kBackdropColour);
        QVERIFY(!v->hasFailed());
    }

    // A view destroyed after clearFrame gives its textures back, and one moved
    // to another window and back draws there and leaves none behind.
    void texturesFollowTheView()
    {
        GpuVideoView* moving = shownView();
        QVERIFY(moving);
        QWidget other;
        other.resize(64, 48);
        auto* warm = new GpuVideoView(&other); // the other window's own GL objects exist before counting
        warm->setGeometry(0, 0, 64, 48);
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        QTRY_VERIFY_WITH_TIMEOUT(warm->isValid(), 5000);
        moving->setFrame(plain(Qt::red));
        moving->grabFramebuffer();
        QCoreApplication::processEvents();
        const int before = liveTextures();
        QVERIFY(before > 0);
        for (int round = 0; round < 2; ++round) {
            auto* cleared = new GpuVideoView(host.get());
            cleared->setGeometry(0, 0, 32, 24);
            cleared->show();
            QTRY_VERIFY_WITH_TIMEOUT(cleared->isValid(), 5000);
            cleared->setFrame(plain(Qt::red, YuvFrame::kNv12));
            cleared->grabFramebuffer();
            QVERIFY(liveTextures() >= before + 3);
            cleared->clearFrame();
            delete cleared;

            moving->setParent(round % 2 ? host.get() : &other);
            moving->setGeometry(0, 0, 64, 48);
            moving->show();
            QTRY_VERIFY_WITH_TIMEOUT(moving->isValid(), 5000);
            moving->setFrame(plain(Qt::blue, YuvFrame::kNv12));
            QVERIFY(near(moving->grabFramebuffer().pixelColor(32, 24), Qt::blue, 4));
            QCoreApplication::processEvents();
        }
        QCOMPARE(liveTextures(), before);
    }

    // Pictures for many views within one tick give one repaint per view, and a
    // view that gets several pictures in between repaints once.
    void repaintsAreMergedIntoOneTick()
    {
        host = std::make_unique<QWidget>();
        host->resize(400, 200);
        kvrtest::PaintCounter counter;
        QList<GpuVideoView*> views;
        for (int i = 0; i < 20; ++i) {
            auto* v = new GpuVideoView(host.get());
            v->setGeometry((i % 10) * 40, (i / 10) * 100, 40, 100);
            v->installEventFilter(&counter);
            views << v;
        }
        host->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.get()));
        for (GpuVideoView* v : views)
            QTRY_VERIFY_WITH_TIMEOUT(v->isValid(), 5000);
        // Let the first paints of the new window pass: wait for a quiet spell.
        for (int spell = 0; spell < 20; ++spell) {
            counter.counts.clear();
            QTest::qWait(150);
            if (counter.counts.isEmpty())
                break;
        }
        QVERIFY(counter.counts.isEmpty());

        const auto frame = plain(Qt::red, YuvFrame::kThreePlanes, 40, 100);
        QElapsedTimer sinceFirst;
        sinceFirst.start();
        for (GpuVideoView* v : views)
            for (int k = 0; k < 3; ++k)
                v->setFrame(frame);
        // Nothing repaints before the shared tick.
        QCoreApplication::processEvents();
        if (sinceFirst.elapsed() < 10)
            QVERIFY(counter.counts.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(counter.counts.size() == 20, 2000);
        QTest::qWait(80);
        for (GpuVideoView* v : views)
            QCOMPARE(counter.counts.value(v), 1);
        QVERIFY(near(views.last()->grabFramebuffer().pixelColor(20, 50), Qt::red, 4));
    }

    // A view shown without an area cannot have a surface yet: it is not
    // failed for that, and draws once it gets one.
    void viewWithoutAreaIsNotFailed()
    {
        GpuVideoView* v = shownView(QRect(), false);
        QVERIFY(v);
        QSignalSpy spy(v, &GpuVideoView::unavailable);
        QTest::qWait(600);
        v->setGeometry(0, 0, 64, 48);
        QTRY_VERIFY_WITH_TIMEOUT(v->isValid(), 5000);
        v->setFrame(plain(Qt::red));
        QVERIFY(near(v->grabFramebuffer().pixelColor(32, 24), Qt::red, 4));
        QTest::qWait(300);
        QVERIFY(spy.isEmpty() && !v->hasFailed());
    }

    void simulatedFailureIsAnnounced()
    {
        if (!qEnvironmentVariableIsSet("KVR_TEST_GPU_FAIL"))
            QSKIP("runs in its own process with KVR_TEST_GPU_FAIL set");
        host = std::make_unique<QWidget>();
        auto* v = new GpuVideoView(host.get());
        v->setGeometry(0, 0, 64, 48);
        QSignalSpy spy(v, &GpuVideoView::unavailable);
        host->show();
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 5000);
        QVERIFY(v->hasFailed() && spy.at(0).at(0).toString() == QStringLiteral("simulated failure"));
        v->setFrame(plain(Qt::red));
        QCOMPARE(v->grabFramebuffer().pixelColor(32, 24), kBackdropColour);
        QCOMPARE(spy.size(), 1);
    }

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

    // The stage lays the picture out and rounds it as a rounded clip over the
    // backdrop would, edge blending included: fitted with black bars and
    // covering, at each display's pixel ratio (run on two displays too, see
    // CMakeLists.txt). It paints every pixel itself: a picture repaints the
    // stage alone, once, and never the frame it sits in.
    void picturesLookAsThroughARoundedClip()
    {
        QImage picture(400, 300, QImage::Format_RGB32); // no two corners alike
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x)
                picture.setPixel(x, y, qRgb(x * 255 / 399, y * 255 / 299, (x + y) % 256));
        for (QScreen* screen : QGuiApplication::screens()) {
            QFrame frame;
            frame.setScreen(screen);
            frame.move(screen->geometry().topLeft() + QPoint(10, 10));
            frame.resize(660, 380);
            auto* s = new VideoStage(&frame);
            s->setGeometry(10, 10, 640, 360);
            kvrtest::PaintCounter counter;
            frame.installEventFilter(&counter);
            s->installEventFilter(&counter);
            frame.show();
            QVERIFY(QTest::qWaitForWindowExposed(&frame));
            const qreal ratio = s->devicePixelRatioF();
            for (const auto& [cover, radius] : {std::pair{false, 14}, std::pair{true, 10}, std::pair{false, 400}}) {
                s->setCover(cover);
                s->setCornerRadius(radius);
                s->setFrame(picture);
                QImage expected(QSize(640, 360) * ratio, QImage::Format_ARGB32_Premultiplied);
                expected.setDevicePixelRatio(ratio);
                {
                    QPainter p(&expected);
                    p.setRenderHint(QPainter::Antialiasing);
                    p.setRenderHint(QPainter::SmoothPixmapTransform);
                    p.fillRect(QRect(0, 0, 640, 360), kBackdropColour);
                    QPainterPath rounded;
                    rounded.addRoundedRect(QRectF(0, 0, 640, 360), radius, radius, Qt::AbsoluteSize);
                    p.setClipPath(rounded);
                    p.fillRect(QRect(0, 0, 640, 360), Qt::black);
                    p.drawImage(VideoStage::pictureRect(QSize(400, 300), QSize(640, 360), cover), picture);
                }
                const QImage shot = s->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
                QCOMPARE(shot.size(), expected.size());
                int worst = 0;
                QPoint where;
                for (int y = 0; y < shot.height(); ++y)
                    for (int x = 0; x < shot.width(); ++x) {
                        const QRgb a = shot.pixel(x, y), b = expected.pixel(x, y);
                        const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                                std::abs(qBlue(a) - qBlue(b))});
                        if (d > worst)
                            worst = d, where = QPoint(x, y);
                    }
                // A clip blends a black bar's edge with the backdrop once and a
                // picture's twice; the pieces blend both the same way, which
                // the eye cannot tell apart: a few levels of the dark backdrop.
                QVERIFY2(worst <= 6,
                         qPrintable(QStringLiteral("%1 levels off at (%2, %3), ratio %4, radius %5")
                                        .arg(worst)
                                        .arg(where.x())
                                        .arg(where.y())
                                        .arg(ratio)
                                        .arg(radius)));
            }
            QCoreApplication::processEvents();
            counter.counts.clear();
            for (int i = 0; i < 5; ++i) {
                s->setFrame(picture);
                QTest::qWait(20);
            }
            QCOMPARE(counter.counts.value(s), 5);
            QCOMPARE(counter.counts.value(&frame), 0);
        }
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

    // On a display whose pixel ratio differs from a picture's, the picture
    // is shown from the memory it came in, not from a copy made to carry the
    // ratio: its memory goes only when the stage lets go of the picture.
    void picturesAreNotCopiedForADenserDisplay()
    {
        QScreen* dense = nullptr;
        for (QScreen* screen : QGuiApplication::screens())
            if (screen->devicePixelRatio() > 1.0)
                dense = screen;
        if (!dense)
            QSKIP("runs on a display of pixel ratio 2 (see CMakeLists.txt)");
        QWidget top;
        top.setScreen(dense);
        top.move(dense->geometry().topLeft() + QPoint(10, 10));
        auto* s = new VideoStage(&top);
        top.resize(400, 320);
        s->resize(400, 320);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        QCOMPARE(s->devicePixelRatioF(), dense->devicePixelRatio());
        static int released = 0;
        static uchar pixels[64 * 36 * 4];
        {
            const QImage picture(
                pixels, 64, 36, 64 * 4, QImage::Format_RGB32, [](void*) { ++released; }, nullptr);
            s->setFrame(picture);
        }
        QCOMPARE(released, 0);
        QVERIFY(s->hasPicture());
        s->clear();
        QCOMPARE(released, 1);
    }

    // YUV pictures go to the GPU child, and the shown picture is what it drew,
    // not the last RGB picture; an RGB picture takes over again.
    void yuvPicturesDrawOnTheChild()
    {
        VideoStage* s = shownStage(640, 360);
        QVERIFY(s);
        s->setFrame(solid(640, 360, Qt::red));
        s->setYuvFrame(nullptr);
        QVERIFY(!s->isGpuActive());
        auto* child = onTheChip(s, plain(Qt::green, YuvFrame::kThreePlanes, 64, 36));
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

        // A small widget over the picture (a status dot) repaints without
        // the stage under the child painting.
        auto* dot = new QWidget(s);
        dot->setGeometry(10, 10, 14, 14);
        dot->show();
        QCoreApplication::processEvents();
        kvrtest::PaintCounter counter;
        s->installEventFilter(&counter);
        dot->installEventFilter(&counter);
        for (int i = 0; i < 3; ++i) {
            dot->update();
            QTest::qWait(20);
        }
        QCOMPARE(counter.counts.value(dot), 3);
        QCOMPARE(counter.counts.value(s), 0);
        delete dot;

        s->resize(320, 320);
        QCOMPARE(state(), QStringLiteral("gpu 1 shown 1 fits 1"));
        s->setFrame(solid(64, 36, Qt::blue));
        QCOMPARE(state(), QStringLiteral("gpu 0 shown 0 fits 1"));
        QCOMPARE(s->currentFrame().pixelColor(5, 5), QColor(Qt::blue));
        s->setMessage(QStringLiteral("Loading"), QString());
        QVERIFY(s->currentFrame().isNull());
    }

    // A message wraps at words inside the stage, every line within its
    // width; on a stage too small for all of it the last line is shortened
    // and the whole message becomes the tool tip of whatever takes the
    // stage's mouse, never over a tip of its own.
    void messagesWrapOrShortenWithATip()
    {
        const QString headline = QStringLiteral("Can’t play this stream");
        const QString detail = QStringLiteral("The RTSP port is closed on the device, or a firewall between this "
                                              "computer and the recorder blocks it. Check the port in the device's "
                                              "network settings.");
        QFont font(QStringLiteral("Inter"));
        font.setPixelSize(14);
        const auto fits = [](const QList<VideoStage::MessageLine>& lines, QSize size) {
            for (const VideoStage::MessageLine& l : lines) {
                QFont f(QStringLiteral("Inter"));
                f.setPixelSize(l.headline ? 18 : 13);
                f.setWeight(l.headline ? QFont::DemiBold : QFont::Normal);
                if (!QRect(QPoint(0, 0), size).contains(l.rect)
                    || QFontMetrics(f).horizontalAdvance(l.text) > l.rect.width())
                    return false;
            }
            return true;
        };
        bool shortened = true;
        auto lines = VideoStage::messageLayout(QSize(640, 360), headline, detail, font, &shortened);
        QVERIFY(!shortened && fits(lines, QSize(640, 360)));
        QCOMPARE(lines.first().text, headline);
        // A tile of a four-by-four wall on the smallest window.
        const QSize tile(222, 124);
        lines = VideoStage::messageLayout(tile, headline, detail, font, &shortened);
        QVERIFY(shortened && fits(lines, tile));
        QVERIFY(lines.size() >= 3 && lines.last().text.endsWith(QChar(0x2026)));
        QString shown;
        for (const auto& l : lines)
            shown += l.text + ' ';
        QVERIFY2(shown.contains(QStringLiteral("The RTSP port")), qPrintable(shown));

        // A band lower than a headline line (a tile's name above, its
        // "Try again" below) shows no message at all, rather than one over them.
        lines = VideoStage::messageLayout(QSize(146, 79), headline, detail, font, &shortened, 36, 33);
        QVERIFY(lines.isEmpty() && shortened);
        // The loading ring keeps below what lies over the stage's top, its
        // word below it, and goes where there is no room.
        const QRect ring = VideoStage::spinnerPlace(QSize(146, 79), 36);
        QVERIFY(ring.top() >= 36 && ring.bottom() < 79);
        for (const auto& l : VideoStage::messageLayout(QSize(146, 120), "Loading", QString(), font, &shortened, 36))
            QVERIFY(l.rect.top() > VideoStage::spinnerPlace(QSize(146, 120), 36).bottom());
        QVERIFY(VideoStage::spinnerPlace(QSize(146, 79), 36, 45).isEmpty());
        QCOMPARE(VideoStage::spinnerPlace(QSize(640, 360)), QRect(302, 142, 36, 36));

        QWidget tileWidget;
        tileWidget.resize(tile);
        auto* stage = new VideoStage(&tileWidget);
        stage->setMinimumHeight(60);
        stage->setAttribute(Qt::WA_TransparentForMouseEvents);
        stage->setGeometry(QRect(QPoint(0, 0), tile));
        stage->setMessage(headline, detail);
        QCOMPARE(tileWidget.toolTip(), headline + '\n' + detail);
        QVERIFY(stage->messageShortened() && stage->toolTip().isEmpty());
        stage->setMessage(QStringLiteral("Offline"), QString());
        QVERIFY(!stage->messageShortened() && tileWidget.toolTip().isEmpty());
        tileWidget.setToolTip(QStringLiteral("the tile's own"));
        stage->setMessage(headline, detail);
        QCOMPARE(tileWidget.toolTip(), QStringLiteral("the tile's own"));
    }

    // The message of a tile gives way to what the tile lays over its stage
    // (its name above, "Try again" below): its detail goes first, then the
    // headline takes its short form, and where even that does not fit whole
    // none shows; what does not show is the tile's tool tip and is read by a
    // screen reader. The fuller form comes back when there is room again.
    void messagesGiveWayToWhatLiesOverThem()
    {
        QCOMPARE(VideoStage::shortHeadline("Can’t play this stream"), QString("Can’t play"));
        QCOMPARE(VideoStage::shortHeadline("No video from this camera"), QString("No video"));
        QCOMPARE(VideoStage::shortHeadline("Playback isn’t available"), QString("No playback"));
        QCOMPARE(VideoStage::shortHeadline("End of recording"), QString("Ended"));
        QCOMPARE(VideoStage::shortHeadline("Offline"), QString("Offline"));

        const QString headline = QStringLiteral("Can’t play this stream");
        const QString detail = QStringLiteral("The device's answer could not be played. Check the brand and the RTSP "
                                              "port.");
        QWidget tile;
        tile.setFont(QFont(QStringLiteral("Inter")));
        auto* stage = new VideoStage(&tile);
        stage->setMinimumHeight(60);
        stage->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* name = new QWidget(&tile); // laid over the stage, as a tile's name badge
        auto* retry = new QWidget(&tile);
        const auto place = [&](QSize size) {
            tile.resize(size);
            stage->setGeometry(QRect(QPoint(0, 0), size));
            name->setGeometry(10, 10, std::min(200, size.width() - 20), 22);
            retry->setGeometry((size.width() - 90) / 2, size.height() - 38, 90, 30);
            stage->fitMessage();
        };
        tile.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tile));
        const auto shown = [stage] { return stage->headlineText() + '|' + stage->detailText(); };
        const auto clear = [&](const QString& at) {
            for (const VideoStage::MessageLine& l : stage->messageLines()) {
                const QRect r = l.rect.translated(stage->pos());
                if (r.intersects(name->geometry()) || (retry->isVisible() && r.intersects(retry->geometry())))
                    return at + ": '" + l.text + "' under what lies over the stage";
            }
            return QString();
        };

        place(QSize(640, 360));
        stage->sayWithin(headline, detail);
        QCOMPARE(shown(), headline + '|' + detail);
        QVERIFY(!stage->messageShortened() && tile.toolTip().isEmpty());
        QCOMPARE(stage->accessibleDescription(), headline + ": " + detail);

        // A tile of a wall of sixteen in a small window: the headline alone.
        place(QSize(222, 124));
        QCOMPARE(shown(), headline + '|');
        QVERIFY(!stage->messageShortened());
        QCOMPARE(tile.toolTip(), headline + '\n' + detail);
        QCOMPARE(stage->accessibleDescription(), headline + ": " + detail);
        QCOMPARE(clear("222 px"), QString());

        // Narrower, the headline on two lines.
        place(QSize(150, 124));
        QCOMPARE(shown(), headline + '|');
        QCOMPARE(clear("150 x 124 px"), QString());
        // Room for one line: the short headline, whole.
        place(QSize(150, 100));
        QCOMPARE(shown(), QString("Can’t play|"));
        QVERIFY(!stage->messageShortened());
        QCOMPARE(clear("150 x 100 px"), QString());
        for (const VideoStage::MessageLine& l : stage->messageLines())
            QVERIFY2(!l.text.contains(QChar(0x2026)), qPrintable(l.text));

        // No band left between name and "Try again": nothing, read in the tip.
        place(QSize(150, 84));
        QVERIFY(stage->messageLines().isEmpty());
        QVERIFY(stage->messageShortened());
        QCOMPARE(tile.toolTip(), headline + '\n' + detail);

        // "Try again" goes: room again for the headline.
        retry->hide();
        stage->fitMessage();
        QVERIFY(!stage->messageLines().isEmpty());
        QCOMPARE(clear("84 px without Try again"), QString());
        QVERIFY(stage->markRect().isEmpty());

        // Too low for a line of it, yet with room for its mark below the
        // name: the mark stands there, the words in the tip.
        place(QSize(150, 56));
        QVERIFY(stage->messageLines().isEmpty());
        const QRect mark = stage->markRect();
        QVERIFY2(
            !mark.isEmpty() && stage->rect().contains(mark) && !mark.intersects(name->geometry()),
            qPrintable(
                QStringLiteral("%1x%2 at %3,%4").arg(mark.width()).arg(mark.height()).arg(mark.x()).arg(mark.y())));
        QCOMPARE(tile.toolTip(), headline + '\n' + detail);
        QCOMPARE(stage->accessibleDescription(), headline + ": " + detail);

        // Back on a large tile the whole message shows, and a message said
        // as it is (not giving way) keeps to the rule of shortening.
        place(QSize(640, 360));
        QCOMPARE(shown(), headline + '|' + detail);
        QVERIFY(tile.toolTip().isEmpty());
        place(QSize(150, 124));
        stage->setMessage(headline, detail);
        QCOMPARE(shown(), headline + '|' + detail);
        QCOMPARE(stage->saidHeadline(), headline);
    }

    // What reaches the screen: the window system shows the view's own pixels
    // in place of whatever lies beneath it, so the rounded corners must carry
    // the backdrop themselves. Read back from the display, not from the view.
    void roundedCornersShowTheBackdropOnScreen()
    {
        VideoStage* s = shownStage(320, 180);
        QVERIFY(s);
        auto* child = onTheChip(s, plain(Qt::green, YuvFrame::kThreePlanes, 320, 180));
        QVERIFY(child);
        QTRY_VERIFY_WITH_TIMEOUT(child->isValid(), 5000);
        const auto onScreen = [s] { return s->screen()->grabWindow(s->winId()).toImage(); };
        const auto middleIsGreen = [&] {
            const QImage shot = onScreen();
            return !shot.isNull() && near(shot.pixelColor(shot.width() / 2, shot.height() / 2), Qt::green, 6);
        };
        QTRY_VERIFY_WITH_TIMEOUT(middleIsGreen(), 5000);
        const QImage shot = onScreen();
        const int right = shot.width() - 1, bottom = shot.height() - 1;
        for (const QPoint corner : {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)})
            QVERIFY2(near(shot.pixelColor(corner), kBackdropColour, 2), qPrintable(describe(shot.pixelColor(corner))));
        // Inside the rounding, the picture itself.
        QVERIFY(near(shot.pixelColor(14, shot.height() / 2), Qt::green, 6));
    }

    // A window made ready for the chip composes a texture drawn with OpenGL
    // from its first frame on (the window's own drawing of one is prepared
    // then, not at a view's first picture): a few pixels of the backdrop in
    // the rounded corner of a stage, made by the first such stage of the
    // window only, gone after that frame. A stage whose corner is square
    // has none.
    void windowsPrepareTheChipsCompositionAsTheyFirstShow()
    {
        QWidget window;
        window.resize(600, 200);
        QList<VideoStage*> stages;
        for (int i = 0; i < 3; ++i) {
            stages << new VideoStage(&window);
            stages.last()->setGeometry(i * 200, 0, 200, 200);
        }
        stages[2]->setCornerRadius(0);
        const auto primers = [](const QWidget* w) {
            return w->findChildren<QOpenGLWidget*>(QStringLiteral("kvrCompositionPrimer"));
        };
        QCOMPARE(primers(stages[0]).size(), 1);
        QCOMPARE(primers(stages[1]).size(), 1);
        QCOMPARE(primers(stages[2]).size(), 0);
        window.show();
        // At once as the window showed: only the first made a context.
        QStringList made;
        for (QOpenGLWidget* p : primers(&window))
            made << QString::number(p->isValid());
        QCOMPARE(made.join(QStringLiteral(", ")), QStringLiteral("1, 0"));
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE_WITH_TIMEOUT(primers(&window).size(), 0, 10000);
        // The corner shows the backdrop, as it did.
        const QImage shot = window.screen()->grabWindow(window.winId(), 0, 0, 4, 4).toImage();
        QVERIFY2(near(shot.pixelColor(0, 0), kBackdropColour, 2), qPrintable(describe(shot.pixelColor(0, 0))));
    }

    void gpuFailureFallsBackToTheProcessor()
    {
        if (!qEnvironmentVariableIsSet("KVR_TEST_GPU_FAIL"))
            QSKIP("runs in its own process with KVR_TEST_GPU_FAIL set");
        VideoStage* s = shownStage(640, 360);
        QVERIFY(s);
        kvrtest::LogCapture log;
        QSignalSpy failed(s, &VideoStage::gpuUnavailable);
        onTheChip(s, plain(Qt::green, YuvFrame::kThreePlanes, 64, 36));
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

    // The graphics probe runs once per process, so each variable setting has
    // a test process of its own (see CMakeLists.txt); a case whose setting is
    // absent skips itself.
    void softwareRenderersAreRecognised()
    {
        for (const auto& [renderer, vendor, software] : {std::tuple{"LLVMpipe (LLVM 15.0.6, 256 bits)", "Mesa", true},
                                                         {"Google SwiftShader", "Google Inc.", true},
                                                         {"GDI Generic", "Microsoft Corporation", true},
                                                         {"Microsoft Basic Render Driver", "Microsoft", true},
                                                         {"Some Software Rasterizer", "X", true},
                                                         {"Direct3D11 adapter", "Microsoft Corporation", true},
                                                         {"D3D12 (NVIDIA GeForce)", "Microsoft Corporation", false},
                                                         {"Apple M2", "Apple", false}})
            QVERIFY2(GpuProbe::isSoftwareRenderer(QString::fromUtf8(renderer), QString::fromUtf8(vendor)) == software,
                     renderer);
    }

    // KVR_RENDER=cpu turns drawing off, =gpu accepts a software renderer;
    // otherwise only a renderer of a graphics chip draws.
    void settingAndRendererDecide()
    {
        const QString llvmpipe = QStringLiteral("Example llvmpipe device");
        const QList<QStringList> rows{
            {QString(), QStringLiteral("Example Vision 9000"), QString()},
            {QString(), llvmpipe, QStringLiteral("only a software renderer (Example llvmpipe device)")},
            {QStringLiteral("GPU"), llvmpipe, QString()},
            {QStringLiteral("Cpu"), QStringLiteral("Apple M2"), QStringLiteral("turned off (KVR_RENDER=cpu)")}};
        for (const QStringList& r : rows)
            QCOMPARE(GpuProbe::declined(r[0], r[1], QStringLiteral("Example")), r[2]);
    }

    // The decision from what OpenGL answered, as a copy of the program
    // reports it: no answer, no context, an old or shader-less OpenGL, a
    // software renderer, the setting and the renderer's stand-in.
    void whatOpenGLSaidDecides()
    {
        const auto facts = [](const char* renderer, bool es, int major, bool shaders) {
            GlFacts f;
            f.contextMade = f.current = true;
            f.renderer = QString::fromUtf8(renderer);
            f.version = QStringLiteral("%1.1 Example").arg(major);
            f.vendor = QStringLiteral("Example");
            f.es = es;
            f.major = major;
            f.shaders = shaders;
            return f;
        };
        GlFacts noContext;
        GlFacts notCurrent;
        notCurrent.contextMade = true;
        const struct {
            std::optional<GlFacts> answer;
            const char* mode;
            const char* standIn;
            const char* reason; // empty: drawn on the graphics chip
        } rows[] = {
            {std::nullopt, "", "", "could not start OpenGL"},
            {noContext, "", "", "no OpenGL on this computer"},
            {notCurrent, "", "", "could not start OpenGL"},
            {facts("Example Vision 9000", false, 3, true), "", "", ""},
            {facts("Example Vision 9000", true, 2, true), "", "", ""},
            {facts("Example Vision 9000", false, 1, true), "", "", "OpenGL 1.1 Example is too old"},
            {facts("Example Vision 9000", false, 3, false), "", "", "shaders are not available"},
            {facts("Example Vision 9000", false, 3, false), "gpu", "", "shaders are not available"},
            {facts("llvmpipe (LLVM 15)", false, 4, true), "", "", "only a software renderer (llvmpipe (LLVM 15))"},
            {facts("llvmpipe (LLVM 15)", false, 4, true), "GPU", "", ""},
            {facts("Example Vision 9000", false, 3, true), "cpu", "", "turned off (KVR_RENDER=cpu)"},
            {std::nullopt, "Cpu", "", "turned off (KVR_RENDER=cpu)"},
            {facts("llvmpipe (LLVM 15)", false, 4, true), "", "Example Vision 9000", ""},
            {facts("Example Vision 9000", false, 4, true), "", "softpipe", "only a software renderer (softpipe)"},
        };
        for (const auto& r : rows) {
            const GpuProbe p = GpuProbe::decide(r.answer, QString::fromUtf8(r.mode), QString::fromUtf8(r.standIn));
            const QString want = QString::fromUtf8(r.reason);
            QCOMPARE(p.reason, want);
            QCOMPARE(p.usable, want.isEmpty());
            if (r.answer && r.answer->current && want != QLatin1String("turned off (KVR_RENDER=cpu)"))
                QCOMPARE(p.renderer, *r.standIn ? QString::fromUtf8(r.standIn) : r.answer->renderer);
        }
    }

    // The GUI thread never waits for the probe: with a copy that has not
    // answered (one that answers only when this test lets it, after these
    // checks), start() returns at once, the answer is unknown and the
    // processor draws meanwhile. The answer comes on the event loop, once, to
    // those still there to hear it, logged once.
    void probeAnswersOnTheEventLoop()
    {
        HeldProbe held;
        kvrtest::LogCapture log;
        QVERIFY(GpuProbe::start());
        QVERIFY(!GpuProbe::known());
        QVERIFY(DecodeSettings::current().drawing == DecodeSettings::Drawing::ProcessorUntilReady);
        int heard = 0;
        int heardByGone = 0;
        QObject listener;
        GpuProbe::whenKnown(&listener, [&heard] { ++heard; });
        auto* gone = new QObject;
        GpuProbe::whenKnown(gone, [&heardByGone] { ++heardByGone; });
        delete gone;
        QTRY_COMPARE(held.starts(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(heard, 0);

        QVERIFY(held.answer());
        QTRY_COMPARE(heard, 1);
        const std::optional<GpuProbe> probe = GpuProbe::known();
        QVERIFY(probe && probe->usable && probe->threadedContexts);
        QCOMPARE(probe->renderer, QStringLiteral("Example Vision 9000"));
        QCOMPARE(heardByGone, 0);
        QCOMPARE(log.matching(QStringLiteral("[render] graphics:")),
                 QStringList{QStringLiteral(
                     "[render] graphics: Example Vision 9000 3.1 Example -> drawing on the graphics chip")});
        // Known now: heard at once, and never asked again.
        GpuProbe::whenKnown(&listener, [&heard] { ++heard; });
        QCOMPARE(heard, 2);
        QVERIFY(GpuProbe::start());
        QCoreApplication::processEvents();
        QCOMPARE(held.starts(), 1);
    }

    // A copy that gives no answer (hangs past the bound, crashes, ends with a
    // failure, answers half, answers without end, cannot start) leaves the
    // processor drawing, logged once with why; one that hangs is ended.
    void probeWithoutAnAnswerLeavesTheProcessorDrawing()
    {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        const auto sh = [](const QString& script, const QStringList& more = {}) {
            return QStringList{QStringLiteral("-c"), script, QStringLiteral("probe")} + more;
        };
        const std::chrono::minutes patient(10);
        const struct {
            QString program;
            QStringList arguments;
            std::chrono::milliseconds bound;
            QString failure;
        } rows[] = {
            {QStringLiteral("/bin/sh"), sh(QStringLiteral("echo $$ > \"$1\"; exec sleep 600"), {pidFile}),
             std::chrono::milliseconds(300), QStringLiteral("no answer within 300 ms")},
            {QStringLiteral("/bin/sh"), sh(QStringLiteral("kill -SEGV $$")), patient, QStringLiteral("crashed")},
            {QStringLiteral("/bin/sh"),
             sh(QStringLiteral("printf '%s' \"$1\"; exit 3"), {QString::fromLatin1(kChipAnswer)}), patient,
             QStringLiteral("ended with status 3")},
            {QStringLiteral("/bin/sh"), sh(QStringLiteral("printf 'context=1\\ncurrent=1\\nrenderer=Example\\n'")),
             patient, QStringLiteral("gave an incomplete answer")},
            {QStringLiteral("/bin/sh"), sh(QStringLiteral("exec yes renderer=Example")), patient,
             QStringLiteral("answered with more than 16384 bytes")},
            {dir.filePath(QStringLiteral("no-such-program")),
             {},
             patient,
             QStringLiteral("could not start %1").arg(dir.filePath(QStringLiteral("no-such-program")))},
        };
        for (const auto& r : rows) {
            GpuProbe::restartForTest(r.program, r.arguments, r.bound);
            kvrtest::LogCapture log;
            QVERIFY(GpuProbe::start());
            QTRY_VERIFY_WITH_TIMEOUT(GpuProbe::known(), 20000);
            const GpuProbe probe = *GpuProbe::known();
            QVERIFY(!probe.usable);
            QCOMPARE(probe.reason, QStringLiteral("could not start OpenGL"));
            QVERIFY(DecodeSettings::current().drawing == DecodeSettings::Drawing::Processor);
            QCOMPARE(log.matching(QStringLiteral("[render]")),
                     QStringList{QStringLiteral("[render] graphics probe gave no answer (%1): drawing on "
                                                "the processor (could not start OpenGL)")
                                     .arg(r.failure)});
            // The copy that hung is ended.
            if (QFile pid(pidFile); r.arguments.contains(pidFile)) {
                QVERIFY(pid.open(QIODevice::ReadOnly));
                const QString proc = QStringLiteral("/proc/%1").arg(pid.readAll().trimmed().toInt());
                QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(proc), 10000);
            }
        }
        GpuProbe::restartForTest();
    }

    // The render mode setting "cpu" asks no one.
    void cpuSettingAsksNoOne()
    {
        HeldProbe held;
        Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));
        DecodeSettings::probeAhead();
        QVERIFY(DecodeSettings::current().drawing == DecodeSettings::Drawing::Processor);
        Prefs::remove(Prefs::kRenderMode.name);
        // No probe under way: one asking is told at once that none will answer.
        bool told = false;
        QObject listener;
        GpuProbe::whenKnown(&listener, [&told] { told = true; });
        QVERIFY(told);
        QVERIFY(!GpuProbe::known());
    }

    // A stage playing with the processor that changes over to the graphics
    // chip keeps its picture on the screen and its window as it is: the
    // window was made for OpenGL before it showed (the child comes with the
    // stage, hidden), so it is never made anew, and the processor's last
    // picture stays beneath the child until the child has drawn. Read back
    // from the display: never anything but the old picture or the new one.
    void changingOverKeepsThePictureOnTheScreen()
    {
        VideoStage* s = shownStage(320, 180);
        QVERIFY(s);
        auto* child = s->findChild<GpuVideoView*>();
        QVERIFY(child && !child->isVisible());
        QCOMPARE(s->windowHandle()->surfaceType(), QSurface::OpenGLSurface);
        kvrtest::WindowWatch watch(s);
        s->setFrame(solid(320, 180, Qt::red));
        const QPoint middle = s->mapToGlobal(QPoint(160, 90));
        const auto onScreen = [&] {
            const QImage shot = s->screen()->grabWindow(0, middle.x(), middle.y(), 1, 1).toImage();
            return shot.isNull() ? QColor() : shot.pixelColor(0, 0);
        };
        QTRY_VERIFY(near(onScreen(), Qt::red, 2));

        QStringList seen;
        const auto look = [&] {
            const QColor c = onScreen();
            const QString name = near(c, Qt::red, 6) ? QStringLiteral("red")
                : near(c, Qt::green, 6)              ? QStringLiteral("green")
                                                     : describe(c);
            if (seen.isEmpty() || seen.last() != name)
                seen << name;
        };
        const auto green = plain(Qt::green, YuvFrame::kThreePlanes, 320, 180);
        s->setYuvFrame(green);
        QVERIFY(child->isVisible() && s->isGpuActive());
        // Shown, not yet drawn: the stage still paints the old picture.
        QVERIFY(near(stageOwnMiddle(s), Qt::red, 2));
        QElapsedTimer waited;
        waited.start();
        look();
        while (seen.last() != QLatin1String("green") && waited.elapsed() < 10000) {
            QCoreApplication::processEvents();
            look();
        }
        QCOMPARE(seen.join(' '), QStringLiteral("red green"));
        // Once the child has drawn, the stage lets the old picture go.
        QTRY_VERIFY(!near(stageOwnMiddle(s), Qt::red, 2));
        QCOMPARE(watch.summary(), QStringLiteral("id kept, hidden 0, surface lost 0"));
    }

    // A window shown while the probe had not answered is made for the
    // processor (on a computer whose chip it turns down, the OpenGL driver
    // never comes). When the answer then says the chip draws, its video stays
    // with the processor: the window is never made anew, off the screen
    // meanwhile, and the player is told to send RGB pictures again. Said in
    // the log once for the window.
    void aWindowShownBeforeTheAnswerKeepsItsVideoOnTheProcessor()
    {
        Prefs::remove(Prefs::kRenderMode.name); // as the program starts: the probe decides
        peers::Peer camera;
        QVERIFY(peers::startRtsp(camera, {QStringLiteral("--no-audio")}));
        HeldProbe held;
        QWidget window;
        window.setWindowTitle(QStringLiteral("Wall"));
        window.resize(640, 200);
        auto* left = new VideoStage(&window);
        auto* right = new VideoStage(&window);
        left->setGeometry(0, 0, 320, 200);
        right->setGeometry(320, 0, 320, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowHandle()->surfaceType(), QSurface::RasterSurface);
        QVERIFY(!window.findChild<GpuVideoView*>());
        kvrtest::WindowWatch watch(&window);
        kvrtest::LogCapture log;

        std::vector<std::unique_ptr<FfmpegPlayer>> players;
        int processorPictures = 0;
        int chipPictures = 0;
        for (VideoStage* s : {left, right}) {
            auto& player = players.emplace_back(std::make_unique<FfmpegPlayer>());
            player->options().audioEnabled = false;
            FfmpegPlayer* p = player.get();
            connect(p, &FfmpegPlayer::frameReady, s, [&, s](const QImage& image) {
                ++processorPictures;
                s->setFrame(image);
            });
            connect(p, &FfmpegPlayer::yuvFrameReady, s, [&, s](std::shared_ptr<const YuvFrame> yuv) {
                ++chipPictures;
                s->setYuvFrame(std::move(yuv));
            });
            connect(s, &VideoStage::gpuUnavailable, p, [p] { p->controls().yuvOutput.store(false); });
            p->applyDecodeSettings(DecodeSettings::current(), !s->isGpuDisabled());
            p->play(peers::rtspUrl(camera.port));
        }
        QTRY_VERIFY_WITH_TIMEOUT(processorPictures >= 10, 30000);
        QVERIFY(held.answer());
        // The answer is followed: each player tries the chip once, and its
        // stage sends it back to the processor.
        QTRY_VERIFY_WITH_TIMEOUT(left->isGpuDisabled() && right->isGpuDisabled(), 30000);
        QVERIFY(chipPictures > 0);
        const int after = processorPictures;
        QTRY_VERIFY_WITH_TIMEOUT(processorPictures >= after + 10, 30000);
        QVERIFY(!left->isGpuActive() && !right->isGpuActive() && left->hasPicture() && right->hasPicture());
        QVERIFY(!window.findChild<GpuVideoView*>());
        QCOMPARE(watch.summary(), QStringLiteral("id kept, hidden 0, surface lost 0"));
        QCOMPARE(log.matching(QStringLiteral("[render] the processor draws the video of")).size(), 1);
        for (auto& p : players)
            p->requestStop();
    }

    // The chip asked for (the render setting "gpu"), the first live video of
    // a program opens while the probe has not answered: the stage's window was
    // made for OpenGL before it showed, the video plays with the processor
    // until the answer, then the player sends pictures for the chip and the
    // stage draws them with it, its window kept as it was (never made anew,
    // never hidden). Run in a process of its own as well (see
    // CMakeLists.txt), where nothing made the shared context before.
    void firstVideoPlaysWithTheProcessorUntilTheChipIsReady()
    {
        peers::Peer camera;
        QVERIFY(peers::startRtsp(camera, {QStringLiteral("--no-audio")}));
        HeldProbe held;
        VideoStage* s = shownStage(320, 240);
        QVERIFY(s);
        QCOMPARE(s->windowHandle()->surfaceType(), QSurface::OpenGLSurface);
        QOpenGLContext* shared = GpuVideoView::sharedContext();
        QVERIFY(shared && shared->thread() == QCoreApplication::instance()->thread());
        kvrtest::WindowWatch watch(s);
        FfmpegPlayer player;
        player.options().audioEnabled = false;
        int processorPictures = 0;
        int chipPictures = 0;
        connect(&player, &FfmpegPlayer::frameReady, s, [&](const QImage& image) {
            ++processorPictures;
            s->setFrame(image);
        });
        connect(&player, &FfmpegPlayer::yuvFrameReady, s, [&](std::shared_ptr<const YuvFrame> yuv) {
            ++chipPictures;
            s->setYuvFrame(std::move(yuv));
        });
        connect(s, &VideoStage::gpuUnavailable, &player, [&player] { player.controls().yuvOutput.store(false); });
        // As the owners do before each play.
        player.applyDecodeSettings(DecodeSettings::current(), !s->isGpuDisabled());
        player.play(peers::rtspUrl(camera.port));
        QTRY_VERIFY_WITH_TIMEOUT(processorPictures >= 5, 30000);
        QVERIFY(!GpuProbe::known());
        QCOMPARE(chipPictures, 0);
        QVERIFY(!s->isGpuActive());
        // The program the views draw with is built by then (on a thread of
        // its own).
        QTRY_VERIFY_WITH_TIMEOUT(GpuVideoView::drawingReady(), 30000);

        std::optional<DecodeSettings::Drawing> onAnswer;
        QObject listener;
        GpuProbe::whenKnown(&listener, [&onAnswer] { onAnswer = DecodeSettings::current().drawing; });
        QVERIFY(held.answer());
        QTRY_VERIFY(onAnswer);
        QVERIFY(*onAnswer == DecodeSettings::Drawing::GraphicsChip);
        QTRY_VERIFY_WITH_TIMEOUT(s->isGpuActive(), 30000);
        QVERIFY(chipPictures > 0);
        auto* child = s->findChild<GpuVideoView*>();
        QTRY_VERIFY_WITH_TIMEOUT(child->isValid(), 5000);
        QVERIFY(QOpenGLContext::areSharing(child->context(), shared));
        QTest::qWait(300); // pictures drawn by the chip for a while
        QVERIFY(s->isGpuActive() && !s->isGpuDisabled());
        QCOMPARE(watch.summary(), QStringLiteral("id kept, hidden 0, surface lost 0"));
        player.requestStop();
    }

    // Where the shared context is made on a thread of its own, windows are
    // made ready for the chip as soon as it is named, while the program the
    // views draw with is still being built there; until it is, the chip is
    // not chosen (players send the processor's pictures) and a view given
    // pictures draws them in its own context. Once it is built, pictures go
    // to the chip and every view draws in the shared context with that one
    // program: views that come later build none of their own. Run in a
    // process of its own (see CMakeLists.txt), where nothing made the shared
    // context before.
    void viewsDrawInTheSharedContextOnceItsProgramIsBuilt()
    {
        if (GpuVideoView::sharedContext())
            QSKIP("runs in a process of its own, before any view");
        HeldProbe held;
        GpuVideoView::holdProgramBuildForTest(true);
        DecodeSettings::probeAhead(); // as the program starts
        QVERIFY(held.answer());       // a chip that may draw, its contexts made on any thread
        QTRY_VERIFY_WITH_TIMEOUT(GpuVideoView::contextsReady(), 30000);
        QVERIFY(GpuVideoView::sharedContext());
        QVERIFY(!GpuVideoView::drawingReady());
        QVERIFY(DecodeSettings::current().drawing == DecodeSettings::Drawing::ProcessorUntilReady);
        FfmpegPlayer player;
        player.applyDecodeSettings(DecodeSettings::current(), true);
        QVERIFY(!player.controls().yuvOutput.load());

        // Made ready for the chip before it shows, its program still to come.
        QWidget window;
        window.resize(256, 48);
        auto* stage = new VideoStage(&window);
        stage->setGeometry(192, 0, 64, 48);
        QVERIFY(stage->findChild<GpuVideoView*>());
        QList<GpuVideoView*> views;
        const auto addViews = [&](int count) {
            for (int i = 0; i < count; ++i) {
                auto* v = new GpuVideoView(&window);
                v->setGeometry(int(views.size()) * 48, 0, 48, 48);
                v->setCornerRadius(0);
                v->show();
                views << v;
            }
        };
        const QColor colours[] = {QColor(255, 0, 0), QColor(0, 0, 255), QColor(0, 255, 0), QColor(230, 140, 40)};
        // Each view draws its own picture into its own framebuffer, in
        // either plane layout; `built` is how many programs that leaves.
        const auto drawAll = [&] {
            for (int i = 0; i < views.size(); ++i)
                views[i]->setFrame(plain(colours[i], i % 2 ? YuvFrame::kNv12 : YuvFrame::kThreePlanes, 48, 48));
            QStringList wrong;
            for (int i = 0; i < views.size(); ++i) {
                const QColor got = views[i]->grabFramebuffer().pixelColor(24, 24);
                if (!near(got, colours[i], 4))
                    wrong << QStringLiteral("view %1: %2").arg(i).arg(describe(got));
            }
            QCoreApplication::processEvents();
            return wrong.join(QStringLiteral(", "));
        };
        addViews(2);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowHandle()->surfaceType(), QSurface::OpenGLSurface);
        for (GpuVideoView* v : views)
            QTRY_VERIFY_WITH_TIMEOUT(v->isValid(), 5000);
        const int before = liveNames(true);
        QCOMPARE(drawAll(), QString());
        QCOMPARE(liveNames(true), before + 2); // each in its own context, with its own program

        GpuVideoView::holdProgramBuildForTest(false);
        QTRY_VERIFY_WITH_TIMEOUT(GpuVideoView::drawingReady(), 30000);
        QVERIFY(DecodeSettings::current().drawing == DecodeSettings::Drawing::GraphicsChip);
        QTRY_VERIFY(player.controls().yuvOutput.load());
        const int built = liveNames(true); // the shared one as well now
        QCOMPARE(built, before + 3);
        addViews(2);
        for (GpuVideoView* v : views)
            QTRY_VERIFY_WITH_TIMEOUT(v->isValid(), 5000);
        QCOMPARE(drawAll(), QString());
        QCOMPARE(drawAll(), QString());
        QCOMPARE(liveNames(true), built);
        for (GpuVideoView* v : views)
            QVERIFY(!v->hasFailed());
    }

    // This computer's own answer (under Xvfb: Mesa's llvmpipe, a software
    // renderer, so drawing stays on the processor), from a copy of the
    // program, heard on the event loop.
    void probesOnceAndLogs()
    {
        if (qEnvironmentVariableIsSet("KVR_RENDER"))
            QSKIP("runs without KVR_RENDER");
        GpuProbe::restartForTest(); // a copy of this program, whatever cases before this one asked
        kvrtest::LogCapture log;
        const std::optional<GpuProbe> probe = probed();
        QVERIFY(probe);
        if (probe->reason == QLatin1String("no OpenGL on this computer")
            || probe->reason == QLatin1String("could not start OpenGL"))
            QSKIP("no OpenGL on this display");
        QVERIFY(!probe->renderer.isEmpty() && !probe->version.isEmpty());
        const bool software = GpuProbe::isSoftwareRenderer(probe->renderer, QString());
        QCOMPARE(probe->usable, !software);
        QVERIFY(probe->threadedContexts); // Mesa makes contexts on any thread
        const QStringList lines = log.matching(QStringLiteral("[render] graphics:"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(probe->renderer), qPrintable(lines.first()));

        // Process-wide and fixed: later starts and later settings change nothing.
        qputenv("KVR_RENDER", "cpu");
        QVERIFY(GpuProbe::start());
        QCOMPARE(GpuProbe::known()->usable, !software);
        qunsetenv("KVR_RENDER");
        QCOMPARE(log.matching(QStringLiteral("[render] graphics:")).size(), 1);
    }

    // The probe loads no OpenGL driver into this process: a copy of the
    // program answers it, so where the processor draws, the software
    // renderer, LLVM and their threads never come (a process of its own,
    // see CMakeLists.txt: the other cases draw with OpenGL here).
    void probeLeavesNoDriverBehind()
    {
        if (qEnvironmentVariableIsSet("KVR_RENDER"))
            QSKIP("runs without KVR_RENDER");
        if (!QFile::exists(QStringLiteral("/proc/self/maps")))
            QSKIP("reads the process's mappings from /proc");
        const auto driverLibraries = [] {
            QFile maps(QStringLiteral("/proc/self/maps"));
            QSet<QByteArray> found;
            if (maps.open(QIODevice::ReadOnly))
                for (const QByteArray& line : maps.readAll().split('\n'))
                    for (const char* mark : {"libGLX_", "libEGL_", "_dri.so", "libgallium", "libLLVM"})
                        if (line.contains(mark))
                            found.insert(line.mid(line.indexOf('/')));
            return found;
        };
        const auto threads = [] {
            return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
        };
        GpuProbe::restartForTest();
        const QSet<QByteArray> before = driverLibraries();
        const qsizetype threadsBefore = threads();
        const std::optional<GpuProbe> probe = probed();
        QVERIFY(probe);
        if (probe->renderer.isEmpty())
            QSKIP("no OpenGL on this display");
        QVERIFY2((driverLibraries() - before).isEmpty(), (driverLibraries() - before).values().join(' ').constData());
        QVERIFY2(threads() <= threadsBefore,
                 qPrintable(QStringLiteral("%1 threads, %2 before").arg(threads()).arg(threadsBefore)));
    }

    void cpuTurnsDrawingOff()
    {
        if (qgetenv("KVR_RENDER").toLower() != "cpu")
            QSKIP("runs with KVR_RENDER=cpu in any letter case");
        kvrtest::LogCapture log;
        // Known at once: no copy of the program is asked.
        QVERIFY(GpuProbe::start());
        const std::optional<GpuProbe> probe = GpuProbe::known();
        QVERIFY(probe && !probe->usable);
        QCOMPARE(probe->reason, QStringLiteral("turned off (KVR_RENDER=cpu)"));
        QVERIFY(probe->renderer.isEmpty() && probe->version.isEmpty());
        QVERIFY(!log.contains(QStringLiteral("[render]")));
    }
};

// As the program starts: every OpenGL context shares with one, asked for
// before the application exists.
int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("TestGpuVideoView");
    GpuVideoView::shareContextsAppWide();
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTEST_SET_MAIN_SOURCE_PATH
    TestGpuVideoView tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_gpu_video_view.moc"
