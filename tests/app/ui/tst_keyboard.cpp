// The keyboard does what the pointer does, shows where it is, and loses
// nothing typed: the ring in every window, lists opened by Enter and Space
// with their rows' menus by the menu key, typed text asked about before
// Escape or the close control drops it, a button's drop-down found by a
// screen reader.

#include "app/ui/DiscardGuard.h"
#include "app/ui/FocusRing.h"
#include "app/ui/ItemKeys.h"
#include "app/ui/MenuButtons.h"
#include "app/ui/Modal.h"
#include "tests/support/Drive.h"
#include "tests/support/TestKit.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

using namespace kvr::ui;

namespace {

const QColor kRing(0x7f, 0xb0, 0xff);

// A form of each kind of field, and a search that is not the form's work.
struct Form {
    QDialog dialog;
    QLineEdit* name = new QLineEdit;
    QLineEdit* search = new QLineEdit;
    QPlainTextEdit* notes = new QPlainTextEdit;
    QSpinBox* minutes = new QSpinBox;
    QComboBox* preset = new QComboBox;
    QPushButton* cancel = new QPushButton(QStringLiteral("Cancel"));
    Form()
    {
        auto* v = new QVBoxLayout(&dialog);
        name->setText(QStringLiteral("Gate"));
        minutes->setRange(1, 60);
        minutes->setValue(5);
        preset->setEditable(true);
        preset->addItems({QStringLiteral("Night shift"), QStringLiteral("Entrances")});
        preset->setCurrentIndex(-1);
        DiscardGuard::notTyping(search);
        for (QWidget* w : std::initializer_list<QWidget*>{name, search, notes, minutes, preset, cancel})
            v->addWidget(w);
        QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
        DiscardGuard::watch(&dialog);
        dialog.show();
    }
};

// The question's answers, as a person gives them.
void answerKeep()
{
    Modal::respond([](QDialog&) { return int(QMessageBox::RejectRole); });
}
void answerDiscard()
{
    Modal::respond([](QDialog&) { return int(QMessageBox::DestructiveRole); });
}

// Escape in `dialog`: whether it is still open.
bool escape(QDialog& dialog)
{
    QTest::keyClick(dialog.focusWidget() ? dialog.focusWidget() : &dialog, Qt::Key_Escape);
    return dialog.isVisible();
}

// What a walk of the accessibility tree down from `root` meets.
QSet<const QObject*> treeOf(QWidget* root)
{
    QSet<const QObject*> seen;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* a, int depth) {
        if (!a || depth > 30)
            return;
        if (a->object())
            seen.insert(a->object());
        for (int i = 0; i < a->childCount(); ++i)
            walk(a->child(i), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(root), 0);
    return seen;
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        Modal::reset();
        Modal::setStrict(true);
    }
    void cleanup() { Modal::setStrict(false); }

    // Installed once for the program, the ring stands in every window (a
    // dialog, a message box) around what Tab reached; along a window's edge
    // it stands inside; a key that turns a page takes it to where the focus
    // fell; the program moving the focus or a click shows none; an area with
    // a ring of its own keeps it alone.
    void theRingStandsInEveryWindow()
    {
        FocusRing::install(kRing);
        QDialog dialog;
        auto* v = new QVBoxLayout(&dialog);
        v->setContentsMargins(0, 0, 0, 0);
        auto* edge = new QLineEdit; // flush with the window's edges
        auto* pages = new QStackedWidget;
        auto* next = new QPushButton(QStringLiteral("Device playback"));
        auto* later = new QPushButton(QStringLiteral("Previous day"));
        pages->addWidget(next);
        pages->addWidget(later);
        v->addWidget(edge);
        v->addWidget(pages);
        QObject::connect(next, &QPushButton::clicked, pages, [pages] { pages->setCurrentIndex(1); });
        dialog.resize(300, 160);
        dialog.show();
        QVERIFY(drive::activate(&dialog));
        const auto ringedAround = [&dialog](const QWidget* w) {
            const QWidget* ring = FocusRing::shown(&dialog);
            const QRect at(w->mapTo(&dialog, QPoint(0, 0)), w->size());
            return ring && ring->geometry().contains(at) && dialog.rect().contains(ring->geometry());
        };
        edge->clearFocus(); // the dialog gave it the focus as it opened
        edge->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(ringedAround(edge));
        QVERIFY(drive::focusShows(&dialog, kRing).isEmpty());

        // Space on "Device playback" turns the page: the ring goes with the
        // focus the page change moved.
        next->setFocus(Qt::TabFocusReason);
        QTest::keyClick(next, Qt::Key_Space);
        QTRY_VERIFY(later->hasFocus());
        QTRY_VERIFY(ringedAround(later));
        // The program, or a click, moving it once the key's turn is over: none.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        edge->setFocus();
        QVERIFY(!FocusRing::shown(&dialog));
        QTest::mouseClick(later, Qt::LeftButton);
        QVERIFY(!FocusRing::shown(&dialog));

        // A message box, a window of its own.
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Sign out"), QStringLiteral("Sign out?"),
                        QMessageBox::Ok | QMessageBox::Cancel);
        box.show();
        QVERIFY(drive::activate(&box));
        QVERIFY(drive::focusShows(&box, kRing).isEmpty());
        box.hide();
        dialog.hide();

