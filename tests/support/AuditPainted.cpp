// The audit of what widgets paint: the texts of item views, headers, video
// stages and other painted widgets, whether anything covers them, how they
// contrast with what lies behind them, and whose words they are.

#include "tests/support/AuditChecks.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QtMath>

namespace screenaudit {

namespace {

const QChar kEllipsis(0x2026);

QString where(const QRectF& r)
{
    return QStringLiteral("at %1,%2").arg(qRound(r.x())).arg(qRound(r.y()));
}

QRectF core(const QRectF& r)
{
    // The glyph box less a pixel of rounding all round.
    return r.adjusted(kSlackPx, kSlackPx, -kSlackPx, -kSlackPx);
}

bool meets(const QRectF& a, const QRectF& b)
{
    const QRectF i = core(a) & core(b);
    return i.width() > 1.0 && i.height() > 1.0;
}

// How far the text sticks out of `bounds` on each side (0 when it does not).
struct Sticks {
    qreal left = 0, right = 0, top = 0, bottom = 0;
    bool any() const { return left > kSlackPx || right > kSlackPx || top > kSlackPx || bottom > kSlackPx; }
};

Sticks sticksOut(const QRectF& text, const QRectF& bounds)
{
    return {std::max<qreal>(0, bounds.left() - text.left()), std::max<qreal>(0, text.right() - bounds.right()),
            std::max<qreal>(0, bounds.top() - text.top()), std::max<qreal>(0, text.bottom() - bounds.bottom())};
}

// A "…" that belongs to the text itself ("Reconnecting…"): the widget says
// the same text in its accessible description or name, or its tool tip, or
// the widget that takes its mouse does.
bool ownEllipsis(const QWidget* w, const QString& text)
{
    for (const QWidget* say = w; say; say = say->isWindow() ? nullptr : say->parentWidget()) {
        if (say->accessibleDescription().contains(text) || say->accessibleName().contains(text)
            || say->toolTip().contains(text))
            return true;
        if (!w->testAttribute(Qt::WA_TransparentForMouseEvents) || say != w)
            break;
    }
    return false;
}

} // namespace

bool isMeasured(const QWidget* w)
{
    return qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w)
        || qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w)
        || qobject_cast<const QAbstractSpinBox*>(w);
}

QAbstractItemView* viewOf(const QWidget* viewport)
{
    auto* view = qobject_cast<QAbstractItemView*>(viewport->parentWidget());
    return view && view->viewport() == viewport ? view : nullptr;
}

QString wholeLine(const QString& whole, const QString& shown)
{
    // A line shortened at its end keeps its start; cut in its middle or at
    // its start, its end too.
    const QStringList parts = shown.split(kEllipsis);
    const QString start = parts.first().trimmed();
    const QString end = parts.size() > 1 ? parts.last().trimmed() : QString();
    for (const QString& line : whole.split(QLatin1Char('\n')))
        if (line.trimmed().startsWith(start) && line.trimmed().endsWith(end))
            return line.trimmed();
    return {};
}

QStringList paintedFaults(const Scene& scene)
{
    QStringList faults;
    QSet<QString> reported;
    QHash<const QWidget*, QStringList> covered; // texts each widget lies over
    const auto once = [&](const QString& line) {
        if (!reported.contains(line)) {
            reported.insert(line);
            faults << line;
        }
    };
    for (const SceneWidget& s : scene.widgets) {
        const QWidget* w = s.widget;
        const QAbstractItemView* view = viewOf(w);
        const auto* header = qobject_cast<const QHeaderView*>(view);
        const QString who = view ? describe(view) : describe(w);
        const QList<PaintedText>& texts = s.painting.texts;
        for (qsizetype i = 0; i < texts.size(); ++i) {
            const PaintedText& t = texts.at(i);
            const QString what = QStringLiteral("%1: \"%2\"").arg(who, shortText(t.text));
            const QRectF seen = QRectF(s.visible) & t.clip;
            // Cut: by the cell, the widget or what holds it.
            if (!isMeasured(w)) {
                Sticks out = sticksOut(t.rect, seen);
                if (view && !header) {
                    // A row half scrolled out of the view is cut by scrolling,
                    // not by its cell.
                    const QRectF port(s.visible);
                    if (t.clip.top() <= port.top() + kSlackPx)
                        out.top = 0;
                    if (t.clip.bottom() >= port.bottom() - kSlackPx)
                        out.bottom = 0;
                }
                if (out.any())
                    once(QStringLiteral("%1 is cut (%2 px of %3 px wide and %4 of %5 high shown) %6")
                             .arg(what)
                             .arg(qRound(t.rect.width() - out.left - out.right))
                             .arg(qRound(t.rect.width()))
                             .arg(qRound(t.rect.height() - out.top - out.bottom))
                             .arg(qRound(t.rect.height()))
                             .arg(where(t.rect)));
            }
            // Shortened.
            if (t.text.contains(kEllipsis) && !isMeasured(w)) {
                if (header) {
                    once(QStringLiteral("%1: the heading is shortened").arg(what));
                } else if (view) {
                    const QModelIndex index = view->indexAt((t.rect.center() - QPointF(s.rect.topLeft())).toPoint());
                    const QString whole = wholeLine(index.data(Qt::DisplayRole).toString(), t.text);
                    if (!whole.isEmpty() && !whole.contains(kEllipsis)) {
                        const QRectF cell =
                            QRectF(view->visualRect(index)).translated(QPointF(s.rect.topLeft())) & t.clip;
                        // The cell keeps as much room at its right as before its
                        // text at its left (its padding and margin; an icon at the
                        // left makes this room smaller, never larger, than it is).
                        const qreal inset = t.rect.left() - cell.left();
                        const qreal need = QFontMetricsF(t.font).horizontalAdvance(whole);
                        const qreal room = cell.right() - inset - t.rect.left();
                        if (need <= room + kSlackPx)
                            once(QStringLiteral("%1 is shortened though its whole text fits (needs %2 px, has %3)")
                                     .arg(what)
                                     .arg(need, 0, 'f', 1)
                                     .arg(room, 0, 'f', 1));
                    }
                } else if (w->inherits("VideoStage")) {
                    // A picture's message is ours to word: it is written to
                    // fit, never shortened.
                    if (!ownEllipsis(w, t.text))
                        once(QStringLiteral("%1 is shortened").arg(what));
                }
                // A name painted in a cell may be shortened when it does not
                // fit (whether it then reads like another is the alike check's).
            }
            // Runs into another text of the same widget (a selection draws
            // its part of a line again, over the line).
            for (qsizetype j = i + 1; j < texts.size(); ++j) {
                const PaintedText& u = texts.at(j);
                const bool redrawn =
                    qAbs(u.rect.top() - t.rect.top()) < 1.0 && (u.text.contains(t.text) || t.text.contains(u.text));
                if (!redrawn && meets(t.rect, u.rect))
                    once(QStringLiteral("%1 runs into \"%2\" %3").arg(what, shortText(u.text), where(t.rect)));
            }
            // Covered by a widget that lies over the part that shows.
            const QRectF showing = t.rect & QRectF(s.shown) & t.clip;
            for (qsizetype k = scene.indexOf.value(w) + 1; k < scene.widgets.size() && !showing.isEmpty(); ++k) {
                const SceneWidget& over = scene.widgets.at(k);
                if (!over.shown.intersects(showing.toAlignedRect()))
                    continue;
                bool covers = false;
                for (const QRectF& ink : over.painting.ink)
                    covers = covers || meets(showing, ink & QRectF(over.shown));
                for (const PaintedText& other : over.painting.texts)
                    covers = covers || meets(showing, other.rect & QRectF(over.shown));
                if (covers) {
                    covered[over.widget] << QStringLiteral("\"%1\"").arg(shortText(t.text));
                    break;
                }
            }
        }
    }
    // One line for each widget that covers texts.
    for (const SceneWidget& s : scene.widgets) {
        const QStringList texts = covered.value(s.widget);
        if (texts.isEmpty())
            continue;
        const QString some = QStringList(texts.mid(0, 3)).join(QStringLiteral(", "));
        faults << QStringLiteral("%1 lies over %2%3")
                      .arg(describe(s.widget), some,
                           texts.size() > 3 ? QStringLiteral(" and %1 more texts").arg(texts.size() - 3) : QString());
    }
    return faults;
}

