// Enter and Escape in a dialog, how its buttons look, and what a screen
// reader says.

#include "tests/support/Drive.h"

#include "tests/support/ScreenAudit.h"

#include "app/ui/Modal.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHash>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTextDocumentFragment>

#include <functional>
#include <memory>

namespace drive {

namespace {

// How a person names a button: its words, or the name a screen reader says
// for a button of a symbol ("‹" is "Previous month").
QString buttonName(const QAbstractButton* b)
{
    if (!b->accessibleName().isEmpty())
        return b->accessibleName();
    QString text = b->text();
    return text.remove(QLatin1Char('&'));
}

bool isEnterKey(const QKeyEvent* key)
{
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

// Sees where Enter goes and stops it there. A push button that holds the
// focus clicks itself when it is a default or auto-default one; otherwise
// the key reaches the dialog, which clicks its default button when that is
// shown and enabled (QPushButton's and QDialog's own rules).
class EnterWatch : public QObject {
public:
    EnterWatch(QDialog* dialog, QWidget* focused) : m_dialog(dialog), m_focused(focused)
    {
        dialog->installEventFilter(this);
        if (focused && focused != dialog)
            focused->installEventFilter(this);
    }
    ~EnterWatch() override
    {
        m_dialog->removeEventFilter(this);
        if (m_focused && m_focused != m_dialog)
            m_focused->removeEventFilter(this);
    }

    bool reachedDialog = false;
    QPushButton* fired = nullptr;
    QPushButton* disabledDefault = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !isEnterKey(static_cast<QKeyEvent*>(event)))
            return false;
        if (watched == m_focused && watched != m_dialog) {
            auto* button = qobject_cast<QPushButton*>(m_focused);
            if (button && (button->autoDefault() || button->isDefault())) {
                fired = button;
                return true;
            }
            return false;
        }
        reachedDialog = true;
        // As the dialog does it: the shown default fires when enabled. One
        // disabled or not shown yet ("Try again" before anything failed) is
        // the purpose waiting: Enter rightly does nothing then.
        QPushButton* hidden = nullptr;
        for (QPushButton* b : m_dialog->findChildren<QPushButton*>()) {
            if (!b->isDefault() || b->window() != m_dialog)
                continue;
            if (b->isVisible()) {
                (b->isEnabled() ? fired : disabledDefault) = b;
                hidden = nullptr;
                break;
            }
            if (!hidden)
                hidden = b;
        }
        if (hidden)
            disabledDefault = hidden;
        return true;
    }

private:
    QDialog* m_dialog;
    QWidget* m_focused;
};

QList<QPushButton*> shownDefaults(QDialog* dialog)
{
    QList<QPushButton*> defaults;
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->isDefault() && b->isVisible() && b->window() == dialog)
            defaults << b;
    return defaults;
}

// The colour most pixels of `rect` in `image` have.
QRgb commonColour(const QImage& image, const QRect& rect)
{
    QHash<QRgb, int> counts;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb best = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    return best;
}

bool alike(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 6 && qAbs(qGreen(a) - qGreen(b)) <= 6 && qAbs(qBlue(a) - qBlue(b)) <= 6;
}

// The pixels of the ring just inside `rect` that differ from `ground`, as a
// share of the ring: a border or a fill shows there, text does not.
double edgeShare(const QImage& image, const QRect& rect, QRgb ground)
{
    const QRect ring = rect.adjusted(1, 1, -1, -1).intersected(image.rect());
    int differing = 0;
    int all = 0;
    auto count = [&](int x, int y) {
        ++all;
        differing += alike(image.pixel(x, y), ground) ? 0 : 1;
    };
    for (int x = ring.left() + ring.height() / 3; x <= ring.right() - ring.height() / 3; ++x) {
        count(x, ring.top());
        count(x, ring.bottom());
    }
    return all ? double(differing) / all : 0.0;
}

QString plainText(const QLabel* label)
{
    if (label->textFormat() == Qt::PlainText
        || (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text())))
        return label->text();
    return QTextDocumentFragment::fromHtml(label->text()).toPlainText();
}

} // namespace

// ---- Enter and Escape -------------------------------------------------

