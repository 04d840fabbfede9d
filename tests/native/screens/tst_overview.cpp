// The problem overview: its text rules, the finding and site lists a refresh
// builds from the inventory, the uptime strip's squares, colours and tips.

#include "app/ui/Fitting.h"
#include "native/screens/FleetCache.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/VigiloOverview.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/support/TestKit.h"

#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>

using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::screens;

using namespace screenskit;
using NativeInsights::SiteSummary;

namespace {

QStringList listTexts(QVBoxLayout* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        QWidget* w = list->itemAt(i)->widget();
        if (auto* l = qobject_cast<QLabel*>(w))
            out << l->text();
        else if (w)
            out << QStringLiteral("row:") + w->accessibleName();
    }
    return out;
}

SiteSummary summary(int devices, int up, int checked, int cameras, int online, int known, int problems, int warnings)
{
    return {{}, QStringLiteral("Depot"), {}, devices, up, checked, cameras, online, known, problems, warnings};
}

// A site roll-up as one line: name, subtitle and the counts in order.
QString describe(const SiteSummary& s)
{
    QStringList n{s.name, s.subtitle};
    for (int v : {s.devices, s.up, s.checked, s.cameras, s.camerasOnline, s.camerasKnown, s.problems, s.warnings})
        n << QString::number(v);
    return n.join(QLatin1Char(' '));
}

// An up device whose first camera is known to be offline: one warning.
Native::Device cameraDown(const QString& name, const QString& siteId)
{
    Native::Device d = up(name, siteId, 2);
    d.cameras[0].online = false;
    return d;
}

// The box layout, in or under `layout`, that holds `w` itself.
QBoxLayout* rowOf(QLayout* layout, QWidget* w)
{
    if (!layout)
        return nullptr;
    if (auto* box = qobject_cast<QBoxLayout*>(layout); box && box->indexOf(w) >= 0)
        return box;
    for (int i = 0; i < layout->count(); ++i)
        if (QBoxLayout* inner = rowOf(layout->itemAt(i)->layout(), w))
            return inner;
    return nullptr;
}

} // namespace

class OverviewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textAndSiteRules();
    void emptyAllClearAndNoSiteRow();
    void findingsCollapseAndExpand();
    void tabReadsDownThePanes();
    void sitesBeyondTwelve();
    void stripSquaresTipsAndPaint();
    void cacheAgreesWithServices();
    void listsChangeWorksOutOnlyWhatDiffers();
    void failingStreamsWorkOutOnlyDevicesUp();
    void siteRowsShortenOnlyWhatDoesNotFit();
};

