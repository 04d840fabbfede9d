#pragma once

// Nothing a person typed is thrown away without asking. A dialog whose fields
// hold text they typed asks before Escape or its window's close control
// closes it: "Discard changes", with "Keep editing" (the default, and what
// Escape answers) and "Discard". Its own Cancel is a choice to discard, and
// closes it at once; text the program put in a field, or a choice picked
// from a list, is not typed; nor is text typed and then taken back.
//
// Every modal dialog of the screens is watched so (`Modal::exec` calls
// `watch`); a dialog that asks in its own reject() says so with `asksItself`.

class QDialog;
class QWidget;

namespace kvr::ui {

namespace DiscardGuard {

// Escape and the window's close control of `dialog` ask first while it holds
// typed text. The text its fields hold now is what they opened with.
void watch(QDialog* dialog);
// `dialog` asks by itself (its reject() does): `watch` leaves it alone, but
// still notes what its fields opened with, for `typed`.
void asksItself(QDialog* dialog);
// A field whose text is not the dialog's work (a search): never typed.
void notTyping(QWidget* field);

// Whether a field of `dialog` holds text the person typed that differs from
// what it opened with.
bool typed(const QWidget* dialog);
// The question; true for Discard. The destructive button carries the object
// name `dangerName`, by which the window's style sheet paints it.
bool ask(QWidget* parent, const char* dangerName = "Danger");

} // namespace DiscardGuard

} // namespace kvr::ui
