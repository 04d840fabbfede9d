#pragma once

// What the fleet page shows of each device (its findings, its table row and
// its rank), kept between rebuilds and worked out again only for the devices
// whose data changed; and what it shows of the whole fleet (FleetTotals),
// kept as sums that each changed device updates with its own part. A probe
// result or a busy change of one device then costs that device's findings,
// row and part of the sums, with no walk over the fleet; a filter change
// costs nothing but the filtering. When the inventory's lists change, a
// pass over the fleet (in slices, a turn of the event loop each) works out
// again only the devices whose record, site name, busy or refused state
// differ from what they were worked out from. Once a minute only what moves
// on with the clock is worked out again (findings and the row's relative
// times), in the same slices; when the event streams change, only the
// devices whose findings read their stream and whose stream state differs;
// when the history is read, everything. A row's cells are made from what it
// was worked out from when the table first shows them, so a fleet of
// thousands makes the few rows in sight.

#include "native/screens/FleetRules.h"
#include "native/screens/FleetTotals.h"
#include "native/screens/NativeContext.h"
#include "native/services/Verdicts.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

namespace kvr::screens {

class FleetCache {
public:
    using Entry = FleetEntry;

    // Marks every device (the history was read).
    void markAll() { m_all = true; }
    // The inventory's lists changed: every device is compared with what its
    // entry was worked out from, and only those that differ are worked out.
    void markLists() { m_compare = true; }
    // Time moved on: findings and the rows' relative times are worked out
    // again, nothing else.
    void markClock() { m_clock = true; }
    // The event streams changed: devices whose findings read their stream
    // and whose stream state differs from what their entry was worked out
    // from are worked out again.
    void markLinks() { m_links = true; }
    // Marks one device (its record, its busy state or its events changed).
    void mark(const QString& deviceId);

    // Works out the marked devices again, looking at those alone; after a
    // mark of the lists, the clock or everything, or when `devices` (in
    // inventory order) is not the list of the last pass, in a pass over all
    // of them, which also forgets removed ones. One update works out at
    // most kWorkPerUpdate devices and looks at at most kVisitsPerUpdate, so
    // that a hundred thousand imported (or a minute on) keep no turn long;
    // the rest is a later update's (unfinished()): a device not seen before
    // has no entry (and no row) until then, one seen before keeps what it
    // had. The order of names and the sums of the week wait for the end of
    // a pass.
    void update(const NativeContext& context, const QList<services::Native::Device>& devices, const QDateTime& now);
    static constexpr int kWorkPerUpdate = 1000;
    static constexpr int kVisitsPerUpdate = 25000;
    // Whether the last update left devices to work out or to look at.
    bool unfinished() const { return m_unfinished; }
    // Whether a pass over the whole fleet is under way (what it works out
    // shows once it ends); marked devices left over show as they are worked
    // out.
    bool passUnderway() const { return m_pass.active; }

    const Entry* entry(const QString& deviceId) const;
    // The entries of the devices in their order, null where the cache has
    // none; found without a look-up by id where a device stands where it
    // stood in the last pass's list.
    QList<const Entry*> entriesOf(const QList<services::Native::Device>& devices) const;
    // Devices worked out by the last update.
    int recomputed() const { return m_recomputed; }
    // Devices whose findings and relative times alone the last update
    // worked out again.
    int clockOnly() const { return m_clockOnly; }
    // Devices the last update looked at.
    int visited() const { return m_visited; }
    // Whether the last update changed anything (worked a device out, dropped
    // one, or looked at everything).
    bool changed() const { return m_changed; }
    // Whether it changed more than what moves on with the clock (worked a
    // device out or dropped one).
    bool reworked() const { return m_reworked; }
    // Whether it found a record, a refused login or the list of devices
    // changed: what the cards count and the brand filter lists.
    bool recordsChanged() const { return m_recordsChanged; }

    // What changed for the table since it last took it: the devices whose
    // row or place may have changed, those gone, and whether the order of
    // names was worked out again (every place may have moved).
    struct Changes {
        QSet<QString> touched;
        QSet<QString> dropped;
        bool reordered = false;
    };
    Changes takeChanges();
    bool hasChanges() const { return !m_touched.isEmpty() || !m_dropped.isEmpty() || m_reordered; }

