// The audit of what tells things apart: texts that read the same while what
// they stand for differs. Shortened labels and buttons anywhere in a window,
// the items of a view (cells of one column, under one parent), the names a
// widget paints in its cells, and things laid side by side as siblings (the
// tiles of a wall, the cards of a page): each that reads like another
// without being it is a fault.

#include "tests/support/AuditChecks.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QHeaderView>
#include <QLabel>
#include <QSet>
#include <QTreeView>

#include <iterator>
#include <map>

namespace screenaudit {

namespace {

const QChar kEllipsis(0x2026);

QString list(QStringList wholes)
{
    wholes.sort();
    return shortText(wholes.join(QStringLiteral(" | ")));
}

// Shortened texts of labels and buttons anywhere in the window.
void shortenedTexts(const Scene& scene, QStringList& faults)
{
    std::map<QString, QSet<QString>> read;
    for (const SceneWidget& s : scene.widgets) {
        QString shown;
        if (auto* label = qobject_cast<const QLabel*>(s.widget))
            shown = label->text();
        else if (auto* button = qobject_cast<const QAbstractButton*>(s.widget))
            shown = button->text();
        if (!shown.contains(kEllipsis) || s.shown.isEmpty())
            continue;
        QString ignored;
        if (const QString whole = wholeText(s.widget, shown, &ignored); !whole.isEmpty())
            read[shown].insert(whole);
    }
    for (const auto& [shown, wholes] : read)
        if (wholes.size() >= 2)
            faults << QStringLiteral("%1 texts shortened to read the same \"%2\": %3")
                          .arg(wholes.size())
                          .arg(shortText(shown), list(wholes.values()));
}

// Items of views (one column under one parent) and cells of other painted
// widgets.
void paintedItems(const Scene& scene, QStringList& faults)
{
    struct Key {
        const QWidget* widget;
        QModelIndex parent;
        int column;
        QString shown;
        bool operator<(const Key& o) const
        {
            return std::tie(widget, parent, column, shown) < std::tie(o.widget, o.parent, o.column, o.shown);
        }
    };
    std::map<Key, QSet<QString>> read;
    std::map<std::pair<const QWidget*, QString>, int> cells;
    // The rows of a tree read one under the other whatever their parent: a
    // site's recorders shortened like another site's are not told apart.
    struct Across {
        QSet<QString> wholes;
        QSet<QModelIndex> parents;
    };
    std::map<std::pair<const QWidget*, QString>, Across> treeRows;
    for (const SceneWidget& s : scene.widgets) {
        const QWidget* w = s.widget;
        if (isMeasured(w) || w->inherits("VideoStage"))
            continue;
        const QAbstractItemView* view = viewOf(w);
        if (qobject_cast<const QHeaderView*>(view))
            continue;
        for (const PaintedText& t : s.painting.texts) {
            if (t.text.trimmed().isEmpty() || (t.rect & QRectF(s.shown)).isEmpty())
                continue;
            if (!view) {
                // A name painted in a cell, shortened alike: the whole is not
                // known, but two cells reading "Towe…f 24" are not told apart.
                if (t.text.contains(kEllipsis))
                    ++cells[{w, t.text}];
                continue;
            }
            const QModelIndex index = view->indexAt((t.rect.center() - QPointF(s.rect.topLeft())).toPoint());
            if (!index.isValid())
                continue;
            const QString whole = wholeLine(index.data(Qt::DisplayRole).toString(), t.text);
            if (!whole.isEmpty())
                read[{view, index.parent(), index.column(), t.text}].insert(whole);
            if (!whole.isEmpty() && t.text.contains(kEllipsis) && qobject_cast<const QTreeView*>(view)) {
                Across& row = treeRows[{view, t.text}];
                row.wholes.insert(whole);
                row.parents.insert(index.parent());
            }
        }
    }
    for (const auto& [key, row] : treeRows)
        if (row.wholes.size() >= 2 && row.parents.size() >= 2)
            faults << QStringLiteral("%1: %2 rows under %3 parents read the same \"%4\": %5")
                          .arg(describe(key.first))
                          .arg(row.wholes.size())
                          .arg(row.parents.size())
                          .arg(shortText(key.second), list(row.wholes.values()));
    for (const auto& [key, wholes] : read)
        if (wholes.size() >= 2)
            faults << QStringLiteral("%1: %2 items read the same \"%3\": %4")
                          .arg(describe(key.widget))
                          .arg(wholes.size())
                          .arg(shortText(key.shown), list(wholes.values()));
    for (const auto& [key, count] : cells)
        if (count >= 2)
            faults << QStringLiteral("%1: %2 texts shortened to read the same \"%3\"")
                          .arg(describe(key.first))
                          .arg(count)
                          .arg(shortText(key.second));
}

// What a person reads of a widget and what lies in it: its labels' texts.
QString readOn(const Scene& scene, const QWidget* item)
{
    QStringList texts;
    for (const SceneWidget& s : scene.widgets) {
        auto* label = qobject_cast<const QLabel*>(s.widget);
        if (label && !s.shown.isEmpty() && !label->text().trimmed().isEmpty() && isWithin(label, item))
            texts << label->text();
    }
    return texts.join(QStringLiteral(" | "));
}

// What a widget stands for: its accessible name and description, else its
// labels' whole texts.
QString standsFor(const Scene& scene, const QWidget* item)
{
    const QString said = (item->accessibleName() + QLatin1Char('\n') + item->accessibleDescription()).trimmed();
    if (!said.isEmpty())
        return said;
    QStringList texts;
    for (const SceneWidget& s : scene.widgets) {
        auto* label = qobject_cast<const QLabel*>(s.widget);
        if (!label || s.shown.isEmpty() || !isWithin(label, item))
            continue;
        QString ignored;
        const QString whole = label->text().contains(kEllipsis) ? wholeText(label, label->text(), &ignored) : QString();
        texts << (whole.isEmpty() ? label->text() : whole);
    }
    return texts.join(QStringLiteral(" | "));
}

// Two shortened texts a person cannot tell apart though they differ: the
// same once their "…" are left out ("…02 view of …", "…02 view of"), or one
// cut where the other goes on ("…rooms, came…", "…rooms, camer…").
bool nearlyAlike(const QString& a, const QString& b)
{
    if (a == b || !a.contains(kEllipsis) || !b.contains(kEllipsis))
        return false;
    const auto bare = [](QString s) {
        s.remove(kEllipsis);
        return s.simplified();
    };
    const QString x = bare(a);
    const QString y = bare(b);
    if (x == y)
        return true;
    // A text cut at its end may go on as the other does.
    return (a.endsWith(kEllipsis) && y.startsWith(x)) || (b.endsWith(kEllipsis) && x.startsWith(y));
}

// Widgets of one kind side by side (the tiles of a wall): each reads as
// what its labels say together.
void siblingItems(const Scene& scene, QStringList& faults)
{
    std::map<std::pair<const QWidget*, QString>, QList<const QWidget*>> groups;
    for (const SceneWidget& s : scene.widgets) {
        const QWidget* w = s.widget;
        if (w == scene.window || s.shown.isEmpty() || qobject_cast<const QLabel*>(w) || isInnerPart(w))
            continue;
        const QString kind = QString::fromLatin1(w->metaObject()->className()) + QLatin1Char('#') + w->objectName();
        groups[{w->parentWidget(), kind}] << w;
    }
    for (const auto& [key, items] : groups) {
        if (items.size() < 2)
            continue;
        std::map<QString, QSet<QString>> read;
        for (const QWidget* item : items)
            if (const QString shown = readOn(scene, item); !shown.isEmpty())
                read[shown].insert(standsFor(scene, item));
        for (const auto& [shown, wholes] : read)
            if (wholes.size() >= 2)
                faults << QStringLiteral("%1 %2 side by side read the same \"%3\": %4")
                              .arg(wholes.size())
                              .arg(key.second, shortText(shown), list(wholes.values()));
        for (auto a = read.cbegin(); a != read.cend(); ++a)
            for (auto b = std::next(a); b != read.cend(); ++b)
                if (nearlyAlike(a->first, b->first) && a->second != b->second)
                    faults << QStringLiteral("%1 side by side read nearly the same: \"%2\" and \"%3\"")
                                  .arg(key.second, shortText(a->first), shortText(b->first));
    }
}

} // namespace

QStringList alikeFaults(const Scene& scene)
{
    QStringList faults;
    shortenedTexts(scene, faults);
    paintedItems(scene, faults);
    siblingItems(scene, faults);
    return faults;
}

} // namespace screenaudit
