#include "app/ui/FocusWithin.h"

#include <QApplication>

namespace FocusWithin {

bool has(const QWidget* tile)
{
    const QWidget* focus = QApplication::focusWidget();
    return focus && (focus == tile || tile->isAncestorOf(focus));
}

void watch(QWidget* tile, std::function<void()> changed)
{
    tile->setFocusPolicy(Qt::TabFocus);
    QObject::connect(qApp, &QApplication::focusChanged, tile,
                     [tile, changed = std::move(changed)](QWidget* before, QWidget* now) {
                         const auto inside = [tile](const QWidget* w) {
                             return w && (w == tile || tile->isAncestorOf(w));
                         };
                         if (inside(before) != inside(now))
                             changed();
                     });
}

void tabAfter(QWidget* tile, std::initializer_list<QWidget*> controls)
{
    QWidget* last = tile;
    for (QWidget* w : controls) {
        if (!w)
            continue;
        QWidget::setTabOrder(last, w);
        last = w;
    }
}

} // namespace FocusWithin
