#include "app/ui/Modal.h"

#include "app/ui/DiscardGuard.h"
#include "app/ui/Logging.h"
#include "app/ui/ScreenFit.h"

#include <QDialog>
#include <QFileDialog>
#include <QPushButton>
#include <QQueue>

namespace kvr::ui {

namespace Modal {

namespace {

// A dialog nobody answers would hang a test run: it ends the process, under
// the widget layer's category (Qt of this version has no qCFatal).
void failUnanswered(const char* what, const QString& name)
{
    QMessageLogger(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC, lcUi().categoryName())
        .fatal("Modal: a %s \"%s\" came up with no answer queued", what, qPrintable(name));
}

// Main thread only, like every dialog.
struct Seam {
    QQueue<Responder> responders;
    QQueue<QString> files;
    QStringList shown;
    bool strict = false;
};

Seam& seam()
{
    static Seam s;
    return s;
}

void record(const QString& title, const QString& text)
{
    seam().shown << (text.isEmpty() ? title : title + QStringLiteral(": ") + text);
}

} // namespace

int exec(QDialog& dialog)
{
    // What the person types in it is not thrown away without asking.
    DiscardGuard::watch(&dialog);
    // Every dialog opens over its window, inside the screen, frame and all.
    ScreenFit::keepWithin(&dialog, QSize());
    Seam& s = seam();
    if (auto* box = qobject_cast<QMessageBox*>(&dialog))
        record(box->windowTitle(), box->text());
    else
        record(dialog.windowTitle(), QString());
    if (!s.responders.isEmpty()) {
        const Responder next = s.responders.dequeue();
        const int result = next(dialog);
        dialog.setResult(result);
        return result;
    }
    if (s.strict)
        failUnanswered("dialog", dialog.windowTitle());
    return dialog.exec();
}

QMessageBox::StandardButton ask(QWidget* parent, const QString& title, const QString& text,
                                QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(QMessageBox::Question, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    const int result = exec(box);
    // exec() of a message box returns the pressed button; a closed box gives
    // its escape button.
    return QMessageBox::StandardButton(result);
}

bool confirmDestructive(QWidget* parent, const QString& title, const QString& text, const QString& act,
                        const QString& keep, const char* dangerName)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::NoButton, parent);
    // Named before the box adds it, so that the style sees the name (the box
    // polishes its buttons as it adds them).
    auto* destructive = new QPushButton(act);
    destructive->setObjectName(QLatin1String(dangerName));
    destructive->setAutoDefault(false);
    box.addButton(destructive, QMessageBox::DestructiveRole);
    QPushButton* safe = box.addButton(keep, QMessageBox::RejectRole);
    box.setDefaultButton(safe);
    box.setEscapeButton(safe);
    const int result = exec(box);
    // A test's answer names the button by its role; a person's click is seen
    // through clickedButton().
    return box.clickedButton() == destructive || result == QMessageBox::DestructiveRole;
}

void inform(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    exec(box);
}

namespace {

QString chooseOr(const QString& caption, const std::function<QString()>& real)
{
    Seam& s = seam();
    record(caption, QString());
    if (!s.files.isEmpty())
        return s.files.dequeue();
    if (s.strict)
        failUnanswered("file chooser", caption);
    return real();
}

} // namespace

QString openFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter)
{
    return chooseOr(caption, [&] { return QFileDialog::getOpenFileName(parent, caption, folder, filter); });
}

QString saveFileName(QWidget* parent, const QString& caption, const QString& path, const QString& filter)
{
    return chooseOr(caption, [&] { return QFileDialog::getSaveFileName(parent, caption, path, filter); });
}

void respond(Responder responder)
{
    seam().responders.enqueue(std::move(responder));
}

void respondFirst(Responder responder)
{
    seam().responders.prepend(std::move(responder));
}

void answer(QMessageBox::StandardButton button)
{
    respond([button](QDialog&) { return int(button); });
}

void chooseFile(const QString& path)
{
    seam().files.enqueue(path);
}

QStringList shown()
{
    return seam().shown;
}

void reset()
{
    Seam& s = seam();
    s.responders.clear();
    s.files.clear();
    s.shown.clear();
}

void setStrict(bool on)
{
    seam().strict = on;
}

int pending()
{
    return int(seam().responders.size() + seam().files.size());
}

} // namespace Modal

} // namespace kvr::ui
