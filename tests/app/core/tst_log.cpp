#include "app/core/Log.h"
#include "app/core/Logging.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <thread>
#include <vector>

// A second layer's category, as the video engine declares it, so that a rule
// naming one layer can be seen to leave the other alone.
Q_LOGGING_CATEGORY(lcOtherLayer, "kvr.video")

using namespace kvr::core;

class TestLog : public QObject {
    Q_OBJECT

    QString logPath() const { return Log::directory() + QStringLiteral("/kvr.log"); }

    QStringList fileLines(const QString& path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)
                                           : QStringList();
    }

    // Nobody but the user may read the log: it holds names and e-mail addresses.
    static bool ownerOnly(const QString& path)
    {
        constexpr QFileDevice::Permissions others =
            QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
        return QFileInfo::exists(path) && (QFileInfo(path).permissions() & others) == 0;
    }

    void freshLog()
    {
        Log::uninstall();
        QDir(Log::directory()).removeRecursively();
    }

private Q_SLOTS:
    void cleanup() { Log::uninstall(); }

    void directoryIsTheStateFolderWhichMayBeUnwritable()
    {
#if defined(Q_OS_MACOS)
        QCOMPARE(Log::directory(), QDir::homePath() + QStringLiteral("/Library/Logs/Kavira"));
#elif !defined(Q_OS_WIN)
        QCOMPARE(Log::directory(), qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/Kavira"));
        qunsetenv("XDG_STATE_HOME");
        QCOMPARE(Log::directory(), QDir::homePath() + QStringLiteral("/.local/state/Kavira"));
        qputenv("XDG_STATE_HOME", QFile::encodeName(kvrtest::homeDir() + QStringLiteral("/.local/state")));
#endif
        // A file where the folder should be: the log cannot be created, and
        // messages go to standard error.
        freshLog();
        QDir().mkpath(QFileInfo(Log::directory()).path());
        QFile blocker(Log::directory());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Log::install();
        qWarning("still fine");
        QFile::remove(Log::directory());
    }

    void bannerIsTheFirstStampedLineAndRotationIsPastEightMiBOnly()
    {
        freshLog();
        Log::install();
        qWarning("[api] first\nsecond");
        qDebug("[play] debug too");
        Log::uninstall();
        Log::install();
        // Each message one stamped line; an embedded break is written as is.
        const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )"));
        QStringList texts;
        for (const QString& line : fileLines(logPath()))
            texts << (stamp.match(line).hasMatch() ? line.mid(24) : "| " + line);
        QCOMPARE(texts, (QStringList{Log::kBanner, "[api] first", "| second", "[play] debug too", Log::kBanner}));
        QVERIFY(ownerOnly(logPath()));

        freshLog();
        QDir().mkpath(Log::directory());
        {
            QFile f(logPath()); // left readable by all, as an earlier version did
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(Log::kRotateBytes, 'x')); // exactly 8 MiB: kept
            f.setPermissions(f.permissions() | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        }
        {
            QFile old(logPath() + QStringLiteral(".1"));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("older generation\n");
        }
        Log::install();
        QVERIFY(QFileInfo(logPath()).size() > Log::kRotateBytes); // banner appended, no rotation
        QCOMPARE(QFileInfo(logPath() + QStringLiteral(".1")).size(), qint64(17));

        qWarning("trigger");
        // The line that found the file too large starts the new file, and the
        // previous generation is replaced, never kept as a third.
        const QStringList lines = fileLines(logPath());
        QVERIFY(lines.size() == 1 && lines[0].endsWith(QStringLiteral(" trigger")));
        QVERIFY(QFileInfo(logPath() + QStringLiteral(".1")).size() > Log::kRotateBytes);
        QVERIFY(!QFile::exists(logPath() + QStringLiteral(".2")));
        QVERIFY(ownerOnly(logPath()) && ownerOnly(logPath() + QStringLiteral(".1")));
    }

    // Every layer logs through its own category; the default rules let info
    // through, and a rule that turns one layer down leaves the others alone.
    void layerCategoriesReachTheFileUntilARuleTurnsOneDown()
    {
        freshLog();
        Log::install();
        qCInfo(lcCore, "[core] info line");
        qCWarning(lcOtherLayer, "[play] before the rule");
        QLoggingCategory::setFilterRules(QStringLiteral("kvr.video.warning=false"));
        qCWarning(lcOtherLayer, "[play] turned down");
        qCWarning(lcCore, "[core] still written");
        QLoggingCategory::setFilterRules(QString());
        qCWarning(lcOtherLayer, "[play] back again");
        QStringList texts;
        for (const QString& line : fileLines(logPath()))
            texts << line.mid(24);
        QCOMPARE(texts,
                 (QStringList{Log::kBanner, "[core] info line", "[play] before the rule", "[core] still written",
                              "[play] back again"}));
    }

    void threadsNeverInterleaveInsideALine()
    {
        freshLog();
        Log::install();
        constexpr int kThreads = 4, kLines = 400;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < kLines; ++i)
                    qWarning("[t%d] %s", t, qPrintable(QString(200, QLatin1Char(char('a' + t)))));
            });
        for (std::thread& th : threads)
            th.join();
        const QStringList lines = fileLines(logPath());
        QCOMPARE(lines.size(), 1 + kThreads * kLines);
        const QRegularExpression whole(QStringLiteral(R"(^\S+ \S+ \[t(\d)\] ([a-d])\2{199}$)"));
        for (int i = 1; i < lines.size(); ++i) {
            const auto m = whole.match(lines[i]);
            QVERIFY2(m.hasMatch() && m.captured(2).at(0).toLatin1() - 'a' == m.captured(1).toInt(),
                     qPrintable(lines[i].left(80)));
        }
    }
};

KVR_TEST_MAIN(TestLog)

#include "tst_log.moc"
