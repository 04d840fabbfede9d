#pragma once

// What the fleet page shows of the whole fleet (the cards' counts, the brand
// filter's list, the overview's findings, sites and week of uptime), kept as
// sums over the devices' entries: an entry that changes takes its old part
// out and puts its new part in, so one device's check costs that device's
// part, never a walk over the fleet. The entries themselves (FleetEntry)
// are the fleet cache's.

#include "native/screens/FleetRules.h"
#include "native/services/Verdicts.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <map>
#include <set>

namespace kvr::screens {

// What the fleet page shows of one device: its findings, its table row and
// its place in the table's order, with what they were worked out from.
struct FleetEntry {
    int worst = 3; // smallest finding level; 3 without findings
    // Its place among the table's names (FleetRules::namePlaces), the
    // devices' ranks aside.
    int order = 0;
    // Rises with the inventory's order: findings of one level and rule are
    // listed in it.
    quint64 seq = 0;
    // Its place in the list of the last whole pass over the fleet.
    qsizetype index = -1;
    quint64 seen = 0;    // the last pass that found the device
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
    // The names it is ordered by (its site's and its own, without case),
    // kept while they stay.
    FleetRules::NameKey siteKey;
    FleetRules::NameKey nameKey;

    // Where its row stands in the table's order.
    FleetRules::SortKey key() const;
};

class FleetTotals {
public:
    // Counts the entry's part in, or takes it out (as it was counted in).
    void enter(const FleetEntry& entry) { apply(entry, 1); }
    void leave(const FleetEntry& entry) { apply(entry, -1); }

    // The six cards' counts.
    FleetRules::FleetCounts counts() const;
    // The distinct brands, sorted (case-sensitive).
    QStringList brands() const;

    // Findings of each level, and the first `count` of them all in the
    // order NativeInsights::issues gives (level, rule, inventory).
    struct FirstIssues {
        QList<services::NativeInsights::Issue> first;
        int problems = 0;
        int warnings = 0;
        int notes = 0;
    };
    FirstIssues firstIssues(int count) const;

    // One row per site with an enabled device, as NativeInsights::sitesOver
    // gives them (most problems first), named from `sites`.
    QList<services::NativeInsights::SiteSummary> sites(const QList<services::Native::Site>& sites) const;

    // Per day the mean of the enabled devices' known values; -1 where none.
    QList<double> fleetDays() const;
    // Sums the days again from the entries in the inventory's order, as
    // NativeInsights::fleetDailyUptime adds them up: sums kept over many
    // changes drift in their last digits.
    void recountDays(const QList<const FleetEntry*>& inOrder);

private:
    void apply(const FleetEntry& entry, int sign);

    struct IssueKey {
        int level;
        int order;
        quint64 seq;
        int k; // its place among the entry's own findings
        bool operator<(const IssueKey& o) const
        {
            if (level != o.level)
                return level < o.level;
            if (order != o.order)
                return order < o.order;
            return seq != o.seq ? seq < o.seq : k < o.k;
        }
    };
    struct SiteSum {
        services::NativeInsights::SiteTally tally;
        int devices = 0;
        quint64 firstSeq = 0; // orders sites whose counts and names are alike
    };

    // Cards.
    int m_total = 0;
    QHash<QString, int> m_siteDevices; // devices per site id (all of them)
    FleetRules::FleetCounts m_counts;  // without total, sites and median
    std::map<int, int> m_latencies;    // connect time -> devices
    int m_latencyCount = 0;
    QMap<QString, int> m_brands;
    // Overview.
    std::set<IssueKey> m_issues;
    QHash<quint64, const FleetEntry*> m_bySeq;
    int m_levels[3] = {0, 0, 0};
    QHash<QString, SiteSum> m_sites; // enabled devices per site id
    QList<double> m_daySum;
    QList<int> m_dayCount;
};

} // namespace kvr::screens
