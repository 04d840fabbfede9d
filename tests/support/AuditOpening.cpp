// Where a window opens, as a person meets it: once its window manager has
// framed it and it stands still, its whole frame, title bar included, lies
// inside the work area (what the desktop's panels leave), counted in the
// screen's own pixels where the window system tells them (at a scale of 1.5
// a window that ends on the area's last logical pixel can run one pixel
// under a panel), and a dialog stands centred on its parent where it fits.

#include "tests/support/ScreenAudit.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace screenaudit {

namespace {

// A window's place as the window system has it.
struct Place {
    QRect frame;          // the frame, title bar included
    QRect area;           // the work area
    bool framed = false;  // the window manager has told the frame
    bool managed = false; // a window manager runs
    bool native = false;  // in the screen's own pixels (read from X11), else device-independent ones
    bool operator==(const Place& o) const
    {
        return frame == o.frame && area == o.area && framed == o.framed && managed == o.managed;
    }
};

QList<int> numbersAfter(const QString& text, const QString& key)
{
    QList<int> out;
    const QRegularExpression line(QRegularExpression::escape(key) + QStringLiteral("[^=\\n]*=\\s*([-0-9, ]+)"));
    const QRegularExpressionMatch m = line.match(text);
    if (m.hasMatch())
        for (const QString& n : m.captured(1).split(QLatin1Char(','), Qt::SkipEmptyParts))
            out << n.trimmed().toInt();
    return out;
}

int valueAfter(const QString& text, const QString& key, bool* ok)
{
    const QRegularExpression line(QRegularExpression::escape(key) + QStringLiteral(":\\s*(-?\\d+)"));
    const QRegularExpressionMatch m = line.match(text);
    *ok = *ok && m.hasMatch();
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

// Read from the X server with its own tools, in its pixels: the client
// window's place, the frame extents its window manager set, the work area.
bool readX11(QWidget* window, Place* place)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    const QString id = QString::number(window->winId());
    QProcess tools;
    tools.start(QStringLiteral("sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("xwininfo -id %1 && xprop -id %1 _NET_FRAME_EXTENTS && "
                                "xprop -root _NET_WORKAREA _NET_SUPPORTING_WM_CHECK")
                     .arg(id)});
    if (!tools.waitForFinished(10000) || tools.exitStatus() != QProcess::NormalExit || tools.exitCode() != 0)
        return false;
    const QString said = QString::fromLocal8Bit(tools.readAllStandardOutput());
    bool ok = true;
    const QRect client(valueAfter(said, QStringLiteral("Absolute upper-left X"), &ok),
                       valueAfter(said, QStringLiteral("Absolute upper-left Y"), &ok),
                       valueAfter(said, QStringLiteral("Width"), &ok), valueAfter(said, QStringLiteral("Height"), &ok));
    const QList<int> area = numbersAfter(said, QStringLiteral("_NET_WORKAREA"));
    if (!ok)
        return false;
    // _NET_FRAME_EXTENTS: left, right, top, bottom.
    const QList<int> extents = numbersAfter(said, QStringLiteral("_NET_FRAME_EXTENTS"));
    place->framed = extents.size() == 4;
    place->frame = place->framed ? client.adjusted(-extents[0], -extents[2], extents[1], extents[3]) : client;
    place->managed = said.contains(QStringLiteral("_NET_SUPPORTING_WM_CHECK(WINDOW)"));
    place->area = area.size() >= 4 ? QRect(area[0], area[1], area[2], area[3])
                                   : QRect(QPoint(0, 0), window->screen()->size() * window->devicePixelRatio());
    place->native = true;
    return true;
}

Place placeOf(QWidget* window)
{
    Place place;
    if (readX11(window, &place))
        return place;
    const QWindow* handle = window->windowHandle();
    place.frame = handle ? handle->frameGeometry() : window->frameGeometry();
    place.area = window->screen() ? window->screen()->availableGeometry() : QRect();
    place.framed = handle && !handle->frameMargins().isNull();
    return place;
}

QString rectText(const QRect& r)
{
    return QStringLiteral("%1x%2 at %3,%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

} // namespace

QStringList openingFaults(QWidget* window)
{
    QStringList faults;
    if (!window || !window->isWindow() || !window->isVisible())
        return {QStringLiteral("[opening] %1: not shown").arg(describe(window))};
    // A window manager places and frames a window a moment after it shows,
    // and the program may place it again once the frame is known: looked at
    // once it has stood still for a while, framed where a window manager runs.
    constexpr int kLookMs = 50;
    constexpr int kStillLooks = 8;
    QElapsedTimer waited;
    waited.start();
    Place last = placeOf(window);
    int still = 0;
    while (still < kStillLooks || (last.managed && !last.framed)) {
        if (waited.elapsed() > 20000) {
            faults << QStringLiteral("[opening] %1 never stood still framed (last seen %2)")
                          .arg(describe(window), rectText(last.frame));
            return faults;
        }
        QTest::qWait(kLookMs);
        const Place now = placeOf(window);
        still = now == last ? still + 1 : 0;
        last = now;
    }
    const QString unit = last.native ? QStringLiteral("screen pixels") : QStringLiteral("px");
    if (!last.area.contains(last.frame)) {
        const QString how =
            last.frame.top() < last.area.top() ? QStringLiteral(", its title bar above the area") : QString();
        faults << QStringLiteral("[opening] %1: its frame (%2) does not lie inside the work area (%3, %4)%5")
                      .arg(describe(window), rectText(last.frame), rectText(last.area), unit, how);
    }
    // A dialog over its parent's window, where centred it fits.
    const QWidget* parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (parent && parent->isVisible() && parent->windowHandle() && window->windowHandle()) {
        const QRect mine = window->windowHandle()->frameGeometry();
        const QRect theirs = parent->windowHandle()->frameGeometry();
        const QRect area = window->screen()->availableGeometry();
        const QRect centred(theirs.center() - QPoint(mine.width() / 2, mine.height() / 2), mine.size());
        const QPoint off = mine.center() - theirs.center();
        if (area.contains(centred) && (std::abs(off.x()) > 2 || std::abs(off.y()) > 2))
            faults << QStringLiteral("[opening] %1: not centred on its parent window (%2 off its centre by %3,%4)")
                          .arg(describe(window), rectText(mine))
                          .arg(off.x())
                          .arg(off.y());
    }
    return faults;
}

} // namespace screenaudit
