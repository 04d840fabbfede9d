#include "server/shell/CatalogModel.h"

#include "app/core/SearchText.h"
#include "app/ui/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

using namespace kvr::ui;
using namespace kvr::api;

namespace kvr::shell {

// Row ids: 0 for top-level rows, odd (2 × site + 1) for device rows, even
// (2 × (serial + 1)) for channel rows. A row's id names its parent, so it
// stays right while rows elsewhere come and go.
//
// The ids are stored multiplied by an odd constant (a one-to-one mapping):
// the hash of an index adds its row to its id, and thousands of small,
// close ids (the view keeps a persistent index for every expanded row)
// would crowd into a few buckets and make every lookup a long walk.
namespace {

constexpr quintptr kScramble = sizeof(quintptr) == 8 ? quintptr(0x9e3779b97f4a7c15ull) : quintptr(0x9e3779b9u);

constexpr quintptr inverseOf(quintptr odd)
{
    quintptr x = odd; // right in the low 3 bits; each step doubles that
    for (int i = 0; i < 6; ++i)
        x *= 2 - odd * x;
    return x;
}

constexpr quintptr kUnscramble = inverseOf(kScramble);
static_assert(kScramble * kUnscramble == 1);

constexpr quintptr kTopLevel = 0;

quintptr deviceRowId(int site)
{
    return (quintptr(site) * 2 + 1) * kScramble;
}

quintptr channelRowId(int serial)
{
    return (quintptr(serial) + 1) * 2 * kScramble;
}

quintptr plainId(const QModelIndex& index)
{
    return index.internalId() * kUnscramble;
}

bool isDeviceRowId(quintptr id)
{
    return id & 1;
}

QString folded(const QString& text)
{
    return kvr::core::SearchText::key(text);
}

QPixmap canvas(int logical)
{
    QPixmap pm(logical * 2, logical * 2);
    pm.setDevicePixelRatio(2);
    pm.fill(Qt::transparent);
    return pm;
}

} // namespace

bool CatalogModel::SiteRows::sameRows(const SiteRows& o) const
{
    if (shown != o.shown || devices.size() != o.devices.size())
        return false;
    for (int i = 0; i < devices.size(); ++i)
        if (!devices.at(i).sameRows(o.devices.at(i)))
            return false;
    return true;
}

CatalogModel::CatalogModel(const QSet<QString>& ticked, QObject* parent) : QAbstractItemModel(parent), m_ticked(ticked)
{}

CatalogModel::Keys CatalogModel::keysOf(const Site& site)
{
    Keys keys;
    keys.site = folded(site.name);
    keys.devices.reserve(site.devices.size());
    keys.channels.reserve(site.devices.size());
    for (const Device& d : site.devices) {
        keys.devices.append(folded(d.name));
        QStringList channels;
        channels.reserve(d.channels.size());
        for (const Channel& c : d.channels)
            channels.append(folded(c.name));
        keys.channels.append(channels);
    }
    return keys;
}

CatalogModel::SiteRows CatalogModel::filter(const Site& site, const Keys& keys, const QString& q)
{
    SiteRows rows;
    const bool siteMatch = q.isEmpty() || keys.site.contains(q);
    if ((site.loading || site.devicesFailed()) && siteMatch) {
        // Nothing else shows for a site still loading, or whose devices could
        // not be loaded (it is not a site without devices); one that does not
        // match shows nothing until its devices arrive.
        rows.shown = Shown::Pending;
        return rows;
    }
    for (int d = 0; d < site.devices.size(); ++d) {
        ShownDevice shown;
        shown.device = d;
        shown.allChannels = siteMatch || keys.devices.at(d).contains(q);
        if (!shown.allChannels) {
            const QStringList& channels = keys.channels.at(d);
            for (int c = 0; c < channels.size(); ++c)
                if (channels.at(c).contains(q))
                    shown.channels.append(c);
            if (shown.channels.isEmpty())
                continue;
            if (shown.channels.size() == channels.size()) {
                // Every channel matched on its own: the same rows as a device match.
                shown.allChannels = true;
                shown.channels.clear();
            }
        }
        rows.devices.append(shown);
    }
    rows.shown = rows.devices.isEmpty() ? Shown::Hidden : Shown::Site;
    return rows;
}

void CatalogModel::setSites(const QList<Site>& sites)
{
    beginResetModel();
    m_sites = sites;
    m_keys.clear();
    m_keys.reserve(sites.size());
    m_rows.clear();
    m_rows.reserve(sites.size());
    for (const Site& site : sites) {
        m_keys.append(keysOf(site));
        m_rows.append(filter(site, m_keys.last(), m_query));
    }
    relayoutAll();
    endResetModel();
}

void CatalogModel::setListing(Listing listing)
{
    if (listing == m_listing)
        return;
    m_listing = listing;
    if (m_notice == Kind::Empty)
        Q_EMIT dataChanged(index(0, 0), index(0, 0));
}

bool CatalogModel::setQuery(const QString& query)
{
    const QString q = folded(query.trimmed());
    if (q == m_query)
        return false;
    m_query = q;
    QVector<SiteRows> next;
    next.reserve(m_sites.size());
    bool same = true;
    for (int s = 0; s < m_sites.size(); ++s) {
        next.append(filter(m_sites.at(s), m_keys.at(s), q));
        same = same && next.last().sameRows(m_rows.at(s));
    }
    if (same)
        return false;
    beginResetModel();
    m_rows = std::move(next);
    relayoutAll();
    endResetModel();
    return true;
}

// Rows and serials from scratch; only inside a reset.
void CatalogModel::relayoutAll()
{
    m_top.clear();
    m_serials.clear();
    for (int s = 0; s < m_rows.size(); ++s) {
        SiteRows& rows = m_rows[s];
        rows.row = -1;
        if (rows.shown == Shown::Hidden)
            continue;
        rows.row = int(m_top.size());
        m_top.append(s);
        for (int r = 0; r < rows.devices.size(); ++r)
            rows.devices[r].serial = giveSerial(s, r);
    }
    m_notice = m_sites.isEmpty() ? Kind::Empty : m_top.isEmpty() ? Kind::NoMatch : Kind::None;
}

int CatalogModel::giveSerial(int site, int row)
{
    m_serials.append({site, row});
    return int(m_serials.size()) - 1;
}

void CatalogModel::retireSerials(SiteRows& rows)
{
    for (ShownDevice& d : rows.devices)
        if (d.serial >= 0 && d.serial < m_serials.size())
            m_serials[d.serial] = {};
}

void CatalogModel::renumberTop(int from)
{
    for (int r = from; r < m_top.size(); ++r)
        m_rows[m_top.at(r)].row = r;
}

CatalogModel::Change CatalogModel::replaceSite(int index, const Site& site)
{
    if (index < 0 || index >= m_sites.size())
        return Change::None;
    Keys keys = keysOf(site);
    SiteRows next = filter(site, keys, m_query);
    SiteRows& cur = m_rows[index];

    if (next.sameRows(cur)) {
        // The same rows; names or online states may differ.
        m_sites[index] = site;
        m_keys[index] = std::move(keys);
        if (cur.shown == Shown::Hidden)
            return Change::None;
        emitSiteDataChanged(index);
        return Change::Data;
    }

    if (cur.shown == Shown::Hidden || next.shown == Shown::Hidden) {
        // The site's top-level row comes or goes, with everything under it.
        if (cur.shown != Shown::Hidden)
            removeTop(index);
        m_sites[index] = site;
        m_keys[index] = std::move(keys);
        if (next.shown != Shown::Hidden)
            insertTop(index, next);
        updateNotice();
        return Change::Rows;
    }

    // The site keeps its top-level row; the rows under it change. Old rows
    // leave while the old site still answers for them.
    const QModelIndex siteIndex = createIndex(cur.row, 0, kTopLevel);
    if (!cur.devices.isEmpty()) {
        beginRemoveRows(siteIndex, 0, int(cur.devices.size()) - 1);
        retireSerials(cur);
        cur.devices.clear();
        endRemoveRows();
    }
    m_sites[index] = site;
    m_keys[index] = std::move(keys);
    cur.shown = next.shown;
    Q_EMIT dataChanged(siteIndex, siteIndex);
    if (!next.devices.isEmpty()) {
        beginInsertRows(siteIndex, 0, int(next.devices.size()) - 1);
        cur.devices = std::move(next.devices);
        for (int r = 0; r < cur.devices.size(); ++r)
            cur.devices[r].serial = giveSerial(index, r);
        endInsertRows();
    }
    return Change::Rows;
}

void CatalogModel::insertTop(int site, const SiteRows& rows)
{
    const int at = int(std::lower_bound(m_top.cbegin(), m_top.cend(), site) - m_top.cbegin());
    if (m_notice != Kind::None) {
        beginRemoveRows({}, 0, 0);
        m_notice = Kind::None;
        endRemoveRows();
    }
    beginInsertRows({}, at, at);
    m_rows[site] = rows;
    m_top.insert(at, site);
    renumberTop(at);
    SiteRows& cur = m_rows[site];
    for (int r = 0; r < cur.devices.size(); ++r)
        cur.devices[r].serial = giveSerial(site, r);
    endInsertRows();
}

void CatalogModel::removeTop(int site)
{
    SiteRows& cur = m_rows[site];
    const int at = cur.row;
    beginRemoveRows({}, at, at);
    retireSerials(cur);
    cur = SiteRows();
    m_top.remove(at);
    renumberTop(at);
    endRemoveRows();
}

void CatalogModel::updateNotice()
{
    const Kind notice = m_sites.isEmpty() ? Kind::Empty : m_top.isEmpty() ? Kind::NoMatch : Kind::None;
    if (notice == m_notice)
        return;
    if (m_notice != Kind::None) {
        beginRemoveRows({}, 0, 0);
        m_notice = Kind::None;
        endRemoveRows();
    }
    if (notice != Kind::None) {
        beginInsertRows({}, 0, 0);
        m_notice = notice;
        endInsertRows();
    }
}

void CatalogModel::emitSiteDataChanged(int site)
{
    const SiteRows& rows = m_rows.at(site);
    const QModelIndex siteIndex = createIndex(rows.row, 0, kTopLevel);
    Q_EMIT dataChanged(siteIndex, siteIndex);
    if (rows.devices.isEmpty())
        return;
    Q_EMIT dataChanged(index(0, 0, siteIndex), index(int(rows.devices.size()) - 1, 0, siteIndex));
    const Site& s = m_sites.at(site);
    for (int r = 0; r < rows.devices.size(); ++r) {
        const int count = rows.devices.at(r).channelCount(s.devices.at(rows.devices.at(r).device));
        if (count == 0)
            continue;
        const QModelIndex deviceIndex = index(r, 0, siteIndex);
        Q_EMIT dataChanged(index(0, 0, deviceIndex), index(count - 1, 0, deviceIndex));
    }
}

void CatalogModel::ticksChanged()
{
    // Decorations of every level change; one signal per parent range.
    if (m_top.isEmpty())
        return;
    const QList<int> roles{Qt::DecorationRole, CheckRole};
    Q_EMIT dataChanged(index(0, 0), index(int(m_top.size()) - 1, 0), roles);
    for (int t = 0; t < m_top.size(); ++t) {
        const int s = m_top.at(t);
        const SiteRows& rows = m_rows.at(s);
        if (rows.devices.isEmpty())
            continue;
        const QModelIndex siteIndex = createIndex(t, 0, kTopLevel);
        Q_EMIT dataChanged(index(0, 0, siteIndex), index(int(rows.devices.size()) - 1, 0, siteIndex), roles);
        for (int r = 0; r < rows.devices.size(); ++r) {
            const ShownDevice& shown = rows.devices.at(r);
            const int count = shown.channelCount(m_sites.at(s).devices.at(shown.device));
            if (count == 0)
                continue;
            const QModelIndex deviceIndex = createIndex(r, 0, deviceRowId(s));
            Q_EMIT dataChanged(index(0, 0, deviceIndex), index(count - 1, 0, deviceIndex), roles);
        }
    }
}

const CatalogModel::ShownDevice* CatalogModel::shownDevice(int site, int row) const
{
    if (site < 0 || site >= m_rows.size())
        return nullptr;
    const SiteRows& rows = m_rows.at(site);
    return row >= 0 && row < rows.devices.size() ? &rows.devices.at(row) : nullptr;
}

CatalogModel::Ref CatalogModel::refOf(const QModelIndex& index) const
{
    Ref ref;
    if (!index.isValid() || index.model() != this || index.column() != 0)
        return ref;
    const quintptr id = plainId(index);
    const int row = index.row();
    if (id == kTopLevel) {
        if (m_notice != Kind::None) {
            if (row == 0)
                ref.kind = m_notice;
            return ref;
        }
        if (row < 0 || row >= m_top.size())
            return ref;
        ref.site = m_top.at(row);
        ref.kind = m_rows.at(ref.site).shown == Shown::Pending ? Kind::Pending : Kind::Site;
        return ref;
    }
    if (isDeviceRowId(id)) {
        const int site = int(id / 2);
        const ShownDevice* shown = shownDevice(site, row);
        if (!shown)
            return ref;
        ref = {Kind::Device, site, shown->device, -1};
        return ref;
    }
    const quintptr serial = id / 2 - 1;
    if (serial >= quintptr(m_serials.size()))
        return ref;
    const DeviceSlot slot = m_serials.at(int(serial));
    const ShownDevice* shown = shownDevice(slot.site, slot.row);
    if (!shown)
        return ref;
    const Device& device = m_sites.at(slot.site).devices.at(shown->device);
    if (row < 0 || row >= shown->channelCount(device))
        return ref;
    ref = {Kind::Channel, slot.site, shown->device, shown->channelAt(row)};
    return ref;
}

QModelIndex CatalogModel::indexOf(int site, int device, int channel) const
{
    if (site < 0 || site >= m_rows.size())
        return {};
    const SiteRows& rows = m_rows.at(site);
    if (rows.shown == Shown::Hidden)
        return {};
    const QModelIndex siteIndex = createIndex(rows.row, 0, kTopLevel);
    if (device < 0)
        return siteIndex;
    for (int r = 0; r < rows.devices.size(); ++r) {
        const ShownDevice& shown = rows.devices.at(r);
        if (shown.device != device)
            continue;
        const QModelIndex deviceIndex = createIndex(r, 0, deviceRowId(site));
        if (channel < 0)
            return deviceIndex;
        if (shown.allChannels)
            return channel < m_sites.at(site).devices.at(device).channels.size()
                ? createIndex(channel, 0, channelRowId(shown.serial))
                : QModelIndex();
        const int at = int(shown.channels.indexOf(channel));
        return at >= 0 ? createIndex(at, 0, channelRowId(shown.serial)) : QModelIndex();
    }
    return {};
}

int CatalogModel::shownRowCount() const
{
    if (m_notice != Kind::None)
        return 1;
    int n = int(m_top.size());
    for (int s : m_top) {
        const SiteRows& rows = m_rows.at(s);
        n += int(rows.devices.size());
        for (const ShownDevice& shown : rows.devices)
            n += shown.channelCount(m_sites.at(s).devices.at(shown.device));
    }
    return n;
}

void CatalogModel::tickCounts(int site, const ShownDevice& shown, int* ticked, int* total) const
{
    const Device& device = m_sites.at(site).devices.at(shown.device);
    const int count = shown.channelCount(device);
    *total += count;
    for (int r = 0; r < count; ++r)
        if (m_ticked.contains(device.channels.at(shown.channelAt(r)).id))
            ++*ticked;
}

int CatalogModel::checkStateOf(const QModelIndex& index) const
{
    const Ref ref = refOf(index);
    int ticked = 0;
    int total = 0;
    switch (ref.kind) {
    case Kind::Channel:
        return m_ticked.contains(m_sites.at(ref.site).devices.at(ref.device).channels.at(ref.channel).id) ? 2 : 0;
    case Kind::Device:
        tickCounts(ref.site, m_rows.at(ref.site).devices.at(index.row()), &ticked, &total);
        break;
    case Kind::Site:
        for (const ShownDevice& shown : m_rows.at(ref.site).devices)
            tickCounts(ref.site, shown, &ticked, &total);
        break;
    default:
        return 0;
    }
    if (ticked == 0)
        return 0;
    return ticked == total ? 2 : 1;
}

QModelIndex CatalogModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < rowCount() ? createIndex(row, 0, kTopLevel) : QModelIndex();
    const Ref p = refOf(parent);
    switch (p.kind) {
    case Kind::Site:
        return row < m_rows.at(p.site).devices.size() ? createIndex(row, 0, deviceRowId(p.site)) : QModelIndex();
    case Kind::Device: {
        const ShownDevice& shown = m_rows.at(p.site).devices.at(parent.row());
        return row < shown.channelCount(m_sites.at(p.site).devices.at(p.device))
            ? createIndex(row, 0, channelRowId(shown.serial))
            : QModelIndex();
    }
    default:
        return {};
    }
}

