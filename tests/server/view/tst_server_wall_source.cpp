// The server-mode camera source of the video wall: its id, title, camera list
// and tile labels as plain rules over a catalogue; then its tiles against the
// fake organisation server through the application's own server client: the
// wall's owner, the stream asked for, the frame-rate cap, the start slot that
// always comes back once, and stopping without waiting.

#include "app/context/AppContext.h"
#include "app/ui/Theme.h"
#include "server/view/CameraTile.h"
#include "server/view/ServerWallSource.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/server/view/ViewTestSupport.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"
#include "wall/VideoWallRules.h"

#include <QPointer>

using namespace kvr::ui;
using namespace kvr::wall;
using namespace kvr::api;
using namespace kvr::context;
using namespace kvr::view;

using viewtest::control;
using viewtest::hover;

namespace {

// States as one letter: '+' online, '-' offline, '?' unknown.
Channel channel(const char* id, const char* name, int number, char state = '?')
{
    return {id, {}, name, number, state == '+', state != '?', false};
}

Device device(const char* id, const char* name, char state, QList<Channel> channels)
{
    for (Channel& c : channels)
        c.deviceId = id;
    return {id, {}, name, {}, {}, state == '+', state != '?', {}, channels};
}

// Two sites, one of them empty, devices with one and with several channels,
// names missing, every online state.
QList<Site> sampleCatalogue()
{
    return {{.id = "s1",
             .name = "North gate",
             .loading = false,
             .devices = {device("d1", "Recorder A", '+', {channel("c1", "Gate", 1, '+'), channel("c2", "", 2)}),
                         device("d2", "Recorder B", '-', {channel("c3", "Yard", 1, '+')})}},
            {.id = "s2", .name = "Warehouse", .loading = false, .devices = {}},
            {.id = "s3",
             .name = "South",
             .loading = false,
             .devices = {device("d3", "NVR South", '?', {channel("c4", "Door", 1, '-'), channel("c5", "Lift", 4)})}}};
}

} // namespace

class ServerWallSourceTest : public QObject {
    Q_OBJECT

    orgserver::FakeOrgServer server;
    QList<Site> served; // the fake server's catalogue as the client read it
    ServerWallSource source;

    AppContext& context() { return AppContext::instance(); }

