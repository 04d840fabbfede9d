#pragma once

#include <QLoggingCategory>

// The log category of native mode's screens: "kvr.screens". Lines keep their bracketed tag in the
// text, which support reads; the category lets a person turn the layer down without a rebuild, e.g.
// QT_LOGGING_RULES="kvr.screens.info=false".
namespace kvr::screens {

Q_DECLARE_LOGGING_CATEGORY(lcScreens)

} // namespace kvr::screens
