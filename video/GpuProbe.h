#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

class QObject;

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
    bool threaded = false; // contexts may be made on threads other than the GUI thread
};

// Whether OpenGL on this computer is good enough to draw video; worked out
// once per process, in the background: the window's thread never waits for
// it.
struct GpuProbe {
    bool usable = false;
    QString renderer;              // GL_RENDERER, or KVR_TEST_GL_RENDERER when set
    QString version;               // GL_VERSION
    QString reason;                // why drawing stays on the processor; empty when usable
    bool threadedContexts = false; // OpenGL contexts may be made on other threads

    // Starts the probe once per process and returns at once; the answer
    // comes later on the GUI thread (at once with KVR_RENDER=cpu). False, and
    // nothing started, before a QGuiApplication exists. GUI thread only.
    static bool start();
    // The answer, once it came (any thread).
    static std::optional<GpuProbe> known();
    // Calls `then` once on the GUI thread when the answer comes, unless
    // `context` is gone by then; at once when it came already or no probe is
    // under way to give one.
    static void whenKnown(QObject* context, std::function<void()> then);

    // Test seam: forgets the answer (a probe under way is ended), and has
    // the next start() run `program` with `arguments` in place of a copy of
    // this program (when `program` is set), waiting `bound` for its answer.
    static void restartForTest(const QString& program = QString(), const QStringList& arguments = QStringList(),
                               std::chrono::milliseconds bound = std::chrono::milliseconds(0));

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
