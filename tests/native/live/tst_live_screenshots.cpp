// Screenshots of the native live view for a person to look at, written to
// build/screenshots/: the live wall of nine real pictures with one refused
// camera, playback with the day's footage, and the stream, snapshots and
// recording calendar dialogs. A few pixels are sampled where a colour is the
// rule.

#include "app/core/Settings.h"
#include "app/ui/Theme.h"
#include "app/ui/TimelineBar.h"
#include "native/live/CalendarDialog.h"
#include "native/live/MonthGrid.h"
#include "native/live/SnapshotsDialog.h"
#include "native/live/StreamDialog.h"
#include "native/live/VmsPage.h"
#include "native/live/VmsTile.h"
#include "native/screens/NativeStyle.h"
#include "native/services/Brands.h"
#include "tests/native/live/LiveTestKit.h"
#include "video/VideoStage.h"

#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimeEdit>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::screens;
using namespace kvr::live;

using namespace livetest;

namespace {
bool save(QWidget& w, const QString& name)
{
    QDir().mkpath(QStringLiteral(KVR_SCREENSHOT_DIR));
    return w.grab().save(QStringLiteral(KVR_SCREENSHOT_DIR "/") + name);
}
// A styled wall page of the stored wall, shown and active.
void open(VmsPage& page)
{
    page.setStyleSheet(NativeStyle::stylesheet());
    page.resize(1440, 860);
    page.show();
    page.activate();
}
bool allSettled(const VmsPage& page)
{
    const QList<VmsTile*> tiles = page.tiles();
    return std::all_of(tiles.begin(), tiles.end(), [](VmsTile* t) { return t->isPlaying() || t->isFailed(); });
}
} // namespace

class TestLiveScreenshots : public QObject {
    Q_OBJECT
private:
    peers::Peer rtsp;
    kvrtest::FakeDevice dahua{kvrtest::FakeDevice::Kind::Dahua};
    kvrtest::FakeDevice hik{kvrtest::FakeDevice::Kind::Isapi};
    QString yard;
    QString hall;

private Q_SLOTS:
    void initTestCase()
    {
        Theme::useProgramFont();
        Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu")); // pictures a grab can see
        QVERIFY(startRecorderRtsp(rtsp,
                                  {QStringLiteral("--pattern"), QStringLiteral("smpte"), QStringLiteral("--size"),
                                   QStringLiteral("640x360")}));
        QVERIFY(dahua.start());
        QVERIFY(hik.start());
        Native::Site depot;
        depot.name = QStringLiteral("Depot");
        const QString site = NativeStore::instance().addSite(depot);
        yard = addDevice(
            deviceFor(QStringLiteral("Yard DVR"), QStringLiteral("DAHUA"), dahua.httpPort(), rtsp.port, 8, site));
        nameCameras(yard,
                    QStringLiteral("Front gate,Loading bay,Car park east,Car park west,Reception,Stores,Workshop,"
                                   "Back door")
                        .split(QLatin1Char(',')));
        setOnline(yard, {1, 2, 3, 4, 5, 6, 7, 8}, 8);
        Native::Device h =
            deviceFor(QStringLiteral("Hall NVR"), QStringLiteral("HIKVISION"), hik.httpPort(), rtsp.port, 6, site);
        h.ignored = {6};
        hall = addDevice(h);
        nameCameras(hall, QStringLiteral("Lobby,Stairs,Lift,Roof,Server room").split(QLatin1Char(',')));
        Native::ProbeResult up;
        up.health.internet = up.health.device = Native::Passed;
        NativeStore::instance().applyProbe(hall, up);
    }

    void liveWallWithARefusedCamera()
    {
        peers::Peer refusing;
        QVERIFY(peers::startProxy(refusing, rtsp.port, QStringLiteral("refuse")));
        const QString gate = addDevice(
            deviceFor(QStringLiteral("Gatehouse"), QStringLiteral("DAHUA"), dahua.httpPort(), refusing.port, 1));
        nameCameras(gate, {QStringLiteral("Barrier")});
        QStringList wall;
        for (int c = 1; c <= 8; ++c)
            wall << QStringLiteral("%1#%2").arg(yard).arg(c);
        wall.insert(4, gate + QStringLiteral("#1"));
        Prefs::set(Prefs::kNativeVmsWall, wall);
        VmsPage page;
        open(page);
        QTRY_VERIFY_WITH_TIMEOUT(page.tiles().at(4)->isFailed() && allSettled(page), 30000);
        QTest::qWait(600); // a few pictures in
        const QImage img = page.grab().toImage();
        QVERIFY(save(page, QStringLiteral("native-live-wall.png")));
        // The side panel wears the wall's dark ground, not the window's.
        const QColor side = img.pixelColor(150, 840);
        QVERIFY2(side.lightness() < 80, qPrintable(side.name()));
        page.deactivate();
        NativeStore::instance().removeDevice(gate);
    }

