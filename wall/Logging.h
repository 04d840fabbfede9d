#pragma once

#include <QLoggingCategory>

// The log category of the multi-display video wall: "kvr.wall". Lines keep their bracketed tag in the
// text, which support reads; the category lets a person turn the layer down without a rebuild, e.g.
// QT_LOGGING_RULES="kvr.wall.info=false".
namespace kvr::wall {

Q_DECLARE_LOGGING_CATEGORY(lcWall)

} // namespace kvr::wall
