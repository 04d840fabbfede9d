#include "native/screens/FleetCache.h"

#include "app/core/LocalZone.h"
#include "native/services/NativeStore.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int kDays = 7; // of the uptime column

// What the entry's row is made from besides the record.
NativeFleet::RowInputs rowInputs(const FleetCache::Entry& e, const QStringList& dayLabels, const QDateTime& now)
{
    NativeFleet::RowInputs in;
    in.now = now;
    in.busy = e.busy;
    in.refused = e.refused;
    in.siteName = e.site;
    in.lastSeenUp = e.lastSeenUp;
    in.daily = e.daily;
    in.dayLabels = dayLabels;
    return in;
}

void setFindings(FleetCache::Entry& e, QList<NativeInsights::Issue> issues)
{
    e.issues = std::move(issues);
    e.worst = 3;
    for (const NativeInsights::Issue& i : e.issues)
        e.worst = qMin(e.worst, i.level);
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
    const bool labelsChanged = m_labelsDay != today;
    if (labelsChanged) {
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
    // The rules compare a record's moments with now many times over; in UTC
    // each comparison is plain arithmetic instead of a time-zone lookup.
    const auto inUtc = [](const Native::Device& stored) {
        Native::Device utc = stored;
        utc.health.checkedAt = kvr::LocalZone::utc(utc.health.checkedAt);
        utc.health.fetchedAt = kvr::LocalZone::utc(utc.health.fetchedAt);
        utc.health.lastUp = kvr::LocalZone::utc(utc.health.lastUp);
        // The cameras' moments are only told as "seen ... ago", which
        // converts cheaply itself: the camera list stays shared, not copied.
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
        if (!stale) {
            // Only the clock moved: the findings and the row's relative
            // times, not the rest of the row, from the record as it was read
            // the last time.
            Entry& e = *found;
            setFindings(e, NativeInsights::issuesFor(sources, e.utc->device, now));
            if (NativeFleet::tellsTime(e.utc->device)) {
                e.row.cells = NativeFleet::Cells::later(e.utc, rowInputs(e, m_labels, now));
                e.row.stamp = ++m_stamp;
                e.now = now;
            }
            e.seen = m_update;
            ++kept;
            ++m_clockOnly;
            continue;
        }
        Entry e;
        e.site = siteNames.value(d.siteId);
        // The week's figures first, from the shared figures of the day (with
        // now already local, no zone look-up): the findings then find them
        // there too.
        if (d.enabled)
            e.daily = NativeInsights::dailyUptime(store, d.id, kDays, localNow);
        // When the device was last up, as store.lastSeenUp gives it, for the
        // findings and the row of a device that is down: read from the
        // history once here, in UTC, and kept for the minute ticks.
        const Native::Health& h = d.health;
        const bool down =
            d.enabled && h.checkedAt.isValid() && (h.internet == Native::Failed || h.device != Native::Passed);
        const bool sameRecord = known && found->record == d;
        if (sameRecord && !(down && !h.lastUp.isValid())) {
            // Read from the record alone, as the last time.
            e.utc = found->utc;
        } else {
            Native::Device utc = inUtc(d);
            QDate upDay;
            int upHour = 0;
            if (down && !utc.health.lastUp.isValid() && store.uptime().lastUpHour(d.id, &upDay, &upHour))
                utc.health.lastUp = kvr::LocalZone::utc(upDay, QTime(upHour, 0)).addSecs(3600);
            e.utc = NativeFleet::DeviceRef(new NativeFleet::SharedDevice(std::move(utc)));
        }
        if (down)
            e.lastSeenUp = e.utc->device.health.lastUp;
        setFindings(e, NativeInsights::issuesFor(sources, e.utc->device, now));
        e.busy = context.isBusy(d.id);
        e.refused = context.isRefused(d.id);
        e.now = now;
        e.row.id = d.id;
        // A row worked out from what it was keeps its stamp, so the table
        // tells it unchanged without making or comparing its cells (the
        // days' labels show in an active device's uptime only).
        const bool same = sameRecord && (!labelsChanged || !d.enabled) && found->busy == e.busy
            && found->refused == e.refused && found->site == e.site && found->lastSeenUp == e.lastSeenUp
            && found->daily == e.daily && (found->now == now || !NativeFleet::tellsTime(d));
        if (same) {
            e.row = found->row;
            e.now = found->now;
        } else {
            e.row.cells = NativeFleet::Cells::later(e.utc, rowInputs(e, m_labels, now));
            e.row.stamp = ++m_stamp;
        }
        // The order of names holds while the site's name and what the
        // device is named by (Native::deviceLabel) stay.
        const bool sameNames = known && found->site == e.site && found->record.name == d.name
            && found->record.health.deviceName == d.health.deviceName && found->record.ip == d.ip;
        if (sameNames)
            e.order = found->order;
        else
            m_orderStale = true;
        e.record = sameRecord ? std::move(found->record) : d;
        if (sources.link) {
            const Native::LinkStatus link = sources.link(d.id);
            e.link = link.link;
            e.linkText = link.text;
            e.linkSince = link.since;
        }
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
    m_reworked = m_changed || m_recomputed > 0 || dropped;
    m_changed = m_reworked || m_clockOnly > 0;
    if (m_orderStale)
        putInOrder();
    if (m_reworked)
        m_fleetDays = sumDays(devices);
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
    // Sorted as pointers, each finding then copied once into its place.
    std::vector<const NativeInsights::Issue*> all;
    all.reserve(size_t(devices.size()) * 2);
    for (const Native::Device& d : devices)
        if (const Entry* e = entry(d.id))
            for (const NativeInsights::Issue& i : e->issues)
                all.push_back(&i);
    std::stable_sort(all.begin(), all.end(), [](const NativeInsights::Issue* a, const NativeInsights::Issue* b) {
        return a->level != b->level ? a->level < b->level : a->order < b->order;
    });
    QList<NativeInsights::Issue> out;
    out.reserve(qsizetype(all.size()));
    for (const NativeInsights::Issue* i : all)
        out.append(*i);
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

void FleetCache::putInOrder()
{
    // By site name, then device name, each without case (as sortsBefore
    // compares them), then by id: a total order.
    struct Key {
        NativeFleet::NameKey site;
        NativeFleet::NameKey name;
        const QString* id;
        Entry* entry;
    };
    std::vector<Key> keys;
    keys.reserve(size_t(m_entries.size()));
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
        keys.push_back({NativeFleet::nameKey(it->site), NativeFleet::nameKey(Native::deviceLabel(it->record)),
                        &it.key(), &*it});
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        if (const int c = a.site.compare(b.site))
            return c < 0;
        if (const int c = a.name.compare(b.name))
            return c < 0;
        return *a.id < *b.id;
    });
    for (size_t i = 0; i < keys.size(); ++i)
        keys[i].entry->order = int(i);
    m_orderStale = false;
}

QList<double> FleetCache::sumDays(const QList<Native::Device>& devices) const
{
    QList<double> sum(kDays, 0.0);
    QList<int> count(kDays, 0);
    for (const Native::Device& d : devices) {
        if (!d.enabled)
            continue;
        const Entry* e = entry(d.id);
        if (!e)
            continue;
        const QList<double>& list = e->daily;
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
