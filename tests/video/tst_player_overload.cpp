// Overload detection with KVR_TEST_SLOW_DECODE_MS against the RTSP server and
// a local recording: a decoder that cannot keep up is reported, but once per
// 15 s and not before two windows agree; one that keeps up never is; a
// recording is watched only with KVR_TEST_OVERLOAD.

#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/FfmpegPlayer.h"

#include <QSignalSpy>
#include <QTemporaryDir>

class PlayerOverload : public QObject {
    Q_OBJECT
    static void setEnv(const char* name, const QByteArray& value)
    {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
        FfmpegPlayer::reloadEnvironment();
    }

    QTemporaryDir dir;
    QString recording;
    peers::Peer camera;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(peers::startRtsp(camera, {QStringLiteral("--no-audio")}));
        recording = dir.filePath(QStringLiteral("recording.ts"));
        QProcess ff;
        ff.start(QStringLiteral("ffmpeg"), peers::testPictureArgs(12) + QStringList{recording});
        QVERIFY(ff.waitForFinished(60000));
        QCOMPARE(ff.exitCode(), 0);
    }

    void cleanup()
    {
        setEnv("KVR_TEST_SLOW_DECODE_MS", {});
        setEnv("KVR_TEST_OVERLOAD", {});
        setEnv("KVR_PLAY_DEBUG", {});
    }

    void slowDecodingIsReportedOnceInAWhile()
    {
        // 60 ms per picture of a 25-a-second stream: it falls further behind.
        setEnv("KVR_TEST_SLOW_DECODE_MS", "60");
        setEnv("KVR_PLAY_DEBUG", "1");
        kvrtest::LogCapture log;
        FfmpegPlayer player;
        player.label = QStringLiteral("tile-3");
        QSignalSpy frames(&player, &FfmpegPlayer::frameReady);
        QSignalSpy overloaded(&player, &FfmpegPlayer::overloaded);
        player.play(peers::rtspUrl(camera.port));
        QVERIFY(frames.wait(20000));
        QElapsedTimer t;
        t.start();
        QVERIFY(overloaded.wait(15000));
        const qint64 first = t.elapsed();
        qInfo() << "first notice" << first << "ms after the first picture";
        // Two windows of 2 s must agree first.
        QVERIFY2(first >= 3000, qPrintable(QString::number(first)));
        QVERIFY(log.contains(QStringLiteral("[play] tile-3 can't keep up with the stream")));
        // Still overloaded, but the next notice is at least 15 s away.
        QTest::qWait(6000);
        QCOMPARE(overloaded.size(), 1);
        QVERIFY(log.contains(QStringLiteral("[dbg]tile-3 decoded=")));
    }

    void decodingThatKeepsUpIsNotReported()
    {
        setEnv("KVR_TEST_SLOW_DECODE_MS", "5");
        FfmpegPlayer player;
        QSignalSpy frames(&player, &FfmpegPlayer::frameReady);
        QSignalSpy overloaded(&player, &FfmpegPlayer::overloaded);
        player.play(peers::rtspUrl(camera.port));
        QVERIFY(frames.wait(20000));
        QTest::qWait(7000);
        QCOMPARE(overloaded.size(), 0);
        QVERIFY(frames.size() > 100);
    }

    void recordingsAreWatchedOnlyWhenAsked()
    {
        setEnv("KVR_TEST_SLOW_DECODE_MS", "60");
        {
            FfmpegPlayer player;
            QSignalSpy frames(&player, &FfmpegPlayer::frameReady);
            QSignalSpy overloaded(&player, &FfmpegPlayer::overloaded);
            player.play(recording);
            QVERIFY(frames.wait(20000));
            QTest::qWait(6000);
            QCOMPARE(overloaded.size(), 0);
        }
        setEnv("KVR_TEST_OVERLOAD", "1");
        FfmpegPlayer player;
        QSignalSpy overloaded(&player, &FfmpegPlayer::overloaded);
        player.play(recording);
        QVERIFY(overloaded.wait(15000));
    }
};

KVR_TEST_MAIN(PlayerOverload)
#include "tst_player_overload.moc"
