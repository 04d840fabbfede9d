#include "video/GpuVideoView.h"

#include "app/ui/Theme.h"
#include "video/GpuContexts.h"
#include "video/Tunables.h"

#include <QCoreApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

using namespace kvr::ui;

namespace kvr::video {

#ifndef GL_UNPACK_ROW_LENGTH
#define GL_UNPACK_ROW_LENGTH 0x0CF2
#endif

namespace YuvDraw {

std::array<float, 3> rangeConstants(bool full)
{
    if (full)
        return {0.0f, 1.0f, 1.0f};
    return {16.0f / 255.0f, 255.0f / 219.0f, 255.0f / 224.0f};
}

std::array<float, 4> matrixConstants(bool bt709)
{
    if (bt709)
        return {1.5748f, 0.1873f, 0.4681f, 1.8556f};
    return {1.402f, 0.344136f, 0.714136f, 1.772f};
}

QSize chromaSize(int width, int height)
{
    return QSize((width + 1) / 2, (height + 1) / 2);
}

QRectF destination(QSizeF picture, QSizeF target, bool cover)
{
    if (picture.width() <= 0 || picture.height() <= 0 || target.isEmpty())
        return {};
    const double aspect = picture.width() / picture.height();
    const double w = target.width();
    const double h = target.height();
    double dw = w;
    double dh = w / aspect;
    if (cover ? dh < h : dh > h) {
        dw = h * aspect;
        dh = h;
    }
    return QRectF((w - dw) / 2.0, (h - dh) / 2.0, dw, dh);
}

bool isDrawable(const YuvFrame& f)
{
    if (f.width <= 0 || f.height <= 0 || !f.planes[0] || !f.planes[1])
        return false;
    const QSize chroma = chromaSize(f.width, f.height);
    if (std::abs(f.strides[0]) < f.width)
        return false;
    if (f.format == YuvFrame::kNv12)
        return std::abs(f.strides[1]) >= chroma.width() * 2;
    if (f.format == YuvFrame::kThreePlanes)
        return f.planes[2] && std::abs(f.strides[1]) >= chroma.width() && std::abs(f.strides[2]) >= chroma.width();
    return false;
}

namespace {

const char kVertexShader[] = "attribute vec2 aPos;\n"
                             "void main() { gl_Position = vec4(aPos, 0.0, 1.0); }\n";

const char kFragmentShader[] = R"(#ifdef GL_ES
precision highp float;
#endif
uniform sampler2D uY;
uniform sampler2D uU;
uniform sampler2D uV;
uniform float uNv12;
uniform vec4 uDest;
uniform vec2 uSize;
uniform float uRadius;
uniform vec3 uBackdrop;
uniform vec3 uRange;
uniform vec4 uCoef;
void main() {
    vec2 p = gl_FragCoord.xy;
    vec2 t = (p - uDest.xy) / (uDest.zw - uDest.xy);
    vec3 rgb = vec3(0.0);
    if (t.x >= 0.0 && t.x <= 1.0 && t.y >= 0.0 && t.y <= 1.0) {
        vec2 c = vec2(t.x, 1.0 - t.y);
        float y = (texture2D(uY, c).r - uRange.x) * uRange.y;
        float u;
        float v;
        if (uNv12 > 0.5) {
            vec4 uv = texture2D(uU, c);
            u = uv.r;
            v = uv.a;
        } else {
            u = texture2D(uU, c).r;
            v = texture2D(uV, c).r;
        }
        u = (u - 0.5) * uRange.z;
        v = (v - 0.5) * uRange.z;
        rgb = vec3(y + uCoef.x * v, y - uCoef.y * u - uCoef.z * v, y + uCoef.w * u);
    }
    vec2 h = uSize * 0.5;
    vec2 q = abs(p - h) - (h - uRadius);
    // Signed distance to the rounded rectangle; the inner term keeps the
    // inside opaque when the radius is below half a pixel (square corners).
    float d = length(max(q, 0.0)) + min(max(q.x, q.y), 0.0) - uRadius;
    float a = clamp(0.5 - d, 0.0, 1.0);
    // Opaque everywhere: the window puts this view's pixels in place of the
    // widgets beneath it, so the backdrop outside the rounded corners must be
    // painted here, or they show black.
    gl_FragColor = vec4(mix(uBackdrop, clamp(rgb, 0.0, 1.0), a), 1.0);
}
)";

} // namespace

const char* vertexShader()
{
    return kVertexShader;
}

const char* fragmentShader()
{
    return kFragmentShader;
}

std::unique_ptr<QOpenGLShaderProgram> buildProgram(QString* log)
{
    constexpr int kShaderLogChars = 160;
    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader)
        && program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) && program->link())
        return program;
    if (log)
        *log = program->log().left(kShaderLogChars);
    return nullptr;
}