QModelIndex CatalogModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.model() != this)
        return {};
    const quintptr id = plainId(child);
    if (id == kTopLevel)
        return {};
    if (isDeviceRowId(id)) {
        const int site = int(id / 2);
        if (site >= m_rows.size() || m_rows.at(site).row < 0)
            return {};
        return createIndex(m_rows.at(site).row, 0, kTopLevel);
    }
    const quintptr serial = id / 2 - 1;
    if (serial >= quintptr(m_serials.size()))
        return {};
    const DeviceSlot slot = m_serials.at(int(serial));
    if (slot.site < 0)
        return {};
    return createIndex(slot.row, 0, deviceRowId(slot.site));
}

int CatalogModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return m_notice != Kind::None ? 1 : int(m_top.size());
    const Ref p = refOf(parent);
    switch (p.kind) {
    case Kind::Site:
        return int(m_rows.at(p.site).devices.size());
    case Kind::Device:
        return m_rows.at(p.site).devices.at(parent.row()).channelCount(m_sites.at(p.site).devices.at(p.device));
    default:
        return 0;
    }
}

int CatalogModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool CatalogModel::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

QVariant CatalogModel::data(const QModelIndex& index, int role) const
{
    const Ref ref = refOf(index);
    if (role == KindRole)
        return ref.kind == Kind::None ? QVariant() : QVariant::fromValue(ref.kind);
    switch (ref.kind) {
    case Kind::None:
        return {};
    case Kind::Empty:
        if (role != Qt::DisplayRole)
            return {};
        return m_listing == Listing::Loading   ? QStringLiteral("Loading sites…")
            : m_listing == Listing::Failed     ? QStringLiteral("The camera list could not be loaded.")
            : m_listing == Listing::Unreadable ? QStringLiteral("The camera list could not be read.")
                                               : QStringLiteral("No devices are assigned to this account.");
    case Kind::NoMatch:
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("No matches.")) : QVariant();
    case Kind::Pending: {
        const Site& site = m_sites.at(ref.site);
        const bool failed = site.devicesFailed() && !site.loading;
        const bool unreadable = failed && site.deviceList == DeviceList::Unreadable;
        if (role == Qt::DisplayRole)
            return QString(site.name
                           + (!failed          ? QStringLiteral("  ·  loading…")
                                  : unreadable ? QStringLiteral("  ·  devices could not be read")
                                               : QStringLiteral("  ·  devices could not be loaded")));
        if (role == Qt::ToolTipRole && failed)
            return unreadable
                ? QStringLiteral("The server's answer for this site's devices could not be read. "
                                 "They are asked for again shortly.")
                : QStringLiteral("The server could not give this site's devices. They are asked for again shortly.");
        if (role == Qt::ForegroundRole)
            return Theme::colour(Theme::Colour::Muted);
        return {};
    }
    case Kind::Site: {
        const Site& site = m_sites.at(ref.site);
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole:
            return site.name;
        case IdRole:
            return site.id;
        case CheckRole:
            return checkStateOf(index);
        case HasChannelsRole:
            return std::any_of(site.devices.cbegin(), site.devices.cend(),
                               [](const Device& d) { return !d.channels.isEmpty(); });
        default:
            return {};
        }
    }
    case Kind::Device: {
        const Device& device = m_sites.at(ref.site).devices.at(ref.device);
        switch (role) {
        case Qt::DisplayRole:
            return device.name;
        case Qt::DecorationRole:
            return m_selecting ? checkIcon(checkStateOf(index)) : statusDotIcon(device.onlineState());
        case Qt::ForegroundRole:
            return device.onlineState() == OnlineState::Offline ? QVariant(Theme::colour(Theme::Colour::OfflineRow))
                                                                : QVariant();
        case IdRole:
            return device.id;
        case CheckRole:
            return checkStateOf(index);
        default:
            return {};
        }
    }
    case Kind::Channel: {
        const Device& device = m_sites.at(ref.site).devices.at(ref.device);
        const Channel& channel = device.channels.at(ref.channel);
        switch (role) {
        case Qt::DisplayRole:
            return channel.name;
        case Qt::DecorationRole:
            return m_selecting ? checkIcon(checkStateOf(index)) : statusDotIcon(channel.onlineState());
        case Qt::ForegroundRole:
            return channel.onlineState() == OnlineState::Offline ? QVariant(Theme::colour(Theme::Colour::OfflineRow))
                                                                 : QVariant();
        case IdRole:
            return channel.id;
        case DeviceIdRole:
            return device.id;
        case CheckRole:
            return checkStateOf(index);
        default:
            return {};
        }
    }
    }
    return {};
}

