#pragma once

// Measuring aids shared by the benchmarks: processor time, resident memory,
// main-thread stalls (the wall-clock gap and the thread's own work), and how
// often the video widgets paint for the pictures their players deliver.

#include "video/FfmpegPlayer.h"

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace bench {

// Paints of the video widgets per picture their players deliver, at most.
inline constexpr double kPaintsPerPictureTarget = 1.2;

// Processor seconds, user and system, of this process (RUSAGE_SELF) or of
// its reaped children (RUSAGE_CHILDREN).
inline double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Resident memory of this process.
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

// The middle value (the upper of the two middle ones of an even count); 0
// for none.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Runs the event loop for `ms`.
inline void spin(int ms)
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
        spin(5);
    return done() ? double(t.elapsed()) : -1.0;
}

// Processor time the calling thread has used, in ms.
inline double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// A stall as a meter read it: the wall-clock gap between two turns of the
// event loop and the thread's own longest work in one turn.
struct Stall {
    double gapMs = 0;
    double workMs = 0;
    // "41 (12)", for a cell of a table whose heading says so.
    QByteArray cell() const
    {
        return QByteArray::number(gapMs, 'f', 0) + " (" + QByteArray::number(workMs, 'f', 0) + ")";
    }
};

// How the main thread turned its event loop while the meter runs (it beats
// every millisecond on the thread that made it): the longest wall-clock gap
// between two turns, which is what a user feels, and the thread's own longest
// stretch of work between two turns, in the thread's processor time. On a busy
// machine the thread waits for a processor and the gap grows while its own
// work does not, so a stall shown by both is the program's; one in the gap
// alone is the machine's.
class StallMeter : public QObject {
public:
    explicit StallMeter(int slowMs = 50) : m_slowMs(slowMs)
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const double cpu = threadCpuMs();
            m_longest = std::max(m_longest, now - m_last);
            m_longestWork = std::max(m_longestWork, cpu - m_lastCpu);
            m_slowTurns += now - m_last >= qint64(m_slowMs) * 1000000 ? 1 : 0;
            ++m_turns;
            m_last = now;
            m_lastCpu = cpu;
        });
        reset();
        m_timer.start();
    }
    // The longest gap between two turns, wall clock, the turn under way
    // included.
    double longestMs() const
    {
        return double(m_stopped ? m_longest : std::max(m_longest, m_clock.nsecsElapsed() - m_last)) / 1e6;
    }
    // The thread's longest stretch of work between two turns, in its own
    // processor time. Read on the thread that made the meter.
    double longestWorkMs() const
    {
        return m_stopped ? m_longestWork : std::max(m_longestWork, threadCpuMs() - m_lastCpu);
    }
    Stall stall() const { return {longestMs(), longestWorkMs()}; }
    // Turns seen, and those that came `slowMs` or more after the one before.
    qint64 turns() const { return m_turns; }
    qint64 slowTurns() const { return m_slowTurns; }
    // "41 ms (own work 12 ms)".
    QString text() const
    {
        return QStringLiteral("%1 ms (own work %2 ms)").arg(longestMs(), 0, 'f', 0).arg(longestWorkMs(), 0, 'f', 0);
    }
    void reset()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_lastCpu = threadCpuMs();
        m_longestWork = 0;
        m_turns = 0;
        m_slowTurns = 0;
    }
    // Stops measuring, the turn under way counted; the figures stay as they are.
    void stop()
    {
        if (m_stopped)
            return;
        m_longest = std::max(m_longest, m_clock.nsecsElapsed() - m_last);
        m_longestWork = std::max(m_longestWork, threadCpuMs() - m_lastCpu);
        m_timer.stop();
        m_stopped = true;
    }
    // Starts afresh.
    void start()
    {
        reset();
        m_stopped = false;
        m_timer.start();
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_slowMs = 50;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    double m_lastCpu = 0;
    double m_longestWork = 0;
    qint64 m_turns = 0;
    qint64 m_slowTurns = 0;
    bool m_stopped = false;
};

// Counts the paints of every video widget of the application (the
// processor-drawn surface and its graphics-chip child) and the pictures
// the players it is shown deliver, while it is counting. A player that
// takes over a tile while it counts (a restart, a late start) is followed
// within a tenth of a second, so its paints are not counted without its
// pictures.
class PaintTally : public QObject {
public:
    PaintTally()
    {
        qApp->installEventFilter(this);
        m_rescan.setInterval(100);
        QObject::connect(&m_rescan, &QTimer::timeout, this, [this] {
            if (m_root)
                follow(m_root);
        });
    }
    ~PaintTally() override { qApp->removeEventFilter(this); }

