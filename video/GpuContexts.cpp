#include "video/GpuContexts.h"

#include "video/GpuVideoView.h"
#include "video/Logging.h"

#include <QCoreApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObjectFormat>
#include <QOpenGLShaderProgram>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// Qt's own calls that name the context every OpenGL widget shares with
// (exported by Qt's GUI library for this use).
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
QT_END_NAMESPACE

namespace kvr::video {

namespace {

using Waiters = std::vector<std::pair<QPointer<QObject>, std::function<void()>>>;

// The context every view shares with, made once, ahead of the first view
// where possible, and the program the views draw with in it. GUI thread, but
// for what the maker thread hands over under `mutex`.
struct SharedContextMaker {
    enum class State {
        None,
        Making, // the maker thread makes the context
        Named,  // made and named to Qt; the program is still being built (and drawn with) on the maker thread
        Done,
    };
    State state = State::None;
    std::thread thread;
    Waiters named;                     // for contextsReady
    Waiters drawing;                   // for drawingReady
    QOpenGLContext* standIn = nullptr; // named to Qt until the real one is made; never created
    bool releasing = false;            // the routine that ends it all is set to run
    GpuContexts::Drawer drawer;        // GUI thread: its surface from the start, the rest once done

    std::mutex mutex;
    std::condition_variable madeSignal;
    bool madeYet = false;                               // the thread has tried to make the context
    QOpenGLContext* made = nullptr;                     // what it made
    QOpenGLContext* builtIn = nullptr;                  // the context it built the program in, handed over at its end
    std::unique_ptr<QOpenGLShaderProgram> builtProgram; // and the program
    GLuint builtFramebuffer = 0;
};

std::atomic<bool> s_holdBuild{false};

SharedContextMaker& sharedContextMaker()
{
    static SharedContextMaker maker;
    return maker;
}

void callAll(Waiters& waiters)
{
    for (auto& [receiver, then] : std::exchange(waiters, {}))
        if (receiver)
            then();
}

QOpenGLContext* makeContext()
{
    auto* context = new QOpenGLContext;
    context->setFormat(QSurfaceFormat::defaultFormat());
    if (context->create())
        return context;
    delete context; // the view's own context then tells whether OpenGL works
    return nullptr;
}

// Made on the GUI thread, as a surface must be on some systems; the context
// is made current on it from any thread.
QOffscreenSurface* makeSurface()
{
    auto* surface = new QOffscreenSurface;
    surface->setFormat(QSurfaceFormat::defaultFormat());
    surface->create();
    return surface;
}

// Builds the program in the current `context` and, with `drawOnce`, draws
// with it for each plane layout into a framebuffer such as the views draw
// into (a texture of the format a view's framebuffer has, pictures whose sides
// are not powers of two, as cameras' are): a renderer that compiles shaders
// for the state they are drawn in (Mesa's software one, in each context anew)
// does it here rather than at a view's first picture. Null when the program
// does not build: each view then tries its own, and fails as it would have.
std::unique_ptr<QOpenGLShaderProgram> buildProgram(QOpenGLContext& context, bool drawOnce, GLuint* framebuffer)
{
    QString log;
    std::unique_ptr<QOpenGLShaderProgram> program = YuvDraw::buildProgram(&log);
    if (!program) {
        qCWarning(lcVideo).noquote() << "[render] the shared program does not build:" << log;
        return nullptr;
    }
    if (!drawOnce)
        return program;
    QOpenGLFunctions& gl = *context.functions();
    constexpr int kSide = 6; // and 3 for the chroma planes
    GLuint target = 0;
    gl.glGenTextures(1, &target);
    gl.glBindTexture(GL_TEXTURE_2D, target);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GLint(QOpenGLFramebufferObjectFormat().internalTextureFormat()), kSide, kSide, 0,
                    GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    gl.glGenFramebuffers(1, framebuffer);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, *framebuffer);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
    GLuint textures[3] = {0, 0, 0};
    YuvDraw::makeTextures(gl, textures);
    if (gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
        const uint8_t grey[kSide * kSide] = {};
        gl.glViewport(0, 0, kSide, kSide);
        for (int32_t layout : {YuvFrame::kThreePlanes, YuvFrame::kNv12}) {
            YuvFrame frame;
            frame.format = layout;
            frame.width = frame.height = kSide;
            frame.planes[0] = frame.planes[1] = grey;
            frame.strides[0] = kSide;
            frame.strides[1] = layout == YuvFrame::kNv12 ? kSide : kSide / 2;
            if (layout == YuvFrame::kThreePlanes) {
                frame.planes[2] = grey;
                frame.strides[2] = kSide / 2;
            }
            YuvDraw::upload(gl, context.isOpenGLES(), textures, frame, true);
            YuvDraw::Look look;
            look.nv12 = layout == YuvFrame::kNv12;
            look.dest = QRectF(0, 0, kSide, kSide);
            look.target = QSizeF(kSide, kSide);
            look.radius = 2;
            YuvDraw::clear(gl);
            YuvDraw::draw(gl, *program, textures, look);
        }
        gl.glFinish();
    }
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    gl.glDeleteTextures(3, textures);
    gl.glDeleteTextures(1, &target);
    return program;
}

// Makes `context` (null: none could be made) the one every view shares with,
// and calls those waiting for that.
void nameContext(QOpenGLContext* context)
{
    SharedContextMaker& m = sharedContextMaker();
    m.state = SharedContextMaker::State::Named;
    if (context) {
        ::qt_gl_set_global_share_context(context);
        // Nothing shares with the stand-in: contexts made while it was named
        // (a window's own, made as the window was) share with none.
        delete std::exchange(m.standIn, nullptr);
    }
    callAll(m.named);
}

// The views draw in `context` with `program` from now on (neither: each in
// its own context, as it can).
void drawingDone(QOpenGLContext* context, std::unique_ptr<QOpenGLShaderProgram> program, GLuint framebuffer)
{
    SharedContextMaker& m = sharedContextMaker();
    m.state = SharedContextMaker::State::Done;
    m.drawer.context = context;
    m.drawer.program = program.release();
    m.drawer.framebuffer = framebuffer;
    callAll(m.drawing);
}

// Names what the maker thread made, once it has made it (at once, from the
// queued call it makes then; else the caller waits for it, not for the
// program it builds after).
void nameMadeContext()
{
    SharedContextMaker& m = sharedContextMaker();
    if (m.state != SharedContextMaker::State::Making)
        return;
    QOpenGLContext* made = nullptr;
    {
        std::unique_lock<std::mutex> lock(m.mutex);
        m.madeSignal.wait(lock, [&m] { return m.madeYet; });
        made = m.made;
    }
    nameContext(made);
}

// Takes what the maker thread built, once it has ended (at once, from the
// queued call that is its last act; else the caller waits for it).
void adoptBuiltProgram()
{
    SharedContextMaker& m = sharedContextMaker();
    if (!m.thread.joinable())
        return;
    nameMadeContext();
    m.thread.join();
    QOpenGLContext* context = nullptr;
    std::unique_ptr<QOpenGLShaderProgram> program;
    GLuint framebuffer = 0;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        context = std::exchange(m.builtIn, nullptr);
        program = std::move(m.builtProgram);
        framebuffer = m.builtFramebuffer;
    }
    drawingDone(context, std::move(program), framebuffer);
}

