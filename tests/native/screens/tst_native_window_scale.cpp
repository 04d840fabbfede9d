// The fleet page at the size of a large estate: a batch of check results
// changes only its own rows, cards and counts (no walk over the fleet, no
// listing of the table again), and shows what a window built afresh shows;
// a minute on works the fleet out in slices, a turn each; recorders the
// open-file limit leaves without an event stream are said, with how many and
// why.

#include "app/core/Settings.h"
#include "native/screens/DeviceTable.h"
#include "native/screens/EventsDialog.h"
#include "native/screens/NativeWindow.h"
#include "native/screens/StatCard.h"
#include "native/screens/VigiloOverview.h"
#include "native/services/ConnectionGate.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTimer>

#include <algorithm>

using namespace kvr::core;
using namespace kvr::services;
using namespace kvr::screens;
using namespace FleetRules;
using namespace screenskit;

namespace {

constexpr int kDevices = 3000;

QStringList ids(const NativeWindow& w)
{
    return lines(w.model()->rows(), [](const Row& r) { return r.id; });
}

// The cards as a window shows them: value and detail of each.
QStringList cards(const NativeWindow& w)
{
    QStringList out;
    for (int i = 0; i < kCardCount; ++i)
        out << w.card(i)->value() + QLatin1Char('|') + w.card(i)->detail();
    return out;
}

// Each cell's text of every row, in order.
QStringList table(const NativeWindow& w)
{
    QStringList out;
    for (const Row& r : w.model()->rows()) {
        QStringList cells{r.id};
        for (size_t c = 0; c < Cells::size(); ++c)
            cells << r.cells[c].text + QLatin1Char('/') + r.cells[c].sub;
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

bool settled(const NativeWindow& w)
{
    return !w.rebuildTimer()->isActive() && !w.pageWorkPending();
}

} // namespace

class NativeWindowScaleTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Bench> bench;

    // A fleet over sites of 50: up, down and never checked in turn.
    void loadFleet(int count)
    {
        QList<Native::Site> sites;
        for (int s = 0; s < count / 50; ++s)
            sites << site(QStringLiteral("Branch %1").arg(s, 3, 10, QLatin1Char('0')));
        QList<Native::Device> devices;
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("Recorder %1").arg(i);
            const QString siteId = sites.at(i / 50).id;
            devices << (i % 3 == 0 ? up(name, siteId) : i % 3 == 1 ? down(name, siteId) : fresh(name, siteId));
            devices.last().manufacturer = i % 7 == 0 ? QStringLiteral("DAHUA") : QStringLiteral("HIKVISION");
        }
        bench = std::make_unique<Bench>(devices, sites);
    }

private Q_SLOTS:
    void init() { Prefs::set(Prefs::kNativeOverview, true); }

    // Four checks end, as the scheduler ends them: each rebuild looks at the
    // devices whose check ended alone and puts their rows where they now
    // belong; the table is not listed again; cards, overview and rows are
    // then what a window built afresh over the same fleet shows.
    void aBatchOfResultsTouchesOnlyItsRows()
    {
        loadFleet(kDevices);
        NativeWindow w(bench->context());
        QTRY_VERIFY_WITH_TIMEOUT(settled(w), 20000);
        QCOMPARE(w.model()->rowCount(), kDevices);
        const int listings = w.tableListings();
        int mostVisited = 0;
        connect(&w, &NativeWindow::rebuilt, this, [&] { mostVisited = std::max(mostVisited, w.devicesVisited()); });
        QSignalSpy changedRows(w.model(), &QAbstractItemModel::dataChanged);
        QSignalSpy movedRows(w.model(), &QAbstractItemModel::rowsMoved);

        // Two never checked come up, one up goes down, one down comes up.
        const QList<Native::Device>& all = bench->store().devices();
        const QStringList batch{all.at(2).id, all.at(5).id, all.at(3).id, all.at(4).id};
        for (const QString& id : batch)
            bench->controller->run(id, NativeController::Refresh);
        QCOMPARE(bench->pending.size(), 4);
        const auto jobs = std::exchange(bench->pending, {});
        for (const auto& [id, done] : jobs)
            done(id == all.at(3).id ? nativetest::offlineResult() : nativetest::upResult());
        QTRY_VERIFY_WITH_TIMEOUT(settled(w) && w.busyLabel()->text().isEmpty(), 10000);

        QVERIFY2(mostVisited <= batch.size(), qPrintable(QString::number(mostVisited)));
        QCOMPARE(w.tableListings(), listings);
        int rowsChanged = 0;
        for (const QList<QVariant>& args : std::as_const(changedRows))
            rowsChanged += args.at(1).toModelIndex().row() - args.at(0).toModelIndex().row() + 1;
        QVERIFY2(rowsChanged <= 2 * batch.size(), qPrintable(QString::number(rowsChanged)));
        QVERIFY(movedRows.size() <= batch.size());
        QVERIFY(!movedRows.isEmpty()); // those gone up or down moved

        NativeWindow fresh(bench->context());
        QTRY_VERIFY_WITH_TIMEOUT(settled(fresh), 20000);
        QCOMPARE(cards(w), cards(fresh));
        QCOMPARE(ids(w), ids(fresh));
        QCOMPARE(table(w), table(fresh));
        QCOMPARE(w.overview()->countNoteLabel()->text(), fresh.overview()->countNoteLabel()->text());
    }

