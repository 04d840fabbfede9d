// When the screen audit looks: once a window holds still, as a person's eye
// meets it after it opened, and not while the window system, a layout or an
// animation is still changing it.

#include "tests/support/ScreenAudit.h"

#include <QAbstractAnimation>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace screenaudit {

namespace {

// The pause between two looks at a window that does not hold still yet.
constexpr int kLookPauseMs = 20;

QString animationName(const QAbstractAnimation* a)
{
    QString name = QString::fromLatin1(a->metaObject()->className());
    if (auto* p = qobject_cast<const QPropertyAnimation*>(a); p && p->targetObject())
        name += QStringLiteral(" of %1's %2")
                    .arg(QString::fromLatin1(p->targetObject()->metaObject()->className()),
                         QString::fromLatin1(p->propertyName()));
    else if (const QObject* owner = a->parent())
        name += QStringLiteral(" of %1").arg(QString::fromLatin1(owner->metaObject()->className()));
    return name;
}

// Why `window` does not hold still yet; empty when it does.
QStringList unsettled(QWidget* window)
{
    QStringList why;
    if (window->isWindow()) {
        const QWindow* handle = window->windowHandle();
        if (!window->isVisible() || !handle || !handle->isExposed())
            why << QStringLiteral("not shown on the screen yet");
        // A window smaller than its own least size has a resize under way:
        // the window system answered an earlier, smaller request first (a
        // window manager does so for a dialog that grew as it opened).
        const QSize least = window->minimumSize();
        if (window->width() < least.width() || window->height() < least.height())
            why << QStringLiteral("%1x%2, below its own least size %3x%4")
                       .arg(window->width())
                       .arg(window->height())
                       .arg(least.width())
                       .arg(least.height());
        // So has one narrower or lower than its contents' least size where
        // its screen has room for them: a dialog whose own least size is
        // smaller than its contents' (set before they came) is mapped at
        // the size it had before it grew to them, and the size it grew to
        // follows.
        if (const QLayout* layout = window->layout(); layout && handle && handle->screen()) {
            const QMargins frame = handle->frameMargins();
            const QSize room = handle->screen()->availableSize()
                - QSize(frame.left() + frame.right() + 1, frame.top() + frame.bottom() + 1);
            const QSize contents = layout->totalMinimumSize().boundedTo(room);
            if (window->width() < contents.width() || window->height() < contents.height())
                why << QStringLiteral("%1x%2, below its contents' least size %3x%4")
                           .arg(window->width())
                           .arg(window->height())
                           .arg(contents.width())
                           .arg(contents.height());
        }
    }
    // A fade or a collapse changes colours and places until it ends; one
    // that never ends (a backdrop's slow drift) is part of the look.
    for (const QAbstractAnimation* a : window->findChildren<QAbstractAnimation*>())
        if (a->state() == QAbstractAnimation::Running && a->totalDuration() >= 0)
            why << QStringLiteral("%1 runs").arg(animationName(a));
    return why;
}

} // namespace

QString settle(QWidget* window, std::chrono::milliseconds patience)
{
    const QDeadlineTimer deadline(patience);
    for (;;) {
        // A turn of the event loop: layouts asked for done, what the window
        // system answers to everything the program asked of it so far in,
        // and widgets let go of deleted (a list's old row buttons, which
        // would otherwise lie over the rows laid out anew).
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QGuiApplication::sync();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QStringList why = unsettled(window);
        if (why.isEmpty())
            return {};
        if (deadline.hasExpired())
            return why.join(QLatin1String("; "));
        QTest::qWait(kLookPauseMs);
    }
}

} // namespace screenaudit
