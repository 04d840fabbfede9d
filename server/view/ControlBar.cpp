#include "server/view/ControlBar.h"

#include "app/ui/Theme.h"
#include "server/view/Tunables.h"

#include <QGraphicsOpacityEffect>
#include <QLinearGradient>
#include <QPainter>
#include <QPropertyAnimation>

using namespace kvr::ui;

namespace kvr::view {

ControlBar::ControlBar(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
    m_opacityEffect = new QGraphicsOpacityEffect(this);
    m_opacityEffect->setOpacity(1.0);
    setGraphicsEffect(m_opacityEffect);
    m_fade = new QPropertyAnimation(m_opacityEffect, "opacity", this);
    m_fade->setDuration(int(tun::kBarFade.count()));
    m_fade->setEasingCurve(QEasingCurve::InOutQuad);
    // The end of a fade is painted whatever happened meanwhile (a fade that
    // ran while the page was hidden leaves nothing stale on screen).
    connect(m_fade, &QPropertyAnimation::finished, this, qOverload<>(&QWidget::update));
}

void ControlBar::setShown(bool shown)
{
    // Asked again for the state it is in: nothing to do, unless the strip is
    // not there (a fade that did not reach its end).
    const double target = shown ? 1.0 : 0.0;
    if (shown == m_shown && (m_fade->state() == QAbstractAnimation::Running || opacity() == target))
        return;
    m_shown = shown;
    // A fade that reverses starts from wherever the last one had got to.
    m_fade->stop();
    m_fade->setStartValue(m_opacityEffect->opacity());
    m_fade->setEndValue(shown ? 1.0 : 0.0);
    m_fade->start();
}

double ControlBar::opacity() const
{
    return m_opacityEffect->opacity();
}

void ControlBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QLinearGradient shade(0, 0, 0, height());
    shade.setColorAt(0, Theme::colour(Theme::Colour::Black, 0.0));
    shade.setColorAt(1, Theme::colour(Theme::Colour::Black, 200 / 255.0));
    p.fillRect(rect(), shade);
}

} // namespace kvr::view
