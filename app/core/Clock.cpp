#include "app/core/Clock.h"

#include <QElapsedTimer>

#include <atomic>

namespace kvr::core {

namespace {

class SystemClock final : public Clock {
public:
    SystemClock() { timer.start(); }
    QDateTime nowUtc() const override { return QDateTime::currentDateTimeUtc(); }
    qint64 monotonicMs() const override { return timer.elapsed(); }

private:
    QElapsedTimer timer;
};

const SystemClock& systemClock()
{
    static const SystemClock clock;
    return clock;
}

std::atomic<const Clock*> installed{nullptr};

} // namespace

const Clock& Clock::instance()
{
    const Clock* c = installed.load(std::memory_order_acquire);
    return c ? *c : systemClock();
}

void Clock::setInstance(const Clock* clock)
{
    installed.store(clock, std::memory_order_release);
}

} // namespace kvr::core
