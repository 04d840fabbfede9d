// Keyboard focus a person can see: what Tab reaches is ringed.

#include "tests/support/Drive.h"

#include "tests/support/ScreenAudit.h"

#include <QApplication>
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

} // namespace

QStringList focusShows(QWidget* window, const QColor& ring, const QWidget* within, int most)
{
    QStringList faults;
    if (QWidget* focused = window->focusWidget())
        focused->clearFocus();
    QSet<QWidget*> met;
    for (int i = 0; i < most; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Tab);
        QCoreApplication::processEvents();
        QWidget* w = QApplication::focusWidget();
        if (!w || w->window() != window || met.contains(w))
            break;
        met.insert(w);
        if (within && w != within && !within->isAncestorOf(w))
            continue;
        const QString name = screenaudit::describe(w);
        // The window as drawn now, around the widget.
        const QRect at(w->mapTo(window, QPoint(0, 0)), w->size());
        const QRect around = at.adjusted(-kOut_px, -kOut_px, kOut_px, kOut_px) & window->rect();
        const QImage image = window->grab(around).toImage().scaled(around.size());
        const double share = ringed(image, at.translated(-around.topLeft()), ring);
        if (share < 0.8)
            faults << QStringLiteral("[focus] %1: holds the focus, ringed in %2 along %3% of its least ringed side")
                          .arg(name, ring.name())
                          .arg(qRound(share * 100));
    }
    return faults;
}

} // namespace drive
