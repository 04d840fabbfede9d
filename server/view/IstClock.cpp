#include "server/view/IstClock.h"

#include "app/core/Clock.h"
#include "server/view/Tunables.h"

#include <algorithm>

namespace kvr::view {

namespace Ist {

QTimeZone zone()
{
    static const QTimeZone kZone(int(tun::kIstOffset.count()));
    return kZone;
}

QDate dateAt(const QDateTime& instant)
{
    return instant.toTimeZone(zone()).date();
}

QDateTime at(const QDate& day, int second)
{
    const int s = std::clamp(second, 0, int(tun::kLastSecond.count()));
    return QDateTime(day, QTime(0, 0).addSecs(s), zone());
}

} // namespace Ist

QDate todayIst()
{
    return Ist::dateAt(kvr::core::Clock::instance().nowUtc());
}

} // namespace kvr::view
