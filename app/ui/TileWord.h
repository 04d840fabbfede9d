#pragma once

// The one word a camera tile that failed says of itself, however small the
// tile: a wall of 36 shows no room for a message, and a grey dot alone does
// not tell a camera that is offline from one that did not answer.

#include "app/core/PlayerFailure.h"

#include <QString>

class QLabel;
class QWidget;

namespace kvr::ui {

enum class TileFault {
    Offline,  // the camera or its recorder is known to be offline
    NoAnswer, // asked, and nothing answered in time (or the port turned it away)
    Failed,   // it answered, but no picture could be had
};

QString tileFaultWord(TileFault fault);
// What a player's failure says of the camera.
TileFault tileFaultOf(core::PlayerFailure failure);

// Shows `fault`'s word in `word`, in place of the status dot `dot` (the word
// says what the dot's colour would), when `say`; else the dot alone. Returns
// whether what shows changed (the badge is then laid out again).
bool showFaultWord(QLabel* word, QWidget* dot, bool say, TileFault fault);

// Whether the picture of a tile that shows pictures has stopped: a frozen
// picture is not left on a wall without a word until the player notices
// (its connection's time-out, seconds later). Times are monotonic ms.
class PictureWatch {
public:
    // A picture was shown.
    void picture(qint64 nowMs);
    // A new start: no picture yet.
    void reset();
    bool hadPicture() const { return m_lastMs >= 0; }
    qint64 lastPictureMs() const { return m_lastMs; }
    // What a wait counts from: the last picture; or, while pictures have
    // only trickled since a stop (what a stream held when it froze, shown
    // late, as its player notices the stop), the last one before the stop.
    qint64 waitFromMs() const { return m_stopFromMs >= 0 ? m_stopFromMs : m_lastMs; }
    // No new picture for kPictureStoppedAfter, or for kPictureStoppedGaps
    // times the usual gap between pictures where that is longer.
    bool stopped(qint64 nowMs) const;

private:
    qint64 stopAfterMs() const;

    qint64 m_lastMs = -1;
    qint64 m_gapMs = 0; // the usual gap: follows a longer one at once, a shorter one slowly
    // Since a stop, until pictures have come again for kPictureStoppedAfter:
    // the last picture before it, and the first after it.
    qint64 m_stopFromMs = -1;
    qint64 m_resumedMs = -1;
};

// What a tile says while it waits for a picture, and how long it has waited
// ("No picture yet · 12 s"): the count from the start or the last picture.
QString waitedFor(const QString& what, qint64 elapsedMs);
// The headline and the waiting words of a tile whose picture stopped, and of
// one that has had no picture since it started.
QString pictureStoppedHeadline(); // "Picture stopped"
QString pictureStoppedWords();    // "No new picture"
QString noPictureYetWords();      // "No picture yet"
// Whether a tile still waiting for its first picture has waited long enough
// to say for how long.
bool waitWorthCounting(qint64 elapsedMs);

} // namespace kvr::ui
