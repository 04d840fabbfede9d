#pragma once

class QLayout;

namespace kvr::ui {

// Emptying a layout that a screen fills again from its data: the one way the
// screens take their old rows, tiles and boxes out before they rebuild.

enum class OldWidgets {
    // Left where they are: their owner keeps and reuses them (a wall's tiles
    // go back into a grid of another shape).
    Kept,
    // Deleted at once, nested layouts emptied the same way; for widgets no
    // queued signal or running handler can still reach.
    Deleted,
    // Hidden at once and deleted when control returns to the event loop; for
    // widgets whose own signal may have started the rebuild.
    DeletedLater,
};

// Takes every item out of `layout` except the last `keep` ones (a closing
// stretch, say) and deletes the items; what happens to their widgets `old`
// says.
void emptyLayout(QLayout* layout, OldWidgets old, int keep = 0);

} // namespace kvr::ui
