#include "tests/support/ScreenAudit.h"

#include "app/ui/Fitting.h"
#include "tests/support/AuditChecks.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTextDocument>
#include <QToolButton>
#include <QtMath>

using namespace kvr::ui;

namespace screenaudit {

namespace {

const QChar kEllipsis(0x2026);

bool isElided(const QString& shown)
{
    return shown.contains(kEllipsis);
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

// A shortened text passes when it is readable whole and would not fit the
// room it has.
QString elisionFault(const QWidget* w, const QString& shown, const QFont& font, int room)
{
    QString fault;
    const QString whole = wholeText(w, shown, &fault);
    if (whole.isEmpty())
        return fault;
    // Within a pixel counts as fitting: the last letter would lose less
    // than a pixel, where "…" loses a word.
    const qreal need = QFontMetricsF(font).horizontalAdvance(whole.section(QLatin1Char('\n'), 0, 0));
    if (need <= room + kSlackPx)
        return QStringLiteral("shortened though its whole text fits (needs %1 px, has %2)")
            .arg(need, 0, 'f', 1)
            .arg(room);
    return {};
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
        return elisionFault(label, text, label->font(), room.width());
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
    int iconRoom = 0;
    if (hasIcon) {
        iconRoom = button->iconSize().width() + (text.isEmpty() ? 0 : 4);
        need.setWidth(need.width() + iconRoom);
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
        return elisionFault(button, text, button->font(), room.width() - iconRoom);
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

// A text that says the same bracketed part twice over ("12 x 10 (120)  (120)").
QString repeatFault(const QString& text)
{
    static const QRegularExpression twice(QStringLiteral("(\\([^()]+\\))\\s*\\1"));
    const QRegularExpressionMatch m = twice.match(text);
    return m.hasMatch() ? QStringLiteral("says \"%1\" twice").arg(m.captured(1)) : QString();
}

QString shownText(const QWidget* w)
{
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    return {};
}

} // namespace

// The whole of a shortened text: an ElidedLabel knows it; otherwise the
// tool tip must give it. Empty with `fault` set when it cannot be read.
QString wholeText(const QWidget* w, const QString& shown, QString* fault)
{
    if (auto* elided = qobject_cast<const ElidedLabel*>(w))
        return elided->fullText();
    const QString tip = w->toolTip();
    if (tip.isEmpty()) {
        *fault = QStringLiteral("shortened with \"…\" but has no tool tip");
        return {};
    }
    // Direction marks around the parts of a right-to-left name, and the
    // joiner that keeps an Arabic letter joined before "…", are no text.
    const auto bare = [](QString s) {
        s.removeIf([](QChar c) {
            return c.unicode() == 0x200D || (c.unicode() >= 0x200E && c.unicode() <= 0x200F)
                || (c.unicode() >= 0x202A && c.unicode() <= 0x202E) || (c.unicode() >= 0x2066 && c.unicode() <= 0x2069);
        });
        return s;
    };
    const QString whole = bare(tip);
    for (const QString& part : shown.split(kEllipsis, Qt::SkipEmptyParts))
        if (!whole.contains(bare(part).trimmed())) {
            *fault = QStringLiteral("tool tip \"%1\" does not hold the shortened text").arg(shortText(tip));
            return {};
        }
    return tip;
}

QStringList textFaults(const Scene& scene)
{
    QStringList faults;
    for (const SceneWidget& s : scene.widgets) {
        QWidget* w = s.widget;
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            // Every entry of a drop-down is read when it opens.
            for (int i = 0; i < combo->count(); ++i)
                if (const QString repeat = repeatFault(combo->itemText(i)); !repeat.isEmpty())
                    faults << describe(w) + QStringLiteral(": entry \"%1\" ").arg(shortText(combo->itemText(i)))
                            + repeat;
        }
        if (w == scene.window || (!hasText(w) && !qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractButton*>(w)))
            continue;
        if (isInnerPart(w) && !qobject_cast<QLineEdit*>(w))
            continue;
        QString fault = textFault(w);
        if (fault.isEmpty() && hasText(w)) {
            // Laid out whole, but pushed past an edge of what holds it.
            const QRect seen = s.visible.translated(-s.rect.topLeft());
            if (seen.width() + kSlackPx < w->width() || seen.height() + kSlackPx < w->height())
                fault = QStringLiteral("cut off by its container: %1x%2 of %3x%4 visible")
                            .arg(seen.width())
                            .arg(seen.height())
                            .arg(w->width())
                            .arg(w->height());
        }
        if (fault.isEmpty())
            fault = repeatFault(shownText(w));
        if (!fault.isEmpty())
            faults << describe(w) + QStringLiteral(": ") + fault;
    }
    return faults;
}

namespace {

// A window that never held still, as a fault line; empty when it settled.
QStringList settleFaults(QWidget* window)
{
    const QString why = settle(window);
    if (why.isEmpty())
        return {};
    return {describe(window) + QStringLiteral(": did not hold still: ") + why};
}

} // namespace

QStringList run(Check check, QWidget* window, const Setting& setting)
{
    if (const QStringList moving = settleFaults(window); !moving.isEmpty())
        return moving;
    const Scene scene = takeScene(window);
    switch (check) {
    case Check::Text:
        return textFaults(scene);
    case Check::Painted:
        return paintedFaults(scene);
    case Check::Alike:
        return alikeFaults(scene);
    case Check::Overlap:
        return overlapFaults(scene);
    case Check::Screen:
        return screenFaults(scene, setting);
    case Check::Contrast:
        return contrastFaults(scene, setting);
    case Check::Looks:
        return looksFaults(scene);
    case Check::Words:
        return wordFaults(scene, setting);
    case Check::Names:
        return nameFaults(scene);
    case Check::Tab:
        return tabFaults(scene);
    }
    return {};
}

QStringList audit(QWidget* window, const QString& label, const Setting& setting)
{
    QStringList all;
    const auto add = [&](const char* kind, const QStringList& faults) {
        for (const QString& f : faults)
            all << QStringLiteral("%1 [%2] %3").arg(label, QLatin1String(kind), f);
    };
    add("settle", settleFaults(window));
    const Scene scene = takeScene(window);
    add("text", textFaults(scene));
    add("painted", paintedFaults(scene));
    add("alike", alikeFaults(scene));
    add("overlap", overlapFaults(scene));
    add("screen", screenFaults(scene, setting));
    add("contrast", contrastFaults(scene, setting));
    add("looks", looksFaults(scene));
    add("words", wordFaults(scene, setting));
    add("name", nameFaults(scene));
    // Last: the walk with Tab moves the focus.
    add("tab", tabFaults(scene));
    return all;
}

bool screenshot(QWidget* root, const QString& dir, const QString& name)
{
    QDir().mkpath(dir);
    return root->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace screenaudit