void OverviewTest::textAndSiteRules()
{
    using namespace NativeOverview;
    QCOMPARE(countNote(0, 0, 0) + countNote(2, 1, 3),
             QStringLiteral("<span style='color:#dc3545; font-weight:600;'>2 critical</span> &nbsp;·&nbsp; "
                            "<span style='color:#b45309; font-weight:600;'>1 warning</span> &nbsp;·&nbsp; 3 to note"));
    QVERIFY(countNote(0, 2, 0).endsWith(QStringLiteral(">2 warnings</span>")));
    // clang-format off
    const std::pair<double, const char*> values[] = {{99.96, "100"}, {99.95, "100"}, {99.5, "99.5"}, {99.94, "99.9"}, {99.4, "99"}, {42.0, "42"}};
    // clang-format on
    for (const auto& [v, text] : values)
        QCOMPARE(stripValueText(v), QString::fromLatin1(text));
    // A day's square and the average share their bounds: no data, 99, 90.
    using namespace NativeStyle;
    // clang-format off
    const std::tuple<double, QColor, QColor> colours[] = {
        {-1, kHairline, kMuted}, {99, kSuccess, QColor(0x28a745)}, {98.9, kWarning, QColor(0xb45309)}, {90, kWarning, QColor(0xb45309)}, {89.99, kDanger, QColor(0xdc3545)}};
    // clang-format on
    for (const auto& [v, square, average] : colours)
        QVERIFY2(stripColor(v) == square && averageColor(v) == average, qPrintable(QString::number(v)));
    QCOMPARE(averageText(-1) + averageText(97.25), QStringLiteral("No data yet97.3%"));
    QCOMPARE(stripLabels(QDate(2026, 3, 2)).last(), QStringLiteral("Today"));
    // Level, text and chips of a site row, as "level | text | chips".
    const std::pair<SiteSummary, const char*> cases[] = {
        {summary(4, 3, 4, 0, 0, 0, 0, 0), "warn | 3/4 devices up | All good"},
        {summary(4, 2, 4, 0, 0, 0, 1, 0), "bad | 2/4 devices up | 1 problem"},
        {summary(4, 4, 4, 0, 0, 0, 0, 2), " | 4/4 devices up | 2 warnings"},
        {summary(3, 0, 0, 0, 0, 0, 0, 0), "warn | 0/3 devices up (3 not checked) | "},
        {summary(1, 1, 1, 5, 0, 0, 0, 0), " | 1/1 devices up · 5 cameras | All good"},
        {summary(1, 1, 1, 5, 3, 4, 2, 1), " | 1/1 devices up · 3/5 cameras | 2 problems, 1 warning"},
    };
    for (const auto& [site, expected] : cases) {
        const QStringList chips = lines(NativeOverview::siteChips(site), [](const auto& c) { return c.first; });
        QCOMPARE(QStringList({NativeOverview::siteLevel(site), NativeOverview::siteText(site), chips.join(", ")})
                     .join(QStringLiteral(" | ")),
                 QString::fromUtf8(expected));
    }
}

void OverviewTest::emptyAllClearAndNoSiteRow()
{
    Bench bench;
    VigiloOverview empty(bench.context());
    QCOMPARE(listTexts(empty.findingList()), QStringList{"Add a device to see its health here."});
    QCOMPARE(listTexts(empty.siteList()), QStringList{"No active devices."});

    // The row of devices without a site is told apart by its id, not its
    // label: a real site may be called "No site" too.
    const Native::Site named = site("No site");
    bench.load({up("Fine"), up("Sited", named.id)}, {named});
    VigiloOverview clear(bench.context());
    QCOMPARE(listTexts(clear.findingList()), QStringList{"All clear. Every active device passed its last check."});
    QCOMPARE(listTexts(clear.siteList()), (QStringList{"row:No site", "row:No site"}));
    clear.show();
    QVERIFY(QTest::qWaitForWindowExposed(&clear));
    QSignalSpy clicks(&clear, &VigiloOverview::siteClicked);
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(clear.siteList()->itemAt(i)->widget(), Qt::LeftButton);
    QTRY_COMPARE(clicks.count(), 2);
    QCOMPARE((QSet<QString>{clicks.at(0).at(0).toString(), clicks.at(1).at(0).toString()}),
             (QSet<QString>{"", "No site"}));
}

