#pragma once

#include "app/ui/Theme.h"

#include <QColor>

// Colours of the server screens that the shared token table does not hold
// (yet); everything else comes from Theme::colour.
namespace ShellColours {

inline constexpr QColor kOfflineRow{0x6b, 0x76, 0x88}; // catalogue rows of offline devices and channels
inline constexpr QColor kHealthPass{0x28, 0xa7, 0x45};
inline constexpr QColor kHealthFail{0xdc, 0x35, 0x45};
inline constexpr QColor kHealthUnknown{0x49, 0x50, 0x57};
inline constexpr QColor kWarning{0xf5, 0xc2, 0x6b}; // reachable, but with a caveat

} // namespace ShellColours
