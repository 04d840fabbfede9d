// A native camera tile against real peers: pictures from the RTSP server,
// key-frame requests and refusals from fake devices and the fault proxy, the
// watchdog, the Main to Sub steps, pacing, playback ends and snapshots; and
// the video wall's native camera source over the same tiles.

#include "app/ui/Theme.h"
#include "native/live/LiveTileRules.h"
#include "native/live/NativeWallSource.h"
#include "native/live/VmsTile.h"
#include "native/screens/NativeStyle.h"
#include "tests/native/live/LiveTestKit.h"
#include "tests/support/LongNames.h"
#include "video/FfmpegPlayer.h"
#include "video/Playback.h"
#include "video/VideoStage.h"
#include "wall/TileRetry.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::wall;
using namespace kvr::services;
using namespace kvr::screens;
using namespace kvr::live;

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

    // A wall of `shown` (cameras of `catalogue`) in `columns`, on `host`:
    // one device per recorder of the catalogue with its cameras named in
    // order, each camera shown on the tile of its channel. The devices' ids
    // go to `ids`.
    static QList<VmsTile*> wallOf(const QList<longnames::Camera>& catalogue, const QList<longnames::Camera>& shown,
                                  QWidget* host, int columns, QStringList* ids)
    {
        host->setStyleSheet(NativeStyle::stylesheet());
        auto* grid = new QGridLayout(host);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setSpacing(0);
        QStringList recorders;
        QList<QStringList> names;
        for (const longnames::Camera& c : catalogue) {
            if (!recorders.contains(c.recorder)) {
                recorders << c.recorder;
                names.append(QStringList());
            }
            names.last() << c.name;
        }
        for (qsizetype r = 0; r < recorders.size(); ++r) {
            *ids << addDevice(deviceFor(recorders.at(r), QStringLiteral("DAHUA"), 1, 1, int(names.at(r).size())));
            nameCameras(ids->last(), names.at(r));
        }
        QList<VmsTile*> tiles;
        for (const longnames::Camera& c : shown) {
            const qsizetype r = recorders.indexOf(c.recorder);
            tiles << new VmsTile(ids->at(r), int(names.at(r).indexOf(c.name)) + 1, host);
            grid->addWidget(tiles.last(), int(tiles.size() - 1) / columns, int(tiles.size() - 1) % columns);
        }
        return tiles;
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
    void init() { LiveTileRules::RefusedTable::instance().reset(); }

    // Two cameras of one name play live on Sub; both snapshots of the same
    // second keep their own file; overload on Main steps down to Sub; stopping
    // the wall only asks the decode threads to wind down. The overlays follow
    // the width.
    void playsLiveSavesAndSteps()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2026, 3, 2), QTime(9, 5, 7), Qt::UTC));
        auto a = tile(dahuaId, 1);
        auto b = tile(dahuaId, 2);
        FfmpegPlayer* p = a->player();
        QVERIFY(p->options().boundedClose && p->options().lightDecode && p->options().autoReconnect
                && !p->options().audioEnabled);
        QCOMPARE(p->property("kvrLabel").toString(), QStringLiteral("Front door #1 / Yard DVR"));
        a->snapshotButton()->click();
        QCOMPARE(a->toastLabel()->text(), QStringLiteral("No picture to save yet"));
        a->start(false);
        b->start(false);
        QTRY_VERIFY_WITH_TIMEOUT(a->isPlaying() && b->isPlaying(), 20000);
        QCOMPARE(a->discState(), int(NativeStyle::Disc::Up));
        QVERIFY(!a->watchdog()->isActive() && p->options().catchUpLive && !a->isMain());
        QCOMPARE(dahua.requestCount(QStringLiteral("/ISAPI")), 0); // no key-frame request on this brand
        for (VmsTile* t : {a.get(), b.get()}) {
            t->snapshotButton()->click();
            QTRY_COMPARE_WITH_TIMEOUT(t->toastLabel()->text(), QStringLiteral("Saved to Pictures/Kavira"), 10000);
        }
        const QDir folder(LiveTileRules::snapshotFolder());
        const QStringList files = folder.entryList({QStringLiteral("Front_door_1_*.png")}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 2);
        QVERIFY(QImage(folder.filePath(files.first())).width() >= 320);

        // The stream already chosen, clicked again, changes nothing: the
        // picture plays on, not restarted.
        const int generation = a->player()->currentGeneration();
        a->subButton()->click();
        QVERIFY(a->isPlaying() && !a->isMain() && a->player()->currentGeneration() == generation);
        b->mainButton()->click();
        QVERIFY(b->isMain() && b->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(b->isPlaying(), 20000);
        const int onMain = b->player()->currentGeneration();
        b->mainButton()->click();
        QVERIFY(b->isPlaying() && b->isMain() && b->player()->currentGeneration() == onMain);
        Q_EMIT b->player()->overloaded();
        QVERIFY(!b->isMain() && b->isRunning());
        b->stop();
        QTRY_COMPARE_WITH_TIMEOUT(FfmpegPlayer::backgroundThreads(), 0, 20000);
        // A's thread is reading right now (on a busy machine its stream may
        // have dropped meanwhile and be waiting for its next try, with no
        // thread to hand over).
        QTRY_VERIFY_WITH_TIMEOUT(a->isPlaying() && a->player()->isRunning(), 20000);
        VmsTile::stopAll({a.get()});
        QVERIFY(!a->isRunning());
        QCOMPARE(FfmpegPlayer::backgroundThreads(), 1);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(a.get(), &enter);
        QVERIFY(a->snapshotButton()->isVisible() && a->deviceLabel()->isVisible());
        a->resize(249, 200);
        QVERIFY(!a->snapshotButton()->isVisible() && !a->deviceLabel()->isVisible());
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
        QCOMPARE(first->stage()->detailText(), QStringLiteral("The RTSP port is closed on the device."));

        clock.advanceSecs(10);
        auto second = tile(id, 2);
        second->start(false);
        QVERIFY(second->isFailed() && !second->player()->isRunning()); // at once, without asking the device

        // "Try again" clears the block at once, and the slow retry with it.
        clock.advanceSecs(1);
        QVERIFY(first->retry()->isArmed());
        first->retryButton()->click();
        QVERIFY(first->isRunning() && !first->isFailed() && !first->retry()->isArmed());
        first->stop();
        NativeStore::instance().removeDevice(id);
    }

    // The path to the camera is cut without a word (nothing refused,
    // nothing arrives): within seconds the tile says its picture stopped and
    // how long since its last one, until the player's own restart says its
    // attempt; pictures that come again show at once. A tile still waiting
    // for its first picture says how long it has waited.
    void aFrozenPictureIsSaidWithinSeconds()
    {
        kvrtest::TestClock clock;
        peers::Peer path;
        QVERIFY(peers::startProxy(path, rtsp.port, QStringLiteral("pass")));
        const QString id =
            addDevice(deviceFor(QStringLiteral("Cut"), QStringLiteral("DAHUA"), dahua.httpPort(), path.port, 2));
        const auto said = [](VmsTile& t) { return t.stage()->headlineText() + '|' + t.stage()->detailText(); };
        auto t = tile(id, 1);
        t->start(false);
        QTRY_VERIFY_WITH_TIMEOUT(t->isPlaying() && t->stage()->hasPicture(), 20000);
        QVERIFY(peers::steerProxy(path, QStringLiteral("mute")));
        // What was under way when the path was cut has come.
        QSignalSpy rgb(t->player(), &FfmpegPlayer::frameReady), yuv(t->player(), &FfmpegPlayer::yuvFrameReady);
        do {
            rgb.clear();
            yuv.clear();
            QTest::qWait(1000);
        } while (!rgb.isEmpty() || !yuv.isEmpty());
        QVERIFY(t->stage()->hasPicture() && t->isPlaying());
        clock.advanceSecs(3);
        QTRY_COMPARE_WITH_TIMEOUT(said(*t), QStringLiteral("Picture stopped|No new picture \u00B7 3 s"), 3000);
        QVERIFY(!t->stage()->hasPicture() && !t->isFailed());
        clock.advanceSecs(2);
        QTRY_COMPARE_WITH_TIMEOUT(said(*t), QStringLiteral("Picture stopped|No new picture \u00B7 5 s"), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(said(*t), QStringLiteral("Reconnecting|Attempt 1 of 3"), 30000);
        clock.advanceSecs(5);
        QTest::qWait(1500); // a tick or more: the attempt stays
        QCOMPARE(said(*t), QStringLiteral("Reconnecting|Attempt 1 of 3"));

        auto second = tile(id, 2);
        second->start(false);
        clock.advanceSecs(4);
        QTRY_COMPARE_WITH_TIMEOUT(said(*second), QStringLiteral("Loading|No picture yet \u00B7 4 s"), 3000);
        QVERIFY(peers::steerProxy(path, QStringLiteral("unmute")));
        QTRY_VERIFY_WITH_TIMEOUT(t->stage()->hasPicture() && second->stage()->hasPicture(), 30000);
        VmsTile::stopAll({t.get(), second.get()});
        NativeStore::instance().removeDevice(id);
    }

    void startsArePacedPerDevice()
    {
        kvrtest::TestClock clock; // frozen: the slots stay where they were handed out
        const std::unique_ptr<VmsTile> tiles[] = {tile(dahuaId, 1), tile(dahuaId, 2), tile(dahuaId, 3)};
        const QDateTime from(QDate(2026, 3, 1), QTime(10, 0));
        const auto waits = [&](bool playback) {
            QList<int> out;
            for (const auto& t : tiles) {
                if (playback)
                    t->setPlayback(from, from.addSecs(3600));
                t->startPaced(false);
                out << t->pacingWaitMs();
            }
            return out;
        };
        QCOMPARE(waits(false), (QList<int>{0, 80, 160}));
        QVERIFY(tiles[2]->isPacing() && !tiles[2]->isRunning());
        clock.advanceSecs(5);
        QCOMPARE(waits(true), (QList<int>{0, 300, 600}));
        // A stop cancels a start still waiting for its slot.
        tiles[2]->stop();
        QVERIFY(!tiles[2]->isPacing());
        VmsTile::stopAll({tiles[0].get(), tiles[1].get()});
    }

    // The ways a tile stops short, one camera after another, each with its
    // plain words: 453 on Main falls back to Sub, 453 on Sub fails without a
    // block, silence trips the watchdog (live and playback), a recording ends,
    // a recorder has no recording, a port answers in another protocol than
    // RTSP, a device was removed.
    void waysATileStopsShort()
    {
        kvrtest::LogCapture log;
        peers::Peer hole;
        QVERIFY(peers::startProxy(hole, rtsp.port, QStringLiteral("stall"), 0, 60000));
        const QString silent =
            addDevice(deviceFor(QStringLiteral("Silent"), QStringLiteral("DAHUA"), dahua.httpPort(), hole.port, 1));
        const QDateTime from(QDate(2026, 3, 1), QTime(10, 0));
        QStringList got;
        // A tile started and waited for until it plays or fails.
        const auto step = [&](const QString& id, int channel, bool main, bool playback,
                              bool (VmsTile::*until)() const) {
            auto t = tile(id, channel);
            if (playback)
                t->setPlayback(from, from.addSecs(3600));
            t->start(main);
            if (id == silent)
                t->watchdog()->start(50); // not ten real seconds
            if (!QTest::qWaitFor([&] { return (t.get()->*until)(); }, 20000))
                got << QStringLiteral("timed out");
            return t;
        };
        // (" later": the tile will try again by itself, live only.)
        const auto settled = [&](VmsTile& t) {
            got << QStringLiteral("%1 %2|%3|%4%5")
                       .arg(t.isFailed()         ? "failed"
                                : !t.isRunning() ? "stopped"
                                : t.isPlaying()  ? "playing"
                                                 : "running",
                            t.isMain() ? "main" : "sub", t.stage()->headlineText(), t.stage()->detailText(),
                            t.retry()->isArmed() ? " later" : "");
        };
        auto sub = step(dahuaId, 4, true, false, &VmsTile::isPlaying);
        settled(*sub);
        sub->stop();
        settled(*step(dahuaId, 5, false, false, &VmsTile::isFailed));
        QVERIFY(!LiveTileRules::RefusedTable::instance().blocked(dahuaId, kvr::core::Clock::instance().monotonicMs()));
        for (bool playback : {false, true})
            settled(*step(silent, 1, false, playback, &VmsTile::isFailed));
        auto ending = step(dahuaId, 1, false, true, &VmsTile::isPlaying);
        Q_EMIT ending->player()->status(QStringLiteral("Stream ended"), QStringLiteral("End of file"));
        settled(*ending);
        QVERIFY(!ending->retryButton()->isVisible());
        // The ISAPI playback address is not served: 404.
        settled(*step(hikId, 1, false, true, &VmsTile::isFailed));
        // A port that answers, but not in RTSP (the device's web server).
        QTcpServer web;
        QVERIFY(web.listen(QHostAddress::LocalHost));
        connect(&web, &QTcpServer::newConnection, &web, [&web] {
            QTcpSocket* s = web.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [s] {
                s->readAll();
                s->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                s->disconnectFromHost();
            });
        });
        const QString webId =
            addDevice(deviceFor(QStringLiteral("Web"), QStringLiteral("DAHUA"), dahua.httpPort(), web.serverPort(), 1));
        settled(*step(webId, 1, false, false, &VmsTile::isFailed));
        NativeStore::instance().removeDevice(webId);
        auto gone = step(QStringLiteral("gone"), 4, false, false, &VmsTile::isFailed);
        QVERIFY(gone->retryButton()->isVisible());
        settled(*gone);
        const QString cant = QStringLiteral("Can\u2019t play this stream");
        QCOMPARE(got,
                 (QStringList{
                     QStringLiteral("playing sub||"),
                     "failed sub|" + cant
                         + "|The camera or recorder refused: it has no streams left. Close other "
                           "views of it, or use the Sub stream. later",
                     "failed sub|" + cant + "|No picture after 10 seconds. later",
                     "failed sub|" + cant + "|No recording at this time, or the device did not answer.",
                     QStringLiteral("stopped sub|End of recording|"),
                     QStringLiteral("failed sub|No recording|Nothing is recorded at this time (or this stream "
                                    "isn't recorded)."),
                     "failed sub|" + cant
                         + "|The device's answer could not be played. Check the brand and the RTSP port. later",
                     "failed sub|" + cant + "|This device was removed. later",
                 }));
        // What the player said is logged beside it, and FFmpeg's own words
        // are in the log only.
        QVERIFY(log.contains(QStringLiteral("[vms] Camera 1 / Web (live) Sub: Can\u2019t play this stream - The "
                                            "device's answer could not be played. Check the brand and the RTSP port. "
                                            "(The connection was closed, or the answer was not a video stream.)")));
        QVERIFY(log.contains(QStringLiteral("could not open: Invalid data found when processing input")));
        QVERIFY(log.contains(QStringLiteral("[vms] Camera 4 / Yard DVR : no bandwidth for Main, trying Sub")));
        NativeStore::instance().removeDevice(silent);
    }

    // A recorder this computer has no route to: the tile names the address
    // it plays from. (No loopback address is unreachable: the decode
    // thread's end notice that a real one sends is handed to the player.)
    void unreachableRecorderIsNamed()
    {
        peers::Peer hole;
        QVERIFY(peers::startProxy(hole, rtsp.port, QStringLiteral("stall"), 0, 60000));
        Native::Device far = deviceFor(QStringLiteral("Far"), QStringLiteral("DAHUA"), dahua.httpPort(), hole.port, 1);
        far.ip = QStringLiteral("127.0.0.9");
        const QString id = addDevice(far);
        auto t = tile(id, 1);
        t->start(false);
        QVERIFY(t->isRunning());
        kvr::video::ReconnectSchedule::Ended unreachable;
        unreachable.generation = t->player()->currentGeneration();
        unreachable.failure = QStringLiteral("No route to host");
        unreachable.failureKind = kvr::core::PlayerFailure::Unreachable;
        kvr::video::PlayerAccess::ended(*t->player(), unreachable);
        QTRY_VERIFY(t->isFailed());
        QCOMPARE(t->stage()->detailText(), QStringLiteral("No answer from 127.0.0.9."));
        t->stop();
        NativeStore::instance().removeDevice(id);
    }

    // From the tiles of a full-HD wall of 36 down to those of a wall of 36
    // in the smallest window, hovered or not: the message gives way to the
    // name and the controls (its detail first, then its headline to a short
    // one, then all of it, whole in the tile's tool tip), never the other way
    // round; "Try again" never covers the stream switch, which a failed tile
    // too small for both leaves out; and a long recorder name gives way to
    // the camera's, so the cameras of one recorder never all read alike.
    void smallTilesGiveWayToNamesAndControls()
    {
        const QString recorder = QStringLiteral("Reception and lobby recorder (32 channel), main building, B1");
        const QString id = addDevice(deviceFor(recorder, QStringLiteral("DAHUA"), 1, 1, 12));
        QWidget wall;
        wall.setStyleSheet(NativeStyle::stylesheet());
        auto* t = new VmsTile(id, 10, &wall);
        wall.resize(700, 420);
        wall.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wall));
        const QString detail =
            QStringLiteral("The device's answer could not be played. Check the brand and the RTSP port.");
        const QString cant = QStringLiteral("Can\u2019t play this stream");
        t->fail(detail);
        QWidget* badge = t->findChild<QWidget*>(QStringLiteral("VBadge"));
        QVERIFY(badge);
        QStringList faults;
        for (bool hovered : {false, true}) {
            if (hovered) {
                QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
                QApplication::sendEvent(t, &enter);
            }
            for (int w = 140; w <= 320; w += 6) {
                const QString at = QStringLiteral("%1 px%2").arg(w).arg(hovered ? " hovered" : "");
                t->setGeometry(0, 0, w, w * 9 / 16);
                QCoreApplication::processEvents();
                VideoStage* stage = t->stage();
                const QList<VideoStage::MessageLine> lines = stage->messageLines();
                for (const VideoStage::MessageLine& line : lines) {
                    const QRect r = line.rect.translated(stage->pos());
                    if (line.text.contains(QChar(0x2026)))
                        faults << at + ": '" + line.text + "' shortened";
                    if (r.intersects(badge->geometry()))
                        faults << at + ": '" + line.text + "' over the name";
                    if (t->retryButton()->isVisible() && r.intersects(t->retryButton()->geometry()))
                        faults << at + ": '" + line.text + "' over Try again";
                }
                const bool whole = stage->headlineText() == cant && stage->detailText() == detail;
                if (!whole && t->toolTip() != cant + '\n' + detail)
                    faults << at + ": the message is not whole in the tool tip";
                if (t->streamSwitch()->isVisible()
                    && t->streamSwitch()->geometry().intersects(t->retryButton()->geometry()))
                    faults << at + ": Try again over the stream switch";
                if (!t->retryButton()->isVisible())
                    faults << at + ": no Try again";
                if (badge->geometry().right() >= t->width() - 8)
                    faults << at + ": the name runs off the tile";
                // (The buttons take its room; a failure's word takes some.)
                if (!hovered && !t->nameLabel()->text().endsWith(QStringLiteral("10")))
                    faults << at + ": the camera's name reads '" + t->nameLabel()->text() + "'";
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        // A tile of a full-HD wall of 36: the recorder's name, shortened,
        // beside the camera's whole one; whole in its tool tip.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(t, &leave);
        t->setGeometry(0, 0, 310, 174);
        QCoreApplication::processEvents();
        QVERIFY(t->deviceLabel()->isVisible());
        QCOMPARE(t->nameLabel()->text(), QStringLiteral("Camera 10"));
        QVERIFY2(t->deviceLabel()->text().startsWith("Reception") && t->deviceLabel()->text().contains(QChar(0x2026)),
                 qPrintable(t->deviceLabel()->text()));
        QCOMPARE(t->deviceLabel()->toolTip(), recorder);
        // A large tile says it all, and shows the switch beside Try again.
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(t, &enter);
        t->setGeometry(0, 0, 640, 360);
        QCoreApplication::processEvents();
        QCOMPARE(t->stage()->headlineText() + '|' + t->stage()->detailText(), cant + '|' + detail);
        QVERIFY(t->toolTip().isEmpty());
        QVERIFY(t->streamSwitch()->isVisible() && t->retryButton()->isVisible());
        NativeStore::instance().removeDevice(id);
    }

    // A wall of cameras named alike: three recorders' "Camera 1", and a car
    // park's bays named alike but for their end, each showing its channel.
    // On small tiles each reads apart from the others, whole in its tool tip;
    // a failed tile too small for a message says in a word what it is.
    void tilesOfAWallReadApart()
    {
        QStringList ids;
        for (int r = 1; r <= 3; ++r)
            ids << addDevice(deviceFor(QStringLiteral("Warehouse fire exit recorder number %1").arg(r),
                                       QStringLiteral("DAHUA"), 1, 1, 4));
        Native::Device bays = deviceFor(QStringLiteral("Car park recorder"), QStringLiteral("DAHUA"), 1, 1, 4);
        const QString baysId = addDevice(bays);
        QList<Native::Camera> cams = NativeStore::instance().device(baysId)->cameras;
        for (qsizetype c = 0; c < cams.size(); ++c)
            cams[c].name = QStringLiteral("Car park level B1 ramp and bay row %1").arg(c + 1);
        NativeStore::instance().saveCameras(baysId, cams);

        QWidget wall;
        wall.setStyleSheet(NativeStyle::stylesheet());
        auto* grid = new QGridLayout(&wall);
        QList<VmsTile*> tiles;
        for (const QString& id : ids)
            tiles << new VmsTile(id, 1, &wall);
        for (int c = 1; c <= 3; ++c)
            tiles << new VmsTile(baysId, c, &wall);
        for (qsizetype i = 0; i < tiles.size(); ++i)
            grid->addWidget(tiles.at(i), int(i / 3), int(i % 3));
        wall.resize(3 * 170, 2 * 96);
        wall.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wall));
        QStringList read;
        for (VmsTile* t : tiles) {
            QStringList texts;
            for (const QLabel* l : t->findChildren<QLabel*>())
                if (l->isVisible() && !l->text().isEmpty() && l->objectName() != QLatin1String("VToast"))
                    texts << l->text();
            read << texts.join(' ');
        }
        QCOMPARE(QSet<QString>(read.cbegin(), read.cend()).size(), tiles.size());
        for (qsizetype i = 0; i < 3; ++i)
            QVERIFY2(read.at(i).contains(QString::number(i + 1)), qPrintable(read.join(" | ")));
        QCOMPARE(tiles.at(0)->nameLabel()->toolTip(),
                 QStringLiteral("Warehouse fire exit recorder number 1 · Camera 1"));
        const QLabel* channel = tiles.at(4)->findChild<QLabel*>(QStringLiteral("VTileSub"));
        QVERIFY(channel && channel->isVisible() && channel->text() == QStringLiteral("2"));

        tiles.at(4)->fail(QStringLiteral("The recorder did not answer."));
        QCoreApplication::processEvents();
        const QLabel* word = tiles.at(4)->findChild<QLabel*>(QStringLiteral("VTileState"));
        QVERIFY(word && word->isVisible() && word->text() == QStringLiteral("Failed"));
        {
            // Waiting its turn to start again, a tile shows what it will show
            // after the pointer passed over it: the badge follows its new
            // message (here too long for the picture, which the word then says).
            kvrtest::TestClock clock; // frozen: the turn stays where it was handed out
            tiles.at(4)->setFixedSize(190, 106);
            QCoreApplication::processEvents();
            QVERIFY(!word->isVisible()); // the picture says what failed
            tiles.at(3)->startPaced(false);
            tiles.at(4)->startPaced(false);
            QVERIFY(tiles.at(4)->isPacing());
            const bool said = word->isVisible();
            QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
            QApplication::sendEvent(tiles.at(4), &enter);
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(tiles.at(4), &leave);
            QCOMPARE(word->isVisible(), said);
            VmsTile::stopAll({tiles.at(3), tiles.at(4)});
        }
        for (const QString& id : ids + QStringList{baysId})
            NativeStore::instance().removeDevice(id);
    }

    // A wall of 36 of an estate's long names alike at their start, as on a
    // laptop (tiles of 147 x 75, each showing its channel, which leaves 73 px
    // to the name: a name that needs two words to tell it from all the others
    // keeps the one that tells it from most): no two badges read alike, and a
    // recorder's name shows only beside a camera whose name a camera of
    // another recorder has too (and there only where it has room).
    void wallOfLongNamesReadsApart()
    {
        Theme::loadFonts(); // as the program reads them
        const QList<longnames::Camera> estate = longnames::estate();
        QStringList ids;
        QWidget wall;
        const QList<VmsTile*> tiles = wallOf(estate, estate, &wall, 6, &ids);
        wall.resize(6 * 147, 6 * 75);
        // No tile takes the focus (which shows its controls, as the pointer would).
        wall.setAttribute(Qt::WA_ShowWithoutActivating);
        wall.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wall));
        if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus();
        const auto faultsNow = [&tiles, &estate] {
            QStringList shown;
            QStringList faults;
            for (qsizetype i = 0; i < tiles.size(); ++i) {
                const QString name = tiles.at(i)->nameLabel()->text();
                if (name.contains(QStringLiteral(" \u00B7 ")) && !longnames::sharesItsName(estate, i))
                    faults << QStringLiteral("\"%1\" shows its recorder").arg(name);
                // The badge as a person reads it: the channel, then the name.
                const QLabel* channel = tiles.at(i)->findChild<QLabel*>(QStringLiteral("VTileSub"));
                shown << (channel && channel->isVisible() ? channel->text() + QLatin1Char(' ') : QString()) + name;
            }
            return faults + longnames::alikeFaults(longnames::titles(estate), shown);
        };
        // Once every tile was fitted against all the others (each again as
        // the others came).
        QTRY_VERIFY_WITH_TIMEOUT(faultsNow().isEmpty(), 5000);
        QVERIFY2(faultsNow().isEmpty(), qPrintable(faultsNow().join('\n')));
        for (const QString& id : std::as_const(ids))
            NativeStore::instance().removeDevice(id);
    }

    // A wall of 120 (12 x 10) of three recorders named alike but for their
    // end, each with "Camera 01" and on, and of Arabic, Hebrew, French and
    // German names, on tiles of 100 px (the video wall on a laptop) and of
    // 70 (the live wall): no text of a badge past its tile, none showing its
    // channel beside a name cut to nothing ("10 …"), and at 100 px no two
    // reading alike.
    void wallOf120ReadsApartOnNarrowTiles()
    {
        Theme::loadFonts();
        const QList<longnames::Camera> wall = longnames::wallOf120(longnames::manyAlike());
        QStringList ids;
        QWidget host;
        const QList<VmsTile*> tiles = wallOf(longnames::manyAlike(), wall, &host, 12, &ids);
        host.setAttribute(Qt::WA_ShowWithoutActivating);
        // And on tiles too low for any text (78 x 8: a wall of 36 in playback
        // at a scale of 1.5).
        for (const QSize tile : {QSize(100, 65), QSize(70, 65), QSize(78, 8)}) {
            const int width = tile.width();
            host.setFixedSize(12 * tile.width(), 10 * tile.height());
            host.show();
            QVERIFY(QTest::qWaitForWindowExposed(&host));
            const auto faultsNow = [&] {
                QStringList faults;
                QStringList shown;
                for (VmsTile* t : std::as_const(tiles)) {
                    const QWidget* badge = t->nameLabel()->parentWidget();
                    const QLabel* channel = t->findChild<QLabel*>(QStringLiteral("VTileSub"));
                    const QString name = t->nameLabel()->isVisible() ? t->nameLabel()->text() : QString();
                    for (const QLabel* l : badge->findChildren<QLabel*>())
                        if (l->isVisible() && !t->rect().contains(QRect(badge->mapTo(t, l->pos()), l->size())))
                            faults << QStringLiteral("\"%1\" reaches past its tile").arg(l->text());
                    QString bare = name;
                    bare.remove(QChar(0x2026));
                    if (channel->isVisible() && bare.trimmed().isEmpty())
                        faults << QStringLiteral("channel %1 beside nothing of its name").arg(channel->text());
                    shown << (channel->isVisible() ? channel->text() + QLatin1Char(' ') : QString()) + name;
                }
                if (width == 100)
                    faults += longnames::alikeFaults(longnames::titles(wall), shown);
                return faults;
            };
            QTRY_VERIFY_WITH_TIMEOUT(faultsNow().isEmpty(), 5000);
            QVERIFY2(faultsNow().isEmpty(), qPrintable(QString("at %1 px:\n").arg(width) + faultsNow().join('\n')));
        }
        qDeleteAll(tiles);
        for (const QString& id : std::as_const(ids))
            NativeStore::instance().removeDevice(id);
    }

    // Failed tiles of a wall of 120 on a laptop's live wall (70 x 37):
    // "Try again" is a round icon before the badge, named by its tool tip
    // and for a screen reader, off the badge and within the tile, and the
    // camera's name still shows; pressed, the tile starts again and its
    // badge takes its dot and its place back. On the video wall's tiles
    // (100 x 65) it is its text again; on tiles too small for either (a
    // scale of 1.5) it gives way.
    void narrowFailedTilesOfferTryAgainBesideTheName()
    {
        Theme::loadFonts();
        QStringList ids;
        QWidget host;
        const QList<VmsTile*> tiles =
            wallOf(longnames::manyAlike(), longnames::wallOf120(longnames::manyAlike()).mid(0, 24), &host, 12, &ids);
        host.setAttribute(Qt::WA_ShowWithoutActivating);
        host.setFixedSize(12 * 70, 2 * 37);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        for (VmsTile* t : tiles)
            t->fail(QStringLiteral("The recorder did not answer."));
        const auto faultsNow = [&tiles](bool icon) {
            QStringList faults;
            for (VmsTile* t : tiles) {
                const QPushButton* retry = t->retryButton();
                const QWidget* badge = t->findChild<QWidget*>(QStringLiteral("VBadge"));
                const QString at = QStringLiteral("%1 (%2x%3): ").arg(t->key()).arg(t->width()).arg(t->height());
                if (!retry->isVisible()) {
                    faults << at + QStringLiteral("no Try again");
                    continue;
                }
                if (!t->rect().contains(retry->geometry()))
                    faults << at + QStringLiteral("Try again reaches past the tile");
                if (badge->isVisible() && badge->geometry().intersects(retry->geometry()))
                    faults << at + QStringLiteral("Try again over the badge");
                if (!t->rect().contains(badge->geometry()) || !t->nameLabel()->isVisible())
                    faults << at + QStringLiteral("the name does not show within the tile");
                if (retry->accessibleName() != QStringLiteral("Try again"))
                    faults << at + QStringLiteral("Try again is named \"%1\"").arg(retry->accessibleName());
                const bool iconOnly = retry->text().isEmpty() && !retry->icon().isNull();
                if (icon && !(iconOnly && retry->toolTip() == QStringLiteral("Try again")))
                    faults << at + QStringLiteral("not an icon with its tool tip");
                if (!icon && retry->text() != QStringLiteral("Try again"))
                    faults << at + QStringLiteral("Try again reads \"%1\"").arg(retry->text());
            }
            return faults;
        };
        QTRY_VERIFY2(faultsNow(true).isEmpty(), qPrintable(faultsNow(true).join('\n')));

        VmsTile* first = tiles.first();
        const QWidget* badge = first->findChild<QWidget*>(QStringLiteral("VBadge"));
        const QWidget* dot = first->findChild<NativeStyle::DiscDot*>();
        QVERIFY(!dot->isVisible() && badge->x() > first->retryButton()->geometry().right());
        QTest::mouseClick(first->retryButton(), Qt::LeftButton);
        QVERIFY(!first->isFailed() && !first->retryButton()->isVisible());
        QVERIFY(dot->isVisible());
        QCOMPARE(badge->pos(), QPoint(4, 4));
        // As when a recording waits for its time to be picked.
        first->fail(QStringLiteral("The recorder did not answer."));
        QVERIFY(!dot->isVisible());
        first->showIdle(QStringLiteral("Pick a time"), QString());
        QVERIFY(dot->isVisible() && badge->pos() == QPoint(4, 4));
        first->fail(QStringLiteral("The recorder did not answer."));
        // Too narrow for a name beside the icon: no badge saying nothing.
        host.setFixedSize(12 * 44, 2 * 37);
        QTRY_VERIFY(first->width() == 44 && first->retryButton()->isVisible());
        QVERIFY(!badge->isVisible());

        host.setFixedSize(12 * 100, 2 * 65);
        QTRY_VERIFY2(faultsNow(false).isEmpty(), qPrintable(faultsNow(false).join('\n')));
        // The dot back in the badge, or the failure's word in its place.
        QVERIFY(dot->isVisible() != first->findChild<QLabel*>(QStringLiteral("VTileState"))->isVisible());
        // Wide but low (a wall of 36 in playback on a laptop at a scale of
        // 1.5): the icon, and a failure's word beside the name where both
        // fit, the badge within the tile.
        host.setFixedSize(12 * 290, 2 * 37);
        QTRY_VERIFY(first->width() == 290 && first->retryButton()->text().isEmpty());
        QStringList wide;
        for (VmsTile* t : tiles) {
            const QLabel* word = t->findChild<QLabel*>(QStringLiteral("VTileState"));
            const QWidget* b = t->findChild<QWidget*>(QStringLiteral("VBadge"));
            if (!(t->retryButton()->isVisible() && t->retryButton()->text().isEmpty() && word->isVisible()
                  && t->nameLabel()->isVisible() && t->rect().contains(b->geometry())
                  && !b->geometry().intersects(t->retryButton()->geometry())))
                wide << QStringLiteral("%1: badge %2 px from %3, \"%4 %5\"")
                            .arg(t->key())
                            .arg(b->width())
                            .arg(b->x())
                            .arg(word->isVisible() ? word->text() : QString(), t->nameLabel()->text());
        }
        QVERIFY2(wide.isEmpty(), qPrintable(wide.join('\n')));
        host.setFixedSize(12 * 34, 2 * 10);
        QTRY_VERIFY(
            std::none_of(tiles.cbegin(), tiles.cend(), [](VmsTile* t) { return t->retryButton()->isVisible(); }));
        VmsTile::stopAll(tiles);
        qDeleteAll(tiles);
        for (const QString& id : std::as_const(ids))
            NativeStore::instance().removeDevice(id);
    }

    // Tab stops on a tile, which shows its controls as the pointer would,
    // walks through them and on to the next tile, which hides them again.
    void tabWalksThroughATilesControls()
    {
        QWidget window;
        auto* row = new QHBoxLayout(&window);
        auto* first = new VmsTile(hikId, 1, &window);
        auto* second = new VmsTile(hikId, 2, &window);
        row->addWidget(first);
        row->addWidget(second);
        first->setRemovable(true);
        window.resize(1000, 300);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        first->setFocus(Qt::TabFocusReason);
        QVERIFY(first->accessibleName().endsWith(", Hall NVR"));
        QVERIFY(first->snapshotButton()->isVisible() && first->deviceLabel()->isVisible());
        QStringList reached;
        for (int i = 0; i < 12 && QApplication::focusWidget() != second; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (first->isAncestorOf(QApplication::focusWidget()))
                reached << QApplication::focusWidget()->accessibleName();
        }
        QCOMPARE(QApplication::focusWidget(), second);
        QCOMPARE(reached.size(), 4); // focus, snapshot, remove and the checked stream
        QVERIFY(!first->snapshotButton()->isVisible() && second->snapshotButton()->isVisible());
    }

    // Enter and Space on the tile that Tab reached do what a double-click
    // does; not with a modifier, nor a key its buttons leave (Return on a
    // button outside a dialog). A screen reader hears what Enter does.
    void enterOnATileDoesWhatADoubleClickDoes()
    {
        QWidget window;
        auto* row = new QHBoxLayout(&window);
        auto* tile = new VmsTile(hikId, 1, &window);
        row->addWidget(tile);
        window.resize(600, 300);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy expand(tile, &VmsTile::expandRequested);
        tile->setFocus(Qt::TabFocusReason);
        QCOMPARE(tile->accessibleDescription(), QStringLiteral("Enter: fill the wall with this camera"));
        QTest::keyClick(tile, Qt::Key_Return);
        QTest::keyClick(tile, Qt::Key_Space);
        QTest::keyClick(tile, Qt::Key_Space, Qt::ShiftModifier);
        QCOMPARE(expand.size(), 2);
        QTest::keyClick(tile, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), tile->focusButton());
        QTest::keyClick(tile->focusButton(), Qt::Key_Return);
        QCOMPARE(expand.size(), 2);
        tile->setFocusedLook(true);
        QCOMPARE(tile->accessibleDescription(), QStringLiteral("Enter: back to the wall"));
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
        QVERIFY(ids.contains(hikId + "#4") && !ids.contains(hikId + "#3") && !ids.contains(offId + "#1"));

        int expanded = 0;
        std::unique_ptr<QWidget> w(source.makeTile(dahuaId + QStringLiteral("#2"), nullptr, [&] { ++expanded; }));
        auto* t = qobject_cast<VmsTile*>(w.get());
        QVERIFY(t && !t->isRemovable());
        // The wall reaches the tile's own retry through the source; a widget
        // that is not one of its tiles has none.
        QWidget plain;
        QVERIFY(t->retry() && source.tileRetry(t) == t->retry());
        QVERIFY(!source.tileRetry(&plain) && !source.tileRetry(nullptr));
        t->focusButton()->click();
        QCOMPARE(expanded, 1);
        source.tune(t, 5, 7);
        QCOMPARE(t->player()->controls().maxFps.load(), 15.0);
        bool started = false;
        source.start(t, false, [&] { started = true; });
        QVERIFY(started && (t->isRunning() || t->isPacing()));
        source.requestStop(t);
        QVERIFY(!t->isRunning() && !t->isPacing());
        // A key with a bad channel shows channel 1 of its device; one that
        // starts with "#" or has none names no device.
        QStringList made;
        for (const QString& key : {dahuaId + "#x", dahuaId + "#0", QStringLiteral("#3"), dahuaId}) {
            std::unique_ptr<QWidget> keyed(source.makeTile(key, nullptr, {}));
            const auto* tile = qobject_cast<VmsTile*>(keyed.get());
            made << QStringLiteral("%1 %2")
                        .arg(tile->deviceId() == dahuaId ? "dahua" : tile->deviceId())
                        .arg(tile->channel());
        }
        QCOMPARE(made, QStringList({"dahua 1", "dahua 1", " 1", " 1"}));
        NativeStore::instance().removeDevice(offId);
    }
};

KVR_TEST_MAIN(TestVmsTile)

#include "tst_vms_tile.moc"
