#include "app/ui/Fitting.h"

#include "app/ui/NamesApart.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QEvent>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyleOptionSpinBox>
#include <QTimer>
#include <QToolTip>
#include <QWidgetItem>
#include <QtMath>

#include <algorithm>
#include <functional>

namespace kvr::ui {

// ---- WrapRow -------------------------------------------------------------------

WrapRow::WrapRow(QWidget* parent, int hSpacing, int vSpacing, Sizing sizing)
    : QLayout(parent),
      m_hSpacing(hSpacing),
      m_vSpacing(vSpacing),
      m_sizing(sizing)
{
    setContentsMargins(0, 0, 0, 0);
}

WrapRow::~WrapRow()
{
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void WrapRow::addLeading(QWidget* w)
{
    addChildWidget(w);
    m_items.append({new QWidgetItemV2(w), false});
    invalidate();
}

void WrapRow::addTrailing(QWidget* w)
{
    addChildWidget(w);
    m_items.append({new QWidgetItemV2(w), true});
    invalidate();
}

void WrapRow::addItem(QLayoutItem* item)
{
    m_items.append({item, false});
    invalidate();
}

QLayoutItem* WrapRow::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index).item : nullptr;
}

QLayoutItem* WrapRow::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index).item;
    invalidate();
    return item;
}

Qt::Orientations WrapRow::expandingDirections() const
{
    return m_sizing == Sizing::FitLine ? Qt::Horizontal : Qt::Orientations();
}

bool WrapRow::placed(const Entry& e) const
{
    return m_sizing == Sizing::AtHint || !e.item->isEmpty();
}

QSize WrapRow::itemSize(const Entry& e, int lineWidth) const
{
    if (m_sizing == Sizing::AtHint)
        return e.item->sizeHint();
    QSize s = e.item->sizeHint().expandedTo(e.item->minimumSize()).boundedTo(e.item->maximumSize());
    s.setWidth(qMax(qMin(s.width(), lineWidth), 0));
    if (e.item->hasHeightForWidth())
        s.setHeight(e.item->heightForWidth(s.width()));
    return s;
}

QList<QList<int>> WrapRow::lines(int width) const
{
    QList<QList<int>> out;
    QList<int> line;
    int used = 0;
    int height = 0;
    for (int i = 0; i < m_items.size(); ++i) {
        if (!placed(m_items.at(i)))
            continue;
        const QSize s = itemSize(m_items.at(i), width);
        // At size hints only an item with height counts as standing on the
        // line: a hidden one at its start does not push the next one on.
        const bool taken = m_sizing == Sizing::AtHint ? height >= 1 : !line.isEmpty();
        if (taken && used + m_hSpacing + s.width() > width) {
            out << line;
            line.clear();
            height = 0;
        }
        used = line.isEmpty() ? s.width() : used + m_hSpacing + s.width();
        height = qMax(height, s.height());
        line << i;
    }
    if (!line.isEmpty())
        out << line;
    return out;
}

int WrapRow::arrange(const QRect& rect, bool apply) const
{
    const QMargins m = contentsMargins();
    const QRect area = rect.marginsRemoved(m);
    int y = area.top();
    const QList<QList<int>> all = lines(area.width());
    for (const QList<int>& line : all) {
        QList<QSize> sizes;
        int height = 0;
        int trailingWidth = -m_hSpacing;
        for (int i : line) {
            sizes << itemSize(m_items.at(i), area.width());
            height = qMax(height, sizes.last().height());
            if (m_items.at(i).trailing)
                trailingWidth += sizes.last().width() + m_hSpacing;
        }
        if (apply) {
            int used = -m_hSpacing;
            for (const QSize& size : sizes)
                used += size.width() + m_hSpacing;
            for (qsizetype k = 0; m_sizing == Sizing::FitLine && k < line.size(); ++k) {
                if (m_items.at(line.at(k)).item->expandingDirections() & Qt::Horizontal) {
                    sizes[k].rwidth() += qMax(area.width() - used, 0);
                    if (m_items.at(line.at(k)).trailing)
                        trailingWidth += qMax(area.width() - used, 0);
                    break;
                }
            }
            int left = area.left();
            int right = area.right() + 1 - qMax(trailingWidth, 0);
            for (qsizetype k = 0; k < line.size(); ++k) {
                const Entry& e = m_items.at(line.at(k));
                const QSize s = sizes.at(k);
                int& x = e.trailing ? right : left;
                const int top = m_sizing == Sizing::AtHint ? y : y + (height - s.height()) / 2;
                e.item->setGeometry(QRect(QPoint(x, top), s));
                x += s.width() + m_hSpacing;
            }
        }
        y += height + m_vSpacing;
    }
    const int used = all.isEmpty() ? 0 : y - m_vSpacing - area.top();
    return used + m.top() + m.bottom();
}

