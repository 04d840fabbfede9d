// The stream, snapshots and recording calendar dialogs and the month grid,
// against the RTSP server and fake devices.

#include "app/core/Settings.h"
#include "app/ui/Fitting.h"
#include "app/ui/Modal.h"
#include "app/ui/WheelGuard.h"
#include "native/live/CalendarDialog.h"
#include "native/live/MonthGrid.h"
#include "native/live/SnapshotsDialog.h"
#include "native/live/StreamDialog.h"
#include "native/services/Brands.h"
#include "tests/fixtures/fleet/FakeFleet.h"
#include "tests/native/live/LiveTestKit.h"
#include "tests/support/Drive.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::live;

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

// The calendar of `device` at noon on 20 March 2026, shown, the recorder
// holding one recording of the 19th, from 10:00 to 10:15.
struct NoonOnThe20th {
    kvrtest::TestClock clock{QDateTime(QDate(2026, 3, 20), QTime(12, 0), Qt::LocalTime).toUTC()};
    CalendarDialog dialog;
    NoonOnThe20th(kvrtest::FakeDevice& recorder, const QString& device) : dialog(device)
    {
        const QDate day(2026, 3, 19);
        recorder.clips = {{QDateTime(day, QTime(10, 0)), QDateTime(day, QTime(10, 15))}};
        dialog.show();
    }
};

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

    // Live starts on Sub with its sound and switches to Main. A silent peer
    // and a recording that is not there are told in plain words; a recording
    // that ends keeps its last picture and offers no retry.
    void streamDialog()
    {
        peers::Peer hole;
        QVERIFY(peers::startProxy(hole, rtsp.port, QStringLiteral("stall"), 0, 60000));
        const Native::Device y = *NativeStore::instance().device(yard);
        const Native::Device h = *NativeStore::instance().device(hall);
        const QDateTime from(QDate(2026, 3, 1), QTime(10, 0));
        const auto open = [&](const StreamDialog::UrlFor& urlFor, bool live) {
            auto d = std::make_unique<StreamDialog>(QStringLiteral("1 Gate"), y.name, urlFor, live);
            d->show();
            return d;
        };
        const auto fixed = [](const QString& url) { return [url](bool) { return url; }; };
        auto live = open([y](bool main) { return NativeBrand::liveUrl(y, 1, main); }, true);
        QTRY_VERIFY_WITH_TIMEOUT(live->hadPicture(), 20000);
        QVERIFY(!live->isMain() && live->player()->options().audioEnabled); // the dialog keeps its sound
        live->mainButton()->click();
        QVERIFY(live->isMain() && !live->hadPicture());
        QTRY_VERIFY_WITH_TIMEOUT(live->hadPicture(), 20000);
        live->closeButton()->click();
        QVERIFY(!live->player()->isRunning());

        auto silent = open(fixed(peers::rtspUrl(hole.port)), true);
        silent->noPictureTimer()->start(50); // not ten real seconds
        auto missing = open(fixed(NativeBrand::playbackUrl(h, 1, true, from, from.addSecs(600))), false); // 404
        QTRY_VERIFY_WITH_TIMEOUT(silent->retryButton()->isVisible() && missing->retryButton()->isVisible(), 20000);
        QCOMPARE(silent->stage()->detailText() + "|" + missing->stage()->detailText(),
                 QStringLiteral("No picture after 10 seconds.|Nothing is recorded at this time (or this stream "
                                "isn't recorded)."));
        auto ending = open(fixed(NativeBrand::playbackUrl(y, 1, true, from, from.addSecs(600))), false);
        QTRY_VERIFY_WITH_TIMEOUT(ending->hadPicture(), 20000);
        Q_EMIT ending->player()->status(QStringLiteral("Stream ended"), QStringLiteral("End of file"));
        QVERIFY(!ending->retryButton()->isVisible()
                && ending->stage()->headlineText() != QStringLiteral("Can\u2019t play this stream"));
    }

    // ---- Snapshots dialog ----

    // Four asked at a time; a new fetch mid-way drops the older replies; a
    // dialog opened again shows the cache and one camera refreshes alone.
    void cardsFillAtMostFourAtATime()
    {
        scriptPictures(300);
        SnapshotsDialog dialog(hall, 0);
        dialog.show();
        QCOMPARE(cardTexts(dialog), QStringList(7, QStringLiteral("Checking"))); // 9 cameras, 2 ignored
        QTRY_VERIFY(dialog.inFlight() == 4);
        QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("Checking 0 of 7"));
        dialog.fetchButton()->setEnabled(true);
        dialog.fetchButton()->click();
        QCOMPARE(dialog.generation(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(fetched(dialog), 20000);
        QCOMPARE(dialog.maxInFlightSeen(), 4);
        QCOMPARE(cardTexts(dialog), QStringList(7, QStringLiteral("picture")));
        QTest::qWait(100);
        const int asked = pictureRequests();
        SnapshotsDialog again(hall, 0);
        QTest::qWait(100);
        QCOMPARE(cardTexts(again), QStringList(7, QStringLiteral("picture")));
        SnapshotsDialog one(hall, 4);
        QTRY_COMPARE_WITH_TIMEOUT(pictureRequests(), asked + 1, 20000);
    }

    // Tab reaches each card, named with its camera; Enter or Space on it
    // opens that camera live as a double-click does, not with a modifier.
    // The cards are made anew as pictures come: the focus stays on its
    // camera's card.
    void aCardOpensItsCameraByTheKeys()
    {
        scriptPictures(0);
        SnapshotsDialog dialog(hall, 0);
        dialog.show();
        QVERIFY(drive::activate(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(fetched(dialog), 20000);
        const auto focusedCard = [] { return dynamic_cast<SnapshotsDialog::Tile*>(QApplication::focusWidget()); };
        QVERIFY(drive::tabTo(&dialog, [](QWidget* w) {
            const auto* card = dynamic_cast<SnapshotsDialog::Tile*>(w);
            return card && card->channel == 3;
        }));
        QPointer<SnapshotsDialog::Tile> card = focusedCard();
        QCOMPARE(card->accessibleName(), dialog.cards().at(1)->findChildren<ElidedLabel*>().first()->fullText());
        QVERIFY(card->accessibleName().contains(QStringLiteral("3")));
        QStringList opened;
        const auto watch = [&opened](QDialog& d) {
            opened << d.windowTitle();
            return int(QDialog::Rejected);
        };
        Modal::respond(watch);
        Modal::respond(watch);
        QTest::keyClick(card, Qt::Key_Return, Qt::ControlModifier);
        QTest::keyClick(card, Qt::Key_Return);
        QTRY_COMPARE(opened.size(), 1);
        QTest::keyClick(card, Qt::Key_Space);
        QTRY_COMPARE(opened.size(), 2);
        QCOMPARE(opened.at(0), opened.at(1));
        QVERIFY2(opened.at(0).startsWith(QStringLiteral("3 ")), qPrintable(opened.at(0)));
        QCOMPARE(Modal::pending(), 0);

        // Pictures that come while another window is active keep the place
        // too, for when the dialog is back.
        QVERIFY(drive::activate(&dialog));
        QWidget elsewhere;
        elsewhere.resize(200, 100);
        elsewhere.show();
        QVERIFY(drive::activate(&elsewhere));
        dialog.fetchButton()->click();
        QTRY_VERIFY(!card);
        QTRY_VERIFY_WITH_TIMEOUT(fetched(dialog), 20000);
        const auto* kept = dynamic_cast<SnapshotsDialog::Tile*>(dialog.focusWidget());
        QVERIFY(kept && kept->channel == 3);
        elsewhere.hide();
        QVERIFY(drive::activate(&dialog));
        QTRY_VERIFY(focusedCard() && focusedCard()->channel == 3);
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

    // The demo's fleet answers its makers' snapshot addresses with a frame of
    // the test camera (a white ball on black), as a real recorder does; the
    // refused login and the device that does not answer say so, and ONVIF
    // has no HTTP address for it.
    void theDemoFleetsSnapshotsArePictures()
    {
        kvrtest::FakeFleet fleet;
        QVERIFY(fleet.start());
        QStringList said;
        QStringList expected;
        for (const kvrtest::FakeFleet::Member& m : fleet.members()) {
            const QString id = addDevice(m.record);
            SnapshotsDialog dialog(id, 0);
            const bool onvif = m.record.manufacturer == QLatin1String("ONVIF");
            QTRY_VERIFY_WITH_TIMEOUT(
                !cardTexts(dialog).contains(QStringLiteral("Checking")) && (onvif || fetched(dialog)), 20000);
            QStringList texts = cardTexts(dialog);
            QString want = QStringLiteral("picture");
            if (onvif) {
                want = QStringLiteral("No snapshot\nNeeds ONVIF snapshot support.");
            } else if (m.role == kvrtest::FakeFleet::Role::WrongPassword) {
                want = QStringLiteral("No snapshot\nLogin refused.");
            } else if (m.role == kvrtest::FakeFleet::Role::Unreachable) {
                // The system's own words for a refused connection.
                texts.replaceInStrings(QRegularExpression(QStringLiteral("^No snapshot\n.+")), QStringLiteral("none"));
                want = QStringLiteral("none");
            }
            said << m.name + QStringLiteral(": ") + texts.join(QStringLiteral(", "));
            expected << m.name + QStringLiteral(": ") + QStringList(int(texts.size()), want).join(QStringLiteral(", "));
            for (const SnapshotRecord& r : SnapshotCache::instance().entry(id)) {
                if (r.picture.isNull())
                    continue;
                const QImage image = r.picture.toImage();
                int white = 0;
                for (int y = 0; y < image.height(); y += 2)
                    for (int x = 0; x < image.width(); x += 2)
                        white += qGray(image.pixel(x, y)) > 200 ? 1 : 0;
                QVERIFY2(white > 0 && white < image.width() * image.height() / 40, qPrintable(m.name));
            }
            NativeStore::instance().removeDevice(id);
        }
        QCOMPARE(said, expected);
    }

    // ---- Recording calendar ----

    // A window reaching back into February: the shown month is asked first,
    // then the other; known months are not asked again; a failed month leaves
    // the coverage unknown.
    void coverageOfTheWindow()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2026, 3, 10), QTime(12, 0), Qt::LocalTime).toUTC());
        Prefs::set(Prefs::kNativeWindowDays, 30);
        hik.recorded.clear();
        for (int d = 10; d <= 19; ++d)
            hik.recorded.insert(QDate(2026, 2, d)); // 9 Feb, 20..28 Feb and 1..10 Mar missing: 20 days
        CalendarDialog dialog(hall);
        QCOMPARE(dialog.coverageLabel()->text(), QStringLiteral("Checking"));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.coverageLabel()->text() + " "
                                      + dialog.coverageBar()->property("level").toString(),
                                  QStringLiteral("10 of 30 days recorded (33%) bad"), 20000);
        QVERIFY(dialog.bannerLabel()->text().startsWith(QStringLiteral("No recording on: 9 Feb, 20 Feb, 21 Feb, ")));
        QStringList asked;
        for (const kvrtest::FakeRequest& r : hik.requests())
            if (r.served && r.path().endsWith(QLatin1String("dailyDistribution")))
                asked << QString::fromUtf8(r.body).section(QLatin1String("<monthOfYear>"), 1).left(1);
        QCOMPARE(asked, (QStringList{QStringLiteral("3"), QStringLiteral("2")}));
        const int requests = dialog.monthRequests();
        dialog.nextButton()->click(); // "›" on the current month does nothing
        dialog.prevButton()->click();
        dialog.nextButton()->click();
        QCOMPARE((std::pair{dialog.month(), dialog.monthRequests()}), (std::pair{QDate(2026, 3, 1), requests}));

        kvrtest::FakeDevice::Reply broken;
        broken.status = 500;
        hik.script(QStringLiteral("/ISAPI/ContentMgmt/record/tracks/101/dailyDistribution"), broken);
        CalendarDialog failed(hall);
        QTRY_COMPARE_WITH_TIMEOUT(failed.coverageLabel()->text(), QStringLiteral("Coverage unknown"), 20000);
        QVERIFY(!failed.grid()->state().known && failed.banner()->isHidden());
    }

    // A click on a day of the grid lists its clips merged; a day after today
    // takes no click.
    void clipsOfADay()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2026, 3, 20), QTime(12, 0), Qt::LocalTime).toUTC());
        const QDate day(2026, 3, 19);
        const auto at = [&](int h, int m, int s = 0) { return QDateTime(day, QTime(h, m, s)); };
        hik.clips = {{at(10, 0), at(10, 15)}, {at(10, 15, 2), at(10, 30)}, {at(12, 0), at(12, 0, 20)}};
        CalendarDialog dialog(hall);
        dialog.show();
        MonthGrid* grid = dialog.grid();
        QTest::mouseClick(grid, Qt::LeftButton, {}, grid->cellRect(26).center().toPoint()); // 21 March
        QVERIFY(!dialog.playButton()->isEnabled() && dialog.dayStatus()->text() != QStringLiteral("Checking"));
        QTest::mouseClick(grid, Qt::LeftButton, {}, grid->cellRect(24).center().toPoint()); // 19 March
        QCOMPARE(dialog.dayStatus()->text(), QStringLiteral("Checking"));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.clipList()->count(), 2, 20000);
        QCOMPARE(dialog.clipList()->item(0)->text(), QStringLiteral("10:00:00 \u2013 10:30:00   (30 min)"));
        QCOMPARE(dialog.dayStatus()->text(), QStringLiteral("2 recordings. Times are the device's clock."));

        Modal::respond([](QDialog&) { return int(QDialog::Accepted); });
        dialog.playButton()->click();
        QTRY_COMPARE(Modal::shown(), QStringList{QStringLiteral("1 Camera 1 \u00b7 Hall NVR")});

        // Another stream asks for the day again.
        const int searches = hik.servedCount(QStringLiteral("/ISAPI/ContentMgmt/search"));
        dialog.streamBox()->setCurrentIndex(1);
        QCOMPARE(dialog.dayStatus()->text(), QStringLiteral("Checking"));
        QTRY_VERIFY_WITH_TIMEOUT(hik.servedCount(QStringLiteral("/ISAPI/ContentMgmt/search")) > searches, 20000);
        // Another camera forgets the day.
        dialog.channelBox()->setCurrentIndex(1);
        QVERIFY(dialog.clipList()->count() == 0 && !dialog.playButton()->isEnabled());
    }

    // The days by the keyboard: Tab reaches them, the arrows move the keys'
    // day (ringed) over the days a click may pick, Enter picks it as a click
    // does and Space plays the recording chosen; a screen reader finds every
    // day of the month named, and picks one.
    void daysByTheKeyboardAndAScreenReader()
    {
        NoonOnThe20th at(hik, hall);
        CalendarDialog& dialog = at.dialog;
        const QDate day(2026, 3, 19);
        QVERIFY(drive::activate(&dialog));
        MonthGrid* grid = dialog.grid();
        QTRY_VERIFY_WITH_TIMEOUT(grid->state().known, 20000);
        QVERIFY(drive::tabTo(&dialog, [grid](QWidget* w) { return w == grid; }));
        QCOMPARE(grid->keyDay(), QDate(2026, 3, 20));
        QTest::keyClick(grid, Qt::Key_Right); // tomorrow takes no pick
        QCOMPARE(grid->keyDay(), QDate(2026, 3, 20));
        QTest::keyClick(grid, Qt::Key_Up);
        QCOMPARE(grid->keyDay(), QDate(2026, 3, 13));
        QTest::keyClick(grid, Qt::Key_Down);
        QTest::keyClick(grid, Qt::Key_Left);
        QCOMPARE(grid->keyDay(), day);
        // The keys' day is ringed in the focus colour, out in the gap over it.
        const QRectF cell = grid->cellRect(24); // 19 March
        const QImage shot = grid->grab().toImage().scaled(grid->size());
        bool ringed = false;
        for (int up = 1; up <= 3; ++up) {
            const QColor c = shot.pixelColor(int(cell.center().x()), int(cell.top()) - up);
            ringed = ringed || (qAbs(c.red() - 0x7f) + qAbs(c.green() - 0xb0) + qAbs(c.blue() - 0xff) < 40);
        }
        QVERIFY(ringed);
        QCOMPARE(dialog.dayStatus()->text(), QString());
        QTest::keyClick(grid, Qt::Key_Return);
        QCOMPARE(dialog.dayStatus()->text(), QStringLiteral("Checking"));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.clipList()->count(), 1, 20000);
        QVERIFY(drive::tabTo(&dialog, [&dialog](QWidget* w) { return w == dialog.clipList(); }));
        Modal::respond([](QDialog&) { return int(QDialog::Accepted); });
        QTest::keyClick(dialog.clipList(), Qt::Key_Space);
        QTRY_COMPARE(Modal::shown(), QStringList{QStringLiteral("1 Camera 1 \u00b7 Hall NVR")});

        QAccessibleInterface* days = QAccessible::queryAccessibleInterface(grid);
        QCOMPARE(days->role(), QAccessible::List);
        QCOMPARE(days->childCount(), 31);
        QAccessibleInterface* eighteenth = days->child(17);
        QVERIFY(eighteenth->text(QAccessible::Name).startsWith(QStringLiteral("Wednesday 18 March 2026, ")));
        QCOMPARE(days->indexOfChild(eighteenth), 17);
        QCOMPARE(eighteenth->parent()->object(), grid);
        QVERIFY(days->child(20)->state().disabled && days->child(20)->actionInterface()->actionNames().isEmpty());
        QVERIFY(days->child(18)->state().selected);
        eighteenth->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(dialog.dayStatus()->text(), QStringLiteral("Checking"));
        QVERIFY(grid->state().selected == QDate(2026, 3, 18) && days->child(17)->state().selected);
        QCOMPARE(days->childAt(grid->mapToGlobal(grid->cellRect(24).center().toPoint()).x(),
                               grid->mapToGlobal(grid->cellRect(24).center().toPoint()).y()),
                 days->child(18));
    }

    // The camera drop-down, focused as the calendar opens, lets a passing
    // wheel go by; chosen with Tab, it turns, until a click on a day takes the
    // focus from it: then the wheel leaves the picked day and Play as they are.
    void aPassingWheelKeepsThePickedDay()
    {
        WheelGuard::install(); // as start-up does
        NoonOnThe20th at(hik, hall);
        CalendarDialog& dialog = at.dialog;
        QVERIFY(drive::activate(&dialog));
        QComboBox* camera = dialog.channelBox();
        const QPoint over = camera->mapTo(&dialog, camera->rect().center());
        QTRY_VERIFY(camera->hasFocus()); // the dialog's first focus
        drive::wheel(&dialog, over);
        QCOMPARE(camera->currentIndex(), 0);
        dialog.nextButton()->setFocus();
        camera->setFocus(Qt::TabFocusReason);
        drive::wheel(&dialog, over);
        QCOMPARE(camera->currentIndex(), 1);
        camera->setCurrentIndex(0);

        MonthGrid* grid = dialog.grid();
        QTest::mouseClick(grid, Qt::LeftButton, {}, grid->cellRect(24).center().toPoint()); // 19 March
        QVERIFY(!camera->hasFocus());
        QTRY_VERIFY_WITH_TIMEOUT(dialog.playButton()->isEnabled(), 20000);
        drive::wheel(&dialog, over);
        drive::wheel(&dialog, over, 1);
        QCOMPARE(camera->currentIndex(), 0);
        QCOMPARE(dialog.clipList()->count(), 1);
        QVERIFY(dialog.playButton()->isEnabled());
    }

    // A brand without known addresses is told at once and nothing is asked of
    // the device: no stream, no snapshot, no calendar. A refused login, a
    // channel without a record or a device that is gone get plain words too.
    void plainWordsForWhatCannotBeShown()
    {
        // A peer of its own, so a late request of an earlier case cannot count.
        kvrtest::FakeDevice idle{kvrtest::FakeDevice::Kind::Isapi};
        QVERIFY(idle.start());
        const QString onvif =
            addDevice(deviceFor(QStringLiteral("Cam"), QStringLiteral("ONVIF"), idle.httpPort(), rtsp.port, 1));
        Modal::answer(QMessageBox::Close);
        StreamDialog::openLive(nullptr, onvif, 1);
        Modal::respond([](QDialog&) { return int(QDialog::Accepted); });
        StreamDialog::openLive(nullptr, yard, 3); // no record for channel 3
        QCOMPARE(
            Modal::shown(),
            (QStringList{QStringLiteral("Can\u2019t play this stream: No stream address is known for this brand yet."),
                         QStringLiteral("3 Camera \u00b7 Yard DVR")}));
        SnapshotsDialog snapshots(onvif, 0);
        QTRY_COMPARE(cardTexts(snapshots), QStringList{QStringLiteral("No snapshot\nNeeds ONVIF snapshot support.")});
        CalendarDialog calendar(onvif);
        QCOMPARE(calendar.noteLabel()->text(), QStringLiteral("This brand has no recording calendar yet."));
        QVERIFY(!calendar.channelBox()->isEnabled() && !calendar.prevButton()->isEnabled());
        QCOMPARE(idle.requestCount(), 0);
        Native::Device wrong =
            deviceFor(QStringLiteral("Wrong"), QStringLiteral("HIKVISION"), hik.httpPort(), rtsp.port, 2);
        wrong.password = QStringLiteral("nope");
        const QString wrongId = addDevice(wrong);
        SnapshotsDialog refused(wrongId, 0);
        QTRY_VERIFY_WITH_TIMEOUT(fetched(refused), 20000);
        QCOMPARE(cardTexts(refused), QStringList(2, QStringLiteral("No snapshot\nLogin refused.")));
        QCOMPARE(CalendarDialog(QStringLiteral("gone")).coverageLabel()->text(), QStringLiteral("Not available"));
        NativeStore::instance().removeDevice(onvif);
        NativeStore::instance().removeDevice(wrongId);
    }
};

KVR_TEST_MAIN(TestLiveDialogs)

#include "tst_live_dialogs.moc"
