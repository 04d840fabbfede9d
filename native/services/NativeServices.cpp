#include "native/services/NativeServices.h"

#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"

#include <QCoreApplication>

namespace kvr::services {

namespace NativeServices {

void shutdown()
{
    NativeEvents::releaseInstance();
    NativeController::releaseInstance();
    NativeStore::releaseInstance();
}

void armShutdown()
{
    // Main thread only, like the singletons that call it.
    static bool armed = false;
    if (armed || !QCoreApplication::instance())
        return;
    armed = true;
    qAddPostRoutine(&shutdown);
}

QStringList lostAtEnd()
{
    QStringList out;
    if (const NativeStore* store = NativeStore::existing())
        out << store->lostAtEnd();
    if (const NativeEvents* events = NativeEvents::existing())
        if (const QString lost = events->lostAtEnd(); !lost.isEmpty())
            out << lost;
    return out;
}

} // namespace NativeServices

} // namespace kvr::services
