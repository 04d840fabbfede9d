#pragma once

// Tunables of the server shell: the sign-in window, the main window and its
// pages. One place, with units in the types.

#include <chrono>

namespace kvr::shell::tun {

using namespace std::chrono_literals;

// Brand providers: a check that cannot run answers after this.
inline constexpr std::chrono::milliseconds kHealthAnswerDelay = 400ms;

// Sign-in window.
inline constexpr std::chrono::milliseconds kIntroFade = 520ms; // the form fades in at first show
inline constexpr std::chrono::milliseconds kErrorFade = 260ms; // an error message fades in
inline constexpr std::chrono::milliseconds kCountdownTick = 1000ms;
inline constexpr std::chrono::milliseconds kCodeSentShown = 1600ms; // "Code sent" before "Resend code"
inline constexpr std::chrono::seconds kDefaultOtpValidity = 300s;   // when the server gives none
inline constexpr int kDefaultOtpLength = 6;
inline constexpr int kDigitBoxCount = 6;
// One whole code as mail and messages show it, spaces or dashes between its
// digits, to be spread over the boxes.
inline constexpr int kDigitBoxMaxChars = 24;

// Server dialog.
inline constexpr std::chrono::milliseconds kServerCheckTimeout = 8000ms;
inline constexpr int kRelayDefaultPort = 8565;
inline constexpr int kServerRelayPort = 8322; // the relay beside the server itself

// Main window.
inline constexpr std::chrono::milliseconds kStatusInterval = 30000ms;
// The relay chip's count of the pictures playing here follows them this often
// between status answers.
inline constexpr std::chrono::milliseconds kChipPicturesInterval = 2000ms;
// Sites whose devices the server could not give are asked for again after
// the first wait, then after twice the wait before, up to the longest.
inline constexpr std::chrono::milliseconds kSiteReloadFirst = 15000ms;
inline constexpr std::chrono::milliseconds kSiteReloadLongest = 120000ms;
inline constexpr int kCatalogDefaultWidth_px = 300;

// Catalogue pane.
inline constexpr std::chrono::milliseconds kRebuildDelay = 150ms; // completed sites closer than this show together
inline constexpr std::chrono::milliseconds kRebuildMaxDelay =
    200ms; // ...but a completed site waits no longer than this
inline constexpr std::chrono::milliseconds kCollapseAnimation = 220ms;
inline constexpr int kPaneMinWidth_px = 220;
inline constexpr int kPaneMaxWidth_px = 520;
inline constexpr int kPaneCollapsedWidth_px = 56;
inline constexpr int kCatalogRowHeight_px = 36; // every row, so that site rows fit their buttons

} // namespace kvr::shell::tun

namespace kvr::shell::tun {
// The sign-in window's brand film: how far its player reads ahead, and how
// long after it stops its memory is handed back.
inline constexpr std::chrono::duration<double> kFilmReadAhead{0.2};
inline constexpr std::chrono::milliseconds kFilmTrimDelay = 500ms;
// At quit while something plays: how long the stop requests get to leave.
inline constexpr std::chrono::milliseconds kQuitGrace = 800ms;
} // namespace kvr::shell::tun