Qt::ItemFlags CatalogModel::flags(const QModelIndex& index) const
{
    switch (kindOf(index)) {
    case Kind::Site:
    case Kind::Pending:
        return Qt::ItemIsEnabled;
    case Kind::Device:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    case Kind::Channel:
        // Leaves: the view need not look for their children.
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    case Kind::None:
    case Kind::Empty:
    case Kind::NoMatch:
        break;
    }
    return Qt::NoItemFlags;
}

QIcon CatalogModel::statusDotIcon(OnlineState state)
{
    // A filled dot with a soft ring in the state's colour.
    const auto dot = [](Theme::Colour colour) {
        QPixmap pm = canvas(16);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::colour(colour, 0.22));
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.setBrush(Theme::colour(colour));
        p.drawEllipse(QRectF(5, 5, 6, 6));
        return QIcon(pm);
    };
    // Three marks, painted once.
    static const QIcon marks[3] = {
        [] {
            QPixmap pm = canvas(16);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(Theme::colour(Theme::Colour::Faint), 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(4.5, 4.5, 7, 7));
            return QIcon(pm);
        }(),
        dot(Theme::Colour::Online),
        dot(Theme::Colour::Live),
    };
    return state == OnlineState::Unknown ? marks[0] : state == OnlineState::Online ? marks[1] : marks[2];
}

QIcon CatalogModel::checkIcon(int state)
{
    // A checked or partly checked box: the mark in white on an accent square.
    const auto filled = [](void (*mark)(QPainter&)) {
        QPixmap pm = canvas(18);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::colour(Theme::Colour::Accent));
        p.drawRoundedRect(QRectF(1.5, 1.5, 15, 15), 5, 5);
        p.setPen(QPen(Theme::colour(Theme::Colour::White), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        mark(p);
        return QIcon(pm);
    };
    static const QIcon marks[3] = {
        [] {
            QPixmap pm = canvas(18);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(Theme::colour(Theme::Colour::Faint), 1.6));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(1.5, 1.5, 15, 15), 5, 5);
            return QIcon(pm);
        }(),
        filled([](QPainter& p) { p.drawLine(QPointF(5.4, 9.0), QPointF(12.6, 9.0)); }),
        filled([](QPainter& p) {
            QPainterPath tick;
            tick.moveTo(5.04, 9.36);
            tick.lineTo(7.92, 12.06);
            tick.lineTo(13.32, 6.12);
            p.drawPath(tick);
        }),
    };
    return marks[std::clamp(state, 0, 2)];
}

} // namespace kvr::shell