void makeTextures(QOpenGLFunctions& gl, GLuint (&textures)[3])
{
    gl.glGenTextures(3, textures);
    for (GLuint t : textures) {
        gl.glBindTexture(GL_TEXTURE_2D, t);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    gl.glBindTexture(GL_TEXTURE_2D, 0);
}

namespace {

void uploadPlane(QOpenGLFunctions& gl, bool es, GLuint texture, int width, int height, GLenum format, int bytesPerPixel,
                 const uint8_t* data, int stride, bool reallocate)
{
    gl.glBindTexture(GL_TEXTURE_2D, texture);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const int rowBytes = width * bytesPerPixel;
    std::vector<uint8_t> packed;
    const uint8_t* source = data;
    if (es || stride <= 0 || stride % bytesPerPixel != 0) {
        // No row length to skip the padding with (or a layout it cannot
        // express, such as rows running upwards): pack the rows tightly.
        if (stride != rowBytes) {
            packed.resize(size_t(rowBytes) * size_t(height));
            for (int row = 0; row < height; ++row)
                std::memcpy(packed.data() + size_t(row) * size_t(rowBytes), data + ptrdiff_t(row) * ptrdiff_t(stride),
                            size_t(rowBytes));
            source = packed.data();
        }
    } else {
        gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, stride / bytesPerPixel);
    }
    if (reallocate)
        gl.glTexImage2D(GL_TEXTURE_2D, 0, GLint(format), width, height, 0, format, GL_UNSIGNED_BYTE, source);
    else
        gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, source);
    if (!es)
        gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

} // namespace

void upload(QOpenGLFunctions& gl, bool es, const GLuint (&textures)[3], const YuvFrame& frame, bool reallocate)
{
    uploadPlane(gl, es, textures[0], frame.width, frame.height, GL_LUMINANCE, 1, frame.planes[0], frame.strides[0],
                reallocate);
    const QSize chroma = chromaSize(frame.width, frame.height);
    if (frame.format == YuvFrame::kNv12) {
        uploadPlane(gl, es, textures[1], chroma.width(), chroma.height(), GL_LUMINANCE_ALPHA, 2, frame.planes[1],
                    frame.strides[1], reallocate);
    } else {
        uploadPlane(gl, es, textures[1], chroma.width(), chroma.height(), GL_LUMINANCE, 1, frame.planes[1],
                    frame.strides[1], reallocate);
        uploadPlane(gl, es, textures[2], chroma.width(), chroma.height(), GL_LUMINANCE, 1, frame.planes[2],
                    frame.strides[2], reallocate);
    }
    gl.glBindTexture(GL_TEXTURE_2D, 0);
}

void clear(QOpenGLFunctions& gl)
{
    const QColor backdrop = Theme::kBackdrop;
    gl.glClearColor(backdrop.redF(), backdrop.greenF(), backdrop.blueF(), 1.0f);
    gl.glClear(GL_COLOR_BUFFER_BIT);
}

