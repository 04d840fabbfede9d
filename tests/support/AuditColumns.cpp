// The columns of a table a person can resize, each dragged by its own edge
// as a person drags it: it widens by what the pointer moved, and no other
// column narrows for it (a column widened only by narrowing another cuts that
// one: "NETWORK" at 56 px reads "U…").

#include "tests/support/AuditScene.h"
#include "tests/support/ScreenAudit.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QTest>

namespace screenaudit {

namespace {

constexpr int kDragPx = 40;

void mouse(QWidget* target, QEvent::Type type, const QPoint& at, Qt::MouseButtons buttons)
{
    const QPointF local(at);
    QMouseEvent event(type, local, target->mapToGlobal(local),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Drags the right edge of `section` by `by` pixels, as the pointer does.
void dragEdge(QHeaderView* header, int section, int by)
{
    QWidget* port = header->viewport();
    const int edge = header->sectionViewportPosition(section) + header->sectionSize(section) - 1;
    const int y = port->height() / 2;
    mouse(port, QEvent::MouseMove, QPoint(edge, y), Qt::NoButton);
    mouse(port, QEvent::MouseButtonPress, QPoint(edge, y), Qt::LeftButton);
    for (int step = 1; step <= 4; ++step)
        mouse(port, QEvent::MouseMove, QPoint(edge + by * step / 4, y), Qt::LeftButton);
    mouse(port, QEvent::MouseButtonRelease, QPoint(edge + by, y), Qt::NoButton);
}

QList<int> sizesOf(const QHeaderView* header)
{
    QList<int> out;
    for (int s = 0; s < header->count(); ++s)
        out << header->sectionSize(s);
    return out;
}

} // namespace

QStringList columnFaults(QWidget* window)
{
    QStringList faults;
    for (QHeaderView* header : window->findChildren<QHeaderView*>()) {
        if (header->orientation() != Qt::Horizontal || !header->isVisible() || header->count() < 2)
            continue;
        bool resizable = false;
        for (int s = 0; s < header->count(); ++s)
            resizable = resizable || header->sectionResizeMode(s) == QHeaderView::Interactive;
        if (!resizable)
            continue; // a table of fixed columns
        const QAbstractItemView* view = qobject_cast<const QAbstractItemView*>(header->parentWidget());
        const QString where = describe(view ? static_cast<const QWidget*>(view) : header);
        for (int s = 0; s < header->count(); ++s) {
            if (header->isSectionHidden(s) || header->sectionSize(s) <= 0)
                continue;
            const QString name = header->model()
                ? header->model()->headerData(s, Qt::Horizontal, Qt::DisplayRole).toString()
                : QString();
            const QString column =
                name.isEmpty() ? QStringLiteral("column %1").arg(s + 1) : QStringLiteral("\"%1\"").arg(name);
            const QList<int> before = sizesOf(header);
            dragEdge(header, s, kDragPx);
            const QList<int> after = sizesOf(header);
            const int grew = after.at(s) - before.at(s);
            QStringList narrowed;
            for (int o = 0; o < header->count(); ++o)
                if (o != s && after.at(o) < before.at(o))
                    narrowed << QStringLiteral("%1 to %2 px").arg(o + 1).arg(after.at(o));
            if (grew < kDragPx - 2)
                faults << QStringLiteral("[columns] %1: %2 widened by %3 px when its edge was dragged %4 px")
                              .arg(where, column)
                              .arg(grew)
                              .arg(kDragPx);
            if (!narrowed.isEmpty())
                faults << QStringLiteral("[columns] %1: widening %2 narrowed column %3")
                              .arg(where, column, narrowed.join(QStringLiteral(", ")));
            // As it was: the table keeps what the person left it at.
            for (int o = header->count() - 1; o >= 0; --o)
                if (header->sectionSize(o) != before.at(o))
                    header->resizeSection(o, before.at(o));
        }
    }
    return faults;
}

} // namespace screenaudit
