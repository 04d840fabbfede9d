#pragma once

#include <QLoggingCategory>

// The log category of native mode's live and playback wall: "kvr.live". Lines keep their bracketed tag
// in the text, which support reads; the category lets a person turn the layer down without a rebuild,
// e.g. QT_LOGGING_RULES="kvr.live.info=false".
namespace kvr::live {

Q_DECLARE_LOGGING_CATEGORY(lcLive)

} // namespace kvr::live