void draw(QOpenGLFunctions& gl, QOpenGLShaderProgram& program, const GLuint (&textures)[3], const Look& look)
{
    if (look.dest.isEmpty())
        return;
    program.bind();
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_2D, textures[0]);
    gl.glActiveTexture(GL_TEXTURE1);
    gl.glBindTexture(GL_TEXTURE_2D, textures[1]);
    gl.glActiveTexture(GL_TEXTURE2);
    gl.glBindTexture(GL_TEXTURE_2D, look.nv12 ? textures[1] : textures[2]);
    gl.glActiveTexture(GL_TEXTURE0);

    const QColor backdrop = Theme::kBackdrop;
    const auto range = rangeConstants(look.fullRange);
    const auto coef = matrixConstants(look.bt709);
    const QRectF& dest = look.dest;
    program.setUniformValue("uY", 0);
    program.setUniformValue("uU", 1);
    program.setUniformValue("uV", 2);
    program.setUniformValue("uNv12", look.nv12 ? 1.0f : 0.0f);
    program.setUniformValue("uDest", float(dest.left()), float(dest.top()), float(dest.right()), float(dest.bottom()));
    program.setUniformValue("uSize", float(look.target.width()), float(look.target.height()));
    program.setUniformValue("uRadius", look.radius);
    program.setUniformValue("uBackdrop", backdrop.redF(), backdrop.greenF(), backdrop.blueF());
    program.setUniformValue("uRange", range[0], range[1], range[2]);
    program.setUniformValue("uCoef", coef[0], coef[1], coef[2], coef[3]);

    static const GLfloat corners[] = {-1.0f, -1.0f, 1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f};
    const int pos = program.attributeLocation("aPos");
    program.enableAttributeArray(pos);
    program.setAttributeArray(pos, GL_FLOAT, corners, 2);
    gl.glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    program.disableAttributeArray(pos);
    program.release();
    for (int unit : {2, 1, 0}) {
        gl.glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        gl.glBindTexture(GL_TEXTURE_2D, 0);
    }
}

} // namespace YuvDraw

namespace {

// Views with a picture waiting, repainted together when the shared timer fires.
struct RepaintQueue {
    QSet<GpuVideoView*> waiting;
    QPointer<QTimer> timer;
};

RepaintQueue& repaintQueue()
{
    static RepaintQueue queue; // main thread only
    return queue;
}

void scheduleRepaint(GpuVideoView* view)
{
    RepaintQueue& q = repaintQueue();
    q.waiting.insert(view);
    if (!q.timer) {
        // Owned by the application object, so it goes away with it.
        q.timer = new QTimer(QCoreApplication::instance());
        q.timer->setSingleShot(true);
        q.timer->setTimerType(Qt::PreciseTimer);
        q.timer->setInterval(kvr::video::tun::kRepaintInterval);
        QObject::connect(q.timer, &QTimer::timeout, q.timer, [] {
            const QSet<GpuVideoView*> views = std::exchange(repaintQueue().waiting, {});
            for (GpuVideoView* v : views)
                v->update();
        });
    }
    if (!q.timer->isActive())
        q.timer->start();
}

} // namespace

namespace {

// A few pixels drawn with OpenGL in a window that is about to show, so that
// the window composes a view's texture from its first frame on: the window's
// compositor then prepares that drawing in its own context as it first shows
// (Mesa's software renderer compiles it, some 50 ms) rather than at the first
// picture a view draws. Sides that are not powers of two, as a view's are
// (that renderer compiles apart for them). Gone after that frame; of those in
// one window only the first does it.
class CompositionPrimer : public QOpenGLWidget {
public:
    static constexpr int kSide_px = 3;
    static inline const QString kName = QStringLiteral("kvrCompositionPrimer");

    // The one in `w`, among its direct children or all of them.
    static QOpenGLWidget* in(const QWidget* w, Qt::FindChildOptions options)
    {
        return w->findChild<QOpenGLWidget*>(kName, options);
    }

