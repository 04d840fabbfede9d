#pragma once

// Measuring aids shared by the benchmarks: processor time, resident memory,
// main-thread stalls, and how often the video widgets paint for the
// pictures their players deliver.

#include "video/FfmpegPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <functional>

#include <sys/resource.h>
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

// The longest time the main thread went without turning its event loop
// while the meter runs: a 1 ms timer notes the gaps.
class StallMeter : public QObject {
public:
    StallMeter()
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        reset();
        m_timer.start();
    }
    double longestMs() const { return double(std::max(m_longest, m_clock.nsecsElapsed() - m_last)) / 1e6; }
    void reset()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
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
        for (FfmpegPlayer* p : root->findChildren<FfmpegPlayer*>()) {
            if (p->property(kFollowed).toBool())
                continue;
            p->setProperty(kFollowed, true);
            QObject::connect(p, &FfmpegPlayer::frameReady, this, [this] { m_pictures += m_counting ? 1 : 0; });
            QObject::connect(p, &FfmpegPlayer::yuvFrameReady, this, [this] { m_pictures += m_counting ? 1 : 0; });
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

} // namespace bench
