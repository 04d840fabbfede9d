#pragma once

#include <QLoggingCategory>

// The log category of the application core: "kvr.core". Lines keep their bracketed tag in the text,
// which support reads; the category lets a person turn the layer down without a rebuild, e.g.
// QT_LOGGING_RULES="kvr.core.info=false".
namespace kvr::core {

Q_DECLARE_LOGGING_CATEGORY(lcCore)

} // namespace kvr::core
