// Recording calendars, availability, cloud days and cloud playlists.
#include "tests/server/api/ApiTestSupport.h"

#include <QFile>
#include <QTemporaryDir>

using orgserver::Answer;
using orgserver::Request;

class ApiRecordingsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { apitest::installLoopbackGuard(); }

    void deviceCalendar()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        QList<QDate> days;
        bool supported = false;
        QString error = "x";
        bool done = false;
        auto cb = [&](const QList<QDate>& d, bool s, const QString& e) {
            days = d;
            supported = s;
            error = e;
            done = true;
        };
        rig.client->fetchPlaybackCalendar("100001", 3, 2024, 5, cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(error.isEmpty());
        QVERIFY(supported);
        QCOMPARE(days.size(), 5);
        QCOMPARE(days.first(), QDate(2024, 5, 1));
        const Request r = rig.server.requestsTo("/v2/api/playback/calendar/").first();
        QCOMPARE(r.rawQuery, QString("device_id=100001&year=2024&month=5&channel_id=3"));

        rig.server.script("/v2/api/playback/calendar/", Answer::json(200, {{"data", QJsonObject{{"supported", false}}}}));
        done = false;
        rig.client->fetchPlaybackCalendar("100001", 1, 2024, 5, cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(!supported);
        QVERIFY(days.isEmpty());

        rig.server.script("/v2/api/playback/calendar/", Answer::json(502, {{"message", "Recorder offline"}}));
        done = false;
        rig.client->fetchPlaybackCalendar("100001", 1, 2024, 5, cb);
        QVERIFY(apitest::waitFor(done));
        QCOMPARE(error, QString("Recorder offline"));
        QVERIFY(supported);

        // No answer at all is an error, not a month without recordings.
        rig.server.script("/v2/api/playback/calendar/", Answer::hangUp(), -1);
        done = false;
        rig.client->fetchPlaybackCalendar("100001", 1, 2024, 5, cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(!error.isEmpty());
        QVERIFY(days.isEmpty());
    }

    void dayAvailability()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        QList<std::pair<double, double>> ranges;
        QString error = "x";
        bool done = false;
        auto cb = [&](const QList<std::pair<double, double>>& r, bool, const QString& e) {
            ranges = r;
            error = e;
            done = true;
        };
        rig.client->fetchPlaybackAvailability("5000001", QDate(2024, 5, 3), cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(error.isEmpty());
        QCOMPARE(ranges.size(), 2);
        QCOMPARE(ranges[1].first, 8 * 3600.0);
        QCOMPARE(ranges[1].second, 86399.0);
        QCOMPARE(rig.server.requestsTo("/v2/api/playback/availability/").first().rawQuery,
                 QString("camera_id=5000001&date=2024-05-03"));

        rig.server.script("/v2/api/playback/availability/", Answer::hangUp(), -1);
        done = false;
        rig.client->fetchPlaybackAvailability("5000001", QDate(2024, 5, 3), cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(!error.isEmpty());
    }

    void cloudDays()
    {
        kvrtest::TestClock clock;
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        QList<QDate> days;
        QString error = "x";
        bool done = false;
        auto cb = [&](const QList<QDate>& d, const QString& e) {
            days = d;
            error = e;
            done = true;
        };
        const QString deviceId = rig.server.sites[0].devices[0].id;
        const QString cameraId = rig.server.sites[0].devices[0].cameras[1].id;
        rig.client->fetchCloudDates(deviceId, cameraId, cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(error.isEmpty());
        QCOMPARE(days.size(), 3);
        QCOMPARE(days.last(), clock.nowUtc().date());
        const Request r = rig.server.requestsTo("/v2/api/cloud/recording/dates/").first();
        QCOMPARE(r.rawQuery, QString("device_id=%1&stream_type=MAIN").arg(deviceId));

        rig.server.script("/v2/api/cloud/recording/dates/", Answer::json(200, {{"cameras", QJsonArray{}}}));
        done = false;
        rig.client->fetchCloudDates(deviceId, cameraId, cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(days.isEmpty() && error.isEmpty());

        rig.server.script("/v2/api/cloud/recording/dates/", Answer::hangUp(), -1);
        done = false;
        rig.client->fetchCloudDates(deviceId, cameraId, cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(days.isEmpty());
        QVERIFY(!error.isEmpty());
    }

    void cloudPlaylist()
    {
        kvrtest::LogCapture log;
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        QTemporaryDir dir;
        QFile seg(dir.filePath("seg0.ts"));
        QVERIFY(seg.open(QIODevice::WriteOnly));
        seg.write("x");
        seg.close();
        rig.server.hlsDir = dir.path();
        const QString cameraId = rig.server.sites[0].devices[0].cameras[0].id;

        QByteArray playlist;
        QString error = "x";
        bool done = false;
        auto cb = [&](const QByteArray& p, const QString& e) {
            playlist = p;
            error = e;
            done = true;
        };
        rig.client->fetchCloudPlaylist({cameraId, QDate(2024, 5, 3), " 09:00:00 ", "current"}, cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(error.isEmpty());
        QVERIFY(playlist.startsWith("#EXTM3U"));
        QVERIFY(playlist.contains("seg0.ts"));
        const Request r = rig.server.requestsTo("/v2/api/cloud/playback/").first();
        QCOMPARE(r.queryValue("start_time"), QString("09:00"));
        QCOMPARE(r.queryValue("end_time"), QString("current"));
        QCOMPARE(r.queryValue("stream_type"), QString("MAIN"));
        QCOMPARE(r.header("accept"), QByteArray("application/vnd.apple.mpegurl, application/json"));
        QVERIFY(r.header("authorization").startsWith("Bearer "));
        QVERIFY(r.header("x-spa-secret").isEmpty());
        QVERIFY(log.contains("[cloud] requesting playlist: camera_id=" + cameraId));
        QVERIFY(log.contains("[cloud] playlist HTTP 200"));

        rig.server.hlsDir.clear();
        done = false;
        rig.client->fetchCloudPlaylist({cameraId, QDate(2024, 5, 3), "09:00", "10:00"}, cb);
        QVERIFY(apitest::waitFor(done));
        QCOMPARE(error, QString("No cloud recording for this time."));
        QVERIFY(playlist.isEmpty());
    }

    void cloudPlaylistRenewsOnce()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        rig.server.script("/v2/api/cloud/playback/", Answer::json(401, {}));
        rig.server.script("/v2/api/cloud/playback/", Answer::text(200, "#EXTM3U\n#EXT-X-ENDLIST\n"));
        QByteArray playlist;
        QString error = "x";
        bool done = false;
        auto cb = [&](const QByteArray& p, const QString& e) {
            playlist = p;
            error = e;
            done = true;
        };
        rig.client->fetchCloudPlaylist({"5000001", QDate(2024, 5, 3), "09:00", "10:00"}, cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(error.isEmpty());
        QVERIFY(playlist.startsWith("#EXTM3U"));
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 1);
        QCOMPARE(rig.server.countOf("/v2/api/cloud/playback/"), 2);

        rig.server.script("/v2/api/cloud/playback/", Answer::json(401, {}), 2);
        done = false;
        rig.client->fetchCloudPlaylist({"5000001", QDate(2024, 5, 3), "09:00", "10:00"}, cb);
        QVERIFY(apitest::waitFor(done));
        QCOMPARE(error, QString("Cloud playback failed (HTTP 401)."));
        QCOMPARE(rig.server.countOf("/v2/api/cloud/playback/"), 4);

        rig.server.revokeAll();
        rig.server.script("/v2/api/cloud/playback/", Answer::json(401, {}));
        done = false;
        rig.client->fetchCloudPlaylist({"5000001", QDate(2024, 5, 3), "09:00", "10:00"}, cb);
        QVERIFY(apitest::waitFor(done));
        QCOMPARE(error, QString("Your session has expired. Please sign in again."));

        rig.server.script("/v2/api/cloud/playback/", Answer::hangUp(), -1);
        done = false;
        rig.client->fetchCloudPlaylist({"5000001", QDate(2024, 5, 3), "09:00", "10:00"}, cb);
        QVERIFY(apitest::waitFor(done));
        QVERIFY(!error.isEmpty());
        QVERIFY(playlist.isEmpty());
    }
};

KVR_TEST_MAIN(ApiRecordingsTest)
#include "tst_api_recordings.moc"
