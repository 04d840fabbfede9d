#include "native/services/NativeController.h"

#include "app/core/RequestTicket.h"
#include "app/core/Settings.h"
#include "native/services/DeviceProbe.h"
#include "native/services/Logging.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeServices.h"
#include "native/services/NativeStore.h"
#include "native/services/Tunables.h"

#include <QCoreApplication>
#include <QDebug>
#include <QPointer>

#include <algorithm>
#include <memory>

using namespace kvr::core;

namespace kvr::services {

namespace {

// Every live scheduler, so that a settings change reaches the timers. Main
// thread only, like the schedulers themselves.
QList<NativeController*>& liveControllers()
{
    static QList<NativeController*> list;
    return list;
}

// The device probe, its answers tied to the scheduler: a scheduler that goes
// (at the end of the process) aborts the probes it started.
NativeController::ProbeFn deviceProbe(const NativeController* receiver)
{
    return [receiver](const Native::Device& device, NativeController::Kind kind, int windowDays,
                      NativeController::Done done) {
        switch (kind) {
        case NativeController::Diagnose:
            NativeProbe::diagnose(device, receiver, std::move(done));
            return;
        case NativeController::Fetch:
            NativeProbe::fetch(device, windowDays, receiver, std::move(done));
            return;
        case NativeController::Refresh:
            NativeProbe::fetch(device, 0, receiver, std::move(done));
            return;
        }
    };
}

} // namespace

namespace {
// The process-wide scheduler: made on the main thread by the first
// instance(), deleted by releaseInstance() (NativeServices::shutdown) while
// the application object still exists. Main thread only.
NativeController* g_controller = nullptr;
} // namespace

NativeController& NativeController::instance()
{
    if (!g_controller) {
        g_controller = new NativeController(&NativeStore::instance());
        NativeServices::armShutdown();
    }
    return *g_controller;
}

void NativeController::releaseInstance()
{
    delete std::exchange(g_controller, nullptr);
}

NativeController::NativeController(NativeStore* store, ProbeFn probe, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_probe(probe ? std::move(probe) : deviceProbe(this))
{
    m_delay = [this](std::chrono::milliseconds delay, std::function<void()> fn) {
        QTimer::singleShot(delay, this, std::move(fn));
    };
    m_pollTimer.setSingleShot(false);
    connect(&m_pollTimer, &QTimer::timeout, this, &NativeController::poll);
    // No sweep starts while the application winds down.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { m_pollTimer.stop(); });
    liveControllers().append(this);
}

NativeController::~NativeController()
{
    liveControllers().removeAll(this);
}

void NativeController::setDelayFunction(DelayFn delay)
{
    m_delay = std::move(delay);
}

// ------------------------------------------------------------- settings ----

bool NativeController::pollEnabled()
{
    return Prefs::get(Prefs::kNativePoll);
}

void NativeController::setPollEnabled(bool on)
{
    Prefs::set(Prefs::kNativePoll, on);
    for (NativeController* c : std::as_const(liveControllers()))
        c->applyPollEnabled(on);
}

int NativeController::pollMinutes()
{
    const int stored = Prefs::get(Prefs::kNativePollMinutes);
    return std::clamp(stored, tun::kPollMinutesMin, tun::kPollMinutesMax);
}

void NativeController::setPollMinutes(int minutes)
{
    const int m = std::clamp(minutes, tun::kPollMinutesMin, tun::kPollMinutesMax);
    Prefs::set(Prefs::kNativePollMinutes, m);
    for (NativeController* c : std::as_const(liveControllers()))
        c->applyPollMinutes(m);
}

int NativeController::windowDays()
{
    const int stored = Prefs::get(Prefs::kNativeWindowDays);
    return std::clamp(stored, tun::kWindowDaysMin, tun::kWindowDaysMax);
}

void NativeController::setWindowDays(int days)
{
    Prefs::set(Prefs::kNativeWindowDays, std::clamp(days, tun::kWindowDaysMin, tun::kWindowDaysMax));
}

void NativeController::applyPollEnabled(bool on)
{
    if (!on)
        m_pollTimer.stop();
    else if (m_started && !m_pollTimer.isActive())
        armPolling();
}

void NativeController::applyPollMinutes(int minutes)
{
    if (m_pollTimer.isActive())
        m_pollTimer.setInterval(minutes * 60000); // restarts the count
}

// ----------------------------------------------------------------- jobs ----

bool NativeController::isBusy(const QString& id) const
{
    return m_running.contains(id) || m_queued.contains(id);
}

void NativeController::run(const QString& id, Kind kind)
{
    if (isBusy(id))
        return;
    const std::optional<Native::Device> d = m_store->device(id);
    if (!d || !d->enabled)
        return;
    m_queue.append({id, kind});
    m_queued.insert(id);
    Q_EMIT busyChanged(id, true);
    pump();
}

void NativeController::refreshAll()
{
    QStringList ids;
    for (const Native::Device& d : m_store->devices())
        if (d.enabled && !m_refused.contains(d.id))
            ids.append(d.id);
    for (const QString& id : std::as_const(ids))
        run(id, Refresh);
}

void NativeController::pump()
{
    while (m_running.size() < tun::kMaxRunningJobs && !m_queue.isEmpty()) {
        // Plain variables, not a structured binding: the lambdas below capture
        // the id, and clang before 16 cannot capture a binding.
        const QPair<QString, Kind> next = m_queue.takeFirst();
        const QString id = next.first;
        const Kind kind = next.second;
        m_queued.remove(id);
        const std::optional<Native::Device> d = m_store->device(id);
        if (!d || !d->enabled) {
            Q_EMIT busyChanged(id, false);
            continue;
        }
        Running job;
        job.kind = kind;
        job.snapshot = *d;
        m_running.insert(id, job);

        // The probe must answer once; an answer given before the probe call
        // returns is delivered from the event loop, so this loop never runs
        // inside itself.
        auto starting = std::make_shared<bool>(true);
        auto answered = std::make_shared<bool>(false);
        const RequestTicket ticket = RequestTicket::heldBy(this);
        Done done = [this, ticket, id, starting, answered](const Native::ProbeResult& result) {
            if (*answered || !ticket.current())
                return;
            *answered = true;
            if (*starting) {
                QMetaObject::invokeMethod(
                    this,
                    [this, ticket, id, result] {
                        if (ticket.current())
                            complete(id, result);
                    },
                    Qt::QueuedConnection);
                return;
            }
            complete(id, result);
        };
        const int window = kind == Fetch ? windowDays() : 0;
        m_probe(job.snapshot, kind, window, std::move(done));
        *starting = false;
    }
}

void NativeController::complete(const QString& id, const Native::ProbeResult& result)
{
    const auto it = m_running.constFind(id);
    if (it == m_running.cend())
        return;
    const Running job = *it;
    m_running.erase(it);

    const std::optional<Native::Device> now = m_store->device(id);
    if (now && !Native::sameConnection(*now, job.snapshot)) {
        // The address or login changed while the probe ran: its verdict is
        // about a connection that no longer exists and must not mark the
        // corrected device (refused, down). Ask again with the new settings.
        qCInfo(lcServices).noquote() << "native scheduler: result for" << id
                                     << "discarded, its address or login changed while it was checked";
        if (now->enabled) {
            m_queue.append({id, job.kind});
            m_queued.insert(id);
        } else {
            Q_EMIT busyChanged(id, false);
        }
        pump();
        return;
    }

    m_store->applyProbe(id, result);
    if (result.loginRefused) {
        if (!m_refused.contains(id))
            qCInfo(lcServices).noquote() << "native scheduler:" << id
                                         << "refused the login; scheduled checks skip it until it is "
                                            "checked again by hand";
        m_refused.insert(id);
    } else if (result.health.device == Native::Passed) {
        m_refused.remove(id);
    }
    Q_EMIT busyChanged(id, false);
    Q_EMIT finished(id, int(job.kind));
    pump();
}

void NativeController::clearRefused(const QString& id)
{
    m_refused.remove(id);
}

// -------------------------------------------------------------- polling ----

void NativeController::armPolling()
{
    m_pollTimer.setInterval(pollMinutes() * 60000);
    m_pollTimer.start();
    QPointer<NativeController> self(this);
    m_delay(tun::kFirstSweepDelay, [self] {
        if (self && self->m_pollTimer.isActive())
            self->refreshAll();
    });
}

void NativeController::startPolling()
{
    m_started = true;
    if (pollEnabled())
        armPolling();
}

void NativeController::suspend()
{
    m_started = false;
    m_pollTimer.stop();
}

void NativeController::stopPolling()
{
    m_pollTimer.stop();
}

void NativeController::poll()
{
    refreshAll();
}

} // namespace kvr::services
