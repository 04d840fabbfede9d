#include "native/screens/FleetCache.h"

#include "app/core/LocalZone.h"
#include "app/core/ShownText.h"
#include "native/screens/Tunables.h"
#include "native/services/NativeStore.h"

#include <algorithm>
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

void setFindings(FleetCache::Entry& e, QList<NativeInsights::Issue> issues)
{
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
}

// The rules compare a record's moments with now many times over; in UTC
// each comparison is plain arithmetic instead of a time-zone lookup.
Native::Device inUtc(const Native::Device& stored)
{
    Native::Device utc = stored;
    utc.health.checkedAt = kvr::core::LocalZone::utc(utc.health.checkedAt);
    utc.health.fetchedAt = kvr::core::LocalZone::utc(utc.health.fetchedAt);
    utc.health.lastUp = kvr::core::LocalZone::utc(utc.health.lastUp);
    // The cameras' moments are only told as "seen ... ago", which converts
    // cheaply itself: the camera list stays shared, not copied.
    return utc;
}

} // namespace

struct FleetCache::Inputs {
    Inputs(const NativeContext& c, const QDateTime& at)
        : context(c),
          store(*c.store),
          now(at),
          localNow(at.toLocalTime())
    {}
    const NativeContext& context;
    const NativeStore& store;
    QDateTime now;
    // Every local-time conversion reads the time-zone settings again: the
    // moment is converted once for the whole update.
    QDateTime localNow;
    bool labelsChanged = false;

    // Site names by id, as NativeStore::siteName gives them cut to what a
    // row shows, without a walk of the site list per device.
    const QString& siteName(const QString& siteId)
    {
        if (!haveSites) {
            for (const Native::Site& s : store.sites())
                if (!s.id.isEmpty() && !siteNames.contains(s.id))
                    siteNames.insert(s.id, kvr::core::shownText(s.name));
            haveSites = true;
        }
        const auto it = siteNames.constFind(siteId);
        return it == siteNames.cend() ? none : *it;
    }
    const NativeInsights::Sources& sources()
    {
        if (!haveSources) {
            src = context.sources();
            haveSources = true;
        }
        return src;
    }

private:
    QHash<QString, QString> siteNames;
    bool haveSites = false;
    NativeInsights::Sources src;
    bool haveSources = false;
    const QString none;
};

void FleetCache::update(const NativeContext& context, const QList<Native::Device>& devices, const QDateTime& now)
{
    m_recomputed = 0;
    m_clockOnly = 0;
    m_visited = 0;
    m_worked = 0;
    m_changed = false;
    m_reworked = false;
    m_recordsChanged = false;
    Inputs in(context, now);
    const QDate today = in.localNow.date();
    if (m_labelsDay != today) {
        // The days' labels show in every active device's uptime.
        m_labelsDay = today;
        m_labels = FleetRules::dayLabels(m_labelsDay);
        m_all = true;
        in.labelsChanged = true;
    }
    // A pass over the fleet: asked for, or a list other than the last
    // pass's. A mark that comes while a pass is under way starts it again.
    if (m_all || m_compare || m_clock || (!m_pass.active && devices.size() != m_ids.size()))
        startPass();
    if (!m_pass.active) {
        if (m_links)
            markChangedLinks(in);
        if (!workMarked(in, devices))
            startPass();
    }
    if (m_pass.active)
        runPass(in, devices);
    else if (m_orderStale && !m_entries.isEmpty())
        putInOrder(); // a device's name, changed by a check
    m_unfinished = m_pass.active || !m_dirty.isEmpty();
    m_reworked = m_reworked || m_recomputed > 0;
    m_changed = m_changed || m_reworked || m_clockOnly > 0;
    if (m_changed)
        m_fleetDays = m_totals.fleetDays();
}

void FleetCache::startPass()
{
    Pass p;
    p.active = true;
    // A pass cut short keeps what it was asked to do.
    p.all = m_all || (m_pass.active && m_pass.all);
    p.compare = m_compare || (m_pass.active && m_pass.compare);
    p.clock = m_clock || (m_pass.active && m_pass.clock);
    p.moved = m_pass.active && m_pass.moved;
    p.added = m_pass.active && m_pass.added;
    m_pass = p;
    m_all = m_compare = m_clock = false;
    // Every device of the pass is found afresh under this number.
    ++m_update;
    m_changed = m_changed || p.all;
}

