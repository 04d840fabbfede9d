// The timeline bar and the small stage widgets: mouse handling, what they
// paint where a colour is the rule, and their fades and pulses.

#include "app/ui/Theme.h"
#include "app/ui/TimelineBar.h"
#include "server/view/BrandBackdrop.h"
#include "server/view/ControlBar.h"
#include "server/view/FadeStack.h"
#include "server/view/PulseDot.h"
#include "server/view/ResizeHandle.h"
#include "server/view/Tunables.h"
#include "tests/support/TestKit.h"

#include <QGraphicsEffect>
#include <QPropertyAnimation>
#include <QSignalSpy>

using namespace kvr::ui;
using namespace kvr::view;

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
        QStringList got;
        for (const int x : {10, 631, 316}) {
            QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(x, 35));
            got << QString::number(seeks.last()[0].toDouble());
        }
        QCOMPARE(got.join(' '), QString("0 86400 43200"));

        // The playhead follows a drag and ignores the player meanwhile.
        QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(16, 35));
        QTest::mouseMove(&bar, QPoint(166, 35));
        bar.setPlayhead(5);
        QCOMPARE(bar.playhead(), bar.secondAt(166));
        QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(166, 35));
        QCOMPARE(seeks.last()[0].toDouble(), bar.secondAt(166));

        // From the keyboard: a minute either way from the playhead, ten with
        // the page keys, the day's start with Home, held within the day.
        bar.setPlayhead(3600);
        QVERIFY(bar.focusPolicy() & Qt::TabFocus);
        got.clear();
        for (const Qt::Key key : {Qt::Key_Left, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_Left, Qt::Key_Up}) {
            QTest::keyClick(&bar, key);
            got << QString::number(seeks.last()[0].toDouble());
        }
        QCOMPARE(got.join(' '), QString("3540 4140 0 0 0")); // Up asks for nothing
        QCOMPARE(TimelineBar::keyedSecond(86390, Qt::Key_Right), 86399.0);
        QCOMPARE(TimelineBar::keyedSecond(-1, Qt::Key_Right), 60.0);
        QCOMPARE(seeks.size(), 8);

        // Right button, or a bar that is not interactive: nothing, and it
        // leaves the keyboard alone.
        QTest::mouseClick(&bar, Qt::RightButton, {}, QPoint(200, 35));
        bar.setInteractive(false);
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(200, 35));
        QTest::keyClick(&bar, Qt::Key_Right);
        QCOMPARE(seeks.size(), 8);
        QCOMPARE(bar.focusPolicy(), Qt::NoFocus);
    }

    void timelinePaintsLabelsBlocksAndHatching()
    {
        // Hours labelled: every second from 700 px wide, else every fourth.
        QString majors;
        for (const int width : {700, 699})
            for (int h = 0; h <= 24; ++h)
                majors += TimelineBar::isMajorHour(h, width) ? "|" : ".";
        QCOMPARE(majors,
                 QString("|.|.|.|.|.|.|.|.|.|.|.|.|"
                         "|...|...|...|...|...|...|"));

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
        QVERIFY(distance(img.pixel(px(50000), y), block) < 40);

        // Unknown footage: hatched and no block drawn, the blocks given with
        // it included; the playhead is opaque white, also when the bar is not
        // interactive.
        const auto hatched = [&](const QImage& shot) {
            int lighter = 0;
            for (int x = px(30000); x < px(30000) + 16; ++x)
                lighter += distance(shot.pixel(x, y), track) > 6 ? 1 : 0;
            return lighter >= 2;
        };
        bar.setCoverage({{0, 20000}}, false);
        bar.setInteractive(false);
        bar.setPlayhead(60000);
        img = render(bar);
        QVERIFY2(hatched(img), "hatching expected on the unknown part of the day");
        QVERIFY(distance(img.pixel(px(10000), y), block) > 60 && !bar.blocksShown());
        QCOMPARE(QColor(img.pixel(int(bar.xAt(60000)), y)), QColor(Qt::white));
        // Footage found so far: its blocks show over the hatching.
        bar.setFoundCoverage({{0, 20000}}, false);
        img = render(bar);
        QVERIFY(hatched(img) && bar.blocksShown());
        QVERIFY(distance(img.pixel(px(10000), y), block) < 12);
    }

    void pulseDotAndBackdropAnimateOnlyWhileWanted()
    {
        PulseDot dot;
        dot.setPulsing(true);
        dot.setPulsing(true);
        QTRY_VERIFY(dot.phase() > 0);
        dot.setPulsing(false);
        QVERIFY(!dot.isAnimating());
        dot.setColor(Theme::colour(Theme::Colour::Muted));
        const QImage img = render(dot);
        QCOMPARE(QColor(img.pixel(9, 9)), Theme::colour(Theme::Colour::Muted));
        QCOMPARE(QColor(img.pixel(9, 15)), QColor(Qt::black)); // no halo

        // The backdrop animates only while shown.
        QVERIFY(QMetaType::fromName("BrandBackdrop*").isValid());
        BrandBackdrop backdrop;
        backdrop.resize(600, 400);
        QVERIFY(!backdrop.isAnimating());
        backdrop.show();
        QTRY_VERIFY(backdrop.phase() > 0);
        const QRgb corner = render(backdrop).pixel(0, 0); // navy under the blue glow
        QVERIFY(qBlue(corner) > qRed(corner) + 20 && qRed(corner) < 60);
        backdrop.hide();
        QVERIFY(!backdrop.isAnimating());
    }

    void controlBarAndPagesFade()
    {
        QWidget host;
        host.resize(400, 84);
        ControlBar& bar = *new ControlBar(&host);
        bar.resize(400, 84);
        host.show();
        bar.setShown(false);
        QTRY_VERIFY(bar.opacity() < 0.7);
        const double reached = bar.opacity();
        bar.setShown(true);
        QVERIFY(bar.opacity() >= reached - 0.05 && bar.opacity() < 1.0);
        bar.setShown(false);
        QTRY_COMPARE(bar.opacity(), 0.0);
        QVERIFY(bar.isVisible()); // never hidden as a widget: it still takes the mouse
        // A fade in that never reached its end: asked to show again, it does.
        bar.setShown(true);
        bar.findChild<QPropertyAnimation*>()->stop();
        bar.setShown(true);
        QTRY_COMPARE(bar.opacity(), 1.0);

        // Each new page of a stack fades in, also one shown during another's fade.
        FadeStack stack;
        QWidget *a = new QWidget, *b = new QWidget, *c = new QWidget;
        for (QWidget* w : {a, b, c})
            stack.addWidget(w);
        stack.show();
        stack.fadeTo(a);
        QVERIFY(!a->graphicsEffect()); // already current
        stack.fadeTo(b);
        stack.fadeTo(c); // within the 220 ms of b's fade
        QVERIFY(b->graphicsEffect() && c->graphicsEffect());
        QTRY_VERIFY(!b->graphicsEffect() && !c->graphicsEffect());
        QCOMPARE(stack.currentWidget(), c);
    }

    void resizeHandleReportsTheDistanceFromThePress()
    {
        QWidget host;
        auto* handle = new ResizeHandle(&host);
        handle->setGeometry(100, 0, 6, 200);
        QSignalSpy dragged(handle, &ResizeHandle::dragged);
        QTest::mousePress(handle, Qt::RightButton, {}, QPoint(3, 50));
        QVERIFY(!handle->isDragging());
        QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(3, 50));
        QTest::mouseMove(handle, QPoint(43, 50));
        QTest::mouseMove(handle, QPoint(33, 50));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(33, 50));
        QCOMPARE(dragged.size(), 2);
        QCOMPARE(dragged[0][0].toInt() * 100 + dragged[1][0].toInt(), 4030);
        QVERIFY(!handle->isDragging());
    }

    // Tab reaches the handle, lit as under the pointer; each Left or Right
    // arrow is a drag of its own of a step that way. Other keys, an arrow
    // with a modifier, and an arrow during a drag move nothing.
    void theArrowsMoveTheHandleAStepAtATime()
    {
        QWidget host;
        host.resize(200, 200);
        auto* before = new QWidget(&host); // where the focus starts
        before->setFocusPolicy(Qt::StrongFocus);
        before->setGeometry(0, 0, 50, 50);
        auto* handle = new ResizeHandle(&host);
        handle->setGeometry(100, 0, 6, 200);
        host.show();
        before->setFocus();
        host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        const QRgb unlit = render(host).pixel(102, 100);
        QCOMPARE(handle->focusPolicy(), Qt::TabFocus);
        handle->setFocus(Qt::TabFocusReason);
        QVERIFY(handle->hasFocus());
        QVERIFY(render(host).pixel(102, 100) != unlit);
        QSignalSpy started(handle, &ResizeHandle::dragStarted);
        QSignalSpy dragged(handle, &ResizeHandle::dragged);
        for (const auto& [key, mods] :
             std::initializer_list<std::pair<Qt::Key, Qt::KeyboardModifiers>>{{Qt::Key_Right, Qt::NoModifier},
                                                                              {Qt::Key_Left, Qt::KeypadModifier},
                                                                              {Qt::Key_Right, Qt::ShiftModifier},
                                                                              {Qt::Key_Up, Qt::NoModifier},
                                                                              {Qt::Key_Space, Qt::NoModifier}})
            QTest::keyClick(handle, key, mods);
        QCOMPARE(started.size(), 2);
        QCOMPARE(dragged.size(), 2);
        QCOMPARE(dragged[0][0].toInt(), tun::kHandleKeyStep_px);
        QCOMPARE(dragged[1][0].toInt(), -tun::kHandleKeyStep_px);
        QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(3, 50));
        QTest::keyClick(handle, Qt::Key_Right);
        QCOMPARE(dragged.size(), 2);
        QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(3, 50));
    }
};

KVR_TEST_MAIN(ViewWidgetsTest)

#include "tst_view_widgets.moc"
