// A native camera tile against real peers: pictures from the RTSP server,
// key-frame requests and refusals from fake devices and the fault proxy, the
// watchdog, the Main to Sub steps, pacing, playback ends and snapshots; and
// the video wall's native camera source over the same tiles.

#include "native/live/NativeWallSource.h"
#include "native/live/TileRules.h"
#include "native/live/VmsTile.h"
#include "native/screens/NativeStyle.h"
#include "tests/native/live/LiveTestKit.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QDir>
#include <QEnterEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

using namespace livetest;

class TestVmsTile : public QObject {
    Q_OBJECT
private:
    peers::Peer rtsp;
    kvrtest::FakeDevice hik{kvrtest::FakeDevice::Kind::Isapi};
    kvrtest::FakeDevice dahua{kvrtest::FakeDevice::Kind::Dahua};
    QString hikId;
    QString dahuaId;

    std::unique_ptr<VmsTile> tile(const QString& id, int channel)
    {
        auto t = std::make_unique<VmsTile>(id, channel);
        t->resize(480, 270);
        t->show();
        return t;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The recorder has no bandwidth left for channel 4's Main stream, and
        // none for either stream of channel 5.
        QVERIFY(startRecorderRtsp(rtsp,
                                  {QStringLiteral("--answer"), QStringLiteral("453=channel=4&subtype=0"),
                                   QStringLiteral("--answer"), QStringLiteral("453=channel=5&")}));
        QVERIFY(hik.start());
        QVERIFY(dahua.start());
        hikId =
            addDevice(deviceFor(QStringLiteral("Hall NVR"), QStringLiteral("HIKVISION"), hik.httpPort(), rtsp.port, 4));
        dahuaId =
            addDevice(deviceFor(QStringLiteral("Yard DVR"), QStringLiteral("DAHUA"), dahua.httpPort(), rtsp.port, 4));
        nameCameras(dahuaId, {QStringLiteral("Front door #1"), QStringLiteral("Front door #1")});
        QVERIFY(!hikId.isEmpty() && !dahuaId.isEmpty());
    }
    void init() { TileRules::RefusedTable::instance().reset(); }

    void playsLiveWithTheTilePlayerSettings()
    {
        auto t = tile(dahuaId, 3);
        FfmpegPlayer* p = t->player();
        QVERIFY(p->boundedClose.load() && p->lightDecode.load() && p->autoReconnect.load() && !p->audioEnabled.load());
        QCOMPARE(p->property("kvrLabel").toString(), QStringLiteral("Camera 3 / Yard DVR"));
        t->startPaced(false);
        QTRY_VERIFY_WITH_TIMEOUT(t->isPlaying(), 20000);
        QCOMPARE(t->discState(), int(NativeStyle::Disc::Up));
        QVERIFY(!t->watchdog()->isActive() && p->catchUpLive.load() && !t->isMain());
        // Dahua-style recorders have no key-frame request.
        QCOMPARE(dahua.requestCount(QStringLiteral("/ISAPI")), 0);
        // Stopping a wall only asks: the decode thread winds down in the
        // background and nobody waits for it.
        QTRY_COMPARE_WITH_TIMEOUT(FfmpegPlayer::backgroundThreads(), 0, 20000);
        VmsTile::stopAll({t.get()});
        QVERIFY(!t->isRunning());
        QCOMPARE(FfmpegPlayer::backgroundThreads(), 1);
    }

    void asksRecordersForAKeyFrameWithAnEmptyPut()
    {
        hik.clearLog();
        auto t = tile(hikId, 1);
        t->start(true);
        QTRY_VERIFY_WITH_TIMEOUT(hik.servedCount(QStringLiteral("/ISAPI/Streaming/channels/101/requestKeyFrame")) == 1,
                                 20000);
        for (const kvrtest::FakeRequest& r : hik.requests())
            if (r.path().endsWith(QLatin1String("requestKeyFrame")))
                QVERIFY(r.method == "PUT" && r.body.isEmpty());
    }

    void removedDeviceFailsInPlainWords()
    {
        auto t = tile(QStringLiteral("gone"), 4);
        t->start(false);
        QVERIFY(t->isFailed() && !t->isRunning() && t->retryButton()->isVisible());
        QCOMPARE(t->stage()->headlineText(), QStringLiteral("Can\u2019t play this stream"));
        QCOMPARE(t->stage()->detailText(), QStringLiteral("This device was removed."));
    }

