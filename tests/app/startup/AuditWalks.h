#pragma once

// The screen audit's walks with the keyboard alone, as a person who uses no
// pointer (or a screen reader) goes through the program: each key pressed
// into what holds the focus, each step checked for what shows (the focus
// ringed and named) and for what the program did. Each returns one line per
// fault.

#include <QColor>
#include <QString>
#include <QStringList>

namespace kvr::app {
struct TopLevelWindows;
}
namespace orgserver {
class FakeOrgServer;
}

namespace auditwalks {

// Server mode from the sign-in window (a wrong password first, then Return
// again on the emptied field, which must send nothing) to a recorded day
// playing: the catalogue reached by Tab, the arrows to a recorder (opening
// nothing on the way), its menu by the menu key, Enter to open it, "Device
// playback", the day before, "Play from 00:00"; the server is asked to play
// that camera's recording of that day.
QStringList serverPlaybackByKeys(kvr::app::TopLevelWindows& windows, orgserver::FakeOrgServer& server,
                                 const QColor& ring);

// Native mode from the fleet page to a recording of today playing: the
// device table reached by Tab, the arrows to the recorder `deviceId` (the
// page following the row), Space for its details ("Activate" first where it
// is deactivated), "Recording calendar", the
// month's days by Tab and the arrows (each day in the accessibility tree,
// named), Enter on today, the recordings by Tab and Space to play one.
QStringList nativeCalendarByKeys(kvr::app::TopLevelWindows& windows, const QString& deviceId, const QColor& ring);

} // namespace auditwalks
