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
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <utility>

using namespace kvr::core;

namespace kvr::video {

// Making an OpenGL context loads the driver, and a driver stays once loaded:
// Mesa's software renderer brings LLVM and a pool of drawing threads, some
// 55 MiB that a program whose pictures the processor draws has no use for.
// So outside macOS the question is put to a process of its own: the program
// starts itself again, the copy answers before its main() runs and ends, and
// only what it answered stays. The program hears the answer on its event
// loop, never waiting for it: the copy takes a good part of a second to
// start, longer on a busy computer. On macOS the driver is part of the
// system the program has loaded anyway, and the graphics chip draws, so the
// probe runs in the program itself.

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
    // Qt finds this out with a context of its own on the asking thread:
    // asked here, so the program need not.
    f.threaded = QOpenGLContext::supportsThreadedOpenGL();
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
        + line("shaders", QString::number(f.shaders)) + line("threaded", QString::number(f.threaded));
}

// The copy's answer; none when it is not a whole one (the copy crashed
// mid-way, say).
std::optional<GlFacts> fromText(const QByteArray& text)
{
    constexpr int kFacts = 9; // the lines toText writes
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
        else if (key == "threaded")
            f.threaded = value == QLatin1String("1");
        else
            --keys;
    }
    if (keys != kFacts)
        return std::nullopt;
    return f;
}

// In the copy the probe starts: answers and ends the process before
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

#endif

// The process's one probe and its answer. The copy of the program is
// started and heard on the GUI thread's event loop, so that thread never
// waits for it: views draw with the processor until the answer comes, and a
// copy that hangs is ended after a bound.
class Prober : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The child a test put in the copy's place; empty: a copy of the program.
    static inline QString s_program;
    static inline QStringList s_arguments;
    static inline std::chrono::milliseconds s_bound{0};

    static Prober* instance(bool make);
    void begin();

Q_SIGNALS:
    void answered();

private:
    void conclude(const std::optional<GlFacts>& answer, const QString& failure);
#if !defined(Q_OS_MACOS)
    void childEnded();
    void giveUp(const QString& failure);

    QProcess* m_child = nullptr;
    QTimer m_bound;
#endif
};

std::mutex s_answerMutex;
std::optional<GpuProbe> s_answer; // guarded by s_answerMutex
QPointer<Prober> s_prober;        // GUI thread

Prober* Prober::instance(bool make)
{
    if (!s_prober && make)
        s_prober = new Prober(QCoreApplication::instance()); // goes, with a child still running, with the application
    return s_prober;
}

void Prober::conclude(const std::optional<GlFacts>& answer, const QString& failure)
{
    const GpuProbe p = GpuProbe::decide(answer, envOr("KVR_RENDER"), envOr("KVR_TEST_GL_RENDERER"));
    const QString outcome = p.usable ? QStringLiteral("drawing on the graphics chip")
                                     : QStringLiteral("drawing on the processor (%1)").arg(p.reason);
    if (!answer)
        qCWarning(
            lcVideo, "%s",
            qUtf8Printable(QStringLiteral("[render] graphics probe gave no answer (%1): %2").arg(failure, outcome)));
    else
        qCWarning(
            lcVideo, "%s",
            qUtf8Printable(QStringLiteral("[render] graphics: %1 %2 -> %3")
                               .arg(p.renderer.isEmpty() ? QStringLiteral("none") : p.renderer, p.version, outcome)));
    {
        std::lock_guard<std::mutex> lock(s_answerMutex);
        s_answer = p;
    }
    Q_EMIT answered();
}

#if defined(Q_OS_MACOS)

void Prober::begin()
{
    // The system's driver is loaded anyway; the question is put in-process,
    // from the event loop rather than inside the caller.
    QMetaObject::invokeMethod(
        this, [this] { conclude(readFacts(), QString()); }, Qt::QueuedConnection);
}

#else

