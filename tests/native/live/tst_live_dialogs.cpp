// The stream, snapshots and recording calendar dialogs and the month grid,
// against the RTSP server and fake devices.

#include "app/core/Settings.h"
#include "app/ui/Modal.h"
#include "native/live/CalendarDialog.h"
#include "native/live/MonthGrid.h"
#include "native/live/SnapshotsDialog.h"
#include "native/live/StreamDialog.h"
#include "native/services/Brands.h"
#include "tests/native/live/LiveTestKit.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

using namespace livetest;

namespace {
// A fetch ran and every reply came.
bool fetched(const SnapshotsDialog& d)
{
    return d.generation() >= 1 && d.inFlight() == 0 && d.queued() == 0 && d.fetchButton()->isEnabled();
}
// Each card's text, or "picture" for a card that shows one.
QStringList cardTexts(const SnapshotsDialog& d)
{
    QStringList out;
    for (auto* c : d.cards()) {
        const QLabel* label = c->findChildren<QLabel*>().first();
        out << (label->pixmap().isNull() ? label->text() : QStringLiteral("picture"));
    }
    return out;
}
} // namespace

class TestLiveDialogs : public QObject {
    Q_OBJECT
private:
    peers::Peer rtsp;
    kvrtest::FakeDevice hik{kvrtest::FakeDevice::Kind::Isapi};
    kvrtest::FakeDevice dahua{kvrtest::FakeDevice::Kind::Dahua};
    QString hall; // ISAPI, 9 cameras, 2 and 7 ignored
    QString yard; // Dahua, 2 cameras

    void scriptPictures(int delayMs)
    {
        hik.clearScripts();
        for (int c = 1; c <= 9; ++c) {
            kvrtest::FakeDevice::Reply r;
            r.contentType = "image/jpeg";
            r.body = pictureBytes(c == 1 ? 1280 : 640, c == 1 ? 960 : 360, "JPG", QColor(30 * c, 90, 140));
            r.delayMs = delayMs;
            hik.script(QStringLiteral("/ISAPI/Streaming/channels/%1/picture").arg(c * 100 + 1), r);
        }
    }
    int pictureRequests() const { return hik.servedCount(QStringLiteral("/ISAPI/Streaming/channels/")); }

private Q_SLOTS:
    void initTestCase()
    {
        Modal::setStrict(true);
        QVERIFY(startRecorderRtsp(rtsp));
        QVERIFY(hik.start());
        QVERIFY(dahua.start());
        Native::Device h =
            deviceFor(QStringLiteral("Hall NVR"), QStringLiteral("HIKVISION"), hik.httpPort(), rtsp.port, 9);
        h.ignored = {2, 7};
        hall = addDevice(h);
        yard =
            addDevice(deviceFor(QStringLiteral("Yard DVR"), QStringLiteral("DAHUA"), dahua.httpPort(), rtsp.port, 2));
        nameCameras(yard, {QStringLiteral("Gate")});
    }
    void init()
    {
        Modal::reset();
        SnapshotCache::instance().reset();
        hik.clearScripts();
        hik.clearLog();
    }

    // ---- Stream dialog ----