bool FleetCache::walk(Inputs& in, const QList<Native::Device>& devices)
{
    while (m_pass.cursor < devices.size()) {
        if (m_visited >= kVisitsPerUpdate || m_worked >= kWorkPerUpdate)
            return false;
        const qsizetype index = m_pass.cursor;
        const Native::Device& d = devices.at(index);
        ++m_visited;
        Entry* found = inPlace(index, d.id);
        if (!found) {
            m_pass.moved = true;
            found = find(d.id);
        }
        if (found && found->seen == m_update) {
            ++m_pass.cursor; // a second record with the same id: the first one holds
            continue;
        }
        bool stale = m_pass.all || !found || m_dirty.contains(d.id);
        if (!stale && m_pass.compare)
            stale = differs(in, *found, d);
        Entry* e = found;
        if (stale || m_pass.clock) {
            e = rework(in, found, d, stale ? Work::Full : Work::Clock);
            m_dirty.remove(d.id);
        }
        e->seen = m_update;
        e->index = index;
        if (e->seq < m_pass.lastSeq)
            m_pass.seqBroken = true;
        m_pass.lastSeq = e->seq;
        ++m_pass.cursor;
    }
    return true;
}

bool FleetCache::runPass(Inputs& in, const QList<Native::Device>& devices)
{
    // A fleet larger than one update's work takes a turn for each phase.
    const bool large = devices.size() > kWorkPerUpdate;
    if (m_pass.phase == Pass::Phase::Walk) {
        if (!walk(in, devices))
            return false;
        m_pass.phase = Pass::Phase::Finish;
        if (large)
            return false;
    }
    if (m_pass.phase == Pass::Phase::Finish) {
        finishPass(devices);
        m_pass.phase = Pass::Phase::Order;
        if (large && m_orderStale)
            return false;
    }
    if (m_orderStale)
        putInOrder();
    m_pass = Pass();
    return true;
}

void FleetCache::finishPass(const QList<Native::Device>& devices)
{
    // Devices gone since the last pass.
    bool dropped = false;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if ((*it)->seen != m_update) {
            m_totals.leave(**it);
            m_linkReaders.remove(it.key());
            m_dropped.insert(it.key());
            m_touched.remove(it.key());
            it = m_entries.erase(it);
            dropped = true;
        } else {
            ++it;
        }
    }
    if (m_pass.moved || m_pass.added || dropped || m_ids.size() != devices.size()) {
        m_ids.clear();
        m_ordered.clear();
        m_ids.reserve(devices.size());
        m_ordered.reserve(devices.size());
        for (const Native::Device& d : devices) {
            m_ids.append(d.id);
            m_ordered.append(find(d.id));
        }
    }
    // Findings of one level and rule are listed in the inventory's order;
    // when devices came in between others, the entries are numbered anew.
    if (m_pass.seqBroken) {
        for (qsizetype i = 0; i < m_ordered.size(); ++i) {
            Entry* e = m_ordered.at(i);
            if (!e || e->index != i)
                continue; // numbered once, where first listed
            m_totals.leave(*e);
            e->seq = ++m_seq;
            m_totals.enter(*e);
        }
    }
    // Marks of devices the inventory does not hold are of no use.
    QList<QString> stillMarked;
    for (qsizetype i = m_dirtyHead; i < m_dirtyOrder.size(); ++i) {
        const QString& id = m_dirtyOrder.at(i);
        if (!m_dirty.contains(id))
            continue;
        if (m_entries.contains(id))
            stillMarked.append(id);
        else
            m_dirty.remove(id);
    }
    m_dirtyOrder = std::move(stillMarked);
    m_dirtyHead = 0;
    if (m_pass.added || dropped)
        m_recordsChanged = true;
    m_reworked = m_reworked || dropped;
    {
        QList<const Entry*> inOrder;
        inOrder.reserve(m_ordered.size());
        for (qsizetype i = 0; i < m_ordered.size(); ++i)
            if (m_ordered.at(i) && m_ordered.at(i)->index == i)
                inOrder.append(m_ordered.at(i));
        m_totals.recountDays(inOrder);
    }
}

