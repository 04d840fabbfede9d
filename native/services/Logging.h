#pragma once

#include <QLoggingCategory>

// The log category of native mode's store, probes and event streams: "kvr.services". Lines keep their
// bracketed tag in the text, which support reads; the category lets a person turn the layer down
// without a rebuild, e.g. QT_LOGGING_RULES="kvr.services.info=false".
namespace kvr::services {

Q_DECLARE_LOGGING_CATEGORY(lcServices)

} // namespace kvr::services
