#pragma once

#include <chrono>
#include <cstdint>

// Tunables of the server viewing screens, in one place. Types or suffixes
// carry units.
namespace kvr::view::tun {

using std::chrono::milliseconds;
using std::chrono::seconds;
using fseconds = std::chrono::duration<double>; // fractional seconds, as playlists count them

// ---- Single-camera stage ------------------------------------------------
// The control strip hides this long after the last mouse movement over a
// playing picture.
inline constexpr milliseconds kControlsHide{2500};
inline constexpr int kControlBarHeight_px = 84;
// Tooltips of the snapshot button show this far above it.
inline constexpr int kTooltipLift_px = 30;

// ---- The catalogue's resize handle -------------------------------------------
// An arrow key moves the handle this far, as a drag of that length does.
inline constexpr int kHandleKeyStep_px = 16;

// ---- Day clock ------------------------------------------------------------
// Server playback counts time in India Standard Time, a fixed offset.
inline constexpr seconds kIstOffset{19800};
inline constexpr seconds kDay{86400};
// The last second of a day that can start playback.
inline constexpr seconds kLastSecond = kDay - seconds(1);

// ---- Cloud playlists --------------------------------------------------------
// Consecutive segments closer than this form one footage block.
inline constexpr fseconds kBlockMergeGap{2.0};
// Segment starts are kept from a day before to 12 hours after the shown day.
inline constexpr fseconds kEarliestStart{-86400.0};
inline constexpr fseconds kLatestStart{129600.0};
// A start second up to this far past the first segment plays the whole list.
inline constexpr fseconds kPendingStartSlack{1.0};
// Unix times above this are in milliseconds.
inline constexpr int64_t kMillisecondTimesAbove = 100000000000LL;
// The first segment address in the "no start times" warning, at most.
inline constexpr int kLoggedAddressChars = 220;

// ---- Camera tile ------------------------------------------------------------
inline constexpr milliseconds kToast{2600};
// From this width a tile shows its expand and snapshot buttons.
inline constexpr int kTileWide_px = 250;
inline constexpr int kOverlayButton_px = 30;
inline constexpr int kOverlayIcon_px = 18;
// The name badge: its distance from the tile's left and top edges (and the
// least from its right edge; its margins, dot and spacing are
// CameraTileRules::stripFor's), its gap to an overlay button, and the least
// room its name is shown in.
inline constexpr int kBadgeInset_px = 10;
inline constexpr int kBadgeGap_px = 6;
inline constexpr int kNameLeast_px = 24;
// The badge of a narrow tile (a wall of 120 on a laptop's screen has tiles
// of 100 px, 64 px at a scale of 1.5): nearer the edges, with a smaller dot,
// so that its name keeps room for what tells it from its neighbours
// ("…1 · …01" in 53 px).
inline constexpr int kTileNarrow_px = 160;
inline constexpr int kNarrowInset_px = 4;
inline constexpr int kNarrowDot_px = 10;

// A started tile that has had no picture for this long since its stream was
// handed to the player, or since the picture stopped, fails and tries again
// later by itself (a path that stays silent would keep the player opening
// it for minutes).
inline constexpr seconds kTileNoPictureBound{30};
// How often a tile waiting for a picture says how long it has waited.
inline constexpr milliseconds kTileWaitTick{1000};

// ---- Camera wall --------------------------------------------------------------
// While every tile of a page waits to try again, one of them tries at least
// this often (CameraWallRules::scoutTile); and the sources of the failed
// tiles are asked this often whether they answer again (GridPage::
// checkSources). A recorder the relay turned away for 90 s while the other
// 27 tiles of a wall of 36 played came back 0.9-4.7 s after the relay took
// it back, where each tile's own retry took 36.5-40.5 s; away for 45 s,
// 0.5-4.1 s against 9.9-13.9 s (bench/view/bench_wall_outage).
inline constexpr seconds kWallScout{8};
// Server start requests of one page outstanding at once.
inline constexpr int kStartsInFlight = 4;
// Overload reports closer than this to the last step are ignored.
inline constexpr milliseconds kOverloadSpacing{12000};
inline constexpr int kLastOverloadStep = 3;
// The cap every tile gets from the first overload step on.
inline constexpr double kOverloadCap_fps = 5.0;
inline constexpr seconds kDefaultAdvance{30};
inline constexpr seconds kShortestAdvance{10};
// A QTimer counts in 32-bit milliseconds; longer intervals are waited out in
// slices of at most this against a 64-bit deadline.
inline constexpr milliseconds kLongestTimerSlice{3600 * 1000};
// A new page shows this many tiles per turn of the event loop, so that
// building and first painting a page of 36 never holds the window up long.
inline constexpr int kTilesShownPerTurn = 9;
// Side of the grid up to which rows and columns get stretch.
inline constexpr int kGridStretchCells = 8;

// ---- Small widgets --------------------------------------------------------------
inline constexpr milliseconds kPageFade{220};
inline constexpr milliseconds kPulsePeriod{1500};
// The pulse's halo moves at most once in this time: smooth enough for a
// halo of a few pixels, and a fraction of the repaints of an animation frame
// rate.
inline constexpr milliseconds kPulseStep{66};
inline constexpr milliseconds kBarFade{200};
inline constexpr milliseconds kBackdropCycle{18000};

} // namespace kvr::view::tun