void Prober::begin()
{
    m_child = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    // The same display system as this process, and no more of the desktop
    // than a context needs.
    if (env.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QGuiApplication::platformName());
    env.remove(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    m_child->setProcessEnvironment(env);
    m_child->setProcessChannelMode(QProcess::ForwardedErrorChannel); // the driver's own complaints
    const QString program = s_program.isEmpty() ? QCoreApplication::applicationFilePath() : s_program;
    connect(m_child, &QProcess::finished, this, &Prober::childEnded);
    connect(m_child, &QProcess::errorOccurred, this, [this, program](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            giveUp(QStringLiteral("could not start %1").arg(program));
    });
    connect(m_child, &QProcess::readyReadStandardOutput, this, [this] {
        // An answer is a few lines; more is not one, and is not kept.
        if (m_child->bytesAvailable() > kvr::video::tun::kGraphicsProbeAnswerBytes)
            giveUp(QStringLiteral("answered with more than %1 bytes")
                       .arg(qint64(kvr::video::tun::kGraphicsProbeAnswerBytes)));
    });
    const std::chrono::milliseconds bound = s_bound.count() > 0 ? s_bound : kvr::video::tun::kGraphicsProbeWait;
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, [this, bound] {
        giveUp(bound.count() % 1000 == 0 ? QStringLiteral("no answer within %1 s").arg(bound.count() / 1000)
                                         : QStringLiteral("no answer within %1 ms").arg(bound.count()));
    });
    m_bound.start(bound);
    m_child->start(program, s_arguments);
}

void Prober::childEnded()
{
    if (!m_child)
        return;
    m_bound.stop();
    const std::optional<GlFacts> facts = fromText(m_child->readAllStandardOutput());
    QString failure;
    if (m_child->exitStatus() != QProcess::NormalExit)
        failure = QStringLiteral("crashed");
    else if (m_child->exitCode() != 0)
        failure = QStringLiteral("ended with status %1").arg(m_child->exitCode());
    else if (!facts)
        failure = QStringLiteral("gave an incomplete answer");
    std::exchange(m_child, nullptr)->deleteLater();
    conclude(failure.isEmpty() ? facts : std::nullopt, failure);
}

void Prober::giveUp(const QString& failure)
{
    if (!m_child)
        return;
    m_bound.stop();
    QProcess* child = std::exchange(m_child, nullptr);
    disconnect(child, nullptr, this, nullptr);
    if (child->state() == QProcess::NotRunning) {
        child->deleteLater();
    } else {
        // Ended without waiting for it: gone once it has ended.
        connect(child, &QProcess::finished, child, &QObject::deleteLater);
        child->kill();
    }
    conclude(std::nullopt, failure);
}

#endif

} // namespace

bool GpuProbe::start()
{
    if (known() || s_prober)
        return true; // known, or under way
    if (envOr("KVR_RENDER").compare(QLatin1String("cpu"), Qt::CaseInsensitive) == 0) {
        // Nothing OpenGL could say matters: known at once, nothing logged.
        std::lock_guard<std::mutex> lock(s_answerMutex);
        s_answer = decide(std::nullopt, QStringLiteral("cpu"));
        return true;
    }
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    Prober::instance(true)->begin();
    return true;
}

std::optional<GpuProbe> GpuProbe::known()
{
    std::lock_guard<std::mutex> lock(s_answerMutex);
    return s_answer;
}

void GpuProbe::whenKnown(QObject* context, std::function<void()> then)
{
    Prober* prober = Prober::instance(false);
    if (known() || !prober)
        then();
    else
        QObject::connect(prober, &Prober::answered, context, std::move(then), Qt::SingleShotConnection);
}

void GpuProbe::restartForTest(const QString& program, const QStringList& arguments, std::chrono::milliseconds bound)
{
    delete s_prober.data(); // a child still running is ended with it
    Prober::s_program = program;
    Prober::s_arguments = arguments;
    Prober::s_bound = bound;
    std::lock_guard<std::mutex> lock(s_answerMutex);
    s_answer.reset();
}

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
    p.threadedContexts = f.threaded;
    return p;
}

} // namespace kvr::video

#include "GpuProbe.moc"
