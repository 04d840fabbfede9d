#include "native/screens/NativeContext.h"

#include "app/core/Clock.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"

NativeContext NativeContext::live()
{
    NativeContext c;
    c.store = &NativeStore::instance();
    c.controller = &NativeController::instance();
    c.events = &NativeEvents::instance();
    return c;
}

NativeInsights::Sources NativeContext::sources() const
{
    return NativeInsights::Sources::over(store, controller, events);
}

bool NativeContext::isBusy(const QString& deviceId) const
{
    return controller && controller->isBusy(deviceId);
}

bool NativeContext::isRefused(const QString& deviceId) const
{
    return controller && controller->isRefused(deviceId);
}

QDateTime NativeContext::now()
{
    return kvr::Clock::instance().nowUtc().toLocalTime();
}

namespace NativeMedia {

namespace {
Hooks& installed()
{
    static Hooks h;
    return h;
}
} // namespace

void setHooks(const Hooks& hooks)
{
    installed() = hooks;
}

const Hooks& hooks()
{
    return installed();
}

} // namespace NativeMedia
