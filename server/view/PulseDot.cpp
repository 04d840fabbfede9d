#include "server/view/PulseDot.h"

#include "app/ui/Theme.h"
#include "server/view/Tunables.h"

#include <QPainter>
#include <QVariantAnimation>

PulseDot::PulseDot(QWidget* parent) : QWidget(parent), m_color(Theme::colour(Theme::Colour::Live))
{
    setFixedSize(18, 18);
    m_animation = new QVariantAnimation(this);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setDuration(int(kvr::view::tun::kPulsePeriod.count()));
    m_animation->setEasingCurve(QEasingCurve::OutQuad);
    m_animation->setLoopCount(-1);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_phase = v.toDouble();
        update();
    });
}

void PulseDot::setColor(const QColor& colour)
{
    m_color = colour;
    update();
}

void PulseDot::setPulsing(bool on)
{
    if (on == m_pulsing)
        return;
    m_pulsing = on;
    if (on) {
        m_animation->start();
    } else {
        m_animation->stop();
        m_phase = 0;
    }
    update();
}

bool PulseDot::isAnimating() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void PulseDot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QPointF c(width() / 2.0, height() / 2.0);
    if (m_pulsing) {
        QColor halo = m_color;
        halo.setAlphaF(float((1.0 - m_phase) * 0.45));
        p.setBrush(halo);
        const double r = 4 + 5 * m_phase;
        p.drawEllipse(c, r, r);
    }
    p.setBrush(m_color);
    p.drawEllipse(c, 4.0, 4.0);
}
