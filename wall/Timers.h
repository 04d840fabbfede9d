#pragma once

#include <QObject>

#include <chrono>
#include <functional>

namespace kvr::wall {

namespace VideoWall {

// The wall's timed rules (start slots given back after the source's delay,
// display numbers taken down after a few seconds) arm their timers through
// this, so that a test can move time on instead of waiting for it.
class Timers {
public:
    virtual ~Timers() = default;
    // Runs `fn` once, `delay` from now, unless `context` is gone by then.
    virtual void after(std::chrono::milliseconds delay, QObject* context, std::function<void()> fn) = 0;

    // Qt's own single-shot timers: precise below the precise limit, coarse
    // from it on.
    static Timers& system();
};

} // namespace VideoWall

} // namespace kvr::wall