QStringList pressEnter(QDialog* dialog, const QString& purpose)
{
    QStringList faults;
    const QString name = screenaudit::describe(dialog);
    activate(dialog);
    const QList<QPushButton*> defaults = shownDefaults(dialog);
    if (defaults.size() > 1) {
        QStringList names;
        for (QPushButton* b : defaults)
            names << buttonName(b);
        faults << QStringLiteral("[enter] %1: %2 default buttons (%3)")
                      .arg(name)
                      .arg(defaults.size())
                      .arg(names.join(QLatin1String(", ")));
    }
    QWidget* focused = dialog->focusWidget();
    EnterWatch watch(dialog, focused);
    QTest::keyClick(focused ? focused : dialog, Qt::Key_Return);
    const QString fired = watch.fired ? buttonName(watch.fired) : QString();
    // The purpose, disabled or hidden for now ("Play" before a recording is
    // chosen): Enter rightly does nothing.
    const bool waits = !watch.fired && watch.disabledDefault && buttonName(watch.disabledDefault) == purpose;
    if (fired != purpose && !waits) {
        const QString where =
            focused ? QStringLiteral(" with the focus on %1").arg(screenaudit::describe(focused)) : QString();
        const QString does =
            fired.isEmpty() ? QStringLiteral("fires nothing") : QStringLiteral("fires \"%1\"").arg(fired);
        faults << QStringLiteral("[enter] %1: Enter%2 %3, not %4")
                      .arg(name, where, does,
                           purpose.isEmpty() ? QStringLiteral("nothing") : QStringLiteral("\"%1\"").arg(purpose));
    }
    return faults;
}

QStringList pressEscape(QDialog* dialog)
{
    QStringList faults;
    const QString name = screenaudit::describe(dialog);
    activate(dialog);
    QList<QAbstractButton*> buttons = dialog->findChildren<QAbstractButton*>();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (QAbstractButton* b : buttons)
        spies.push_back(std::make_unique<QSignalSpy>(b, &QAbstractButton::clicked));
    QWidget* focused = dialog->focusWidget();
    QTest::keyClick(focused ? focused : dialog, Qt::Key_Escape);
    if (!QTest::qWaitFor([dialog] { return !dialog->isVisible(); }, 1000))
        faults << QStringLiteral("[escape] %1: Escape leaves it open").arg(name);
    for (size_t i = 0; i < spies.size(); ++i) {
        if (spies[i]->isEmpty())
            continue;
        QAbstractButton* b = buttons.at(qsizetype(i));
        auto* box = qobject_cast<QDialogButtonBox*>(b->parentWidget());
        const QDialogButtonBox::ButtonRole role = box ? box->buttonRole(b) : QDialogButtonBox::InvalidRole;
        const bool wayOut = role == QDialogButtonBox::RejectRole || role == QDialogButtonBox::NoRole
            || (box && box->buttons().size() == 1);
        if (!wayOut)
            faults << QStringLiteral("[escape] %1: Escape fires \"%2\"").arg(name, buttonName(b));
    }
    return faults;
}

namespace {

// The first field of `dialog` in the order of Tab that a person types into:
// a text field (an editable drop-down's too), a text box, a number box. A
// search (marked so) is not one.
QWidget* typingField(QDialog* dialog)
{
    for (QWidget* w = dialog->nextInFocusChain(); w && w != dialog; w = w->nextInFocusChain()) {
        if (w->window() != dialog || !w->isVisible() || !w->isEnabled() || w->property("kvrNotTyping").toBool())
            continue;
        if (auto* edit = qobject_cast<QLineEdit*>(w);
            edit && !edit->isReadOnly() && !qobject_cast<QAbstractSpinBox*>(edit->parentWidget()))
            return edit;
        if (auto* text = qobject_cast<QPlainTextEdit*>(w); text && !text->isReadOnly())
            return text;
        if (qobject_cast<QSpinBox*>(w))
            return w;
    }
    return nullptr;
}

QString textOf(QWidget* field)
{
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        return edit->text();
    if (auto* text = qobject_cast<QPlainTextEdit*>(field))
        return text->toPlainText();
    return static_cast<QSpinBox*>(field)->text();
}

} // namespace

