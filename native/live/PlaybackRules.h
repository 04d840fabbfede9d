#pragma once

// The rules of the wall's playback mode, apart from its widgets: the window
// each tile plays, where a seek lands, the playback clock, the transport
// bar's state and the footage blocks drawn on the timeline.

#include "native/services/CalendarSearch.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace kvr::live {

namespace PlaybackRules {

using Block = std::pair<double, double>; // seconds of the day

// A start in the future becomes 60 s before now; a start after 23:58:00 of
// its day becomes 23:58:00 of that day.
QDateTime clampStart(const QDateTime& at, const QDateTime& now);
// start + 4 h, but never past 23:59:59 of start's day.
QDateTime windowEnd(const QDateTime& start);
// The time a click at `second` of the timeline asks for on `day`: the second
// truncated to whole seconds, never past 23:59:59 of that day (a click at the
// far right end stays on the chosen day instead of wrapping to its midnight).
QDateTime seekTarget(const QDate& day, double second);
// `position` moved by `seconds` (the ±30 s buttons).
QDateTime stepped(const QDateTime& position, int seconds);

// The playback clock: playStart + (seconds - clockBase) s, truncated to whole
// milliseconds; nothing when its whole second since the epoch equals
// `position`'s (the transport moves once a second).
std::optional<QDateTime> clockStep(const QDateTime& playStart, double clockBase, double seconds,
                                   const QDateTime& position);

struct Transport {
    bool playEnabled = false;
    bool stepEnabled = false; // Pause/Resume, -30 s, +30 s
    QString pauseText;
    QString status;
    double playhead = -1.0;
};
Transport transportFor(bool hasTiles, bool started, bool paused, const QDateTime& position, const QDate& day);

// ---- Coverage ----
// Appends a block for every clip that starts on `day`: from its start to its
// end, to the end of the day when it ends on a later date, at least 1 s long.
void appendClips(QList<Block>& blocks, const QList<services::NativeCalendar::Clip>& clips, const QDate& day);
// Sorted by start then end; a block that starts no later than 1 s after the
// last merged one's end extends it.
QList<Block> mergeBlocks(QList<Block> blocks);
QString coverageNote(bool complete, int mergedBlocks);

// Tiles shown idle in playback: "Pick a time" alone before the first start
// (a line that fits the tiles of a full page), "Paused" and how to carry on.
QString idleHeadline(bool paused);
QString idleDetail(bool paused);

} // namespace PlaybackRules

} // namespace kvr::live