    // A device that refused is left alone for 30 s by every tile, unless the
    // user presses "Try again".
    void refusedDeviceIsLeftAlone()
    {
        kvrtest::TestClock clock;
        peers::Peer refusing;
        QVERIFY(peers::startProxy(refusing, rtsp.port, QStringLiteral("refuse")));
        const QString id = addDevice(
            deviceFor(QStringLiteral("Refusing"), QStringLiteral("DAHUA"), dahua.httpPort(), refusing.port, 2));
        auto first = tile(id, 1);
        first->start(false);
        QTRY_VERIFY_WITH_TIMEOUT(first->isFailed(), 20000);
        const QString refused = QStringLiteral("The RTSP port is closed on the device.");
        QCOMPARE(first->stage()->detailText(), refused);

        clock.advanceSecs(10);
        auto second = tile(id, 2);
        second->start(false);
        QVERIFY(second->isFailed() && !second->player()->isRunning()); // at once, without asking the device

        clock.advanceSecs(20); // 30 s after the refusal
        second->start(false);
        QVERIFY(!second->isFailed() && second->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(second->isFailed(), 20000);

        // "Try again" clears the block at once.
        clock.advanceSecs(1);
        first->retryButton()->click();
        QVERIFY(first->isRunning() && !first->isFailed());
        first->stop();
        NativeStore::instance().removeDevice(id);
    }

    void watchdogTurnsSilenceIntoAFailure()
    {
        peers::Peer hole;
        QVERIFY(peers::startProxy(hole, rtsp.port, QStringLiteral("stall"), 0, 60000));
        const QString id =
            addDevice(deviceFor(QStringLiteral("Silent"), QStringLiteral("DAHUA"), dahua.httpPort(), hole.port, 1));
        auto t = tile(id, 1);
        t->start(false);
        QCOMPARE(t->watchdog()->interval(), 10000);
        t->watchdog()->start(50); // not ten real seconds
        QTRY_VERIFY_WITH_TIMEOUT(t->isFailed(), 5000);
        QCOMPARE(t->stage()->detailText(), QStringLiteral("No picture after 10 seconds."));

        t->setPlayback(QDateTime(QDate(2026, 3, 1), QTime(10, 0)), QDateTime(QDate(2026, 3, 1), QTime(11, 0)));
        t->start(false);
        QCOMPARE(t->watchdog()->interval(), 15000);
        t->watchdog()->start(50);
        QTRY_VERIFY_WITH_TIMEOUT(t->isFailed(), 5000);
        QCOMPARE(t->stage()->detailText(), QStringLiteral("No recording at this time, or the device did not answer."));
        NativeStore::instance().removeDevice(id);
    }

    void startsArePacedPerDevice()
    {
        kvrtest::TestClock clock; // frozen: the slots stay where they were handed out
        QList<std::shared_ptr<VmsTile>> tiles;
        for (int c = 1; c <= 3; ++c)
            tiles << std::shared_ptr<VmsTile>(tile(dahuaId, c).release());
        const auto waits = [&](bool playback) {
            QList<int> out;
            for (const auto& t : tiles) {
                if (playback)
                    t->setPlayback(QDateTime(QDate(2026, 3, 1), QTime(10, 0)),
                                   QDateTime(QDate(2026, 3, 1), QTime(11, 0)));
                t->startPaced(false);
                out << t->pacingWaitMs();
            }
            return out;
        };
        QCOMPARE(waits(false), (QList<int>{0, 80, 160}));
        QVERIFY(tiles.last()->isPacing() && !tiles.last()->isRunning());
        auto other = tile(hikId, 2);
        other->startPaced(false);
        QCOMPARE(other->pacingWaitMs(), 0); // devices do not delay each other
        clock.advanceSecs(5);
        QCOMPARE(waits(true), (QList<int>{0, 300, 600}));
        // A stop cancels a start still waiting for its slot.
        tiles.last()->stop();
        QVERIFY(!tiles.last()->isPacing());
        VmsTile::stopAll({tiles[0].get(), tiles[1].get(), other.get()});
    }

    // The recorder answers 453 Not Enough Bandwidth.
    void recorderWithoutBandwidthForMainShowsSub()
    {
        kvrtest::LogCapture log;
        auto t = tile(dahuaId, 4);
        t->start(true);
        QTRY_VERIFY_WITH_TIMEOUT(!t->isMain(), 20000);
        QVERIFY(t->isRunning() && !t->isFailed() && t->subButton()->isChecked());
        QVERIFY(log.contains(QStringLiteral("[vms] Camera 4 / Yard DVR : no bandwidth for Main, trying Sub")));
        QTRY_VERIFY_WITH_TIMEOUT(t->isPlaying(), 20000);
        // The same on Sub is a failure in plain words, and no block.
        auto full = tile(dahuaId, 5);
        full->start(false);
        QTRY_VERIFY_WITH_TIMEOUT(full->isFailed(), 20000);
        QVERIFY(full->stage()->detailText().startsWith(QStringLiteral("The camera or recorder refused")));
        QVERIFY(!TileRules::RefusedTable::instance().blocked(dahuaId, kvr::Clock::instance().monotonicMs()));
        VmsTile::stopAll({t.get(), full.get()});
    }

    void mainStepsDownToSubOnOverload()
    {
        auto t = tile(dahuaId, 2);
        // Overload on Main live: Sub (the rules suite has the toasts).
        t->start(true);
        Q_EMIT t->player()->overloaded();
        QVERIFY(!t->isMain() && t->isRunning());
        // Clicking the stream already chosen does nothing; the other restarts.
        t->subButton()->click();
        QVERIFY(!t->isMain());
        t->mainButton()->click();
        QVERIFY(t->isMain() && t->isRunning());
        t->stop();
    }

    void playbackEndsOrFindsNothing()
    {
        const QDateTime from(QDate(2026, 3, 1), QTime(10, 0));
        auto t = tile(dahuaId, 1);
        t->setPlayback(from, from.addSecs(3600));
        t->start(false);
        QTRY_VERIFY_WITH_TIMEOUT(t->isPlaying(), 20000);
        Q_EMIT t->player()->status(QStringLiteral("Stream ended"), QStringLiteral("End of file"));
        QCOMPARE(t->stage()->headlineText(), QStringLiteral("End of recording"));
        QVERIFY(!t->isFailed() && !t->isRunning() && !t->retryButton()->isVisible());

        // The ISAPI playback address is not served: the server answers 404.
        auto missing = tile(hikId, 1);
        missing->setPlayback(from, from.addSecs(3600));
        missing->start(false);
        QTRY_VERIFY_WITH_TIMEOUT(missing->isFailed(), 20000);
        QCOMPARE(missing->stage()->headlineText(), QStringLiteral("No recording"));
    }

    // Two cameras of one name saved in the same second keep two files.
    void snapshotsAreSavedSideBySide()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2026, 3, 2), QTime(9, 5, 7), Qt::UTC));
        auto a = tile(dahuaId, 1);
        auto b = tile(dahuaId, 2);
        a->snapshotButton()->click();
        QCOMPARE(a->toastLabel()->text(), QStringLiteral("No picture to save yet"));
        a->start(false);
        b->start(false);
        QTRY_VERIFY_WITH_TIMEOUT(a->isPlaying() && b->isPlaying(), 20000);
        a->snapshotButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(a->toastLabel()->text(), QStringLiteral("Saved to Pictures/Kavira"), 10000);
        b->snapshotButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(b->toastLabel()->text(), QStringLiteral("Saved to Pictures/Kavira"), 10000);
        const QDir folder(TileRules::snapshotFolder());
        const QStringList files = folder.entryList({QStringLiteral("Front_door_1_*.png")}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 2);
        QVERIFY(QImage(folder.filePath(files.first())).width() >= 320);
        VmsTile::stopAll({a.get(), b.get()});
    }

    void overlaysFollowTheWidth()
    {
        auto t = tile(dahuaId, 1);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(t.get(), &enter);
        QVERIFY(t->snapshotButton()->isVisible() && t->deviceLabel()->isVisible());
        t->resize(249, 200);
        QVERIFY(!t->snapshotButton()->isVisible() && !t->deviceLabel()->isVisible());
        QCOMPARE(t->focusButton()->accessibleName(), QStringLiteral("Fill the wall with this camera"));
        QSignalSpy expand(t.get(), &VmsTile::expandRequested);
        QSignalSpy remove(t.get(), &VmsTile::removeRequested);
        t->focusButton()->click();
        t->removeButton()->click();
        QCOMPARE(expand.size(), 1);
        QCOMPARE(remove.first().first().toString(), t->key());
    }

    void wallSourceBuildsPlainTiles()
    {
        Native::Device off = deviceFor(QStringLiteral("Off"), QStringLiteral("DAHUA"), 1, 1, 2);
        off.enabled = false;
        const QString offId = addDevice(off);
        std::optional<Native::Device> d = NativeStore::instance().device(hikId);
        d->ignored = {3};
        NativeStore::instance().updateDevice(*d);
        NativeWallSource source;
        QStringList ids;
        for (const VideoWall::Camera& c : source.cameras())
            ids << c.id;
        QVERIFY(ids.contains(hikId + QStringLiteral("#4")) && !ids.contains(hikId + QStringLiteral("#3")));
        QVERIFY(!ids.contains(offId + QStringLiteral("#1")));

        int expanded = 0;
        std::unique_ptr<QWidget> w(source.makeTile(dahuaId + QStringLiteral("#2"), nullptr, [&] { ++expanded; }));
        auto* t = qobject_cast<VmsTile*>(w.get());
        QVERIFY(t && !t->isRemovable());
        Q_EMIT t->expandRequested(t);
        QCOMPARE(expanded, 1);
        source.tune(t, 5, 7);
        QCOMPARE(t->player()->maxFps.load(), 15.0);
        bool started = false;
        source.start(t, false, [&] { started = true; });
        QVERIFY(started && (t->isRunning() || t->isPacing()));
        source.requestStop(t);
        QVERIFY(!t->isRunning() && !t->isPacing());
        // A key with a bad channel names no device, never channel 1 of one.
        std::unique_ptr<QWidget> bad(source.makeTile(dahuaId + QStringLiteral("#x"), nullptr, {}));
        QVERIFY(qobject_cast<VmsTile*>(bad.get())->deviceId().isEmpty());
        NativeStore::instance().removeDevice(offId);
    }
};

KVR_TEST_MAIN(TestVmsTile)
#include "tst_vms_tile.moc"