int WrapRow::heightForWidth(int width) const
{
    return arrange(QRect(0, 0, width, 0), false);
}

QSize WrapRow::sizeHint() const
{
    if (m_sizing == Sizing::AtHint)
        return minimumSize();
    int width = 0;
    int height = 0;
    int shown = 0;
    for (const Entry& e : m_items) {
        if (e.item->isEmpty())
            continue;
        const QSize s = e.item->sizeHint();
        width += s.width();
        height = qMax(height, s.height());
        ++shown;
    }
    const QMargins m = contentsMargins();
    return {width + qMax(shown - 1, 0) * m_hSpacing + m.left() + m.right(), height + m.top() + m.bottom()};
}

QSize WrapRow::minimumSize() const
{
    // At size hints an empty row is the invalid size grown by its margins.
    QSize s = m_sizing == Sizing::AtHint ? QSize(-1, -1) : QSize(0, 0);
    for (const Entry& e : m_items)
        if (placed(e))
            s = s.expandedTo(e.item->minimumSize());
    const QMargins m = contentsMargins();
    return s + QSize(m.left() + m.right(), m.top() + m.bottom());
}

void WrapRow::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

QHBoxLayout* groupRow(QWidget* group, int spacing)
{
    auto* row = new QHBoxLayout(group);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    return row;
}

// ---- ElidedLabel -------------------------------------------------------------

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent)
{
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text)
{
    m_full = text;
    setAccessibleName(text);
    updateGeometry();
    refit();
}

namespace {

// A text's width in whole pixels, rounded up: a width rounded to the nearest
// pixel may fall short of the text by a fraction, and the label then
// shortens a text it was sized for.
int wholeWidth(const QFont& font, const QString& text)
{
    return qCeil(QFontMetricsF(font).horizontalAdvance(text));
}

} // namespace

QSize ElidedLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    const int frame = 2 * frameWidth();
    return {wholeWidth(font(), m_full) + m.left() + m.right() + frame + 2 * margin(), QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QMargins m = contentsMargins();
    const int few = wholeWidth(font(), m_full.left(3) + QChar(0x2026));
    return {qMin(few, sizeHint().width()) + m.left() + m.right(), QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    refit();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        updateGeometry();
        refit();
    }
}

void ElidedLabel::refit()
{
    const int room = contentsRect().width() - 2 * margin();
    const QString shown = fontMetrics().elidedText(m_full, Qt::ElideRight, qMax(room, 0));
    if (shown != text())
        setText(shown);
    setToolTip(shown == m_full ? QString() : m_full);
}

namespace {

const char kHeldBack[] = "kvrHeldBack";

// Lets a held-back widget go at its first show: hidden again later, it is
// hidden on purpose.
class HeldBack : public QObject {
public:
    explicit HeldBack(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            watched->setProperty(kHeldBack, QVariant());
            deleteLater();
        }
        return false;
    }
};

// Watches the children of one widget, and tells once a turn that they came,
// went, showed or were hidden: its timer times out.
class SiblingWatch : public QObject {
public:
    explicit SiblingWatch(QWidget* holder) : QObject(holder)
    {
        setObjectName(QStringLiteral("kvrSiblingWatch"));
        holder->installEventFilter(this);
        for (QObject* child : holder->children())
            if (child->isWidgetType())
                child->installEventFilter(this);
        m_soon.setSingleShot(true);
        m_soon.setInterval(0);
    }

    const QTimer* told() const { return &m_soon; }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::ChildAdded:
        case QEvent::ChildRemoved:
            if (watched == parent()) {
                QObject* child = static_cast<QChildEvent*>(event)->child();
                if (event->type() == QEvent::ChildAdded && child->isWidgetType())
                    child->installEventFilter(this);
                m_soon.start();
            }
            break;
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
            if (watched != parent())
                m_soon.start();
            break;
        default:
            break;
        }
        return false;
    }

private:
    QTimer m_soon;
};

} // namespace

bool standsBeside(const QWidget& widget)
{
    return !widget.isHidden() || !widget.testAttribute(Qt::WA_WState_ExplicitShowHide)
        || widget.property(kHeldBack).toBool();
}

void holdBack(QWidget* widget)
{
    widget->hide();
    if (!widget->property(kHeldBack).toBool()) {
        widget->setProperty(kHeldBack, true);
        new HeldBack(widget);
    }
}

