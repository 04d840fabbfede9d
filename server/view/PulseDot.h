#pragma once

#include <QColor>
#include <QWidget>

class QVariantAnimation;

// A coloured status dot, 18 x 18, that can pulse: a halo grows from 4 to 9
// pixels while it fades, once every 1.5 s.
class PulseDot : public QWidget {
    Q_OBJECT
public:
    explicit PulseDot(QWidget* parent = nullptr);

    void setColor(const QColor& colour);
    void setPulsing(bool on);

    QColor color() const { return m_color; }
    bool isPulsing() const { return m_pulsing; }
    double phase() const { return m_phase; }
    bool isAnimating() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVariantAnimation* m_animation = nullptr;
    QColor m_color;
    double m_phase = 0;
    bool m_pulsing = false;
};
