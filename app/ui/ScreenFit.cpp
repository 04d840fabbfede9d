#include "app/ui/ScreenFit.h"

#include "app/core/Clock.h"
#include "app/ui/Tunables.h"

#include <QApplication>
#include <QEvent>
#include <QLayout>
#include <QScreen>
#include <QTimer>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <optional>

namespace kvr::ui {

namespace ScreenFit {

namespace {

const char kPlaced[] = "kvrScreenFitPlaced";
const char kKept[] = "kvrScreenFitKept";

// A dialog's moment of settling is measured on the clock the program's time
// rules share: monotonic, and one a test can hold still.
qint64 nowMs()
{
    return kvr::core::Clock::instance().monotonicMs();
}

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
// the frame) and none while what it reports cannot be a frame.
QMargins frameOf(const QWidget* window)
{
    // The window system's own word first: a widget's copy of it may lag.
    if (const QWindow* handle = window->windowHandle()) {
        const QMargins told = handle->frameMargins();
        if (!told.isNull())
            return isFrame(told) ? told : QMargins();
    }
    if (window->isVisible()) {
        const QRect inner = window->geometry();
        const QRect outer = window->frameGeometry();
        const QMargins strut(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                             outer.bottom() - inner.bottom());
        if (isFrame(strut))
            return strut;
    }
    return {};
}

// The frame `window` has or, not framed yet, will have: its parent window's,
// else that of another window of the program (one window manager frames
// them alike).
QMargins likelyFrameOf(const QWidget* window)
{
    const QMargins own = frameOf(window);
    if (!own.isNull())
        return own;
    if (const QWidget* parent = window->parentWidget()) {
        const QMargins parents = frameOf(parent->window());
        if (!parents.isNull())
            return parents;
    }
    for (const QWidget* other : QApplication::topLevelWidgets()) {
        if (other == window || !other->isVisible() || (other->windowFlags() & Qt::FramelessWindowHint)
            || other->windowType() == Qt::Popup || other->windowType() == Qt::ToolTip)
            continue;
        const QMargins theirs = frameOf(other);
        if (!theirs.isNull())
            return theirs;
    }
    return {};
}

QRect frameRectOf(const QWidget* window)
{
    return window->geometry().marginsAdded(frameOf(window));
}

QRect availableFor(const QWidget* window)
{
    return usableArea(window->screen());
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
        // A busy machine's window manager may take seconds: past the first
        // looks, looked at less often until it has.
        connect(&m_framing, &QTimer::timeout, this, [this] {
            if (frameOf(m_window) != m_frame)
                apply(true);
            ++m_looks;
            if (m_framedAtMs) {
                // Framed and settled: from now on where the person leaves it.
                if (nowMs() - *m_framedAtMs > tun::kFrameSettle.count()) {
                    m_centring = false;
                    m_framing.stop();
                }
            } else if ((!m_frame.isNull() && !m_centring)
                       || m_looks >= tun::kFrameWatchLooks + tun::kFrameWatchSlowLooks) {
                m_framing.stop();
            } else if (m_looks == tun::kFrameWatchLooks) {
                m_framing.setInterval(tun::kFrameWatchSlow);
            }
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
            // A dialog opened by the program (not one the window system
            // brings back) opens over its parent.
            if (!event->spontaneous())
                m_centring = m_window->parentWidget() != nullptr;
            // Sized and placed before the window system maps it (a window
            // manager takes the size it is first asked for, and may not hear
            // a later request in time), and again once its own handlers have
            // run (a dialog sizes itself as it shows).
            apply(true);
            applySoon();
            m_looks = 0;
            m_framedAtMs.reset();
            m_framing.start(tun::kFrameWatch);
            break;
        case QEvent::Hide:
            m_framing.stop();
            m_centring = false;
            break;
        case QEvent::Move:
        case QEvent::Resize:
            // The frame comes once the window manager has framed the window;
            // a window that grows (its content grew, or its window manager
            // gave it the size it first asked for) is kept inside again, and
            // a dialog that stands where it was centred is centred again.
            if (m_window->isVisible()
                && (m_centring || frameOf(m_window) != m_frame || event->type() == QEvent::Resize)) {
                // (A window manager may set it a pixel or two off.)
                if (event->type() == QEvent::Resize && m_centred
                    && (m_window->geometry().topLeft() - m_centredAt).manhattanLength() <= tun::kCentredSlack_px)
                    m_centring = true;
                applySoon();
            }
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
    // back inside it (a dialog still opening: centred on its parent).
    void apply(bool place)
    {
        const QRect available = availableFor(m_window);
        m_frame = frameOf(m_window);
        // Until the window manager has framed it, the frame it will have.
        const QMargins frame = m_frame.isNull() ? likelyFrameOf(m_window) : m_frame;
        // Asked for no minimum of its own (a dialog that sets its own, or
        // none): the window's own stands.
        const QSize least = m_minimum.isValid() ? minimumWithin(m_minimum, frame, available) : m_window->minimumSize();
        if (m_window->minimumSize() != least)
            m_window->setMinimumSize(least);
        if (!place || !available.isValid() || (m_window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            return;
        // A dialog stands over its parent's window.
        const QWidget* parent = m_window->parentWidget() ? m_window->parentWidget()->window() : nullptr;
        const QRect over = parent && parent->isVisible() ? frameRectOf(parent) & available : QRect();
        // Never narrower than its contents need where the area has room: the
        // window system may answer an earlier, narrower request last (a
        // dialog whose own least width is below its contents' is mapped at
        // the width it had before they came), and the window would stay so.
        QSize size = m_window->size();
        if (const QLayout* layout = m_window->layout()) {
            const QSize room = roomFor(frame, available);
            size.setWidth(std::max(size.width(), std::min(layout->totalMinimumSize().width(), room.width())));
            // Nor shorter, for a dialog whose contents' height follows its
            // width (wrapped text): Qt sets no least height for those, and a
            // late answer to a request made before its contents grew left
            // them laid over each other.
            if (parent && layout->hasHeightForWidth())
                size.setHeight(
                    std::max(size.height(), std::min(layout->totalMinimumHeightForWidth(size.width()), room.height())));
        }
        QRect kept;
        if (m_centring) {
            kept = placement(size, least, frame, available, over);
            // Until its window manager has framed it (however long that
            // takes) and a moment after, nobody can have moved it, and the
            // window manager may still place it where it likes: it is
            // centred again each time it moves or grows. Then it is centred
            // for good (the frame watch ends the centring): again only while
            // it stays there.
            if (!m_frame.isNull() && !m_framedAtMs) {
                m_framedAtMs = nowMs();
                if (!m_framing.isActive())
                    m_framing.start(tun::kFrameWatch);
            }
        } else {
            kept = keptInside(QRect(m_window->geometry().topLeft(), size), least, frame, available);
        }
        if (kept != m_window->geometry())
            m_window->setGeometry(kept);
        m_centred = parent && kept == placement(kept.size(), least, frame, available, over);
        m_centredAt = kept.topLeft();
    }

    QWidget* m_window;
    const QSize m_minimum;
    QMargins m_frame;
    QWindow* m_handle = nullptr;
    QMetaObject::Connection m_area;
    QTimer m_framing;
    int m_looks = 0;
    std::optional<qint64> m_framedAtMs; // when the window manager framed it
    bool m_centring = false;            // opening over its parent, until framed and settled
    bool m_centred = false;             // it stood centred on its parent when last placed,
    QPoint m_centredAt;                 // there
};

} // namespace

void keepWithin(QWidget* window, QSize minimum)
{
    // Once: a second keeper would only fight the first.
    if (window->property(kKept).toBool())
        return;
    window->setProperty(kKept, true);
    new Keeper(window, minimum);
}

QRect placement(QSize wanted, QSize minimum, QMargins frame, const QRect& available, const QRect& over)
{
    const QSize size = wanted.boundedTo(roomFor(frame, available)).expandedTo(minimum);
    const int frameWidth = size.width() + frame.left() + frame.right();
    const int frameHeight = size.height() + frame.top() + frame.bottom();
    const QRect anchor = over.isEmpty() ? available : over;
    const QPoint centred(anchor.left() + (anchor.width() - frameWidth) / 2,
                         anchor.top() + (anchor.height() - frameHeight) / 2);
    return frameMovedInside(centred, size, frame, available);
}

bool isFrame(QMargins frame)
{
    const auto plausible = [](int side) { return side >= 0 && side <= tun::kFrameMost_px; };
    return plausible(frame.left()) && plausible(frame.top()) && plausible(frame.right()) && plausible(frame.bottom());
}

QRect usableArea(const QScreen* screen)
{
    if (!screen)
        return {};
    QRect area = screen->availableGeometry();
    const qreal scale = screen->devicePixelRatio();
    if (!area.isEmpty() && scale != std::floor(scale))
        area.adjust(0, 0, -1, -1);
    return area;
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
    return wanted.boundedTo(roomFor(likelyFrameOf(window), available)).expandedTo(w->minimumSize());
}

void showWithin(QWidget* window, QSize wanted)
{
    // Made before it is placed, so that its frame counts where the window
    // system knows it before the window shows (macOS does).
    window->winId();
    const QRect available = availableFor(window);
    if (available.isValid()) {
        const QMargins frame = likelyFrameOf(window);
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