// At the end, with the application: the thread is waited for, and the
// context goes while the display connection still exists.
void releaseAtExit()
{
    SharedContextMaker& m = sharedContextMaker();
    if (std::exchange(m.releasing, true))
        return;
    qAddPostRoutine([] {
        SharedContextMaker& maker = sharedContextMaker();
        maker.named.clear();
        maker.drawing.clear();
        s_holdBuild.store(false);
        adoptBuiltProgram();
        GpuContexts::Drawer& d = maker.drawer;
        if (d.context && d.surface && d.context->makeCurrent(d.surface)) {
            delete std::exchange(d.program, nullptr);
            if (d.framebuffer)
                d.context->functions()->glDeleteFramebuffers(1, &d.framebuffer);
            d.context->doneCurrent();
        }
        delete std::exchange(d.program, nullptr);
        QOpenGLContext* named = ::qt_gl_global_share_context();
        ::qt_gl_set_global_share_context(nullptr);
        if (d.context != named)
            delete d.context;
        if (named != maker.standIn)
            delete named;
        delete std::exchange(maker.standIn, nullptr);
        delete std::exchange(d.surface, nullptr);
        d = GpuContexts::Drawer();
    });
}

// Keeps the context current on this thread, if any, across a scope that
// makes another current.
struct KeepCurrent {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    QSurface* surface = context ? context->surface() : nullptr;
    ~KeepCurrent()
    {
        if (context)
            context->makeCurrent(surface);
    }
};

} // namespace

GpuContexts::Drawer* GpuContexts::drawer()
{
    SharedContextMaker& m = sharedContextMaker();
    if (m.state != SharedContextMaker::State::Done || !m.drawer.context || !m.drawer.program)
        return nullptr;
    return &m.drawer;
}

void GpuVideoView::shareContextsAppWide()
{
    SharedContextMaker& m = sharedContextMaker();
    if (m.standIn || QCoreApplication::instance())
        return; // once, and only before the application: Qt reads both as it starts
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (::qt_gl_global_share_context())
        return;
    m.standIn = new QOpenGLContext;
    ::qt_gl_set_global_share_context(m.standIn);
    releaseAtExit();
}