    void playbackWithCoverage()
    {
        const QDate day = QDate::currentDate().addDays(-1);
        const auto at = [&](int h, int m) { return QDateTime(day, QTime(h, m)); };
        dahua.clips = {{at(0, 0), at(6, 30)}, {at(7, 0), at(13, 45)}, {at(14, 10), at(23, 59)}};
        hik.clips = {{at(8, 0), at(12, 0)}};
        Prefs::set(Prefs::kNativeVmsWall,
                   {yard + QStringLiteral("#1"), yard + QStringLiteral("#2"), hall + QStringLiteral("#1"),
                    yard + QStringLiteral("#3")});
        VmsPage page;
        open(page);
        page.setMode(true);
        page.dayEdit()->setDate(day);
        QTRY_VERIFY_WITH_TIMEOUT(page.timeline()->coverage().size() == 3, 20000);
        page.startPlaybackAt(QDateTime(day, QTime(9, 30)));
        // The clock follows the tiles' pictures.
        QTRY_VERIFY_WITH_TIMEOUT(allSettled(page) && page.position() >= QDateTime(day, QTime(9, 30, 2)), 30000);
        QVERIFY(save(page, QStringLiteral("native-live-playback.png")));
        page.deactivate();
    }

    void streamDialog()
    {
        const Native::Device d = *NativeStore::instance().device(yard);
        StreamDialog dialog(
            StreamDialog::heading(1, &d.cameras.first().name), d.name,
            [d](bool main) { return NativeBrand::liveUrl(d, 1, main); }, true);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.hadPicture(), 20000);
        QTest::qWait(500);
        const QImage img = dialog.grab().toImage();
        QVERIFY(save(dialog, QStringLiteral("native-stream-dialog.png")));
        // The checked stream button is white on the dark bar.
        const QPoint sub = dialog.subButton()->mapTo(&dialog, dialog.subButton()->rect().center());
        QCOMPARE(img.pixelColor(sub.x() - 12, sub.y()).name(), QStringLiteral("#ffffff"));
    }

    void snapshotsDialog()
    {
        for (int c = 1; c <= 5; ++c) { // a 4:3 picture, wide ones and a busy camera
            kvrtest::FakeDevice::Reply r;
            r.contentType = "image/jpeg";
            r.status = c == 4 ? 503 : 200;
            if (c != 4)
                r.body =
                    pictureBytes(c == 3 ? 1280 : 1920, c == 3 ? 960 : 1080, "JPG", QColor::fromHsv(c * 70, 140, 190));
            hik.script(QStringLiteral("/ISAPI/Streaming/channels/%1/picture").arg(c * 100 + 1), r);
        }
        SnapshotsDialog dialog(hall, 0);
        dialog.setStyleSheet(NativeStyle::stylesheet());
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(
            dialog.generation() >= 1 && dialog.inFlight() == 0 && dialog.fetchButton()->isEnabled(), 20000);
        QVERIFY(save(dialog, QStringLiteral("native-snapshots.png")));
    }

    void calendarDialog()
    {
        const QDate today = QDate::currentDate();
        Prefs::set(Prefs::kNativeWindowDays, 30);
        hik.recorded.clear();
        for (int d = 0; d < 40; ++d)
            if (d != 5 && d != 6 && d != 17)
                hik.recorded.insert(today.addDays(-d));
        const QDate day = today.addDays(-2);
        hik.clips = {{QDateTime(day, QTime(0, 0)), QDateTime(day, QTime(7, 59, 58))},
                     {QDateTime(day, QTime(8, 0)), QDateTime(day, QTime(12, 30))},
                     {QDateTime(day, QTime(13, 5)), QDateTime(day, QTime(23, 59, 59))}};
        CalendarDialog dialog(hall);
        dialog.setStyleSheet(NativeStyle::stylesheet());
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.coverageLabel()->text().contains(QLatin1String("days recorded")), 20000);
        if (day.month() == today.month())
            dialog.selectDay(day);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.clipList()->count() > 0 || day.month() != today.month(), 20000);
        QTest::qWait(100);
        QVERIFY(save(dialog, QStringLiteral("native-calendar.png")));
    }
};

KVR_TEST_MAIN(TestLiveScreenshots)

#include "tst_live_screenshots.moc"
