#pragma once

#include <QDateTime>
#include <QtGlobal>

namespace kvr::core {

// Where rules depend on time (token renewal, leases, uptime hours, back-off,
// remembered sign-in age) they ask this clock, so tests can move time on
// without waiting. Intervals are measured on the monotonic reading only.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime nowUtc() const = 0;
    // Milliseconds on a steady clock with an arbitrary origin.
    virtual qint64 monotonicMs() const = 0;

    // The process-wide clock: the system clock unless a test installed another.
    static const Clock& instance();
    // Installs a clock (not owned); nullptr restores the system clock.
    static void setInstance(const Clock* clock);
};

} // namespace kvr::core
