// What the wheel, Enter and Tab reach: a page's drop-downs, spin boxes and
// sliders take the wheel only with the focus the person gave them, Enter in
// a dialog fires what the dialog is for wherever the focus stands, and the
// keyboard's focus shows in a ring.

#include "app/ui/EnterButton.h"
#include "app/ui/FocusRing.h"
#include "app/ui/WheelGuard.h"
#include "tests/support/Drive.h"
#include "tests/support/TestKit.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

using namespace kvr::ui;

namespace {

// A guarded page taller than its room, with a drop-down at its top.
struct Page {
    QScrollArea area;
    QWidget* content = new QWidget;
    QVBoxLayout* rows = new QVBoxLayout(content);
    QComboBox* filter = new QComboBox;
    Page()
    {
        filter->addItems({QStringLiteral("All internet"), QStringLiteral("Online"), QStringLiteral("Offline")});
        rows->addWidget(filter);
        rows->addSpacing(900);
        area.setWidget(content);
        area.setWidgetResizable(true);
        area.resize(320, 240);
        WheelGuard::guard(&area);
        area.show();
    }
    QPoint at(QWidget* w) const { return w->mapTo(&area, w->rect().center()); }
    int scrolled() const { return area.verticalScrollBar()->value(); }
};

} // namespace

