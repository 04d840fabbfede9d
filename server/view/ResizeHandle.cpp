#include "server/view/ResizeHandle.h"

#include "app/ui/Theme.h"
#include "server/view/Tunables.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

using namespace kvr::ui;

namespace kvr::view {

ResizeHandle::ResizeHandle(QWidget* parent) : QWidget(parent)
{
    setFixedWidth(6);
    setCursor(Qt::SplitHCursor);
    setMouseTracking(true);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QStringLiteral("Resize the camera list"));
    setAccessibleDescription(QStringLiteral("Left and Right arrows narrow or widen the camera list"));
}

void ResizeHandle::keyPressEvent(QKeyEvent* event)
{
    int step = 0;
    if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (event->key() == Qt::Key_Left)
            step = -tun::kHandleKeyStep_px;
        else if (event->key() == Qt::Key_Right)
            step = tun::kHandleKeyStep_px;
    }
    if (step == 0 || m_dragging) {
        QWidget::keyPressEvent(event);
        return;
    }
    Q_EMIT dragStarted();
    Q_EMIT dragged(step);
}

void ResizeHandle::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void ResizeHandle::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}

void ResizeHandle::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = true;
    m_pressX = int(std::lround(event->globalPosition().x()));
    Q_EMIT dragStarted();
    update();
}

void ResizeHandle::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging)
        return;
    Q_EMIT dragged(int(std::lround(event->globalPosition().x())) - m_pressX);
}

void ResizeHandle::mouseReleaseEvent(QMouseEvent*)
{
    m_dragging = false;
    update();
}

void ResizeHandle::enterEvent(QEnterEvent*)
{
    m_hovered = true;
    update();
}

void ResizeHandle::leaveEvent(QEvent*)
{
    m_hovered = false;
    update();
}

void ResizeHandle::paintEvent(QPaintEvent*)
{
    if (!m_hovered && !m_dragging && !hasFocus())
        return;
    QPainter p(this);
    p.fillRect(rect(), Theme::colour(Theme::Colour::Accent, 110 / 255.0));
    p.setPen(QPen(Theme::colour(Theme::Colour::Accent), 1));
    const int x = width() / 2;
    p.drawLine(x, 0, x, height());
}

} // namespace kvr::view