        // A field scrolled half out of its page: ringed around the half in sight.
        QScrollArea page;
        auto* content = new QWidget;
        auto* rows = new QVBoxLayout(content);
        rows->addSpacing(150);
        auto* field = new QPlainTextEdit;
        field->setFixedHeight(120);
        rows->addWidget(field);
        page.setWidget(content);
        page.resize(240, 200);
        page.show();
        QVERIFY(drive::activate(&page));
        field->clearFocus(); // the window gave it the focus as it came
        field->setFocus(Qt::TabFocusReason);
        page.verticalScrollBar()->setValue(0); // the field's lower half below the page's edge
        QTRY_VERIFY(FocusRing::shown(&page));
        const QRect view(page.viewport()->mapTo(&page, QPoint(0, 0)), page.viewport()->size());
        QTRY_VERIFY(view.contains(FocusRing::shown(&page)->geometry()));
        page.hide();

        // A wall's area in a window keeps its own ring, alone.
        QWidget window;
        auto* column = new QVBoxLayout(&window);
        auto* wall = new QWidget;
        auto* tile = new QPushButton(QStringLiteral("Open full view"), wall);
        wall->setMinimumSize(200, 100);
        column->addWidget(wall);
        column->addWidget(new QLineEdit);
        FocusRing::follow(wall, kRing, 14);
        window.show();
        QVERIFY(drive::activate(&window));
        tile->clearFocus();
        tile->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(FocusRing::shown(wall));
        int rings = 0;
        for (QWidget* r : window.findChildren<QWidget*>(QStringLiteral("kvrFocusRing")))
            rings += r->isVisible() ? 1 : 0;
        QCOMPARE(rings, 1);
    }

    // Enter, Return and Space open the current row; the arrows only move;
    // Shift+F10 and the menu key open its menu under it, a right-click at the
    // pointer; a key with a modifier, or Enter with no row, is left alone.
    void rowsOpenByEnterAndSpaceAndOfferTheirMenu()
    {
        QListWidget list;
        list.addItems({QStringLiteral("Gate"), QStringLiteral("Lobby"), QStringLiteral("Roof")});
        QStringList opened;
        QStringList menus;
        QPoint menuAt;
        ItemKeys::install(
            &list, [&opened](const QModelIndex& item) { opened << item.data().toString(); },
            [&menus, &menuAt](const QModelIndex& item, const QPoint& at) {
                menus << item.data().toString();
                menuAt = at;
            });
        list.resize(200, 200);
        list.show();
        QVERIFY(drive::activate(&list));
        list.setFocus();
        list.setCurrentRow(-1);
        QTest::keyClick(&list, Qt::Key_Return); // no row yet
        QVERIFY(opened.isEmpty());
        list.setCurrentRow(0);
        QTest::keyClick(&list, Qt::Key_Down);
        QVERIFY(opened.isEmpty());
        QTest::keyClick(&list, Qt::Key_Return);
        QTest::keyClick(&list, Qt::Key_Space);
        QTest::keyClick(&list, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(&list, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(opened, QStringList({"Lobby", "Lobby", "Lobby"}));

        QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
        // The menu key, as the window system hands it on.
        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(1, 1), list.mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(&list, &key);
        QCOMPARE(menus, QStringList({"Lobby", "Lobby"}));
        const QRect lobby = list.visualItemRect(list.item(1));
        QVERIFY(QRect(list.viewport()->mapToGlobal(lobby.topLeft()), lobby.size()).contains(menuAt));
        const QPoint roof = list.visualItemRect(list.item(2)).center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, roof, list.viewport()->mapToGlobal(roof));
        QApplication::sendEvent(list.viewport(), &click);
        QCOMPARE(menus.last(), QStringLiteral("Roof"));
        QCOMPARE(list.viewport()->mapFromGlobal(menuAt), roof);
    }

    // Text typed into a field and then Escape, or the close control: the
    // question, whose "Keep editing" leaves it as typed and "Discard"
    // closes. Untouched, set by the program, typed and taken back, typed
    // into a search or picked from a list: it closes at once. So does its
    // own Cancel.
    void typedTextIsAskedAboutBeforeItGoes()
    {
        {
            Form f;
            f.name->setText(QStringLiteral("North gate")); // the program's
            f.preset->setCurrentIndex(1);                  // picked
            QTest::keyClicks(f.search, QStringLiteral("lobby"));
            QTest::keyClicks(f.notes, QStringLiteral("x"));
            QTest::keyClick(f.notes, Qt::Key_Backspace); // typed and taken back
            QVERIFY(!DiscardGuard::typed(&f.dialog));
            QVERIFY(!escape(f.dialog));
            QVERIFY(Modal::shown().isEmpty());
        }
        const QString asked =
            QStringLiteral("Discard changes: Discard the changes you typed? They have not been saved.");
        const std::function<void(Form&)> typings[] = {
            [](Form& f) { QTest::keyClicks(f.name, QStringLiteral(" B")); },
            [](Form& f) { QTest::keyClicks(f.notes, QStringLiteral("Key at the desk")); },
            [](Form& f) {
                f.minutes->setFocus();
                QTest::keyClick(f.minutes, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(f.minutes, QStringLiteral("15"));
            },
            [](Form& f) { QTest::keyClicks(f.preset->lineEdit(), QStringLiteral("Lobby")); },
        };
        for (const auto& type : typings) {
            Modal::reset();
            Form f;
            type(f);
            QVERIFY(DiscardGuard::typed(&f.dialog));
            answerKeep();
            QVERIFY(escape(f.dialog));
            answerKeep();
            f.dialog.close(); // the window's close control
            QVERIFY(f.dialog.isVisible());
            QCOMPARE(Modal::shown(), QStringList({asked, asked}));
            answerDiscard();
            QVERIFY(!escape(f.dialog));
            QCOMPARE(f.dialog.result(), int(QDialog::Rejected));
            // Its own Cancel is a choice to discard.
            f.dialog.show();
            f.cancel->click();
            QVERIFY(!f.dialog.isVisible());
            QCOMPARE(Modal::shown().size(), 3);
        }
        // Every modal dialog is watched; one that asks by itself is left alone.
        Modal::reset();
        Form self;
        DiscardGuard::asksItself(&self.dialog);
        QTest::keyClicks(self.name, QStringLiteral(" B"));
        QVERIFY(!escape(self.dialog));
        QVERIFY(Modal::shown().isEmpty());
        QDialog plain;
        auto* field = new QLineEdit(&plain);
        Modal::respond([field](QDialog& d) {
            d.show();
            QTest::keyClicks(field, QStringLiteral("Night shift"));
            answerKeep();
            return int(escape(d) ? QDialog::Accepted : QDialog::Rejected);
        });
        QCOMPARE(Modal::exec(plain), int(QDialog::Accepted));
        QCOMPARE(Modal::shown().size(), 2);
    }

    // A button's drop-down is its child in the accessibility tree, also where
    // a screen reader asked after the button before it had the menu; the
    // button says it opens one, and opens it when asked. Left to Qt, the tree
    // never meets the menu.
    void aButtonsDropDownIsFoundWithIt()
    {
        QWidget window;
        auto* v = new QVBoxLayout(&window);
        auto* import = new QPushButton(QStringLiteral("Import CSV"));
        auto* plain = new QPushButton(QStringLiteral("Export"));
        v->addWidget(import);
        v->addWidget(plain);
        QVERIFY(QAccessible::queryAccessibleInterface(import)); // asked after as it was made
        auto* menu = new QMenu(import);
        QAction* devices = menu->addAction(QStringLiteral("Import devices from CSV…"));
        menu->addAction(QStringLiteral("Save a sample CSV…"));
        MenuButtons::attach(import, menu);
        auto* other = new QMenu(plain);
        other->addAction(QStringLiteral("Uptime report"));
        plain->setMenu(other);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QSet<const QObject*> tree = treeOf(&window);
        QVERIFY(tree.contains(menu));
        QVERIFY(tree.contains(devices));
        QVERIFY(!tree.contains(other));
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(import);
        QCOMPARE(button->role(), QAccessible::ButtonMenu);
        QCOMPARE(button->text(QAccessible::Name), QStringLiteral("Import CSV"));
        QVERIFY(button->state().hasPopup);
        QCOMPARE(button->childCount(), 1);
        QCOMPARE(button->indexOfChild(button->child(0)), 0);
        bool opened = false;
        connect(menu, &QMenu::aboutToShow, menu, [menu, &opened] {
            opened = true;
            QTimer::singleShot(0, menu, &QMenu::close);
        });
        button->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
        QVERIFY(opened);
    }
};

KVR_TEST_MAIN(TestKeyboard)

#include "tst_keyboard.moc"