namespace {

bool near(const QColor& a, const QColor& b)
{
    // Edges, fades and blends move a colour a little.
    return qAbs(a.red() - b.red()) <= 12 && qAbs(a.green() - b.green()) <= 12 && qAbs(a.blue() - b.blue()) <= 12;
}

QColor over(const QColor& top, const QColor& under)
{
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + under.redF() * (1 - a)),
                            float(top.greenF() * a + under.greenF() * (1 - a)),
                            float(top.blueF() * a + under.blueF() * (1 - a)));
}

bool itemEnabled(const SceneWidget& s, const PaintedText& t)
{
    const QAbstractItemView* view = viewOf(s.widget);
    if (!view)
        return true;
    const QModelIndex index = view->indexAt((t.rect.center() - QPointF(s.rect.topLeft())).toPoint());
    return !index.isValid() || (index.flags() & Qt::ItemIsEnabled);
}

} // namespace

QStringList contrastFaults(const Scene& scene, const Setting& setting)
{
    QStringList faults;
    QSet<QString> reported;
    for (const SceneWidget& s : scene.widgets) {
        if (!s.widget->isEnabled())
            continue;
        for (const PaintedText& t : s.painting.texts) {
            if (!itemEnabled(s, t) || t.colour.alpha() == 0)
                continue;
            const QRect area = (t.rect & t.clip & QRectF(s.shown)).toAlignedRect();
            QColor background;
            // Behind a picture or a pattern there is no one colour to weigh.
            if (area.width() < 2 || area.height() < 2 || !dominantColour(scene.picture, area, 0.3, &background))
                continue;
            const QColor text = over(t.colour, background);
            const double ratio = contrastRatio(text, background);
            if (ratio >= 4.5 - 0.005)
                continue;
            bool kept = false;
            for (const ColourPair& pair : setting.themePairs)
                kept =
                    kept || ((near(pair.text, t.colour) || near(pair.text, text)) && near(pair.background, background));
            if (kept)
                continue;
            const QString line = QStringLiteral("%1: \"%2\" contrasts %3:1 (%4 on %5)")
                                     .arg(describe(viewOf(s.widget) ? viewOf(s.widget) : s.widget), shortText(t.text))
                                     .arg(ratio, 0, 'f', 2)
                                     .arg(text.name(), background.name());
            if (!reported.contains(line)) {
                reported.insert(line);
                faults << line;
            }
        }
    }
    return faults;
}

QStringList wordFaults(const Scene& scene, const Setting& setting)
{
    QStringList faults;
    for (const SceneWidget& s : scene.widgets) {
        // A message may be wrapped over lines, and its end shortened.
        QStringList lines;
        for (const PaintedText& t : s.painting.texts)
            lines << t.text;
        const QString said = lines.join(QLatin1Char(' ')).simplified();
        for (const QString& words : setting.jargon) {
            if (said.contains(words.left(24), Qt::CaseInsensitive)) {
                faults << QStringLiteral("%1: shows a library's own words \"%2\"")
                              .arg(describe(s.widget), shortText(said));
                break;
            }
        }
    }
    return faults;
}

} // namespace screenaudit
