#pragma once

#include <QString>

namespace kvr::core {

// How searches compare names: in one normal form (composed, so that "é"
// typed as one character finds "é" stored as "e" and its accent) and
// without regard to case.
namespace SearchText {

// The text in the form searches compare: composed and case folded.
QString key(const QString& text);
// Whether `text` holds `needle`, both compared in that form.
bool contains(const QString& text, const QString& needle);

} // namespace SearchText

} // namespace kvr::core
