#pragma once

// The columns of a table, each widened and narrowed by its own edge, as a
// person expects of a table: a column is never widened by narrowing another
// (that cuts the other's texts), and once the columns are wider together than
// the table, it scrolls from side to side. Some columns (the names) also fill
// what the others leave of the table's width, sharing it, so that a wide
// window shows them whole.

#include <QList>

#include <functional>

class QAbstractScrollArea;
class QTableView;

namespace kvr::ui {

namespace ColumnFill {

// A filling column and the width a person last left it at (0: none), below
// which it never goes.
struct Filling {
    int column = 0;
    int kept = 0;
};

// The width of a filling column: what it was left at, else its share of what
// the other columns leave of the table (`room` among `count`), never below
// `least`.
int width(int kept, int room, int count, int least);

// Makes every column of `view` resizable by its own edge, and `filling` fill
// the rest. Once a person drags any column's edge, the filling columns keep
// the widths they have then (the one dragged, what it was dragged to), so
// that no other column narrows; a window made wider still widens them.
// `fitted`, when given, is called after the filling columns were fitted again.
void keep(QTableView* view, const QList<Filling>& filling, std::function<void()> fitted = {});

// The width a person left a filling column of `view` at (0: none).
int kept(const QTableView* view, int column);

// A table as tall as its rows on a page that scrolls up and down has its bar
// for scrolling from side to side at its end, rows below what a person sees:
// once its columns are wider than it, this keeps a bar in sight instead, at
// the foot of `page`'s view along the table, for as long as the table shows
// there and its own bar does not.
void barInSight(QTableView* view, QAbstractScrollArea* page);

} // namespace ColumnFill

} // namespace kvr::ui
