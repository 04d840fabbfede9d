#include "tests/support/TestKit.h"
#include "tests/video/YuvTestFrames.h"
#include "video/GpuVideoView.h"

#include <QElapsedTimer>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPointer>
#include <QSignalSpy>

#include <cmath>
#include <cstring>
#include <functional>

using namespace yuvtest;

namespace {

// Counts paint events of the widgets it watches.
class PaintCounter : public QObject {
public:
    QHash<QObject*, int> counts;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++counts[watched];
        return false;
    }
};

// Texture names alive in the share group of every view.
int liveTextures()
{
    QOpenGLContext ctx;
    ctx.setShareContext(QOpenGLContext::globalShareContext());
    if (!ctx.create())
        return -1;
    QOffscreenSurface surface;
    surface.setFormat(ctx.format());
    surface.create();
    if (!ctx.makeCurrent(&surface))
        return -1;
    int live = 0;
    for (GLuint name = 1; name < 4096; ++name)
        live += ctx.functions()->glIsTexture(name) ? 1 : 0;
    ctx.doneCurrent();
    return live;
}

} // namespace

class TestGpuVideoView : public QObject {
    Q_OBJECT

    bool glAvailable = false;
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
        while (ready && !view->isValid() && waited.elapsed() < 5000)
            QTest::qWait(10);
        return !ready || view->isValid() ? view.data() : nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QOpenGLContext probe;
        glAvailable = probe.create();
    }

    // Drawing cases need a display with OpenGL (Xvfb with Mesa in CI).
    void init()
    {
        const QByteArray name = QTest::currentTestFunction();
        if (!glAvailable && name != "destinationFitsOrCovers" && name != "onlyCompleteRecordsAreDrawable")
            QSKIP("no OpenGL on this display");
    }

    void cleanup() { host.reset(); }

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
        QVERIFY(YuvDraw::isDrawable(*good));
        QVERIFY(YuvDraw::isDrawable(*plain(Qt::red, YuvFrame::kNv12, 33, 17)));
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
    // and transparent.
    void pictureIsUprightWithRoundedTransparentCorners()
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
                QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
                QCOMPARE(image.pixelColor(63, 47).alpha(), 0);
                QCOMPARE(image.pixelColor(32, 0).alpha(), 255);
            }
        }
    }

    // A change of layout or size at the same view reallocates the textures;
    // an odd size keeps its last chroma column and row. A cleared view draws
    // nothing, and an incomplete record is ignored without failing the view.
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
        QCOMPARE(v->grabFramebuffer().pixelColor(32, 24).alpha(), 0);
        auto broken = std::make_shared<YuvFrame>(*plain(Qt::red));
        broken->planes[2] = nullptr;
        v->setFrame(broken);
        QCOMPARE(v->grabFramebuffer().pixelColor(32, 24).alpha(), 0);
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
        PaintCounter counter;
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
        QCOMPARE(v->grabFramebuffer().pixelColor(32, 24).alpha(), 0);
        QCOMPARE(spy.size(), 1);
    }
};

KVR_TEST_MAIN(TestGpuVideoView)
#include "tst_gpu_video_view.moc"
