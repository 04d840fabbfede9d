#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace kvr::view {

// A coloured status dot, 18 x 18, that can pulse: a halo grows from 4 to 9
// pixels while it fades, once every 1.5 s.
//
// The halo moves in steps of about 66 ms rather than on every animation
// frame. A dot that sits over live video steps only when its owner calls
// step, once per picture: its repaint then falls into the repaint the new
// picture makes anyway, instead of repainting the picture under it between
// pictures.
class PulseDot : public QWidget {
    Q_OBJECT
public:
    enum class Pace : quint8 {
        OwnTimer,   // steps by itself
        OwnerSteps, // steps when step is called
    };

    explicit PulseDot(QWidget* parent = nullptr);

    void setColor(const QColor& colour);
    void setPulsing(bool on);
    void setPace(Pace pace);
    // Moves the halo to where the pulse is now, unless it moved less than a
    // step ago or the dot is not pulsing.
    void step();

    QColor color() const { return m_color; }
    bool isPulsing() const { return m_pulsing; }
    Pace pace() const { return m_pace; }
    double phase() const { return m_phase; }
    // Whether the dot steps by itself now.
    bool isAnimating() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_stepTimer;
    QElapsedTimer m_since; // since the pulse began
    qint64 m_lastStepMs = 0;
    QColor m_color;
    double m_phase = 0;
    bool m_pulsing = false;
    Pace m_pace = Pace::OwnTimer;
};

} // namespace kvr::view
