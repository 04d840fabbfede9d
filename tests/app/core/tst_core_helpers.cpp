#include "app/core/Env.h"
#include "app/core/LocalZone.h"
#include "app/core/NetAddress.h"
#include "app/core/Process.h"
#include "app/core/Settings.h"
#include "app/core/ShownText.h"
#include "app/core/TextDirection.h"
#include "tests/support/TestKit.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSettings>

#include <csignal>

#include <sys/resource.h>

using namespace kvr::core;

class TestCoreHelpers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A stored text reaches a screen at most a line's worth long, start and
    // end kept, a character outside the basic plane never split in two.
    void longTextsAreCutBeforeTheyShow()
    {
        const QString name = QStringLiteral("Car park level B1 ramp, row 1");
        QCOMPARE(shownText(name), name);
        QCOMPARE(shownText(name, name.size()), name);
        // Within bounds, the same text: no copy is made.
        QCOMPARE(shownText(name).constData(), name.constData());
        QCOMPARE(shownText(name, 11), QStringLiteral("Car p\u2026row 1"));
        QCOMPARE(shownText(name, 12), QStringLiteral("Car p\u2026 row 1"));

        const QString huge =
            QStringLiteral("Gate ") + QString(10 * 1024 * 1024, QLatin1Char('x')) + QStringLiteral(" 7");
        const QString cut = shownText(huge);
        QCOMPARE(cut.size(), tun::kShownLineChars);
        QVERIFY(cut.startsWith(QStringLiteral("Gate xx")));
        QVERIFY(cut.endsWith(QStringLiteral("xx 7")));
        QCOMPARE(cut.count(QChar(0x2026)), 1);
        QCOMPARE(shownText(huge, tun::kShownNoteChars).size(), tun::kShownNoteChars);

        // A surrogate pair at either edge of the cut is left out whole.
        const QString face = QString::fromUtf8("\xF0\x9F\x98\x80"); // one character, two code units
        const QString faces = face.repeated(20);
        for (qsizetype most = 3; most < 20; ++most) {
            const QString c = shownText(faces, most);
            QVERIFY(c.size() <= most);
            QVERIFY2(c.size() >= most - 2, qPrintable(QString::number(most)));
            for (qsizetype i = 0; i < c.size(); ++i) {
                if (c.at(i).isHighSurrogate())
                    QVERIFY(i + 1 < c.size() && c.at(i + 1).isLowSurrogate());
                if (c.at(i).isLowSurrogate())
                    QVERIFY(i > 0 && c.at(i - 1).isHighSurrogate());
            }
            QVERIFY(c.toUcs4().size() >= 1);
        }
    }

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

    void aSecondRequestEndsAnEndThatHangs_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<bool>("ends");
        QTest::newRow("SIGTERM twice (shut-down, then its patience ends)") << int(SIGTERM) << int(SIGTERM) << true;
        QTest::newRow("SIGINT twice (Ctrl+C pressed again)") << int(SIGINT) << int(SIGINT) << true;
        QTest::newRow("SIGHUP twice") << int(SIGHUP) << int(SIGHUP) << true;
        // A log-out sends SIGHUP right after SIGTERM: the save goes on.
        QTest::newRow("SIGTERM, then SIGHUP (a log-out)") << int(SIGTERM) << int(SIGHUP) << false;
    }

    // Asked by the system to end, the program leaves its event loop and
    // saves; should that save hang, the same request again ends the process
    // at once, by that signal, where its handler would only be told again.
    void aSecondRequestEndsAnEndThatHangs()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(bool, ends);
        QProcess child;
        QByteArray said;
        connect(&child, &QProcess::readyReadStandardOutput, this, [&] { said += child.readAllStandardOutput(); });
        child.start(QStringLiteral(KVR_ENDING_CHILD), {});
        QVERIFY(child.waitForStarted(10000));
        auto end = qScopeGuard([&] {
            child.kill();
            child.waitForFinished(10000);
        });
        QTRY_VERIFY_WITH_TIMEOUT(said.contains("listening\n"), 30000);
        QCOMPARE(::kill(pid_t(child.processId()), first), 0);
        // Out of its event loop as when its window closes: saving now.
        QTRY_VERIFY_WITH_TIMEOUT(said.contains("saving 0\n"), 30000);
        QCOMPARE(::kill(pid_t(child.processId()), second), 0);
        if (!ends)
            child.write("saved\n"); // the save ends by itself, after the second request came
        QVERIFY2(child.waitForFinished(30000), "the process runs on");
        if (ends) {
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);
            QCOMPARE(child.exitCode(), second); // ended by the signal itself
        } else {
            QCOMPARE(child.exitStatus(), QProcess::NormalExit);
            QCOMPARE(child.exitCode(), 0);
        }
    }

    // A name beside the program's words is isolated when it holds letters
    // of a right-to-left script, whichever script (Hebrew, Arabic, Syriac,
    // Thaana, N'Ko), Arabic digits, or a direction control; names in
    // left-to-right scripts, with digits or signs of no direction, stay as
    // they are.
    void namesAreIsolatedByWhatTheyHold()
    {
        const QString fsi(QChar(0x2068)), pdi(QChar(0x2069));
        const QStringList isolated{
            QStringLiteral("\u05E9\u05E2\u05E8 1"),                 // Hebrew
            QStringLiteral("\u0628\u0648\u0627\u0628\u0629 1"),     // Arabic
            QStringLiteral("Gate \u062F\u0631\u0628"),              // Arabic after Latin
            QStringLiteral("\u062F\u0631\u0650\u0628\u0646\u062F"), // Persian, with a vowel sign
            QStringLiteral("\u0715\u072A\u0710"),                   // Syriac
            QStringLiteral("\u078B\u07AE\u0785\u07A8"),             // Thaana
            QStringLiteral("\u07CA\u07CB"),                         // N'Ko
            QStringLiteral("Cam \u0661\u0662"),                     // Arabic-Indic digits
            QStringLiteral("Odd \u202Enames"),                      // RIGHT-TO-LEFT OVERRIDE left open
            // LRO, RLE, LRE, PDF, RLI, LRI, FSI and PDI, each alone
            QStringLiteral("\u202Dlr"),
            QStringLiteral("\u202Brl"),
            QStringLiteral("\u202Alr"),
            QStringLiteral("x\u202C"),
            QStringLiteral("\u2067a"),
            QStringLiteral("\u2066a"),
            QStringLiteral("\u2068a"),
            QStringLiteral("a\u2069"),
        };
        for (const QString& name : isolated) {
            QVERIFY2(TextDirection::needsIsolation(name), qPrintable(name));
            QCOMPARE(TextDirection::isolate(name), fsi + name + pdi);
        }
        const QStringList plain{QString(),
                                QStringLiteral("Gate 1"),
                                QStringLiteral("Café Süd"),
                                QStringLiteral("\u0412\u043E\u0440\u043E\u0442\u0430"), // Cyrillic
                                QStringLiteral("\u6B63\u9580 2"),                       // CJK
                                QStringLiteral("\u0926\u094D\u0935\u093E\u0930"),       // Devanagari
                                QStringLiteral("10.0.0.5:554 · #3 (\u00B1)"),
                                QStringLiteral("\U0001F6AA")};
        for (const QString& name : plain) {
            QVERIFY2(!TextDirection::needsIsolation(name), qPrintable(name));
            QCOMPARE(TextDirection::isolate(name), name);
        }
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
