#pragma once

#include <QString>

namespace kvr::core {

// Names people typed may hold right-to-left letters or direction controls
// (one left open reverses everything after it on the line). Shown beside the
// program's own words, such a name is isolated: FIRST STRONG ISOLATE before
// it and POP DIRECTIONAL ISOLATE after it, so that the words and addresses
// around it read as written whatever it holds. A name of left-to-right
// letters alone is left as it is.
namespace TextDirection {

// Whether the text holds right-to-left letters, Arabic digits or direction
// controls.
bool needsIsolation(const QString& text);
// The text isolated where it needs it.
QString isolate(const QString& text);

} // namespace TextDirection

} // namespace kvr::core
