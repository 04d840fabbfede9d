// A camera tile's decisions without a window: status outcomes, overload,
// the refused-connection block, overlays and snapshot file names.

#include "native/live/TileRules.h"
#include "native/live/Tunables.h"
#include "tests/native/live/LiveTestKit.h"
#include "tests/support/TestKit.h"

#include <QtTest>

#include <QFile>
#include <QTemporaryDir>

using namespace TileRules;

class TestTileRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Decided on the player's kind of failure; its text only shows through
    // when no sentence fits, whatever words or numbers it holds.
    void statusOutcomes_data()
    {
        using F = kvr::video::PlayerFailure;
        QTest::addColumn<F>("kind");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("playback");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("main");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("refused");
        const int end = int(StatusAction::EndOfRecording);
        const int sub = int(StatusAction::FallBackToSub);
        const int fail = int(StatusAction::Fail);
        const QString noStreams = QStringLiteral(
            "The camera or recorder refused: it has no streams left. Close other views of it, or use the Sub stream.");
        const QString closed = QStringLiteral("The RTSP port is closed on the device.");
        QTest::newRow("playback ended") << F::Other << "End of file" << true << true << true << end
                                        << "End of recording"
                                        << "" << false;
        QTest::newRow("playback ended even on refusal")
            << F::Refused << "Connection refused" << true << true << false << end << "End of recording"
            << "" << false;
        QTest::newRow("4xx main live") << F::ClientError << "x" << false << false << true << sub << ""
                                       << "" << false;
        QTest::newRow("4xx main live playing") << F::ClientError << "x" << false << true << true << sub << ""
                                               << "" << false;
        QTest::newRow("4xx on sub fails")
            << F::ClientError << "x" << false << false << false << fail << "" << noStreams << false;
        QTest::newRow("4xx main playback fails")
            << F::ClientError << "x" << true << false << true << fail << ""
            << "The recorder refused: it has no playback bandwidth or sessions left. Use fewer cameras at once, "
               "the Sub stream, or wait a moment."
            << false;
        QTest::newRow("453 in another kind's text")
            << F::Other << "RTSP 453 Not Enough Bandwidth" << false << false << true << fail << ""
            << "RTSP 453 Not Enough Bandwidth" << false;
        QTest::newRow("refused") << F::Refused << "x" << false << false << false << fail << "" << closed << true;
        QTest::newRow("refused on main") << F::Refused << "x" << false << false << true << fail << "" << closed << true;
        QTest::newRow("refused in another kind's text")
            << F::Other << "Connection refused" << false << false << false << fail << ""
            << "Connection refused" << false;
        QTest::newRow("404 playback") << F::NotFound << "x" << true << false << true << fail << "No recording"
                                      << "Nothing is recorded at this time (or this stream isn't recorded)." << false;
        QTest::newRow("404 live") << F::NotFound << "x" << false << false << true << fail << ""
                                  << "The device has no stream at this address. Check the brand." << false;
        QTest::newRow("404 in another kind's text playback")
            << F::Other << "HTTP 404" << true << false << true << fail << ""
            << "HTTP 404" << false;
        QTest::newRow("401") << F::Unauthorized << "x" << true << false << false << fail << ""
                             << "The device refused the username or password." << false;
        QTest::newRow("timed out") << F::TimedOut << "x" << false << false << false << fail << ""
                                   << "The device did not answer in time." << false;
        QTest::newRow("5xx passes") << F::ServerError << "Server returned 5XX Server Error reply" << false << false
                                    << true << fail << ""
                                    << "Server returned 5XX Server Error reply" << false;
    }
    void statusOutcomes()
    {
        const StatusOutcome o = classifyStatus(FETCH(kvr::video::PlayerFailure, kind), FETCH(QString, detail),
                                               FETCH(bool, playback), FETCH(bool, playing), FETCH(bool, main));
        QCOMPARE(int(o.action), FETCH(int, action));
        QCOMPARE(o.headline, FETCH(QString, headline));
        QCOMPARE(o.detail, FETCH(QString, text));
        QCOMPARE(o.refused, FETCH(bool, refused));
        if (o.action == StatusAction::FallBackToSub)
            QCOMPARE(o.toast, QStringLiteral("The recorder has no bandwidth left for Main: showing Sub."));
    }

    void overload()
    {
        QVERIFY(overloadStep(true, false).switchToSub);
        QCOMPARE(overloadStep(true, false).toast,
                 QStringLiteral("Switched to Sub: this computer can\u2019t keep up with Main here."));
        for (auto [main, playback] : {std::pair{false, false}, std::pair{true, true}, std::pair{false, true}}) {
            QVERIFY(!overloadStep(main, playback).switchToSub);
            QCOMPARE(overloadStep(main, playback).toast,
                     QStringLiteral("Can\u2019t keep up with this picture. Use fewer cameras or Sub."));
        }
    }

    void refusedBlock()
    {
        RefusedTable t;
        QVERIFY(!t.blocked(QStringLiteral("a"), 5000));
        t.record(QStringLiteral("a"), 100000);
        QVERIFY(t.blocked(QStringLiteral("a"), 100000));
        QVERIFY(t.blocked(QStringLiteral("a"), 110000)); // 10 s later
        QVERIFY(t.blocked(QStringLiteral("a"), 129999));
        QVERIFY(!t.blocked(QStringLiteral("a"), 130000)); // 30 s later: try again
        QVERIFY(!t.blocked(QStringLiteral("b"), 110000)); // other devices are free
        t.clear(QStringLiteral("a"));
        QVERIFY(!t.blocked(QStringLiteral("a"), 110000));
        QCOMPARE(kvr::live::tun::kLiveStartGap.count(), 80);
        QCOMPARE(kvr::live::tun::kPlaybackStartGap.count(), 300);
        QCOMPARE(watchdogText(false), QStringLiteral("No picture after 10 seconds."));
        QCOMPARE(watchdogText(true), QStringLiteral("No recording at this time, or the device did not answer."));
    }

    void buttons_data()
    {
        QTest::addColumn<bool>("hovered");
        QTest::addColumn<bool>("removable");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<int>("width");
        QTest::addColumn<QList<bool>>("shown"); // remove, focus, snapshot, switch, retry
        QTest::newRow("idle") << false << true << false << 400 << QList<bool>{false, false, false, false, false};
        QTest::newRow("hover") << true << true << false << 400 << QList<bool>{true, true, true, true, false};
        QTest::newRow("wall tile") << true << false << false << 400 << QList<bool>{false, true, true, true, false};
        QTest::newRow("narrow") << true << true << false << 249 << QList<bool>{true, true, false, true, false};
        QTest::newRow("at 250") << true << true << false << 250 << QList<bool>{true, true, true, true, false};
        QTest::newRow("failed") << false << true << true << 100 << QList<bool>{false, false, false, false, true};
    }
    void buttons()
    {
        const ButtonVisibility v =
            buttonsFor(FETCH(bool, hovered), FETCH(bool, removable), FETCH(bool, failed), FETCH(int, width));
        QCOMPARE((QList<bool>{v.remove, v.focus, v.snapshot, v.streamSwitch, v.retry}), FETCH(QList<bool>, shown));
    }

    void overlayGeometry()
    {
        OverlayInputs in;
        in.tile = QSize(400, 240);
        in.hovered = true;
        in.deviceNameHintWidth = 80;
        in.switchHint = QSize(90, 24);
        in.retryHint = QSize(100, 30);
        in.toastHint = QSize(120, 28);
        OverlayGeometry g = layoutOverlays(in);
        QVERIFY(g.deviceNameShown);
        QCOMPARE(g.nameWidth, 400 - 150 - 100);
        QCOMPARE(g.remove, QPoint(362, 8));
        QCOMPARE(g.focus, QPoint(328, 8));
        QCOMPARE(g.snapshot, QPoint(294, 8));
        QCOMPARE(g.streamSwitch, QPoint(302, 208));
        QCOMPARE(g.retry, QPoint(150, 164));
        QCOMPARE(g.toast, QPoint(8, 204));
        // Narrow: no device name, the name keeps at least 40 px; "Try again"
        // stays 44 px above the bottom.
        in.tile = QSize(299, 100);
        in.hovered = false;
        g = layoutOverlays(in);
        QVERIFY(!g.deviceNameShown);
        QCOMPARE(g.nameWidth, 299 - 40 - 20);
        QCOMPARE(g.retry.y(), 56);
        in.tile = QSize(120, 100);
        in.hovered = true;
        g = layoutOverlays(in);
        QCOMPARE(g.nameWidth, 40);
        QVERIFY(!g.snapshotPlaced);
    }

    void snapshotNames()
    {
        QCOMPARE(snapshotBaseName(QStringLiteral("Front door #1")), QStringLiteral("Front_door_1"));
        QCOMPARE(snapshotBaseName(QStringLiteral("../../etc/passwd")), QStringLiteral(".._.._etc_passwd"));
        QCOMPARE(snapshotBaseName(QStringLiteral("Caf\u00e9 / Bar")), QStringLiteral("Caf_Bar"));
        const QDateTime at(QDate(2026, 3, 2), QTime(9, 5, 7));
        QCOMPARE(snapshotFileName(QStringLiteral("Gate"), at), QStringLiteral("Gate_20260302-090507.png"));
    }

    // Two cameras of the same name saved in the same second keep both files.
    void snapshotNamesNeverOverwrite()
    {
        QTemporaryDir dir;
        const QDateTime at(QDate(2026, 3, 2), QTime(9, 5, 7));
        const QString first = freeSnapshotPath(QDir(dir.path()), QStringLiteral("Gate"), at);
        QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("Gate_20260302-090507.png"));
        QFile(first).open(QIODevice::WriteOnly);
        const QString second = freeSnapshotPath(QDir(dir.path()), QStringLiteral("Gate"), at);
        QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("Gate_20260302-090507-2.png"));
        QFile(second).open(QIODevice::WriteOnly);
        QCOMPARE(QFileInfo(freeSnapshotPath(QDir(dir.path()), QStringLiteral("Gate"), at)).fileName(),
                 QStringLiteral("Gate_20260302-090507-3.png"));
    }
};

KVR_TEST_MAIN(TestTileRules)
#include "tst_tile_rules.moc"
