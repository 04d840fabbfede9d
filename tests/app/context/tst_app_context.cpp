#include "app/context/AppContext.h"
#include "app/core/Settings.h"
#include "tests/support/TestKit.h"

#include <QSettings>
#include <QSignalSpy>

// Run twice by CTest: once as every suite runs (KVR_API_BASE set by the test
// kit) and once with KVR_CTX_VARIANT=savedBase, where KVR_API_BASE is unset
// so that the saved server applies at start.
class TestAppContext : public QObject {
    Q_OBJECT

    bool savedBaseVariant() const { return qgetenv("KVR_CTX_VARIANT") == "savedBase"; }

private Q_SLOTS:
    void initTestCase()
    {
        // Settings a previous run left behind, written before the context exists.
        QSettings pre(QStringLiteral("Kavira"), settingsAppName());
        pre.setValue(QStringLiteral("serverBase"), QStringLiteral("http://127.0.0.1:7001"));
        pre.setValue(QStringLiteral("relayAddress"), QStringLiteral("10.0.0.5:9000"));
        pre.setValue(QStringLiteral("spaSecret"), QStringLiteral("saved-secret"));
        pre.sync();
        if (savedBaseVariant())
            qunsetenv("KVR_API_BASE");
        qputenv("KVR_SPA_SECRET", "env-secret");
    }

    void constructionAppliesSavedSettings()
    {
        AppContext& ctx = AppContext::instance();
        if (savedBaseVariant())
            QCOMPARE(ctx.api.baseUrl(), QStringLiteral("http://127.0.0.1:7001"));
        else
            QCOMPARE(ctx.api.baseUrl(), QStringLiteral("http://127.0.0.1:9")); // the environment wins
        QCOMPARE(ctx.api.configuredRelayHost(), QStringLiteral("10.0.0.5"));
        QCOMPARE(ctx.api.configuredRelayPort(), 9000);
        QCOMPARE(ctx.api.spaSecret(), QStringLiteral("saved-secret")); // saved beats KVR_SPA_SECRET
        QCOMPARE(ctx.relayAddress(), QStringLiteral("10.0.0.5:9000"));
        QVERIFY(!ctx.viewActive);
    }

