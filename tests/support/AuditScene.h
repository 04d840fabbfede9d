#pragma once

// The screen audit's view of one shown window, taken once per look: its
// picture, and each widget a person sees in the order they are painted, with
// where it lies in the window, how much of it its containers leave visible,
// and what it paints. The checks of the audit read it; none of them changes
// the window.

#include "tests/support/AuditPaint.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QRect>

class QWidget;

namespace screenaudit {

struct SceneWidget {
    QWidget* widget = nullptr;
    QRect rect;        // in the window's coordinates
    QRect visible;     // the part its containers leave to be seen, scrolling aside, in the window's coordinates
    QRect shown;       // the part that shows now, in the window's coordinates
    int order = 0;     // place in the order of painting; later ones lie on top
    Painting painting; // in the window's coordinates
};

struct Scene {
    QWidget* window = nullptr;
    QImage picture; // the window as grabbed, one pixel per device-independent pixel
    QList<SceneWidget> widgets;
    QHash<const QWidget*, int> indexOf;

    const SceneWidget* find(const QWidget* w) const
    {
        const auto it = indexOf.constFind(w);
        return it == indexOf.cend() ? nullptr : &widgets.at(*it);
    }
};

Scene takeScene(QWidget* window);

// Shared helpers of the checks.
QString describe(const QWidget* w);
QString shortText(QString text);
// How much of `w` its ancestors up to the window leave visible, in its own
// coordinates; a scroll area cuts nothing off in a direction it scrolls in.
QRect visiblePart(const QWidget* w);
// The part of `w` that shows now: what every container cuts off is gone.
QRect shownPart(const QWidget* w);
// Parts a widget stands for: the field of a number box or drop-down, a
// field's own icons, the scroll buttons of a tab bar, a table's header.
bool isInnerPart(const QWidget* w);
// Something a mouse can use.
bool isControl(const QWidget* w);
bool takesTab(const QWidget* w);
bool hasText(const QWidget* w);
// `a` lies on or inside `b` (b is `a` or one of its ancestors).
bool isWithin(const QWidget* a, const QWidget* b);
// The colour most of `area`'s pixels have, when at least `share` of them have it.
bool dominantColour(const QImage& picture, const QRect& area, double share, QColor* out);
// WCAG contrast ratio of two opaque colours.
double contrastRatio(const QColor& a, const QColor& b);

constexpr int kSlackPx = 1;

} // namespace screenaudit
