#pragma once

#include <QLoggingCategory>

// The log category of the server client: "kvr.api". Lines keep their bracketed tag in the text, which
// support reads; the category lets a person turn the layer down without a rebuild, e.g.
// QT_LOGGING_RULES="kvr.api.info=false".
namespace kvr::api {

Q_DECLARE_LOGGING_CATEGORY(lcApi)

} // namespace kvr::api