void OverviewTest::findingsCollapseAndExpand()
{
    // 75 findings: five rows until expanded, then 60 and a line for the other 15.
    const Native::Site depot = site("Depot");
    QList<Native::Device> many;
    for (int i = 0; i < 75; ++i)
        many << cameraDown(QStringLiteral("C%1").arg(i), depot.id);
    many[0].name.clear(); // listed by the name it reported
    many[0].health.deviceName = QStringLiteral("Reported C0");
    Bench bench(many, {depot});
    VigiloOverview o(bench.context());
    QCOMPARE(o.findingList()->count(), 5);
    QCOMPARE(o.showAllButton()->text(), QStringLiteral("Show all 75"));
    QVERIFY(o.countNoteLabel()->text().contains(QStringLiteral("75 warnings")));
    QVERIFY(listTexts(o.findingList()).first().contains(QStringLiteral("Reported C0 · Depot")));
    o.showAllButton()->click();
    QCOMPARE(o.findingList()->count(), 61);
    QCOMPARE(listTexts(o.findingList()).last(),
             QStringLiteral("and 15 more. Use the filters below to go through them."));

    // A listed finding told in other words (how long ago, mostly) keeps its
    // row, which shows the new words; another finding gets a row of its own.
    const QString id = bench.store().devices().at(1).id;
    QList<NativeInsights::Issue> issues{{NativeInsights::Warning, id, QStringLiteral("1 camera offline"),
                                         QStringLiteral("Camera 1 (seen 5 min ago)."), 11}};
    o.showFindings(issues, {}, {}, false);
    const QPointer<QWidget> row = o.findingList()->itemAt(0)->widget();
    const auto detail = [&o] {
        return o.findingList()->itemAt(0)->widget()->findChild<ElidedLabel*>(QStringLiteral("NIssueDetail"));
    };
    issues[0].detail = QStringLiteral("Camera 1 (seen 6 min ago).");
    o.showFindings(issues, {}, {}, false);
    QCOMPARE(o.findingList()->itemAt(0)->widget(), row.data());
    QCOMPARE(detail()->fullText() + QLatin1Char('|') + row->toolTip(),
             issues[0].detail + QLatin1Char('|') + issues[0].detail);
    issues[0].title = QStringLiteral("2 cameras offline");
    o.showFindings(issues, {}, {}, false);
    QVERIFY(o.findingList()->itemAt(0)->widget() != row.data());
    QCOMPARE(listTexts(o.findingList()), QStringList{QStringLiteral("row:2 cameras offline, C1 · Depot")});
}

// Tab reads each pane down: "Show all" in the header of the findings, then
// the findings' list and its rows, then the sites' list and its rows, never
// back up from a list to the header above it.
void OverviewTest::tabReadsDownThePanes()
{
    const Native::Site depot = site("Depot");
    QList<Native::Device> many;
    for (int i = 0; i < 8; ++i)
        many << cameraDown(QStringLiteral("C%1").arg(i), depot.id);
    Bench bench(many, {depot});
    VigiloOverview o(bench.context());
    QStringList order;
    QWidget* w = o.showAllButton();
    for (int i = 0; i < 200 && w; ++i, w = w->nextInFocusChain()) {
        if (!o.isAncestorOf(w) || !(w->focusPolicy() & Qt::TabFocus))
            continue;
        if (qobject_cast<QScrollArea*>(w))
            order << w->accessibleName();
        else if (w == o.showAllButton())
            order << QStringLiteral("show all");
        else if (o.findingList()->parentWidget()->isAncestorOf(w))
            order << QStringLiteral("finding");
        else if (o.siteList()->parentWidget()->isAncestorOf(w))
            order << QStringLiteral("site");
    }
    order.removeDuplicates();
    QCOMPARE(order, (QStringList{"show all", "Needs attention", "finding", "Sites", "site"}));
}

void OverviewTest::sitesBeyondTwelve()
{
    QList<Native::Site> sites;
    QList<Native::Device> devices;
    for (int i = 0; i < 15; ++i) {
        sites << site(QStringLiteral("Site %1").arg(i, 2, 10, QLatin1Char('0')), QStringLiteral("ISP"),
                      QStringLiteral("Ravi"));
        if (i < 12)
            devices << down(QStringLiteral("D%1").arg(i), sites.last().id);
        else if (i == 12)
            devices << cameraDown(QStringLiteral("W"), sites.last().id);
        else
            devices << up(QStringLiteral("U%1").arg(i), sites.last().id);
    }
    Bench bench(devices, sites);
    VigiloOverview o(bench.context());
    QCOMPARE(o.siteList()->count(), 13);
    QCOMPARE(listTexts(o.siteList()).last(),
             QStringLiteral("3 more sites: 1 with warnings, 2 all good. Search to find one."));
    // A down site's row: subtitle, chip, red bar.
    QWidget* first = o.siteList()->itemAt(0)->widget();
    QVERIFY(findByText<QLabel>(first, QStringLiteral("ISP · Ravi")));
    QVERIFY(findByText<QLabel>(first, QStringLiteral("1 problem")));
    auto* bar = first->findChild<QProgressBar*>();
    QCOMPARE(bar->property("level").toString() + QString::number(bar->value()) + QString::number(bar->maximum()),
             QStringLiteral("bad01"));

    // A click on a row is taken after the click's handler is over; a release
    // outside the row is no click.
    o.resize(1200, 900);
    o.show();
    QVERIFY(QTest::qWaitForWindowExposed(&o));
    QSignalSpy siteClicks(&o, &VigiloOverview::siteClicked);
    QSignalSpy opens(&o, &VigiloOverview::openDevice);
    QTest::mousePress(first, Qt::LeftButton);
    QTest::mouseRelease(first, Qt::LeftButton, {}, QPoint(-5, -5));
    QTest::mouseClick(first, Qt::LeftButton);
    QCOMPARE(siteClicks.count(), 0);
    QTRY_COMPARE(siteClicks.count(), 1);
    QCOMPARE(siteClicks.first().first().toString(), QStringLiteral("Site 00"));
    QTest::mouseClick(o.findingList()->itemAt(0)->widget(), Qt::LeftButton);
    QTRY_COMPARE(opens.count(), 1);
}

