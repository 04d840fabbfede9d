#pragma once

// The numbers of the native live view in one place: tile start pacing, the
// time a refusing device is left alone, watchdogs, the wall's size limits,
// the playback window and the snapshot fetcher's limits.

#include <QSize>

#include <chrono>

namespace kvr::live::tun {

using std::chrono::milliseconds;
using std::chrono::seconds;

// ---- The camera tree beside the wall ----
// Its panel: as wide as a person drags it, between these (the width is kept
// between starts).
inline constexpr int kTreeLeast_px = 240;
inline constexpr int kTreeMost_px = 640;

// ---- Camera tiles ----
// Gap between two stream starts of one device: live streams are cheap for a
// recorder to open, recorded ones (a disk search and a session) are not.
inline constexpr milliseconds kLiveStartGap{80};
inline constexpr milliseconds kPlaybackStartGap{300};
// A device that refused an RTSP connection is not asked again by any tile for
// this long, unless the user presses "Try again".
inline constexpr milliseconds kRefusedBlock{30000};
// No picture this long after a start is a failure.
inline constexpr milliseconds kLiveWatchdog{10000};
inline constexpr milliseconds kPlaybackWatchdog{15000};
// How often a running tile looks whether its picture stopped and says how
// long it has waited.
inline constexpr milliseconds kPictureTick{1000};
// How long a toast stays on a tile.
inline constexpr milliseconds kToastShown{2600};
// The key-frame request is fire and forget; its reply is not waited for longer.
inline constexpr milliseconds kKeyFrameTimeout{4000};
// RTSP open attempts of a tile's player (0.5 s apart).
inline constexpr int kTileOpenAttempts = 3;
// Below this width the snapshot button does not fit; below the second the
// device name gives way to the camera name.
inline constexpr int kSnapshotButtonMinWidth = 250;
inline constexpr int kDeviceNameMinWidth = 300;
// The badge around the names: room for its margins and dot, the spacing
// between the names, the least the camera's name is given, and the least
// room in which the device's name still shows (a few letters and "…").
inline constexpr int kBadgeChrome_px = 20;
inline constexpr int kBadgeSpacing_px = 7;
inline constexpr int kNameLeast_px = 40;
inline constexpr int kDeviceNameLeast_px = 36;
// The badge of a narrow tile (a wall of 120 has tiles of 70 to 100 px):
// nearer the edges, with tighter margins and spacing, its labels' room
// never more than the tile has; a name with less room than the second is
// read in its tool tip.
inline constexpr int kTileNarrow_px = 160;
inline constexpr int kNarrowInset_px = 4;
inline constexpr int kNarrowNameLeast_px = 24;
// Least gap between two overlays of a tile.
inline constexpr int kOverlayGap_px = 6;
// "Try again" squeezed in below the badge keeps this far from it and from
// the tile's bottom edge. On a tile with no room for its text there, it is a
// round icon of this side before the badge, in place of the badge's dot
// (which says the same), this far from it.
inline constexpr int kRetryGap_px = 2;
inline constexpr int kRetryIcon_px = 18;
inline constexpr int kRetryIconGlyph_px = 14;

// ---- The wall page ----
// The most cameras the wall keeps.
inline constexpr int kMaxWallCameras = 256;
// Auto layout: cameras per page.
inline constexpr int kAutoPerPageLive = 16;
inline constexpr int kAutoPerPagePlayback = 4;
// Auto quality uses Main only below this many cameras on a page.
inline constexpr int kAutoMainBelow = 5;
// Frame-rate caps by cameras shown: none below kCapFrom, kCapMid up to
// kCapHighFrom - 1, kCapHigh from kCapHighFrom on.
inline constexpr int kCapFrom = 5;
inline constexpr int kCapHighFrom = 10;
inline constexpr double kCapMidFps = 15.0;
inline constexpr double kCapHighFps = 10.0;
// Hardware decoding only while a page shows at most this many tiles.
inline constexpr int kHardwareDecodeMaxTiles = 6;

// ---- Playback ----
// Length of the recording window each tile asks for.
inline constexpr seconds kPlaybackWindow{14400};
// A start in the future moves back to this long before now.
inline constexpr seconds kFutureStartBack{60};
// Coverage blocks closer than this are drawn as one.
inline constexpr seconds kCoverageJoinGap{1};

// ---- Snapshots ----
inline constexpr int kSnapshotsInFlight = 4;
inline constexpr milliseconds kSnapshotTimeout{12000};
inline constexpr milliseconds kSnapshotRefresh{250};
// Pictures are kept at twice the size of their place on a card.
inline constexpr QSize kSnapshotPixels{464, 262};
inline constexpr double kSnapshotPixelRatio = 2.0;
inline constexpr int kSnapshotCardsPerRow = 4;

// ---- Recording calendar ----
// Clips closer than this are listed as one.
inline constexpr seconds kClipJoinGap{3};
// The most missing days the banner names one by one.
inline constexpr int kBannerDays = 14;
// Coverage levels.
inline constexpr int kCoverageOkPercent = 90;
inline constexpr int kCoverageWarnPercent = 70;

// ---- Stream dialog ----
inline constexpr milliseconds kDialogWatchdog{10000};

// The recording calendar: the camera drop-down's longest text, and what the
// day's list of recordings keeps around its lines (item and list padding,
// borders, its scroll bar).
inline constexpr int kCalendarCameraText_px = 240;
inline constexpr int kClipListChrome_px = 64;

} // namespace kvr::live::tun