class TestInputGuards : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Unfocused, each kind of control lets the page scroll, also one the page
    // made after it was guarded (a rebuilt row); with the focus, a control
    // takes the wheel and the page stands.
    void theWheelScrollsThePageUnlessAControlHasTheFocus()
    {
        Page page;
        QVERIFY(QTest::qWaitForWindowExposed(&page.area));
        auto* spin = new QSpinBox;
        spin->setValue(5);
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setValue(40);
        page.rows->insertWidget(1, spin);
        page.rows->insertWidget(2, slider);
        QTRY_VERIFY(slider->isVisible());
        // In the active window, where the wheel would give a control the focus
        // as it met it (and so the wheel).
        QVERIFY(drive::activate(&page.area));
        if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus(); // no control chosen yet
        for (QWidget* control : std::initializer_list<QWidget*>{page.filter, spin, slider}) {
            page.area.verticalScrollBar()->setValue(0);
            drive::wheel(&page.area, page.at(control));
            QVERIFY2(page.scrolled() > 0, control->metaObject()->className());
        }
        QCOMPARE(page.filter->currentIndex(), 0);
        QCOMPARE(spin->value(), 5);
        QCOMPARE(slider->value(), 40);

        QVERIFY(!page.filter->hasFocus() && !spin->hasFocus() && !slider->hasFocus());
        // Reached with Tab, the drop-down has the focus: the wheel is its own.
        page.area.verticalScrollBar()->setValue(0);
        page.filter->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(page.filter->hasFocus());
        const int before = page.scrolled();
        drive::wheel(&page.area, page.at(page.filter));
        QCOMPARE(page.filter->currentIndex(), 1);
        QCOMPARE(page.scrolled(), before);
    }

    // The first push button of a dialog (a side action) would be the default,
    // and a focused one takes Enter for itself: with the purpose set, Enter
    // fires it wherever the focus stands, and nothing while it is disabled.
    void enterFiresThePurposeWhereverTheFocusStands()
    {
        QDialog dialog;
        auto* v = new QVBoxLayout(&dialog);
        auto* identify = new QPushButton(QStringLiteral("Identify displays"));
        auto* search = new QLineEdit;
        auto* start = new QPushButton(QStringLiteral("Start wall"));
        for (QWidget* w : std::initializer_list<QWidget*>{identify, search, start})
            v->addWidget(w);
        setEnterButton(&dialog, start);
        QSignalSpy identified(identify, &QPushButton::clicked);
        QSignalSpy started(start, &QPushButton::clicked);
        dialog.show();
        QVERIFY(drive::activate(&dialog));
        for (QWidget* focus : std::initializer_list<QWidget*>{search, identify}) {
            focus->setFocus(Qt::TabFocusReason);
            drive::press(&dialog, Qt::Key_Return);
        }
        QCOMPARE(started.count(), 2);
        QCOMPARE(identified.count(), 0);
        start->setEnabled(false);
        drive::press(&dialog, Qt::Key_Return);
        QCOMPARE(started.count() + identified.count(), 2);
        QVERIFY(dialog.isVisible());
    }

    // Program-wide, a control the program focused (a dialog's first focus
    // as it opens, or its own setFocus) lets a passing wheel go by; once the
    // person clicks it (also where it had the focus) or tabs into it, the
    // wheel is its own, also after its window went to the back and came
    // again; the program moving the focus there again is no choice.
    void theWheelTurnsOnlyWhatThePersonChose()
    {
        WheelGuard::install();
        QDialog dialog;
        auto* v = new QVBoxLayout(&dialog);
        auto* camera = new QComboBox;
        camera->addItems({QStringLiteral("1  Gate"), QStringLiteral("2  Lobby"), QStringLiteral("3  Yard")});
        auto* speed = new QSpinBox;
        speed->setValue(5);
        auto* zoom = new QSlider(Qt::Horizontal);
        zoom->setValue(40);
        for (QWidget* w : std::initializer_list<QWidget*>{camera, speed, zoom})
            v->addWidget(w);
        // A dialog that focuses its drop-down before it shows tells it, as it
        // shows, that it came by Tab.
        camera->setFocus();
        dialog.show();
        QVERIFY(drive::activate(&dialog));
        const auto at = [&dialog](QWidget* w) { return w->mapTo(&dialog, w->rect().center()); };
        QTRY_VERIFY(camera->hasFocus()); // the dialog's first focus
        drive::wheel(&dialog, at(camera));
        QCOMPARE(camera->currentIndex(), 0);
        speed->setFocus();
        drive::wheel(&dialog, at(speed));
        QCOMPARE(speed->value(), 5);

        // Clicked where it had the focus already.
        QTest::mouseClick(speed, Qt::LeftButton, {}, QPoint(8, speed->height() / 2));
        drive::wheel(&dialog, at(speed));
        QCOMPARE(speed->value(), 4);
        // Reached with the keyboard.
        QTest::keyClick(speed, Qt::Key_Backtab);
        QTRY_VERIFY(camera->hasFocus());
        drive::wheel(&dialog, at(camera));
        QCOMPARE(camera->currentIndex(), 1);
        // Its window to the back and to the front again.
        QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(camera, &out);
        QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(camera, &in);
        drive::wheel(&dialog, at(camera));
        QCOMPARE(camera->currentIndex(), 2);
        // Moved there again by the program.
        zoom->setFocus();
        camera->setFocus();
        drive::wheel(&dialog, at(camera), 1);
        QCOMPARE(camera->currentIndex(), 2);
    }

    // The focus ring stands around what Tab reached, follows it as it moves
    // and comes back with its window; a click, the program moving the focus
    // or a dialog telling its first control that it came by Tab shows none.
    void theFocusRingShowsWhereTheKeyboardWent()
    {
        QWidget area;
        auto* v = new QVBoxLayout(&area);
        auto* first = new QPushButton(QStringLiteral("Open full view"));
        auto* second = new QPushButton(QStringLiteral("Remove from this wall"));
        v->addWidget(first);
        v->addWidget(second);
        FocusRing::follow(&area, QColor(0x7f, 0xb0, 0xff));
        area.resize(300, 120);
        area.show();
        QVERIFY(drive::activate(&area));
        const auto ringedAround = [&area](const QWidget* w) {
            const QWidget* ring = FocusRing::shown(&area);
            return ring && ring->geometry().contains(QRect(w->mapTo(&area, QPoint(0, 0)), w->size()))
                && ring->geometry().width() <= w->width() + 8;
        };
        second->setFocus(Qt::TabFocusReason);
        QVERIFY(ringedAround(second));
        const int was = second->y();
        v->insertSpacing(0, 30);
        QTRY_VERIFY(second->y() > was);
        QTRY_VERIFY(ringedAround(second));
        QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(second, &out);
        QVERIFY(!FocusRing::shown(&area));
        QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(second, &in);
        QTRY_VERIFY(ringedAround(second));

        QTest::mouseClick(first, Qt::LeftButton);
        QTRY_VERIFY(first->hasFocus());
        QVERIFY(!FocusRing::shown(&area));
        second->setFocus(Qt::TabFocusReason);
        first->setFocus();
        QVERIFY(!FocusRing::shown(&area));
        second->clearFocus();
        QFocusEvent told(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(second, &told);
        QVERIFY(!FocusRing::shown(&area));
    }
};

KVR_TEST_MAIN(TestInputGuards)

#include "tst_input_guards.moc"
