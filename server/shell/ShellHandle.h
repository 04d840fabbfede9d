#pragma once

#include <QWidget>

// The vertical drag handle between the catalogue and the pages.
class ShellHandle : public QWidget {
    Q_OBJECT
public:
    explicit ShellHandle(QWidget* parent = nullptr);

Q_SIGNALS:
    void dragStarted();
    // Horizontal change since the press, in pixels.
    void dragged(int dx);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
    qreal m_pressX = 0;
};
