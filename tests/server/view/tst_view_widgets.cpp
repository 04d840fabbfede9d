// The timeline bar and the small stage widgets: mouse handling, what they
// paint where a colour is the rule, and their fades and pulses.

#include "app/ui/Theme.h"
#include "server/view/BrandBackdrop.h"
#include "server/view/ControlBar.h"
#include "server/view/FadeStack.h"
#include "server/view/PulseDot.h"
#include "server/view/ResizeHandle.h"
#include "server/view/TimelineBar.h"
#include "tests/support/TestKit.h"

#include <QGraphicsEffect>
#include <QSignalSpy>

namespace {

QImage render(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32);
    img.fill(Qt::black);
    w.render(&img, {}, {}, QWidget::DrawChildren);
    return img;
}

int distance(QRgb a, const QColor& b)
{
    return qAbs(qRed(a) - b.red()) + qAbs(qGreen(a) - b.green()) + qAbs(qBlue(a) - b.blue());
}

// A colour with `alpha` laid over `under`.
QColor over(const QColor& c, int alpha, const QColor& under)
{
    const auto mix = [&](int a, int b) { return (a * alpha + b * (255 - alpha)) / 255; };
    return QColor(mix(c.red(), under.red()), mix(c.green(), under.green()), mix(c.blue(), under.blue()));
}

} // namespace

class ViewWidgetsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void timelineClicksSeekToTheSecondUnderThePointer()
    {
        TimelineBar bar;
        bar.resize(632, 66);
        QSignalSpy seeks(&bar, &TimelineBar::seekRequested);
        for (const int x : {10, 631, 316})
            QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(x, 35));
        QCOMPARE(seeks.size(), 3);
        QCOMPARE(seeks[0][0].toDouble(), 0.0);
        QCOMPARE(seeks[1][0].toDouble(), 86400.0);
        QCOMPARE(seeks[2][0].toDouble(), 43200.0);

        // The playhead follows a drag and ignores the player meanwhile.
        QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(16, 35));
        QTest::mouseMove(&bar, QPoint(166, 35));
        bar.setPlayhead(5);
        QCOMPARE(bar.playhead(), bar.secondAt(166));
        QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(166, 35));
        QCOMPARE(seeks.last()[0].toDouble(), bar.secondAt(166));
        bar.setPlayhead(5);
        QCOMPARE(bar.playhead(), 5.0);

        // Right button, or a bar that is not interactive: nothing.
        QTest::mouseClick(&bar, Qt::RightButton, {}, QPoint(200, 35));
        bar.setInteractive(false);
        QCOMPARE(bar.cursor().shape(), Qt::ArrowCursor);
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(200, 35));
        QCOMPARE(seeks.size(), 4);
        QCOMPARE(bar.playhead(), 5.0);
    }

    void timelineLabelsAndClock()
    {
        for (const auto& [width, labels] : {std::pair{700, 13}, std::pair{699, 7}}) {
            int majors = 0;
            for (int h = 0; h <= 24; ++h)
                majors += TimelineBar::isMajorHour(h, width) ? 1 : 0;
            QCOMPARE(majors, labels);
        }
        QCOMPARE(TimelineBar::clock(3725.9), QString("01:02:05"));
        QCOMPARE(TimelineBar::clock(-3), QString("00:00:00"));
        QCOMPARE(TimelineBar::clock(90000), QString("23:59:59"));
        TimelineBar bar;
        QCOMPARE(bar.sizeHint(), QSize(600, 66));
        QCOMPARE(bar.minimumSizeHint(), QSize(200, 66));
        QCOMPARE(bar.playhead(), -1.0);
    }

    void timelinePaintsBlocksAndHatching()
    {
        TimelineBar bar;
        bar.resize(880, 66); // 848 px of track: 100 s per pixel
        const QColor track = Theme::colour(Theme::Colour::Raised);
        const QColor block = over(Theme::colour(Theme::Colour::Cloud), 190, track);
        bar.setAccent(Theme::colour(Theme::Colour::Cloud));
        const int y = 35;
        const auto px = [&](double second) { return int(bar.xAt(second)) + 1; };

        // Known footage: blocks in the accent, nothing hatched; a zero-length
        // block still shows 2 px wide.
        bar.setCoverage({{0, 20000}, {50000, 50000}}, true);
        QImage img = render(bar);
        QVERIFY(distance(img.pixel(px(10000), y), block) < 12);
        QVERIFY(distance(img.pixel(px(30000), y), track) < 6);
        QVERIFY(distance(img.pixel(int(bar.xAt(50000)) + 1, y), block) < 40);

        // Unknown footage: hatched, and the blocks it has still show.
        bar.setCoverage({{0, 20000}}, false);
        img = render(bar);
        QVERIFY(distance(img.pixel(px(10000), y), block) < 12);
        int lighter = 0;
        for (int x = px(30000); x < px(30000) + 16; ++x)
            lighter += distance(img.pixel(x, y), track) > 6 ? 1 : 0;
        QVERIFY2(lighter >= 2, "hatching expected on the unknown part of the day");

        // The playhead is opaque white, also when the bar is not interactive.
        bar.setInteractive(false);
        bar.setPlayhead(60000);
        img = render(bar);
        QCOMPARE(QColor(img.pixel(int(bar.xAt(60000)), y)), QColor(Qt::white));
    }

    void pulseDotStartsOnceAndStopsPlain()
    {
        PulseDot dot;
        QCOMPARE(dot.size(), QSize(18, 18));
        QCOMPARE(dot.color(), Theme::colour(Theme::Colour::Live));
        dot.setPulsing(true);
        dot.setPulsing(true);
        QVERIFY(dot.isAnimating());
        QTRY_VERIFY(dot.phase() > 0);
        dot.setPulsing(false);
        QVERIFY(!dot.isAnimating());
        QCOMPARE(dot.phase(), 0.0);
        dot.setColor(Theme::colour(Theme::Colour::Muted));
        const QImage img = render(dot);
        QCOMPARE(QColor(img.pixel(9, 9)), Theme::colour(Theme::Colour::Muted));
        QCOMPARE(QColor(img.pixel(9, 15)), QColor(Qt::black)); // no halo
    }

    void controlBarFadesFromWhereItIs()
    {
        QWidget host;
        host.resize(400, 84);
        ControlBar& bar = *new ControlBar(&host);
        bar.resize(400, 84);
        host.show();
        QVERIFY(bar.isShown());
        QCOMPARE(bar.opacity(), 1.0);
        bar.setShown(false);
        QTRY_VERIFY(bar.opacity() < 0.7);
        const double reached = bar.opacity();
        bar.setShown(true);
        QVERIFY(bar.opacity() >= reached - 0.05 && bar.opacity() < 1.0);
        QTRY_COMPARE(bar.opacity(), 1.0);
        bar.setShown(false);
        QTRY_COMPARE(bar.opacity(), 0.0);
        QVERIFY(bar.isVisible()); // never hidden as a widget: it still takes the mouse
        // Its shade runs from clear to dark.
        bar.setShown(true);
        QTRY_COMPARE(bar.opacity(), 1.0);
        QImage img(bar.size(), QImage::Format_ARGB32);
        img.fill(Qt::white);
        bar.render(&img, {}, {}, QWidget::DrawChildren);
        QVERIFY(qRed(img.pixel(200, 1)) > 240);
        QVERIFY(qRed(img.pixel(200, 83)) < 70);
    }

    void fadeStackFadesEachNewPage()
    {
        FadeStack stack;
        auto* a = new QWidget;
        auto* b = new QWidget;
        auto* c = new QWidget;
        for (QWidget* w : {a, b, c})
            stack.addWidget(w);
        stack.show();
        stack.fadeTo(a);
        QVERIFY(!a->graphicsEffect()); // already current
        stack.fadeTo(nullptr);
        QCOMPARE(stack.currentWidget(), a);

        stack.fadeTo(b);
        QCOMPARE(stack.currentWidget(), b);
        QVERIFY(b->graphicsEffect());
        stack.fadeTo(c); // within the 220 ms of b's fade
        QVERIFY(c->graphicsEffect());
        QVERIFY(b->graphicsEffect());
        QTRY_VERIFY(!b->graphicsEffect() && !c->graphicsEffect());
        QCOMPARE(stack.currentWidget(), c);
    }

    void resizeHandleReportsTheDistanceFromThePress()
    {
        QWidget host;
        auto* handle = new ResizeHandle(&host);
        handle->setGeometry(100, 0, 6, 200);
        host.resize(400, 200);
        QCOMPARE(handle->width(), 6);
        QSignalSpy started(handle, &ResizeHandle::dragStarted);
        QSignalSpy dragged(handle, &ResizeHandle::dragged);
        QTest::mousePress(handle, Qt::RightButton, {}, QPoint(3, 50));
        QVERIFY(!handle->isDragging());
        QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(3, 50));
        QTest::mouseMove(handle, QPoint(43, 50));
        QTest::mouseMove(handle, QPoint(33, 50));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(33, 50));
        QCOMPARE(started.size(), 1);
        QCOMPARE(dragged.size(), 2);
        QCOMPARE(dragged[0][0].toInt(), 40);
        QCOMPARE(dragged[1][0].toInt(), 30);
        QVERIFY(!handle->isDragging());
    }

    void brandBackdropAnimatesWhileShown()
    {
        QVERIFY(QMetaType::fromName("BrandBackdrop*").isValid());
        BrandBackdrop backdrop;
        backdrop.resize(600, 400);
        QVERIFY(!backdrop.isAnimating());
        backdrop.show();
        QVERIFY(backdrop.isAnimating());
        QTRY_VERIFY(backdrop.phase() > 0);
        const QImage img = render(backdrop);
        const QRgb corner = img.pixel(0, 0); // navy under the blue glow
        QVERIFY(qBlue(corner) > qRed(corner) + 20 && qRed(corner) < 60);
        backdrop.hide();
        QVERIFY(!backdrop.isAnimating());
    }
};

KVR_TEST_MAIN(ViewWidgetsTest)
#include "tst_view_widgets.moc"
