#pragma once

// Spreads the starts of many streams from one device over time, so a wall
// of cameras does not open all its streams at once against one recorder.

#include <QString>

namespace kvr::services {

namespace StartPacer {

// Milliseconds the caller must wait before starting; 0 means start now.
// Requests for one key within `gapMs` of each other are spaced `gapMs`
// apart; keys do not delay each other. Main thread only.
int reserve(const QString& key, int gapMs);

} // namespace StartPacer

} // namespace kvr::services
