#include "app/core/Env.h"

#include <QByteArray>
#include <QtGlobal>

namespace kvr::core {

QString envOr(const char* name, const QString& fallback)
{
    const QByteArray value = qgetenv(name);
    return value.isEmpty() ? fallback : QString::fromUtf8(value);
}

bool envSet(const char* name)
{
    return !qgetenv(name).isEmpty();
}

} // namespace kvr::core