    // Counts the pictures of every player under `root` not yet followed,
    // and of those that come under it later.
    void follow(QWidget* root)
    {
        m_root = root;
        // Marked on the player itself, not kept as an address: a retired
        // player is cut from every connection before it is deleted, so no one
        // hears of its end, and a new player at its address would go uncounted.
        for (kvr::video::FfmpegPlayer* p : root->findChildren<kvr::video::FfmpegPlayer*>()) {
            if (p->property(kFollowed).toBool())
                continue;
            p->setProperty(kFollowed, true);
            QObject::connect(p, &kvr::video::FfmpegPlayer::frameReady, this,
                             [this] { m_pictures += m_counting ? 1 : 0; });
            QObject::connect(p, &kvr::video::FfmpegPlayer::yuvFrameReady, this,
                             [this] { m_pictures += m_counting ? 1 : 0; });
        }
    }
    void start()
    {
        m_paints = m_gpuPaints = m_pictures = 0;
        m_counting = true;
        m_rescan.start();
    }
    void stop()
    {
        m_counting = false;
        m_rescan.stop();
    }
    qint64 paints() const { return m_paints; }
    // Of those, the paints of the graphics-chip view.
    qint64 gpuPaints() const { return m_gpuPaints; }
    qint64 pictures() const { return m_pictures; }
    double perPicture() const { return m_pictures > 0 ? double(m_paints) / double(m_pictures) : 0.0; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (m_counting && event->type() == QEvent::Paint) {
            if (watched->inherits("GpuVideoView"))
                ++m_paints, ++m_gpuPaints;
            else if (watched->inherits("VideoStage"))
                ++m_paints;
        }
        return false;
    }

private:
    static constexpr const char* kFollowed = "benchPaintTallyFollowed";
    QPointer<QWidget> m_root;
    QTimer m_rescan;
    qint64 m_paints = 0;
    qint64 m_gpuPaints = 0;
    qint64 m_pictures = 0;
    bool m_counting = false;
};

// What a person's input would meet on the thread that made it: every
// `everyMs` a request falls due, and the time from then until the event
// loop has run it (the due time of a timer that fired late, then a posted
// call) is one round trip. Reads the percentiles and the longest.
class RoundTrips : public QObject {
public:
    explicit RoundTrips(int everyMs = 50) : m_everyMs(everyMs)
    {
        m_clock.start();
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 due = m_due;
            QMetaObject::invokeMethod(
                this,
                [this, due] {
                    if (!m_running)
                        return;
                    m_samples.push_back(double(m_clock.nsecsElapsed() - due) / 1e6);
                    arm();
                },
                Qt::QueuedConnection);
        });
    }
    void start()
    {
        m_samples.clear();
        m_running = true;
        arm();
    }
    void stop()
    {
        m_running = false;
        m_timer.stop();
    }
    // The round trip that `fraction` of them did not pass (0.99: p99), in ms.
    double percentile(double fraction) const
    {
        if (m_samples.empty())
            return 0.0;
        std::vector<double> v = m_samples;
        std::sort(v.begin(), v.end());
        const size_t at = std::min(v.size() - 1, size_t(fraction * double(v.size())));
        return v[at];
    }
    double longest() const { return m_samples.empty() ? 0.0 : *std::max_element(m_samples.begin(), m_samples.end()); }
    size_t count() const { return m_samples.size(); }

private:
    void arm()
    {
        m_due = m_clock.nsecsElapsed() + qint64(m_everyMs) * 1000000;
        m_timer.start(m_everyMs);
    }
    int m_everyMs;
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_due = 0;
    bool m_running = false;
    std::vector<double> m_samples;
};

// Every processor kept busy by as many child processes spinning, until
// destroyed. Children, so that their time is not this process's.
class BusyLoad {
public:
    explicit BusyLoad(int processes = int(sysconf(_SC_NPROCESSORS_ONLN)))
    {
        for (int i = 0; i < processes; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;)
                    spin = spin + 1;
            }
            if (pid > 0)
                m_children.push_back(pid);
        }
    }
    ~BusyLoad()
    {
        for (pid_t pid : m_children)
            kill(pid, SIGKILL);
        for (pid_t pid : m_children)
            waitpid(pid, nullptr, 0);
    }
    BusyLoad(const BusyLoad&) = delete;
    BusyLoad& operator=(const BusyLoad&) = delete;
    int count() const { return int(m_children.size()); }

private:
    std::vector<pid_t> m_children;
};

// The most files this process held open at once while it samples (on a
// thread of its own, every 20 ms, so the thread under measure does no work
// for it).
class OpenFilesPeak {
public:
    OpenFilesPeak()
    {
        m_thread = std::thread([this] {
            while (!m_stop.load()) {
                int n = 0;
                if (DIR* dir = opendir("/proc/self/fd")) {
                    while (const dirent* entry = readdir(dir))
                        n += entry->d_name[0] != '.' ? 1 : 0;
                    closedir(dir);
                    --n; // the listing's own
                }
                m_peak.store(std::max(m_peak.load(), n));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~OpenFilesPeak()
    {
        m_stop.store(true);
        m_thread.join();
    }
    OpenFilesPeak(const OpenFilesPeak&) = delete;
    OpenFilesPeak& operator=(const OpenFilesPeak&) = delete;
    int peak() const { return m_peak.load(); }
    void reset() { m_peak.store(0); }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_peak{0};
    std::thread m_thread;
};

} // namespace bench
