// The live wall page: its tree, wall order and limit, layouts, quality, caps,
// pages, focus and empty states, live tiles that start again by themselves
// after a failure, and its playback mode with one clock,
// recording windows and the footage the devices list for the day. Tiles play
// from the RTSP server; recordings come from fake devices.

#include "app/core/Settings.h"
#include "app/ui/TimelineBar.h"
#include "native/live/VmsPage.h"
#include "native/live/VmsTile.h"
#include "tests/fixtures/fleet/FakeFleet.h"
#include "tests/native/live/LiveTestKit.h"
#include "tests/support/AuditPaint.h"
#include "video/DecodeSettings.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"
#include "wall/TileRetry.h"

#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QToolTip>
#include <QTreeWidget>

using namespace kvr::core;
using namespace kvr::services;
using namespace kvr::live;

using kvrtest::FakeFleet;
using namespace livetest;

namespace {
QStringList keysOf(const QString& id, int from, int to)
{
    QStringList out;
    for (int c = from; c <= to; ++c)
        out << QStringLiteral("%1#%2").arg(id).arg(c);
    return out;
}
QStringList tileKeys(const VmsPage& page)
{
    QStringList out;
    for (VmsTile* t : page.tiles())
        out << t->key();
    return out;
}
QTreeWidgetItem* findItem(QTreeWidget* tree, const QString& text)
{
    const auto items = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return items.isEmpty() ? nullptr : items.first();
}
bool allStarted(const VmsPage& page)
{
    for (VmsTile* t : page.tiles())
        if (t->isPacing() || !(t->isRunning() || t->isPlaying()))
            return false;
    return true;
}
} // namespace

class TestVmsPage : public QObject {
    Q_OBJECT
private:
    peers::Peer rtsp;
    kvrtest::FakeDevice dahua{kvrtest::FakeDevice::Kind::Dahua};
    kvrtest::FakeDevice hik{kvrtest::FakeDevice::Kind::Isapi};
    QString siteId;
    QString yard; // Dahua, 20 channels, 1..7 online
    QString hall; // ISAPI, 4 channels

