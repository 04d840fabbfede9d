#include "server/view/PlayerStop.h"

#include "video/FfmpegPlayer.h"

#include <thread>
#include <vector>

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
    std::vector<std::thread> stoppers;
    stoppers.reserve(size_t(running.size()));
    for (FfmpegPlayer* p : running)
        stoppers.emplace_back([p] { p->stop(); });
    for (std::thread& t : stoppers)
        t.join();
}

void stopPlayer(FfmpegPlayer& player)
{
    stopPlayers({&player});
}
