#include "server/view/PlayerStop.h"

#include "server/view/Tunables.h"
#include "video/FfmpegPlayer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThreadPool>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Set while a restart of the player may be waiting on the GUI thread: from
// its reconnect notice until the restarted input opened.
const char* const kRestartPending = "kvrRestartPending";

std::atomic<int> g_retiring{0};

std::mutex g_holdMutex;
std::condition_variable g_holdChanged;
bool g_hold = false;

void waitWhileHeld()
{
    std::unique_lock<std::mutex> lock(g_holdMutex);
    g_holdChanged.wait(lock, [] { return !g_hold; });
}

// A retired player's own GUI-thread work (the end-of-thread notice, results
// of the ending playback) is queued to it as meta-call events; swallowing
// them leaves its thread to the one stopping it in the background.
class Silencer final : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::MetaCall; }
};

Silencer& silencer()
{
    static Silencer* s = new Silencer; // lives as long as the process
    return *s;
}

QThreadPool& stoppers()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(64);
        // Threads still ending when the application quits get a moment;
        // one stuck in a call nothing interrupts does not hold the exit up.
        qAddPostRoutine([] { stoppers().waitForDone(int(kvr::view::tun::kRetiredExitWait.count())); });
        return p;
    }();
    return *pool;
}

} // namespace

void stopPlayers(const QList<FfmpegPlayer*>& players)
{
    QList<FfmpegPlayer*> running;
    for (FfmpegPlayer* p : players) {
        if (!p)
            continue;
        if (p->isRunning())
            running << p;
        else
            p->stop(); // nothing to wait for
    }
    if (running.size() == 1) {
        running.first()->stop();
        return;
    }
    // The GUI thread blocks here until all have ended, so none of the players'
    // own GUI-thread handlers (a restart after a drop) can run meanwhile.
    std::vector<std::thread> threads;
    threads.reserve(size_t(running.size()));
    for (FfmpegPlayer* p : running)
        threads.emplace_back([p] { p->stop(); });
    for (std::thread& t : threads)
        t.join();
}

void stopPlayer(FfmpegPlayer& player)
{
    stopPlayers({&player});
}

void watchPlayer(FfmpegPlayer& player)
{
    FfmpegPlayer* p = &player;
    QObject::connect(p, &FfmpegPlayer::reconnecting, p, [p] { p->setProperty(kRestartPending, true); });
    QObject::connect(p, &FfmpegPlayer::opened, p, [p] { p->setProperty(kRestartPending, false); });
}

void retirePlayers(const QList<FfmpegPlayer*>& players)
{
    QList<FfmpegPlayer*> now;
    for (FfmpegPlayer* p : players) {
        if (!p)
            continue;
        p->setParent(nullptr);
        p->disconnect();
        if (p->property(kRestartPending).toBool()) {
            // Its restart timer would touch the thread: stop it here (its
            // thread has ended or just begun, so this is short).
            now << p;
            continue;
        }
        p->installEventFilter(&silencer());
        ++g_retiring;
        stoppers().start([p] {
            waitWhileHeld();
            p->stop();
            --g_retiring;
            p->deleteLater();
        });
    }
    stopPlayers(now);
    qDeleteAll(now);
}

int retiringPlayers()
{
    return g_retiring.load();
}

void holdRetiredPlayers(bool hold)
{
    {
        std::lock_guard<std::mutex> lock(g_holdMutex);
        g_hold = hold;
    }
    g_holdChanged.notify_all();
}
