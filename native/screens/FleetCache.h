#pragma once

// What the fleet page shows of each device (its findings, its table row and
// its rank), kept between rebuilds and worked out again only for the devices
// whose data changed. A probe result or a busy change of one device then
// costs that device's findings and row, not the whole fleet's, and a filter
// change costs nothing but the filtering. When the inventory's lists change,
// only the devices whose record, site name, busy or refused state differ
// from what they were worked out from are worked out again; everything is
// marked for a fresh look once a minute (relative times), when the history
// is read and when the event streams change.

#include "native/screens/FleetRules.h"
#include "native/screens/NativeContext.h"
#include "native/services/Verdicts.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class FleetCache {
public:
    struct Entry {
        QList<NativeInsights::Issue> issues;
        NativeFleet::Row row;
        int worst = 3; // smallest finding level; 3 without findings
        QString site;  // the site's name, empty without one
        // What the entry was worked out from, to tell whether it still holds.
        Native::Device record;
        bool busy = false;
        bool refused = false;
    };

    // Marks every device (the lists changed, or time moved on).
    void markAll() { m_all = true; }
    // The inventory's lists changed: every device is compared with what its
    // entry was worked out from, and only those that differ are worked out.
    void markLists() { m_compare = true; }
    // Marks one device (its record, its busy state or its events changed).
    void mark(const QString& deviceId) { m_dirty.insert(deviceId); }

    // Works out the marked devices (and any not seen before) again and
    // forgets removed ones. `devices` in inventory order.
    void update(const NativeContext& context, const QList<Native::Device>& devices, const QDateTime& now);

    const Entry* entry(const QString& deviceId) const;
    // Devices worked out by the last update.
    int recomputed() const { return m_recomputed; }
    // Whether the last update changed anything (worked a device out, dropped
    // one, or looked at everything).
    bool changed() const { return m_changed; }

    // Every device's findings in inventory order, sorted stably by level,
    // then by order: what NativeInsights::issues gives.
    QList<NativeInsights::Issue> issues(const QList<Native::Device>& devices) const;
    // One row per site with an enabled device, as NativeInsights::sites.
    QList<NativeInsights::SiteSummary> sites(const NativeContext& context, const QList<Native::Device>& devices) const;
    // The fleet's daily uptime of the last seven days, as
    // NativeInsights::fleetDailyUptime, from the rows' daily values.
    QList<double> fleetDays(const QList<Native::Device>& devices) const;

private:
    QHash<QString, Entry> m_entries;
    QSet<QString> m_dirty;
    bool m_all = true;
    bool m_compare = false;
    int m_recomputed = 0;
    quint64 m_stamp = 0;
    bool m_changed = true;
    QDate m_labelsDay;
    QStringList m_labels;
};
