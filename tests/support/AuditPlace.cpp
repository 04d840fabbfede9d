// The audit of where widgets lie and how they look: widgets that cover each
// other, windows and controls off the screen, and a few looks a person
// notices at once (missing expand arrows, stock icons, scroll bars not in
// the theme, an error away from its field, a stretched picture).

#include "tests/support/AuditChecks.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QTreeView>
#include <QWidget>

#include <functional>

namespace screenaudit {

namespace {

// Widgets a layout of `parent` places (not those its children place).
QSet<const QWidget*> laidOut(const QWidget* parent)
{
    QSet<const QWidget*> out;
    const std::function<void(const QLayout*)> walk = [&](const QLayout* layout) {
        for (int i = 0; layout && i < layout->count(); ++i) {
            QLayoutItem* item = layout->itemAt(i);
            if (QWidget* w = item->widget())
                out.insert(w);
            else if (QLayout* inner = item->layout())
                walk(inner);
        }
    };
    walk(parent->layout());
    return out;
}

// The marks a widget and everything inside it leave.
QList<QRectF> inkOf(const Scene& scene, int index)
{
    QList<QRectF> out;
    const QWidget* w = scene.widgets.at(index).widget;
    for (qsizetype k = index; k < scene.widgets.size(); ++k) {
        const SceneWidget& s = scene.widgets.at(k);
        if (k > index && !isWithin(s.widget, w))
            break;
        out += s.painting.ink;
        for (const PaintedText& t : s.painting.texts)
            out << t.rect;
    }
    return out;
}

bool marked(const QList<QRectF>& ink, const QRectF& area)
{
    for (const QRectF& r : ink) {
        const QRectF i = r & area;
        if (i.width() > 1.0 && i.height() > 1.0)
            return true;
    }
    return false;
}

} // namespace

QStringList overlapFaults(const Scene& scene)
{
    QStringList faults;
    for (qsizetype p = 0; p < scene.widgets.size(); ++p) {
        const QWidget* parent = scene.widgets.at(p).widget;
        const QSet<const QWidget*> managed = laidOut(parent);
        QList<int> children;
        for (QObject* o : parent->children())
            if (auto* c = qobject_cast<QWidget*>(o); c && scene.indexOf.contains(c))
                children << scene.indexOf.value(c);
        QStringList laid;
        for (qsizetype a = 0; a < children.size(); ++a) {
            for (qsizetype b = a + 1; b < children.size(); ++b) {
                const SceneWidget& first = scene.widgets.at(children.at(a));
                const SceneWidget& second = scene.widgets.at(children.at(b));
                const QRect both = first.rect & second.rect;
                if (both.width() <= kSlackPx || both.height() <= kSlackPx)
                    continue;
                const bool firstLaid = managed.contains(first.widget);
                const bool secondLaid = managed.contains(second.widget);
                if (firstLaid && secondLaid) {
                    laid << QStringLiteral("%1 and %2 by %3x%4 px")
                                .arg(describe(first.widget), describe(second.widget))
                                .arg(both.width())
                                .arg(both.height());
                } else if (!firstLaid && !secondLaid) {
                    // Two overlays: a fault only where both draw.
                    const QList<QRectF> under = inkOf(scene, children.at(a));
                    const QList<QRectF> above = inkOf(scene, children.at(b));
                    bool clash = false;
                    for (const QRectF& r : above)
                        clash = clash || marked(under, r & QRectF(both));
                    if (clash)
                        faults << QStringLiteral("%1 and %2 lie over each other")
                                      .arg(describe(first.widget), describe(second.widget));
                }
            }
        }
        if (!laid.isEmpty())
            faults << QStringLiteral("in %1, %2 pairs of widgets laid out side by side overlap: %3%4")
                          .arg(describe(parent))
                          .arg(laid.size())
                          .arg(QStringList(laid.mid(0, 3)).join(QStringLiteral("; ")),
                               laid.size() > 3 ? QStringLiteral("; ...") : QString());
    }
    return faults;
}

QStringList screenFaults(const Scene& scene, const Setting& setting)
{
    QStringList faults;
    QWidget* window = scene.window;
    QRect area = setting.screen;
    if (area.isEmpty() && window->screen())
        area = window->screen()->availableGeometry();
    if (area.isEmpty())
        return faults;
    const QRect frame = window->frameGeometry();
    if (!area.contains(frame))
        faults << QStringLiteral("the window (%1x%2 at %3,%4) does not lie within the screen's area (%5x%6 at %7,%8)")
                      .arg(frame.width())
                      .arg(frame.height())
                      .arg(frame.x())
                      .arg(frame.y())
                      .arg(area.width())
                      .arg(area.height())
                      .arg(area.x())
                      .arg(area.y());
    for (const SceneWidget& s : scene.widgets) {
        if (s.widget == window || isInnerPart(s.widget) || !(isControl(s.widget) || hasText(s.widget)))
            continue;
        const QRect seen(window->mapToGlobal(s.shown.topLeft()), s.shown.size());
        if (seen.isEmpty() || area.contains(seen))
            continue;
        const QRect on = seen & area;
        faults << QStringLiteral("%1 lies %2 outside the screen")
                      .arg(describe(s.widget), on.isEmpty() ? QStringLiteral("wholly") : QStringLiteral("partly"));
    }
    return faults;
}

namespace {

// Expandable rows of a tree that show nothing to expand them by.
QString treeArrowFault(const Scene& scene, const SceneWidget& port, const QTreeView* tree)
{
    if (!tree->rootIsDecorated() || !tree->itemsExpandable() || !tree->model())
        return {};
    const QAbstractItemModel* model = tree->model();
    int expandable = 0;
    int bare = 0;
    const std::function<void(const QModelIndex&, int)> walk = [&](const QModelIndex& parent, int depth) {
        for (int r = 0; r < model->rowCount(parent) && expandable < 200; ++r) {
            const QModelIndex index = model->index(r, 0, parent);
            if (tree->isRowHidden(r, parent))
                continue;
            const QRect item = tree->visualRect(index);
            if (model->hasChildren(index) && !item.isEmpty()) {
                const QRect branch =
                    QRect(item.left() - tree->indentation(), item.top(), tree->indentation(), item.height())
                        .translated(port.rect.topLeft())
                    & port.visible;
                if (branch.height() >= item.height() / 2 && branch.width() > 4) {
                    ++expandable;
                    QColor ground;
                    dominantColour(scene.picture, branch, 0.0, &ground);
                    int differing = 0;
                    for (int y = branch.top(); y <= branch.bottom(); ++y)
                        for (int x = branch.left(); x <= branch.right(); ++x) {
                            const QColor c = scene.picture.pixelColor(x, y);
                            if (qAbs(c.red() - ground.red()) + qAbs(c.green() - ground.green())
                                    + qAbs(c.blue() - ground.blue())
                                > 60)
                                ++differing;
                        }
                    if (differing < 4)
                        ++bare;
                }
            }
            if (tree->isExpanded(index))
                walk(index, depth + 1);
        }
    };
    walk(tree->rootIndex(), 0);
    if (bare == 0)
        return {};
    return QStringLiteral("%1: %2 of %3 expandable rows show no expand arrow")
        .arg(describe(tree))
        .arg(bare)
        .arg(expandable);
}

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(QSize(16, 16), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
}

bool isStockIcon(const QAbstractButton* button)
{
    static const QStyle::StandardPixmap stock[] = {
        QStyle::SP_DialogOkButton,      QStyle::SP_DialogCancelButton, QStyle::SP_DialogYesButton,
        QStyle::SP_DialogNoButton,      QStyle::SP_DialogCloseButton,  QStyle::SP_DialogSaveButton,
        QStyle::SP_DialogApplyButton,   QStyle::SP_DialogResetButton,  QStyle::SP_DialogHelpButton,
        QStyle::SP_DialogDiscardButton, QStyle::SP_DialogOpenButton,   QStyle::SP_DialogYesToAllButton,
        QStyle::SP_DialogNoToAllButton, QStyle::SP_DialogAbortButton,  QStyle::SP_DialogRetryButton,
        QStyle::SP_DialogIgnoreButton,
    };
    const QImage mine = iconImage(button->icon());
    for (QStyle::StandardPixmap sp : stock) {
        const QIcon theirs = button->style()->standardIcon(sp, nullptr, button);
        if (!theirs.isNull() && iconImage(theirs) == mine)
            return true;
    }
    return false;
}

QString effectiveSheet(const QWidget* w)
{
    QString sheet;
    for (const QWidget* p = w; p; p = p->parentWidget())
        sheet += p->styleSheet();
    return sheet;
}

bool isField(const QWidget* w)
{
    return (qobject_cast<const QLineEdit*>(w) && !isInnerPart(w)) || qobject_cast<const QComboBox*>(w)
        || qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QPlainTextEdit*>(w);
}

// In a form whose fields can be marked, an error stands right under the
// field it is about, and that field is marked.
QStringList errorPlaceFaults(const Scene& scene)
{
    QStringList faults;
    if (!effectiveSheet(scene.window).contains(QLatin1String("[invalid=\"true\"]")))
        return faults;
    for (const SceneWidget& s : scene.widgets) {
        auto* label = qobject_cast<const QLabel*>(s.widget);
        if (!label || !label->objectName().contains(QLatin1String("Error")) || label->text().trimmed().isEmpty())
            continue;
        const SceneWidget* above = nullptr;
        for (const SceneWidget& f : scene.widgets) {
            if (!isField(f.widget) || f.rect.bottom() > s.rect.top() + 2 || f.rect.right() < s.rect.left()
                || f.rect.left() > s.rect.right())
                continue;
            if (!above || f.rect.bottom() > above->rect.bottom())
                above = &f;
        }
        if (!above || s.rect.top() - above->rect.bottom() > 32)
            faults << QStringLiteral("%1: the error stands under no field").arg(describe(label));
        else if (!above->widget->property("invalid").toBool())
            faults << QStringLiteral("%1: the error stands under %2, which is not marked")
                          .arg(describe(label), describe(above->widget));
    }
    return faults;
}

// Horizontal and vertical scroll bars of one window wear one theme: the
// same thickness.
QStringList scrollBarFaults(const Scene& scene)
{
    QHash<int, int> verticals;
    for (const QScrollBar* bar : scene.window->findChildren<QScrollBar*>())
        if (bar->orientation() == Qt::Vertical)
            ++verticals[bar->sizeHint().width()];
    if (verticals.isEmpty())
        return {};
    int themed = 0;
    int most = 0;
    for (auto it = verticals.cbegin(); it != verticals.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            themed = it.key();
        }
    QStringList faults;
    for (const SceneWidget& s : scene.widgets) {
        auto* bar = qobject_cast<const QScrollBar*>(s.widget);
        if (!bar)
            continue;
        const int thick = bar->orientation() == Qt::Horizontal ? bar->sizeHint().height() : bar->sizeHint().width();
        if (qAbs(thick - themed) > 1)
            faults << QStringLiteral("%1 scroll bar of %2 is %3 px thick where the window's are %4: not in the theme")
                          .arg(bar->orientation() == Qt::Horizontal ? QStringLiteral("a horizontal")
                                                                    : QStringLiteral("a vertical"),
                               describe(bar->parentWidget() && bar->parentWidget()->parentWidget()
                                            ? bar->parentWidget()->parentWidget()
                                            : bar))
                          .arg(thick)
                          .arg(themed);
    }
    return faults;
}

} // namespace

// The arrow of a button that opens a menu stands clear of its edges,
// across from its text, not squeezed into a corner.
QString menuArrowFault(const SceneWidget& s)
{
    auto* button = qobject_cast<const QPushButton*>(s.widget);
    if (!button || !button->menu())
        return {};
    for (const QRectF& ink : s.painting.pictures) {
        if (ink.width() > 20 || ink.height() > 20)
            continue; // a picture on the button's face, not its arrow
        const qreal right = s.rect.right() - ink.right();
        const qreal middle = qAbs(ink.center().y() - QRectF(s.rect).center().y());
        if (right < 6 || middle > 4)
            return QStringLiteral("%1: the menu arrow is squeezed into the corner (%2 px from the right edge, %3 px "
                                  "off the middle)")
                .arg(describe(button))
                .arg(qRound(right))
                .arg(qRound(middle));
    }
    return {};
}

QStringList looksFaults(const Scene& scene)
{
    QStringList faults;
    for (const SceneWidget& s : scene.widgets) {
        if (const QString arrow = menuArrowFault(s); !arrow.isEmpty())
            faults << arrow;
        if (auto* tree = qobject_cast<const QTreeView*>(s.widget->parentWidget());
            tree && tree->viewport() == s.widget) {
            const QString fault = treeArrowFault(scene, s, tree);
            if (!fault.isEmpty())
                faults << fault;
        }
        if (auto* button = qobject_cast<const QAbstractButton*>(s.widget);
            button && !button->icon().isNull() && isStockIcon(button))
            faults << QStringLiteral("%1 carries the style's stock icon, unlike the program's other buttons")
                          .arg(describe(button));
        if (s.widget->inherits("VideoStage")) {
            const double aspect = double(s.rect.width()) / std::max(1, s.rect.height());
            if (aspect < 0.6 || aspect > 3.6)
                faults << QStringLiteral("%1: a picture area of %2x%3 px, out of a picture's proportions")
                              .arg(describe(s.widget->parentWidget() ? s.widget->parentWidget() : s.widget))
                              .arg(s.rect.width())
                              .arg(s.rect.height());
        }
    }
    faults += scrollBarFaults(scene);
    faults += errorPlaceFaults(scene);
    return faults;
}

} // namespace screenaudit
