#include "app/ui/DiscardGuard.h"

#include "app/ui/Modal.h"

#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace kvr::ui {

namespace DiscardGuard {

namespace {

constexpr char kOpenedWith[] = "kvrOpenedWith";
constexpr char kNotTyping[] = "kvrNotTyping";
constexpr char kAsksItself[] = "kvrAsksItself";
const QString kWatcherName = QStringLiteral("kvrDiscardGuard");

// What a field holds, and whether the person changed it by typing. The text
// part of a spin box, date field or editable drop-down is such a field.
bool fieldState(const QWidget* w, QString* text, bool* edited)
{
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
        if (edit->isReadOnly())
            return false;
        *text = edit->text();
        *edited = edit->isModified();
        return true;
    }
    if (auto* plain = qobject_cast<const QPlainTextEdit*>(w)) {
        if (plain->isReadOnly())
            return false;
        *text = plain->toPlainText();
        *edited = plain->document()->isModified();
        return true;
    }
    if (auto* rich = qobject_cast<const QTextEdit*>(w)) {
        if (rich->isReadOnly())
            return false;
        *text = rich->toPlainText();
        *edited = rich->document()->isModified();
        return true;
    }
    return false;
}

bool skipped(const QWidget* field)
{
    for (const QWidget* w = field; w && !w->isWindow(); w = w->parentWidget())
        if (w->property(kNotTyping).toBool())
            return true;
    return false;
}

void noteOpenedWith(QWidget* dialog)
{
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        QString text;
        bool edited = false;
        if (!w->property(kOpenedWith).isValid() && fieldState(w, &text, &edited))
            w->setProperty(kOpenedWith, text);
    }
}

class Watcher : public QObject {
public:
    explicit Watcher(QDialog* dialog) : QObject(dialog), m_dialog(dialog)
    {
        setObjectName(kWatcherName);
        dialog->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_dialog || m_dialog->property(kAsksItself).toBool())
            return false;
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel))
            return typed(m_dialog) && !ask(m_dialog);
        if (event->type() == QEvent::Close && m_dialog->isVisible() && typed(m_dialog) && !ask(m_dialog)) {
            event->ignore();
            return true;
        }
        return false;
    }

private:
    QDialog* m_dialog;
};

} // namespace

void watch(QDialog* dialog)
{
    noteOpenedWith(dialog);
    if (!dialog->findChild<QObject*>(kWatcherName, Qt::FindDirectChildrenOnly))
        new Watcher(dialog);
}

void asksItself(QDialog* dialog)
{
    dialog->setProperty(kAsksItself, true);
    noteOpenedWith(dialog);
}

void notTyping(QWidget* field)
{
    field->setProperty(kNotTyping, true);
}

bool typed(const QWidget* dialog)
{
    for (const QWidget* w : dialog->findChildren<QWidget*>()) {
        QString text;
        bool edited = false;
        if (!fieldState(w, &text, &edited) || !edited || skipped(w))
            continue;
        // A field made after the dialog opened opened empty.
        if (text != w->property(kOpenedWith).toString())
            return true;
    }
    return false;
}

bool ask(QWidget* parent, const char* dangerName)
{
    return Modal::confirmDestructive(parent, QStringLiteral("Discard changes"),
                                     QStringLiteral("Discard the changes you typed? They have not been saved."),
                                     QStringLiteral("Discard"), QStringLiteral("Keep editing"), dangerName);
}

} // namespace DiscardGuard

} // namespace kvr::ui
