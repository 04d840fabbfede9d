#include "tests/support/TestKit.h"
#include "video/GpuProbe.h"

// The probe runs once per process, so each variable setting has a test
// process of its own (see CMakeLists.txt); a case whose setting is absent
// skips itself.
class TestGpuProbe : public QObject {
    Q_OBJECT

    static bool envIs(const char* name, const char* value)
    {
        return qEnvironmentVariableIsSet(name) && qgetenv(name) == value;
    }

private Q_SLOTS:
    void softwareRenderersAreRecognised()
    {
        struct Row {
            const char* renderer;
            const char* vendor;
            bool software;
        };
        for (const Row& r :
             {Row{"LLVMpipe (LLVM 15.0.6, 256 bits)", "Mesa", true}, Row{"Google SwiftShader", "Google Inc.", true},
              Row{"GDI Generic", "Microsoft Corporation", true},
              Row{"Microsoft Basic Render Driver", "Microsoft", true}, Row{"Some Software Rasterizer", "X", true},
              Row{"Direct3D11 adapter", "Microsoft Corporation", true},
              Row{"D3D12 (NVIDIA GeForce)", "Microsoft Corporation", false}, Row{"Apple M2", "Apple", false}})
            QVERIFY2(GpuProbe::isSoftwareRenderer(QString::fromUtf8(r.renderer), QString::fromUtf8(r.vendor))
                         == r.software,
                     r.renderer);
    }

    // This computer's own answer (under Xvfb: Mesa's llvmpipe, a software
    // renderer, so drawing stays on the processor).
    void probesOnceAndLogs()
    {
        if (qEnvironmentVariableIsSet("KVR_RENDER") || qEnvironmentVariableIsSet("KVR_TEST_GL_RENDERER"))
            QSKIP("runs without KVR_RENDER and KVR_TEST_GL_RENDERER");
        kvrtest::LogCapture log;
        const GpuProbe& probe = GpuProbe::result();
        if (probe.reason == QLatin1String("no OpenGL on this computer")
            || probe.reason == QLatin1String("could not start OpenGL"))
            QSKIP("no OpenGL on this display");
        QVERIFY(!probe.renderer.isEmpty() && !probe.version.isEmpty());
        const bool software = GpuProbe::isSoftwareRenderer(probe.renderer, QString());
        QCOMPARE(probe.usable, !software);
        const QStringList lines = log.matching(QStringLiteral("[render] graphics:"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(probe.renderer), qPrintable(lines.first()));

        // Process-wide and fixed: later calls and later settings change nothing.
        qputenv("KVR_RENDER", "cpu");
        const GpuProbe& again = GpuProbe::result();
        QCOMPARE(&again, &probe);
        QCOMPARE(again.usable, !software);
        qunsetenv("KVR_RENDER");
        QCOMPARE(log.matching(QStringLiteral("[render] graphics:")).size(), 1);
    }

    void cpuTurnsDrawingOff()
    {
        if (qgetenv("KVR_RENDER").toLower() != "cpu")
            QSKIP("runs with KVR_RENDER=cpu in any letter case");
        kvrtest::LogCapture log;
        const GpuProbe& probe = GpuProbe::result();
        QVERIFY(!probe.usable);
        QCOMPARE(probe.reason, QStringLiteral("turned off (KVR_RENDER=cpu)"));
        QVERIFY(probe.renderer.isEmpty() && probe.version.isEmpty());
        QVERIFY(!log.contains(QStringLiteral("[render]")));
    }

    void gpuAcceptsASoftwareRenderer()
    {
        if (!envIs("KVR_RENDER", "gpu"))
            QSKIP("runs with KVR_RENDER=gpu");
        kvrtest::LogCapture log;
        const GpuProbe& probe = GpuProbe::result();
        if (probe.renderer.isEmpty())
            QSKIP("no OpenGL on this display");
        QVERIFY(probe.usable);
        QVERIFY(probe.reason.isEmpty());
        QVERIFY(log.contains(QStringLiteral("-> drawing on the graphics chip")));
    }

    void rendererNameCanBeReplaced()
    {
        const QString name = qEnvironmentVariable("KVR_TEST_GL_RENDERER");
        if (name.isEmpty() || qEnvironmentVariableIsSet("KVR_RENDER"))
            QSKIP("runs with KVR_TEST_GL_RENDERER set and KVR_RENDER unset");
        kvrtest::LogCapture log;
        const GpuProbe& probe = GpuProbe::result();
        if (probe.version.isEmpty())
            QSKIP("no OpenGL on this display");
        QCOMPARE(probe.renderer, name);
        const bool software = GpuProbe::isSoftwareRenderer(name, QString());
        QCOMPARE(probe.usable, !software);
        QCOMPARE(probe.reason, software ? QStringLiteral("only a software renderer (%1)").arg(name) : QString());
        QVERIFY(log.contains(QStringLiteral("[render] graphics: ") + name));
    }
};

KVR_TEST_MAIN(TestGpuProbe)
#include "tst_gpu_probe.moc"
