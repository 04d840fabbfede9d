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
    m_clockOnly = 0;
    m_changed = m_all;
    ++m_update;
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
    // Site names by id, as NativeStore::siteName gives them, without a walk
    // of the site list per device.
    QHash<QString, QString> siteNames;
    for (const Native::Site& s : store.sites())
        if (!s.id.isEmpty() && !siteNames.contains(s.id))
            siteNames.insert(s.id, s.name);
    NativeInsights::Sources sources;
    bool haveSources = false;
    const auto needSources = [&] {
        if (!haveSources) {
            sources = context.sources();
            haveSources = true;
        }
    };
    m_entries.reserve(devices.size());
    UtcOfLocal toUtc;
    // The rules compare a record's moments with now many times over; in UTC
    // each comparison is plain arithmetic instead of a time-zone lookup.
    const auto inUtc = [&toUtc](const Native::Device& stored) {
        Native::Device utc = stored;
        utc.health.checkedAt = toUtc(utc.health.checkedAt);
        utc.health.fetchedAt = toUtc(utc.health.fetchedAt);
        utc.health.lastUp = toUtc(utc.health.lastUp);
        for (Native::Camera& c : utc.cameras)
            if (c.lastOnline.isValid())
                c.lastOnline = toUtc(c.lastOnline);
        return utc;
    };
    qsizetype kept = 0;
    for (const Native::Device& d : devices) {
        auto found = m_entries.find(d.id);
        const bool known = found != m_entries.end();
        if (known && found->seen == m_update)
            continue; // a second record with the same id: the first one holds
        bool stale = m_all || !known || m_dirty.contains(d.id);
        if (!stale && m_compare)
            stale = !(found->record == d && found->busy == context.isBusy(d.id)
                      && found->refused == context.isRefused(d.id) && found->site == siteNames.value(d.siteId));
        if (!stale && m_links && context.events) {
            needSources();
            const Native::LinkStatus link = sources.link(d.id);
            stale = link.link != found->link || link.text != found->linkText || link.since != found->linkSince;
        }
        if (!stale && !m_clock) {
            found->seen = m_update;
            ++kept;
            continue;
        }
        needSources();
        const Native::Device utc = inUtc(d);
        if (!stale) {
            // Only the clock moved: the findings and the row's relative
            // times, not the rest of the row.
            Entry& e = *found;
            e.issues = NativeInsights::issuesFor(sources, utc, now);
            e.worst = 3;
            for (const NativeInsights::Issue& i : e.issues)
                e.worst = qMin(e.worst, i.level);
            NativeFleet::RowInputs in;
            in.now = now;
            in.lastSeenUp = e.lastSeenUp;
            if (NativeFleet::setClockTexts(e.row, utc, in))
                e.row.stamp = ++m_stamp;
            e.seen = m_update;
            ++kept;
            ++m_clockOnly;
            continue;
        }
        Entry e;
        e.site = siteNames.value(d.siteId);
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
        // A row worked out to what it was keeps its stamp, so the table
        // tells it unchanged without comparing its cells.
        e.row.stamp = known && found->row.cells == e.row.cells ? found->row.stamp : ++m_stamp;
        e.record = d;
        e.busy = in.busy;
        e.refused = in.refused;
        if (sources.link) {
            const Native::LinkStatus link = sources.link(d.id);
            e.link = link.link;
            e.linkText = link.text;
            e.linkSince = link.since;
        }
        e.lastSeenUp = in.lastSeenUp;
        e.seen = m_update;
        if (known)
            *found = std::move(e);
        else
            m_entries.emplace(d.id, std::move(e));
        ++m_recomputed;
    }
    // Devices gone since the last update.
    bool dropped = false;
    if (m_entries.size() != kept + m_recomputed) {
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            if (it->seen != m_update) {
                it = m_entries.erase(it);
                dropped = true;
            } else {
                ++it;
            }
        }
    }
    m_changed = m_changed || m_recomputed > 0 || m_clockOnly > 0 || dropped;
    m_dirty.clear();
    m_all = false;
    m_compare = false;
    m_clock = false;
    m_links = false;
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