void OverviewTest::stripSquaresTipsAndPaint()
{
    UptimeStrip strip;
    strip.setDays({100, 99.5, -1, 95, 80, 100, 99.96}, {"a", "b", "c", "d", "e", "f", "Today"});
    strip.resize(200, 40);
    QCOMPARE(strip.square(1), QRectF((200.0 - 24) / 7 + 4, 0, (200.0 - 24) / 7, 24));
    strip.resize(900, 40);
    QCOMPARE(strip.square(6), QRectF(6 * 68, 0, 64, 24));
    const QDate today(2026, 3, 2);
    auto day = [&today](int back) { return QLocale().toString(today.addDays(-back), QStringLiteral("ddd d MMM")); };
    QCOMPARE(strip.tipAt(QPoint(6 * 68 + 10, 10), today), day(0) + QStringLiteral(": 100.0% up"));
    QCOMPARE(strip.tipAt(QPoint(2 * 68 + 10, 30), today), day(4) + QStringLiteral(": no checks"));
    // In the gap, within 2 px of the square on its left.
    QCOMPARE(strip.tipAt(QPoint(64 + 1, 10), today).left(3), day(6).left(3));
    QCOMPARE(strip.tipAt(QPoint(7 * 68 + 10, 10), today), QString());
    // Painted in the colours of its days (the first is 100).
    QCOMPARE(strip.grab().toImage().pixelColor(4, 4), NativeStyle::kSuccess);
}