void FleetCache::mark(const QString& deviceId)
{
    if (m_dirty.contains(deviceId))
        return;
    m_dirty.insert(deviceId);
    m_dirtyOrder.append(deviceId);
}

bool FleetCache::workMarked(Inputs& in, const QList<Native::Device>& devices)
{
    int worked = 0;
    while (m_dirtyHead < m_dirtyOrder.size() && worked < kWorkPerUpdate) {
        const QString id = m_dirtyOrder.at(m_dirtyHead);
        if (!m_dirty.contains(id)) {
            ++m_dirtyHead; // worked out by a pass meanwhile
            continue;
        }
        Entry* e = find(id);
        // Not where the last pass left it: the list changed without notice.
        if (!e || e->index < 0 || e->index >= devices.size() || devices.at(e->index).id != id)
            return false;
        rework(in, e, devices.at(e->index), Work::Full);
        m_dirty.remove(id);
        ++m_dirtyHead;
        ++worked;
    }
    if (m_dirtyHead >= m_dirtyOrder.size() || m_dirtyHead > 4096) {
        m_dirtyOrder.remove(0, m_dirtyHead);
        m_dirtyHead = 0;
    }
    return true;
}

void FleetCache::markChangedLinks(Inputs& in)
{
    m_links = false;
    if (!in.context.events)
        return;
    const NativeInsights::Sources& src = in.sources();
    if (!src.link)
        return;
    for (const QString& id : std::as_const(m_linkReaders)) {
        const Entry* e = find(id);
        if (!e)
            continue;
        const Native::LinkStatus link = src.link(id);
        if (link.link != e->link || link.text != e->linkText || link.since != e->linkSince)
            mark(id);
    }
}

bool FleetCache::differs(Inputs& in, const Entry& e, const Native::Device& d)
{
    return !(e.record->device == d && e.busy == in.context.isBusy(d.id) && e.refused == in.context.isRefused(d.id)
             && e.site == in.siteName(d.siteId));
}

FleetCache::Entry* FleetCache::rework(Inputs& in, Entry* found, const Native::Device& d, Work work)
{
    const QDateTime& now = in.now;
    const NativeInsights::Sources& sources = in.sources();
    ++m_worked;
    m_touched.insert(d.id);
    if (work == Work::Clock) {
        // Only the clock moved: the findings and the row's relative times,
        // not the rest of the row, from the record as it was read the last
        // time.
        Entry& e = *found;
        m_totals.leave(e);
        setFindings(e, NativeInsights::issuesFor(sources, e.utc->device, now));
        if (FleetRules::tellsTime(e.utc->device)) {
            e.row.cells = FleetRules::Cells::later(e.utc, rowInputs(e, m_labels, now));
            e.row.stamp = ++m_stamp;
            e.now = now;
        }
        m_totals.enter(e);
        ++m_clockOnly;
        return found;
    }
    const bool known = found != nullptr;
    if (known) {
        m_totals.leave(*found);
    } else {
        auto made = std::make_shared<Entry>();
        made->seq = ++m_seq;
        found = made.get();
        m_entries.insert(d.id, std::move(made));
        m_pass.added = true;
    }
    Entry& e = *found;
    const bool sameRecord = known && e.record->device == d;
    const QString& site = in.siteName(d.siteId);
    // The week's figures first, from the shared figures of the day (with
    // now already local, no zone look-up): the findings then take them.
    QList<double> daily;
    if (d.enabled)
        daily = NativeInsights::dailyUptime(in.store, d.id, kDays, in.localNow);
    // When the device was last up, as store.lastSeenUp gives it, for the
    // findings and the row of a device that is down: read from the history
    // once here, in UTC, and kept for the minute ticks.
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
        if (down && !converted.health.lastUp.isValid() && in.store.uptime().lastUpHour(d.id, &upDay, &upHour))
            converted.health.lastUp = kvr::core::LocalZone::utc(upDay, QTime(upHour, 0)).addSecs(3600);
        utc = FleetRules::DeviceRef(new FleetRules::SharedDevice(std::move(converted)));
    }
    const QDateTime lastSeenUp = down ? utc->device.health.lastUp : QDateTime();
    const bool busy = in.context.isBusy(d.id);
    const bool refused = in.context.isRefused(d.id);
    // A row worked out from what it was keeps its stamp, so the table tells
    // it unchanged without making or comparing its cells (the days' labels
    // show in an active device's uptime only).
    const bool same = sameRecord && (!in.labelsChanged || !d.enabled) && e.busy == busy && e.refused == refused
        && e.site == site && e.lastSeenUp == lastSeenUp && e.daily == daily
        && (e.now == now || !FleetRules::tellsTime(d));
    // The order of names holds while the site's name and what the device is
    // named by (Native::deviceLabel) stay.
    const Native::Device* was = known ? &e.record->device : nullptr;
    const bool sameNames = was && e.site == site && was->name == d.name && was->health.deviceName == d.health.deviceName
        && was->ip == d.ip;
    if (!sameNames) {
        e.siteKey = FleetRules::nameKey(site);
        e.nameKey = FleetRules::nameKey(Native::deviceLabel(d));
        m_orderStale = true;
    }
    if (!sameRecord || e.refused != refused)
        m_recordsChanged = true;
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
    setFindings(e, NativeInsights::issuesFor(sources, e.utc->device, now, &e.daily));
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
    if (NativeInsights::findingsReadLink(d))
        m_linkReaders.insert(d.id);
    else
        m_linkReaders.remove(d.id);
    m_totals.enter(e);
    ++m_recomputed;
    return found;
}

