#include "server/view/PulseDot.h"

#include "app/ui/Theme.h"
#include "server/view/Tunables.h"

#include <QEasingCurve>
#include <QPainter>

using namespace kvr::ui;

namespace kvr::view {

PulseDot::PulseDot(QWidget* parent) : QWidget(parent), m_color(Theme::colour(Theme::Colour::Live))
{
    setFixedSize(18, 18);
    m_stepTimer.setInterval(tun::kPulseStep);
    connect(&m_stepTimer, &QTimer::timeout, this, &PulseDot::step);
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
    m_phase = 0;
    if (on) {
        m_since.start();
        m_lastStepMs = 0;
        if (m_pace == Pace::OwnTimer)
            m_stepTimer.start();
    } else {
        m_stepTimer.stop();
    }
    update();
}

void PulseDot::setPace(Pace pace)
{
    m_pace = pace;
    if (m_pulsing && pace == Pace::OwnTimer)
        m_stepTimer.start();
    else
        m_stepTimer.stop();
}

void PulseDot::step()
{
    if (!m_pulsing)
        return;
    const qint64 now = m_since.elapsed();
    if (now - m_lastStepMs < tun::kPulseStep.count())
        return;
    m_lastStepMs = now;
    const qint64 period = tun::kPulsePeriod.count();
    m_phase = QEasingCurve(QEasingCurve::OutQuad).valueForProgress(double(now % period) / double(period));
    update();
}

bool PulseDot::isAnimating() const
{
    return m_stepTimer.isActive();
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

} // namespace kvr::view
