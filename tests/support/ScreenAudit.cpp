#include "tests/support/ScreenAudit.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTest>
#include <QTextDocument>

#include <functional>
#include <QTextEdit>
#include <QToolButton>

namespace screenaudit {

namespace {

// Rounding of fractional font metrics; a text this much wider than its room
// still shows whole.
constexpr int kSlackPx = 1;
// Set KVR_AUDIT_TRACE to see each Tab step of the walk in the test log.
// Tab presses after which a walk that never came back is given up, and
// presses on one control after which it counts as a trap (tables move
// through their cells first).
constexpr int kMaxTabPresses = 6000;
constexpr int kTrapPresses = 1500;

QString shortText(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.size() > 60 ? text.left(57) + QStringLiteral("...") : text;
}

// Parts of a widget that its owner stands for: the field inside a number
// box or drop-down, a field's own icons, the scroll buttons of a tab bar, the
// calendar's own buttons, a scroll bar's arrows, a table's header.
bool isInnerPart(const QWidget* w)
{
    if (qobject_cast<const QHeaderView*>(w))
        return true;
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget()) {
        if (qobject_cast<const QAbstractSpinBox*>(p) || qobject_cast<const QComboBox*>(p)
            || qobject_cast<const QTabBar*>(p) || qobject_cast<const QCalendarWidget*>(p)
            || qobject_cast<const QScrollBar*>(p) || qobject_cast<const QLineEdit*>(p))
            return true;
        if (p->isWindow())
            break;
    }
    return false;
}

// Widgets of `root`'s window that a person sees now.
QList<QWidget*> shownWidgets(const QWidget* root)
{
    QList<QWidget*> out;
    const QWidget* window = root->window();
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (w->window() != window || !w->isVisible() || w->width() <= 0 || w->height() <= 0)
            continue;
        out << w;
    }
    return out;
}

// How much of `w` its ancestors up to the window leave visible, in its own
// coordinates. The view of a scroll area cuts nothing off in a direction the
// area can scroll in: the user scrolls there to read the rest.
QRect visiblePart(const QWidget* w)
{
    QRect r = w->rect();
    QPoint offset(0, 0);
    bool scrollsAcross = false;
    bool scrollsDown = false;
    for (const QWidget* c = w; !c->isWindow() && c->parentWidget(); c = c->parentWidget()) {
        offset += c->pos();
        const QWidget* parent = c->parentWidget();
        if (auto* area = qobject_cast<const QAbstractScrollArea*>(parent->parentWidget());
            area && area->viewport() == parent) {
            // A bar turned off leaves the rest out of reach.
            scrollsAcross = scrollsAcross
                || (area->horizontalScrollBar()->maximum() > 0
                    && area->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff);
            scrollsDown = scrollsDown
                || (area->verticalScrollBar()->maximum() > 0
                    && area->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff);
        }
        QRect parentRect = parent->rect().translated(-offset);
        if (scrollsAcross) {
            parentRect.setLeft(r.left());
            parentRect.setRight(r.right());
        }
        if (scrollsDown) {
            parentRect.setTop(r.top());
            parentRect.setBottom(r.bottom());
        }
        r &= parentRect;
    }
    return r;
}

bool isElided(const QString& shown)
{
    return shown.contains(QChar(0x2026));
}

// An elided text passes when its tool tip holds every shown part of it.
QString elisionFault(const QWidget* w, const QString& shown)
{
    const QString tip = w->toolTip();
    if (tip.isEmpty())
        return QStringLiteral("shortened with \"…\" but has no tool tip");
    for (const QString& part : shown.split(QChar(0x2026), Qt::SkipEmptyParts))
        if (!tip.contains(part.trimmed()))
            return QStringLiteral("tool tip \"%1\" does not hold the shortened text").arg(shortText(tip));
    return {};
}

QString sizeFault(QSize need, QSize room)
{
    return QStringLiteral("needs %1x%2, has %3x%4")
        .arg(need.width())
        .arg(need.height())
        .arg(room.width())
        .arg(room.height());
}

