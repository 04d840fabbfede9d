#pragma once

#include <QString>

namespace kvr::core {

// The environment variable's value (decoded as UTF-8) when it is set and not
// empty, else the default.
QString envOr(const char* name, const QString& fallback = QString());

// True when the variable is set to a non-empty value.
bool envSet(const char* name);

} // namespace kvr::core
