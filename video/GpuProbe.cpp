#include "video/GpuProbe.h"

#include "app/core/Env.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QStringList>

namespace {

GpuProbe runProbe()
{
    GpuProbe p;
    const QString mode = envOr("KVR_RENDER");
    if (mode.compare(QLatin1String("cpu"), Qt::CaseInsensitive) == 0) {
        p.reason = GpuProbe::declined(mode, QString(), QString());
        return p;
    }
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        p.reason = QStringLiteral("no application yet");
        return p;
    }
    QOpenGLContext context;
    if (!context.create()) {
        p.reason = QStringLiteral("no OpenGL on this computer");
        return p;
    }
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) {
        p.reason = QStringLiteral("could not start OpenGL");
        return p;
    }
    QOpenGLFunctions* gl = context.functions();
    auto glText = [gl](GLenum name) {
        const auto* s = reinterpret_cast<const char*>(gl->glGetString(name));
        return s ? QString::fromLatin1(s) : QString();
    };
    p.renderer = envOr("KVR_TEST_GL_RENDERER", glText(GL_RENDERER));
    p.version = glText(GL_VERSION);
    const QString vendor = glText(GL_VENDOR);

    if (!context.isOpenGLES() && context.format().majorVersion() < 2)
        p.reason = QStringLiteral("OpenGL %1 is too old").arg(p.version);
    else if (!QOpenGLShaderProgram::hasOpenGLShaderPrograms(&context))
        p.reason = QStringLiteral("shaders are not available");
    else
        p.reason = GpuProbe::declined(mode, p.renderer, vendor);
    p.usable = p.reason.isEmpty();
    context.doneCurrent();

    qWarning("%s",
             qUtf8Printable(QStringLiteral("[render] graphics: %1 %2 -> %3")
                                .arg(p.renderer.isEmpty() ? QStringLiteral("none") : p.renderer, p.version,
                                     p.usable ? QStringLiteral("drawing on the graphics chip")
                                              : QStringLiteral("drawing on the processor (%1)").arg(p.reason))));
    return p;
}

} // namespace

bool GpuProbe::isSoftwareRenderer(const QString& renderer, const QString& vendor)
{
    const QString r = renderer.toLower();
    static const QStringList soft = {QStringLiteral("gdi generic"), QStringLiteral("microsoft basic render"),
                                     QStringLiteral("llvmpipe"),    QStringLiteral("softpipe"),
                                     QStringLiteral("swiftshader"), QStringLiteral("software")};
    for (const QString& s : soft)
        if (r.contains(s))
            return true;
    return vendor.toLower().contains(QLatin1String("microsoft")) && !r.contains(QLatin1String("d3d12"));
}

QString GpuProbe::declined(const QString& mode, const QString& renderer, const QString& vendor)
{
    if (mode.compare(QLatin1String("cpu"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("turned off (KVR_RENDER=cpu)");
    if (mode.compare(QLatin1String("gpu"), Qt::CaseInsensitive) == 0 || !isSoftwareRenderer(renderer, vendor))
        return QString();
    return QStringLiteral("only a software renderer (%1)").arg(renderer);
}

const GpuProbe& GpuProbe::result()
{
    // Written once by the first caller (the main thread: it makes an OpenGL
    // context), read-only afterwards on any thread.
    static const GpuProbe probe = runProbe();
    return probe;
}
