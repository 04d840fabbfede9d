#include "native/live/PlayerControl.h"

#include "video/FfmpegPlayer.h"

namespace PlayerControl {

void requestStop(FfmpegPlayer& player)
{
    // The player offers no stop request that returns at once yet; its stop()
    // ends the decode thread within a fraction of a second, so that is what
    // a request does until then.
    player.stop();
}

} // namespace PlayerControl
