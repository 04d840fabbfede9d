// The driver kit finds each fault of a sequence it is for, and passes what is
// sound: for every check a small window built with the fault, and the same
// window mended.

#include "tests/support/Drive.h"
#include "tests/support/TestKit.h"

#include "app/ui/DiscardGuard.h"
#include "app/ui/FocusRing.h"
#include "app/ui/Modal.h"
#include "app/ui/WheelGuard.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFocusEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

using namespace kvr::ui;

namespace {

bool has(const QStringList& faults, const QString& what)
{
    return faults.join(QLatin1Char('\n')).contains(what);
}

// Shown and drawn, as a person meets it.
void show(QWidget& w)
{
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

// Six one-digit boxes of a code. Typing moves on to the next box; a change to
// two or more characters is taken for a paste and spread from the first box,
// as a paste should be. With `mended`, a box the focus lands on selects its
// digit and a digit typed into a filled box replaces it.
class CodeBoxes : public QWidget {
public:
    QList<QLineEdit*> boxes;

    explicit CodeBoxes(bool mended)
    {
        auto* row = new QHBoxLayout(this);
        for (int i = 0; i < 6; ++i) {
            auto* box = new QLineEdit;
            box->setMaxLength(6);
            box->setFixedWidth(40);
            row->addWidget(box);
            boxes << box;
            if (mended)
                box->installEventFilter(this);
            connect(box, &QLineEdit::textChanged, this, [this, i, mended](const QString& t) {
                if (m_spreading)
                    return;
                if (t.size() == 1 && i + 1 < boxes.size())
                    boxes.at(i + 1)->setFocus();
                else if (t.size() == 2 && mended)
                    replace(i, t);
                else if (t.size() > 1)
                    spread(t);
            });
        }
    }
    QString code() const
    {
        QString c;
        for (const QLineEdit* b : boxes)
            c += b->text();
        return c;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::MouseButtonRelease)
            static_cast<QLineEdit*>(watched)->selectAll();
        return false;
    }

private:
    void spread(const QString& digits)
    {
        m_spreading = true;
        for (int k = 0; k < boxes.size(); ++k)
            boxes.at(k)->setText(k < digits.size() ? QString(digits.at(k)) : QString());
        m_spreading = false;
    }
    void replace(int i, const QString& t)
    {
        m_spreading = true;
        boxes.at(i)->setText(t.right(1));
        m_spreading = false;
        if (i + 1 < boxes.size())
            boxes.at(i + 1)->setFocus();
    }
    bool m_spreading = false;
};

// Swallows every key press: a dialog that keeps Escape from closing it.
class KeyEater : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::KeyPress; }
};

// A page taller than its room, with drop-downs and spin boxes all the way down.
struct FilterPage {
    QScrollArea area;
    QList<QComboBox*> combos;
    QList<QSpinBox*> spins;
    FilterPage()
    {
        auto* content = new QWidget;
        auto* v = new QVBoxLayout(content);
        for (int i = 0; i < 12; ++i) {
            auto* combo = new QComboBox;
            combo->addItems({QStringLiteral("All internet"), QStringLiteral("Online"), QStringLiteral("Offline"),
                             QStringLiteral("Issues")});
            auto* spin = new QSpinBox;
            spin->setRange(0, 100);
            spin->setValue(50);
            v->addWidget(combo);
            v->addWidget(spin);
            v->addSpacing(60);
            combos << combo;
            spins << spin;
        }
        area.setWidget(content);
        area.setWidgetResizable(true);
        area.resize(300, 240);
    }
};

