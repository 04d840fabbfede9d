#pragma once

#include <QLoggingCategory>

// The log category of the widget layer: "kvr.ui". Lines keep their bracketed tag in the text, which
// support reads; the category lets a person turn the layer down without a rebuild, e.g.
// QT_LOGGING_RULES="kvr.ui.info=false".
namespace kvr::ui {

Q_DECLARE_LOGGING_CATEGORY(lcUi)

} // namespace kvr::ui
