#pragma once

// The look of native mode in one place: the one style sheet that every native
// screen, dialog and live-wall tile wears, built from a table of named colour
// tokens; the palette that painting code uses where the sheet cannot reach;
// status chips and dots. Nothing here keeps state beyond each widget.

#include "app/ui/Theme.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QWidget>

#include <span>

class QLabel;

namespace kvr::screens {

namespace NativeStyle {

// ---- Palette -----------------------------------------------------------------
// The named colours of native mode. The sheet names them as "@primary" (or
// "@primary/0.35" for a share), painting code through the constants below,
// which equal their tokens.
std::span<const ui::Theme::Token> tokens();
// The colour of a token by name, with `alpha` (0..1); invalid when unknown.
QColor token(const char* name, qreal alpha = 1.0);

inline constexpr QColor kPrimary{0x00, 0x4a, 0xad};       // selection, pill text, card accent
inline constexpr QColor kSuccess{0x28, 0xa7, 0x45};       // up, pass, high uptime
inline constexpr QColor kWarning{0xff, 0xc1, 0x07};       // warn, middling uptime
inline constexpr QColor kDanger{0xdc, 0x35, 0x45};        // down, fail, low uptime
inline constexpr QColor kInfo{0x17, 0xa2, 0xb8};          // informational accent
inline constexpr QColor kMuted{0x6c, 0x75, 0x7d};         // secondary text, captions
inline constexpr QColor kText{0x33, 0x33, 0x33};          // body text
inline constexpr QColor kHairline{0xde, 0xe2, 0xe6};      // separators and borders
inline constexpr QColor kUnknownBorder{0xad, 0xb5, 0xbd}; // unknown dot ring and chip border
// Painting colours beyond the palette's nine, each also a token.
inline constexpr QColor kWarnText{0xb4, 0x53, 0x09};    // amber text on light ground
inline constexpr QColor kNoData{0xf1, 0xf3, 0xf5};      // heat-map hour without data
inline constexpr QColor kHoverRow{0xf8, 0xf9, 0xfa};    // hovered table cell
inline constexpr QColor kOnAmber{0x5c, 0x3d, 0x00};     // text on an amber square
inline constexpr QColor kWhite{0xff, 0xff, 0xff};       // text on colour, card ground
inline constexpr QColor kToastGround{0x33, 0x33, 0x33}; // the toast

// The whole native style sheet, tokens written out.
QString stylesheet();

// Makes a changed dynamic property that the sheet selects on take effect.
void repolish(QWidget* w);

// ---- Hint texts ------------------------------------------------------------------
// The colour of a field's hint text (its placeholder) on a field of `ground`:
// the muted text of the light screens on a light field, of the live wall on
// a dark one.
QColor hintColour(const QColor& ground);
// From now on the fields of `root` and of its dialogs draw their hint texts
// in hintColour. The style sheet alone would draw them in the text colour at
// half strength (#999999 on white, 2.9:1), too faint to read, and a field's
// own palette cannot say otherwise while a sheet styles it.
void keepHintsReadable(QWidget* root);

// ---- Chips -------------------------------------------------------------------
// The status vocabulary of every native screen. A value outside 0..5 (as
// read from elsewhere) looks like Unknown.
enum class Chip : int {
    Pass = 0,
    Fail = 1,
    Warn = 2,
    Info = 3,
    Unknown = 4,
    Poor = 5,
};

// The word the sheet selects on ("pass" .. "poor"); "unknown" outside 0..5.
const char* chipWord(Chip kind);
QColor chipFill(Chip kind);
QColor chipTextColor(Chip kind);
// Sets the text and the chip word, then repolishes the label.
void setChip(QLabel* label, const QString& text, Chip kind);
// A new "NChip" label (owned by `parent`, or by the layout it goes into).
QLabel* chip(const QString& text, Chip kind, QWidget* parent = nullptr);
// Names a chip for a screen reader by its caption and what it says
// ("Internet: Online"), now and whenever setChip changes its text: the
// caption alone would never say the value.
void captionChip(QLabel* label, const QString& caption);

// ---- Status dot ----------------------------------------------------------------
// Any value other than Up and Unknown paints as Down.
enum class Disc : int {
    Up = 0,
    Down = 1,
    Unknown = 2,
};

// A painted 10 x 10 px status disc: filled green or red, or a hollow ring.
class DiscDot : public QWidget {
    Q_OBJECT
public:
    explicit DiscDot(Disc state, QWidget* parent = nullptr);
    Disc state() const { return m_state; }
    // Repaints only when the state changes.
    void setState(Disc state);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Disc m_state;
};

} // namespace NativeStyle

} // namespace kvr::screens
