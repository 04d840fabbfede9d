#include "video/GpuProbe.h"

#include "app/core/Env.h"
#include "video/Logging.h"
#include "video/Tunables.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QProcess>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace kvr::core;

namespace kvr::video {

// Making an OpenGL context loads the driver, and a driver stays once loaded:
// Mesa's software renderer brings LLVM and a pool of drawing threads, some
// 55 MiB that a program whose pictures the processor draws has no use for.
// So outside macOS the question is put to a process of its own: the program
// starts itself again, the copy answers before its main() runs and ends, and
// only what it answered stays. On macOS the driver is part of the system the
// program has loaded anyway, and the graphics chip draws, so the probe runs in
// the program itself.

namespace {

// Needs a QGuiApplication; leaves no context current.
GlFacts readFacts()
{
    GlFacts f;
    QOpenGLContext context;
    if (!context.create())
        return f;
    f.contextMade = true;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return f;
    f.current = true;
    QOpenGLFunctions* gl = context.functions();
    auto glText = [gl](GLenum name) {
        const auto* s = reinterpret_cast<const char*>(gl->glGetString(name));
        return s ? QString::fromLatin1(s) : QString();
    };
    f.renderer = glText(GL_RENDERER);
    f.version = glText(GL_VERSION);
    f.vendor = glText(GL_VENDOR);
    f.es = context.isOpenGLES();
    f.major = context.format().majorVersion();
    f.shaders = QOpenGLShaderProgram::hasOpenGLShaderPrograms(&context);
    context.doneCurrent();
    return f;
}

#if !defined(Q_OS_MACOS)

// Set in the environment of the copy started to answer the probe.
constexpr const char* kChildVariable = "KVR_GL_PROBE_CHILD";

// The facts as the copy prints them: one "key=value" line each (OpenGL's
// strings hold no line breaks; any would be cut there).
QByteArray toText(const GlFacts& f)
{
    const auto line = [](const char* key, const QString& value) {
        return QByteArray(key) + '=' + value.section(QLatin1Char('\n'), 0, 0).toUtf8() + '\n';
    };
    return line("context", QString::number(f.contextMade)) + line("current", QString::number(f.current))
        + line("renderer", f.renderer) + line("version", f.version) + line("vendor", f.vendor)
        + line("es", QString::number(f.es)) + line("major", QString::number(f.major))
        + line("shaders", QString::number(f.shaders));
}

// The copy's answer; none when it is not a whole one (the copy crashed
// mid-way, say).
std::optional<GlFacts> fromText(const QByteArray& text)
{
    constexpr int kFacts = 8; // the lines toText writes
    GlFacts f;
    int keys = 0;
    for (const QByteArray& raw : text.split('\n')) {
        const qsizetype eq = raw.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = raw.left(eq);
        const QString value = QString::fromUtf8(raw.mid(eq + 1));
        ++keys;
        if (key == "context")
            f.contextMade = value == QLatin1String("1");
        else if (key == "current")
            f.current = value == QLatin1String("1");
        else if (key == "renderer")
            f.renderer = value;
        else if (key == "version")
            f.version = value;
        else if (key == "vendor")
            f.vendor = value;
        else if (key == "es")
            f.es = value == QLatin1String("1");
        else if (key == "major")
            f.major = value.toInt();
        else if (key == "shaders")
            f.shaders = value == QLatin1String("1");
        else
            --keys;
    }
    if (keys != kFacts)
        return std::nullopt;
    return f;
}

// In the copy started by probeInChild: answers and ends the process before
// the program's own start-up (its main()) runs. Every other start of the
// program passes straight through.
[[maybe_unused]] const bool answeredForParent = [] {
    if (!qEnvironmentVariableIsSet(kChildVariable))
        return false;
    static int argc = 1;
    static char name[] = "kvr-graphics-probe";
    static char* argv[] = {name, nullptr};
    const QByteArray text = [] {
        QGuiApplication app(argc, argv);
        return toText(readFacts());
    }();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    // No exit handlers: nothing of the program has started to be ended.
    std::_Exit(0);
}();

// Starts this program again to read the facts; none when the copy gave no
// answer (it crashed, or hung past the wait), with why in `failure`.
std::optional<GlFacts> probeInChild(QString* failure)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    // The same display system as this process, and no more of the desktop
    // than a context needs.
    if (env.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QGuiApplication::platformName());
    env.remove(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel); // the driver's own complaints
    child.start(QCoreApplication::applicationFilePath(), {});
    const int waitMs = int(kvr::video::tun::kGraphicsProbeWait.count());
    if (!child.waitForFinished(waitMs)) {
        *failure = child.state() == QProcess::NotRunning
            ? QStringLiteral("could not start %1").arg(QCoreApplication::applicationFilePath())
            : QStringLiteral("no answer within %1 s").arg(waitMs / 1000);
        child.kill();
        child.waitForFinished(1000);
        return std::nullopt;
    }
    const std::optional<GlFacts> facts = fromText(child.readAllStandardOutput());
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || !facts) {
        *failure = child.exitStatus() == QProcess::NormalExit
            ? QStringLiteral("ended with status %1").arg(child.exitCode())
            : QStringLiteral("crashed");
        return std::nullopt;
    }
    return facts;
}

#endif

GpuProbe runProbe()
{
    const QString mode = envOr("KVR_RENDER");
    if (mode.compare(QLatin1String("cpu"), Qt::CaseInsensitive) == 0)
        return GpuProbe::decide(std::nullopt, mode);
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        GpuProbe p;
        p.reason = QStringLiteral("no application yet");
        return p;
    }
#if defined(Q_OS_MACOS)
    const std::optional<GlFacts> answer = readFacts();
#else
    QString failure;
    const std::optional<GlFacts> answer = probeInChild(&failure);
    if (!answer)
        qCWarning(lcVideo, "%s",
                  qUtf8Printable(QStringLiteral("[render] graphics probe gave no answer (%1)").arg(failure)));
#endif
    const GpuProbe p = GpuProbe::decide(answer, mode, envOr("KVR_TEST_GL_RENDERER"));
    if (!answer || !answer->current)
        return p;
    qCWarning(lcVideo, "%s",
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

GpuProbe GpuProbe::decide(const std::optional<GlFacts>& answer, const QString& mode, const QString& rendererStandIn)
{
    GpuProbe p;
    // Turned off: nothing OpenGL could say matters.
    if (mode.compare(QLatin1String("cpu"), Qt::CaseInsensitive) == 0) {
        p.reason = declined(mode, QString(), QString());
        return p;
    }
    if (!answer || !answer->current) {
        p.reason = answer && !answer->contextMade ? QStringLiteral("no OpenGL on this computer")
                                                  : QStringLiteral("could not start OpenGL");
        return p;
    }
    const GlFacts& f = *answer;
    p.renderer = rendererStandIn.isEmpty() ? f.renderer : rendererStandIn;
    p.version = f.version;
    if (!f.es && f.major < 2)
        p.reason = QStringLiteral("OpenGL %1 is too old").arg(p.version);
    else if (!f.shaders)
        p.reason = QStringLiteral("shaders are not available");
    else
        p.reason = declined(mode, p.renderer, f.vendor);
    p.usable = p.reason.isEmpty();
    return p;
}

const GpuProbe& GpuProbe::result()
{
    // Written once by the first caller (the main thread), read-only
    // afterwards on any thread.
    static const GpuProbe probe = runProbe();
    return probe;
}

} // namespace kvr::video
