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

} // namespace kvr::ui
