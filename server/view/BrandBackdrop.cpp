#include "server/view/BrandBackdrop.h"

#include "app/ui/Theme.h"
#include "server/view/Tunables.h"

#include <QPainter>
#include <QRadialGradient>
#include <QVariantAnimation>

#include <cmath>
#include <numbers>

using namespace kvr::ui;

namespace kvr::view {

namespace {
// Known to the meta-type system by name, for code that makes widgets by type.
[[maybe_unused]] const int kRegistered = qRegisterMetaType<BrandBackdrop*>("BrandBackdrop*");
} // namespace

BrandBackdrop::BrandBackdrop(QWidget* parent) : QWidget(parent)
{
    m_animation = new QVariantAnimation(this);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(2 * std::numbers::pi);
    m_animation->setDuration(int(tun::kBackdropCycle.count()));
    m_animation->setEasingCurve(QEasingCurve::Linear);
    m_animation->setLoopCount(-1);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_phase = v.toDouble();
        update();
    });
}

bool BrandBackdrop::isAnimating() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void BrandBackdrop::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_animation->start();
}

void BrandBackdrop::hideEvent(QHideEvent* event)
{
    m_animation->stop();
    QWidget::hideEvent(event);
}

void BrandBackdrop::paintEvent(QPaintEvent*)
{
    using Theme::Colour;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = height();
    const double t = m_phase;

    QLinearGradient sky(0, 0, w, h);
    sky.setColorAt(0, Theme::colour(Colour::BrandNavy));
    sky.setColorAt(1, Theme::colour(Colour::BrandInk));
    p.fillRect(rect(), sky);

    // The wall: 3 rows of 4 tiles, ending 36 px above the bottom.
    const double cw = (w - 72 - 42) / 4;
    const double ch = cw * 0.62;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            const double s = 0.5 + 0.5 * std::sin(1.3 * r + 2 * t + 0.9 * c);
            const QRectF tile(36 + c * (cw + 14), h - 36 - 3 * ch - 28 + r * (ch + 14), cw, ch);
            p.setPen(QPen(Theme::colour(Colour::White, 22 / 255.0), 1));
            p.setBrush(Theme::colour(Colour::White, (8 + int(10 * s)) / 255.0));
            p.drawRoundedRect(tile, 8, 8);
            if ((4 * r + c) % 3 == 0) {
                p.setPen(Qt::NoPen);
                p.setBrush(Theme::colour(Colour::Live, (120 + int(100 * s)) / 255.0));
                p.drawEllipse(tile.topLeft() + QPointF(12, 12), 3.0, 3.0);
            }
        }
    }

    const auto glow = [&](Colour colour, int alpha, QPointF centre, double radius) {
        QRadialGradient g(centre, radius);
        g.setColorAt(0, Theme::colour(colour, alpha / 255.0));
        g.setColorAt(1, Theme::colour(colour, 0.0));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(centre, radius, radius);
    };
    glow(Colour::Accent, 70, {(0.25 + 0.08 * std::sin(t)) * w, (0.22 + 0.06 * std::cos(t)) * h}, 0.55 * w);
    glow(Colour::BrandTeal, 45, {(0.8 + 0.06 * std::cos(1.3 * t)) * w, (0.62 + 0.08 * std::sin(0.8 * t)) * h}, 0.5 * w);
}

} // namespace kvr::view
