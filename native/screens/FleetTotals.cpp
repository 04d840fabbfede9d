#include "native/screens/FleetTotals.h"

#include "native/screens/Tunables.h"

#include <algorithm>

using namespace kvr::services;

namespace kvr::screens {

namespace {

constexpr int kDays = kvr::screens::tun::kUptimeColumnDays;

} // namespace

FleetRules::SortKey FleetEntry::key() const
{
    return {record ? FleetRules::stateRank(record->device, worst) : 4, order};
}

void FleetTotals::apply(const FleetEntry& e, int sign)
{
    if (!e.record)
        return;
    const Native::Device& d = e.record->device;

    // Cards.
    m_total += sign;
    if (!d.siteId.isEmpty()) {
        int& n = m_siteDevices[d.siteId];
        n += sign;
        if (n <= 0)
            m_siteDevices.remove(d.siteId);
    }
    const FleetRules::DeviceCounts c = FleetRules::countDevice(d, e.refused);
    m_counts.active += sign * int(c.active);
    m_counts.online += sign * int(c.online);
    m_counts.offline += sign * int(c.offline);
    m_counts.refused += sign * int(c.refused);
    m_counts.internetIssues += sign * int(c.internetIssue);
    m_counts.recordersOk += sign * int(c.recorderOk);
    m_counts.diskFaults += sign * int(c.diskFault);
    m_counts.notRecording += sign * int(c.notRecording);
    m_counts.cameras += sign * c.cameras;
    m_counts.camerasOffline += sign * c.camerasOffline;
    if (c.latency >= 0) {
        int& n = m_latencies[c.latency];
        n += sign;
        m_latencyCount += sign;
        if (n <= 0)
            m_latencies.erase(c.latency);
    }
    {
        int& n = m_brands[d.manufacturer];
        n += sign;
        if (n <= 0)
            m_brands.remove(d.manufacturer);
    }

    // Findings.
    for (int k = 0; k < int(e.issues.size()); ++k) {
        const NativeInsights::Issue& i = e.issues.at(k);
        const IssueKey key{i.level, i.order, e.seq, k};
        if (sign > 0)
            m_issues.insert(key);
        else
            m_issues.erase(key);
        m_levels[std::clamp(i.level, 0, 2)] += sign;
    }
    if (sign > 0)
        m_bySeq.insert(e.seq, &e);
    else
        m_bySeq.remove(e.seq);

    // Sites and the week, of enabled devices.
    if (!d.enabled)
        return;
    SiteSum& s = m_sites[d.siteId];
    if (sign > 0 && (s.devices == 0 || e.seq < s.firstSeq))
        s.firstSeq = e.seq;
    s.devices += sign;
    s.tally.checked += sign * e.tally.checked;
    s.tally.up += sign * e.tally.up;
    s.tally.cameras += sign * e.tally.cameras;
    s.tally.camerasKnown += sign * e.tally.camerasKnown;
    s.tally.camerasOnline += sign * e.tally.camerasOnline;
    s.tally.problems += sign * e.tally.problems;
    s.tally.warnings += sign * e.tally.warnings;
    if (s.devices <= 0)
        m_sites.remove(d.siteId);
    if (m_daySum.isEmpty()) {
        m_daySum.fill(0.0, kDays);
        m_dayCount.fill(0, kDays);
    }
    for (int i = 0; i < kDays && i < e.daily.size(); ++i) {
        const double v = e.daily.at(i);
        if (v < 0)
            continue;
        m_dayCount[i] += sign;
        // A day no device knows any more sums to nothing, exactly.
        m_daySum[i] = m_dayCount.at(i) == 0 ? 0.0 : m_daySum.at(i) + sign * v;
    }
}

FleetRules::FleetCounts FleetTotals::counts() const
{
    FleetRules::FleetCounts c = m_counts;
    c.total = m_total;
    c.sites = int(m_siteDevices.size());
    if (m_latencyCount > 0) {
        // The element at half the count, as the sorted list would hold it.
        int skip = m_latencyCount / 2;
        for (const auto& [latency, n] : m_latencies) {
            if (skip < n) {
                c.medianLatency = latency;
                break;
            }
            skip -= n;
        }
    }
    return c;
}

QStringList FleetTotals::brands() const
{
    return m_brands.keys();
}

FleetTotals::FirstIssues FleetTotals::firstIssues(int count) const
{
    FirstIssues out;
    out.problems = m_levels[NativeInsights::Problem];
    out.warnings = m_levels[NativeInsights::Warning];
    out.notes = m_levels[NativeInsights::Notice];
    for (auto it = m_issues.begin(); it != m_issues.end() && out.first.size() < count; ++it)
        if (const FleetEntry* e = m_bySeq.value(it->seq))
            out.first.append(e->issues.at(it->k));
    return out;
}

QList<NativeInsights::SiteSummary> FleetTotals::sites(const QList<Native::Site>& allSites) const
{
    // Each site's name as NativeInsights::sitesOver finds it.
    QHash<QString, const Native::Site*> byId;
    byId.reserve(allSites.size());
    for (const Native::Site& s : allSites)
        byId.insert(s.id, &s);
    struct Row {
        NativeInsights::SiteSummary summary;
        quint64 firstSeq;
    };
    QList<Row> rows;
    rows.reserve(m_sites.size());
    for (auto it = m_sites.cbegin(); it != m_sites.cend(); ++it) {
        NativeInsights::SiteSummary row =
            NativeInsights::siteRow(it.key(), it.key().isEmpty() ? nullptr : byId.value(it.key()));
        NativeInsights::addTally(row, it->tally, it->devices);
        rows.append({row, it->firstSeq});
    }
    // Alike, in the order their first devices stand in the inventory.
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (NativeInsights::siteBefore(a.summary, b.summary) || NativeInsights::siteBefore(b.summary, a.summary))
            return NativeInsights::siteBefore(a.summary, b.summary);
        return a.firstSeq < b.firstSeq;
    });
    QList<NativeInsights::SiteSummary> out;
    out.reserve(rows.size());
    for (const Row& r : rows)
        out.append(r.summary);
    return out;
}

void FleetTotals::recountDays(const QList<const FleetEntry*>& inOrder)
{
    m_daySum.fill(0.0, kDays);
    m_dayCount.fill(0, kDays);
    for (const FleetEntry* e : inOrder) {
        if (!e || !e->record || !e->record->device.enabled)
            continue;
        for (int i = 0; i < kDays && i < e->daily.size(); ++i) {
            if (e->daily.at(i) >= 0) {
                m_daySum[i] += e->daily.at(i);
                ++m_dayCount[i];
            }
        }
    }
}

QList<double> FleetTotals::fleetDays() const
{
    QList<double> out(kDays, -1.0);
    for (int i = 0; i < kDays && i < m_daySum.size(); ++i)
        if (m_dayCount.at(i) > 0)
            out[i] = m_daySum.at(i) / m_dayCount.at(i);
    return out;
}

} // namespace kvr::screens