    explicit CompositionPrimer(QWidget* corner) : QOpenGLWidget(corner)
    {
        setObjectName(kName);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(0, 0, kSide_px, kSide_px);
        connect(this, &QOpenGLWidget::frameSwapped, this, &QObject::deleteLater);
    }

protected:
    bool event(QEvent* e) override
    {
        // The context is made as it is first resized or shown with its
        // window: another, unmade, the window passes over as it composes.
        if ((e->type() == QEvent::Resize || e->type() == QEvent::Show)
            && in(window(), Qt::FindChildrenRecursively) != this) {
            deleteLater();
            return true;
        }
        return QOpenGLWidget::event(e);
    }
    void paintGL() override { YuvDraw::clear(*context()->functions()); }
};

} // namespace

void GpuVideoView::primeCompositionAt(QWidget* corner)
{
    if (!CompositionPrimer::in(corner, Qt::FindDirectChildrenOnly))
        (new CompositionPrimer(corner))->show();
}

void GpuVideoView::unprimeCompositionAt(QWidget* corner)
{
    delete CompositionPrimer::in(corner, Qt::FindDirectChildrenOnly);
}

int GpuVideoView::primerSide()
{
    return CompositionPrimer::kSide_px;
}

GpuVideoView::GpuVideoView(QWidget* parent) : QOpenGLWidget(parent)
{
    shareContexts();
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // It draws every pixel, corners included, and the window shows its
    // pixels in place of what lies beneath: the video surface under it need
    // not paint when something over the picture (a status dot) repaints.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

GpuVideoView::~GpuVideoView()
{
    repaintQueue().waiting.remove(this);
    // Textures are freed whenever they exist, whether or not a drawable
    // picture is held: a view cleared before it closes would leak them.
    releaseGl();
}

void GpuVideoView::releaseGl()
{
    if (QOpenGLContext* ctx = context())
        disconnect(ctx, &QOpenGLContext::aboutToBeDestroyed, this, nullptr);
    const bool anyTexture = textures[0] || textures[1] || textures[2];
    if ((!anyTexture && !program) || !isValid()) {
        program.reset();
        return;
    }
    makeCurrent();
    if (anyTexture)
        glDeleteTextures(3, textures);
    program.reset();
    doneCurrent();
    textures[0] = textures[1] = textures[2] = 0;
    hasTextures = false;
}

void GpuVideoView::setFrame(std::shared_ptr<const YuvFrame> frame)
{
    if (failed)
        return;
    pending = std::move(frame);
    scheduleRepaint(this);
}

void GpuVideoView::clearFrame()
{
    pending.reset();
    hasTextures = false;
    update();
}

void GpuVideoView::setCover(bool on)
{
    cover = on;
    update();
}

void GpuVideoView::setCornerRadius(int r)
{
    radius = r;
    update();
}

void GpuVideoView::fail(const QString& reason)
{
    if (failed)
        return;
    failed = true;
    pending.reset();
    // Announced from the event loop: the listener hides this view, which must
    // not happen inside the context set-up that found the failure.
    QMetaObject::invokeMethod(
        this, [this, reason] { Q_EMIT unavailable(reason); }, Qt::QueuedConnection);
}

void GpuVideoView::showEvent(QShowEvent* event)
{
    QOpenGLWidget::showEvent(event);
    scheduleSurfaceCheck();
}

void GpuVideoView::scheduleSurfaceCheck()
{
    QPointer<GpuVideoView> self(this);
    QTimer::singleShot(kvr::video::tun::kSurfaceCheckDelay, this, [self] {
        if (!self || self->failed || self->isValid() || !self->isVisible())
            return; // hidden again: checked anew when next shown
        if (self->size().isEmpty()) {
            // No area yet, so no surface can exist yet: look again later.
            self->scheduleSurfaceCheck();
            return;
        }
        self->fail(QStringLiteral("could not create a drawing surface"));
    });
}

void GpuVideoView::initializeGL()
{
    initializeOpenGLFunctions();
    // A new context (the view moved to another window) starts afresh; the
    // old one's objects were freed when it went away.
    textures[0] = textures[1] = textures[2] = 0;
    hasTextures = false;
    program.reset();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &GpuVideoView::releaseGl, Qt::DirectConnection);

    if (qEnvironmentVariableIsSet("KVR_TEST_GPU_FAIL"))
        fail(QStringLiteral("simulated failure"));
}

