#pragma once

// Tunables of the multi-display video wall, in one place. Units are in the
// types (std::chrono) or in the names.

#include <chrono>

namespace kvr::wall::tun {

using namespace std::chrono_literals;

// ---- Start queue ------------------------------------------------------------
// A start slot's release timer is precise below this delay and coarse from
// it on: a long delay needs no millisecond accuracy.
inline constexpr std::chrono::milliseconds kPreciseReleaseBelow = 2000ms;

// ---- Set-up dialog ----------------------------------------------------------------
// Its size when it opens on a display that has room for it.
inline constexpr int kSetupWidthPx = 1180;
inline constexpr int kSetupHeightPx = 760;

// ---- Identify displays --------------------------------------------------------
// How long each display shows its big number.
inline constexpr std::chrono::milliseconds kIdentifyShowFor = 3000ms;
// Smallest size of the number's label, so a short title still reads as a badge.
inline constexpr int kIdentifyMinWidthPx = 420;
inline constexpr int kIdentifyMinHeightPx = 260;

// ---- Display window -----------------------------------------------------------
// Space around and between the cells of a display.
inline constexpr int kGridMarginPx = 6;
inline constexpr int kGridSpacingPx = 6;
// The control bar's height, and the band at the top edge where the resting
// pointer brings it up.
inline constexpr int kBarHeightPx = 46;
inline constexpr int kBarHotBandPx = 56;
// How often the pointer is looked at for the bar.
inline constexpr std::chrono::milliseconds kBarCheckInterval = 250ms;

// ---- Load of a display ----------------------------------------------------------
// "Auto" quality plays the main stream only while a display shows fewer tiles
// than this; more tiles share the display and take the sub stream.
inline constexpr int kAutoMainBelowTiles = 5;
// Frame-rate caps by the tiles a display shows: none below the first limit,
// the middle cap below the second, the low cap from there on.
inline constexpr int kNoFpsCapBelowTiles = 5;
inline constexpr int kMidFpsCapBelowTiles = 10;
inline constexpr int kMidFpsCap = 15;
inline constexpr int kLowFpsCap = 10;

// ---- Failed tiles trying again ---------------------------------------------------
// The first try after a tile failed, and the longest wait between tries; each
// wait is twice the one before, spread by up to a quarter either way.
inline constexpr std::chrono::milliseconds kRetryFirst = 30s;
inline constexpr std::chrono::milliseconds kRetryLongest = 5min;
inline constexpr int kRetryGrowth = 2;
inline constexpr double kRetrySpread = 0.25;
// A stream that played this long before failing again starts from the first wait.
inline constexpr std::chrono::milliseconds kRetrySteadyPlay = 2min;
// Another tile of the wall showing pictures again brings a try armed further
// off to between the first and the last of these, spread at random.
inline constexpr std::chrono::milliseconds kRetryHurryFirst = 1s;
inline constexpr std::chrono::milliseconds kRetryHurryLast = 4s;
// A try that falls due while its tile is hidden is looked at again this much later.
inline constexpr std::chrono::milliseconds kRetryHiddenRecheck = 30s;

} // namespace kvr::wall::tun
