#include "wall/Timers.h"

#include "wall/Tunables.h"

#include <QTimer>

namespace kvr::wall {

namespace VideoWall {

namespace {

class SystemTimers final : public Timers {
public:
    void after(std::chrono::milliseconds delay, QObject* context, std::function<void()> fn) override
    {
        const Qt::TimerType type = delay < tun::kPreciseReleaseBelow ? Qt::PreciseTimer : Qt::CoarseTimer;
        QTimer::singleShot(delay, type, context, std::move(fn));
    }
};

} // namespace

Timers& Timers::system()
{
    static SystemTimers timers;
    return timers;
}

} // namespace VideoWall

} // namespace kvr::wall
