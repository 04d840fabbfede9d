#pragma once

// Items a widget paints itself (a month's days, a layout's cells) as a
// screen reader finds them: the widget a list, each item an entry of it,
// said by its name, met where it is drawn, and picked by its press action as
// a click picks it. The keys' item is the list's focused entry while the
// widget holds the focus.

#include <QRect>
#include <QString>

#include <functional>

class QWidget;

namespace kvr::ui {

namespace PaintedItems {

struct Items {
    std::function<int()> count;
    std::function<QString(int item)> name;
    // Where the item is drawn, in the widget's coordinates.
    std::function<QRect(int item)> rect;
    std::function<bool(int item)> selected;
    // Whether a click picks it; empty: every item.
    std::function<bool(int item)> pickable;
    std::function<void(int item)> pick;
    // The item the keys stand on; -1 for none.
    std::function<int()> current;
};

// Describes `widget`'s items; call it before anything asks the
// accessibility tree for the widget (in its constructor).
void describe(QWidget* widget, Items items);

} // namespace PaintedItems

} // namespace kvr::ui
