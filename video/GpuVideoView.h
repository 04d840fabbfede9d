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
    // Whether that is done (made, or found impossible: the first view then
    // tries again and fails as it would have).
    static bool contextsReady();
    // Calls `then` once on the GUI thread when the contexts are ready (at once
    // when they are), unless `context` is gone by then.
    static void whenContextsReady(QObject* context, std::function<void()> then);

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

    void upload(const YuvFrame& frame);
    void uploadPlane(GLuint texture, int width, int height, GLenum format, int bytesPerPixel, const uint8_t* data,
                     int stride, bool reallocate);

private:
    // Makes the context every view shares with, once, unless it is made.
    static void shareContexts();
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
