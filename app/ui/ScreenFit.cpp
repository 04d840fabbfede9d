#include "app/ui/ScreenFit.h"

#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace kvr::ui {

namespace ScreenFit {

namespace {

const char kPlaced[] = "kvrScreenFitPlaced";

QSize roomFor(QMargins frame, const QRect& available)
{
    return {available.width() - frame.left() - frame.right(), available.height() - frame.top() - frame.bottom()};
}

// The frame rectangle of contents `size` moved so that it starts inside the
// area and, where it fits, ends inside it too.
QRect frameMovedInside(QPoint frameTopLeft, QSize size, QMargins frame, const QRect& available)
{
    const int frameWidth = size.width() + frame.left() + frame.right();
    const int frameHeight = size.height() + frame.top() + frame.bottom();
    const int x =
        std::max(available.left(), std::min(frameTopLeft.x(), available.left() + available.width() - frameWidth));
    const int y =
        std::max(available.top(), std::min(frameTopLeft.y(), available.top() + available.height() - frameHeight));
    return {QPoint(x + frame.left(), y + frame.top()), size};
}

// The window frame's margins as the window system reports them; none where
// it tells them only once the window shows (X11, whose window manager draws
// the frame).
QMargins frameOf(const QWidget* window)
{
    const QWindow* handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

QRect availableFor(const QWidget* window)
{
    const QScreen* screen = window->screen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

QRect placement(QSize wanted, QSize minimum, QMargins frame, const QRect& available)
{
    const QSize size = wanted.boundedTo(roomFor(frame, available)).expandedTo(minimum);
    const int frameWidth = size.width() + frame.left() + frame.right();
    const int frameHeight = size.height() + frame.top() + frame.bottom();
    const QPoint centred(available.left() + (available.width() - frameWidth) / 2,
                         available.top() + (available.height() - frameHeight) / 2);
    return frameMovedInside(centred, size, frame, available);
}

QRect keptInside(const QRect& at, QSize minimum, QMargins frame, const QRect& available)
{
    const QSize size = at.size().boundedTo(roomFor(frame, available)).expandedTo(minimum);
    return frameMovedInside(at.topLeft() - QPoint(frame.left(), frame.top()), size, frame, available);
}

QSize bounded(const QWidget* w, QSize wanted)
{
    const QWidget* window = w->window();
    const QRect available = availableFor(window);
    if (!available.isValid())
        return wanted.expandedTo(w->minimumSize());
    return wanted.boundedTo(roomFor(frameOf(window), available)).expandedTo(w->minimumSize());
}

void showWithin(QWidget* window, QSize wanted)
{
    // Made before it is placed, so that its frame counts where the window
    // system knows it before the window shows (macOS does).
    window->winId();
    const QRect available = availableFor(window);
    if (available.isValid()) {
        const QMargins frame = frameOf(window);
        if (!window->property(kPlaced).toBool()) {
            window->setGeometry(placement(wanted, window->minimumSize(), frame, available));
            window->setProperty(kPlaced, true);
        } else if (const QRect kept = keptInside(window->geometry(), window->minimumSize(), frame, available);
                   kept != window->geometry()) {
            window->setGeometry(kept);
        }
    }
    window->show();
}

} // namespace ScreenFit

} // namespace kvr::ui