void OverviewTest::cacheAgreesWithServices()
{
    // A fleet with findings of every level, standing conditions from live
    // events, sites with and without devices, and some history.
    const Native::Site a = site("Alpha", "ISP", "Ravi");
    const Native::Site b = site("Bravo");
    QList<Native::Device> devices{down("D1", a.id), up("U1", a.id), cameraDown("C1", b.id), fresh("N1", b.id),
                                  disabled("X1"),   up("U2"),       cameraDown("C2", {})};
    Native::UptimeHistory history;
    for (int h = 0; h < 9; ++h)
        nativeseed::hour(history, devices[1].id, Native::GraphType::Device, 0, testNow().date(), h, h == 2 ? 10 : 60);
    // The device that is down was last up in the hour from 03:00: its
    // findings and row tell so from the history.
    nativeseed::hour(history, devices[0].id, Native::GraphType::Device, 0, testNow().date(), 3, 30);
    Bench bench(devices, {a, b}, history);
    auto alert = [](const char* type, bool active = true) {
        return AlertStream::Alert{QString::fromLatin1(type), active, 2, QDateTime(), QString(), -1}; // on channel 2
    };
    bench.events->ingest(devices[1].id, {alert("videoloss"), alert("hdError"), alert("tamperdetection")});
    bench.events->ingest(devices[1].id, {alert("tamperdetection", false)});
    bench.events->ingest(devices[5].id, {alert("hdError")});

    const NativeContext context = bench.context();
    const QDateTime now = NativeContext::now();
    // The page's grouped reading of standing conditions equals the service's.
    auto where = [](const auto& s) { return QStringLiteral("%1@%2").arg(s.kind).arg(s.channel); };
    auto standing = [&](const QString& id) {
        return std::pair{lines(context.sources().standing(id, 24), where),
                         lines(bench.events->standing(id, 24), where)};
    };
    QCOMPARE(standing(devices[1].id).first.size(), 2); // video loss and disk error; the tampering was cleared
    for (const Native::Device& d : devices)
        QCOMPARE(standing(d.id).first, standing(d.id).second);

    FleetCache cache;
    cache.update(context, devices, now);
    QCOMPARE(cache.recomputed(), devices.size());
    const auto sources = NativeInsights::Sources::over(&bench.store(), bench.controller.get(), bench.events.get());
    auto issueLines = [](const QList<NativeInsights::Issue>& issues) {
        return lines(issues,
                     [](const auto& i) { return QStringLiteral("%1 %2 %3").arg(i.level).arg(i.deviceId, i.title); });
    };
    QVERIFY(cache.issues(devices).size() >= 5);
    QCOMPARE(issueLines(cache.issues(devices)), issueLines(NativeInsights::issues(sources, now)));
    // The first few for the overview's list, and the counts of them all.
    const FleetCache::FirstIssues first = cache.firstIssues(devices, 3);
    const NativeOverview::FindingCounts counts = NativeOverview::countFindings(cache.issues(devices));
    QCOMPARE(issueLines(first.first), issueLines(cache.issues(devices).mid(0, 3)));
    QCOMPARE((QList<int>{first.problems, first.warnings, first.notes}),
             (QList<int>{counts.problems, counts.warnings, counts.notes}));
    const QDateTime lastUp(testNow().date(), QTime(4, 0));
    QVERIFY(cache.entry(devices[0].id)
                ->issues.constFirst()
                .detail.endsWith(QStringLiteral("Last online %1.").arg(NativeInsights::ago(lastUp, now))));
    QCOMPARE(cache.entry(devices[0].id)->row.cells[FleetRules::ColStatus].sub,
             QStringLiteral("for %1").arg(NativeInsights::span(lastUp.secsTo(now))));
    QCOMPARE(lines(cache.sites(context, devices), describe), lines(NativeInsights::sites(sources, now), describe));
    QCOMPARE(cache.fleetDays(), NativeInsights::fleetDailyUptime(bench.store(), 7, now));

    // Only what was marked is worked out again; a removed device is dropped.
    QStringList rounds;
    for (int round = 0; round < 3; ++round) {
        if (round == 1)
            cache.mark(devices[2].id);
        if (round == 2)
            devices.removeFirst();
        cache.update(context, devices, now);
        rounds << QStringLiteral("%1 %2").arg(cache.recomputed()).arg(cache.changed());
    }
    QCOMPARE(rounds, (QStringList{"0 0", "1 1", "0 1"}));
}

