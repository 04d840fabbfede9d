#include "native/screens/FleetCache.h"

#include "app/core/LocalZone.h"
#include "native/screens/Tunables.h"
#include "native/services/NativeStore.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

using namespace kvr::services;

namespace kvr::screens {

namespace {

constexpr int kDays = kvr::screens::tun::kUptimeColumnDays;

// What the entry's row is made from besides the record.
FleetRules::RowInputs rowInputs(const FleetCache::Entry& e, const QStringList& dayLabels, const QDateTime& now)
{
    FleetRules::RowInputs in;
    in.now = now;
    in.busy = e.busy;
    in.refused = e.refused;
    in.siteName = e.site;
    in.lastSeenUp = e.lastSeenUp;
    in.daily = e.daily;
    in.dayLabels = dayLabels;
    return in;
}

// Returns whether what the device adds to its site's row changed.
bool setFindings(FleetCache::Entry& e, QList<NativeInsights::Issue> issues)
{
    const NativeInsights::SiteTally before = e.tally;
    e.issues = std::move(issues);
    e.worst = 3;
    e.tally.problems = 0;
    e.tally.warnings = 0;
    for (const NativeInsights::Issue& i : e.issues) {
        e.worst = qMin(e.worst, i.level);
        if (i.level == NativeInsights::Problem)
            ++e.tally.problems;
        else if (i.level == NativeInsights::Warning)
            ++e.tally.warnings;
    }
    return !(e.tally == before);
}

} // namespace

void FleetCache::update(const NativeContext& context, const QList<Native::Device>& devices, const QDateTime& now)
{
    m_recomputed = 0;
    m_clockOnly = 0;
    m_changed = m_all;
    m_recordsChanged = m_entries.isEmpty();
    ++m_update;
    // Every local-time conversion reads the time-zone settings again: the
    // moment is converted once here for the whole fleet.
    const QDateTime localNow = now.toLocalTime();
    const QDate today = localNow.date();
    const bool labelsChanged = m_labelsDay != today;
    if (labelsChanged) {
        m_labelsDay = today;
        m_labels = FleetRules::dayLabels(m_labelsDay);
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
    // Room for the whole fleet: a hash that grows moves its entries, so
    // that the entries found by their place in the last list would be where
    // they no longer are; they are looked up by id this time.
    const qsizetype room = m_entries.capacity();
    m_entries.reserve(devices.size());
    const bool rehashed = m_entries.capacity() != room;
    // The rules compare a record's moments with now many times over; in UTC
    // each comparison is plain arithmetic instead of a time-zone lookup.
    const auto inUtc = [](const Native::Device& stored) {
        Native::Device utc = stored;
        utc.health.checkedAt = kvr::core::LocalZone::utc(utc.health.checkedAt);
        utc.health.fetchedAt = kvr::core::LocalZone::utc(utc.health.fetchedAt);
        utc.health.lastUp = kvr::core::LocalZone::utc(utc.health.lastUp);
        // The cameras' moments are only told as "seen ... ago", which
        // converts cheaply itself: the camera list stays shared, not copied.
        return utc;
    };
    qsizetype kept = 0;
    bool added = false;
    int worked = 0;
    QSet<QString> carried; // marked, and left for a later update
    m_unfinished = false;
    bool moved = devices.size() != m_ids.size();
    for (qsizetype index = 0; index < devices.size(); ++index) {
        const Native::Device& d = devices.at(index);
        // Where the device stood the last time, its entry without a look-up
        // (until an entry is added, which may move them all).
        Entry* found = added || rehashed ? nullptr : inPlace(index, d.id);
        if (!found) {
            moved = true;
            if (const auto it = m_entries.find(d.id); it != m_entries.end())
                found = &*it;
        }
        const bool known = found != nullptr;
        if (known && found->seen == m_update)
            continue; // a second record with the same id: the first one holds
        bool stale = m_all || !known || (!m_dirty.isEmpty() && m_dirty.contains(d.id));
        if (!stale && m_compare)
            stale = !(found->record->device == d && found->busy == context.isBusy(d.id)
                      && found->refused == context.isRefused(d.id) && found->site == siteNames.value(d.siteId));
        if (!stale && m_links && context.events && NativeInsights::findingsReadLink(d)) {
            needSources();
            const Native::LinkStatus link = sources.link(d.id);
            stale = link.link != found->link || link.text != found->linkText || link.since != found->linkSince;
        }
        if (!stale && !m_clock) {
            found->seen = m_update;
            ++kept;
            continue;
        }
        if (stale && ++worked > kWorkPerUpdate) {
            // Worked out by a later update: a device not seen before has no
            // row until then, one seen before shows what it showed.
            m_unfinished = true;
            if (known) {
                carried.insert(d.id);
                found->seen = m_update;
                ++kept;
            }
            continue;
        }
        needSources();
        if (!stale) {
            // Only the clock moved: the findings and the row's relative
            // times, not the rest of the row, from the record as it was read
            // the last time.
            Entry& e = *found;
            if (setFindings(e, NativeInsights::issuesFor(sources, e.utc->device, now)))
                m_siteRowsStale = true;
            if (FleetRules::tellsTime(e.utc->device)) {
                e.row.cells = FleetRules::Cells::later(e.utc, rowInputs(e, m_labels, now));
                e.row.stamp = ++m_stamp;
                e.now = now;
            }
            e.seen = m_update;
            ++kept;
            ++m_clockOnly;
            continue;
        }
        // Worked out again, in place: what is kept is compared first.
        if (!found) {
            found = &*m_entries.emplace(d.id, Entry{});
            added = true;
        }
        Entry& e = *found;
        const bool sameRecord = known && e.record->device == d;
        const QString site = siteNames.value(d.siteId);
        // The week's figures first, from the shared figures of the day (with
        // now already local, no zone look-up): the findings then take them.
        QList<double> daily;
        if (d.enabled)
            daily = NativeInsights::dailyUptime(store, d.id, kDays, localNow);
        // When the device was last up, as store.lastSeenUp gives it, for the
        // findings and the row of a device that is down: read from the
        // history once here, in UTC, and kept for the minute ticks.
        const Native::Health& h = d.health;
        const bool down =
            d.enabled && h.checkedAt.isValid() && (h.internet == Native::Failed || h.device != Native::Passed);
        FleetRules::DeviceRef utc;
        if (sameRecord && !(down && !h.lastUp.isValid())) {
            utc = e.utc; // read from the record alone, as the last time
        } else {
            Native::Device converted = inUtc(d);
            QDate upDay;
            int upHour = 0;
            if (down && !converted.health.lastUp.isValid() && store.uptime().lastUpHour(d.id, &upDay, &upHour))
                converted.health.lastUp = kvr::core::LocalZone::utc(upDay, QTime(upHour, 0)).addSecs(3600);
            utc = FleetRules::DeviceRef(new FleetRules::SharedDevice(std::move(converted)));
        }
        const QDateTime lastSeenUp = down ? utc->device.health.lastUp : QDateTime();
        const bool busy = context.isBusy(d.id);
        const bool refused = context.isRefused(d.id);
        // A row worked out from what it was keeps its stamp, so the table
        // tells it unchanged without making or comparing its cells (the
        // days' labels show in an active device's uptime only).
        const bool same = sameRecord && (!labelsChanged || !d.enabled) && e.busy == busy && e.refused == refused
            && e.site == site && e.lastSeenUp == lastSeenUp && e.daily == daily
            && (e.now == now || !FleetRules::tellsTime(d));
        // The order of names holds while the site's name and what the
        // device is named by (Native::deviceLabel) stay.
        const Native::Device* was = known ? &e.record->device : nullptr;
        const bool sameNames = was && e.site == site && was->name == d.name
            && was->health.deviceName == d.health.deviceName && was->ip == d.ip;
        if (!sameNames)
            m_orderStale = true;

        if (!sameRecord || e.refused != refused)
            m_recordsChanged = true;
        if (!sameRecord || e.site != site)
            m_siteRowsStale = true;
        if (!sameRecord) {
            e.record = FleetRules::DeviceRef(new FleetRules::SharedDevice(d));
            e.tally = NativeInsights::siteTally(d, {});
        }
        e.utc = std::move(utc);
        e.site = site;
        e.daily = std::move(daily);
        e.lastSeenUp = lastSeenUp;
        e.busy = busy;
        e.refused = refused;
        if (setFindings(e, NativeInsights::issuesFor(sources, e.utc->device, now, &e.daily)))
            m_siteRowsStale = true;
        if (!same) {
            e.row.id = d.id;
            e.row.cells = FleetRules::Cells::later(e.utc, rowInputs(e, m_labels, now));
            e.row.stamp = ++m_stamp;
            e.now = now;
        }
        if (sources.link) {
            const Native::LinkStatus link = sources.link(d.id);
            e.link = link.link;
            e.linkText = link.text;
            e.linkSince = link.since;
        }
        e.seen = m_update;
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
    if (moved || added || dropped || rehashed) {
        m_ids.clear();
        m_ordered.clear();
        m_ids.reserve(devices.size());
        m_ordered.reserve(devices.size());
        for (const Native::Device& d : devices) {
            const auto it = m_entries.find(d.id);
            m_ids.append(d.id);
            m_ordered.append(it == m_entries.end() ? nullptr : &*it);
        }
    }
    if (added || dropped) {
        m_recordsChanged = true;
        m_siteRowsStale = true;
    }
    m_reworked = m_changed || m_recomputed > 0 || dropped;
    m_changed = m_reworked || m_clockOnly > 0;
    // The order of names and the fleet's days wait for the last of the
    // updates that work the devices out in turns: each walks them all. In a
    // fleet larger than a turn's share, an update that worked out many
    // devices leaves them to a turn of their own.
    if ((m_orderStale || m_daysStale) && worked >= kWorkPerUpdate / 2 && m_entries.size() > kWorkPerUpdate)
        m_unfinished = true;
    if (m_orderStale && !m_unfinished)
        putInOrder();
    if (m_reworked)
        m_daysStale = true;
    if (m_daysStale && !m_unfinished) {
        m_fleetDays = sumDays(devices);
        m_daysStale = false;
    }
    m_dirty = std::move(carried);
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

FleetCache::Entry* FleetCache::inPlace(qsizetype index, const QString& deviceId) const
{
    if (index >= m_ids.size())
        return nullptr;
    const QString& id = m_ids.at(index);
    return id.constData() == deviceId.constData() && id.size() == deviceId.size() ? m_ordered.at(index) : nullptr;
}

QList<const FleetCache::Entry*> FleetCache::entriesOf(const QList<Native::Device>& devices) const
{
    QList<const Entry*> out;
    out.reserve(devices.size());
    for (qsizetype index = 0; index < devices.size(); ++index) {
        const QString& id = devices.at(index).id;
        const Entry* e = inPlace(index, id);
        out.append(e ? e : entry(id));
    }
    return out;
}

QList<NativeInsights::Issue> FleetCache::issues(const QList<Native::Device>& devices) const
{
    return firstIssues(devices, std::numeric_limits<int>::max()).first;
}

FleetCache::FirstIssues FleetCache::firstIssues(const QList<Native::Device>& devices, int count) const
{
    // Sorted as pointers by level, order and place (the inventory's order,
    // then each device's own): the first ones only, each then copied once.
    struct Key {
        int level;
        int order;
        qsizetype place;
        const NativeInsights::Issue* issue;
    };
    FirstIssues out;
    std::vector<Key> keys;
    keys.reserve(size_t(devices.size()) * 2);
    for (const Entry* e : entriesOf(devices)) {
        if (!e)
            continue;
        for (const NativeInsights::Issue& i : e->issues)
            keys.push_back({i.level, i.order, qsizetype(keys.size()), &i});
        out.problems += e->tally.problems;
        out.warnings += e->tally.warnings;
        out.notes += int(e->issues.size()) - e->tally.problems - e->tally.warnings;
    }
    const auto before = [](const Key& a, const Key& b) {
        if (a.level != b.level)
            return a.level < b.level;
        return a.order != b.order ? a.order < b.order : a.place < b.place;
    };
    const auto end = keys.begin() + qMin(qsizetype(count), qsizetype(keys.size()));
    std::partial_sort(keys.begin(), end, keys.end(), before);
    out.first.reserve(end - keys.begin());
    for (auto it = keys.begin(); it != end; ++it)
        out.first.append(*it->issue);
    return out;
}

QList<NativeInsights::SiteSummary> FleetCache::sites(const NativeContext& context,
                                                     const QList<Native::Device>& devices) const
{
    // Summed again only when a device's part or the list of sites changed
    // since, for the devices the entries stand for.
    const QList<Native::Site> allSites = context.store->sites();
    bool inPlaceAll = devices.size() == m_ids.size();
    for (qsizetype index = 0; index < devices.size() && inPlaceAll; ++index)
        inPlaceAll = inPlace(index, devices.at(index).id) != nullptr;
    if (!m_siteRowsStale && inPlaceAll && allSites.constData() == m_siteList.constData()
        && allSites.size() == m_siteList.size())
        return m_siteRows;
    // The rules walk the list they are given: a device's place in it finds
    // its entry, which holds what the device adds to its site's row.
    const QList<const Entry*> entries = entriesOf(devices);
    const Native::Device* first = devices.constData();
    const Native::Device* end = first + devices.size();
    const std::function<NativeInsights::SiteTally(const Native::Device&)> tallyOf = [&](const Native::Device& d) {
        const bool inList =
            !std::less<const Native::Device*>()(&d, first) && std::less<const Native::Device*>()(&d, end);
        const Entry* e = inList ? entries.at(&d - first) : entry(d.id);
        return e ? e->tally : NativeInsights::siteTally(d, {});
    };
    m_siteRows = NativeInsights::sitesOver(devices, allSites, tallyOf);
    // Kept only for the devices the entries stand for.
    m_siteRowsStale = !inPlaceAll;
    m_siteList = allSites;
    return m_siteRows;
}

void FleetCache::putInOrder()
{
    QList<FleetRules::NameOrder> names;
    QList<Entry*> entries;
    names.reserve(m_entries.size());
    entries.reserve(m_entries.size());
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        names.append({it->site, Native::deviceLabel(it->record->device), it.key()});
        entries.append(&*it);
    }
    const QList<int> places = FleetRules::namePlaces(names);
    for (qsizetype i = 0; i < entries.size(); ++i)
        entries.at(i)->order = places.at(i);
    m_orderStale = false;
}

QList<double> FleetCache::sumDays(const QList<Native::Device>& devices) const
{
    QList<double> sum(kDays, 0.0);
    QList<int> count(kDays, 0);
    const QList<const Entry*> entries = entriesOf(devices);
    for (qsizetype index = 0; index < devices.size(); ++index) {
        const Entry* e = entries.at(index);
        if (!devices.at(index).enabled || !e)
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

} // namespace kvr::screens
