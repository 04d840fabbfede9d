// Keyboard focus a person can see: what Tab reaches is ringed.

#include "tests/support/Drive.h"

#include "tests/support/AuditChecks.h"
#include "tests/support/ScreenAudit.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QImage>
#include <QSet>
#include <QTest>
#include <QWidget>

#include <cstdlib>

namespace drive {

namespace {

// How far from a widget's edge, outwards and inwards, its ring may stand.
constexpr int kOut_px = 5;
constexpr int kIn_px = 2;
// Presses of Tab a view that walks its cells first is given to let go.
constexpr int kCellPresses = 2000;

bool near(QRgb a, const QColor& b)
{
    return std::abs(qRed(a) - b.red()) + std::abs(qGreen(a) - b.green()) + std::abs(qBlue(a) - b.blue()) < 60;
}

// The share of the middle three fifths of each side of `rect` (in `image`)
// along which the ring's colour stands within reach of the edge: the
// smallest of the four.
double ringed(const QImage& image, const QRect& rect, const QColor& ring)
{
    double least = 1.0;
    for (int side = 0; side < 4; ++side) {
        const bool across = side < 2; // top and bottom
        const int length = across ? rect.width() : rect.height();
        int samples = 0;
        int hits = 0;
        for (int along = length / 5; along < length - length / 5; ++along, ++samples) {
            bool hit = false;
            for (int depth = -kOut_px; depth <= kIn_px && !hit; ++depth) {
                QPoint p;
                switch (side) {
                case 0:
                    p = {rect.left() + along, rect.top() + depth};
                    break;
                case 1:
                    p = {rect.left() + along, rect.bottom() - depth};
                    break;
                case 2:
                    p = {rect.left() + depth, rect.top() + along};
                    break;
                default:
                    p = {rect.right() - depth, rect.top() + along};
                    break;
                }
                hit = image.rect().contains(p) && near(image.pixel(p), ring);
            }
            hits += hit ? 1 : 0;
        }
        if (samples > 0)
            least = std::min(least, double(hits) / samples);
    }
    return least;
}

// One fault when `w`, holding the focus in `window`, is not ringed: around
// the part of it that shows, where a scrolling page cuts it.
QString ringFault(QWidget* window, QWidget* w, const QColor& ring)
{
    const QRect at = screenaudit::shownPart(w).translated(w->mapTo(window, QPoint(0, 0)));
    if (at.isEmpty())
        return QStringLiteral("[focus] %1: holds the focus out of sight").arg(screenaudit::describe(w));
    const QRect around = at.adjusted(-kOut_px, -kOut_px, kOut_px, kOut_px) & window->rect();
    const QImage image = window->grab(around).toImage().scaled(around.size());
    const double share = ringed(image, at.translated(-around.topLeft()), ring);
    if (share >= 0.8)
        return {};
    return QStringLiteral("[focus] %1: holds the focus, ringed in %2 along %3% of its least ringed side")
        .arg(screenaudit::describe(w), ring.name())
        .arg(qRound(share * 100));
}

// `ringFault` once the ring had its chance to settle: a move of the focus
// that shows a control (a tile's buttons under the keyboard) or lays a page
// out again places the ring a turn or more of the event loop later, and a
// busy machine takes longer over those turns. A ring that never comes is
// still a fault, said after `wait`; once a walk met one such, the stops after
// it are given a short look only, so that a window without rings is said
// soon rather than after a wait per stop.
QString settledRingFault(QWidget* window, QWidget* w, const QColor& ring, bool* waitedInVain)
{
    const QDeadlineTimer deadline(*waitedInVain ? 50 : 2000);
    QString fault = ringFault(window, w, ring);
    while (!fault.isEmpty() && !deadline.hasExpired()) {
        QTest::qWait(10);
        fault = ringFault(window, w, ring);
    }
    if (!fault.isEmpty())
        *waitedInVain = true;
    return fault;
}

// What a screen reader misses of `w`, which holds or is given the focus.
QStringList nameFault(QWidget* w, const QSet<const QObject*>& tree, const QString& how)
{
    QStringList faults;
    if (screenaudit::accessibleName(w).isEmpty())
        faults << QStringLiteral("[name] %1: %2, with no name a screen reader says").arg(screenaudit::describe(w), how);
    else if (!tree.contains(w))
        faults
            << QStringLiteral("[name] %1: %2, missing from the accessibility tree").arg(screenaudit::describe(w), how);
    return faults;
}

} // namespace

QStringList focusShows(QWidget* window, const QColor& ring, const QWidget* within, int most)
{
    QStringList faults;
    if (QWidget* focused = window->focusWidget())
        focused->clearFocus();
    QSet<QWidget*> met;
    bool waitedInVain = false;
    for (int i = 0; i < most; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Tab);
        QCoreApplication::processEvents();
        QWidget* w = QApplication::focusWidget();
        if (!w || w->window() != window || met.contains(w))
            break;
        met.insert(w);
        if (within && w != within && !within->isAncestorOf(w))
            continue;
        const QString fault = settledRingFault(window, w, ring, &waitedInVain);
        if (!fault.isEmpty())
            faults << fault;
    }
    return faults;
}

