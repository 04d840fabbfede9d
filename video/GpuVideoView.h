#pragma once

#include "video/YuvFrame.h"

#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QRectF>
#include <QSize>

#include <array>
#include <functional>
#include <memory>

class QOpenGLContext;
class QOpenGLShaderProgram;

namespace kvr::video {

// Colour and geometry rules of the YUV view, as plain functions.
namespace YuvDraw {

// (offset, luma scale, chroma scale) for the shader's `uRange`.
std::array<float, 3> rangeConstants(bool fullRange);
// (V to red, U to green, V to green, U to blue) for the shader's `uCoef`.
std::array<float, 4> matrixConstants(bool bt709);
// Size of one chroma plane of a 4:2:0 picture: half of each side, rounded up.
QSize chromaSize(int width, int height);
// Where a picture of `picture` pixels lands in a framebuffer of `target`
// pixels: centred, fitted inside it, or covering it and cropped with `cover`.
QRectF destination(QSizeF picture, QSizeF target, bool cover);
// Whether a record can be drawn: sizes above 0, a known layout, the planes the
// layout needs present and every row at least as long as the picture's.
bool isDrawable(const YuvFrame& frame);
// The YUV-to-RGB program's sources, for OpenGL 2 and OpenGL ES 2.
const char* vertexShader();
const char* fragmentShader();

// What follows runs in a current OpenGL context.

// The program built from those sources; null, with the start of the
// compiler's log in `*log`, when it does not build.
std::unique_ptr<QOpenGLShaderProgram> buildProgram(QString* log);
// Three textures for a picture's planes, filtered and clamped at the edges.
void makeTextures(QOpenGLFunctions& gl, GLuint (&textures)[3]);
// Uploads a drawable record's planes into `textures` (the same size and
// layout as before, unless `reallocate`).
void upload(QOpenGLFunctions& gl, bool es, const GLuint (&textures)[3], const YuvFrame& frame, bool reallocate);
// Fills the bound framebuffer with the backdrop.
void clear(QOpenGLFunctions& gl);

// One picture's draw, besides its planes.
struct Look {
    bool nv12 = false;
    bool fullRange = false;
    bool bt709 = false;
    QRectF dest;      // where the picture lands in the framebuffer, in its pixels
    QSizeF target;    // the framebuffer's size in pixels
    float radius = 0; // the corners' rounding in those pixels
};
// Draws the picture held in `textures` with `program` into the bound
// framebuffer.
void draw(QOpenGLFunctions& gl, QOpenGLShaderProgram& program, const GLuint (&textures)[3], const Look& look);

} // namespace YuvDraw

// Draws YuvFrames with the graphics chip: the planes are uploaded as textures
// and converted to RGB in a fragment shader, fitted or cropped, with rounded
// corners. Always a child of a VideoStage, which listens to `unavailable` and
// falls back to pictures drawn by the processor.
class GpuVideoView : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT
public:
    explicit GpuVideoView(QWidget* parent = nullptr);
    ~GpuVideoView() override;

    // Before the QApplication exists: every OpenGL context of the program is
    // to share with one (Qt::AA_ShareOpenGLContexts), which is made only
    // once the graphics chip draws (prepareContexts). Qt makes that context
    // itself as the application starts unless one is named already, and
    // making any context loads the OpenGL driver: a stand-in is named until
    // the real one is made, so a program whose pictures the processor draws
    // never loads it.
    static void shareContextsAppWide();
    // The context every view shares with, once made; null before.
    static QOpenGLContext* sharedContext();

    // Makes the context every view shares with ahead of the first view, on a
    // thread of its own where OpenGL allows that (`threaded`, as the
    // graphics probe found: Qt's own check makes a context on the asking
    // thread), else here: the first context loads the driver, which the
    // window's thread would otherwise stand still for (a tenth of a second
    // and more). GUI thread only.
    static void prepareContexts(bool threaded);
    // Whether that context is made and named to Qt, so that windows and views
    // made from now on share with it (or found impossible: the first view then
    // tries again and fails as it would have).
    static bool contextsReady();
    // Calls `then` once on the GUI thread when the contexts are ready (at once
    // when they are), unless `context` is gone by then.
    static void whenContextsReady(QObject* context, std::function<void()> then);
    // Whether views draw their pictures with the program built in the shared
    // context: where that context is made on a thread of its own, the program
    // is built and drawn with once there first (a renderer that compiles its
    // shaders as it first draws does so then, off the window's thread), and
    // the context is handed to the GUI thread. From then on every view draws
    // in that one context, into its own framebuffer, so that no view
    // compiles anything itself. Also true where no context could be made.
    static bool drawingReady();
    // Calls `then` once on the GUI thread when drawing is ready (at once when
    // it is), unless `context` is gone by then.
    static void whenDrawingReady(QObject* context, std::function<void()> then);
    // Test seam: while held, the thread that makes the shared context waits
    // once it has named it, before it builds the program.
    static void holdProgramBuildForTest(bool hold);

    // Has the window `corner` is in, which is yet to show, compose a texture
    // drawn with OpenGL from its first frame on, so that the window's own
    // drawing of one is prepared then rather than at a view's first picture:
    // a square of primerSide() pixels of the backdrop colour at the top left
    // of `corner`, gone after that frame. Where that square is the backdrop
    // anyway (a rounded corner) nothing shows.
    static void primeCompositionAt(QWidget* corner);
    // Takes that square away again (the corner is no longer the backdrop).
    static void unprimeCompositionAt(QWidget* corner);
    static int primerSide();

    // Keeps the picture for the next repaint (only the newest is uploaded).
    // Repaints of all views are merged into one timer tick.
    void setFrame(std::shared_ptr<const YuvFrame> frame);
    // Nothing is drawn until the next picture.
    void clearFrame();
    void setCover(bool on);
    void setCornerRadius(int radius);
    bool hasFailed() const { return failed; }

Q_SIGNALS:
    // The view cannot draw; it ignores pictures from now on.
    void unavailable(const QString& reason);

protected:
    void showEvent(QShowEvent* event) override;
    void initializeGL() override;
    void paintGL() override;

private:
    // Makes the context every view shares with, once, unless it is made.
    static void shareContexts();
    // Draws in the shared context into this view's framebuffer: false, with
    // nothing drawn, where drawing is not ready or this view's context does
    // not share with it.
    bool paintShared();
    // Draws in this view's own context, with a program of its own.
    void paintHere();
    // Uploads the waiting picture, if any, in the current context.
    void uploadPending(QOpenGLFunctions& gl);
    YuvDraw::Look look(QSizeF target) const;
    void fail(const QString& reason);
    // Fails the view when, shown with an area, it still has no context.
    void scheduleSurfaceCheck();
    // Frees the textures and the program while their context still exists.
    void releaseGl();

    std::shared_ptr<const YuvFrame> pending;
    std::unique_ptr<QOpenGLShaderProgram> program;
    GLuint textures[3] = {0, 0, 0};
    int32_t texFormat = 0;
    int32_t texWidth = 0;
    int32_t texHeight = 0;
    bool fullRange = false;
    bool bt709 = false;
    bool hasTextures = false;
    bool cover = false;
    bool failed = false;
    int32_t radius = 14;
};

} // namespace kvr::video
