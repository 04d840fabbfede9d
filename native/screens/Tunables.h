#pragma once

// Timings and sizes of native mode's screens in one place. Colours are the
// style kit's tokens (NativeStyle.h); the fleet window's rebuild coalescing
// is a rule of the fleet rules (FleetRules.h) and is tested there.

#include <chrono>

namespace kvr::screens::tun {

using namespace std::chrono_literals;

// The main window.
inline constexpr std::chrono::milliseconds kToastShown = 3200ms;
inline constexpr int kToastBottomGap_px = 28;
inline constexpr std::chrono::milliseconds kMinuteTick = 1min; // relative times ("5 min ago") move on
// The count of devices being checked changes at every check of a sweep,
// hundreds of times a second in a large fleet, and each new text lays the
// page out again: it is shown at most this often (the last count always).
inline constexpr std::chrono::milliseconds kBusyTextPace = 250ms;
inline constexpr int kUptimeColumnDays = 7; // the device table's uptime column
// Rows of devices that changed are put in their places one by one up to
// this many at a time (a batch of check results); more (an import, a minute
// on in a large fleet) and the table is listed again at once, which costs
// less than as many single moves.
inline constexpr int kRowsPlacedOneByOne = 200;

// The device panel's uptime tab redraws while shown, as hours pass.
inline constexpr std::chrono::milliseconds kUptimeRefresh = 1min;

// The events dialog: events read from the log, rows shown (0..500, at most
// 501), and how often it refills while open.
inline constexpr int kEventsRead = 2000;
inline constexpr int kEventsLastRowIndex = 500;
inline constexpr std::chrono::milliseconds kEventsRefill = 500ms;

// The report dialog's device drop-down: its longest text, which a 1280 px
// screen has room for beside the dialog's margins.
inline constexpr int kReportDeviceText_px = 560;

// The device table: the rows either side of one whose names it is told
// apart from (more than a screen shows), and how long after a person last
// drags a column its widths are kept.
inline constexpr int kTableSiblingRows = 30;
inline constexpr std::chrono::milliseconds kTableColumnsKept{400};

} // namespace kvr::screens::tun
