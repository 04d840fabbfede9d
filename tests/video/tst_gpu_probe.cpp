#include "tests/support/TestKit.h"
#include "video/GpuProbe.h"

// The probe runs once per process, so each variable setting has a test
// process of its own (see CMakeLists.txt); a case whose setting is absent
// skips itself.
class TestGpuProbe : public QObject {
    Q_OBJECT

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

    // KVR_RENDER=cpu turns drawing off, =gpu accepts a software renderer;
    // otherwise only a renderer of a graphics chip draws.
    void settingAndRendererDecide()
    {
        const QString llvmpipe = QStringLiteral("Example llvmpipe device");
        const QList<QStringList> rows{
            {QString(), QStringLiteral("Example Vision 9000"), QString()},
            {QString(), llvmpipe, QStringLiteral("only a software renderer (Example llvmpipe device)")},
            {QStringLiteral("GPU"), llvmpipe, QString()},
            {QStringLiteral("Cpu"), QStringLiteral("Apple M2"), QStringLiteral("turned off (KVR_RENDER=cpu)")}};
        for (const QStringList& r : rows)
            QCOMPARE(GpuProbe::declined(r[0], r[1], QStringLiteral("Example")), r[2]);
    }

    // This computer's own answer (under Xvfb: Mesa's llvmpipe, a software
    // renderer, so drawing stays on the processor).
    void probesOnceAndLogs()
    {
        if (qEnvironmentVariableIsSet("KVR_RENDER"))
            QSKIP("runs without KVR_RENDER");
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
};

KVR_TEST_MAIN(TestGpuProbe)
#include "tst_gpu_probe.moc"