void refitWithSiblings(QWidget* widget, std::function<void()> refit)
{
    QWidget* holder = widget->parentWidget();
    if (!holder)
        return;
    // One watch per holder, made by the first of its children that asks.
    auto* watch = static_cast<SiblingWatch*>(
        holder->findChild<QObject*>(QStringLiteral("kvrSiblingWatch"), Qt::FindDirectChildrenOnly));
    if (!watch)
        watch = new SiblingWatch(holder);
    QObject::connect(watch->told(), &QTimer::timeout, widget, std::move(refit));
}

// ---- Items of views -----------------------------------------------------------------

QStringList siblingTexts(const QModelIndex& index, int around, int role)
{
    QStringList out;
    const QAbstractItemModel* model = index.model();
    if (!model)
        return out;
    const QModelIndex parent = index.parent();
    const int rows = model->rowCount(parent);
    for (int r = std::max(0, index.row() - around); r < std::min(rows, index.row() + around + 1); ++r)
        if (r != index.row())
            out << model->index(r, index.column(), parent).data(role).toString();
    return out;
}

QStringList levelTexts(const QModelIndex& index, int most, int role)
{
    QStringList out;
    const QAbstractItemModel* model = index.model();
    if (!model)
        return out;
    int depth = 0;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        ++depth;
    const std::function<void(const QModelIndex&, int)> walk = [&](const QModelIndex& parent, int level) {
        const int rows = model->rowCount(parent);
        for (int r = 0; r < rows && out.size() < most; ++r) {
            const QModelIndex item = model->index(r, index.column(), parent);
            if (level == depth) {
                if (item != index)
                    out << item.data(role).toString();
            } else {
                walk(model->index(r, 0, parent), level + 1);
            }
        }
    };
    walk(QModelIndex(), 0);
    return out;
}

void fitItemApart(QStyleOptionViewItem* option, const QModelIndex& index, bool acrossTree)
{
    if (option->rect.width() <= 0 || option->text.isEmpty())
        return; // measuring, not drawing
    const QWidget* widget = option->widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const int room = style->subElementRect(QStyle::SE_ItemViewItemText, option, widget).width() - 2 * margin;
    // Line breaks come as line separators in the option, as new lines in the model.
    const QChar separator = option->text.contains(QChar::LineSeparator) ? QChar(QChar::LineSeparator) : QChar('\n');
    QStringList lines = option->text.split(separator);
    bool fits = true;
    for (const QString& line : std::as_const(lines))
        fits = fits && option->fontMetrics.horizontalAdvance(line) <= room;
    if (fits)
        return;
    const QStringList siblings = acrossTree ? levelTexts(index) : siblingTexts(index);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QStringList alike;
        for (const QString& s : siblings)
            alike << s.section(QLatin1Char('\n'), int(i), int(i));
        lines[i] = fitApart(lines.at(i), alike, option->fontMetrics, room);
    }
    option->text = lines.join(separator);
}

void ApartDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    fitItemApart(option, index, m_acrossTree);
}

