#include "app/core/Env.h"
#include "app/core/LocalZone.h"
#include "app/core/NetAddress.h"
#include "app/core/Process.h"
#include "app/core/Settings.h"
#include "tests/support/TestKit.h"

#include <QScopeGuard>
#include <QSettings>

#include <sys/resource.h>

using namespace kvr::core;

class TestCoreHelpers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Started with the 256 open files a program on macOS gets, the program
    // takes what the hard limit allows.
    void openFileLimitIsRaised()
    {
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        auto restore = qScopeGuard([&] { setrlimit(RLIMIT_NOFILE, &saved); });
        if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max <= 256)
            QSKIP("the hard limit leaves nothing to raise");
        rlimit low = saved;
        low.rlim_cur = 256;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        const qint64 raised = Process::raiseOpenFileLimit();
        rlimit now{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &now), 0);
#if defined(Q_OS_MACOS)
        QVERIFY(now.rlim_cur == saved.rlim_max || now.rlim_cur >= 10240);
#else
        QCOMPARE(now.rlim_cur, saved.rlim_max);
#endif
        QCOMPARE(raised, qint64(now.rlim_cur));
        // Already at the hard limit: nothing changes.
        QCOMPARE(Process::raiseOpenFileLimit(), raised);
    }

    // The remembered offsets give what the C library gives, every minute
    // across clock changes of whole hours, half hours (Lord Howe's) and odd
    // offsets (+05:45), and follow a change of TZ at once. POSIX zone texts:
    // no zone files needed.
    void localReadingsAgreeWithTheZoneAcrossClockChanges()
    {
        const QByteArray saved = qgetenv("TZ");
        const bool wasSet = qEnvironmentVariableIsSet("TZ");
        struct Zone {
            const char* tz;
            QDateTime around; // a clock change, in UTC
        };
        const Zone zones[] = {
            {"CET-1CEST,M3.5.0,M10.5.0/3", QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC)},
            {"CET-1CEST,M3.5.0,M10.5.0/3", QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC)},
            {"EST5EDT,M3.2.0,M11.1.0", QDateTime(QDate(2026, 11, 1), QTime(6, 0), Qt::UTC)},
            {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", QDateTime(QDate(2026, 10, 3), QTime(15, 30), Qt::UTC)},
            {"<+0545>-5:45", QDateTime(QDate(2026, 12, 31), QTime(18, 0), Qt::UTC)},
            {"UTC0", QDateTime(QDate(1969, 12, 31), QTime(23, 0), Qt::UTC)},
        };
        for (const Zone& zone : zones) {
            qputenv("TZ", zone.tz);
            // The day of the change and ordinary days either side of it.
            for (qint64 s = -3 * 3600; s <= 3 * 3600; s += 61)
                for (const int days : {0, -2, 2}) {
                    const QDateTime utc = zone.around.addDays(days).addSecs(s);
                    const QDateTime local = utc.toLocalTime();
                    const QDateTime expected(local.date(), local.time(), Qt::UTC);
                    QCOMPARE(kvr::core::LocalZone::wallClock(utc), expected);
                    QCOMPARE(kvr::core::LocalZone::date(utc), local.date());
                    QCOMPARE(kvr::core::LocalZone::offsetAt(utc.toSecsSinceEpoch()), local.offsetFromUtc());
                    // A moment given in local time, or with an offset, reads the same.
                    QCOMPARE(kvr::core::LocalZone::wallClock(local), expected);
                    QCOMPARE(kvr::core::LocalZone::wallClock(utc.toOffsetFromUtc(3600)), expected);
                    QCOMPARE(kvr::core::LocalZone::utc(local), local.toUTC());
                    QCOMPARE(kvr::core::LocalZone::utc(utc), utc);
                    QCOMPARE(kvr::core::LocalZone::utc(local.date(), local.time()),
                             QDateTime(local.date(), local.time()).toUTC());
                }
        }
        QVERIFY(!kvr::core::LocalZone::wallClock(QDateTime()).isValid());
        QVERIFY(!kvr::core::LocalZone::date(QDateTime()).isValid());
        wasSet ? void(qputenv("TZ", saved)) : void(qunsetenv("TZ"));
    }

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
        // Flags written as numbers, as other tools and older files keep them,
        // read as what they say, not as the default.
        store.setValue(QStringLiteral("nativeMode"), QStringLiteral("1"));
        store.setValue(QStringLiteral("gridMain"), QStringLiteral(" 0"));
        QCOMPARE(Prefs::get(Prefs::kNativeMode), true);
        QCOMPARE(Prefs::get(Prefs::kGridMain), false);
        store.remove(QStringLiteral("nativeMode"));
        Prefs::set(Prefs::kNativeVmsWall, {QStringLiteral("d1:1"), QStringLiteral("d1:2")});
        store.sync();
        QCOMPARE(Prefs::get(Prefs::kNativeVmsWall), (QStringList{"d1:1", "d1:2"}));
        Prefs::setText(Prefs::videoWallKey(QStringLiteral("native")), QStringLiteral("{}"));
        QCOMPARE(store.value(QStringLiteral("videowall/native")).toString(), QStringLiteral("{}"));
    }
};

KVR_TEST_MAIN(TestCoreHelpers)

#include "tst_core_helpers.moc"
