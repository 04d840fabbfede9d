#pragma once

#include "app/ui/Theme.h"
#include "server/view/IstClock.h"
#include "video/PlayerFailure.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <utility>

namespace kvr::view {

// The rules of the single-camera stage that need no window: what each mode shows, playback speeds, the status rule and the
// snapping of seeks to recorded footage.

// Footage of a day: (start, end) in seconds of the day, start inclusive.
using FootageBlocks = QList<std::pair<double, double>>;

namespace StageRules {

enum class Mode : int { LiveView = 0, DevicePlayback = 1, CloudPlayback = 2 };

// What a mode shows: badge, accent, and which controls are visible.
struct ModeLook {
    QString badge;
    QString badgeProperty; // the badge's dynamic property "mode"
    ui::Theme::Colour accent;
    bool pulsing = false;
    bool autoReconnect = false;
    bool mainSub = false;          // the Main/Sub switch
    bool playbackControls = false; // day card, time controls, timeline, pause, time label
    bool playFromStart = false;    // "Play from 00:00"
    bool speeds = false;           // the speed controls
};
ModeLook modeLook(Mode mode);

// ---- Speeds ---------------------------------------------------------------------
// The speed box's items, slowest first.
QList<double> playbackSpeeds();
// "1×", "1.25×", ... "16×".
QString speedText(double speed);
// How the player runs at a speed: key pictures only from 8×, sound only at 1×.
struct SpeedEffect {
    double rate = 1.0;
    bool keyframesOnly = false;
    bool soundEnabled = true;
};
SpeedEffect speedEffect(double speed);
inline constexpr double kKeyframesFromSpeed = 8.0;

// ---- Player status ---------------------------------------------------------------
// What the stage shows for a player's status: the recorder's "not found" in
// device playback means no recording at that time; "Try again" only live.
struct StatusView {
    QString headline;
    QString detail;
    bool retry = false;
};
StatusView statusView(Mode mode, const QString& headline, const QString& detail, kvr::video::PlayerFailure failure);

// ---- Day and time navigation -------------------------------------------------------
// A second moved to by the user, within the day's playable seconds.
double clampToDay(double second);
// Where a recording asked for at a second begins: the server asks the
// recorder for whole minutes, so its footage starts at the minute.
double recordingStart(double second);
// The nearest playable second: the second itself inside a block or when the
// footage is unknown, else the start of the first block after it, else the
// start of the last block. Blocks are searched in the order given.
double snapToFootage(double second, const FootageBlocks& blocks, bool known);
// "HH:mm:ss" of a start second (cut to whole seconds, within the day): the
// clock the timeline and the stage's time label show.
QString clockText(double second);
// The end of a cloud request: "23:59" for past days, "current" for today.
QString cloudEndText(const QDate& day, const QDate& today);
// "Jump to a time of day" and similar texts take a QTime; an invalid one is 0.
int secondOfTime(const QTime& time);

} // namespace StageRules

} // namespace kvr::view