void GpuVideoView::uploadPending(QOpenGLFunctions& gl)
{
    if (!pending)
        return;
    const std::shared_ptr<const YuvFrame> frame = std::exchange(pending, nullptr);
    if (!YuvDraw::isDrawable(*frame))
        return;
    if (!textures[0])
        YuvDraw::makeTextures(gl, textures);
    const bool reallocate =
        !hasTextures || frame->width != texWidth || frame->height != texHeight || frame->format != texFormat;
    YuvDraw::upload(gl, context()->isOpenGLES(), textures, *frame, reallocate);
    texFormat = frame->format;
    texWidth = frame->width;
    texHeight = frame->height;
    fullRange = frame->fullRange;
    bt709 = frame->bt709;
    hasTextures = true;
}

YuvDraw::Look GpuVideoView::look(QSizeF target) const
{
    YuvDraw::Look l;
    l.nv12 = texFormat == YuvFrame::kNv12;
    l.fullRange = fullRange;
    l.bt709 = bt709;
    l.dest = YuvDraw::destination(QSizeF(texWidth, texHeight), target, cover);
    l.target = target;
    l.radius = float(radius * devicePixelRatioF());
    return l;
}

void GpuVideoView::paintGL()
{
    if (!failed && paintShared())
        return;
    paintHere();
}

bool GpuVideoView::paintShared()
{
    GpuContexts::Drawer* drawer = GpuContexts::drawer();
    if (!drawer || !QOpenGLContext::areSharing(context(), drawer->context))
        return false;
    // The texture this view's framebuffer draws into, which its window
    // composes; textures belong to every context that shares.
    GLint kind = 0;
    GLint target = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE,
                                          &kind);
    if (kind != GL_TEXTURE)
        return false;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                          &target);
    if (!drawer->context->makeCurrent(drawer->surface)) {
        makeCurrent();
        return false;
    }
    QOpenGLFunctions& gl = *drawer->context->functions();
    if (!drawer->framebuffer)
        gl.glGenFramebuffers(1, &drawer->framebuffer);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, drawer->framebuffer);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, GLuint(target), 0);
    const bool complete = gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        // As the view's own framebuffer is sized and drawn.
        const qreal dpr = devicePixelRatioF();
        gl.glViewport(0, 0, GLsizei(width() * dpr), GLsizei(height() * dpr));
        YuvDraw::clear(gl);
        uploadPending(gl);
        if (hasTextures)
            YuvDraw::draw(gl, *drawer->program, textures, look(QSizeF(width() * dpr, height() * dpr)));
    }
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    // Done before the window composes the view's texture in its own context.
    gl.glFlush();
    makeCurrent();
    return complete;
}

void GpuVideoView::paintHere()
{
    QOpenGLFunctions& gl = *context()->functions();
    YuvDraw::clear(gl);
    if (failed || (!pending && !hasTextures))
        return;
    if (!program) {
        QString log;
        program = YuvDraw::buildProgram(&log);
        if (!program) {
            fail(QStringLiteral("shader: ") + log);
            return;
        }
    }
    uploadPending(gl);
    if (!hasTextures)
        return;
    const qreal dpr = devicePixelRatioF();
    YuvDraw::draw(gl, *program, textures, look(QSizeF(width() * dpr, height() * dpr)));
}

} // namespace kvr::video