QStringList heardFirst(QWidget* window)
{
    QWidget* first = window->focusWidget();
    if (qEnvironmentVariableIsSet("KVR_AUDIT_TRACE"))
        qDebug().noquote() << "first" << screenaudit::describe(window)
                           << (first ? screenaudit::describe(first) + QLatin1Char(' ')
                                       + screenaudit::accessibleName(first)
                                     : QStringLiteral("none"));
    if (!first || first == window)
        return {};
    return nameFault(first, screenaudit::inAccessibilityTree(window), QStringLiteral("focused as the window opens"));
}

QStringList focusSeen(QWidget* window, const QColor& ring)
{
    QWidget* w = QApplication::focusWidget();
    if (!w || w->window() != window)
        return {QStringLiteral("[focus] %1: nothing in it holds the focus").arg(screenaudit::describe(window))};
    QCoreApplication::processEvents();
    QStringList faults = nameFault(w, screenaudit::inAccessibilityTree(window), QStringLiteral("reached by the keys"));
    bool waitedInVain = false;
    if (const QString fault = settledRingFault(window, w, ring, &waitedInVain); !fault.isEmpty())
        faults << fault;
    return faults;
}

bool tabTo(QWidget* window, const std::function<bool(QWidget*)>& wanted, int most)
{
    for (int i = 0; i < most; ++i) {
        QWidget* w = QApplication::focusWidget();
        if (w && w->window() == window && wanted(w))
            return true;
        QTest::keyClick(w && w->window() == window ? w : window, Qt::Key_Tab);
        QCoreApplication::processEvents();
    }
    QWidget* w = QApplication::focusWidget();
    return w && w->window() == window && wanted(w);
}

QStringList tabStops(QWidget* window, const QColor& ring, int most)
{
    QStringList faults;
    const QSet<const QObject*> tree = screenaudit::inAccessibilityTree(window);
    activate(window);
    if (QWidget* focused = window->focusWidget())
        focused->clearFocus();
    QSet<QWidget*> met;
    QWidget* last = nullptr;
    bool waitedInVain = false;
    for (int i = 0; i < most; ++i) {
        QWidget* w = nullptr;
        // A view that walks its cells with Tab keeps the focus for a while.
        for (int press = 0; press < kCellPresses; ++press) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Tab);
            QCoreApplication::processEvents();
            w = QApplication::focusWidget();
            if (w != last || !w)
                break;
        }
        if (!w || w->window() != window || met.contains(w) || w == last)
            break;
        met.insert(w);
        last = w;
        if (qEnvironmentVariableIsSet("KVR_AUDIT_TRACE"))
            qDebug().noquote() << "stop" << screenaudit::describe(w) << screenaudit::accessibleName(w);
        const QString fault = settledRingFault(window, w, ring, &waitedInVain);
        if (!fault.isEmpty())
            faults << fault;
        faults += nameFault(w, tree, QStringLiteral("reached by Tab"));
    }
    return faults;
}

} // namespace drive
