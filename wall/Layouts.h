#pragma once

#include <QList>
#include <QRect>
#include <QString>

namespace kvr::wall {

namespace VideoWall {

// One entry of the fixed table of wall layouts. The cells live on a grid of
// rows x columns; each cell's rectangle is in grid units, from its first
// column and row to its last (inclusive, so QRect::right/bottom are the last
// column and row). Cell i is where camera i of a display goes.
struct Layout {
    QString key;   // stored in the saved wall
    QString title; // shown to the user
    int rows = 1;
    int columns = 1;
    QList<QRect> cells;
};

// The twelve layouts in their fixed order, built once for the process.
const QList<Layout>& layouts();

// The layout with that key; an unknown key gives the "2x2" layout.
const Layout& layout(const QString& key);

// Whether the table has a layout with that key.
bool isLayoutKey(const QString& key);

// The key every unknown or missing layout falls back to.
inline constexpr char kDefaultLayoutKey[] = "2x2";

// The builders of the table, for its users and its tests: a plain grid of
// 1 x 1 cells, row by row (no cells when either side is below 1); and one
// big square of `big` x `big` at the top left of an n x n grid, then the
// strip right of it row by row, then the strip below it column by column.
Layout gridLayout(const QString& key, const QString& title, int rows, int columns);
Layout featuredLayout(const QString& key, const QString& title, int size, int big);

} // namespace VideoWall

} // namespace kvr::wall
