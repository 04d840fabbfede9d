#include "native/screens/FleetCache.h"

#include "native/services/NativeStore.h"

#include <algorithm>
#include <limits>

namespace {

// Local moments in UTC, with the zone's offset worked out once per local
// day (at its start and its end) rather than once per moment: each
// conversion of a local time asks the C library, which reads the zone's
// file again every time. A day on which the offset changes is converted
// moment by moment. Made for one update, so a change of the zone is seen
// by the next.
class UtcOfLocal {
public:
    QDateTime operator()(const QDateTime& t)
    {
        if (!t.isValid() || t.timeSpec() != Qt::LocalTime)
            return t.toUTC();
        const QDate day = t.date();
        auto it = m_offsets.constFind(day.toJulianDay());
        if (it == m_offsets.cend()) {
            const int start = QDateTime(day, QTime(0, 0)).offsetFromUtc();
            const int end = QDateTime(day, QTime(23, 59, 59)).offsetFromUtc();
            it = m_offsets.insert(day.toJulianDay(), start == end ? start : kChanges);
        }
        if (*it == kChanges)
            return t.toUTC();
        return QDateTime(day, t.time(), Qt::UTC).addSecs(-*it);
    }

private:
    static constexpr int kChanges = std::numeric_limits<int>::min();
    QHash<qint64, int> m_offsets;
};

// The device's seven daily uptime percentages, oldest first, as
// NativeInsights::dailyUptime gives them, read from the history with the
// record at hand (a fleet-wide pass would otherwise look every device up in
// the inventory by id, and outgrow the shared cache of daily figures).
// `localNow` is now in local time: the history converts it to local time,
// which costs nothing when it already is.
QList<double> dailyUptime(const NativeStore& store, const Native::Device& d, const QDateTime& localNow)
{
    constexpr int kDays = 7;
    const QList<Native::UptimeCell> cells =
        store.uptime().grid(d.id, Native::GraphType::Device, 0, kDays, localNow, d.createdAt);
    QList<double> out;
    out.reserve(kDays);
    for (qsizetype i = 0; i + 24 <= cells.size(); i += 24)
        out.append(NativeStore::uptimePercent(cells.mid(i, 24)));
    while (out.size() < kDays)
        out.prepend(-1.0);
    while (out.size() > kDays)
        out.removeFirst();
    return out;
}

} // namespace

void FleetCache::update(const NativeContext& context, const QList<Native::Device>& devices, const QDateTime& now)
{
    m_recomputed = 0;
    m_changed = m_all;
    // Every local-time conversion reads the time-zone settings again: the
    // moment is converted once here for the whole fleet.
    const QDateTime localNow = now.toLocalTime();
    const QDate today = localNow.date();
    if (m_labelsDay != today) {
        m_labelsDay = today;
        m_labels = NativeFleet::dayLabels(m_labelsDay);
        m_all = true;
    }
    const NativeStore& store = *context.store;
    NativeInsights::Sources sources;
    bool haveSources = false;
    QHash<QString, Entry> kept;
    kept.reserve(devices.size());
    UtcOfLocal toUtc;
    qsizetype reused = 0;
    for (const Native::Device& stored : devices) {
        auto found = m_entries.find(stored.id);
        const Native::Device& d = stored;
        if (!m_all && found != m_entries.end() && !m_dirty.contains(d.id)) {
            kept.emplace(d.id, std::move(*found));
            ++reused;
            continue;
        }
        if (!haveSources) {
            sources = context.sources();
            haveSources = true;
        }
        // The rules compare these moments with now many times over; in UTC
        // each comparison is plain arithmetic instead of a time-zone lookup.
        // (The last time up is read from the store, which has the record.)
        Native::Device utc = stored;
        utc.health.checkedAt = toUtc(utc.health.checkedAt);
        utc.health.fetchedAt = toUtc(utc.health.fetchedAt);
        utc.health.lastUp = toUtc(utc.health.lastUp);
        for (Native::Camera& c : utc.cameras)
            if (c.lastOnline.isValid())
                c.lastOnline = toUtc(c.lastOnline);
        Entry e;
        e.site = store.siteName(d.siteId);
        e.issues = NativeInsights::issuesFor(sources, utc, now);
        for (const NativeInsights::Issue& i : e.issues)
            e.worst = qMin(e.worst, i.level);
        NativeFleet::RowInputs in;
        in.now = now;
        in.busy = context.isBusy(d.id);
        in.refused = context.isRefused(d.id);
        in.siteName = e.site;
        if (NativeFleet::statusOf(d) == NativeFleet::Status::Offline)
            in.lastSeenUp = utc.health.lastUp.isValid()
                ? utc.health.lastUp
                : toUtc(store.uptime().lastUpFromSeries(d.id)); // as store.lastSeenUp, from the record at hand
        if (d.enabled)
            in.daily = dailyUptime(store, d, localNow);
        in.dayLabels = m_labels;
        e.row = NativeFleet::buildRow(utc, in);
        e.row.stamp = ++m_stamp;
        kept.emplace(d.id, std::move(e));
        ++m_recomputed;
    }
    // Anything worked out, or any device gone since the last update.
    m_changed = m_changed || m_recomputed > 0 || reused != m_entries.size();
    m_entries = std::move(kept);
    m_dirty.clear();
    m_all = false;
}

const FleetCache::Entry* FleetCache::entry(const QString& deviceId) const
{
    const auto it = m_entries.constFind(deviceId);
    return it == m_entries.cend() ? nullptr : &*it;
}

QList<NativeInsights::Issue> FleetCache::issues(const QList<Native::Device>& devices) const
{
    QList<NativeInsights::Issue> out;
    for (const Native::Device& d : devices)
        if (const Entry* e = entry(d.id))
            out += e->issues;
    std::stable_sort(out.begin(), out.end(), [](const NativeInsights::Issue& a, const NativeInsights::Issue& b) {
        return a.level != b.level ? a.level < b.level : a.order < b.order;
    });
    return out;
}

QList<NativeInsights::SiteSummary> FleetCache::sites(const NativeContext& context,
                                                     const QList<Native::Device>& devices) const
{
    return NativeInsights::sitesOver(devices, context.store->sites(), [this](const Native::Device& d) {
        const Entry* e = entry(d.id);
        return e ? e->issues : QList<NativeInsights::Issue>();
    });
}

QList<double> FleetCache::fleetDays(const QList<Native::Device>& devices) const
{
    constexpr int kDays = 7;
    QList<double> sum(kDays, 0.0);
    QList<int> count(kDays, 0);
    for (const Native::Device& d : devices) {
        if (!d.enabled)
            continue;
        const Entry* e = entry(d.id);
        if (!e)
            continue;
        const QList<double>& list = e->row.cells[NativeFleet::ColUptime].daily;
        for (int i = 0; i < kDays && i < list.size(); ++i) {
            if (list.at(i) >= 0) {
                sum[i] += list.at(i);
                ++count[i];
            }
        }
    }
    QList<double> out(kDays, -1.0);
    for (int i = 0; i < kDays; ++i)
        if (count.at(i) > 0)
            out[i] = sum.at(i) / count.at(i);
    return out;
}