QOpenGLContext* GpuVideoView::sharedContext()
{
    QOpenGLContext* named = ::qt_gl_global_share_context();
    return named && named != sharedContextMaker().standIn ? named : nullptr;
}

void GpuVideoView::prepareContexts(bool threaded)
{
    SharedContextMaker& m = sharedContextMaker();
    if (m.state != SharedContextMaker::State::None)
        return;
    m.state = SharedContextMaker::State::Making;
    releaseAtExit();
    m.drawer.surface = makeSurface();
    if (!threaded) {
        // All of it here: the program is built, and its first draw compiles
        // once, in the shared context, for every view.
        QOpenGLContext* context = makeContext();
        nameContext(context);
        std::unique_ptr<QOpenGLShaderProgram> program;
        KeepCurrent kept;
        if (context && context->makeCurrent(m.drawer.surface)) {
            program = buildProgram(*context, false, nullptr);
            context->doneCurrent();
        }
        drawingDone(context, std::move(program), 0);
        return;
    }
    QThread* gui = QCoreApplication::instance()->thread();
    QOffscreenSurface* surface = m.drawer.surface;
    m.thread = std::thread([gui, surface] {
        SharedContextMaker& maker = sharedContextMaker();
        // Two contexts: the one named to Qt goes to the GUI thread at once, so
        // that windows made from now on share with it; the one the views will
        // draw in (sharing with it) stays here while its program is built.
        QOpenGLContext* named = makeContext();
        QOpenGLContext* drawing = nullptr;
        if (named) {
            drawing = new QOpenGLContext;
            drawing->setFormat(QSurfaceFormat::defaultFormat());
            drawing->setShareContext(named);
            if (!drawing->create())
                delete std::exchange(drawing, nullptr);
            // The share group too: left here, its deferred deletion never runs.
            named->shareGroup()->moveToThread(gui);
            named->moveToThread(gui);
        }
        {
            std::lock_guard<std::mutex> lock(maker.mutex);
            maker.made = named;
            maker.madeYet = true;
        }
        maker.madeSignal.notify_all();
        QMetaObject::invokeMethod(QCoreApplication::instance(), &nameMadeContext, Qt::QueuedConnection);
        while (s_holdBuild.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::unique_ptr<QOpenGLShaderProgram> program;
        GLuint framebuffer = 0;
        if (drawing && drawing->makeCurrent(surface)) {
            program = buildProgram(*drawing, true, &framebuffer);
            drawing->doneCurrent();
        }
        if (drawing)
            drawing->moveToThread(gui);
        if (program)
            program->moveToThread(gui);
        {
            std::lock_guard<std::mutex> lock(maker.mutex);
            maker.builtIn = drawing;
            maker.builtProgram = std::move(program);
            maker.builtFramebuffer = framebuffer;
        }
        QMetaObject::invokeMethod(QCoreApplication::instance(), &adoptBuiltProgram, Qt::QueuedConnection);
    });
}

bool GpuVideoView::contextsReady()
{
    return sharedContextMaker().state >= SharedContextMaker::State::Named;
}

void GpuVideoView::whenContextsReady(QObject* context, std::function<void()> then)
{
    if (contextsReady()) {
        then();
        return;
    }
    sharedContextMaker().named.emplace_back(context, std::move(then));
}

bool GpuVideoView::drawingReady()
{
    return sharedContextMaker().state == SharedContextMaker::State::Done;
}

void GpuVideoView::whenDrawingReady(QObject* context, std::function<void()> then)
{
    if (drawingReady()) {
        then();
        return;
    }
    sharedContextMaker().drawing.emplace_back(context, std::move(then));
}

void GpuVideoView::holdProgramBuildForTest(bool hold)
{
    s_holdBuild.store(hold);
}

void GpuVideoView::shareContexts()
{
    // Made with the first view at the latest, never at start-up: making any
    // context loads the OpenGL driver (tens of MiB and a dozen threads with
    // a software renderer), which a program whose pictures the processor
    // draws never needs. Every view's context shares with this one, so a
    // view moved to another window (a display of the video wall) keeps its
    // textures.
    SharedContextMaker& m = sharedContextMaker();
    if (m.state == SharedContextMaker::State::None && !sharedContext()) {
        // Needed now, so made now; the program is built on a thread of its
        // own where OpenGL allows that (Qt's own check, which makes a
        // context here: the driver loads here either way).
        prepareContexts(QOpenGLContext::supportsThreadedOpenGL());
    }
    if (m.state == SharedContextMaker::State::Making)
        nameMadeContext(); // a view that came before the context was made waits for it
}

} // namespace kvr::video