bool exceeds(QSize need, QSize room)
{
    return need.width() > room.width() + kSlackPx || need.height() > room.height() + kSlackPx;
}

bool isRich(const QLabel* label)
{
    return label->textFormat() == Qt::RichText
        || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
}

// Where QLabel lays its text out: the contents less margin and indent.
QRect labelRoom(const QLabel* label)
{
    QRect cr = label->contentsRect();
    const int margin = label->margin();
    cr.adjust(margin, margin, -margin, -margin);
    int indent = label->indent();
    if (indent < 0 && label->frameWidth())
        indent = label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin;
    if (indent > 0) {
        const Qt::Alignment a = QStyle::visualAlignment(label->layoutDirection(), label->alignment());
        if (a & Qt::AlignLeft)
            cr.setLeft(cr.left() + indent);
        if (a & Qt::AlignRight)
            cr.setRight(cr.right() - indent);
        if (a & Qt::AlignTop)
            cr.setTop(cr.top() + indent);
        if (a & Qt::AlignBottom)
            cr.setBottom(cr.bottom() - indent);
    }
    return cr;
}

QString labelFault(const QLabel* label)
{
    const QString text = label->text();
    if (text.trimmed().isEmpty())
        return {};
    const QRect room = labelRoom(label);
    QSize need;
    if (isRich(label)) {
        QTextDocument doc;
        doc.setDefaultFont(label->font());
        doc.setDocumentMargin(0);
        doc.setHtml(text);
        if (label->wordWrap())
            doc.setTextWidth(room.width());
        need = QSize(qCeil(label->wordWrap() ? doc.size().width() : doc.idealWidth()), qCeil(doc.size().height()));
    } else {
        const QFontMetrics fm(label->font());
        const int mnemonic = label->buddy() ? int(Qt::TextShowMnemonic) : 0;
        if (label->wordWrap())
            need = fm.boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap | mnemonic, text).size();
        else
            need = fm.size(mnemonic, text);
    }
    if (exceeds(need, room.size()))
        return sizeFault(need, room.size());
    if (isElided(text))
        return elisionFault(label, text);
    return {};
}

QSize textSize(const QFont& font, const QString& text)
{
    return QFontMetrics(font).size(Qt::TextShowMnemonic, text);
}

QString buttonFault(QAbstractButton* button)
{
    const QString text = button->text();
    const bool hasIcon = !button->icon().isNull();
    if (text.isEmpty() && !hasIcon)
        return {};
    QSize need = text.isEmpty() ? QSize() : textSize(button->font(), text);
    if (hasIcon) {
        need.setWidth(need.width() + button->iconSize().width() + (text.isEmpty() ? 0 : 4));
        need.setHeight(qMax(need.height(), button->iconSize().height()));
    }
    QRect room = button->rect();
    if (auto* push = qobject_cast<QPushButton*>(button)) {
        QStyleOptionButton opt;
        opt.initFrom(push);
        opt.text = text;
        opt.icon = push->icon();
        opt.iconSize = push->iconSize();
        opt.features = QStyleOptionButton::None;
        if (push->isFlat())
            opt.features |= QStyleOptionButton::Flat;
        if (push->menu()) {
            opt.features |= QStyleOptionButton::HasMenu;
            need.setWidth(need.width() + push->style()->pixelMetric(QStyle::PM_MenuButtonIndicator, &opt, push));
        }
        if (push->autoDefault() || push->isDefault())
            opt.features |= QStyleOptionButton::AutoDefaultButton;
        room = push->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, push);
    } else if (qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = text;
        opt.icon = button->icon();
        opt.iconSize = button->iconSize();
        const bool check = qobject_cast<QCheckBox*>(button);
        room = button->style()->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents,
                                               &opt, button);
    } else if (auto* tool = qobject_cast<QToolButton*>(button)) {
        if (tool->toolButtonStyle() == Qt::ToolButtonIconOnly || text.isEmpty())
            return {};
        const QSize hint = tool->sizeHint();
        if (tool->width() + kSlackPx < hint.width() || tool->height() + kSlackPx < hint.height())
            return sizeFault(hint, tool->size());
        return {};
    }
    if (exceeds(need, room.size()))
        return sizeFault(need, room.size());
    if (isElided(text))
        return elisionFault(button, text);
    return {};
}