QStringList escapeAfterTyping(QDialog* dialog, bool* typedIn)
{
    QStringList faults;
    QWidget* field = typingField(dialog);
    if (typedIn)
        *typedIn = field != nullptr;
    if (!field)
        return faults;
    const QString name = screenaudit::describe(dialog);
    activate(dialog);
    QWidget* focusedBefore = dialog->focusWidget();
    field->setFocus(Qt::TabFocusReason);
    const QString before = textOf(field);
    auto* spin = qobject_cast<QSpinBox*>(field);
    const int valueBefore = spin ? spin->value() : 0;
    if (spin) {
        QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(spin, QString::number(valueBefore < spin->maximum() ? valueBefore + 1 : spin->minimum()));
    } else {
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClicks(field, QStringLiteral(" by hand"));
    }
    const QString typed = textOf(field);
    QString asked;
    const int pendingBefore = kvr::ui::Modal::pending();
    kvr::ui::Modal::respondFirst([&asked](QDialog& question) {
        asked = question.windowTitle();
        return int(QMessageBox::RejectRole); // Keep editing
    });
    QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Escape);
    QCoreApplication::processEvents();
    if (asked.isEmpty()) {
        faults << QStringLiteral("[escape] %1: Escape throws \"%2\" typed into %3 away without asking")
                      .arg(name, typed, screenaudit::describe(field));
        // The answer nobody asked for goes (where nothing else was queued).
        if (pendingBefore == 0 && kvr::ui::Modal::pending() > 0)
            kvr::ui::Modal::reset();
    } else if (!dialog->isVisible()) {
        faults << QStringLiteral("[escape] %1: closes though \"Keep editing\" was answered").arg(name);
    } else if (textOf(field) != typed) {
        faults << QStringLiteral("[escape] %1: %2 reads \"%3\" after \"Keep editing\", not \"%4\" as typed")
                      .arg(name, screenaudit::describe(field), textOf(field), typed);
    }
    // As it was.
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        edit->setText(before);
    else if (auto* text = qobject_cast<QPlainTextEdit*>(field))
        text->setPlainText(before);
    else if (spin)
        spin->setValue(valueBefore);
    // The focus where the dialog had it, by nobody's choice.
    if (focusedBefore && focusedBefore != field)
        focusedBefore->setFocus(Qt::OtherFocusReason);
    else if (!focusedBefore)
        field->clearFocus();
    return faults;
}

QStringList buttonLooks(QDialog* dialog)
{
    QStringList faults;
    const QImage image = dialog->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const qreal ratio = dialog->devicePixelRatioF();
    for (QDialogButtonBox* row : dialog->findChildren<QDialogButtonBox*>()) {
        if (!row->isVisible())
            continue;
        struct Seen {
            QPushButton* button;
            QRgb fill;
        };
        QList<Seen> seen;
        for (QAbstractButton* b : row->buttons()) {
            auto* push = qobject_cast<QPushButton*>(b);
            if (!push || !push->isVisible())
                continue;
            const QRect logical(push->mapTo(dialog, QPoint(0, 0)), push->size());
            const QRect r(logical.topLeft() * ratio, logical.size() * ratio);
            // What lies around the button: the colour of a band just outside it.
            const QRgb ground = commonColour(image, QRect(r.left() - 4, r.top() - 4, r.width() + 8, 3));
            const QRgb fill = commonColour(image, r.adjusted(2, 2, -2, -2));
            if (alike(fill, ground) && edgeShare(image, r, ground) < 0.5)
                faults << QStringLiteral("[looks] %1: drawn as plain text, not as a button")
                              .arg(screenaudit::describe(push));
            seen << Seen{push, fill};
        }
        for (const Seen& d : seen) {
            if (!d.button->isDefault())
                continue;
            for (const Seen& other : seen)
                if (other.button != d.button && alike(other.fill, d.fill))
                    faults << QStringLiteral("[looks] %1: the default button looks like %2")
                                  .arg(screenaudit::describe(d.button), screenaudit::describe(other.button));
        }
    }
    return faults;
}

// ---- What a screen reader says -----------------------------------------

QStringList heard(QWidget* window)
{
    QStringList faults;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* a, int depth) {
        if (!a || depth > 60 || a->state().invisible)
            return;
        auto* w = qobject_cast<QWidget*>(a->object());
        const QString said = a->text(QAccessible::Name).trimmed();
        const QAccessible::Role role = a->role();
        if (w && w->isVisible()
            && (role == QAccessible::Button || role == QAccessible::PushButton || role == QAccessible::CheckBox
                || role == QAccessible::RadioButton || role == QAccessible::ButtonMenu)
            && said.isEmpty())
            faults << QStringLiteral("[heard] %1: a button a screen reader cannot name").arg(screenaudit::describe(w));
        if (auto* label = qobject_cast<QLabel*>(w); label && label->isVisible() && !label->accessibleName().isEmpty()) {
            // Every part of what shows (a text shortened with "…" in pieces)
            // is in what is said.
            const QString shown = plainText(label).simplified();
            const QString spoken = said.simplified();
            // A masked value ("••••••••") is not read out.
            const bool masked = !shown.isEmpty() && shown.count(QChar(0x2022)) == shown.size();
            bool says = true;
            for (const QString& piece : shown.split(QChar(0x2026), Qt::SkipEmptyParts))
                says = says && spoken.contains(piece.trimmed(), Qt::CaseInsensitive);
            if (!says && !masked)
                faults << QStringLiteral("[heard] %1: a screen reader says \"%2\", not what it shows")
                              .arg(screenaudit::describe(label), said);
        }
        for (int i = 0; i < a->childCount(); ++i)
            walk(a->child(i), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(window), 0);
    return faults;
}

} // namespace drive