bool ApartDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                              const QModelIndex& index)
{
    // A shortened item reads whole in its tip, before what its own tip says.
    if (event->type() == QEvent::ToolTip) {
        QStyleOptionViewItem shown(option);
        initStyleOption(&shown, index);
        const QString whole = index.data(Qt::DisplayRole).toString();
        const QString own = index.data(Qt::ToolTipRole).toString();
        if (shown.text != whole && !shown.text.isEmpty() && !own.startsWith(whole)) {
            QToolTip::showText(event->globalPos(), own.isEmpty() ? whole : whole + QLatin1Char('\n') + own, view);
            return true;
        }
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

// ---- Date and time fields ---------------------------------------------------------

int widestTextWidth(const QDateTimeEdit* edit)
{
    // Every month and every weekday name, each at a two-digit day.
    int widest = 0;
    const QFontMetrics fm(edit->font());
    const QTime time(23, 59, 59);
    for (int month = 1; month <= 12; ++month) {
        for (int day = 22; day <= 28; ++day) {
            const QDateTime at(QDate(2024, month, day), time);
            widest = qMax(widest, fm.horizontalAdvance(edit->locale().toString(at, edit->displayFormat())));
        }
    }
    // What the field keeps around its text: frame, padding and buttons,
    // and the two pixels QLineEdit leaves on each side (and one for the cursor).
    QStyleOptionSpinBox opt;
    opt.initFrom(edit);
    opt.rect = QRect(0, 0, 1000, qMax(edit->height(), 36));
    opt.frame = true;
    opt.buttonSymbols = edit->buttonSymbols();
    opt.subControls =
        QStyle::SC_SpinBoxFrame | QStyle::SC_SpinBoxEditField | QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
    const QRect field = edit->style()->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxEditField, edit);
    return widest + (1000 - field.width()) + 2 * 2 + 1;
}

namespace {

// Keeps its widget's smallest width at what `measure` says whenever the
// look of the widget may have changed; a smaller width set before stays as a
// floor.
class MinimumWidthKeeper : public QObject {
public:
    MinimumWidthKeeper(QWidget* w, std::function<int()> measure)
        : QObject(w),
          m_widget(w),
          m_measure(std::move(measure)),
          m_base(w->minimumWidth())
    {
        w->installEventFilter(this);
        fit();
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Polish:
        case QEvent::StyleChange:
        case QEvent::FontChange:
        case QEvent::Show:
            fit();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void fit() { m_widget->setMinimumWidth(qMax(m_base, m_measure())); }

    QWidget* m_widget;
    std::function<int()> m_measure;
    int m_base;
};

} // namespace

void fitToWidestText(QDateTimeEdit* edit)
{
    new MinimumWidthKeeper(edit, [edit] { return widestTextWidth(edit); });
}

void fitPlaceholder(QLineEdit* edit)
{
    new MinimumWidthKeeper(edit, [edit] {
        QStyleOptionFrame opt;
        opt.initFrom(edit);
        opt.rect = QRect(0, 0, 1000, 36);
        opt.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit);
        const QRect text = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
        // Each icon of the field (its actions, the clear button) keeps a box
        // of its own at the side.
        const int icons = int(edit->actions().size()) + (edit->isClearButtonEnabled() ? 1 : 0);
        const int icon = edit->style()->pixelMetric(QStyle::PM_LineEditIconSize, nullptr, edit) + 6
            + edit->style()->pixelMetric(QStyle::PM_LineEditIconMargin, nullptr, edit);
        const QMargins m = edit->textMargins();
        return edit->fontMetrics().horizontalAdvance(edit->placeholderText()) + (1000 - text.width()) + m.left()
            + m.right() + icons * icon + 2 * 2 + 1;
    });
}

void fitToItems(QComboBox* combo)
{
    new MinimumWidthKeeper(combo, [combo] {
        QStyleOptionComboBox opt;
        opt.initFrom(combo);
        opt.rect = QRect(0, 0, 1000, qMax(combo->height(), 36));
        opt.editable = combo->isEditable();
        opt.frame = combo->hasFrame();
        const QRect field =
            combo->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
        const QFontMetricsF metrics(combo->font());
        int widest = 0;
        for (int i = 0; i < combo->count(); ++i) {
            const int icon = combo->itemIcon(i).isNull() ? 0 : combo->iconSize().width() + 4;
            widest = qMax(widest, qCeil(metrics.horizontalAdvance(combo->itemText(i))) + icon);
        }
        return widest + (1000 - field.width());
    });
}

void fitItemsApart(QComboBox* combo, int widest)
{
    const QFontMetrics metrics(combo->font());
    QStringList wholes;
    for (int i = 0; i < combo->count(); ++i) {
        const QVariant tip = combo->itemData(i, Qt::ToolTipRole);
        wholes << (tip.isValid() ? tip.toString() : combo->itemText(i));
    }
    for (int i = 0; i < combo->count(); ++i) {
        const QString shown = fitApart(wholes.at(i), wholes, metrics, widest);
        combo->setItemText(i, shown);
        combo->setItemData(i, shown == wholes.at(i) ? QVariant() : QVariant(wholes.at(i)), Qt::ToolTipRole);
    }
    const auto tip = [combo] {
        const QString whole = combo->currentData(Qt::ToolTipRole).toString();
        combo->setToolTip(whole);
        combo->setAccessibleDescription(whole);
    };
    tip();
    if (!combo->property("kvrFitsApart").toBool()) {
        combo->setProperty("kvrFitsApart", true);
        QObject::connect(combo, &QComboBox::currentIndexChanged, combo, tip);
    }
}

// ---- SteadyLabel -------------------------------------------------------------

SteadyLabel::SteadyLabel(const QString& widest, QWidget* parent) : QLabel(parent), m_widest(widest) {}

QSize SteadyLabel::sizeHint() const
{
    const QSize shown = QLabel::sizeHint();
    const QMargins m = contentsMargins();
    const int widest = fontMetrics().horizontalAdvance(m_widest) + m.left() + m.right() + 2 * frameWidth();
    return {qMax(shown.width(), widest), qMax(shown.height(), fontMetrics().height())};
}

} // namespace kvr::ui
