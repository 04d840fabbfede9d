#pragma once

// What a widget paints, as the screen audit reads it: every text with the
// place, colour and clip it was drawn with, and the boxes of everything else
// it draws (fills, lines, pictures). Recorded by painting the widget, alone
// and without its children, onto a device that draws nothing.

#include <QColor>
#include <QFont>
#include <QList>
#include <QRectF>
#include <QString>

class QWidget;

namespace screenaudit {

struct PaintedText {
    QString text;
    QRectF rect;   // where the line's glyph box lies, in the widget's coordinates
    QRectF clip;   // what the painter let through there (the widget's rect when unclipped)
    QColor colour; // the pen, its opacity applied to its alpha
    QFont font;
};

struct Painting {
    QList<PaintedText> texts;
    QList<QRectF> ink;      // boxes of all else that left a mark, clipped
    QList<QRectF> pictures; // of those, the pictures (icons, arrows, images)
};

// Paints `w` (not its children, nor the background its parents give it).
Painting recordPainting(QWidget* w);

} // namespace screenaudit
