#include "tests/support/AuditScene.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCalendarWidget>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabBar>
#include <QTextEdit>

#include <cmath>
#include <functional>

namespace screenaudit {

QString shortText(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.size() > 60 ? text.left(57) + QStringLiteral("...") : text;
}

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
    if (text.isEmpty() && w->parentWidget() && !w->isWindow()) {
        // A part with no words of its own is named by what holds it.
        const QWidget* holder = w->parentWidget();
        if (auto* view = qobject_cast<const QAbstractScrollArea*>(holder); view && view->viewport() == w)
            return describe(holder) + QStringLiteral(" (its view)");
    }
    if (!text.isEmpty())
        out += QStringLiteral(" \"%1\"").arg(shortText(text));
    return out;
}

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

QRect shownPart(const QWidget* w)
{
    QRect r = w->rect();
    QPoint offset(0, 0);
    for (const QWidget* c = w; !c->isWindow() && c->parentWidget(); c = c->parentWidget()) {
        offset += c->pos();
        r &= c->parentWidget()->rect().translated(-offset);
    }
    return r;
}

bool hasText(const QWidget* w)
{
    if (auto* label = qobject_cast<const QLabel*>(w))
        return !label->text().trimmed().isEmpty();
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return !button->text().isEmpty();
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w);
}

namespace {

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

} // namespace

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

bool isWithin(const QWidget* a, const QWidget* b)
{
    for (const QWidget* p = a; p; p = p->parentWidget()) {
        if (p == b)
            return true;
        if (p->isWindow())
            break;
    }
    return false;
}

bool dominantColour(const QImage& picture, const QRect& area, double share, QColor* out)
{
    const QRect r = area & picture.rect();
    if (r.isEmpty())
        return false;
    QHash<QRgb, int> counts;
    int total = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            ++counts[line[x] | 0xff000000u];
            ++total;
        }
    }
    QRgb best = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    }
    if (total == 0 || most < share * total)
        return false;
    *out = QColor::fromRgb(best);
    return true;
}

namespace {

double luminance(const QColor& c)
{
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Scene takeScene(QWidget* window)
{
    Scene scene;
    scene.window = window;
    scene.picture = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (scene.picture.devicePixelRatio() != 1.0)
        scene.picture = scene.picture.scaled(window->size());
    int order = 0;
    const std::function<void(QWidget*)> walk = [&](QWidget* w) {
        if (w != window && (w->isWindow() || !w->isVisible() || w->width() <= 0 || w->height() <= 0))
            return;
        SceneWidget s;
        s.widget = w;
        const QPoint at = w == window ? QPoint(0, 0) : w->mapTo(window, QPoint(0, 0));
        s.rect = QRect(at, w->size());
        s.visible = visiblePart(w).translated(at);
        s.shown = shownPart(w).translated(at);
        s.order = order++;
        // A view drawn by the graphics chip shows pictures, not words.
        if (!w->inherits("QOpenGLWidget")) {
            s.painting = recordPainting(w);
            for (PaintedText& t : s.painting.texts) {
                t.rect.translate(at);
                t.clip.translate(at);
            }
            for (QRectF& r : s.painting.ink)
                r.translate(at);
            for (QRectF& r : s.painting.pictures)
                r.translate(at);
        }
        scene.indexOf.insert(w, int(scene.widgets.size()));
        scene.widgets << s;
        for (QObject* o : w->children())
            if (auto* child = qobject_cast<QWidget*>(o))
                walk(child);
    };
    walk(window);
    return scene;
}

} // namespace screenaudit
