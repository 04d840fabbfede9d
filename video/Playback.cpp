#include "video/Playback.h"

#include "app/core/Env.h"

extern "C" {
#include <libavutil/error.h>
}

using namespace kvr::core;

namespace kvr::video {

namespace {

std::mutex envMutex;
std::optional<PlayerEnv> envCache;

} // namespace

PlayerEnv playerEnv()
{
    std::lock_guard<std::mutex> lock(envMutex);
    if (!envCache) {
        PlayerEnv e;
        e.slowDecodeMs = std::max(0, envOr("KVR_TEST_SLOW_DECODE_MS", QStringLiteral("0")).toInt());
        e.testOverload = envSet("KVR_TEST_OVERLOAD");
        e.playDebug = envSet("KVR_PLAY_DEBUG");
        envCache = e;
    }
    return *envCache;
}

void reloadPlayerEnv()
{
    std::lock_guard<std::mutex> lock(envMutex);
    envCache.reset();
}

QString ffmpegError(int code)
{
    char text[64] = {0};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

void Playback::post(std::function<void(FfmpegPlayer&)> emitter)
{
    std::lock_guard<std::mutex> lock(owner->mutex);
    FfmpegPlayer* player = owner->player;
    if (!player)
        return;
    const int gen = generation;
    QMetaObject::invokeMethod(
        player,
        [player, gen, emitter = std::move(emitter)] {
            if (PlayerAccess::current(*player, gen))
                emitter(*player);
        },
        Qt::QueuedConnection);
}

} // namespace kvr::video