    QList<QPointer<CameraTile>> made;
    CameraTile* tile(const QString& cameraId, std::function<void()> onExpand = {})
    {
        auto* t = qobject_cast<CameraTile*>(source.makeTile(cameraId, nullptr, std::move(onExpand)));
        if (t) {
            t->resize(360, 220);
            t->show();
            made << t;
        }
        return t;
    }
    QString servedId(int i) const { return served.at(0).devices.at(0).channels.at(i).id; }
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.populate(1, 2, 3);
        server.sites[0].devices[1].online = false;
        QVERIFY(viewtest::signInAndLoad(server));
        served = context().sites;
    }

    void init()
    {
        context().sites = served;
        context().orgId = server.orgId;
        context().orgName = server.orgName;
        server.clearRequests();
        server.clearScripts();
        server.rtspsTicketUrl.clear();
    }

    void cleanup()
    {
        for (const QPointer<CameraTile>& t : std::exchange(made, {})) {
            if (!t)
                continue;
            source.requestStop(t);
            source.stop(t);
            delete t.data();
        }
        QTRY_VERIFY_WITH_TIMEOUT(server.streams.isEmpty(), 10000);
    }

    // ---- Rules -------------------------------------------------------------

    void idNamesTheServersHostAndTheOrganisation()
    {
        const char* rows[][3] = {
            {"https://api.kavira.example/v2/", "7", "server/api.kavira.example/7"},
            {"http://127.0.0.1:8480/x", "12", "server/127.0.0.1/12"}, // port and path dropped
            {"HTTPS://API.Kavira.Example", "7", "server/api.kavira.example/7"},
            {"http://[::1]:8480/", "3", "server/::1/3"},
            {"https://ops:pw@10.0.0.5/", "3", "server/10.0.0.5/3"}, // user info dropped
        };
        for (const auto& r : rows)
            QCOMPARE(ServerWallSource::idFor(r[0], r[1]), QString(r[2]));

        // The chosen organisation, else the user's.
        const UserProfile before = context().user;
        const char* owners[][6] = {{"7", "Demo Organisation", "2", "Head office", "/7", "Demo Organisation"},
                                   {"", "", "2", "Head office", "/2", "Head office"},
                                   {"", "", "", "", "/default", ""}};
        for (const auto& r : owners) {
            context().orgId = r[0];
            context().orgName = r[1];
            context().user.organisationId = r[2];
            context().user.organisationName = r[3];
            QCOMPARE(source.id() + " " + source.title(), "server/127.0.0.1" + QString(r[4]) + " " + r[5]);
        }
        context().user = before;
    }

    void camerasAndTileLabelsFromTheCatalogue()
    {
        QStringList got;
        for (const VideoWall::Camera& c : ServerWallSource::camerasIn(sampleCatalogue()))
            got << QStringList{c.id, c.title, c.device, c.site, c.offline ? "offline" : "-"}.join(" | ");
        const QStringList expected{
            "c1 | Gate | Recorder A | North gate | -",
            "c2 | Camera 2 | Recorder A | North gate | -",
            "c3 | Yard | Recorder B | North gate | offline",
            "c4 | Door | NVR South | South | offline",
            "c5 | Lift | NVR South | South | -",
        };
        QCOMPARE(got, expected);
        context().sites = sampleCatalogue();
        QCOMPARE(source.cameras().size(), 5);

        // Tile labels from the same catalogue.
        const QList<Site>& sites = context().sites;
        const Device& two = sites[0].devices[0];   // two channels
        const Device& one = sites[0].devices[1];   // one channel, offline
        const Device& south = sites[2].devices[0]; // unknown state
        const std::tuple<const Channel*, const Device*, const char*> rows[] = {
            {nullptr, nullptr, "Camera not in this organisation | offline"},
            {&two.channels[0], nullptr, "Camera not in this organisation | -"}, // device missing
            {&one.channels[0], &one, "Recorder B | offline"},
            {&two.channels[0], &two, "Recorder A · Gate | -"},
            {&two.channels[1], &two, "Recorder A · Camera 2 | -"}, // channel without a name
            {&south.channels[0], &south, "NVR South · Door | offline"},
            {&south.channels[1], &south, "NVR South · Lift | -"}, // nothing known
        };
        for (const auto& [c, d, shown] : rows) {
            const ServerWallSource::TileLabel label = ServerWallSource::tileLabelFor(c, d);
            QCOMPARE(label.title + (label.offline ? " | offline" : " | -"), QString(shown));
        }
    }

    // ---- Tiles -------------------------------------------------------------

    void tilesAreVideoWallTilesHeldAndTunedByTheWall()
    {
        int expands = 0;
        CameraTile* t = tile(servedId(1), [&] { ++expands; });
        QCOMPARE(QString("%1 %2 %3 %4").arg(t->owner).arg(t->inVideoWall).arg(t->isOffline()).arg(t->title()),
                 QString("videowall 1 0 Recorder 1-1 · Camera 2"));
        hover(t); // the wall's own buttons only
        QVERIFY(control(t, "Fill the wall with this camera")->isVisible());
        const QAbstractButton* open = control(t, "Open full view (with sound)");
        QVERIFY(!open || !open->isVisible());
        control(t, "Fill the wall with this camera")->click();
        QTest::mouseDClick(t, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(expands, 2);
        // The wall's windows take the application's style.
        QCOMPARE(source.tileStyle(), Theme::appStyle());
        // The wall reaches the tile's own retry through the source; a widget
        // that is not one of its tiles has none.
        QWidget plain;
        QVERIFY(t->retry() && source.tileRetry(t) == t->retry());
        QVERIFY(!source.tileRetry(&plain) && !source.tileRetry(nullptr));

        // Its frame rate is capped by the tiles shown; its decoding stays its own
        // choice (the decode settings' hardware decoding, set as it plays).
        const bool decoding = true;
        t->player()->controls().hardwareDecode = decoding;
        source.tune(t, 9, 120);
        QCOMPARE(t->player()->controls().maxFps.load(), double(VideoWall::VideoWallRules::fpsCapFor(9)));
        QCOMPARE(t->player()->controls().hardwareDecode.load(), decoding);
    }

    void startAsksForTheChosenStreamUnderTheWallsOwner()
    {
        CameraTile* sub = tile(servedId(0));
        CameraTile* main = tile(servedId(1));
        int started = 0;
        source.start(sub, false, [&] { ++started; });
        source.start(main, true, [&] { ++started; });
        QVERIFY(!sub->useMain() && main->useMain());
        QTRY_COMPARE_WITH_TIMEOUT(started, 2, 10000);
        QStringList asked;
        for (const orgserver::Request& r : server.requestsTo("/v2/api/start/live/stream/"))
            asked << r.queryValue("camera_id") + " " + r.queryValue("stream_type");
        QVERIFY(asked.contains(servedId(0) + " SUB_STREAM") && asked.contains(servedId(1) + " MAIN"));
        QCOMPARE(server.streams.size(), 2);

        // The client holds both under the wall's owner: giving back that
        // holder's streams ends both (the real-video suite keeps another holder's).
        context().api.stopLive("videowall");
        QTRY_VERIFY_WITH_TIMEOUT(server.streams.isEmpty(), 10000);
        QCOMPARE(server.countOf("/v2/api/stop/live/stream/"), 2);
    }

    // The controller's start slot comes back through `started`: once, and
    // only once, whatever the tile goes through before the server answers;
    // an unknown or offline camera answers at once, asking the server nothing.
    void startedComesBackOnceWhateverBecomesOfTheTile_data()
    {
        QTest::addColumn<QString>("meanwhile");
        for (const char* row : {"nothing", "stopped", "wall stop", "deleted", "discarded", "started again",
                                "server fails", "server hangs up", "unknown camera", "offline camera"})
            QTest::newRow(row) << row;
    }
    void startedComesBackOnceWhateverBecomesOfTheTile()
    {
        QFETCH(QString, meanwhile);
        if (meanwhile == "server fails")
            server.script("/v2/api/start/live/stream/", orgserver::Answer::json(500, {{"message", "Relay down"}}));
        if (meanwhile == "server hangs up")
            server.script("/v2/api/start/live/stream/", orgserver::Answer::hangUp(), -1);
        const bool offline = meanwhile.endsWith("camera");
        QPointer<CameraTile> t = tile(meanwhile == "unknown camera"       ? QString("9999999")
                                          : meanwhile == "offline camera" ? served[0].devices[1].channels[0].id
                                                                          : servedId(2));
        QCOMPARE(t->isOffline(), offline);
        int first = 0, second = 0;
        QString shownWhenStarted; // the wall's slot comes back once the answer shows
        source.start(t, true, [&] {
            ++first;
            if (t)
                shownWhenStarted = t->url().isEmpty() ? t->videoStage()->headlineText() : QStringLiteral("url");
        });
        QCOMPARE(first, int(offline)); // else the server has not answered yet
        if (meanwhile == "wall stop")
            source.requestStop(t);
        if (meanwhile == "stopped" || meanwhile == "wall stop" || meanwhile == "started again")
            source.stop(t);
        if (meanwhile == "started again")
            source.start(t, false, [&] { ++second; });
        if (meanwhile == "deleted")
            delete t.data();
        if (meanwhile == "discarded")
            CameraTile::discardTiles({t.data()});
        const QString once = meanwhile == "started again" ? "1 1" : "1 0";
        QTRY_COMPARE_WITH_TIMEOUT(QString("%1 %2").arg(first).arg(second), once, 20000);
        // Let every late answer and retry land: still once each.
        QTest::qWait(500);
        QCOMPARE(QString("%1 %2").arg(first).arg(second), once);
        if (meanwhile == "nothing")
            QVERIFY(t && t->isStarted() && !t->url().isEmpty() && shownWhenStarted == "url");
        if (meanwhile.startsWith("server"))
            QVERIFY(t->videoStage()->headlineText() == "Can’t play this stream"
                    && shownWhenStarted == t->videoStage()->headlineText());
        if (offline)
            QVERIFY(t->videoStage()->headlineText() == "Offline" && !server.countOf("/v2/api/start/live/stream/"));
        if (meanwhile == "deleted" || meanwhile == "discarded")
            QTRY_VERIFY(!t);
        if (meanwhile == "stopped" || meanwhile == "wall stop" || meanwhile == "discarded")
            QTRY_VERIFY_WITH_TIMEOUT(server.streams.isEmpty(), 10000);
        // A tile deleted without a stop keeps its stream, as the tile says;
        // the wall always stops its tiles first.
        if (meanwhile == "deleted")
            context().api.stopLive("videowall");
    }

    // The wall asks every tile to stop, then stops each: the first lets the
    // player go without waiting for it, the second gives the stream back.
    void requestStopLetsThePlayerGoAndStopGivesTheStreamBack()
    {
        // Every stream plays from a peer that never answers, so the player
        // stays busy opening it.
        server.rtspsTicketUrl = viewtest::silentRtsp();
        CameraTile* t = tile(servedId(0));
        int started = 0;
        source.start(t, true, [&] { ++started; });
        QTRY_COMPARE_WITH_TIMEOUT(started, 1, 10000);
        QCOMPARE(t->url().section('@', 1), viewtest::silentRtsp().section("//", 1));
        QVERIFY(t->player()->isRunning());

        source.requestStop(t);
        QVERIFY(!t->player()->isRunning());
        QVERIFY(t->isStarted());
        QTest::qWait(200);
        QCOMPARE(server.countOf("/v2/api/stop/live/stream/"), 0);

        source.stop(t);
        QVERIFY(!t->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(server.streams.isEmpty(), 10000);
        QCOMPARE(server.countOf("/v2/api/stop/live/stream/"), 1);
    }
};

KVR_TEST_MAIN(ServerWallSourceTest)

#include "tst_server_wall_source.moc"
