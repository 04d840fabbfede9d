#include "app/ui/FocusWithin.h"

#include <QApplication>

namespace kvr::ui {

namespace FocusWithin {

namespace {

bool inside(const QWidget* tile, const QWidget* w)
{
    return w && (w == tile || tile->isAncestorOf(w));
}

} // namespace

bool has(const QWidget* tile)
{
    return inside(tile, QApplication::focusWidget());
}

void watch(QWidget* tile, std::function<void()> changed)
{
    tile->setFocusPolicy(Qt::TabFocus);
    QObject::connect(qApp, &QApplication::focusChanged, tile,
                     [tile, changed = std::move(changed)](QWidget* before, QWidget* now) {
                         if (inside(tile, before) != inside(tile, now))
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

} // namespace kvr::ui
