#pragma once

#include <QtGui/qopengl.h>

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLShaderProgram;

namespace kvr::video::GpuContexts {

// Where the GPU views draw once drawing is ready (GpuVideoView::drawingReady):
// the context they all share with, the surface it is made current on, and the
// YUV program built in it. GUI thread only.
struct Drawer {
    QOpenGLContext* context = nullptr;
    QOffscreenSurface* surface = nullptr;
    QOpenGLShaderProgram* program = nullptr;
    GLuint framebuffer = 0; // made in `context` as it is first drawn with
};

// The drawer, once drawing is ready and a context and its program were made;
// null otherwise.
Drawer* drawer();

} // namespace kvr::video::GpuContexts
