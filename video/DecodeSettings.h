#pragma once

#include <QString>

#include <chrono>
#include <functional>

class QObject;

namespace kvr::video {

// How a player decodes and draws, as the settings say when it is read. Both
// modes read one as a tile's player is set up or started, so a change in the
// settings applies from the next start on.
struct DecodeSettings {
    // Who draws the pictures.
    enum class Drawing {
        Processor,
        GraphicsChip,
        // Not settled yet: the graphics probe has not answered, or the chip's
        // first context and the program the views draw with in it are still
        // being made. The processor draws meanwhile,
        // and the player follows once it settles (applyDecodeSettings).
        ProcessorUntilReady,
    };

    bool hardwareDecode = true; // hardware decoding may be tried
    Drawing drawing = Drawing::Processor;

    // The settings now: both decisions below.
    static DecodeSettings current();

    // Whether hardware decoding may be used: KVR_HWDECODE when set, else the
    // setting.
    static bool hardwareDecodeAllowed();
    // Who draws video: the render mode setting and, unless it rules the
    // graphics chip out, the probe of this computer's OpenGL, started here
    // when it was not yet; for the chip, once the context the views share is
    // made and their program built in it (begun here in the background).
    // Never waits for either.
    static Drawing drawingChosen();
    // Calls `then` once on the GUI thread when drawingChosen() is no longer
    // ProcessorUntilReady (at once when it is not), unless `context` is gone
    // by then.
    static void whenDrawingSettles(QObject* context, std::function<void()> then);
    // Whether a window that shows video is to be made ready for the graphics
    // chip before it first shows: the chip draws, or will once the context
    // the views share is made, or the render mode asks for it ("gpu", in the
    // setting or KVR_RENDER) while the probe has not answered. Starts nothing
    // and waits for nothing.
    static bool chipAhead();
    // The drawing decision for a render mode and a probe result.
    static bool gpuRenderFor(const QString& mode, bool probeUsable, const QString& probeRenderer);
    // Starts the graphics probe in the background, unless the render mode
    // setting rules the graphics chip out, so that its answer is in before
    // the first video opens (start-up calls it); once it says the chip draws,
    // the context the views share is made at once, so that windows shown
    // from then on are made ready for it.
    static void probeAhead();
    // Calls `then` once on the GUI thread when a window shown then is made as
    // it will draw its video: the probe's answer is in and, where the chip
    // draws, the context the views share is made, so that the window is made
    // for OpenGL before it shows. Or once tun::kFirstWindowWait has passed
    // since probeAhead started the probe, whichever comes first; at once when
    // nothing is under way or that time is past. Start-up shows its windows
    // that show video through it. Nothing is called once `context` is gone.
    static void whenWindowCanBeReady(QObject* context, std::function<void()> then);
    // Test seam: how long whenWindowCanBeReady waits at most from now on
    // (zero: tun::kFirstWindowWait).
    static void firstWindowWaitForTest(std::chrono::milliseconds wait);
};

} // namespace kvr::video
