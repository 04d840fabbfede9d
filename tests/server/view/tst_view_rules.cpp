// The rules of the server screens, without a window: speeds, the status rule,
// the IST day clock, snapping, cloud playlists and jumps, snapshot names, tile
// overlays, wall pages, labels, quality, caps, overload steps and auto-advance
// timing.

#include "server/view/CameraTileRules.h"
#include "server/view/CameraWallRules.h"
#include "server/view/CloudPlaylist.h"
#include "server/view/Snapshot.h"
#include "server/view/StageRules.h"
#include "tests/support/TestKit.h"

using namespace kvr::core;
using namespace kvr::view;

using kvr::video::PlayerFailure;
using StageRules::Mode;

namespace {

const QDate kDay(2024, 5, 1);

QByteArray playlist(const QList<QByteArray>& segments, double duration = 10)
{
    QByteArray text = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n";
    for (const QByteArray& s : segments)
        text += "#EXTINF:" + QByteArray::number(duration) + ",\n" + s + "\n";
    return text + "#EXT-X-ENDLIST\n";
}

double second(int h, int m, int s)
{
    return h * 3600 + m * 60 + s;
}

// "start+offset" of each read segment.
QString describe(const QList<CloudSegment>& segments)
{
    QStringList out;
    for (const CloudSegment& s : segments)
        out << QString("%1+%2").arg(s.start).arg(s.offset);
    return out.join(' ');
}

} // namespace

class ViewRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void speedTextsAndStatusRule()
    {
        // Text, then k: key pictures only, s: sound.
        QStringList speeds;
        for (double s : StageRules::playbackSpeeds())
            speeds << StageRules::speedText(s) + (StageRules::speedEffect(s).keyframesOnly ? "k" : "")
                    + (StageRules::speedEffect(s).soundEnabled ? "s" : "");
        QCOMPARE(speeds.join(' '), QString("1×s 1.25× 1.5× 2× 4× 8×k 16×k"));

        // Only the recorder's "not found" in device playback means no
        // recording; "Try again" only live.
        const std::tuple<Mode, PlayerFailure, const char*, const char*> rows[] = {
            {Mode::DevicePlayback, PlayerFailure::NotFound, "HTTP 404",
             "No recording on the device for this time. |  | -"},
            {Mode::DevicePlayback, PlayerFailure::Other, "HTTP 404", "Can’t open | HTTP 404 | -"},
            {Mode::DevicePlayback, PlayerFailure::ServerError, "HTTP 500", "Can’t open | HTTP 500 | -"},
            {Mode::CloudPlayback, PlayerFailure::NotFound, "HTTP 404", "Can’t open | HTTP 404 | -"},
            {Mode::LiveView, PlayerFailure::NotFound, "HTTP 404", "Can’t open | HTTP 404 | retry"},
        };
        for (const auto& [mode, failure, detail, shown] : rows) {
            const StageRules::StatusView v = StageRules::statusView(mode, "Can’t open", detail, failure);
            QCOMPARE(QString("%1 | %2 | %3").arg(v.headline, v.detail, v.retry ? "retry" : "-"), QString(shown));
        }
    }

    void secondsOfTheDaySnappingAndTheIstClockWhateverTheComputerSays()
    {
        const std::tuple<double, double, const char*> clamps[] = {
            {90000, 86399, "23:59:59"}, {86400, 86399, "23:59:59"}, {-5, 0, "00:00:00"}, {3725.9, 3725.9, "01:02:05"}};
        for (const auto& [in, clamped, clock] : clamps) {
            QCOMPARE(StageRules::clampToDay(in), clamped);
            QCOMPARE(StageRules::clockText(in), QString(clock));
        }

        const FootageBlocks one{{3600, 7200}};
        const FootageBlocks two{{3600, 7200}, {10000, 12000}};
        const std::tuple<const FootageBlocks*, bool, double, double> snaps[] = {
            {&one, true, 100, 3600},  {&one, true, 5000, 5000},  {&one, true, 7200, 3600},
            {&one, false, 100, 100},  {&two, true, 8000, 10000}, {&two, true, 12500, 10000},
            {&two, true, 3600, 3600}, {&two, true, 11999, 11999}};
        for (const auto& [blocks, known, in, out] : snaps)
            QCOMPARE(StageRules::snapToFootage(in, *blocks, known), out);
        QCOMPARE(StageRules::snapToFootage(42, {}, true), 42.0);

        // The process runs in a zone with daylight saving (see the suite's
        // environment); 01:30 on the spring-forward day does not exist there.
        const QDateTime start = Ist::at(QDate(2024, 3, 31), int(second(1, 30, 0)));
        QCOMPARE(start.toString(Qt::ISODate), QString("2024-03-31T01:30:00+05:30"));
        QCOMPARE(Ist::at(kDay, 90000).time(), QTime(23, 59, 59));
    }

    void cloudPlaylistSegmentsAndBlocks()
    {
        const CloudPlaylist p = parseCloudPlaylist(
            playlist({"https://cdn.example/a/2024-05-01_10-00-00.ts", "2024-05-01_10-00-10.ts"}), kDay);
        QCOMPARE(p.header, QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:10\n"));
        QCOMPARE(describe(p.segments), QString("36000+0 36010+10"));
        QCOMPARE(p.segments[1].lines, QByteArray("#EXTINF:10,\n2024-05-01_10-00-10.ts\n"));
        QCOMPARE(p.blocks, (FootageBlocks{{second(10, 0, 0), second(10, 0, 20)}}));

        // Around the day: -5 stays with a block 0..5; -600 stays but makes
        // no block; 130000 is dropped.
        const CloudPlaylist edges = parseCloudPlaylist(
            playlist({"2024-04-30_23-59-55.ts", "2024-04-30_23-50-00.ts", "2024-05-02_12-06-40.ts"}), kDay);
        QCOMPARE(describe(edges.segments), QString("-5+0 -600+10"));
        QCOMPARE(edges.blocks, (FootageBlocks{{0, 5}}));
        QCOMPARE(edges.entries.size(), 3);

        const std::tuple<QList<double>, FootageBlocks> rows[] = {
            {{100, 111.9}, {{100, 121.9}}},         // a gap of 1.9 s joins
            {{100, 112}, {{100, 110}, {112, 122}}}, // 2.0 s splits
            {{100, 105}, {{100, 115}}},             // overlap
            {{86395}, {{86395, 86400}}},            // clipped at the day's end
        };
        for (const auto& [starts, blocks] : rows) {
            QList<CloudSegment> segs;
            for (double s : starts)
                segs << CloudSegment{s, 10, 0, {}, 0};
            QCOMPARE(footageBlocks(segs), blocks);
        }

        // Unreadable starts and durations: nothing lost, nothing made up.
        const CloudPlaylist none = parseCloudPlaylist(playlist({"a.ts", "b.ts"}), kDay);
        QCOMPARE(QString("%1 %2 %3").arg(none.segments.size()).arg(none.firstAddress).arg(none.entries.size()),
                 QString("0 a.ts 2"));
        // Relative addresses, as most servers write them, are read against
        // the playlist's own address: the file-name rule still finds the
        // start, and the text played from memory names every file in full.
        const QUrl source("http://127.0.0.1:8480/v2/api/cloud/playback/?camera_id=5&date=2024-05-01");
        const CloudPlaylist relative = parseCloudPlaylist(
            "#EXTM3U\n#EXT-X-MAP:URI=\"init.mp4\"\n#EXTINF:10,\n/cloud/segments/cam%205/2024-05-01_10-00-00.m4s\n"
            "#EXTINF:10,\n2024-05-01_10-00-10.m4s?sig=a%2Fb\n#EXTINF:10,\nhttps://cdn.example/x/seg.m4s\n"
            "#EXT-X-ENDLIST\n",
            kDay, source);
        QCOMPARE(describe(relative.segments), QString("36000+0 36010+10"));
        QCOMPARE(
            relative.text,
            QByteArray("#EXTM3U\n#EXT-X-MAP:URI=\"http://127.0.0.1:8480/v2/api/cloud/playback/init.mp4\"\n"
                       "#EXTINF:10,\nhttp://127.0.0.1:8480/cloud/segments/cam%205/2024-05-01_10-00-00.m4s\n"
                       "#EXTINF:10,\nhttp://127.0.0.1:8480/v2/api/cloud/playback/2024-05-01_10-00-10.m4s?sig=a%2Fb\n"
                       "#EXTINF:10,\nhttps://cdn.example/x/seg.m4s\n#EXT-X-ENDLIST\n"));
        QVERIFY(relative.header.contains("URI=\"http://127.0.0.1:8480/")
                && relative.segments[1].lines.contains("http"));
        // An address no parser can read stays as it was, never an empty line.
        QCOMPARE(parseCloudPlaylist("#EXTINF:2,\n//[bad\n", kDay, source).text, QByteArray("#EXTINF:2,\n//[bad\n"));
        QCOMPARE(parseCloudPlaylist("#EXT-X-STREAM-INF:BANDWIDTH=1\nhd.m3u8\n", kDay, source).text,
                 QByteArray("#EXT-X-STREAM-INF:BANDWIDTH=1\nhttp://127.0.0.1:8480/v2/api/cloud/playback/hd.m3u8\n"));
        const CloudPlaylist odd = parseCloudPlaylist("#EXTINF:-3,\n2024-05-01_10-00-00.ts\n#EXTINF:abc\n"
                                                     "2024-05-01_10-00-05.ts\n#EXTINF:5,\n",
                                                     kDay);
        QCOMPARE(describe(odd.segments), QString("36000+0 36005+0"));
        QCOMPARE(odd.segments[0].duration, 0.0);
        QVERIFY(parseCloudPlaylist(QByteArray(), kDay).segments.isEmpty());
    }

    void segmentStartForms()
    {
        const double ten = second(10, 0, 0);
        const double none = -2e9;
        const std::tuple<const char*, double> rows[] = {{"2024-05-01T10-00-00.mp4", ten},
                                                        {"/x/2024-05-01_10-00-00-5.m4s", ten + 0.5},
                                                        {"2024-05-01_10-00-00-123456.mkv", ten + 0.123},
                                                        {"/rec/cam%201/2024-05-01_10-00-00.ts?x=1", ten},
                                                        {"2024-05-01_10-00-00.TS", none},
                                                        {"2024-13-01_10-00-00.ts?start=1714537800", ten},
                                                        {"seg.ts?start=1714537800", ten},
                                                        {"seg.ts?start=1714537800000", ten},
                                                        {"seg.ts?start=1714537800999", ten},
                                                        {"seg.ts?start=2024-05-01T10:00:00", ten},
                                                        {"seg.ts?start=2024-05-01T10:00:00.250", ten + 0.25},
                                                        {"seg.ts?start=2024-05-01T04:30:00Z", ten},
                                                        {"seg.ts?start=2024-05-01T04%3A30%3A00%2B00%3A00", ten},
                                                        {"seg.ts?start=2024-05-01", 0},
                                                        {"seg.ts?start=soon", none},
                                                        {"seg.ts", none}};
        const QDateTime midnight = Ist::midnight(kDay);
        for (const auto& [address, expected] : rows) {
            const std::optional<QDateTime> start = segmentStartTime(QString::fromLatin1(address));
            QCOMPARE(start ? midnight.msecsTo(*start) / 1000.0 : none, expected);
        }
    }

    void jumpsKeepEverySegmentAfterThePoint()
    {
        // The middle segment's start cannot be read; it still plays and still counts.
        const QByteArray text = "#EXTM3U\n#EXTINF:10,\n2024-05-01_10-00-00.ts\n#EXT-X-DISCONTINUITY\n"
                                "#EXTINF:10,\nmystery.ts\n#EXTINF:10,\n2024-05-01_10-00-20.ts\n#EXT-X-ENDLIST\n";
        const CloudPlaylist p = parseCloudPlaylist(text, kDay);
        QCOMPARE(describe(p.segments), QString("36000+0 36020+20"));
        QCOMPARE(p.segments[1].entry, 2);
        const CloudJump j = planCloudJump(p, second(10, 0, 4));
        QCOMPARE(j.playlist, text);
        QCOMPARE(j.elapsedOffset, 4.0);
        // 25 s into the jump playlist is the third segment's 5th second.
        QCOMPARE(elapsedToDay(p.segments, 0, j.elapsedOffset + 21), second(10, 0, 25));
        QCOMPARE(dayToElapsed(p.segments, second(10, 0, 25)), 25.0);
        QCOMPARE(dayToElapsed(p.segments, 90000), 30.0);
        QCOMPARE(elapsedToDay(p.segments, 0, 999), second(10, 0, 30));
        QCOMPARE(elapsedToDay({}, 3600, 12), 3612.0);

        const std::tuple<double, int, double> rows[] = {
            {second(10, 0, 4), 0, 4}, {0, 0, 0}, {second(10, 0, 15), 1, 0}, {90000, 1, 9}};
        for (const auto& [to, index, skip] : rows) {
            const CloudJump k = planCloudJump(p, to);
            QCOMPARE(QString("%1 %2").arg(k.index).arg(k.skip), QString("%1 %2").arg(index).arg(skip));
        }
        const CloudPlaylist shortOne = parseCloudPlaylist(playlist({"2024-05-01_10-00-00.ts"}, 0.5), kDay);
        QCOMPARE(planCloudJump(shortOne, 90000).skip, 0.0);
    }

    void snapshotNames()
    {
        const QDateTime local(QDate(2024, 5, 1), QTime(9, 8, 7));
        QCOMPARE(QStringList({snapshot::fileName("Gate 1 / North", snapshot::liveStamp(local)),
                              snapshot::fileName("Gate 1 / North", snapshot::playbackStamp(kDay, second(10, 0, 5))),
                              snapshot::fileName("", "x"), snapshot::safeTitle("Cam-2.a_b  ü")}),
                 QStringList({"Gate_1_North_20240501-090807.png", "Gate_1_North_20240501_100005.png", "_x.png",
                              "Cam-2.a_b_ü"}));
        // A 300-letter title is cut at a whole letter, its stamp kept, and
        // the picture is written; a leading dot makes no hidden file.
        const QString stamp = snapshot::liveStamp(local);
        for (const QString& title : {QString(300, QLatin1Char('G')), QStringLiteral("\u0917\u0947\u091f").repeated(100),
                                     QStringLiteral(".Gate")}) {
            const QString name = snapshot::fileName(title, stamp);
            QVERIFY2(name.endsWith(QLatin1String("_20240501-090807.png")) && name.toUtf8().size() <= 255
                         && !name.startsWith(QLatin1Char('.')),
                     qPrintable(name));
            QImage picture(8, 8, QImage::Format_RGB32);
            picture.fill(Qt::gray);
            QVERIFY2(snapshot::save(picture, title, stamp).saved, qPrintable(name));
        }
    }

    void tileOverlays()
    {
        // r o e s l q t
        const std::tuple<int, bool, bool, bool, bool, bool, bool, const char*> rows[] = {
            {249, true, false, true, false, false, false, "ro--lq-"},
            {250, true, false, true, false, false, false, "roeslq-"},
            {250, false, false, true, true, false, true, "----l-t"},
            {250, false, false, true, false, false, false, "-------"},
            {400, true, true, true, true, false, false, "--es-q-"},
            {400, true, false, false, false, true, true, "roes--t"},
        };
        for (const auto& [width, hovered, onWall, audio, listening, offline, failed, shown] : rows) {
            const CameraTileRules::Overlays o =
                CameraTileRules::overlaysShown({width, hovered, onWall, audio, listening, offline, failed});
            const bool on[] = {o.remove, o.open, o.expand, o.snapshot, o.listen, o.quality, o.retry};
            QString got;
            for (int i = 0; i < 7; ++i)
                got += on[i] ? QString("roeslqt")[i] : QChar('-');
            QCOMPARE(got, QString(shown));
        }
        // Below 250 px the listen button takes the snapshot's place (the tile suite shows 249).
        QCOMPARE(
            QList<QPoint>({CameraTileRules::overlayPlaces(250).listen, CameraTileRules::overlayPlaces(250).snapshot}),
            QList<QPoint>({QPoint(84, 8), QPoint(116, 8)}));
        QCOMPARE(CameraTileRules::retryRect(300, 100), QRect(102, 62, 96, 30));
        QCOMPARE(CameraTileRules::retryRect(300, 300), QRect(102, 198, 96, 30));
        // A wall of 36 on a laptop's desktop: Retry stays below the buttons
        // along the top and above the bottom edge; a failed tile too low
        // for both shows Retry alone.
        QCOMPARE(CameraTileRules::retryRect(145, 90, 38), QRect(24, 44, 96, 38));
        QCOMPARE(CameraTileRules::retryRect(145, 75, 38), QRect(24, 33, 96, 38));
        const CameraTileRules::Overlays low =
            CameraTileRules::overlaysShown({145, true, false, false, false, false, true, 75});
        const CameraTileRules::Overlays roomy =
            CameraTileRules::overlaysShown({145, true, false, false, false, false, true, 90});
        QVERIFY(!low.remove && !low.open && low.retry && roomy.remove && roomy.open && roomy.retry);
        // The switch keeps clear of Retry, or gives way to it.
        QVERIFY(CameraTileRules::switchBesideRetry(300, 80) && !CameraTileRules::switchBesideRetry(260, 80));
        // The name badge ends short of the right edge, or of the leftmost
        // button along the top; the name has what the badge's chrome leaves.
        const CameraTileRules::Overlays all =
            CameraTileRules::overlaysShown({400, true, false, true, false, false, false});
        QCOMPARE(CameraTileRules::nameRight(400, all), 400 - 166 - 6);
        QCOMPARE(CameraTileRules::nameRight(
                     249, CameraTileRules::overlaysShown({249, true, false, false, false, false, false})),
                 249 - 70 - 6);
        QCOMPARE(CameraTileRules::nameRight(400, CameraTileRules::Overlays()), 390);
        QCOMPARE(CameraTileRules::nameWidth(390, 400), 390 - 10 - 36);
        // A narrow tile's badge is tighter (a wall of 120 has tiles of 100
        // px, 64 at a scale of 1.5), and never reaches past its tile: the
        // name's room is what is left, down to none.
        QCOMPARE(CameraTileRules::nameWidth(CameraTileRules::nameRight(100, {}), 100), 100 - 4 - 4 - 24);
        QCOMPARE(CameraTileRules::nameWidth(40, 50), 40 - 4 - 24);
        QCOMPARE(CameraTileRules::nameWidth(20, 30), 0);
        for (int w = 20; w <= 400; w += 7) {
            const CameraTileRules::Strip s = CameraTileRules::stripFor(w);
            const int badge = s.inset + s.margins.left() + s.dot + s.spacing
                + CameraTileRules::nameWidth(CameraTileRules::nameRight(w, {}), w) + s.margins.right();
            QVERIFY2(badge <= std::max(w - s.inset, s.inset + s.margins.left() + s.dot + s.spacing + s.margins.right()),
                     qPrintable(QString("a badge of %1 px on a tile of %2").arg(badge).arg(w)));
        }
    }

    // A tile waiting for a picture says how long it has waited, never the
    // player's attempt (one attempt may open the stream many times), and
    // gives up at the bound: Retry shows and the wall tries again later.
    void tileWaitsCountTimeAndEndWithinABound()
    {
        using CameraTileRules::Waiting;
        using CameraTileRules::waitView;
        const auto shown = [](const CameraTileRules::WaitView& v) {
            return QStringLiteral("%1|%2|%3").arg(v.headline, v.detail).arg(v.giveUp);
        };
        const QString dropped = "The connection dropped";
        QCOMPARE(shown(waitView(Waiting::Reconnecting, dropped, 0)), "Reconnecting…|The connection dropped|0");
        QCOMPARE(shown(waitView(Waiting::Reconnecting, dropped, 12999)),
                 "Reconnecting…|The connection dropped · 12 s|0");
        QCOMPARE(shown(waitView(Waiting::Reconnecting, dropped, 29999)),
                 "Reconnecting…|The connection dropped · 29 s|0");
        QCOMPARE(shown(waitView(Waiting::Reconnecting, dropped, 30000)),
                 "|The connection dropped; no picture for 30 s.|1");
        // A tile that never had a picture says after a few seconds how long
        // it has waited; one whose picture stopped says so, counting from
        // its last picture.
        QCOMPARE(shown(waitView(Waiting::Opening, {}, 2999)), "Loading||0");
        QCOMPARE(shown(waitView(Waiting::Opening, {}, 29999)), "Loading|No picture yet · 29 s|0");
        QCOMPARE(shown(waitView(Waiting::Opening, {}, 600000)), "|No picture within 30 s.|1");
        QCOMPARE(shown(waitView(Waiting::Stalled, {}, 3000)), "Picture stopped|No new picture · 3 s|0");
        QCOMPARE(shown(waitView(Waiting::Stalled, {}, 30000)), "|The picture stopped; no picture for 30 s.|1");
    }

    // While every tile of a page waits for its own next try, the one due
    // soonest tries now, so that the wall sees its relay come back; not
    // while any tile plays (the others are hurried then), tries, or waits for
    // the server's answer, nor when the soonest is due within the period.
    void wallScoutsWhileEveryTileWaits()
    {
        using CameraWallRules::ScoutTile;
        const ScoutTile waits45{true, 45000, false, false}, waits20{true, 20000, false, false},
            waits5{true, 5000, false, false}, plays{false, -1, false, true}, tries{false, -1, true, false},
            idle{false, -1, false, false};
        QCOMPARE(CameraWallRules::scoutTile({waits45, waits20, idle}, false, 8000), 1);
        QCOMPARE(CameraWallRules::scoutTile({waits45, waits20, plays}, false, 8000), -1);
        QCOMPARE(CameraWallRules::scoutTile({waits45, tries, waits20}, false, 8000), -1);
        QCOMPARE(CameraWallRules::scoutTile({waits45, waits20}, true, 8000), -1);
        QCOMPARE(CameraWallRules::scoutTile({waits45, waits5}, false, 8000), -1);
        QCOMPARE(CameraWallRules::scoutTile({idle}, false, 8000), -1);
        QCOMPARE(CameraWallRules::scoutTile({}, false, 8000), -1);
    }

    void wallPagesAndLabels()
    {
        // first-end/pages columns x rows | count | page
        const std::tuple<int, int, int, const char*> rows[] = {
            {17, 0, 0, "0-16/2 4x4 | 1–16 of 17 cameras | 1 / 2"},
            {17, 0, 1, "16-17/2 1x1 | 17–17 of 17 cameras | 2 / 2"},
            {17, 0, 5, "16-17/2 1x1 | 17–17 of 17 cameras | 2 / 2"},
            {3, 3, 0, "0-3/1 3x3 | 3 cameras | 1 / 1"},
            {1, 0, 0, "0-1/1 1x1 | 1 camera | 1 / 1"},
            {5, 0, 0, "0-5/1 3x2 | 5 cameras | 1 / 1"},
            {0, 0, 0, "0-0/1 1x1 | 0 cameras | 1 / 1"},
            {40, 6, 1, "36-40/2 6x6 | 37–40 of 40 cameras | 2 / 2"},
        };
        for (const auto& [cameras, side, page, shown] : rows) {
            const CameraWallRules::PageSpan span = CameraWallRules::pageSpan(page, cameras, side);
            const int columns = CameraWallRules::columnsFor(side, span.tiles());
            QCOMPARE(QString::asprintf("%d-%d/%d %dx%d | ", span.first, span.end, span.pages, columns,
                                       CameraWallRules::rowsFor(side, span.tiles(), columns))
                         + CameraWallRules::countLabel(span, cameras, 0) + " | " + CameraWallRules::pageLabel(span),
                     QString(shown));
        }
        QCOMPARE(CameraWallRules::countLabel(CameraWallRules::pageSpan(0, 3, 0), 3, 1),
                 QString("3 cameras  ·  Lower picture rate: this computer couldn’t keep up"));
        QCOMPARE(CameraWallRules::withReductionNote("3 cameras  ·  old note", 3),
                 QString("3 cameras  ·  Still pictures only: this computer can’t play this many cameras live"));
        QCOMPARE(CameraWallRules::reductionNote(7), CameraWallRules::reductionNote(3));
        QCOMPARE(CameraWallRules::tileTitle({"1", "Gate", "Site A", false}) + "|"
                     + CameraWallRules::tileTitle({"1", "Gate", "", false}),
                 QString("Gate  ·  Site A|Gate"));

        const QList<WallCamera> once =
            CameraWallRules::withoutRepeats({{"a", "A", {}, false}, {"b", "B", {}, false}, {"a", "A again", {}, true}});
        QCOMPARE(once.size() == 2 ? once[0].title + once[1].id : QString(), QString("Ab"));
    }

    void wallQualityCapsAndOverloadSteps()
    {
        const std::tuple<int, int, int, bool> quality[] = {{4, 0, 0, true},  {5, 0, 0, false}, {36, 0, 1, true},
                                                           {1, 0, 2, false}, {1, 2, 1, false}, {3, 1, 0, true},
                                                           {2, 0, 9, false}, {1, 3, 0, false}};
        for (const auto& [tiles, step, setting, onMain] : quality)
            QCOMPARE(CameraWallRules::usesMain(tiles, step, setting), onMain);
        const std::tuple<int, int, double> caps[] = {{0, 0, 0},   {4, 0, 0},  {5, 0, 12}, {9, 0, 12}, {10, 0, 10},
                                                     {16, 0, 10}, {17, 0, 8}, {36, 0, 8}, {1, 1, 5},  {36, 3, 5}};
        for (const auto& [tiles, step, fps] : caps)
            QCOMPARE(CameraWallRules::fpsCap(tiles, step), fps);

        // Steps are twelve seconds apart.
        CameraWallRules::OverloadSteps steps;
        const qint64 t0 = 5'000; // a monotonic origin near zero still steps the first time
        QString got;
        for (const qint64 at : {0, 11'999, 12'000, 24'000, 99'000})
            got += QString::number(steps.report(t0 + at).value_or(0));
        QCOMPARE(got, QString("10230")); // 0: no new step
        QCOMPARE(steps.step(), 3);
        steps.reset();
        QCOMPARE(steps.report(t0 + 99'001), std::optional<int>(1));
    }

    void autoAdvanceTiming()
    {
        // Button text = dialog prefill (value, unit).
        const std::pair<qint64, const char*> rows[] = {{90, "Every 90 s = 90 0"},
                                                       {120, "Every 2 min = 2 1"},
                                                       {7200, "Every 2 h = 2 2"},
                                                       {3600 * 999, "Every 999 h = 999 2"}};
        for (const auto& [seconds, shown] : rows) {
            const CameraWallRules::AdvancePrefill p = CameraWallRules::advancePrefill(seconds);
            QCOMPARE(QString("%1 = %2 %3").arg(CameraWallRules::advanceButtonText(seconds)).arg(p.value).arg(p.unit),
                     QString(shown));
        }
        QCOMPARE(CameraWallRules::advanceRefusal(9) + "|" + CameraWallRules::advanceRefusal(10),
                 QString("The shortest interval is 10 seconds.|"));
        // 999 hours in milliseconds is past what a QTimer holds.
        QVERIFY(CameraWallRules::nextTimerSliceMs(3600LL * 999 * 1000) > 0);
        QCOMPARE(QList<int>({CameraWallRules::nextTimerSliceMs(30'000), CameraWallRules::nextTimerSliceMs(-5)}),
                 QList<int>({30'000, 1}));
    }
};

KVR_TEST_MAIN(ViewRulesTest)

#include "tst_view_rules.moc"
