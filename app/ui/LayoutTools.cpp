#include "app/ui/LayoutTools.h"

#include <QLayout>
#include <QWidget>

namespace kvr::ui {

void emptyLayout(QLayout* layout, OldWidgets old, int keep)
{
    if (!layout)
        return;
    while (layout->count() > keep) {
        QLayoutItem* item = layout->takeAt(0);
        if (!item)
            break;
        if (QWidget* w = item->widget()) {
            if (old == OldWidgets::Deleted) {
                delete w;
            } else if (old == OldWidgets::DeletedLater) {
                w->hide();
                w->deleteLater();
            }
        } else if (QLayout* inner = item->layout()) {
            if (old != OldWidgets::Kept)
                emptyLayout(inner, old);
        }
        delete item;
    }
}

} // namespace kvr::ui
