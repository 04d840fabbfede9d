#pragma once

#include <QWidget>

namespace kvr::view {

// The drag handle between the catalogue and the pages: 6 px wide; reports the
// horizontal distance from where the drag began. Tab reaches it, and each
// Left or Right arrow is a drag of its own of a step that way.
class ResizeHandle : public QWidget {
    Q_OBJECT
public:
    explicit ResizeHandle(QWidget* parent = nullptr);

    bool isDragging() const { return m_dragging; }

Q_SIGNALS:
    void dragStarted();
    void dragged(int deltaX);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool m_hovered = false;
    bool m_dragging = false;
    int m_pressX = 0;
};

} // namespace kvr::view
