#pragma once

// What a person does next, replayed on a shown window: key presses into the
// widget that holds the focus, the mouse wheel at a point, the pointer coming
// onto a widget and leaving it, Enter and Escape in a dialog. A screen looked
// at in one state hides faults that show only on the way: after an error,
// past a control, after the pointer left.
//
// The checks return one line per fault, naming the widget (empty: a pass),
// as the screen audit's do:
//
// - Retype: after a click on a field, what is typed reads back as typed.
// - Wheel: a page scrolled from its top to its bottom with the wheel, at
//   points over its controls, gets there, and no drop-down, spin box or
//   slider on the way changes its value; nor does one elsewhere in a window
//   that a wheel passes over, nor the one a window focuses as it opens.
// - Menu: the menu a right-click in a text field opens reads at 4.5:1.
// - Hover: a widget the pointer came onto and left looks as it did before
//   (texts, places, what shows).
// - Enter: pressed as the dialog opens, it fires the dialog's purpose or
//   nothing; one default button, set apart from the others, and the buttons
//   of a dialog's button row drawn as buttons.
// - Escape: closes the dialog without taking one of its answers.
// - Heard: what a screen reader says: every button has a name, and a label
//   named for a screen reader says what it shows.
// - Focus: whatever Tab reaches is ringed in the focus colour, named, and met
//   in the accessibility tree.

#include <QColor>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <Qt>

#include <functional>

class QAbstractScrollArea;
class QDialog;
class QWidget;

namespace drive {

// ---- What a person does ------------------------------------------------

// Brings `window` to the front with the keyboard; false when it did not
// become active (focus moves inside an inactive window without its events).
bool activate(QWidget* window);

// Key presses of each character of `text`, each into the widget of `window`
// that holds the focus at that moment (typing moves it on in some fields).
void type(QWidget* window, const QString& text);
void press(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// The menu key, as the window system hands it on: a request for the menu
// of what holds the focus in `window`, by the keyboard.
void menuKey(QWidget* window);

// A left click in the middle of `w`.
void click(QWidget* w);

// `notches` steps of the wheel at `pos` of `window` (negative: towards the
// person, which scrolls down), delivered as the window system delivers them:
// to the widget under the point, and on to its parents while none takes it.
void wheel(QWidget* window, const QPoint& pos, int notches = -1);

// The pointer comes to the middle of `w`; it leaves `w` for `away`, a point
// of w's window outside it. False when `w` did not see it come, or go.
bool enter(QWidget* w);
bool leave(QWidget* w, const QPoint& away);

// ---- Checks ------------------------------------------------------------

// Clicks `first` and types `text`; a fault when `read` then gives otherwise.
QStringList retype(QWidget* first, const QString& text, const std::function<QString()>& read);

// Scrolls `page` from its top to its bottom with the wheel. The controls
// keep what they held; the page is left at its top.
QStringList scrollThrough(QAbstractScrollArea* page);
// Every page of `window` that scrolls, or holds a control the wheel could change.
QStringList scrollPages(QWidget* window);
// A wheel passing over each drop-down, spin box and slider of `window` outside
// its scrolling pages that the person has not clicked or tabbed into: a notch
// one way and, where that changed nothing, the other. Each keeps its value.
QStringList wheelPast(QWidget* window);
// A wheel passing over the drop-down, spin box or slider that holds the focus
// as `window` opened: the window gave it the focus, nobody clicked it or
// tabbed into it, and it keeps its value.
QStringList wheelPastFocus(QWidget* window);

// A right-click in the text field `field`: the menu that opens is read by the
// screen audit's contrast check (every item, the one under the pointer and
// those disabled too), then closed.
QStringList contextMenu(QWidget* field);

// What a widget does of its own accord, which the pointer never changes: a
// tile's state (loading, playing, failed) and the count of its tries. Two
// readings that differ say that the widget changed by itself between them.
using OwnState = std::function<QString(QWidget*)>;

// The pointer comes onto each of `widgets` in turn and leaves the last for
// `away` (a point of their window): each looks after as it did before. A
// widget whose `ownState` changed while the pointer passed (a tile that
// started another try on its own) changed by itself: the pointer passes over
// it again, alone, until it holds still through a pass, and only a pass it
// held still through is judged.
QStringList hoverAndLeave(const QList<QWidget*>& widgets, const QPoint& away, const OwnState& ownState = {});

// Enter as the dialog opens, with the focus where the dialog put it:
// `purpose` names the button it must fire (its text or accessible name;
// empty: none may fire). The press is stopped where a button would be
// clicked, so that the check never starts what the dialog is for.
QStringList pressEnter(QDialog* dialog, const QString& purpose);
// The buttons of the dialog's button rows (its button boxes, a message box's
// own) drawn as buttons, and the default one set apart from the others.
QStringList buttonLooks(QDialog* dialog);
// Escape, for real: the dialog closes and takes none of its answers but a
// lone one ("OK" of a notice).
QStringList pressEscape(QDialog* dialog);
// Text typed by hand into the first field of `dialog` that takes typing
// (`typedIn` says whether it has one; none: a pass), then Escape: the dialog
// asks before the text goes, and "Keep editing", answered here, leaves it
// open with the text as typed. The field then gets back what it held, and
// the dialog is as it was. Needs no other answer queued at the Modal seam.
QStringList escapeAfterTyping(QDialog* dialog, bool* typedIn = nullptr);

// What a screen reader says of the controls and labels of `window`.
QStringList heard(QWidget* window);

// Tab from the start of `window` through each of its stops (at most `most`),
// those inside `within` where given: while each holds the focus, a ring of
// `ring` stands along every side of it, within a few pixels of its edge.
QStringList focusShows(QWidget* window, const QColor& ring, const QWidget* within = nullptr, int most = 400);

// Tab from the start of `window` through every stop of it, as a person who
// uses the keyboard alone (and a screen reader) meets them: each is ringed as
// `focusShows` asks, has a name a screen reader says, and is met in the
// window's accessibility tree. A view that walks its cells with Tab is passed
// through.
QStringList tabStops(QWidget* window, const QColor& ring, int most = 400);
// What `window` focused as it opened (what a screen reader says first) has a
// name and is met in its accessibility tree.
QStringList heardFirst(QWidget* window);
// What holds the focus in `window` now, reached by the keyboard: ringed,
// named and met in the accessibility tree.
QStringList focusSeen(QWidget* window, const QColor& ring);
// Presses Tab in `window` until what holds the focus meets `wanted` (at most
// `most` presses); false when it never does.
bool tabTo(QWidget* window, const std::function<bool(QWidget*)>& wanted, int most = 200);

// Each line prefixed with `tag` and a space.
QStringList tagged(const QString& tag, const QStringList& faults);

} // namespace drive