    // A page of the given wall, shown and (unless told) active.
    std::unique_ptr<VmsPage> open(const QStringList& wall, bool active = true)
    {
        Prefs::set(Prefs::kNativeVmsWall, wall);
        auto p = std::make_unique<VmsPage>();
        p->resize(1440, 860);
        p->show();
        if (active)
            p->activate();
        return p;
    }
    QDate today() const { return kvr::core::Clock::instance().nowUtc().toLocalTime().date(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(startRecorderRtsp(rtsp));
        QVERIFY(dahua.start());
        QVERIFY(hik.start());
    }
    void init()
    {
        clearInventory();
        Prefs::set(Prefs::kNativeVmsWall, {});
        Prefs::set(Prefs::kNativeVmsLayout, 0);
        Prefs::set(Prefs::kNativeVmsQuality, 0);
        Native::Site depot;
        depot.name = QStringLiteral("Depot");
        siteId = NativeStore::instance().addSite(depot);
        yard = addDevice(
            deviceFor(QStringLiteral("Yard DVR"), QStringLiteral("DAHUA"), dahua.httpPort(), rtsp.port, 20, siteId));
        setOnline(yard, {1, 2, 3, 4, 5, 6, 7}, 20);
        hall =
            addDevice(deviceFor(QStringLiteral("Hall NVR"), QStringLiteral("HIKVISION"), hik.httpPort(), rtsp.port, 4));
    }

    void emptyStates()
    {
        clearInventory();
        auto p = open({});
        QSignalSpy vigilo(p.get(), &VmsPage::openVigiloRequested);
        p->emptyButton()->click();
        QCOMPARE((QList<int>{p->stack()->currentIndex(), int(vigilo.size())}), (QList<int>{1, 1}));

        const QString id =
            addDevice(deviceFor(QStringLiteral("New"), QStringLiteral("DAHUA"), dahua.httpPort(), rtsp.port, 3));
        setOnline(id, {2}, 3);
        p->activate();
        p->emptyButton()->click(); // now "Add all online cameras"
        QCOMPARE(p->wall(), QStringList{id + QStringLiteral("#2")});
        QTRY_COMPARE(p->stack()->currentIndex(), 0);
        QCOMPARE(Prefs::get(Prefs::kNativeVmsWall), p->wall());
        // Nothing more online to add.
        p->addAllOnline();
        QCOMPARE(p->noticeLabel()->isVisible() ? p->noticeLabel()->text() : QString(),
                 QStringLiteral("No online cameras to add. Fetch device info in Vigilo first."));
    }

    void tickingKeepsOrderAndTheLimit()
    {
        const QString big1 = addDevice(deviceFor(QStringLiteral("Big A"), QStringLiteral("DAHUA"), 1, 1, 150, siteId));
        const QString big2 = addDevice(deviceFor(QStringLiteral("Big B"), QStringLiteral("DAHUA"), 1, 1, 150, siteId));
        auto p = open({}, false);
        p->refreshTree();
        QTreeWidgetItem* bigB = findItem(p->tree(), QStringLiteral("Big B"));
        // One camera of Big B first, then the whole site (324 cameras): the
        // wall keeps its order and the first 256 stay.
        bigB->child(4)->setCheckState(0, Qt::Checked);
        QTRY_COMPARE(p->wall(), QStringList{big2 + QStringLiteral("#5")});
        findItem(p->tree(), QStringLiteral("Depot"))->setCheckState(0, Qt::Checked);
        QTRY_COMPARE(p->wall().size(), 256);
        QCOMPARE(p->noticeLabel()->text(), QStringLiteral("The wall holds up to 256 cameras"));
        QCOMPARE(p->wall().mid(0, 2), (QStringList{big2 + QStringLiteral("#5"), yard + QStringLiteral("#1")}));
        // The tree shows the cut wall: the last ticked camera is Big B's 86th.
        bigB = findItem(p->tree(), QStringLiteral("Big B")); // the tree was built again
        QVERIFY(bigB->child(85)->checkState(0) == Qt::Checked && bigB->child(86)->checkState(0) == Qt::Unchecked);
        // The next tick change hides the notice.
        findItem(p->tree(), QStringLiteral("Big A"))->child(0)->setCheckState(0, Qt::Unchecked);
        QTRY_COMPARE(p->wall().size(), 255);
        QVERIFY(!p->noticeLabel()->isVisible());
    }

    // Seven on Auto: Sub at 15 a second in software; four: Main, uncapped.
    // Then twenty: a tile of page 2 focused and back, a removal that returns
    // the wall to page 1; leaving the page stops every tile.
    void autoLoadFocusAndRemoval()
    {
        auto p = open(keysOf(yard, 1, 7));
        // Few tiles decode in hardware unless the settings rule it out.
        for (const bool hardware : {true, false}) {
            Prefs::set(Prefs::kHardwareDecode, hardware);
            QCOMPARE(kvr::video::DecodeSettings::hardwareDecodeAllowed(), hardware);
            for (const auto& [n, main] : {std::pair{7, false}, std::pair{4, true}}) {
                p->setWall(keysOf(yard, 1, n));
                QTRY_COMPARE(p->tiles().size(), n);
                QCOMPARE(p->columns(), main ? 2 : 3);
                QTRY_VERIFY_WITH_TIMEOUT(allStarted(*p), 10000);
                for (VmsTile* t : p->tiles()) {
                    QCOMPARE(t->isMain(), main);
                    QCOMPARE(t->player()->controls().maxFps.load(), main ? 0.0 : 15.0);
                    QCOMPARE(t->player()->controls().hardwareDecode.load(), main && hardware);
                }
            }
        }
        Prefs::set(Prefs::kHardwareDecode, true);
        p->setWall(keysOf(yard, 1, 20));
        p->nextPage();
        QTRY_COMPARE(tileKeys(*p), keysOf(yard, 17, 20));
        p->tiles().at(2)->focusButton()->click();
        QTRY_COMPARE(tileKeys(*p), QStringList{yard + QStringLiteral("#19")});
        QTRY_VERIFY_WITH_TIMEOUT(allStarted(*p), 10000);
        QVERIFY(p->tiles().first()->isFocused() && p->tiles().first()->isMain());
        QCOMPARE(p->titleLabel()->text(), QStringLiteral("Single camera"));
        QVERIFY(!p->layoutControl()->isVisible() && !p->nextButton()->isVisible());
        p->backButton()->click();
        QTRY_COMPARE(p->tiles().size(), 4);
        QCOMPARE(p->page(), 1);
        p->tiles().at(1)->removeButton()->click();
        QTRY_COMPARE(p->page(), 0);
        QCOMPARE(p->wall(), keysOf(yard, 1, 17) + keysOf(yard, 19, 20));
        p->deactivate();
        for (VmsTile* t : p->tiles())
            QVERIFY(!t->isRunning());
    }

    // A live tile that failed starts again by itself through its device's
    // pacing and refusal block: while the refusal is fresh it fails again
    // without asking the device, and plays once the block is over and the
    // device answers again. Played recordings wait for the user.
    void failedLiveTilesStartAgainByThemselves()
    {
        kvrtest::TestClock clock;
        peers::Peer relay;
        QVERIFY(peers::startProxy(relay, rtsp.port, QStringLiteral("pass")));
        QVERIFY(peers::steerProxy(relay, QStringLiteral("down")));
        const QString gate = addDevice(
            deviceFor(QStringLiteral("Gate DVR"), QStringLiteral("DAHUA"), dahua.httpPort(), relay.port, 2, siteId));
        setOnline(gate, {1, 2}, 2);
        auto p = open(keysOf(gate, 1, 2));
        const auto state = [&] {
            QString out;
            for (VmsTile* t : p->tiles())
                out += t->isPlaying() ? 'P' : t->isFailed() ? (t->retry()->isArmed() ? 'F' : 'f') : '.';
            return out;
        };
        const auto tryAgain = [&] {
            for (VmsTile* t : p->tiles())
                t->retry()->fire();
        };
        QTRY_COMPARE_WITH_TIMEOUT(state(), QStringLiteral("FF"), 20000);
        QVERIFY(peers::steerProxy(relay, QStringLiteral("up")));
        const auto generations = [&] {
            QList<int> out;
            for (VmsTile* t : p->tiles())
                out << t->player()->currentGeneration();
            return out;
        };
        const QList<int> before = generations();
        clock.advanceSecs(10);
        tryAgain();
        QTRY_VERIFY(p->tiles().last()->retry()->schedule().tries() == 1 && !p->tiles().last()->isPacing());
        QCOMPARE(state(), QStringLiteral("FF"));
        QCOMPARE(generations(), before); // no player was started
        clock.advanceSecs(21);
        tryAgain();
        QTRY_COMPARE_WITH_TIMEOUT(state(), QStringLiteral("PP"), 20000);

        p->setMode(true);
        QTRY_COMPARE(p->tiles().size(), 2);
        QVERIFY(peers::steerProxy(relay, QStringLiteral("down")));
        p->startPlaybackAt(QDateTime(today().addDays(-1), QTime(10, 0)));
        QTRY_COMPARE_WITH_TIMEOUT(state(), QStringLiteral("ff"), 20000);
        NativeStore::instance().removeDevice(gate);
    }

    // Stored choices are clamped and the wall cleaned when the page shows;
    // a removed device leaves the wall and the tree.
    void storedChoicesAndInventoryChanges()
    {
        Prefs::set(Prefs::kNativeVmsLayout, 9);
        Prefs::set(Prefs::kNativeVmsQuality, -3);
        nameCameras(hall, {QStringLiteral("Lobby"), QStringLiteral("Stairs")});
        auto p = open(keysOf(hall, 1, 2) + QStringList{QStringLiteral("gone#1")} + keysOf(yard, 1, 2));
        QCOMPARE((QList<int>{p->layoutChoice(), p->qualityChoice()}), (QList<int>{7, 0}));
        QCOMPARE(p->wall(), keysOf(hall, 1, 2) + keysOf(yard, 1, 2));
        p->searchField()->setText(QStringLiteral("lobby"));
        QTreeWidgetItem* hallItem = findItem(p->tree(), QStringLiteral("Hall NVR"));
        QVERIFY(!hallItem->isHidden() && !hallItem->child(0)->isHidden() && hallItem->child(1)->isHidden());
        QVERIFY(findItem(p->tree(), QStringLiteral("Depot"))->isHidden());
        NativeStore::instance().removeDevice(hall);
        QTRY_COMPARE(p->wall(), keysOf(yard, 1, 2));
        QTRY_COMPARE(p->tiles().size(), 2);
        QVERIFY(!findItem(p->tree(), QStringLiteral("Hall NVR")));
    }

    // Recorders named alike under different sites: each row of the camera
    // tree keeps what tells it from every recorder of the tree, reads whole
    // in its tip (its address after), and the panel is as wide as a person
    // drags it, found so at the next start.
    void treeRowsReadApartInAPanelKeptWide()
    {
        clearInventory();
        for (int n = 1; n <= 6; ++n) {
            Native::Site site;
            site.name = QStringLiteral("Site %1").arg(n);
            const QString at = NativeStore::instance().addSite(site);
            const QString id = addDevice(deviceFor(QStringLiteral("Warehouse fire exit recorder number %1").arg(n),
                                                   QStringLiteral("DAHUA"), dahua.httpPort(), rtsp.port, 1, at));
            setOnline(id, {1}, 1);
        }
        Prefs::set(Prefs::kNativeVmsTreeWidth, 240);
        auto p = open({});
        QTRY_COMPARE(p->tree()->width(), 240 - 28);
        QSet<QString> shown;
        for (const screenaudit::PaintedText& t : screenaudit::recordPainting(p->tree()->viewport()).texts)
            if (t.text.contains(QLatin1String("recorde")))
                shown.insert(t.text);
        QVERIFY2(shown.size() == 6 && !shown.contains(QStringLiteral("Warehouse fire exit recorder number 1")),
                 qPrintable(QStringList(shown.cbegin(), shown.cend()).join(QStringLiteral(" | "))));
        QTreeWidgetItem* third = findItem(p->tree(), QStringLiteral("Warehouse fire exit recorder number 3"));
        QVERIFY(third);
        const QRect row = p->tree()->visualItemRect(third);
        QHelpEvent help(QEvent::ToolTip, row.center(), p->tree()->viewport()->mapToGlobal(row.center()));
        QApplication::sendEvent(p->tree()->viewport(), &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY2(QToolTip::text().startsWith(QStringLiteral("Warehouse fire exit recorder number 3\n127.0.0.1:")),
                 qPrintable(QToolTip::text()));
        QToolTip::hideText();

        // Dragged wider, and so at the next start.
        p->splitter()->setSizes({420, p->splitter()->width() - 420});
        Q_EMIT p->splitter()->splitterMoved(420, 1);
        QCOMPARE(Prefs::get(Prefs::kNativeVmsTreeWidth), 420);
        p.reset();
        auto again = open({});
        QTRY_COMPARE(again->splitter()->sizes().value(0), 420);
    }

    // Three recorders' cameras named alike ("Camera 01" of each), one
    // recorder a page on "4×4": a page's tiles, too narrow for the
    // recorder's own label, name their recorder with the camera, as one
    // page of them all would; a wall of one recorder's cameras over two
    // pages names none, nor in its tool tips.
    void pagesRepeatingCameraNamesNameTheRecorder()
    {
        QStringList ids;
        QStringList wall;
        QStringList names;
        for (int c = 1; c <= 20; ++c)
            names << QStringLiteral("Camera %1").arg(c, 2, 10, QChar('0'));
        for (int r = 1; r <= 3; ++r) {
            ids << addDevice(deviceFor(QStringLiteral("Distribution centre recorder, loading bays, unit %1").arg(r),
                                       QStringLiteral("DAHUA"), 1, 1, 20, siteId));
            nameCameras(ids.last(), names);
            wall += keysOf(ids.last(), 1, 16);
        }
        auto p = open({}, false); // tiles that start nothing
        p->setLayoutChoice(4);
        p->setWall(wall);
        const auto misread = [&p](int unit) {
            QStringList out;
            for (VmsTile* t : p->tiles()) {
                const QString shown = t->nameLabel()->text();
                if (!shown.section(QStringLiteral(" \u00B7 "), 0, -2).endsWith(QString::number(unit))
                    || !shown.endsWith(QStringLiteral("%1").arg(t->channel(), 2, 10, QChar('0'))))
                    out << shown;
            }
            return p->tiles().size() == 16 ? out : QStringList{QStringLiteral("%1 tiles").arg(p->tiles().size())};
        };
        for (int unit = 1; unit <= 3; ++unit) {
            QTRY_VERIFY2(misread(unit).isEmpty(), qPrintable(misread(unit).join(QStringLiteral(" | "))));
            QVERIFY(!p->tiles().first()->deviceLabel()->isVisible());
            p->nextPage();
        }
        const auto titled = [&p] {
            QStringList out;
            for (VmsTile* t : p->tiles())
                if ((t->nameLabel()->text() + t->nameLabel()->toolTip()).contains(QStringLiteral(" \u00B7 ")))
                    out << t->nameLabel()->text() + QStringLiteral(" (") + t->nameLabel()->toolTip() + ')';
            return out;
        };
        p->setWall(keysOf(ids.first(), 1, 20));
        QTRY_COMPARE(tileKeys(*p), keysOf(ids.first(), 1, 16));
        QVERIFY2(titled().isEmpty(), qPrintable(titled().join(QStringLiteral(" | "))));
        p->nextPage();
        QTRY_COMPARE(tileKeys(*p), keysOf(ids.first(), 17, 20));
        QVERIFY2(titled().isEmpty(), qPrintable(titled().join(QStringLiteral(" | "))));
    }

    // Four cameras on "4×4" and on "6×6" fill the top row of the layout's
    // cells, each as tall as a cell of a full page, not one row as tall as
    // the whole wall; on Auto they share a 2 × 2 grid.
    void fewCamerasKeepTheLayoutsCells()
    {
        auto p = open(keysOf(yard, 1, 4));
        QTRY_COMPARE(p->tiles().size(), 4);
        QWidget* grid = p->tiles().first()->parentWidget();
        for (const auto& [layout, rows, columns] : {std::tuple{4, 4, 4}, std::tuple{5, 6, 6}, std::tuple{0, 2, 2}}) {
            p->setLayoutChoice(layout);
            QTRY_VERIFY(p->tiles().size() == 4 && p->tiles().first()->parentWidget() == grid
                        && p->columns() == columns);
            QTest::qWait(20); // laid out
            // The grid's margins are 14 px and its spacing 10 px.
            const int cellHeight = (grid->height() - 28 - 10 * (rows - 1)) / rows;
            const int cellWidth = (grid->width() - 28 - 10 * (columns - 1)) / columns;
            for (VmsTile* t : p->tiles())
                QVERIFY2(std::abs(t->height() - cellHeight) <= 10 && std::abs(t->width() - cellWidth) <= 10,
                         qPrintable(QStringLiteral("layout %1: a tile of %2x%3 in cells of %4x%5")
                                        .arg(layout)
                                        .arg(t->width())
                                        .arg(t->height())
                                        .arg(cellWidth)
                                        .arg(cellHeight)));
        }
    }

    // Playback on page 2 of 20 cameras (Auto, four to a page) shows cameras 5
    // to 8 and waits for a time; then windows, clamps, the clock, pause, and
    // back to live on page 2 of 2.
    void playbackWindowsClampsAndClock()
    {
        kvrtest::TestClock clock(QDateTime(QDate(2026, 3, 2), QTime(14, 0), Qt::LocalTime).toUTC());
        auto p = open(keysOf(yard, 1, 20));
        p->nextPage();
        QTRY_COMPARE(p->tiles().size(), 4);
        p->modeControl()->findChildren<QPushButton*>().at(1)->click();
        QTRY_VERIFY(p->isPlayback());
        QCOMPARE(tileKeys(*p), keysOf(yard, 5, 8));
        QVERIFY(!p->pauseButton()->isEnabled() && !p->tiles().first()->isRunning());
        QCOMPARE(p->statusLabel()->text() + "|" + p->tiles().first()->stage()->headlineText() + "|"
                     + p->tiles().first()->stage()->detailText(),
                 QStringLiteral("Pick a time|Pick a time|"));
        const QDate day = today();
        // "<day> <position> to <end of the window>", as the first tile plays it.
        const auto where = [&] {
            const VmsTile* t = p->tiles().first();
            return QStringLiteral("%1 %2 to %3")
                .arg(day.daysTo(p->position().date()))
                .arg(t->playbackFrom().toString(QStringLiteral("HH:mm:ss")),
                     t->playbackTo().toString(QStringLiteral("HH:mm:ss")));
        };

        p->timeEdit()->setTime(QTime(9, 0));
        p->playButton()->click();
        QCOMPARE(where(), QStringLiteral("0 09:00:00 to 13:00:00"));
        QCOMPARE(p->timeline()->playhead(), 9 * 3600.0);
        QTRY_VERIFY_WITH_TIMEOUT(allStarted(*p), 10000);
        QVERIFY(p->tiles().first()->isMain()); // Auto plays Main back

        // Ten minutes ahead of now: a minute before now.
        p->timeEdit()->setTime(QTime(14, 10));
        p->playButton()->click();
        QCOMPARE(p->timeEdit()->time(), QTime(13, 59));

        // -30 s from 00:00:10: the day before at 23:58:00, the window to 23:59:59.
        p->dayEdit()->setDate(day.addDays(-2));
        p->timeEdit()->setTime(QTime(0, 0, 10));
        p->playButton()->click();
        p->back30Button()->click();
        QCOMPARE(day.daysTo(p->dayEdit()->date()), -3);
        QCOMPARE(where(), QStringLiteral("-3 23:58:00 to 23:59:59"));

        // A click at the right end of the timeline stays on the chosen day.
        Q_EMIT p->timeline()->seekRequested(86400.0);
        QCOMPARE(where(), QStringLiteral("-3 23:58:00 to 23:59:59"));
        Q_EMIT p->timeline()->seekRequested(3600.7);
        p->forward30Button()->click();
        QCOMPARE(where(), QStringLiteral("-3 01:00:30 to 05:00:30"));

        // The clock follows one tile's pictures; pause and resume keep it.
        p->startPlaybackAt(QDateTime(day.addDays(-1), QTime(10, 0)));
        const QDateTime start = p->position();
        p->onTilePosition(p->tiles().at(0), 50.0); // the first drives the clock from here on
        p->onTilePosition(p->tiles().at(1), 99.0); // another tile: ignored
        QCOMPARE(p->position(), start);
        p->onTilePosition(p->tiles().at(0), 52.25);
        QCOMPARE(p->position(), start.addMSecs(2250));

        p->pauseButton()->click();
        QCOMPARE(p->pauseButton()->text() + "|" + p->statusLabel()->text(),
                 QStringLiteral("Resume|Paused \u00b7 10:00:02"));
        for (VmsTile* t : p->tiles())
            QVERIFY(!t->isRunning() && t->stage()->detailText() == QStringLiteral("Press Resume to carry on."));
        // A day change while paused reloads the coverage and stays paused.
        const uint32_t generation = p->coverageGeneration();
        p->dayEdit()->setDate(day.addDays(-2));
        QCOMPARE(p->coverageGeneration(), generation + 1);
        QVERIFY(p->isPaused());
        p->pauseButton()->click();
        QVERIFY(!p->isPaused());
        QCOMPARE(p->tiles().first()->playbackFrom(), start.addMSecs(2250));
        p->setMode(false);
        QCOMPARE(tileKeys(*p), keysOf(yard, 17, 20));
    }

    // Footage of two devices merged; only the last of two quick day changes
    // shows, whatever answers late; then the notes for an unlisted brand and
    // for a day without footage.
    void coverageFromTheDevices()
    {
        const QDate day = today().addDays(-1);
        const QDate before = today().addDays(-2);
        const auto at = [&](int h, int m, int s = 0) { return QDateTime(day, QTime(h, m, s)); };
        dahua.clips = {{at(8, 0), at(9, 0)},
                       {at(8, 59, 30), at(10, 0)},
                       {QDateTime(before, QTime(1, 0)), QDateTime(before, QTime(2, 0))}};
        hik.clips = {{at(10, 0, 1), at(11, 0)}, {at(23, 30), QDateTime(day.addDays(1), QTime(0, 30))}};
        auto p = open({yard + QStringLiteral("#1"), hall + QStringLiteral("#1")});
        p->setMode(true);
        p->dayEdit()->setDate(before);
        p->dayEdit()->setDate(day);
        const QList<std::pair<double, double>> blocks{{8 * 3600.0, 11 * 3600.0}, {23.5 * 3600.0, 86400.0}};
        QTRY_COMPARE_WITH_TIMEOUT(p->timeline()->coverage(), blocks, 20000);
        QTest::qWait(300); // late answers of the first day change nothing
        QCOMPARE(p->timeline()->coverage(), blocks);
        QVERIFY(p->timeline()->coverageKnown() && p->coverageNote()->text().isEmpty());

        // A brand without a recording search leaves the footage unlisted.
        const QString lapi = addDevice(deviceFor(QStringLiteral("Gate"), QStringLiteral("UNIVIEW"), 1, rtsp.port, 1));
        p->setMode(false);
        p->setWall({yard + QStringLiteral("#1"), lapi + QStringLiteral("#1")});
        p->setMode(true);
        p->dayEdit()->setDate(day);
        QTRY_COMPARE_WITH_TIMEOUT(p->coverageNote()->text(),
                                  QStringLiteral("Footage times are not listed for every camera here"), 20000);
        // What the other device listed still shows.
        QVERIFY(!p->timeline()->coverageKnown() && p->timeline()->blocksShown());
        const QList<std::pair<double, double>> found{{8 * 3600.0, 10 * 3600.0}};
        QCOMPARE(p->timeline()->coverage(), found);

        // No footage anywhere on a day.
        dahua.clips.clear();
        p->setWall({yard + QStringLiteral("#1")});
        QTRY_COMPARE_WITH_TIMEOUT(p->coverageNote()->text(), QStringLiteral("No footage found on this day"), 20000);
        QVERIFY(p->timeline()->coverageKnown());
    }

    // The demo's fleet with the test camera behind its devices' RTSP ports:
    // every camera of a device that answers with the right password plays
    // at its maker's own address, live and, where the maker offers it,
    // recorded; the device given a wrong password is refused, and the one
    // that does not answer is closed.
    void theDemoFleetPlays()
    {
        clearInventory();
        FakeFleet fleet;
        QVERIFY(fleet.start());
        peers::Peer camera;
        QVERIFY(peers::startRtsp(camera, QStringList{"--no-audio", "--one-media"} + fleet.cameraArgs()));
        fleet.serveStreamsFrom(camera.port);
        QStringList wall;
        QHash<QString, QString> nameOf; // tile key -> device name
        for (const Native::Device& d : fleet.records()) {
            const QString id = addDevice(d);
            QList<int> channels;
            for (int c = 1; c <= d.channels; ++c) {
                channels << c;
                wall << QStringLiteral("%1#%2").arg(id).arg(c);
                nameOf.insert(wall.last(), d.name);
            }
            setOnline(id, channels, d.channels);
        }
        auto p = open(wall);
        const auto said = [&](const QString& name) {
            QStringList out;
            for (VmsTile* t : p->tiles())
                if (nameOf.value(t->key()) == name)
                    out << t->stage()->detailText();
            return out;
        };
        const auto playing = [&] {
            QStringList out;
            for (VmsTile* t : p->tiles())
                if (t->stage()->hasPicture() && t->stage()->headlineText().isEmpty())
                    out << nameOf.value(t->key());
            out.sort();
            return out;
        };
        QTRY_COMPARE(p->tiles().size(), int(wall.size()));
        // Every camera but those of the refused, the silent and the ONVIF
        // device (whose address only the device itself tells).
        QStringList live;
        QStringList recorders; // the first camera of each that plays back: not the Lobby camera's brand
        QStringList recorded;
        for (const FakeFleet::Member& m : fleet.members()) {
            if (m.role == FakeFleet::Role::WrongPassword || m.role == FakeFleet::Role::Unreachable
                || m.record.manufacturer == QLatin1String("ONVIF"))
                continue;
            for (int c = 1; c <= m.record.channels; ++c)
                live << m.name;
            recorders << nameOf.key(m.name);
            if (m.record.manufacturer != QLatin1String("UNIVIEW"))
                recorded << m.name;
        }
        live.sort();
        recorded.sort();
        QCOMPARE(live.size(), 9);
        QTRY_COMPARE_WITH_TIMEOUT(playing(), live, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(said("Parking camera"), QStringList{"The device refused the username or password."},
                                  30000);
        QTRY_COMPARE_WITH_TIMEOUT(said("Back office NVR"), QStringList{"The RTSP port is closed on the device."},
                                  30000);

        // A camera of each of those on one page, played back from yesterday.
        QCOMPARE(recorders.size(), 4);
        p->setWall(recorders);
        p->setMode(true);
        QTRY_COMPARE(p->tiles().size(), 4);
        p->startPlaybackAt(QDateTime(today().addDays(-1), QTime(10, 0)));
        QCOMPARE(recorded.size(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(playing(), recorded, 60000);
    }
};

KVR_TEST_MAIN(TestVmsPage)

#include "tst_vms_page.moc"
