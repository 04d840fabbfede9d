#pragma once

// What the fleet page shows of each device (its findings, its table row and
// its rank), kept between rebuilds and worked out again only for the devices
// whose data changed. A probe result or a busy change of one device then
// costs that device's findings and row, not the whole fleet's, and a filter
// change costs nothing but the filtering. When the inventory's lists change,
// only the devices whose record, site name, busy or refused state differ
// from what they were worked out from are worked out again. Once a minute
// only what moves on with the clock is worked out again (findings and the
// row's relative times); when the event streams change, only the devices
// whose stream state differs; when the history is read, everything. A row's
// cells are made from what it was worked out from when the table first shows
// them, so a fleet of thousands makes the few rows in sight.

#include "native/screens/FleetRules.h"
#include "native/screens/NativeContext.h"
#include "native/services/Verdicts.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace kvr::screens {

class FleetCache {
public:
    // What the rebuilds read of every device come first; the records, read
    // when a device is worked out again, are held apart, so that a pass over
    // the fleet touches little memory.
    struct Entry {
        int worst = 3; // smallest finding level; 3 without findings
        // Its place among the table's names (FleetRules::namePlaces), the
        // devices' ranks aside.
        int order = 0;
        quint64 seen = 0;    // the last update that found the device
        FleetRules::Row row; // its cells made when first read
        QString site;        // the site's name, empty without one
        QList<services::NativeInsights::Issue> issues;
        services::NativeInsights::SiteTally tally; // what it adds to its site's row
        QList<double> daily;                       // the week's uptime in the row; empty for a deactivated device
        // What the entry was worked out from, to tell whether it still holds.
        FleetRules::DeviceRef record;
        // The record with its moments in UTC (and when it was last up, for a
        // device that is down), as the rules read it.
        FleetRules::DeviceRef utc;
        bool busy = false;
        bool refused = false;
        services::Native::Link link = services::Native::Link::Off;
        QString linkText;
        QDateTime linkSince;
        QDateTime lastSeenUp; // of an offline device, in UTC
        QDateTime now;        // the moment the row's relative times tell of
    };

    // Marks every device (the lists changed, or time moved on).
    void markAll() { m_all = true; }
    // The inventory's lists changed: every device is compared with what its
    // entry was worked out from, and only those that differ are worked out.
    void markLists() { m_compare = true; }
    // Time moved on: findings and the rows' relative times are worked out
    // again, nothing else.
    void markClock() { m_clock = true; }
    // The event streams changed: devices whose stream state differs from
    // what their entry was worked out from are worked out again.
    void markLinks() { m_links = true; }
    // Marks one device (its record, its busy state or its events changed).
    void mark(const QString& deviceId) { m_dirty.insert(deviceId); }

    // Works out the marked devices (and any not seen before) again and
    // forgets removed ones. `devices` in inventory order. It works out at most
    // kWorkPerUpdate devices, so that a hundred thousand imported (or turned
    // busy) at once keep no rebuild long; the others are left for a later
    // update (unfinished()): one not seen before has no entry (and no row)
    // until then, one seen before keeps what it had. In a fleet larger than
    // that, the order of names after many were worked out is a later
    // update's too.
    void update(const NativeContext& context, const QList<services::Native::Device>& devices, const QDateTime& now);
    static constexpr int kWorkPerUpdate = 5000;
    // Whether the last update left devices to work out.
    bool unfinished() const { return m_unfinished; }

    const Entry* entry(const QString& deviceId) const;
    // The entries of the devices in their order, null where the cache has
    // none; found without a look-up by id where a device stands where it
    // stood in the last update's list.
    QList<const Entry*> entriesOf(const QList<services::Native::Device>& devices) const;
    // Devices worked out by the last update.
    int recomputed() const { return m_recomputed; }
    // Devices whose findings and relative times alone the last update
    // worked out again.
    int clockOnly() const { return m_clockOnly; }
    // Whether the last update changed anything (worked a device out, dropped
    // one, or looked at everything).
    bool changed() const { return m_changed; }
    // Whether it changed more than what moves on with the clock (worked a
    // device out or dropped one).
    bool reworked() const { return m_reworked; }
    // Whether it found a record, a refused login or the list of devices
    // changed: what the cards count and the brand filter lists.
    bool recordsChanged() const { return m_recordsChanged; }

    // Every device's findings in inventory order, sorted stably by level,
    // then by order: what NativeInsights::issues gives.
    QList<services::NativeInsights::Issue> issues(const QList<services::Native::Device>& devices) const;
    // The first `count` of those, and how many there are of each level.
    struct FirstIssues {
        QList<services::NativeInsights::Issue> first;
        int problems = 0;
        int warnings = 0;
        int notes = 0;
    };
    FirstIssues firstIssues(const QList<services::Native::Device>& devices, int count) const;
    // One row per site with an enabled device, as NativeInsights::sites;
    // summed again only when a device's part of it or the sites changed.
    QList<services::NativeInsights::SiteSummary> sites(const NativeContext& context,
                                                       const QList<services::Native::Device>& devices) const;
    // The fleet's daily uptime of the last seven days, as
    // NativeInsights::fleetDailyUptime, from the rows' daily values as the
    // last update left them.
    const QList<double>& fleetDays() const { return m_fleetDays; }

private:
    QList<double> sumDays(const QList<services::Native::Device>& devices) const;
    void putInOrder();
    // The entry of the device at `index` of a list when the device stood
    // there in the last update's list, else null.
    Entry* inPlace(qsizetype index, const QString& deviceId) const;

    QHash<QString, Entry> m_entries;
    // The ids of the last update's list, in its order, and their entries.
    // An id is told again by its text's address, which cannot be another
    // text's while it is held here: no look-up, no reading of the text.
    QList<QString> m_ids;
    QList<Entry*> m_ordered;
    QSet<QString> m_dirty;
    bool m_unfinished = false;
    bool m_daysStale = false;
    bool m_all = true;
    bool m_compare = false;
    bool m_clock = false;
    bool m_links = false;
    int m_recomputed = 0;
    int m_clockOnly = 0;
    quint64 m_update = 0;
    quint64 m_stamp = 0;
    bool m_changed = true;
    bool m_reworked = true;
    bool m_recordsChanged = true;
    mutable bool m_siteRowsStale = true;
    mutable QList<services::NativeInsights::SiteSummary> m_siteRows;
    mutable QList<services::Native::Site> m_siteList; // the sites they were summed over
    bool m_orderStale = true;
    QList<double> m_fleetDays;
    QDate m_labelsDay;
    QStringList m_labels;
};

} // namespace kvr::screens