    // A minute on in a large fleet works every device's findings and times
    // out again, a slice a turn, the window answering in between; the
    // table then shows the rows as they now read.
    void aMinuteOnIsWorkedOutInSlices()
    {
        const int count = 2 * FleetCache::kWorkPerUpdate + 100;
        loadFleet(count);
        NativeWindow w(bench->context());
        QTRY_VERIFY_WITH_TIMEOUT(settled(w), 20000);
        QList<int> turns;
        connect(w.rebuildTimer(), &QTimer::timeout, this, [&] { turns << w.rowsClockOnly() + w.rowsWorkedOut(); });
        QMetaObject::invokeMethod(w.minuteTimer(), "timeout");
        QTRY_VERIFY_WITH_TIMEOUT(settled(w) && !turns.isEmpty(), 20000);
        const int most = *std::max_element(turns.begin(), turns.end());
        QVERIFY2(most <= FleetCache::kWorkPerUpdate, qPrintable(QString::number(most)));
        int sum = 0;
        for (int n : std::as_const(turns))
            sum += n;
        QCOMPARE(sum, count);
        QCOMPARE(w.model()->rowCount(), count);
    }

    // Recorders that answer, more than the open-file limit leaves stream
    // places for: the window's live-events label and the events list say
    // how many wait, and why.
    void recordersLeftWithoutAStreamAreSaid()
    {
        ConnectionGate& gate = ConnectionGate::instance();
        const int capacity = gate.capacity();
        const int reserve = gate.requestReserve();
        auto restore = qScopeGuard([&] { gate.setCapacity(capacity, reserve); });
        gate.setCapacity(6, 2); // room for four streams

        kvrtest::FakeDevice fake(kvrtest::FakeDevice::Kind::Isapi);
        fake.login = kvrtest::FakeDevice::Login::None;
        QVERIFY(fake.start());
        QList<Native::Device> devices;
        for (int i = 0; i < 6; ++i) {
            Native::Device d = nativetest::deviceFor(fake);
            d.id = nativeseed::newId();
            d.name = QStringLiteral("Recorder %1").arg(i);
            devices << d;
        }
        bench = std::make_unique<Bench>(devices);
        NativeWindow w(bench->context());
        bench->events->start();
        QTRY_COMPARE_WITH_TIMEOUT(bench->events->connectedCount(), 4, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(w.liveEventsLabel()->text(), QStringLiteral("Live events 4/6 · 2 waiting"), 20000);
        const QString why = NativeEventText::heldBackText(2, ConnectionGate::openFileLimit(), 4);
        QVERIFY(why.startsWith(QStringLiteral("2 recorders wait for an event stream: the system lets this program "
                                              "keep only ")));
        QVERIFY2(w.liveEventsLabel()->toolTip().endsWith(why), qPrintable(w.liveEventsLabel()->toolTip()));
        {
            EventsDialog dialog(bench->context(), &w);
            QVERIFY2(dialog.summaryLabel()->text().endsWith(why), qPrintable(dialog.summaryLabel()->text()));
        }

        // Room again: all six stream, and nothing is said.
        gate.setCapacity(20, 4);
        QTRY_COMPARE_WITH_TIMEOUT(bench->events->connectedCount(), 6, 20000);
        QTRY_COMPARE(w.liveEventsLabel()->text(), QStringLiteral("Live events 6/6"));
        QVERIFY(!w.liveEventsLabel()->toolTip().contains(QStringLiteral("wait")));
        bench->events->stop();
        QTRY_COMPARE(gate.held(), 0);
    }
};

KVR_TEST_MAIN(NativeWindowScaleTest)

#include "tst_native_window_scale.moc"
