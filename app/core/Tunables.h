#pragma once

// Tunables of the application core, in one place. Units are in the types or
// in the names.

#include <QtGlobal>

namespace kvr::core::tun {

// The most of a stored text that a screen lays out, in characters (UTF-16
// code units). A name read from a file may be as long as the file (a whole
// document pasted into one cell before names had a bound), and measuring
// such a text takes seconds each time a screen is laid out; no window is
// wide enough to show more than these of one line anyway.
inline constexpr qsizetype kShownLineChars = 256;  // names, addresses, titles: one line
inline constexpr qsizetype kShownNoteChars = 4096; // notes and sentences that wrap over lines

} // namespace kvr::core::tun
