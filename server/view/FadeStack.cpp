#include "server/view/FadeStack.h"

#include "server/view/Tunables.h"

#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QPropertyAnimation>

namespace kvr::view {

void FadeStack::fadeTo(QWidget* page)
{
    if (!page || page == currentWidget())
        return;
    setCurrentWidget(page);
    auto* effect = new QGraphicsOpacityEffect(page);
    effect->setOpacity(0.0);
    page->setGraphicsEffect(effect); // replaces (and deletes) an effect of an earlier fade
    auto* fade = new QPropertyAnimation(effect, "opacity", page);
    fade->setDuration(int(tun::kPageFade.count()));
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->setEasingCurve(QEasingCurve::OutCubic);
    const QPointer<QGraphicsOpacityEffect> guard(effect);
    connect(fade, &QPropertyAnimation::finished, page, [page, guard] {
        // Only the effect this fade installed; a later fade's stays.
        if (guard && page->graphicsEffect() == guard.data())
            page->setGraphicsEffect(nullptr);
    });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace kvr::view
