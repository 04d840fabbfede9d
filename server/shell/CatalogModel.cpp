#include "server/shell/CatalogModel.h"

#include "app/ui/Theme.h"
#include "server/shell/ShellColours.h"

#include <QPainter>
#include <QPainterPath>

namespace {

bool matches(const QString& name, const QString& q)
{
    return q.isEmpty() || name.contains(q, Qt::CaseInsensitive);
}

bool knownOffline(bool known, bool online)
{
    return known && !online;
}

QPixmap canvas(int logical)
{
    QPixmap pm(logical * 2, logical * 2);
    pm.setDevicePixelRatio(2);
    pm.fill(Qt::transparent);
    return pm;
}

} // namespace

CatalogModel::CatalogModel(const QList<Site>& sites, const QSet<QString>& ticked, QObject* parent)
    : QAbstractItemModel(parent),
      m_sites(sites),
      m_ticked(ticked)
{}

QVector<CatalogModel::Node> CatalogModel::buildNodes(const QList<Site>& sites, const QString& query)
{
    const QString q = query.trimmed();
    QVector<Node> nodes;
    qsizetype total = sites.size() + 1;
    for (const Site& site : sites)
        for (const Device& d : site.devices)
            total += 1 + d.channels.size();
    nodes.reserve(total);
    int topRows = 0;
    auto addTop = [&](Kind kind, int site) {
        Node n;
        n.kind = kind;
        n.site = site;
        n.row = topRows++;
        nodes.append(n);
        return int(nodes.size()) - 1;
    };
    if (sites.isEmpty()) {
        addTop(Kind::Empty, -1);
        return nodes;
    }
    for (int s = 0; s < sites.size(); ++s) {
        const Site& site = sites.at(s);
        const bool siteMatch = matches(site.name, q);
        if (site.loading && siteMatch) {
            addTop(Kind::Pending, s);
            continue;
        }
        int siteNode = -1;
        for (int d = 0; d < site.devices.size(); ++d) {
            const Device& device = site.devices.at(d);
            const bool deviceMatch = matches(device.name, q);
            const bool allChannels = siteMatch || deviceMatch;
            QVector<int> shown;
            for (int c = 0; c < device.channels.size(); ++c)
                if (allChannels || device.channels.at(c).name.contains(q, Qt::CaseInsensitive))
                    shown.append(c);
            if (shown.isEmpty() && !allChannels)
                continue;
            if (siteNode < 0)
                siteNode = addTop(Kind::Site, s);
            Node dn;
            dn.kind = Kind::Device;
            dn.parent = siteNode;
            dn.row = int(nodes[siteNode].children.size());
            dn.site = s;
            dn.device = d;
            nodes.append(dn);
            const int deviceNode = int(nodes.size()) - 1;
            nodes[siteNode].children.append(deviceNode);
            nodes[deviceNode].children.reserve(shown.size());
            for (int c : std::as_const(shown)) {
                Node cn;
                cn.kind = Kind::Channel;
                cn.parent = deviceNode;
                cn.row = int(nodes[deviceNode].children.size());
                cn.site = s;
                cn.device = d;
                cn.channel = c;
                nodes.append(cn);
                nodes[deviceNode].children.append(int(nodes.size()) - 1);
            }
        }
    }
    if (topRows == 0)
        addTop(Kind::NoMatch, -1);
    return nodes;
}

void CatalogModel::rebuild(const QString& query)
{
    beginResetModel();
    m_nodes = buildNodes(m_sites, query);
    m_top.clear();
    for (int i = 0; i < m_nodes.size(); ++i)
        if (m_nodes.at(i).parent < 0)
            m_top.append(i);
    endResetModel();
}

