#include "app/core/Env.h"
#include "app/core/NetAddress.h"
#include "app/core/Settings.h"
#include "tests/support/TestKit.h"

#include <QSettings>

class TestCoreHelpers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void privateHostsAreAddressLiteralsOnlyAndEmptyEnvIsUnset()
    {
        for (const char* host : {"10.0.0.5", "172.16.0.1", "172.31.255.254", "192.168.1.64"})
            QVERIFY2(isPrivateHost(QString::fromLatin1(host)), host);
        for (const char* host :
             {"172.15.0.1", "172.32.0.1", "192.169.1.64", "10.evil.example", "192.168.1.1.example.com", "10.1",
              "172.x.0.1", "localhost", "10.0.0.256", "127.0.0.1", "fe80::1", "", "10.+1.0.0"})
            QVERIFY2(!isPrivateHost(QString::fromLatin1(host)), host);
        // An empty environment variable counts as unset.
        qputenv("KVR_TEST_ENV_OR", "");
        QCOMPARE(envOr("KVR_TEST_ENV_OR", QStringLiteral("d")), QStringLiteral("d"));
        qputenv("KVR_TEST_ENV_OR", "caf\xc3\xa9");
        QCOMPARE(envOr("KVR_TEST_ENV_OR", QStringLiteral("d")), QStringLiteral("café"));
        qunsetenv("KVR_TEST_ENV_OR");
        QVERIFY(!envSet("KVR_TEST_ENV_OR"));
    }

    void settingsNameComesFromTheEnvironmentOnce()
    {
        if (qgetenv("KVR_TESTKIT_KEEP_SETTINGS_APP") == "1") {
            // Run by CTest a second time with KVR_SETTINGS_APP set but empty.
            QCOMPARE(settingsAppName(), QStringLiteral("Tavlo"));
            return;
        }
        const QString first = settingsAppName();
        QVERIFY(first.startsWith(QStringLiteral("kvrtest-")));
        qputenv("KVR_SETTINGS_APP", "changed-later");
        QCOMPARE(settingsAppName(), first);
        QCOMPARE(NativeMode::prefs().organizationName() + ' ' + NativeMode::prefs().applicationName(),
                 "Kavira " + first);
    }
    // Absent keys and stored values that do not read as the key's type give
    // the key's default; the files keep flags as text.
    void typedSettingsFallBackToTheirDefaults()
    {
        QSettings& store = NativeMode::prefs();
        store.setValue(QStringLiteral("native/poll"), QStringLiteral("false"));
        store.setValue(QStringLiteral("native/pollMinutes"), QStringLiteral("often"));
        store.setValue(QStringLiteral("liveMain"), QStringLiteral("maybe"));
        QCOMPARE(Prefs::get(Prefs::kNativePoll), false);
        QCOMPARE(Prefs::get(Prefs::kNativePollMinutes), 5);
        QCOMPARE(Prefs::get(Prefs::kLiveMain), true);
        Prefs::set(Prefs::kNativeVmsWall, {QStringLiteral("d1:1"), QStringLiteral("d1:2")});
        store.sync();
        QCOMPARE(Prefs::get(Prefs::kNativeVmsWall), (QStringList{"d1:1", "d1:2"}));
        Prefs::setText(Prefs::videoWallKey(QStringLiteral("native")), QStringLiteral("{}"));
        QCOMPARE(store.value(QStringLiteral("videowall/native")).toString(), QStringLiteral("{}"));
    }
};

KVR_TEST_MAIN(TestCoreHelpers)
#include "tst_core_helpers.moc"
