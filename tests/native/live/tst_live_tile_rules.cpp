// A camera tile's decisions without a window: status outcomes, overload,
// the refused-connection block, overlays and snapshot file names.

#include "app/ui/TileWord.h"
#include "native/live/LiveTileRules.h"
#include "tests/support/TestKit.h"

#include <QtTest>

#include <QFile>
#include <QTemporaryDir>

using namespace kvr::live;

using namespace LiveTileRules;

namespace {
QString describe(const StatusOutcome& o)
{
    const char* actions[] = {"end", "sub", "fail"};
    return QStringLiteral("%1|%2|%3|%4|%5")
        .arg(QLatin1String(actions[int(o.action)]), o.headline, o.detail, o.toast)
        .arg(o.refused ? "refused" : "");
}
} // namespace

class TestTileRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Decided on the player's kind of failure, whatever words or numbers its
    // text holds; a person reads a sentence for the kind, never the player's
    // own text, which is kept for the log. (The tile suite walks 453 on Main
    // and on Sub, a recording's end and a 404.)
    void statusOutcomes()
    {
        using F = kvr::video::PlayerFailure;
        const QString toSub = QStringLiteral("The recorder has no bandwidth left for Main: showing Sub.");
        const QString closed = QStringLiteral("The RTSP port is closed on the device.");
        const QString noStreams = QStringLiteral("The camera or recorder refused: it has no streams left. Close other "
                                                 "views of it, or use the Sub stream.");
        const QString noSessions = QStringLiteral("The recorder refused: it has no playback bandwidth or sessions "
                                                  "left. Use fewer cameras at once, the Sub stream, or wait a moment.");
        const QString unreadable =
            QStringLiteral("The device's answer could not be played. Check the brand and the RTSP port.");
        struct Row {
            F kind;
            const char* detail;
            bool playback, playing, main;
            QString want;
        } rows[] = {
            {F::Refused, "Connection refused", true, true, false, "end|End of recording|||"},
            {F::ClientError, "x", false, true, true, "sub|||" + toSub + "|"},
            {F::ClientError, "x", true, false, true, "fail||" + noSessions + "||"},
            {F::Other, "RTSP 453 Not Enough Bandwidth", false, false, true, "fail||" + unreadable + "||"},
            {F::Refused, "x", false, false, false, "fail||" + closed + "||refused"},
            {F::Refused, "x", false, false, true, "fail||" + closed + "||refused"},
            {F::Other, "Connection refused", false, false, false, "fail||" + unreadable + "||"},
            {F::NotFound, "x", false, false, true,
             "fail||The device has no stream at this address. Check the brand.||"},
            {F::Other, "HTTP 404", true, false, true, "fail||" + unreadable + "||"},
            {F::Unauthorized, "x", true, false, false, "fail||The device refused the username or password.||"},
            {F::TimedOut, "x", false, false, false, "fail||The device did not answer in time.||"},
            {F::Unreachable, "Network is unreachable", false, false, true, "fail||No answer from 10.20.0.10.||"},
            {F::Unreachable, "No route to host", true, false, false, "fail||No answer from 10.20.0.10.||"},
            {F::ServerError, "Server returned 5XX", false, false, true,
             "fail||The device had an error. Try again in a moment.||"},
            {F::Other, "Invalid data found when processing input", false, false, false, "fail||" + unreadable + "||"},
        };
        for (const Row& r : rows) {
            const StatusOutcome out = classifyStatus(r.kind, QString::fromLatin1(r.detail), r.playback, r.playing,
                                                     r.main, QStringLiteral("10.20.0.10"));
            QCOMPARE(describe(out), r.want);
            if (out.action == StatusAction::Fail)
                QCOMPARE(out.cause, QString::fromLatin1(r.detail));
        }
        // Where the picture has no room for the sentence, the word agrees.
        QCOMPARE(kvr::ui::tileFaultOf(F::Unreachable), kvr::ui::TileFault::NoAnswer);
    }

    void overloadAndBlock()
    {
        QVERIFY(overloadStep(true, false).switchToSub);
        QCOMPARE(overloadStep(true, false).toast,
                 QStringLiteral("Switched to Sub: this computer can\u2019t keep up with Main here."));
        for (auto [main, playback] : {std::pair{false, false}, std::pair{true, true}, std::pair{false, true}}) {
            QVERIFY(!overloadStep(main, playback).switchToSub);
            QCOMPARE(overloadStep(main, playback).toast,
                     QStringLiteral("Can\u2019t keep up with this picture. Use fewer cameras or Sub."));
        }
        // A refused device is left alone for 30 s; others are free.
        RefusedTable t;
        t.record(QStringLiteral("a"), 100000);
        QVERIFY(t.blocked(QStringLiteral("a"), 129999));
        QVERIFY(!t.blocked(QStringLiteral("a"), 130000));
        QVERIFY(!t.blocked(QStringLiteral("b"), 110000));
        t.clear(QStringLiteral("a"));
        QVERIFY(!t.blocked(QStringLiteral("a"), 110000));
    }

    void overlays()
    {
        struct Row {
            bool hovered, removable, failed;
            int width;
            QList<bool> shown; // remove, focus, snapshot, switch, retry
        } rows[] = {
            {false, true, false, 400, {false, false, false, false, false}},
            {true, true, false, 400, {true, true, true, true, false}},
            {true, false, false, 400, {false, true, true, true, false}},
            {true, true, false, 249, {true, true, false, true, false}},
            {true, true, false, 250, {true, true, true, true, false}},
            {false, true, true, 100, {false, false, false, false, true}},
        };
        for (const Row& r : rows) {
            const ButtonVisibility v = buttonsFor(r.hovered, r.removable, r.failed, r.width);
            QCOMPARE((QList<bool>{v.remove, v.focus, v.snapshot, v.streamSwitch, v.retry}), r.shown);
        }

        // Narrow tiles: no device name, the name keeps at least 40 px, "Try
        // again" stays 44 px above the bottom, no room for the snapshot button.
        OverlayInputs in;
        in.retryHint = QSize(100, 30);
        in.tile = QSize(299, 100);
        OverlayGeometry g = layoutOverlays(in);
        QVERIFY(!g.deviceNameShown);
        QCOMPARE(g.retry.y(), 56);
        in.tile = QSize(120, 100);
        in.hovered = true;
        g = layoutOverlays(in);
        QCOMPARE(g.nameWidth, 40);
        QVERIFY(!g.snapshotPlaced);
        // A wall of 36 on a laptop's desktop (148 x 65): "Try again" keeps
        // below the badge and within the tile, giving up height to do so.
        in.hovered = false;
        in.badgeHint = QSize(120, 26);
        for (const int height : {65, 74, 90}) {
            in.tile = QSize(148, height);
            g = layoutOverlays(in);
            const QRect retry(g.retry, QSize(100, g.retryHeight));
            QVERIFY2(retry.top() >= 10 + 26 && retry.bottom() < height && g.retryHeight >= 22,
                     qPrintable(QString("%1: %2+%3").arg(height).arg(retry.top()).arg(retry.height())));
        }
        in.badgeHint = QSize();

        // A tile of a full-HD wall of 36 (310 px): the camera's name takes
        // what it needs, a recorder's long name gets the rest, shortened; no
        // room for a few of its letters, and it goes.
        in.tile = QSize(310, 174);
        in.hovered = false;
        in.nameTextWidth = 58;
        in.deviceNameTextWidth = 319;
        g = layoutOverlays(in);
        QVERIFY(g.deviceNameShown);
        QCOMPARE(g.nameWidth, 58);
        QCOMPARE(g.deviceNameWidth, 310 - 40 - 20 - 58 - 7);
        in.deviceNameTextWidth = 80; // short enough to show whole
        QCOMPARE(layoutOverlays(in).deviceNameWidth, 80);
        in.nameTextWidth = 230;
        in.deviceNameTextWidth = 319;
        g = layoutOverlays(in);
        QVERIFY(!g.deviceNameShown);
        QCOMPARE(g.nameWidth, 310 - 40 - 20);
        in.hovered = true; // the buttons take the room
        in.nameTextWidth = 58;
        QCOMPARE(layoutOverlays(in).deviceNameWidth, 310 - 150 - 20 - 58 - 7);
        in.nameTextWidth = 110;
        QVERIFY(!layoutOverlays(in).deviceNameShown);

        // The stream switch beside "Try again", or, where they would meet,
        // "Try again" alone.
        const QSize switchHint(78, 24);
        const QSize retryHint(86, 30);
        QVERIFY(!switchBesideRetry(QSize(150, 84), switchHint, retryHint));
        QVERIFY(!switchBesideRetry(QSize(222, 124), switchHint, retryHint));
        QVERIFY(switchBesideRetry(QSize(310, 174), switchHint, retryHint));
        QVERIFY(switchBesideRetry(QSize(640, 360), switchHint, retryHint));
    }

    // Two cameras of the same name saved in the same second keep both files.
    // A narrow tile (a wall of 120: 70 to 100 px) has a tighter badge that
    // never reaches past it; beside the name, a failure's word and the
    // channel's number show only where the name keeps what tells it apart
    // (a tile reading "10 …" beside another's "10 …" tells nothing).
    void narrowTilesKeepTheirNameFirst()
    {
        OverlayInputs in;
        for (int w : {40, 70, 100, 159}) {
            in.tile = QSize(w, 38);
            const OverlayGeometry g = layoutOverlays(in);
            const int badge =
                g.badgeMargins.left() + in.dotWidth + g.badgeSpacing + g.nameWidth + g.badgeMargins.right();
            QVERIFY2(g.badge == QPoint(4, 4) && g.badge.x() + badge <= w - 4,
                     qPrintable(QString("a badge of %1 px on a tile of %2").arg(badge).arg(w)));
        }
        in.tile = QSize(100, 65);
        QCOMPARE(layoutOverlays(in).nameWidth, 100 - 4 - 4 - 11 - 10 - 4);
        in.tile = QSize(160, 90);
        QCOMPARE(layoutOverlays(in).badge, QPoint(10, 10));

        int asked = 0;
        const auto need = [&asked](int px) {
            return [&asked, px] {
                ++asked;
                return px;
            };
        };
        // The channel gives way where the name then keeps less than it needs.
        BesideName b = besideName(67, 10, 4, 0, 16, 300, need(53));
        QVERIFY(!b.channel && !b.word);
        QCOMPARE(b.nameRoom, 67);
        b = besideName(120, 10, 4, 0, 16, 300, need(53));
        QVERIFY(b.channel);
        QCOMPARE(b.nameRoom, 120 - 16 - 4);
        // The word stands in the dot's place, where the name keeps its room.
        b = besideName(67, 10, 4, 62, 0, 300, need(53));
        QVERIFY(!b.word);
        b = besideName(120, 10, 4, 62, 16, 300, need(53));
        QVERIFY(b.word && !b.channel);
        QCOMPARE(b.nameRoom, 120 + 10 - 62);
        // A name that fits whole beside them keeps them without weighing.
        asked = 0;
        b = besideName(120, 10, 4, 0, 16, 60, need(200));
        QVERIFY(b.channel && asked == 0);
    }

    // "Try again" on a failed tile, from a wall of 120 on a laptop's screen
    // (70 x 37) to a tile shown alone: its text low in the middle where it
    // fits below the badge, a size smaller where the tile is narrow or low;
    // else its icon before the badge, in place of the badge's dot; on a tile
    // too small even for that, none. Never over the badge, never past the
    // tile, and the badge never pushed past it either.
    void tryAgainNeverCoversTheBadge()
    {
        OverlayInputs in;
        in.failed = true;
        in.retryHint = QSize(85, 32);
        in.retryCompactHint = QSize(73, 20);
        const auto badgeOf = [&in](const OverlayGeometry& g) {
            const int dot = g.retryForm == RetryForm::Icon ? 0 : in.dotWidth + g.badgeSpacing;
            return QRect(
                g.badge,
                QSize(g.badgeMargins.left() + dot + g.nameWidth + g.badgeMargins.right(), in.badgeHint.height()));
        };
        const auto retryOf = [&in](const OverlayGeometry& g) {
            if (g.retryForm == RetryForm::Icon)
                return QRect(g.retry, QSize(18, 18));
            const bool compact = g.retryHeight < in.retryHint.height();
            return QRect(g.retry, QSize((compact ? in.retryCompactHint : in.retryHint).width(), g.retryHeight));
        };
        QStringList faults;
        for (int w = 30; w <= 400; w += 2) {
            for (int h = 8; h <= 240; h += 3) {
                for (const bool hovered : {false, true}) {
                    in.tile = QSize(w, h);
                    in.hovered = hovered;
                    in.badgeHint = QSize(60, w < 160 ? 18 : 22);
                    const OverlayGeometry g = layoutOverlays(in);
                    if (g.retryForm == RetryForm::None)
                        continue;
                    const QRect badge = badgeOf(g);
                    const QRect retry = retryOf(g);
                    const QString at = QStringLiteral("%1x%2%3: ").arg(w).arg(h).arg(hovered ? " hovered" : "");
                    if (!QRect(0, 0, w, h).contains(retry))
                        faults << at + QStringLiteral("Try again reaches past the tile");
                    if (retry.intersects(badge))
                        faults << at + QStringLiteral("Try again over the badge");
                    // (A badge with no room for a name shows none of it.)
                    if (g.nameWidth >= g.nameLeast && badge.right() >= w)
                        faults << at + QStringLiteral("the badge pushed past the tile");
                    // A failure's word in the dot's place, or beside the icon
                    // that took it, with a name that takes all it is left.
                    const int word = 40;
                    const BesideName b =
                        besideName(g.nameWidth, g.dotPlace, g.badgeSpacing, word, 0, 10000, [] { return 0; });
                    const int worded =
                        g.badgeMargins.left() + word + g.badgeSpacing + b.nameRoom + g.badgeMargins.right();
                    if (b.word && b.nameRoom >= g.nameLeast && g.badge.x() + worded > w)
                        faults << at + QStringLiteral("the badge with a word pushed past the tile");
                }
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.mid(0, 12).join('\n')));

        const auto formAt = [&in](QSize tile) {
            in.tile = tile;
            in.hovered = false;
            in.badgeHint = QSize(60, tile.width() < 160 ? 18 : 22);
            return layoutOverlays(in);
        };
        // A tile of a full-HD wall of 36, of the video wall of 120 on a laptop,
        // of 36 in playback there: the text, at full size, then a size smaller.
        OverlayGeometry g = formAt(QSize(310, 174));
        QVERIFY(g.retryForm == RetryForm::Text && g.retryHeight == 32);
        g = formAt(QSize(100, 65));
        QVERIFY(g.retryForm == RetryForm::Text);
        for (const QSize low : {QSize(81, 65), QSize(150, 47)}) {
            g = formAt(low);
            QVERIFY2(g.retryForm == RetryForm::Text && g.retryHeight < 32, qPrintable(QString::number(low.width())));
        }
        // The live wall of 120 on a laptop: the icon, and the name beside it
        // still shows.
        g = formAt(QSize(70, 37));
        QVERIFY(g.retryForm == RetryForm::Icon);
        QVERIFY2(g.nameWidth >= g.nameLeast, qPrintable(QString::number(g.nameWidth)));
        // A playing tile keeps its badge where it was.
        in.failed = false;
        const OverlayGeometry playing = formAt(QSize(70, 37));
        QCOMPARE(playing.badge, QPoint(4, 4));
        QVERIFY(playing.nameWidth > g.nameWidth);
        in.failed = true;
        // At a scale of 1.5 (a tile of 34 x 10): none.
        QVERIFY(formAt(QSize(34, 10)).retryForm == RetryForm::None);
    }

    void snapshotNamesNeverOverwrite()
    {
        QCOMPARE(snapshotBaseName(QStringLiteral("Front door #1")), QStringLiteral("Front_door_1"));
        // No hidden file; letters of any script stay, in composed form.
        QCOMPARE(snapshotBaseName(QStringLiteral("../../etc/passwd")), QStringLiteral("_etc_passwd"));
        QCOMPARE(snapshotBaseName(QStringLiteral("._Gate")), QStringLiteral("_Gate"));
        QCOMPARE(snapshotBaseName(QStringLiteral("Caf\u00e9 / Bar")), QStringLiteral("Caf\u00e9_Bar"));
        QCOMPARE(snapshotBaseName(QStringLiteral("Cafe\u0301")), QStringLiteral("Caf\u00e9"));
        QCOMPARE(snapshotBaseName(QStringLiteral("\u0926\u094d\u0935\u093e\u0930 2")),
                 QStringLiteral("\u0926\u094d\u0935\u093e\u0930_2"));
        QTemporaryDir dir;
        const QDateTime at(QDate(2026, 3, 2), QTime(9, 5, 7));
        for (const char* want :
             {"Gate_20260302-090507.png", "Gate_20260302-090507-2.png", "Gate_20260302-090507-3.png"}) {
            const QString path = freeSnapshotPath(QDir(dir.path()), QStringLiteral("Gate"), at);
            QCOMPARE(QFileInfo(path).fileName(), QLatin1String(want));
            QFile(path).open(QIODevice::WriteOnly);
        }
        // A long name, in any script, is cut at a whole letter so that the
        // file can be written, its stamp and number kept.
        for (const QString& name :
             {QString(300, QLatin1Char('G')), QStringLiteral("\u0926\u094d\u0935").repeated(60)}) {
            for (const char* end : {"_20260302-090507.png", "_20260302-090507-2.png"}) {
                const QString path = freeSnapshotPath(QDir(dir.path()), snapshotBaseName(name), at);
                const QString file = QFileInfo(path).fileName();
                QVERIFY2(file.endsWith(QLatin1String(end)) && file.toUtf8().size() <= 255, qPrintable(file));
                QVERIFY(name.startsWith(file.left(file.indexOf(QLatin1String("_2026")))));
                QFile f(path);
                QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(f.errorString()));
            }
        }
        QCOMPARE(snapshotFileName(QString(300, QLatin1Char('G')), at).toUtf8().size(), 255);
    }
};

KVR_TEST_MAIN(TestTileRules)

#include "tst_live_tile_rules.moc"