void CatalogModel::ticksChanged()
{
    // Decorations of every level change; one signal per parent range.
    if (m_top.isEmpty())
        return;
    const QList<int> decoration{Qt::DecorationRole, CheckRole};
    Q_EMIT dataChanged(index(0, 0), index(int(m_top.size()) - 1, 0), decoration);
    for (int t = 0; t < m_top.size(); ++t) {
        const Node& site = m_nodes.at(m_top.at(t));
        if (site.children.isEmpty())
            continue;
        const QModelIndex siteIndex = index(t, 0);
        Q_EMIT dataChanged(index(0, 0, siteIndex), index(int(site.children.size()) - 1, 0, siteIndex), decoration);
        for (int d = 0; d < site.children.size(); ++d) {
            const Node& device = m_nodes.at(site.children.at(d));
            if (device.children.isEmpty())
                continue;
            const QModelIndex deviceIndex = index(d, 0, siteIndex);
            Q_EMIT dataChanged(index(0, 0, deviceIndex), index(int(device.children.size()) - 1, 0, deviceIndex),
                               decoration);
        }
    }
}

const CatalogModel::Node* CatalogModel::nodeOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    const quintptr id = index.internalId();
    return id < quintptr(m_nodes.size()) ? &m_nodes.at(int(id)) : nullptr;
}

void CatalogModel::tickCounts(const Node& node, int* ticked, int* total) const
{
    for (int child : node.children) {
        const Node& n = m_nodes.at(child);
        if (n.kind == Kind::Channel) {
            ++*total;
            if (m_ticked.contains(m_sites.at(n.site).devices.at(n.device).channels.at(n.channel).id))
                ++*ticked;
        } else {
            tickCounts(n, ticked, total);
        }
    }
}

int CatalogModel::checkStateOf(const Node& node) const
{
    if (node.kind == Kind::Channel)
        return m_ticked.contains(m_sites.at(node.site).devices.at(node.device).channels.at(node.channel).id) ? 2 : 0;
    int ticked = 0;
    int total = 0;
    tickCounts(node, &ticked, &total);
    if (ticked == 0)
        return 0;
    return ticked == total ? 2 : 1;
}

QStringList CatalogModel::shownChannelsOfSite(int topRow) const
{
    QStringList ids;
    if (topRow < 0 || topRow >= m_top.size())
        return ids;
    const Node& site = m_nodes.at(m_top.at(topRow));
    for (int d : site.children)
        for (int c : m_nodes.at(d).children) {
            const Node& n = m_nodes.at(c);
            ids << m_sites.at(n.site).devices.at(n.device).channels.at(n.channel).id;
        }
    return ids;
}

QModelIndex CatalogModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < m_top.size() ? createIndex(row, 0, quintptr(m_top.at(row))) : QModelIndex();
    const Node* p = nodeOf(parent);
    if (!p || row >= p->children.size())
        return {};
    return createIndex(row, 0, quintptr(p->children.at(row)));
}

QModelIndex CatalogModel::parent(const QModelIndex& child) const
{
    const Node* n = nodeOf(child);
    if (!n || n->parent < 0)
        return {};
    return createIndex(m_nodes.at(n->parent).row, 0, quintptr(n->parent));
}

int CatalogModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(m_top.size());
    const Node* n = nodeOf(parent);
    return n ? int(n->children.size()) : 0;
}

int CatalogModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant CatalogModel::data(const QModelIndex& index, int role) const
{
    const Node* n = nodeOf(index);
    if (!n)
        return {};
    switch (n->kind) {
    case Kind::Empty:
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("No devices are assigned to this account."))
                                       : QVariant();
    case Kind::NoMatch:
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("No matches.")) : QVariant();
    case Kind::Pending: {
        const Site& site = m_sites.at(n->site);
        if (role == Qt::DisplayRole)
            return QString(site.name + QStringLiteral("  ·  loading…"));
        if (role == Qt::ForegroundRole)
            return QColor(Theme::kMuted);
        if (role == KindRole)
            return QStringLiteral("pending");
        return {};
    }
    case Kind::Site: {
        const Site& site = m_sites.at(n->site);
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole:
            return site.name;
        case KindRole:
            return QStringLiteral("site");
        case IdRole:
            return site.id;
        case CheckRole:
            return checkStateOf(*n);
        case HasChannelsRole:
            for (const Device& d : site.devices)
                if (!d.channels.isEmpty())
                    return true;
            return false;
        default:
            return {};
        }
    }
    case Kind::Device: {
        const Device& device = m_sites.at(n->site).devices.at(n->device);
        switch (role) {
        case Qt::DisplayRole:
            return device.name;
        case Qt::DecorationRole:
            return m_selecting ? checkIcon(checkStateOf(*n)) : statusDotIcon(device.onlineKnown, device.online);
        case Qt::ForegroundRole:
            return knownOffline(device.onlineKnown, device.online) ? QVariant(ShellColours::kOfflineRow) : QVariant();
        case KindRole:
            return QStringLiteral("device");
        case IdRole:
            return device.id;
        case CheckRole:
            return checkStateOf(*n);
        default:
            return {};
        }
    }
    case Kind::Channel: {
        const Channel& channel = m_sites.at(n->site).devices.at(n->device).channels.at(n->channel);
        switch (role) {
        case Qt::DisplayRole:
            return channel.name;
        case Qt::DecorationRole:
            return m_selecting ? checkIcon(checkStateOf(*n)) : statusDotIcon(channel.onlineKnown, channel.online);
        case Qt::ForegroundRole:
            return knownOffline(channel.onlineKnown, channel.online) ? QVariant(ShellColours::kOfflineRow) : QVariant();
        case KindRole:
            return QStringLiteral("channel");
        case IdRole:
            return channel.id;
        case DeviceIdRole:
            return m_sites.at(n->site).devices.at(n->device).id;
        case CheckRole:
            return checkStateOf(*n);
        default:
            return {};
        }
    }
    }
    return {};
}

Qt::ItemFlags CatalogModel::flags(const QModelIndex& index) const
{
    const Node* n = nodeOf(index);
    if (!n)
        return Qt::NoItemFlags;
    switch (n->kind) {
    case Kind::Site:
    case Kind::Pending:
        return Qt::ItemIsEnabled;
    case Kind::Device:
    case Kind::Channel:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    case Kind::Empty:
    case Kind::NoMatch:
        break;
    }
    return Qt::NoItemFlags;
}

QIcon CatalogModel::statusDotIcon(bool known, bool online)
{
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
        [] {
            QPixmap pm = canvas(16);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(Theme::colour(Theme::Colour::Online, 0.22));
            p.drawEllipse(QRectF(2, 2, 12, 12));
            p.setBrush(Theme::colour(Theme::Colour::Online));
            p.drawEllipse(QRectF(5, 5, 6, 6));
            return QIcon(pm);
        }(),
        [] {
            QPixmap pm = canvas(16);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(Theme::colour(Theme::Colour::Live, 0.22));
            p.drawEllipse(QRectF(2, 2, 12, 12));
            p.setBrush(Theme::colour(Theme::Colour::Live));
            p.drawEllipse(QRectF(5, 5, 6, 6));
            return QIcon(pm);
        }(),
    };
    return !known ? marks[0] : online ? marks[1] : marks[2];
}

QIcon CatalogModel::checkIcon(int state)
{
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
        [] {
            QPixmap pm = canvas(18);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(Theme::kAccent);
            p.drawRoundedRect(QRectF(1.5, 1.5, 15, 15), 5, 5);
            p.setPen(QPen(Theme::colour(Theme::Colour::White), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawLine(QPointF(5.4, 9.0), QPointF(12.6, 9.0));
            return QIcon(pm);
        }(),
        [] {
            QPixmap pm = canvas(18);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(Theme::kAccent);
            p.drawRoundedRect(QRectF(1.5, 1.5, 15, 15), 5, 5);
            p.setPen(QPen(Theme::colour(Theme::Colour::White), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            QPainterPath tick;
            tick.moveTo(5.04, 9.36);
            tick.lineTo(7.92, 12.06);
            tick.lineTo(13.32, 6.12);
            p.drawPath(tick);
            return QIcon(pm);
        }(),
    };
    return marks[std::clamp(state, 0, 2)];
}
