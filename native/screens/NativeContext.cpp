#include "native/screens/NativeContext.h"

#include "app/core/Clock.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"

#include <QHash>
#include <QVarLengthArray>

#include <algorithm>
#include <memory>

using namespace kvr::services;

namespace kvr::screens {

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
    NativeInsights::Sources s = NativeInsights::Sources::over(store, controller, events);
    if (!events)
        return s;
    // The event service answers "which conditions still stand" for one
    // device by walking every recent event of every device. The fleet page
    // asks it for each device in turn, so the recent events are walked once
    // here, by the same rule, and each device's answer is read from its own
    // short list.
    struct Index {
        int hours = -1;
        QHash<QString, QList<NativeEvents::Event>> byDevice; // newest first
    };
    auto index = std::make_shared<Index>();
    const NativeEvents* service = events;
    s.standing = [service, index](const QString& id, int hours) {
        if (index->hours != hours) {
            index->hours = hours;
            index->byDevice.clear();
            const QDateTime cutoff = NativeContext::now().addSecs(-qint64(hours) * 3600);
            // Compared in the event's own kind of time: two local times
            // compare without a time-zone lookup each, as two UTC ones do.
            const QDateTime localCutoff = cutoff.toLocalTime();
            const QList<NativeEvents::Event>& all = service->events();
            for (qsizetype i = all.size() - 1; i >= 0; --i) {
                const NativeEvents::Event& e = all.at(i);
                if (e.receivedAt < (e.receivedAt.timeSpec() == Qt::LocalTime ? localCutoff : cutoff))
                    break;
                if (AlertStream::isCondition(e.kind))
                    index->byDevice[e.deviceId].append(e);
            }
        }
        QList<NativeInsights::Standing> out;
        const auto found = index->byDevice.constFind(id);
        if (found == index->byDevice.cend())
            return out;
        // A device has few recent conditions: the ones decided are looked
        // through in turn.
        QVarLengthArray<QPair<int, int>, 16> decided;
        for (const NativeEvents::Event& e : *found) {
            const QPair<int, int> key(e.kind, e.channel);
            if (std::find(decided.cbegin(), decided.cend(), key) != decided.cend())
                continue;
            decided.append(key);
            if (e.active)
                out.append(NativeInsights::Standing{e.kind, e.channel, e.receivedAt});
        }
        return out;
    };
    return s;
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
    return kvr::core::Clock::instance().nowUtc().toUTC();
}

QDate NativeContext::today()
{
    return kvr::core::Clock::instance().nowUtc().toLocalTime().date();
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

} // namespace kvr::screens