FleetCache::Changes FleetCache::takeChanges()
{
    Changes out;
    out.touched = std::exchange(m_touched, {});
    out.dropped = std::exchange(m_dropped, {});
    out.reordered = std::exchange(m_reordered, false);
    return out;
}

FleetCache::Entry* FleetCache::find(const QString& deviceId) const
{
    const auto it = m_entries.constFind(deviceId);
    return it == m_entries.cend() ? nullptr : it->get();
}

const FleetCache::Entry* FleetCache::entry(const QString& deviceId) const
{
    return find(deviceId);
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
        out.append(e ? e : find(id));
    }
    return out;
}

QList<NativeInsights::Issue> FleetCache::issues(const QList<Native::Device>&) const
{
    return m_totals.firstIssues(std::numeric_limits<int>::max()).first;
}

FleetCache::FirstIssues FleetCache::firstIssues(const QList<Native::Device>&, int count) const
{
    return m_totals.firstIssues(count);
}

QList<NativeInsights::SiteSummary> FleetCache::sites(const NativeContext& context, const QList<Native::Device>&) const
{
    return m_totals.sites(context.store->sites());
}

void FleetCache::putInOrder()
{
    // The sites are few: each gets its place among their names once (sites
    // named alike but for case share one), and the devices of one site are
    // then told apart by their own names.
    QHash<QString, int> siteOf; // a site's id -> its place
    std::vector<const Entry*> firstOfSite;
    for (const auto& e : std::as_const(m_entries)) {
        const QString& siteId = e->record->device.siteId;
        if (!siteOf.contains(siteId)) {
            siteOf.insert(siteId, 0);
            firstOfSite.push_back(e.get());
        }
    }
    std::sort(firstOfSite.begin(), firstOfSite.end(),
              [](const Entry* a, const Entry* b) { return a->siteKey < b->siteKey; });
    int place = 0;
    for (size_t i = 0; i < firstOfSite.size(); ++i) {
        if (i > 0 && firstOfSite[i - 1]->siteKey != firstOfSite[i]->siteKey)
            ++place;
        siteOf[firstOfSite[i]->record->device.siteId] = place;
    }
    struct Keyed {
        int site;
        Entry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(m_entries.size()));
    for (const auto& e : std::as_const(m_entries))
        keyed.push_back({siteOf.value(e->record->device.siteId), e.get()});
    // Site name, then device name, then id: a total order, so that devices
    // with equal names never swap between rebuilds.
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.site != b.site)
            return a.site < b.site;
        if (const int c = a.entry->nameKey.compare(b.entry->nameKey))
            return c < 0;
        return a.entry->row.id < b.entry->row.id;
    });
    for (size_t i = 0; i < keyed.size(); ++i)
        keyed[i].entry->order = int(i);
    m_orderStale = false;
    m_reordered = true;
}

} // namespace kvr::screens