    void liveDialogStartsOnSubAndSwitches()
    {
        const Native::Device d = *NativeStore::instance().device(yard);
        StreamDialog dialog(
            StreamDialog::heading(1, nullptr), d.name, [d](bool main) { return NativeBrand::liveUrl(d, 1, main); },
            true);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.hadPicture(), 20000);
        QVERIFY(dialog.subButton()->isChecked() && !dialog.isMain());
        QVERIFY(dialog.player()->audioEnabled.load()); // the dialog keeps its sound
        dialog.mainButton()->click();
        QVERIFY(dialog.isMain() && !dialog.subButton()->isChecked() && !dialog.hadPicture());
        QTRY_VERIFY_WITH_TIMEOUT(dialog.hadPicture(), 20000);
        dialog.closeButton()->click();
        QVERIFY(!dialog.player()->isRunning());
    }

    void failuresInPlainWords()
    {
        peers::Peer hole;
        QVERIFY(peers::startProxy(hole, rtsp.port, QStringLiteral("stall"), 0, 60000));
        const QString url = peers::rtspUrl(hole.port);
        StreamDialog silent(
            QStringLiteral("1 Gate"), QStringLiteral("Yard DVR"), [url](bool) { return url; }, true);
        silent.show();
        QTRY_COMPARE(silent.noPictureTimer()->interval(), 10000);
        silent.noPictureTimer()->start(50);
        QTRY_VERIFY(silent.retryButton()->isVisible());
        QCOMPARE(silent.stage()->detailText(), QStringLiteral("No picture after 10 seconds."));

        peers::Peer closed;
        QVERIFY(peers::startProxy(closed, rtsp.port, QStringLiteral("refuse")));
        const QString refusing = peers::rtspUrl(closed.port);
        StreamDialog refused(
            QStringLiteral("1 Gate"), QStringLiteral("Yard DVR"), [refusing](bool) { return refusing; }, true);
        refused.show();
        QTRY_VERIFY_WITH_TIMEOUT(refused.retryButton()->isVisible(), 20000);
        QCOMPARE(refused.stage()->detailText(), QStringLiteral("The RTSP port is closed on the device."));
    }

    void playbackKeepsItsLastPicture()
    {
        const Native::Device d = *NativeStore::instance().device(yard);
        const QDateTime from(QDate(2026, 3, 1), QTime(10, 0));
        StreamDialog ending(
            QStringLiteral("1 Gate"), d.name,
            [d, from](bool) { return NativeBrand::playbackUrl(d, 1, true, from, from.addSecs(600)); }, false);
        QVERIFY(!ending.mainButton());
        ending.show();
        QTRY_VERIFY_WITH_TIMEOUT(ending.hadPicture(), 20000);
        Q_EMIT ending.player()->status(QStringLiteral("Stream ended"), QStringLiteral("End of file"));
        QVERIFY(!ending.retryButton()->isVisible());
        QVERIFY(ending.stage()->headlineText() != QStringLiteral("Can\u2019t play this stream"));

        // The ISAPI playback address is not served: 404 before any picture.
        const Native::Device h = *NativeStore::instance().device(hall);
        StreamDialog missing(
            QStringLiteral("1 Camera"), h.name,
            [h, from](bool) { return NativeBrand::playbackUrl(h, 1, true, from, from.addSecs(600)); }, false);
        missing.show();
        QTRY_VERIFY_WITH_TIMEOUT(missing.retryButton()->isVisible(), 20000);
        QCOMPARE(missing.stage()->detailText(),
                 QStringLiteral("Nothing is recorded at this time (or this stream isn't recorded)."));
    }

    void openingChecksTheDeviceFirst()
    {
        const QString onvif = addDevice(deviceFor(QStringLiteral("Cam"), QStringLiteral("ONVIF"), 1, rtsp.port, 1));
        Modal::answer(QMessageBox::Close);
        StreamDialog::openLive(nullptr, onvif, 1);
        QCOMPARE(
            Modal::shown(),
            QStringList{QStringLiteral("Can\u2019t play this stream: No stream address is known for this brand yet.")});
        StreamDialog::openLive(nullptr, QStringLiteral("gone"), 1); // nothing at all

        QString title;
        const auto titleOf = [&](QDialog& dialog) {
            title = dialog.windowTitle();
            return int(QDialog::Accepted);
        };
        Modal::respond(titleOf);
        StreamDialog::openLive(nullptr, yard, 3); // no record for channel 3
        QCOMPARE(title, QStringLiteral("3 Camera \u00b7 Yard DVR"));
        Modal::respond(titleOf);
        StreamDialog::openPlayback(nullptr, yard, 1, true, QDateTime::currentDateTime().addSecs(-600),
                                   QDateTime::currentDateTime());
        QCOMPARE(title, QStringLiteral("1 Gate \u00b7 Yard DVR"));
        NativeStore::instance().removeDevice(onvif);
    }

    // ---- Snapshots dialog ----

    void cardsFillAtMostFourAtATime()
    {
        scriptPictures(300);
        SnapshotsDialog dialog(hall, 0);
        dialog.show();
        QCOMPARE(dialog.cards().size(), 7); // 9 cameras, 2 ignored
        QCOMPARE(cardTexts(dialog), QStringList(7, QStringLiteral("Checking")));
        QTRY_VERIFY(dialog.inFlight() == 4);
        QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("Checking 0 of 7"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.inFlight() == 0 && dialog.fetchButton()->isEnabled(), 20000);
        QCOMPARE(dialog.maxInFlightSeen(), 4);
        QCOMPARE(cardTexts(dialog), QStringList(7, QStringLiteral("picture")));
        // Four to a row: 4 and 3.
        QVERIFY(dialog.grid()->itemAtPosition(1, 2) && !dialog.grid()->itemAtPosition(1, 3));
        QCOMPARE(pictureRequests(), 7);
        // Opened again, every camera is cached: nothing is fetched; one camera refreshes.
        SnapshotsDialog again(hall, 0);
        QTest::qWait(100);
        QCOMPARE(cardTexts(again), QStringList(7, QStringLiteral("picture")));
        SnapshotsDialog one(hall, 4);
        QTRY_COMPARE_WITH_TIMEOUT(pictureRequests(), 8, 20000);
    }

    // Replies that arrive after the dialog closed must not leave their cards
    // "Checking" for good: the next dialog asks for them again.
    void closingMidFetchLeavesNothingChecking()
    {
        scriptPictures(1500);
        {
            SnapshotsDialog dialog(hall, 0);
            QTRY_VERIFY(dialog.inFlight() == 4);
        }
        const QMap<int, SnapshotRecord>& cache = SnapshotCache::instance().entry(hall);
        for (const SnapshotRecord& r : cache)
            QVERIFY(!r.checking);
        scriptPictures(0);
        const int before = pictureRequests();
        SnapshotsDialog again(hall, 0);
        QTRY_VERIFY_WITH_TIMEOUT(fetched(again), 20000);
        QVERIFY(pictureRequests() > before);
        QCOMPARE(cardTexts(again), QStringList(7, QStringLiteral("picture")));
    }

    void errorsPerCard()
    {
        // A refused login on every card.
        Native::Device wrong =
            deviceFor(QStringLiteral("Wrong"), QStringLiteral("HIKVISION"), hik.httpPort(), rtsp.port, 2);
        wrong.password = QStringLiteral("nope");
        const QString wrongId = addDevice(wrong);
        SnapshotsDialog refused(wrongId, 0);
        QTRY_VERIFY_WITH_TIMEOUT(fetched(refused), 20000);
        QCOMPARE(cardTexts(refused), QStringList(2, QStringLiteral("No snapshot\nLogin refused.")));

        // Brands without a picture over HTTP: told at once, nothing asked.
        const QString onvif =
            addDevice(deviceFor(QStringLiteral("Cam"), QStringLiteral("ONVIF"), hik.httpPort(), 1, 1));
        const QString samsung =
            addDevice(deviceFor(QStringLiteral("Old"), QStringLiteral("SAMSUNG"), hik.httpPort(), 1, 1));
        hik.clearLog();
        SnapshotsDialog a(onvif, 0);
        SnapshotsDialog b(samsung, 1);
        QTRY_COMPARE(cardTexts(a), QStringList{QStringLiteral("No snapshot\nNeeds ONVIF snapshot support.")});
        QTRY_COMPARE(cardTexts(b), QStringList{QStringLiteral("No snapshot\nThis brand has no snapshot over HTTP.")});
        QCOMPARE(hik.requestCount(), 0);
        for (const QString& id : {wrongId, onvif, samsung})
            NativeStore::instance().removeDevice(id);
    }

    void aNewFetchDropsTheOlderReplies()
    {
        scriptPictures(400);
        SnapshotsDialog dialog(hall, 0);
        QTRY_VERIFY(dialog.inFlight() == 4);
        dialog.fetchButton()->setEnabled(true);
        dialog.fetchButton()->click();
        QCOMPARE(dialog.generation(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(fetched(dialog), 20000);
        QVERIFY(dialog.maxInFlightSeen() <= 4);
        QCOMPARE(cardTexts(dialog), QStringList(7, QStringLiteral("picture")));
    }

    // ---- Recording calendar ----

    void coverageOfTheWindow()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2026, 3, 30), QTime(12, 0), Qt::LocalTime).toUTC());
        Prefs::set(Prefs::kNativeWindowDays, 30);
        hik.recorded.clear();
        for (int d = 1; d <= 30; ++d)
            if (d != 3 && d != 6 && d != 9)
                hik.recorded.insert(QDate(2026, 3, d));
        CalendarDialog dialog(hall);
        QCOMPARE(dialog.coverageLabel()->text(), QStringLiteral("Checking"));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.coverageLabel()->text(), QStringLiteral("27 of 30 days recorded (90%)"),
                                  20000);
        QCOMPARE(dialog.bannerLabel()->text(), QStringLiteral("No recording on: 3 Mar, 6 Mar, 9 Mar"));
        // "›" on the current month does nothing.
        dialog.nextButton()->click();
        QCOMPARE(dialog.month(), QDate(2026, 3, 1));
        // Known months are not asked again.
        dialog.prevButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isKnown(QDate(2026, 2, 1)), 20000);
        const int asked = dialog.monthRequests();
        dialog.nextButton()->click();
        QTRY_COMPARE(dialog.coverageLabel()->text(), QStringLiteral("27 of 30 days recorded (90%)"));
        QCOMPARE(dialog.monthRequests(), asked);
    }

    void windowIntoThePreviousMonth()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2026, 3, 10), QTime(12, 0), Qt::LocalTime).toUTC());
        Prefs::set(Prefs::kNativeWindowDays, 30);
        hik.recorded.clear();
        for (int d = 10; d <= 19; ++d)
            hik.recorded.insert(QDate(2026, 2, d)); // 9 Feb, 20..28 Feb and 1..10 Mar missing: 20 days
        hik.clearLog();
        CalendarDialog dialog(hall);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.coverageLabel()->text(), QStringLiteral("10 of 30 days recorded (33%)"),
                                  20000);
        QCOMPARE(dialog.coverageBar()->property("level").toString(), QStringLiteral("bad"));
        // The shown month first, then the one the window reaches back into.
        QStringList asked;
        for (const kvrtest::FakeRequest& r : hik.requests())
            if (r.served && r.path().endsWith(QLatin1String("dailyDistribution")))
                asked << QString::fromUtf8(r.body).section(QLatin1String("<monthOfYear>"), 1).left(1);
        QCOMPARE(asked, (QStringList{QStringLiteral("3"), QStringLiteral("2")}));
        QVERIFY(dialog.bannerLabel()->text().startsWith(QStringLiteral("No recording on: 9 Feb, 20 Feb, 21 Feb, ")));
    }

    void failedMonthLeavesCoverageUnknown()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2026, 3, 20), QTime(12, 0), Qt::LocalTime).toUTC());
        kvrtest::FakeDevice::Reply broken;
        broken.status = 500;
        hik.script(QStringLiteral("/ISAPI/ContentMgmt/record/tracks/101/dailyDistribution"), broken);
        CalendarDialog dialog(hall);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.coverageLabel()->text(), QStringLiteral("Coverage unknown"), 20000);
        QVERIFY(!dialog.grid()->state().known && dialog.banner()->isHidden());
    }

    void clipsOfADay()
    {
        const QDate day = QDate::currentDate().addDays(-1);
        const auto at = [&](int h, int m, int s = 0) { return QDateTime(day, QTime(h, m, s)); };
        hik.clips = {{at(10, 0), at(10, 15)}, {at(10, 15, 2), at(10, 30)}, {at(12, 0), at(12, 0, 20)}};
        CalendarDialog dialog(hall);
        dialog.selectDay(day);
        QCOMPARE(dialog.dayStatus()->text(), QStringLiteral("Checking"));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.clipList()->count(), 2, 20000);
        QCOMPARE(dialog.clipList()->item(0)->text(), QStringLiteral("10:00:00 \u2013 10:30:00   (30 min)"));
        QCOMPARE(dialog.dayStatus()->text(), QStringLiteral("2 recordings. Times are the device's clock."));

        QString title;
        Modal::respond([&](QDialog& d) {
            title = d.windowTitle();
            return int(QDialog::Accepted);
        });
        dialog.playButton()->click();
        QTRY_COMPARE(title, QStringLiteral("1 Camera 1 \u00b7 Hall NVR"));

        // Another stream asks for the day again.
        const int searches = hik.servedCount(QStringLiteral("/ISAPI/ContentMgmt/search"));
        dialog.streamBox()->setCurrentIndex(1);
        QCOMPARE(dialog.dayStatus()->text(), QStringLiteral("Checking"));
        QTRY_VERIFY_WITH_TIMEOUT(hik.servedCount(QStringLiteral("/ISAPI/ContentMgmt/search")) > searches, 20000);
        // Another camera forgets the day.
        dialog.channelBox()->setCurrentIndex(1);
        QVERIFY(dialog.clipList()->count() == 0 && !dialog.playButton()->isEnabled());
    }

    void brandsWithoutACalendar()
    {
        const QString lapi = addDevice(deviceFor(QStringLiteral("Gate cam"), QStringLiteral("UNIVIEW"), 1, 1, 1));
        CalendarDialog dialog(lapi);
        QCOMPARE(dialog.noteLabel()->text(), QStringLiteral("This brand has no recording calendar yet."));
        QVERIFY(!dialog.channelBox()->isEnabled() && !dialog.prevButton()->isEnabled());
        CalendarDialog unknown(QStringLiteral("gone"));
        QCOMPARE(unknown.coverageLabel()->text(), QStringLiteral("Not available"));
        NativeStore::instance().removeDevice(lapi);
    }

    void monthGridClicks()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2026, 3, 20), QTime(12, 0), Qt::LocalTime).toUTC());
        MonthGrid grid;
        grid.resize(420, 326);
        grid.show();
        QSignalSpy clicked(&grid, &MonthGrid::dayClicked);
        grid.setMonth(QDate(2026, 3, 1), {1, 2}, true, QDate(2026, 2, 20));
        QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.cellRect(26).center().toPoint()); // 21 March
        QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.cellRect(6).center().toPoint());
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(clicked.first().first().toDate(), QDate(2026, 3, 1));
    }
};

KVR_TEST_MAIN(TestLiveDialogs)
#include "tst_live_dialogs.moc"
