#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include <span>

namespace kvr::ui {

// The look of server mode and the sign-in window: compiled-in fonts, the two
// style sheets, the colours that painting code shares with them, icons
// painted in code and rounded copies of pictures. Stateless.
namespace Theme {

// The named colours of server mode and the sign-in window. Style sheets and
// painting code both take their colours from this one table: a sheet names a
// colour as "@accent" (or "@accent/0.16" for a share of it), painting code as
// Theme::colour(Colour::Accent).
enum class Colour : int {
    Backdrop,
    Surface,
    SurfaceList,
    Field,
    FieldFocus,
    Combo,
    Raised,
    RaisedDisabled,
    Line,
    RowLine,
    Border,
    BorderStrong,
    BorderHover,
    ScrollHover,
    Text,
    TextSoft,
    Muted,
    Faint,
    Disabled,
    White,
    Black,
    Accent,
    AccentHover,
    AccentPressed,
    AccentText,
    Live,
    LiveText,
    Online,
    OnlineText,
    Cloud,
    CloudText,
    BrandNavy,
    BrandInk,
    BrandTeal,
    Tint,
    Well,
    OfflineRow,
    HealthPass,
    HealthFail,
    HealthUnknown,
    Warning,
    Danger,
    FocusRing,
};
inline constexpr int kColourCount = int(Colour::FocusRing) + 1;

// One named colour of a table; the native style keeps a table of its own.
struct Token {
    const char* name;
    QRgb rgb;
};

// The table behind Colour, in the enum's order.
std::span<const Token> tokens();

// A colour of the table, with `alpha` (0..1) as its opacity.
QColor colour(Colour c, qreal alpha = 1.0);

// `sheet` with every "@name" written out as "#rrggbb" and every "@name/0.16"
// as "rgba(r, g, b, 0.16)" from `table`. A name the table lacks stays as it
// stands (and shows in the sheet as a parse warning).
QString expandTokens(const QString& sheet, std::span<const Token> table = tokens());

// Opaque colours for code that paints; each equals its token.
inline constexpr QColor kBackdrop{0x0b, 0x0f, 0x14}; // behind video, main background
inline constexpr QColor kAccent{0x3b, 0x82, 0xf6};   // active state
inline constexpr QColor kMuted{0x8a, 0x96, 0xa8};    // idle state, muted text
inline constexpr QColor kLive{0xf2, 0x55, 0x5a};     // live and errors

// The painted icon kinds. The values are fixed: anything outside 0..17
// paints nothing.
enum class Icon : int {
    Play = 0,
    Pause,
    Stop,
    EnterFullscreen,
    LeaveFullscreen,
    Search,
    ChevronLeft,
    ChevronRight,
    SoundOn,
    SoundOff,
    Settings,
    Checked,
    Snapshot,
    Close,
    Expand,
    SkipStart,
    SkipEnd,
    Retry,
};
inline constexpr int kIconKinds = 18;

// Registers the compiled-in Inter and Poppins faces with the application's
// font database. Faces whose resource is missing are skipped silently.
void loadFonts();
// Registers those faces and makes Inter at 14 px the application's font, as
// the program does at start.
void useProgramFont();

// Style sheet of the sign-in window.
QString loginStyle();
// Style sheet of the server-mode windows, their dialogs and the wall windows.
QString appStyle();

// The multi-display wall. Its display windows add this after their camera
// source's tile style (black backdrop, empty-cell placeholders "WallEmpty");
QString wallDisplayStyle();
// its control bar "WallBar" takes this one;
QString wallBarStyle();
// the big display numbers of "Identify displays" this one;
QString wallIdentifyStyle();
// and the set-up dialog "WallRoot" appends this after appStyle().
QString wallSetupStyle();

// An icon of `size` logical pixels painted in `colour`, drawn at twice the
// resolution (device pixel ratio 2). A size below 1 gives a null icon.
QIcon icon(Icon kind, const QColor& colour, int size);

// `picture` scaled to `height` logical pixels with its corners rounded at
// `radius`, at device pixel ratio 2. A null picture or a height below 1
// gives a null pixmap.
QPixmap rounded(const QPixmap& picture, int height, int radius);

} // namespace Theme

} // namespace kvr::ui
