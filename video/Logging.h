#pragma once

#include <QLoggingCategory>

// The log category of the video engine, FFmpeg's own lines included: "kvr.video". Lines keep their
// bracketed tag in the text, which support reads; the category lets a person turn the layer down
// without a rebuild, e.g. QT_LOGGING_RULES="kvr.video.info=false".
namespace kvr::video {

Q_DECLARE_LOGGING_CATEGORY(lcVideo)

} // namespace kvr::video
