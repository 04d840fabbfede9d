#include "tests/support/ScreenAudit.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QVBoxLayout>

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

    // The screen audit finds each kind of fault it is for, and only those:
    // a text squeezed, shortened without its tip or pushed off its
    // container; a control without a name; one that Tab skips; a text box
    // that keeps the Tab key.
    void screenAuditFindsWhatAPersonWouldMeet()
    {
        QWidget window;
        window.setWindowTitle(QStringLiteral("Audit"));
        auto* column = new QVBoxLayout(&window);
        auto* squeezed = new QLabel(QStringLiteral("A label far too long for its room"));
        squeezed->setFixedWidth(60);
        auto* wrapped = new QLabel(QStringLiteral("A label long enough to wrap onto a second line here"));
        wrapped->setWordWrap(true);
        wrapped->setFixedWidth(120);
        wrapped->setMinimumHeight(wrapped->heightForWidth(120));
        auto* tipped = new QLabel(QStringLiteral("Head…"));
        tipped->setToolTip(QStringLiteral("Head office"));
        auto* untipped = new QLabel(QStringLiteral("Ware…"));
        auto* narrow = new QPushButton(QStringLiteral("Save as preset"));
        narrow->setFixedWidth(40);
        auto* unnamed = new QPushButton;
        unnamed->setIcon(QIcon(QPixmap(16, 16)));
        auto* mouseOnly = new QPushButton(QStringLiteral("Play all"));
        mouseOnly->setFocusPolicy(Qt::NoFocus);
        auto* notes = new QPlainTextEdit;
        notes->setAccessibleName(QStringLiteral("Notes"));
        for (QWidget* w :
             std::initializer_list<QWidget*>{squeezed, wrapped, tipped, untipped, narrow, unnamed, mouseOnly, notes})
            column->addWidget(w);
        auto* strip = new QWidget;
        strip->setFixedSize(50, 20);
        auto* pushedOff = new QLabel(QStringLiteral("Off"), strip);
        pushedOff->move(40, 0);
        column->addWidget(strip);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QStringList texts = screenaudit::cutTexts(&window);
        const auto found = [&texts](const QString& what) {
            return std::any_of(texts.cbegin(), texts.cend(), [&](const QString& t) { return t.contains(what); });
        };
        QVERIFY2(found("far too long") && found("Ware") && found("Save as preset") && found("\"Off\": cut off"),
                 qPrintable(texts.join('\n')));
        QVERIFY2(!found("wrap onto") && !found("Head"), qPrintable(texts.join('\n')));
        QCOMPARE(texts.size(), 4);

        const QStringList names = screenaudit::unnamedControls(&window);
        QCOMPARE(names.size(), 1);
        QVERIFY(names.first().startsWith(QStringLiteral("QPushButton")));
        unnamed->setAccessibleName(QStringLiteral("Snapshot"));
        QVERIFY(screenaudit::unnamedControls(&window).isEmpty());

        const QStringList tabs = screenaudit::unreachableByTab(&window);
        QVERIFY2(tabs.size() == 2 && tabs.join(' ').contains("\"Play all\": Tab never reaches it")
                     && tabs.join(' ').contains("\"Notes\": Tab never leaves it"),
                 qPrintable(tabs.join('\n')));
        notes->setTabChangesFocus(true);
        mouseOnly->setFocusPolicy(Qt::StrongFocus);
        QVERIFY2(screenaudit::unreachableByTab(&window).isEmpty(),
                 qPrintable(screenaudit::unreachableByTab(&window).join('\n')));
    }

    // A button laid inside an item view takes Tab and has a name, but the
    // view's accessible children are its cells: no screen reader finds it.
    void screenAuditFindsControlsOutsideTheAccessibilityTree()
    {
        QWidget window;
        auto* column = new QVBoxLayout(&window);
        auto* list = new QListWidget;
        list->setAccessibleName(QStringLiteral("Cameras"));
        list->addItems({QStringLiteral("Gate"), QStringLiteral("Yard")});
        auto* inside = new QPushButton(QStringLiteral("Play"), list->viewport());
        auto* beside = new QPushButton(QStringLiteral("Stop"));
        column->addWidget(list);
        column->addWidget(beside);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        inside->show();
        const QStringList names = screenaudit::unnamedControls(&window);
        QVERIFY2(names.size() == 1, qPrintable(names.join('\n')));
        QVERIFY2(names.first().contains("\"Play\": not in the accessibility tree"), qPrintable(names.first()));
    }
};

KVR_TEST_MAIN(TestTestKit)
#include "tst_testkit.moc"
