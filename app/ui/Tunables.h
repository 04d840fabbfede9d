#pragma once

// Sizes and spans of the widget layer in one place. Colours, radii and fonts
// are theme tokens (Theme.h), not tunables.

#include <chrono>

namespace kvr::ui::tun {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The 24-hour timeline: the track runs between equal side margins, below the
// hour labels; hours are labelled every two from this width, else every four.
inline constexpr double kTimelineMargin_px = 16;
inline constexpr double kTimelineTrackTop_px = 28;
inline constexpr double kTimelineTrackHeight_px = 14;
inline constexpr int kTimelineHeight_px = 66;
inline constexpr int kTimelineMajorEveryTwoFrom_px = 700;
inline constexpr seconds kTimelineSpan{86400}; // the whole day the track shows

// A shown window is looked at this often, this many times, for the frame its
// window manager gives it, so that it is kept within the screen with it.
inline constexpr milliseconds kFrameWatch{50};
inline constexpr int kFrameWatchLooks = 40;
// Then this often, this many times more (a minute), for a window manager
// slowed by a busy machine.
inline constexpr milliseconds kFrameWatchSlow{500};
inline constexpr int kFrameWatchSlowLooks = 120;
// Once framed, a dialog opening over its parent is centred again when it
// moves within this time: a busy window manager's answer to a request made
// before it framed the window may come after it did, set off by the frame's
// title (it is nobody's choice). Past it, a move is the person's and stands.
inline constexpr milliseconds kFrameSettle{1500};
// A window's content that scrolls where the screen is too small for it
// whole keeps at least this much of it in view.
inline constexpr int kScrolledContentLeast_px = 120;

// A dialog still within this many pixels of where it was centred on its
// parent (a window manager may place it so) has not been moved by a person:
// it is centred again as it grows.
inline constexpr int kCentredSlack_px = 3;

// The widest side of a window frame a window manager draws: margins past it
// (or below 0) are what a window system reports while it frames a window.
inline constexpr int kFrameMost_px = 160;

// A wall's tile says its picture stopped once no new picture has come for
// this long, or for three times the usual gap between its pictures where
// they come further apart (a wall that shows keyframes only); a tile still
// waiting for its first picture says from then on how long it has waited.
inline constexpr milliseconds kPictureStoppedAfter{3000};
inline constexpr int kPictureStoppedGaps = 3;

} // namespace kvr::ui::tun