void OverviewTest::listsChangeWorksOutOnlyWhatDiffers()
{
    Native::Site a = site("Alpha");
    const Native::Site b = site("Bravo");
    Bench bench({down("D1", a.id), up("U1", a.id), cameraDown("C1", b.id), fresh("N1", b.id), disabled("X1"), up("U2"),
                 cameraDown("C2", {})},
                {a, b});
    NativeStore& store = bench.store();
    const NativeContext context = bench.context();
    const QDateTime now = NativeContext::now();
    auto idOf = [&](const QString& name) {
        for (const Native::Device& d : store.devices())
            if (d.name == name)
                return d.id;
        return QString();
    };
    FleetCache cache;
    cache.update(context, store.devices(), now);

    // A mix of changes no device notice reported: a site renamed (its two
    // devices), a device switched off, one turned busy, one added, one
    // removed; C2 and X1 stay as they were.
    a.name = QStringLiteral("Alpha North");
    store.updateSite(a);
    store.setEnabled(idOf("N1"), false, QStringLiteral("Moved"));
    bench.controller->run(idOf("U2"), NativeController::Refresh);
    store.addDevice(fresh("N2", b.id));
    store.removeDevice(idOf("C1"));
    cache.markLists();
    cache.update(context, store.devices(), now);
    QCOMPARE(cache.recomputed(), 5);

    // The table and findings are those a cache made afresh gives.
    FleetCache afresh;
    afresh.update(context, store.devices(), now);
    auto rowText = [](const FleetCache& c, const QString& id) {
        const FleetCache::Entry* e = c.entry(id);
        if (!e)
            return QStringList{QStringLiteral("none")};
        QStringList out{e->site, QString::number(e->worst), QString::number(e->issues.size())};
        for (size_t col = 0; col < FleetRules::Cells::size(); ++col) {
            const FleetRules::Cell& cell = e->row.cells[col];
            out << QStringLiteral("%1|%2|%3|%4").arg(cell.text, cell.sub, cell.tip).arg(cell.kind);
        }
        return out;
    };
    for (const Native::Device& d : store.devices())
        QCOMPARE(rowText(cache, d.id), rowText(afresh, d.id));
    QCOMPARE(cache.entry(idOf("D1"))->site, QStringLiteral("Alpha North"));
    QVERIFY(!cache.entry(idOf("C1")));
    // The site roll-up kept between rebuilds follows, and so does a site's
    // provider, which no device's row shows.
    const auto siteLines = [&](const FleetCache& c) { return lines(c.sites(context, store.devices()), describe); };
    QCOMPARE(siteLines(cache), siteLines(afresh));
    Native::Site bravo = store.sites().at(1);
    bravo.isp = QStringLiteral("Fibre One");
    store.updateSite(bravo);
    cache.markLists();
    cache.update(context, store.devices(), now);
    QCOMPARE(siteLines(cache), lines(NativeInsights::sites(context.sources(), now), describe));
    QVERIFY(siteLines(cache).join(QLatin1Char('\n')).contains(QStringLiteral("Fibre One")));

    // Nothing changed since, or the event streams changed but no device's
    // stream state did: nothing is worked out again.
    cache.markLists();
    cache.update(context, store.devices(), now);
    QCOMPARE(cache.recomputed(), 0);
    cache.markLinks();
    cache.update(context, store.devices(), now);
    QCOMPARE(cache.recomputed(), 0);

    // The minute tick, and ticks that carry "min ago" into "h ago" and the
    // offline span on: findings and relative times alone are worked out
    // again, to what a fresh build gives then. A row whose texts stay keeps
    // its stamp, so the table does not compare its cells.
    const quint64 offStamp = cache.entry(idOf("X1"))->row.stamp;
    quint64 downStamp = cache.entry(idOf("D1"))->row.stamp;
    QDate day = now.toLocalTime().date();
    for (const qint64 later : {60, 3 * 3600, 26 * 3600 + 60}) {
        const QDateTime then = now.addSecs(later);
        // A new day relabels the uptime column: everything is worked out.
        const bool newDay = then.toLocalTime().date() != day;
        day = then.toLocalTime().date();
        cache.markClock();
        cache.update(context, store.devices(), then);
        const int all = int(store.devices().size());
        QCOMPARE(std::make_pair(cache.recomputed(), cache.clockOnly()),
                 newDay ? std::make_pair(all, 0) : std::make_pair(0, all));
        FleetCache fresh;
        fresh.update(context, store.devices(), then);
        for (const Native::Device& d : store.devices())
            QCOMPARE(rowText(cache, d.id), rowText(fresh, d.id));
        QCOMPARE(cache.entry(idOf("X1"))->row.stamp, offStamp);
        QVERIFY(cache.entry(idOf("D1"))->row.stamp != downStamp);
        downStamp = cache.entry(idOf("D1"))->row.stamp;
    }
}

KVR_TEST_MAIN(OverviewTest)
#include "tst_overview.moc"