// A tile whose title is laid out shorter while the pointer is over it (room
// for its buttons), and, when `mended`, laid out again when it leaves. It
// fails as a wall's tile does ("No answer") and tries again by itself
// (`tryAgain`: loading, its count of tries up), as when another tile of its
// wall plays again: `hurries` is tried again as the pointer comes onto this
// one, `restless` tries again each time the pointer leaves it.
class Tile : public QFrame {
public:
    QLabel* title;
    QLabel* state;
    bool mended = false;
    Tile* hurries = nullptr;
    bool restless = false;
    int tries = 0;
    explicit Tile(QWidget* parent) : QFrame(parent)
    {
        setFixedSize(200, 120);
        title = new QLabel(this);
        title->move(6, 6);
        state = new QLabel(this);
        state->move(6, 90);
        layoutTitle(false);
        fail();
    }
    void fail() { say(QStringLiteral("No answer")); }
    void tryAgain()
    {
        ++tries;
        say(QStringLiteral("Loading"));
    }
    static QString ownState(QWidget* w) { return QString::number(static_cast<Tile*>(w)->tries); }

protected:
    void enterEvent(QEnterEvent*) override
    {
        layoutTitle(true);
        if (hurries)
            hurries->tryAgain();
    }
    void leaveEvent(QEvent*) override
    {
        if (mended)
            layoutTitle(false);
        if (restless)
            tryAgain();
    }

private:
    void say(const QString& text)
    {
        state->setText(text);
        state->adjustSize();
    }
    void layoutTitle(bool hovered)
    {
        const QString name = QStringLiteral("Car park level B1 ramp, row 1");
        const int room = hovered ? 80 : 180;
        title->setText(title->fontMetrics().elidedText(name, Qt::ElideRight, room));
        title->adjustSize();
    }
};

// The video wall set-up's buttons, in their order: a side action first.
struct WallSetup {
    QDialog dialog;
    QPushButton* identify;
    QPushButton* start;
    QPushButton* close;
    explicit WallSetup(bool mended)
    {
        auto* v = new QVBoxLayout(&dialog);
        identify = new QPushButton(QStringLiteral("Identify displays"));
        v->addWidget(identify);
        v->addWidget(new QLineEdit);
        auto* row = new QHBoxLayout;
        start = new QPushButton(QStringLiteral("Start wall"));
        close = new QPushButton(QStringLiteral("Close"));
        row->addWidget(start);
        row->addWidget(close);
        v->addLayout(row);
        QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::reject);
        if (mended) {
            start->setDefault(true);
            identify->setAutoDefault(false);
            close->setAutoDefault(false);
        }
    }
};

} // namespace

