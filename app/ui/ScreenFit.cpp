#include "app/ui/ScreenFit.h"

#include "app/ui/Tunables.h"

#include <QEvent>
#include <QScreen>
#include <QTimer>
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
    // A shown window knows its frame as it stands (X11 tells it the widget
    // once the window manager has framed the window).
    if (window->isVisible()) {
        const QRect inner = window->geometry();
        const QRect outer = window->frameGeometry();
        const QMargins strut(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                             outer.bottom() - inner.bottom());
        if (!strut.isNull())
            return strut;
    }
    const QWindow* handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

QRect availableFor(const QWidget* window)
{
    const QScreen* screen = window->screen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

QSize minimumWithin(QSize minimum, QMargins frame, const QRect& available)
{
    if (!available.isValid())
        return minimum;
    return minimum.boundedTo(roomFor(frame, available)).expandedTo(QSize(0, 0));
}

namespace {

// Watches one window for what changes the room it has: its showing, its
// frame, its screen and the screen's available area.
class Keeper : public QObject {
public:
    Keeper(QWidget* window, QSize minimum) : QObject(window), m_window(window), m_minimum(minimum)
    {
        window->installEventFilter(this);
        // A window manager frames a shown window a moment later, and tells
        // the window nothing but its frame: looked for a short while.
        m_framing.setInterval(tun::kFrameWatch);
        connect(&m_framing, &QTimer::timeout, this, [this] {
            if (frameOf(m_window) != m_frame)
                apply(true);
            if (++m_looks >= tun::kFrameWatchLooks || !m_frame.isNull())
                m_framing.stop();
        });
        apply(false);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_window)
            return false;
        switch (event->type()) {
        case QEvent::Show:
            follow();
            applySoon();
            m_looks = 0;
            m_framing.start();
            break;
        case QEvent::Hide:
            m_framing.stop();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            // The frame comes once the window manager has framed the window.
            if (m_window->isVisible() && frameOf(m_window) != m_frame)
                applySoon();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void follow()
    {
        QWindow* handle = m_window->windowHandle();
        if (!handle || handle == m_handle)
            return;
        m_handle = handle;
        connect(handle, &QWindow::screenChanged, this, [this](QScreen* screen) {
            watchScreen(screen);
            applySoon();
        });
        watchScreen(handle->screen());
    }

    void watchScreen(QScreen* screen)
    {
        disconnect(m_area);
        if (screen)
            m_area = connect(screen, &QScreen::availableGeometryChanged, this, [this] { applySoon(); });
    }

    // After the event: a window placed while it is being shown or framed is
    // placed again by the window system.
    void applySoon()
    {
        QMetaObject::invokeMethod(
            this, [this] { apply(true); }, Qt::QueuedConnection);
    }

    // The smallest size within the area and, when `place`, the window moved
    // back inside it.
    void apply(bool place)
    {
        const QRect available = availableFor(m_window);
        m_frame = frameOf(m_window);
        // Asked for no minimum of its own (a dialog that sets its own, or
        // none): the window's own stands.
        const QSize least =
            m_minimum.isValid() ? minimumWithin(m_minimum, m_frame, available) : m_window->minimumSize();
        if (m_window->minimumSize() != least)
            m_window->setMinimumSize(least);
        if (!place || !available.isValid() || (m_window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            return;
        const QRect kept = keptInside(m_window->geometry(), least, m_frame, available);
        if (kept != m_window->geometry())
            m_window->setGeometry(kept);
    }

    QWidget* m_window;
    const QSize m_minimum;
    QMargins m_frame;
    QWindow* m_handle = nullptr;
    QMetaObject::Connection m_area;
    QTimer m_framing;
    int m_looks = 0;
};

} // namespace

void keepWithin(QWidget* window, QSize minimum)
{
    new Keeper(window, minimum);
}

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
