#include "video/DecodeThread.h"

#include "video/Playback.h"

#include <QThreadPool>

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kvr::video {

std::thread startDecodeThread(std::shared_ptr<Playback> playback)
{
    return std::thread([pb = std::move(playback)] {
        runDecodeLoop(*pb);
        ReconnectSchedule::Ended e;
        e.generation = pb->generation;
        e.hadPicture = pb->hadPicture.load() || pb->onlyReplayed.load();
        e.unexpected = pb->endedUnexpectedly.load();
        e.stopped = pb->playlistStopped.load();
        e.forSoftware = pb->endedForSoftware.load();
        e.failure = pb->failure;
        e.failureKind = pb->failureKind;
        {
            std::lock_guard<std::mutex> lock(pb->owner->mutex);
            if (FfmpegPlayer* player = pb->owner->player)
                QMetaObject::invokeMethod(
                    player, [player, e] { PlayerAccess::ended(*player, e); }, Qt::QueuedConnection);
        }
        pb->markFinished();
        ThreadReaper::instance().ended();
    });
}

void releaseDecodeThread(std::thread& thread, const std::shared_ptr<Playback>& playback, std::chrono::milliseconds wait)
{
    playback->stopFlag.store(true);
    if (thread.joinable()) {
        if (playback->waitFinished(wait))
            thread.join();
        else
            ThreadReaper::instance().adopt(std::move(thread), playback);
    }
    ThreadReaper::instance().reapEnded();
}

ThreadReaper& ThreadReaper::instance()
{
    static ThreadReaper* reaper = [] {
        auto* r = new ThreadReaper;
        std::atexit([] { instance().atExit(); });
        return r;
    }();
    return *reaper;
}

void ThreadReaper::adopt(std::thread thread, std::shared_ptr<Playback> playback)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threads.push_back(Entry{std::move(thread), std::move(playback)});
}

ThreadReaper::ThreadReaper()
{
    m_giveBack.setSingleShot(true);
    m_giveBack.setInterval(tun::kGiveBackDelay);
    connect(&m_giveBack, &QTimer::timeout, this, [] {
#if defined(__GLIBC__)
        // Off the GUI thread: it walks every heap of the process.
        QThreadPool::globalInstance()->start([] { malloc_trim(0); });
#endif
    });
}

void ThreadReaper::ended()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            reapEnded();
            scheduleGiveBack();
        },
        Qt::QueuedConnection);
}

void ThreadReaper::scheduleGiveBack()
{
    if (!m_giveBack.isActive())
        m_giveBack.start();
}

void ThreadReaper::reapEnded()
{
    std::vector<std::thread> done;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_threads.begin(); it != m_threads.end();) {
            if (it->playback->hasFinished()) {
                done.push_back(std::move(it->thread));
                it = m_threads.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (std::thread& t : done)
        t.join(); // past its last act: returns at once
}

int ThreadReaper::pending()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_threads.size());
}

void ThreadReaper::atExit()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto until = std::chrono::steady_clock::now() + tun::kStopWait;
    for (Entry& e : m_threads) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (e.playback->waitFinished(std::max(left, std::chrono::milliseconds(0))))
            e.thread.join();
        else
            e.thread.detach();
    }
    m_threads.clear();
}

} // namespace kvr::video
