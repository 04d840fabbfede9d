#include "server/view/PlayerStop.h"

#include "video/FfmpegPlayer.h"

#include <QList>
#include <QPointer>

using namespace kvr::video;

namespace kvr::view {

namespace {

// Main thread only, like the screens that retire players.
bool g_hold = false;
QList<QPointer<FfmpegPlayer>> g_held;

void letGo(FfmpegPlayer* p)
{
    // The player never waits for its thread: asked to end, it is deleted on
    // the next turn of the event loop and its thread winds down by itself.
    p->requestStop();
    p->deleteLater();
}

} // namespace

void stopPlayers(const QList<FfmpegPlayer*>& players)
{
    // Ask them all first, so that their threads end side by side and the wait
    // below is for the slowest of them, never for the sum.
    for (FfmpegPlayer* p : players) {
        if (p)
            p->requestStop();
    }
    for (FfmpegPlayer* p : players) {
        if (p)
            p->stop();
    }
}

void stopPlayer(FfmpegPlayer& player)
{
    player.stop();
}

void retirePlayers(const QList<FfmpegPlayer*>& players)
{
    for (FfmpegPlayer* p : players) {
        if (!p)
            continue;
        p->setParent(nullptr);
        p->disconnect();
        if (g_hold)
            g_held << p;
        else
            letGo(p);
    }
}

int retiringPlayers()
{
    int held = 0;
    for (const QPointer<FfmpegPlayer>& p : std::as_const(g_held))
        held += p ? 1 : 0;
    return held + FfmpegPlayer::backgroundThreads();
}

void holdRetiredPlayers(bool hold)
{
    g_hold = hold;
    if (hold)
        return;
    const QList<QPointer<FfmpegPlayer>> held = std::exchange(g_held, {});
    for (const QPointer<FfmpegPlayer>& p : held) {
        if (p)
            letGo(p);
    }
}

} // namespace kvr::view
