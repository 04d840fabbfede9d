#pragma once

#include <QString>

namespace kvr::video {

// How a player decodes and draws, as the settings say when it is read. Both
// modes read one as a tile's player is set up or started, so a change in the
// settings applies from the next start on.
struct DecodeSettings {
    bool hardwareDecode = true; // hardware decoding may be tried
    bool gpuRender = false;     // pictures are drawn with the graphics chip

    // The settings now: both decisions below.
    static DecodeSettings current();

    // Whether hardware decoding may be used: KVR_HWDECODE when set, else the
    // setting.
    static bool hardwareDecodeAllowed();
    // Whether video is drawn with the graphics chip: the render mode setting
    // and, unless it rules drawing out, the probe of this computer's OpenGL.
    static bool gpuRenderChosen();
    // The drawing decision for a render mode and a probe result.
    static bool gpuRenderFor(const QString& mode, bool probeUsable, const QString& probeRenderer);
};

} // namespace kvr::video
