#pragma once

#include <QString>

namespace kvr::core {

// File names made from names people gave (a camera's, a device's): the
// letters of any script stay, the name never starts with a dot (a hidden
// file, or one another system reads as metadata), and it is cut, at a whole
// character, to a length every file system takes.
namespace FileNames {

// The longest file name, in UTF-8 bytes, that the file systems in use take
// (255 on most; fewer UTF-16 units where names are held so).
inline constexpr qsizetype kMaxNameBytes = 255;

// The name in composed form with letters (of any script, with their marks),
// digits, ".", "_" and "-" kept and every run of other characters made one
// "_"; a leading run of dots (and underscores beside them) becomes one "_".
QString safe(const QString& name);
// The same, cut so that it takes at most `bytes` UTF-8 bytes: at a whole
// character, never inside a letter and its marks.
QString safe(const QString& name, qsizetype bytes);
// What is left of kMaxNameBytes for the safe part of a name that `rest`
// (a stamp, a suffix) follows.
qsizetype roomBefore(const QString& rest);

} // namespace FileNames

} // namespace kvr::core
