#include "tests/support/TestKit.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>

#include <algorithm>

// The kit's promises that every other suite relies on.
class TestTestKit : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Child mode: try to reach a host that is not loopback. The name is
        // in a domain that never resolves, so even a broken guard sends nothing.
        const QByteArray mode = qgetenv("KVR_TESTKIT_CHILD");
        if (mode == "socket") {
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("guard-check.invalid"), 80);
            socket.waitForConnected(2000);
            ::exit(0);
        }
        if (mode == "http") {
            QNetworkAccessManager nam;
            QNetworkReply* reply = nam.get(QNetworkRequest(QUrl(QStringLiteral("https://guard-check.invalid/v2/"))));
            QSignalSpy done(reply, &QNetworkReply::finished);
            done.wait(2000);
            ::exit(0);
        }
    }

    void foldersAreTemporaryAndPrivate()
    {
        const QString home = kvrtest::homeDir();
        QVERIFY(!home.isEmpty());
        QCOMPARE(QDir::homePath(), home);
        QVERIFY(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation).startsWith(home));
        QVERIFY(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).startsWith(home));
        QVERIFY(qEnvironmentVariable("KVR_SETTINGS_APP").startsWith(QStringLiteral("kvrtest-TestTestKit-")));
        QVERIFY(kvrtest::isLoopbackHost(QUrl(qEnvironmentVariable("KVR_API_BASE")).host()));
        QVERIFY(kvrtest::isLoopbackHost(qEnvironmentVariable("KVR_RTSP_HOST")));
    }

    void loopbackNames()
    {
        for (const char* host : {"127.0.0.1", "127.8.9.10", "::1", "[::1]", "LocalHost"})
            QVERIFY2(kvrtest::isLoopbackHost(QString::fromLatin1(host)), host);
        for (const char* host : {"10.0.0.1", "localhost.evil.example", "93.184.216.34", ""})
            QVERIFY2(!kvrtest::isLoopbackHost(QString::fromLatin1(host)), host);
    }

    void connectingElsewhereAbortsTheTest()
    {
        for (const char* mode : {"socket", "http"}) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("KVR_TESTKIT_CHILD"), QString::fromLatin1(mode));
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(child.waitForFinished(20000));
            QVERIFY2(child.exitStatus() == QProcess::CrashExit
                         && child.readAllStandardError().contains("non-loopback host: guard-check.invalid"),
                     mode);
        }
    }

    void logCaptureSeesEveryThreadAndNests()
    {
        kvrtest::LogCapture outer;
        {
            kvrtest::LogCapture inner;
            qWarning("[wall] one");
            QCOMPARE(inner.matching(QStringLiteral("[wall]")).size(), 1);
        }
        qWarning("[wall] two");
        QCOMPARE(outer.matching(QStringLiteral("[wall]")).size(), 2);
    }
};

KVR_TEST_MAIN(TestTestKit)

#include "tst_testkit.moc"
