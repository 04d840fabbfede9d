#pragma once

// Decides when each native device is probed: a queue of probe jobs of which
// at most four run at once, never two for one device; polling of every
// enabled device on a timer while native mode is on screen; the set of
// devices whose login was refused, which the timer leaves alone. Results go
// into the store. Main thread only.

#include "native/services/NativeRecords.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

namespace kvr::services {

class NativeStore;

class NativeController : public QObject {
    Q_OBJECT
public:
    enum Kind : int {
        Diagnose = 0, // the full diagnosis
        Fetch = 1,    // device details with the recording window
        Refresh = 2,  // device details without counting recorded days
    };
    Q_ENUM(Kind)

    using Done = std::function<void(const Native::ProbeResult&)>;
    // Starts one probe of the kind on a copy of the device; `done` is called
    // exactly once, later, on the main thread.
    using ProbeFn = std::function<void(const Native::Device&, Kind, int windowDays, Done)>;
    // Calls the function once after the delay.
    using DelayFn = std::function<void(std::chrono::milliseconds, std::function<void()>)>;

    // The process-wide scheduler over NativeStore::instance(), probing
    // through the device probe; it ends with NativeServices::shutdown().
    static NativeController& instance();
    static void releaseInstance();

    // A scheduler over the given store. An empty probe function means the
    // device probe; tests pass their own.
    explicit NativeController(NativeStore* store, ProbeFn probe = {}, QObject* parent = nullptr);
    ~NativeController() override;

    // Replaces how one-off delays are run (default: a single-shot timer).
    void setDelayFunction(DelayFn delay);

    // ---- Settings ("native/poll", "native/pollMinutes", "native/windowDays") ----
    static bool pollEnabled();
    static void setPollEnabled(bool on);
    static int pollMinutes();
    static void setPollMinutes(int minutes);
    static int windowDays();
    static void setWindowDays(int days);

    // ---- Jobs ----
    void run(const QString& id, Kind kind);
    void refreshAll();
    bool isBusy(const QString& id) const;
    int runningCount() const { return int(m_running.size()); }
    int queuedCount() const { return int(m_queue.size()); }
    // Devices with a job running or waiting (each has at most one).
    int busyCount() const { return int(m_running.size() + m_queued.size()); }

    // ---- Refused logins ----
    const QSet<QString>& refused() const { return m_refused; }
    bool isRefused(const QString& id) const { return m_refused.contains(id); }
    // Lets the next sweep probe the device again (the user corrected its
    // login, or asked for a check).
    void clearRefused(const QString& id);

    // ---- Polling ----
    void startPolling();
    void suspend();
    void stopPolling();
    void poll();
    bool isStarted() const { return m_started; }
    bool isPollTimerActive() const { return m_pollTimer.isActive(); }
    int pollIntervalMs() const { return m_pollTimer.interval(); }

Q_SIGNALS:
    void busyChanged(const QString& id, bool busy);
    void finished(const QString& id, int kind);

private:
    struct Running {
        Kind kind = Refresh;
        Native::Device snapshot; // the connection the probe was started with
    };

    void pump();
    void complete(const QString& id, const Native::ProbeResult& result);
    void armPolling();
    void applyPollEnabled(bool on);
    void applyPollMinutes(int minutes);

    NativeStore* m_store;
    ProbeFn m_probe;
    DelayFn m_delay;
    QList<QPair<QString, Kind>> m_queue;
    QSet<QString> m_queued;
    QHash<QString, Running> m_running;
    QSet<QString> m_refused;
    QTimer m_pollTimer;
    bool m_started = false;
};

} // namespace kvr::services
