#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class QDialog;
class QWidget;

namespace kvr::ui {

// Every modal question, notice, dialog and file chooser of the screens goes
// through here, so that a test can answer it in advance instead of a person.
// In the program nothing is queued and each call shows the real dialog.
//
// Callers run these outside the handler of the widget that asked (through a
// queued call) and check their own widgets with QPointer afterwards: anything
// may have been rebuilt while the dialog was open.
namespace Modal {

// Shows `dialog` modally and returns its result code.
int exec(QDialog& dialog);

// Asks a question with the given buttons; returns the one pressed (or the
// escape button's answer when the box is closed).
QMessageBox::StandardButton ask(QWidget* parent, const QString& title, const QString& text,
                                QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::StandardButton defaultButton = QMessageBox::No);

// A question whose answer `act` does something that cannot be undone: that
// button carries the object name `dangerName`, by which the window's style
// sheet paints it red; `keep` is the default and what Escape answers. True
// for `act`.
bool confirmDestructive(QWidget* parent, const QString& title, const QString& text, const QString& act,
                        const QString& keep, const char* dangerName);

// Shows a notice with an OK button.
void inform(QWidget* parent, const QString& title, const QString& text,
            QMessageBox::Icon icon = QMessageBox::Information);

// File choosers; an empty text means the user cancelled.
QString openFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter);
QString saveFileName(QWidget* parent, const QString& caption, const QString& path, const QString& filter);

// ---- For tests --------------------------------------------------------
// A responder answers the next modal dialog instead of the user: it may read
// and fill the dialog's widgets and returns the result code. Responders are
// used once each, first queued first used.
using Responder = std::function<int(QDialog&)>;
void respond(Responder responder);
// `responder` answers the very next modal dialog, before those queued.
void respondFirst(Responder responder);
// The next message box is answered with `button`.
void answer(QMessageBox::StandardButton button);
// The next file chooser returns `path` (empty: cancelled).
void chooseFile(const QString& path);

// What the screens showed since the last reset: one line per dialog, its
// window title and text joined by ": " ("Sign out: Sign out and stop
// playback?"); a file chooser is listed with its caption.
QStringList shown();
// Forgets queued answers and the list of what was shown.
void reset();
// With strict on, a dialog that no responder answers fails the test at once
// (instead of waiting for a person who never comes). Tests turn it on.
void setStrict(bool on);
int pending();

} // namespace Modal

} // namespace kvr::ui
