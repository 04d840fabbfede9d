#pragma once

#include <QWidget>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace kvr::view {

// The stage's control strip over the picture: a shade from clear to dark
// that fades in and out (200 ms) and is never hidden as a widget, so it still
// takes the mouse at opacity 0.
class ControlBar : public QWidget {
    Q_OBJECT
public:
    explicit ControlBar(QWidget* parent = nullptr);

    void setShown(bool shown);
    bool isShown() const { return m_shown; }
    double opacity() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QGraphicsOpacityEffect* m_opacityEffect = nullptr;
    QPropertyAnimation* m_fade = nullptr;
    bool m_shown = true;
};

} // namespace kvr::view