// The room a line edit gives its text: its contents less the text margins
// and the two pixels QLineEdit keeps on each side.
int lineEditRoom(const QLineEdit* edit)
{
    QStyleOptionFrame opt;
    opt.initFrom(edit);
    opt.rect = edit->rect();
    opt.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    QRect r = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
    const QMargins m = edit->textMargins();
    r.adjust(m.left(), m.top(), -m.right(), -m.bottom());
    // Each icon of the field (an action, the clear button) keeps a box at
    // the side, shown or faded out.
    const int icon = edit->style()->pixelMetric(QStyle::PM_LineEditIconSize, nullptr, edit) + 6
        + edit->style()->pixelMetric(QStyle::PM_LineEditIconMargin, nullptr, edit);
    for (const QToolButton* b : edit->findChildren<QToolButton*>(Qt::FindDirectChildrenOnly))
        if (b->isVisibleTo(edit))
            r.setWidth(r.width() - icon);
    return r.width() - 2 * 2;
}

QString fieldFault(const QLineEdit* edit, const QString& text)
{
    if (text.isEmpty())
        return {};
    const int need = QFontMetrics(edit->font()).horizontalAdvance(text);
    const int room = lineEditRoom(edit);
    if (need > room + kSlackPx)
        return QStringLiteral("needs %1 px, has %2").arg(need).arg(room);
    return {};
}

QString comboFault(QComboBox* combo)
{
    const QString text = combo->currentText();
    if (text.isEmpty())
        return {};
    QStyleOptionComboBox opt;
    opt.initFrom(combo);
    opt.editable = combo->isEditable();
    opt.frame = combo->hasFrame();
    opt.currentText = text;
    opt.currentIcon = combo->itemIcon(combo->currentIndex());
    opt.iconSize = combo->iconSize();
    const QRect room = combo->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
    int need = QFontMetrics(combo->font()).horizontalAdvance(text);
    if (!opt.currentIcon.isNull())
        need += opt.iconSize.width() + 4;
    if (need > room.width() + kSlackPx)
        return QStringLiteral("needs %1 px, has %2").arg(need).arg(room.width());
    return {};
}

QString textFault(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return labelFault(label);
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return buttonFault(button);
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->isEditable() ? QString() : comboFault(combo);
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(w)) {
        const QLineEdit* edit = spin->findChild<QLineEdit*>();
        return edit ? fieldFault(edit, edit->displayText()) : QString();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        // A typed text scrolls as the user types; a hint must read whole.
        if (isInnerPart(edit) || !edit->text().isEmpty())
            return {};
        return fieldFault(edit, edit->placeholderText());
    }
    return {};
}

bool hasText(const QWidget* w)
{
    if (auto* label = qobject_cast<const QLabel*>(w))
        return !label->text().trimmed().isEmpty();
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return !button->text().isEmpty();
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w);
}

// A list or table that only shows: nothing to select, edit or tick.
bool onlyShows(const QAbstractItemView* view)
{
    if (view->selectionMode() != QAbstractItemView::NoSelection
        || view->editTriggers() != QAbstractItemView::NoEditTriggers || !view->model())
        return false;
    const QAbstractItemModel* model = view->model();
    QList<QModelIndex> pending{QModelIndex()};
    for (int seen = 0; !pending.isEmpty() && seen < 500;) {
        const QModelIndex parent = pending.takeFirst();
        for (int r = 0; r < model->rowCount(parent) && seen < 500; ++r, ++seen) {
            for (int c = 0; c < model->columnCount(parent); ++c) {
                const QModelIndex cell = model->index(r, c, parent);
                if ((model->flags(cell) & Qt::ItemIsUserCheckable) && cell.data(Qt::CheckStateRole).isValid())
                    return false; // a box to tick
            }
            pending << model->index(r, 0, parent);
        }
    }
    return true;
}