    void relayAddressParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("host and port") << "10.0.0.5:9000"
                                       << "10.0.0.5" << 9000;
        QTest::newRow("host only") << "10.0.0.5"
                                   << "10.0.0.5" << 8565;
        QTest::newRow("port not a number") << "10.0.0.5:abc"
                                           << "10.0.0.5:abc" << 8565;
        QTest::newRow("leading colon") << ":9000"
                                       << ":9000" << 8565;
        QTest::newRow("blanks") << "   "
                                << "" << 8565;
        QTest::newRow("last colon wins") << "fe80::1"
                                         << "fe80:" << 1;
        QTest::newRow("trimmed") << "  relay.lan:8600 "
                                 << "relay.lan" << 8600;
        QTest::newRow("zero port") << "relay.lan:0"
                                   << "relay.lan" << 8565;
        QTest::newRow("negative port") << "relay.lan:-4"
                                       << "relay.lan" << 8565;
        QTest::newRow("too large for 32 bits") << "relay.lan:99999999999"
                                               << "relay.lan:99999999999" << 8565;
    }

    void relayAddressParsing()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        AppContext& ctx = AppContext::instance();
        ctx.applyRelaySetting(text);
        QCOMPARE(ctx.api.configuredRelayHost(), host);
        QCOMPARE(ctx.api.configuredRelayPort(), port);
    }

    void setServerStoresOrRemoves()
    {
        AppContext& ctx = AppContext::instance();
        QSignalSpy changed(&ctx, &AppContext::serverChanged);

        ctx.setServer(QStringLiteral("http://127.0.0.1:7002"), QStringLiteral(" 10.1.2.3:8600 "));
        QCOMPARE(ctx.settings.value(QStringLiteral("serverBase")).toString(), QStringLiteral("http://127.0.0.1:7002"));
        QCOMPARE(ctx.settings.value(QStringLiteral("relayAddress")).toString(), QStringLiteral("10.1.2.3:8600"));
        QCOMPARE(ctx.api.baseUrl(), QStringLiteral("http://127.0.0.1:7002")); // applied even with KVR_API_BASE set
        QCOMPARE(ctx.api.configuredRelayHost(), QStringLiteral("10.1.2.3"));
        QCOMPARE(changed.count(), 1);

        ctx.setServer(QStringLiteral("http://127.0.0.1:7002"), QStringLiteral("10.1.2.3:8600"));
        QCOMPARE(changed.count(), 1); // same base: no signal

        ctx.setServer(ApiClient::defaultBaseUrl(), QStringLiteral("   "));
        QVERIFY(!ctx.settings.contains(QStringLiteral("serverBase")));
        QVERIFY(!ctx.settings.contains(QStringLiteral("relayAddress")));
        QCOMPARE(ctx.relayAddress(), QString());
        QCOMPARE(ctx.api.configuredRelayHost(), QString());
        QCOMPARE(changed.count(), 2);
        // The second store sees the same keys.
        QVERIFY(!NativeMode::prefs().contains(QStringLiteral("serverBase")));
        ctx.setServer(QStringLiteral("http://127.0.0.1:9"), QString());
    }

    void renderDecision_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<bool>("gpu");
        QTest::newRow("cpu never") << "cpu" << true << "Mesa Intel" << false;
        QTest::newRow("auto follows a good probe") << "auto" << true << "Mesa Intel" << true;
        QTest::newRow("auto follows a bad probe") << "auto" << false << "llvmpipe" << false;
        QTest::newRow("gpu overrides a software renderer") << "gpu" << false << "llvmpipe" << true;
        QTest::newRow("gpu needs a renderer") << "gpu" << false << "" << false;
        QTest::newRow("unknown text follows the probe") << "GPU" << false << "llvmpipe" << false;
        QTest::newRow("cpu is case-sensitive") << "CPU" << true << "x" << true;
    }

    void renderDecision()
    {
        QFETCH(QString, mode);
        QFETCH(bool, usable);
        QFETCH(QString, renderer);
        QFETCH(bool, gpu);
        QCOMPARE(AppContext::gpuRenderFor(mode, usable, renderer), gpu);
    }

    void renderModeSettingIsReadEachTime()
    {
        AppContext& ctx = AppContext::instance();
        QCOMPARE(ctx.renderMode(), QStringLiteral("auto"));
        ctx.settings.setValue(QStringLiteral("renderMode"), QStringLiteral("cpu"));
        QVERIFY(!ctx.gpuRender());
        ctx.settings.remove(QStringLiteral("renderMode"));
    }

    // KVR_HWDECODE decides when set, read as a C integer; otherwise the
    // setting, on by default.
    void hardwareDecodeFollowsTheEnvironmentThenTheSetting()
    {
        AppContext& ctx = AppContext::instance();
        const struct {
            const char* env;
            bool on;
        } rows[] = {{"1", true}, {"0", false}, {"0x10", true}, {"0x0", false}, {"010", true},
                    {"00", false}, {"yes", false}, {" 2 ", true}};
        Prefs::set(Prefs::kHardwareDecode, false);
        for (const auto& r : rows) {
            qputenv("KVR_HWDECODE", r.env);
            QVERIFY2(ctx.hardwareDecode() == r.on, r.env);
        }
        qunsetenv("KVR_HWDECODE");
        QCOMPARE(ctx.hardwareDecode(), false);
        Prefs::remove(Prefs::kHardwareDecode.name);
        QCOMPARE(ctx.hardwareDecode(), true);
    }

    void lookupsFindTheFirstMatchAtEachLevel()
    {
        AppContext& ctx = AppContext::instance();
        Site a{QStringLiteral("s1"), QStringLiteral("North"), false, {}};
        Device d{};
        d.id = QStringLiteral("d1");
        d.channels.append(
            Channel{QStringLiteral("c1"), QStringLiteral("d1"), QStringLiteral("Gate"), 1, true, true, false});
        a.devices.append(d);
        Site b{QStringLiteral("s2"), QStringLiteral("South"), false, {}};
        Device d2 = d;
        d2.channels[0].name = QStringLiteral("Duplicate id");
        b.devices.append(d2);
        ctx.sites = {a, b};
        QCOMPARE(ctx.findSite(QStringLiteral("s2"))->name, QStringLiteral("South"));
        QCOMPARE(ctx.findChannel(QStringLiteral("c1"))->name, QStringLiteral("Gate"));
        QVERIFY(ctx.findDevice(QStringLiteral("d1")) == &ctx.sites[0].devices[0]);
        QVERIFY(!ctx.findChannel(QStringLiteral("C1")));
        QVERIFY(!ctx.findSite(QString()));
        ctx.findChannel(QStringLiteral("c1"))->online = false; // pointers are modifiable
        QVERIFY(!ctx.sites[0].devices[0].channels[0].online);
        ctx.sites.clear();
    }
};

KVR_TEST_MAIN(TestAppContext)
#include "tst_app_context.moc"
