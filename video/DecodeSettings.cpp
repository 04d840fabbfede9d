#include "video/DecodeSettings.h"

#include "app/core/Env.h"
#include "app/core/Settings.h"
#include "video/GpuProbe.h"

using namespace kvr::core;

namespace kvr::video {

DecodeSettings DecodeSettings::current()
{
    return {hardwareDecodeAllowed(), gpuRenderChosen()};
}

bool DecodeSettings::hardwareDecodeAllowed()
{
    // KVR_HWDECODE, when set, decides instead of the setting: an integer in
    // C notation ("0x" hexadecimal, a leading 0 octal, else decimal),
    // non-zero for on; a text that is not a number reads as off.
    if (envSet("KVR_HWDECODE"))
        return envOr("KVR_HWDECODE", QString()).trimmed().toLongLong(nullptr, 0) != 0;
    return Prefs::get(Prefs::kHardwareDecode);
}

bool DecodeSettings::gpuRenderFor(const QString& mode, bool probeUsable, const QString& probeRenderer)
{
    if (mode == QLatin1String("cpu"))
        return false;
    if (probeUsable)
        return true;
    return mode == QLatin1String("gpu") && !probeRenderer.isEmpty();
}

bool DecodeSettings::gpuRenderChosen()
{
    const QString mode = Prefs::get(Prefs::kRenderMode);
    if (mode == QLatin1String("cpu"))
        return false; // no need to start OpenGL just to be told no
    const GpuProbe& probe = GpuProbe::result();
    return gpuRenderFor(mode, probe.usable, probe.renderer);
}

} // namespace kvr::video