// Names and counts of site rows made while the overview shows, in the style
// sheet's fonts (a heavier one for the name): a text is shortened only when
// it does not fit, and never while the row beside it has room to spare.
// Streams that keep failing change their state many times a second across a
// large fleet; only the devices whose findings read it (those up) are worked
// out again, not a device that is down anyway.
void OverviewTest::failingStreamsWorkOutOnlyDevicesUp()
{
    // D1 is down but within reach (its HTTP answers are errors): its stream
    // is still tried, where one found unreachable waits for a check.
    Native::Device d1 = down("D1");
    d1.health.internet = d1.health.httpPort = Native::Passed;
    d1.health.error = QStringLiteral("The device answered HTTP 500. Check the manufacturer.");
    Bench bench({d1, up("U1")});
    NativeStore& store = bench.store();
    const NativeContext context = bench.context();
    const QDateTime now = NativeContext::now();
    FleetCache cache;
    cache.update(context, store.devices(), now);
    // Each stream's first attempts go out; the later ones wait.
    bench.events->setTimerFunction([](const QString&, std::chrono::milliseconds delay, QTimer* timer) {
        if (delay < std::chrono::seconds(1))
            timer->start(0);
    });
    bench.events->start();
    QTRY_COMPARE(bench.events->statuses().size(), 2);
    for (const Native::Device& d : store.devices())
        QTRY_COMPARE(bench.events->statuses().value(d.id).link, Native::Link::Lost);
    cache.markLinks();
    cache.update(context, store.devices(), now);
    QCOMPARE(cache.recomputed(), 1);
    bench.events->stop();
}

void OverviewTest::siteRowsShortenOnlyWhatDoesNotFit()
{
    Bench bench;
    QWidget host;
    host.setStyleSheet(NativeStyle::stylesheet());
    auto* column = new QVBoxLayout(&host);
    auto* o = new VigiloOverview(bench.context());
    column->addWidget(o);
    host.resize(1232, 320); // the fleet page of a 1280 px window
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    // id, name, subtitle; devices, up, checked, cameras, online, known, problems, warnings
    const QList<SiteSummary> sites{
        {QStringLiteral("s1"), QStringLiteral("Riverside"), QString(), 12, 12, 12, 176, 0, 0, 0, 0},
        {QStringLiteral("s2"), QStringLiteral("Riverside Logistics Park"), QStringLiteral("FiberNet"), 4, 4, 4, 52, 40,
         52, 0, 1},
        {QStringLiteral("s3"), QStringLiteral("Riverside Logistics Park, Warehouse 7 and the North Gatehouse"),
         QStringLiteral("FiberNet Business 200 Mbps · Asha Rao, +91 98200 12345"), 40, 31, 40, 512, 480, 512, 9, 14},
    };
    o->showFindings({}, sites, {}, false);
    QTest::qWait(50); // the new rows show and lay out
    QStringList faults;
    QStringList shortened;
    for (ElidedLabel* label : o->findChildren<ElidedLabel*>()) {
        if (!label->isVisible() || !label->isShortened())
            continue;
        shortened << label->fullText();
        const QMargins m = label->contentsMargins();
        const int need =
            qCeil(QFontMetricsF(label->font()).horizontalAdvance(label->fullText())) + m.left() + m.right();
        if (need <= label->width()) {
            faults << label->fullText() + QStringLiteral(": fits, yet shortened");
            continue;
        }
        // What the other items of its row could still give up.
        QBoxLayout* row = rowOf(label->parentWidget()->layout(), label);
        int spare = 0;
        for (int k = 0; row && k < row->count(); ++k) {
            QLayoutItem* item = row->itemAt(k);
            if (item->spacerItem() || (item->widget() != label && !item->isEmpty() && row->stretch(k) > 0))
                spare += item->geometry().width() - item->minimumSize().width();
        }
        if (spare >= need - label->width())
            faults << label->fullText()
                    + QStringLiteral(": shortened by %1 px beside %2 px to spare")
                          .arg(need - label->width())
                          .arg(spare);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    // What is shortened: only the long site's name and its provider.
    QVERIFY2(shortened.size() == 2 && shortened.first() == sites.at(2).name, qPrintable(shortened.join(" | ")));
}
