#pragma once

#include <QString>

#include <optional>

namespace kvr::video {

// What this computer's OpenGL says about itself.
struct GlFacts {
    bool contextMade = false; // a context could be created
    bool current = false;     // and made current on a surface; the rest is read only then
    QString renderer;
    QString version;
    QString vendor;
    bool es = false;
    int major = 0;
    bool shaders = false;
};

// Whether OpenGL on this computer is good enough to draw video; worked out
// once per process on the first call of result().
struct GpuProbe {
    bool usable = false;
    QString renderer; // GL_RENDERER, or KVR_TEST_GL_RENDERER when set
    QString version;  // GL_VERSION
    QString reason;   // why drawing stays on the processor; empty when usable

    // The process-wide record, probing on the first call (thread-safe).
    static const GpuProbe& result();

    // Whether a renderer/vendor pair names a software rasteriser.
    static bool isSoftwareRenderer(const QString& renderer, const QString& vendor);

    // What KVR_RENDER (`mode`, in any letter case) and the renderer OpenGL
    // names make of drawing on the graphics chip: empty when it may, else why
    // drawing stays on the processor.
    static QString declined(const QString& mode, const QString& renderer, const QString& vendor);

    // The decision from what OpenGL answered (none: no answer came, the copy
    // that reads it crashed or hung), KVR_RENDER (`mode`) and a renderer name
    // standing in for OpenGL's (KVR_TEST_GL_RENDERER, empty when unset).
    static GpuProbe decide(const std::optional<GlFacts>& answer, const QString& mode,
                           const QString& rendererStandIn = QString());
};

} // namespace kvr::video
