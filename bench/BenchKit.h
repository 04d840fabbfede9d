#pragma once

// What the benchmarks that run the event loop share: waiting on it, and the
// process's resident memory.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <functional>

#include <unistd.h>

namespace benchkit {

// Resident memory of this process (Linux; 0 elsewhere).
inline double residentMiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (f.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> parts = f.readAll().split(' ');
        if (parts.size() > 1)
            return parts[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
    }
    return 0.0;
}

// Runs the event loop for `ms`.
inline void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds or the time is up: the time taken
// in ms, or -1 when it did not hold in time.
inline double waitUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        wait(5);
    return done() ? double(t.elapsed()) : -1.0;
}

} // namespace benchkit