bool isControl(const QWidget* w)
{
    if (qobject_cast<const QScrollBar*>(w))
        return false;
    if (auto* view = qobject_cast<const QAbstractItemView*>(w))
        return !onlyShows(view);
    if (qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w)
        || qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QAbstractSlider*>(w)
        || qobject_cast<const QTabBar*>(w))
        return true;
    if (auto* edit = qobject_cast<const QLineEdit*>(w))
        return !edit->isReadOnly();
    if (auto* text = qobject_cast<const QPlainTextEdit*>(w))
        return !text->isReadOnly();
    if (auto* text = qobject_cast<const QTextEdit*>(w))
        return !text->isReadOnly();
    // Whatever says "click me" with its pointer.
    return w->testAttribute(Qt::WA_SetCursor) && w->cursor().shape() == Qt::PointingHandCursor;
}

bool takesTab(const QWidget* w)
{
    return w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus;
}

} // namespace

QString describe(const QWidget* w)
{
    QString out = QString::fromLatin1(w->metaObject()->className());
    if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
        out += QLatin1Char('#') + w->objectName();
    QString text;
    if (auto* label = qobject_cast<const QLabel*>(w))
        text = label->text();
    else if (auto* button = qobject_cast<const QAbstractButton*>(w))
        text = button->text();
    else if (auto* combo = qobject_cast<const QComboBox*>(w))
        text = combo->currentText();
    else if (auto* spin = qobject_cast<const QAbstractSpinBox*>(w))
        text = spin->text();
    else if (auto* edit = qobject_cast<const QLineEdit*>(w))
        text = edit->text().isEmpty() ? edit->placeholderText() : edit->text();
    if (text.isEmpty())
        text = w->accessibleName().isEmpty() ? w->toolTip() : w->accessibleName();
    if (!text.isEmpty())
        out += QStringLiteral(" \"%1\"").arg(shortText(text));
    return out;
}

QStringList cutTexts(const QWidget* root)
{
    QStringList faults;
    for (QWidget* w : shownWidgets(root)) {
        if (!hasText(w) && !qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractButton*>(w))
            continue;
        if (isInnerPart(w) && !qobject_cast<QLineEdit*>(w))
            continue;
        QString fault = textFault(w);
        if (fault.isEmpty() && hasText(w)) {
            // Laid out whole, but pushed past an edge of what holds it.
            const QRect seen = visiblePart(w);
            if (seen.width() + kSlackPx < w->width() || seen.height() + kSlackPx < w->height())
                fault = QStringLiteral("cut off by its container: %1x%2 of %3x%4 visible")
                            .arg(seen.width())
                            .arg(seen.height())
                            .arg(w->width())
                            .arg(w->height());
        }
        if (!fault.isEmpty())
            faults << describe(w) + QStringLiteral(": ") + fault;
    }
    return faults;
}

namespace {

// What a walk of the accessibility tree down from `root` meets, as a screen
// reader or a test driving the program from outside would find it.
QSet<const QObject*> inAccessibilityTree(const QWidget* root)
{
    QSet<const QObject*> seen;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* a, int depth) {
        if (!a || depth > 60)
            return;
        if (const QObject* o = a->object())
            seen.insert(o);
        for (int i = 0; i < a->childCount(); ++i)
            walk(a->child(i), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(const_cast<QWidget*>(root)), 0);
    return seen;
}

} // namespace