    // The sums over every entry (cards, brands, findings, sites, week).
    const FleetTotals& totals() const { return m_totals; }

    // Every device's findings in inventory order, sorted stably by level,
    // then by order: what NativeInsights::issues gives.
    QList<services::NativeInsights::Issue> issues(const QList<services::Native::Device>& devices) const;
    // The first `count` of those, and how many there are of each level.
    using FirstIssues = FleetTotals::FirstIssues;
    FirstIssues firstIssues(const QList<services::Native::Device>& devices, int count) const;
    // One row per site with an enabled device, as NativeInsights::sites.
    QList<services::NativeInsights::SiteSummary> sites(const NativeContext& context,
                                                       const QList<services::Native::Device>& devices) const;
    // The fleet's daily uptime of the last seven days, as
    // NativeInsights::fleetDailyUptime, from the rows' daily values.
    const QList<double>& fleetDays() const { return m_fleetDays; }

private:
    // A pass over the whole list, in slices.
    struct Pass {
        bool active = false;
        // Walking the list; then what follows from the whole of it (the
        // devices gone, the week's sums); then the order of names. In a
        // large fleet each is a turn of its own.
        enum class Phase { Walk, Finish, Order } phase = Phase::Walk;
        qsizetype cursor = 0;
        bool all = false;
        bool compare = false;
        bool clock = false;
        bool moved = false;  // a device stands elsewhere than in the last pass
        bool added = false;  // an entry was made
        quint64 lastSeq = 0; // of the last entry met, to tell the order holds
        bool seqBroken = false;
    };
    // Inputs shared by the devices worked out in one update.
    struct Inputs;
    enum class Work { Full, Clock };

    void startPass();
    // Walks the pass on from its cursor; false when it stopped for the
    // budget.
    bool walk(Inputs& in, const QList<services::Native::Device>& devices);
    // Runs the pass on as far as this update may; true when it ended.
    bool runPass(Inputs& in, const QList<services::Native::Device>& devices);
    void finishPass(const QList<services::Native::Device>& devices);
    // Works out the marked devices alone; false when a pass is needed.
    bool workMarked(Inputs& in, const QList<services::Native::Device>& devices);
    // Marks the devices whose findings read a stream that changed.
    void markChangedLinks(Inputs& in);
    bool differs(Inputs& in, const Entry& e, const services::Native::Device& d);
    Entry* rework(Inputs& in, Entry* found, const services::Native::Device& d, Work work);
    void putInOrder();
    // The entry of the device at `index` of a list when the device stood
    // there in the last pass's list, else null.
    Entry* inPlace(qsizetype index, const QString& deviceId) const;
    Entry* find(const QString& deviceId) const;

    QHash<QString, std::shared_ptr<Entry>> m_entries;
    // The ids of the last pass's list, in its order, and their entries. An
    // id is told again by its text's address, which cannot be another text's
    // while it is held here: no look-up, no reading of the text.
    QList<QString> m_ids;
    QList<Entry*> m_ordered;
    // The marked devices, and the order they were marked in (taken from the
    // front; an id whose mark a pass took is passed over). A table of marks
    // emptied from the front while new ones come would crowd its buckets.
    QSet<QString> m_dirty;
    QList<QString> m_dirtyOrder;
    qsizetype m_dirtyHead = 0;
    // Devices whose findings read their stream's state (up, with a brand
    // that streams).
    QSet<QString> m_linkReaders;
    FleetTotals m_totals;
    Pass m_pass;
    quint64 m_seq = 0;
    bool m_unfinished = false;
    bool m_all = true;
    bool m_compare = false;
    bool m_clock = false;
    bool m_links = false;
    int m_worked = 0;
    int m_visited = 0;
    int m_recomputed = 0;
    int m_clockOnly = 0;
    quint64 m_update = 0;
    quint64 m_stamp = 0;
    bool m_changed = true;
    bool m_reworked = true;
    bool m_recordsChanged = true;
    bool m_orderStale = true;
    QSet<QString> m_touched;
    QSet<QString> m_dropped;
    bool m_reordered = false;
    QList<double> m_fleetDays;
    QDate m_labelsDay;
    QStringList m_labels;
};

} // namespace kvr::screens