class TestDriveKit : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // After a wrong code a person clicks the first box and types the right
    // one: boxes that take a second digit for a paste read 91____.
    void retypeFindsABoxThatSpreadsASecondDigit()
    {
        for (const bool mended : {false, true}) {
            CodeBoxes w(mended);
            show(w);
            for (QLineEdit* b : w.boxes)
                b->setText(QStringLiteral("9"));
            const QStringList faults =
                drive::retype(w.boxes.first(), QStringLiteral("123456"), [&w] { return w.code(); });
            if (mended)
                QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
            else
                QVERIFY2(has(faults, "[retype]") && has(faults, "typed \"123456\""), qPrintable(faults.join('\n')));
        }
    }

    // Scrolled with the wheel, a page whose drop-downs and spin boxes take
    // the wheel without the focus changes them and stands still over them;
    // guarded, it reaches its bottom and every value stays.
    void wheelFindsControlsThatTakeItUnfocused()
    {
        FilterPage faulty;
        show(faulty.area);
        QStringList faults = drive::scrollThrough(&faulty.area);
        QVERIFY2(has(faults, "the wheel changed it from \"All internet\" (0) to") && has(faults, "from \"50\" to"),
                 qPrintable(faults.join('\n')));
        QCOMPARE(faulty.area.verticalScrollBar()->value(), 0); // left at its top

        // Combos that fill the page: nowhere for the wheel to reach the page.
        QScrollArea packed;
        auto* content = new QWidget;
        auto* v = new QVBoxLayout(content);
        v->setSpacing(0);
        v->setContentsMargins(0, 0, 0, 0);
        for (int i = 0; i < 40; ++i) {
            auto* combo = new QComboBox;
            combo->addItems({QStringLiteral("a"), QStringLiteral("b")});
            combo->setMinimumWidth(400);
            v->addWidget(combo);
        }
        packed.setWidget(content);
        packed.resize(420, 200);
        show(packed);
        faults = drive::scrollPages(&packed);
        QVERIFY2(has(faults, "did not reach its bottom") && has(faults, "from \"a\" (0) to \"b\" (1)"),
                 qPrintable(faults.join('\n')));

        FilterPage guarded;
        WheelGuard::guard(&guarded.area);
        show(guarded.area);
        faults = drive::scrollThrough(&guarded.area);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // A window's layout drop-down and speed box, no page around them: a
    // wheel passing over them turns them; mended (they take the wheel only
    // with the focus), it passes, and a control the person chose is skipped.
    void wheelPastFindsControlsOutsidePagesThatTurn()
    {
        // The wheel's way of a guarded control: taken only with the focus.
        class Mended : public QObject {
        protected:
            bool eventFilter(QObject* watched, QEvent* event) override
            {
                if (event->type() != QEvent::Wheel || static_cast<QWidget*>(watched)->hasFocus())
                    return false;
                event->ignore();
                return true;
            }
        } mended;
        for (const bool guarded : {false, true}) {
            QWidget window;
            auto* v = new QVBoxLayout(&window);
            auto* layout = new QComboBox;
            layout->addItems({QStringLiteral("2x2"), QStringLiteral("3x3"), QStringLiteral("1x1")});
            auto* speed = new QSpinBox;
            speed->setRange(1, 8);
            auto* chosen = new QSpinBox;
            chosen->setFocusPolicy(Qt::StrongFocus);
            v->addWidget(layout);
            v->addWidget(speed);
            v->addWidget(chosen);
            if (guarded)
                for (QWidget* w : {static_cast<QWidget*>(layout), static_cast<QWidget*>(speed)}) {
                    w->setFocusPolicy(Qt::StrongFocus); // the wheel no longer gives it the focus
                    w->installEventFilter(&mended);
                }
            show(window);
            QVERIFY(drive::activate(&window));
            chosen->setFocus();
            const QStringList faults = drive::wheelPast(&window);
            if (guarded) {
                QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
            } else {
                QVERIFY2(has(faults, "changed it from \"2x2\" (0) to \"3x3\" (1)")
                             && has(faults, "changed it from \"1\" to \"2\""),
                         qPrintable(faults.join('\n')));
                QCOMPARE(faults.size(), 2); // the box the person chose is not passed over
            }
        }
    }

    // A dialog whose drop-down has the focus as it opens: a passing wheel
    // turns it; mended (a control takes the wheel once clicked or tabbed
    // into), it passes.
    void wheelPastFocusFindsTheFirstFocusTurning()
    {
        class Mended : public QObject {
        public:
            bool chosen = false;

        protected:
            bool eventFilter(QObject*, QEvent* event) override
            {
                if (event->type() == QEvent::FocusIn) {
                    const Qt::FocusReason why = static_cast<QFocusEvent*>(event)->reason();
                    chosen = why == Qt::MouseFocusReason || why == Qt::TabFocusReason;
                }
                if (event->type() != QEvent::Wheel || chosen)
                    return false;
                event->ignore();
                return true;
            }
        };
        for (const bool guarded : {false, true}) {
            QDialog dialog;
            auto* v = new QVBoxLayout(&dialog);
            auto* camera = new QComboBox;
            camera->addItems({QStringLiteral("1  Gate"), QStringLiteral("2  Lobby")});
            camera->setFocusPolicy(Qt::StrongFocus);
            v->addWidget(camera);
            v->addWidget(new QPushButton(QStringLiteral("Close")));
            Mended mended;
            if (guarded)
                camera->installEventFilter(&mended);
            show(dialog);
            QVERIFY(drive::activate(&dialog));
            camera->setFocus(); // the dialog's first focus
            const QStringList faults = drive::wheelPastFocus(&dialog);
            if (guarded)
                QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
            else
                QVERIFY2(faults.size() == 1 && has(faults, "changed it from \"1  Gate\" (0) to \"2  Lobby\" (1)"),
                         qPrintable(faults.join('\n')));
        }
    }

    // A dark wall's round buttons and a tile that Tab reaches show no focus of
    // their own: found, each; ringed as the focus comes by the keyboard,
    // they pass.
    void focusShowsFindsFocusNobodyCanSee()
    {
        const QColor ring(0x7f, 0xb0, 0xff);
        for (const bool mended : {false, true}) {
            QWidget window;
            window.setStyleSheet(QStringLiteral("QWidget { background: #0b0f14; }"
                                                " QPushButton { background: #000000; border: none; }"));
            auto* v = new QVBoxLayout(&window);
            v->setContentsMargins(20, 20, 20, 20);
            auto* tile = new QFrame;
            tile->setFocusPolicy(Qt::TabFocus);
            tile->setMinimumSize(160, 90);
            v->addWidget(tile);
            auto* row = new QHBoxLayout;
            for (const char* name : {"Open full view", "Remove from this wall"}) {
                auto* b = new QPushButton;
                b->setAccessibleName(QString::fromLatin1(name));
                b->setFixedSize(30, 30);
                row->addWidget(b);
            }
            v->addLayout(row);
            if (mended)
                kvr::ui::FocusRing::follow(&window, ring, 12);
            show(window);
            QVERIFY(drive::activate(&window));
            const QStringList faults = drive::focusShows(&window, ring);
            if (mended)
                QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
            else
                QVERIFY2(faults.size() == 3 && has(faults, "[focus] QFrame") && has(faults, "Remove from this wall"),
                         qPrintable(faults.join('\n')));
        }
    }

    // The walk with Tab through a window: a stop with no ring, a stop with no
    // name, a date field that walks its parts first; ringed and named, it
    // passes.
    // Also each stop of a walk by the keys, and the walk to a wanted stop.
    void tabStopsFindFocusUnseenAndUnnamed()
    {
        const QColor ring(0x7f, 0xb0, 0xff);
        for (const bool mended : {false, true}) {
            QWidget window;
            auto* v = new QVBoxLayout(&window);
            v->setContentsMargins(20, 20, 20, 20);
            auto* cells = new QDateEdit(QDate(2026, 3, 19));
            cells->setAccessibleName(QStringLiteral("Day"));
            auto* icon = new QPushButton;
            icon->setIcon(QIcon(QPixmap(16, 16)));
            auto* refresh = new QPushButton(QStringLiteral("Refresh all"));
            for (QWidget* w : std::initializer_list<QWidget*>{cells, icon, refresh})
                v->addWidget(w);
            if (mended) {
                icon->setAccessibleName(QStringLiteral("Settings"));
                kvr::ui::FocusRing::follow(&window, ring);
            }
            show(window);
            QVERIFY(drive::activate(&window));
            const QStringList faults = drive::tabStops(&window, ring);
            if (mended) {
                QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
            } else {
                QVERIFY2(faults.size() == 4 && has(faults, "[focus] QDateEdit")
                             && has(faults, "[name] QPushButton: reached by Tab, with no name")
                             && has(faults, "[focus] QPushButton \"Refresh all\""),
                         qPrintable(faults.join('\n')));
            }
            QVERIFY(drive::tabTo(&window, [refresh](QWidget* w) { return w == refresh; }));
            QCOMPARE(drive::focusSeen(&window, ring).isEmpty(), mended);
            QVERIFY(!drive::tabTo(
                &window, [](QWidget*) { return false; }, 5));
        }
    }

    // Text typed into a dialog's first field, then Escape: a dialog that
    // throws it away without asking; one that asks keeps it, and is left as
    // it was.
    void escapeAfterTypingFindsTypingThrownAway()
    {
        kvr::ui::Modal::setStrict(true);
        const auto strict = qScopeGuard([] { kvr::ui::Modal::setStrict(false); });
        for (const bool mended : {false, true}) {
            QInputDialog name;
            name.setLabelText(QStringLiteral("Name a new preset"));
            if (mended)
                kvr::ui::DiscardGuard::watch(&name);
            show(name);
            bool typedIn = false;
            const QStringList faults = drive::escapeAfterTyping(&name, &typedIn);
            QVERIFY(typedIn);
            if (mended) {
                QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
                QVERIFY(name.isVisible() && name.textValue().isEmpty() && !kvr::ui::DiscardGuard::typed(&name));
            } else {
                QVERIFY2(faults.size() == 1 && has(faults, "[escape] QInputDialog: Escape throws \" by hand\""),
                         qPrintable(faults.join('\n')));
            }
            QCOMPARE(kvr::ui::Modal::pending(), 0);
        }
        QDialog notice;
        new QPushButton(QStringLiteral("OK"), &notice);
        show(notice);
        bool typedIn = true;
        QVERIFY(drive::escapeAfterTyping(&notice, &typedIn).isEmpty() && !typedIn);
    }

    // A right-click in a field of a dark window whose sheet leaves menus
    // unthemed: light text on a white menu; themed, it reads.
    void contextMenuFindsAnUnthemedMenu()
    {
        QWidget window;
        const QString dark = QStringLiteral("QWidget { background: #161c25; color: #e8ecf2; }");
        window.setStyleSheet(dark + QStringLiteral(" QMenu { background: #ffffff; }"));
        auto* v = new QVBoxLayout(&window);
        auto* search = new QLineEdit;
        search->setText(QStringLiteral("Gate"));
        v->addWidget(search);
        show(window);
        QStringList faults = drive::contextMenu(search);
        QVERIFY2(has(faults, "[menu] QLineEdit") && has(faults, "its menu:") && has(faults, "on #ffffff"),
                 qPrintable(faults.join('\n')));
        window.setStyleSheet(dark
                             + QStringLiteral(" QMenu { background: #1c2430; color: #e8ecf2;"
                                              " etch-disabled-text: 0; }"
                                              " QMenu::item:disabled { color: #8a96a8; }"));
        faults = drive::contextMenu(search);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // A tile's title laid out for the hovered tile and left so: found; laid
    // out again as the pointer leaves: passes.
    void hoverFindsATitleLeftAsHovered()
    {
        for (const bool mended : {false, true}) {
            QWidget wall;
            wall.resize(440, 140);
            auto* first = new Tile(&wall);
            auto* second = new Tile(&wall);
            second->move(220, 0);
            first->mended = second->mended = mended;
            show(wall);
            const QStringList faults = drive::hoverAndLeave({first, second}, QPoint(430, 130));
            if (mended) {
                QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
            } else {
                QCOMPARE(faults.size(), 2);
                QVERIFY2(has(faults, "[hover] QFrame: after the pointer left, QLabel/0 is \"Car park"),
                         qPrintable(faults.join('\n')));
            }
        }
    }

    // A tile that tried again by itself while the pointer passed it changed
    // by itself, not under the pointer: passed again, it holds still and is
    // judged sound. A tile the pointer left changed is still found, and one
    // that changes itself on every pass is not judged.
    void hoverTellsWhatATileDidByItself()
    {
        QWidget wall;
        wall.resize(660, 140);
        auto* first = new Tile(&wall);
        auto* second = new Tile(&wall);
        auto* third = new Tile(&wall);
        auto* restless = new Tile(&wall);
        second->move(220, 0);
        third->move(440, 0);
        restless->move(440, 0);
        restless->hide();
        first->mended = second->mended = restless->mended = restless->restless = true;
        second->hurries = first;
        show(wall);
        const QList<QWidget*> tiles{first, second, third};
        QStringList faults = drive::hoverAndLeave(tiles, QPoint(650, 130), &Tile::ownState);
        QVERIFY2(faults.size() == 1 && has(faults, "[hover] QFrame: after the pointer left, QLabel/0 is \"Car park"),
                 qPrintable(faults.join('\n')));
        QCOMPARE(first->tries, 1);

        // Without its state the tile's own try reads as the pointer's doing.
        first->fail();
        faults = drive::hoverAndLeave(tiles, QPoint(650, 130));
        QVERIFY2(has(faults, "QLabel/1 is \"Loading\""), qPrintable(faults.join('\n')));

        third->hide();
        restless->show();
        faults = drive::hoverAndLeave({restless}, QPoint(650, 130), &Tile::ownState);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        QVERIFY2(restless->tries > 1, qPrintable(QString::number(restless->tries)));
    }

    // Enter fires the first button of the set-up, a side action, where the
    // dialog is for starting the wall; the press starts nothing.
    void enterFindsASideButtonAsTheDefault()
    {
        WallSetup faulty(false);
        int identified = 0;
        QObject::connect(faulty.identify, &QPushButton::clicked, [&identified] { ++identified; });
        show(faulty.dialog);
        QStringList faults = drive::pressEnter(&faulty.dialog, QStringLiteral("Start wall"));
        QVERIFY2(has(faults, "fires \"Identify displays\", not \"Start wall\""), qPrintable(faults.join('\n')));
        QCOMPARE(identified, 0);
        QVERIFY(faulty.dialog.isVisible());

        // A dialog for nothing in particular may let Enter fire nothing.
        WallSetup mended(true);
        show(mended.dialog);
        faults = drive::pressEnter(&mended.dialog, QStringLiteral("Start wall"));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        mended.start->setEnabled(false);
        faults = drive::pressEnter(&mended.dialog, QString());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

        // The purpose not shown yet ("Try again" before anything failed):
        // Enter waits for it, and a side button that takes Enter meanwhile
        // is found.
        mended.start->setEnabled(true);
        mended.start->hide();
        faults = drive::pressEnter(&mended.dialog, QStringLiteral("Start wall"));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        WallSetup waiting(false);
        waiting.start->setDefault(true);
        waiting.start->hide();
        show(waiting.dialog);
        faults = drive::pressEnter(&waiting.dialog, QStringLiteral("Start wall"));
        QVERIFY2(has(faults, "fires \"Identify displays\", not \"Start wall\""), qPrintable(faults.join('\n')));
    }

    // Escape swallowed by the dialog, or taken for its answer: found. A
    // dialog that Escape closes passes.
    void escapeFindsADialogItCannotLeave()
    {
        WallSetup stuck(true);
        KeyEater swallow;
        stuck.dialog.installEventFilter(&swallow);
        show(stuck.dialog);
        QVERIFY(has(drive::pressEscape(&stuck.dialog), "Escape leaves it open"));

        QMessageBox question(QMessageBox::Question, QStringLiteral("Remove"), QStringLiteral("Remove it?"));
        QPushButton* remove = question.addButton(QStringLiteral("Remove"), QMessageBox::AcceptRole);
        question.addButton(QStringLiteral("Keep"), QMessageBox::RejectRole);
        question.setEscapeButton(remove);
        show(question);
        QVERIFY(has(drive::pressEscape(&question), "Escape fires \"Remove\""));

        WallSetup mended(true);
        show(mended.dialog);
        const QStringList faults = drive::pressEscape(&mended.dialog);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // An input box whose "OK" and "Cancel" are drawn as plain text, the
    // default not set apart; then dressed as buttons.
    void looksFindButtonsDrawnAsText()
    {
        QInputDialog box;
        box.setStyleSheet(QStringLiteral("QDialog { background: #f7f9fc; } QPushButton { background: transparent;"
                                         " border: none; min-height: 36px; padding: 0 16px; }"));
        box.setLabelText(QStringLiteral("Site name"));
        show(box);
        QStringList faults = drive::buttonLooks(&box);
        QVERIFY2(has(faults, "\"OK\": drawn as plain text") && has(faults, "\"Cancel\": drawn as plain text")
                     && has(faults, "the default button looks like"),
                 qPrintable(faults.join('\n')));
        box.setStyleSheet(
            QStringLiteral("QDialog { background: #f7f9fc; } QPushButton { background: #ffffff; border: 1px solid"
                           " #dee2e6; min-height: 36px; padding: 0 16px; } QPushButton:default { background: #004aad;"
                           " color: white; }"));
        QTest::qWait(20);
        faults = drive::buttonLooks(&box);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // A chip named for its caption, so that a screen reader never says its
    // value, and a field's icon that is a button without a name.
    void heardFindsCaptionsForValuesAndNamelessIcons()
    {
        QWidget panel;
        auto* v = new QVBoxLayout(&panel);
        auto* chip = new QLabel(QStringLiteral("Online"));
        chip->setAccessibleName(QStringLiteral("Internet"));
        auto* search = new QLineEdit;
        search->setAccessibleName(QStringLiteral("Search cameras"));
        QAction* icon = search->addAction(panel.style()->standardIcon(QStyle::SP_FileIcon), QLineEdit::LeadingPosition);
        v->addWidget(chip);
        v->addWidget(search);
        show(panel);
        QStringList faults = drive::heard(&panel);
        QVERIFY2(has(faults, "QLabel \"Online\": a screen reader says \"Internet\", not what it shows")
                     && has(faults, "a button a screen reader cannot name"),
                 qPrintable(faults.join('\n')));
        QCOMPARE(faults.size(), 2);
        chip->setAccessibleName(QStringLiteral("Internet: Online"));
        icon->setText(QStringLiteral("Search cameras"));
        faults = drive::heard(&panel);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }
};

KVR_TEST_MAIN(TestDriveKit)

#include "tst_drive_kit.moc"
