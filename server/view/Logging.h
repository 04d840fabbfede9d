#pragma once

#include <QLoggingCategory>

// The log category of server mode's stage and camera wall: "kvr.view". Lines keep their bracketed tag
// in the text, which support reads; the category lets a person turn the layer down without a rebuild,
// e.g. QT_LOGGING_RULES="kvr.view.info=false".
namespace kvr::view {

Q_DECLARE_LOGGING_CATEGORY(lcView)

} // namespace kvr::view