QStringList unnamedControls(const QWidget* root)
{
    QStringList faults;
    const QSet<const QObject*> reachable = inAccessibilityTree(root->window());
    for (QWidget* w : shownWidgets(root)) {
        if (!takesTab(w) || isInnerPart(w))
            continue;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        const QString name = iface ? iface->text(QAccessible::Name).trimmed() : QString();
        if (name.isEmpty())
            faults << describe(w) + QStringLiteral(": no accessible name");
        else if (!reachable.contains(w))
            faults << describe(w) + QStringLiteral(": not in the accessibility tree");
    }
    return faults;
}

QStringList unreachableByTab(QWidget* window)
{
    QStringList faults;
    QList<QWidget*> wanted;
    for (QWidget* w : shownWidgets(window))
        if (w->isEnabled() && isControl(w) && !isInnerPart(w))
            wanted << w;
    if (wanted.isEmpty())
        return faults;

    // The first Tab stop of the window, as Tab from nothing would find it.
    QWidget* start = nullptr;
    for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
        if (w->window() == window && w->isVisible() && takesTab(w)) {
            start = w;
            break;
        }
    }
    if (!start)
        return {QStringLiteral("no control takes the focus by Tab")};
    start->setFocus(Qt::TabFocusReason);

    QSet<QWidget*> reached;
    QWidget* current = window->focusWidget();
    int samePresses = 0;
    for (int press = 0; press < kMaxTabPresses && current; ++press) {
        reached.insert(current);
        QTest::keyClick(current, Qt::Key_Tab);
        QWidget* next = window->focusWidget();
        if (next == current) {
            // A table walks its cells first and a date field its parts; a
            // text box that types the Tab keeps the keyboard for ever; a lone
            // control is the whole round.
            const bool walksCells = qobject_cast<QAbstractItemView*>(current)
                || qobject_cast<QAbstractSpinBox*>(current) || qobject_cast<QAbstractSpinBox*>(current->parentWidget());
            const bool typesTabs =
                (qobject_cast<QPlainTextEdit*>(current) && !static_cast<QPlainTextEdit*>(current)->tabChangesFocus())
                || (qobject_cast<QTextEdit*>(current) && !static_cast<QTextEdit*>(current)->tabChangesFocus());
            if (typesTabs) {
                faults << describe(current) + QStringLiteral(": Tab never leaves it");
                break;
            }
            if (!walksCells)
                break;
            if (++samePresses >= kTrapPresses) {
                faults << describe(current) + QStringLiteral(": Tab never leaves it");
                break;
            }
            continue;
        }
        samePresses = 0;
        if (qEnvironmentVariableIsSet("KVR_AUDIT_TRACE"))
            qDebug().noquote() << "tab" << describe(current) << "->"
                               << (next ? describe(next) : QStringLiteral("none"));
        if (next == start)
            break;
        current = next;
    }

    for (QWidget* w : std::as_const(wanted)) {
        // A control counts as reached when the focus landed on it or on the
        // widget it hands its focus to. Buttons of an exclusive group are one
        // stop: Tab lands on the chosen one and the arrow keys move on.
        QWidget* proxy = w->focusProxy() ? w->focusProxy() : w;
        bool ok = reached.contains(proxy) || reached.contains(w);
        if (auto* button = qobject_cast<QAbstractButton*>(w);
            !ok && button && button->group() && button->group()->exclusive()) {
            for (QAbstractButton* other : button->group()->buttons())
                ok = ok || reached.contains(other);
        }
        if (!ok)
            faults << describe(w) + QStringLiteral(": Tab never reaches it");
    }
    return faults;
}

QStringList audit(QWidget* window, const QString& label)
{
    QStringList all;
    const auto add = [&](const QString& kind, const QStringList& faults) {
        for (const QString& f : faults)
            all << QStringLiteral("%1 [%2] %3").arg(label, kind, f);
    };
    add(QStringLiteral("text"), cutTexts(window));
    add(QStringLiteral("name"), unnamedControls(window));
    add(QStringLiteral("tab"), unreachableByTab(window));
    return all;
}

bool screenshot(QWidget* root, const QString& dir, const QString& name)
{
    QDir().mkpath(dir);
    return root->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace screenaudit
