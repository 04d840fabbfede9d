#include "native/live/LiveWallRules.h"

#include "app/core/SearchText.h"
#include "app/core/ShownText.h"
#include "app/core/TextDirection.h"
#include "native/live/Tunables.h"
#include "native/services/AddressCheck.h"
#include "native/services/Verdicts.h"

#include <QSet>

#include <algorithm>
#include <cmath>

using namespace kvr::services;

namespace kvr::live {

namespace LiveWallRules {

QString tileKey(const QString& deviceId, int channel)
{
    return QStringLiteral("%1#%2").arg(deviceId).arg(channel);
}

TileKey parseTileKey(const QString& key)
{
    TileKey out;
    const qsizetype hash = key.lastIndexOf(QLatin1Char('#'));
    if (hash < 1)
        return out;
    bool ok = false;
    const int channel = key.mid(hash + 1).toInt(&ok, 10);
    out.deviceId = key.left(hash);
    out.channel = ok ? channel : 0;
    out.valid = out.channel > 0;
    return out;
}

QStringList layoutLabels()
{
    return {QStringLiteral("Auto"),     QStringLiteral("1"),         QStringLiteral("2\u00d72"),
            QStringLiteral("3\u00d73"), QStringLiteral("4\u00d74"),  QStringLiteral("6\u00d76"),
            QStringLiteral("8\u00d78"), QStringLiteral("12\u00d710")};
}

int clampLayout(int layout)
{
    return std::clamp(layout, 0, kLayoutCount - 1);
}

int clampQuality(int quality)
{
    return std::clamp(quality, 0, 2);
}

namespace {
struct Row {
    int perPage;
    int columns;
};
// Indexed by layout 1..7.
constexpr Row kTable[] = {{1, 1}, {4, 2}, {9, 3}, {16, 4}, {36, 6}, {64, 8}, {120, 12}};
bool fixedLayout(int layout)
{
    return layout >= 1 && layout <= 7;
}
} // namespace

int perPage(int layout, bool playback)
{
    if (fixedLayout(layout))
        return kTable[layout - 1].perPage;
    return playback ? tun::kAutoPerPagePlayback : tun::kAutoPerPageLive;
}

int columnsFor(int layout, int n)
{
    if (fixedLayout(layout))
        return kTable[layout - 1].columns;
    return std::max(1, int(std::ceil(std::sqrt(double(std::max(0, n))))));
}

int rowsFor(int n, int columns)
{
    if (columns < 1)
        return 1;
    return std::max(1, (std::max(0, n) + columns - 1) / columns);
}

int gridRowsFor(int layout, int n, int columns)
{
    const int filled = rowsFor(n, columns);
    if (!fixedLayout(layout) || columns != kTable[layout - 1].columns)
        return filled;
    return std::max(filled, rowsFor(kTable[layout - 1].perPage, columns));
}

bool tileUsesMain(int n, int quality, bool focused)
{
    if (focused)
        return true;
    if (quality == Sub)
        return false;
    if (quality == Main)
        return true;
    return n < tun::kAutoMainBelow;
}

bool tileUsesMainPlayback(int quality, bool focused)
{
    return focused || quality != Sub;
}

double fpsCapFor(int n)
{
    if (n < tun::kCapFrom)
        return 0.0;
    if (n < tun::kCapHighFrom)
        return tun::kCapMidFps;
    return tun::kCapHighFps;
}

bool hardwareDecodeFor(int n)
{
    return n <= tun::kHardwareDecodeMaxTiles;
}

int pageCount(int wallSize, int per)
{
    if (wallSize <= 0 || per < 1)
        return 0;
    return (wallSize + per - 1) / per;
}

int clampPage(int page, int wallSize, int per)
{
    if (page < 0)
        return 0;
    const int pages = std::max(1, pageCount(wallSize, per));
    return std::min(page, pages - 1);
}

QStringList pageSlice(const QStringList& wall, int page, int per)
{
    const qsizetype from = qsizetype(std::max(0, page)) * std::max(1, per);
    if (from >= wall.size())
        return {};
    return wall.mid(from, std::max(1, per));
}

WallMerge mergeTicked(const QStringList& wall, const QStringList& ticked)
{
    const QSet<QString> tickedSet(ticked.begin(), ticked.end());
    WallMerge out;
    QSet<QString> taken;
    for (const QString& key : wall) {
        if (tickedSet.contains(key) && !taken.contains(key)) {
            out.wall << key;
            taken.insert(key);
        }
    }
    for (const QString& key : ticked) {
        if (!taken.contains(key)) {
            out.wall << key;
            taken.insert(key);
        }
    }
    if (out.wall.size() > tun::kMaxWallCameras) {
        out.wall = out.wall.mid(0, tun::kMaxWallCameras);
        out.over = true;
    }
    return out;
}

QStringList addAllOnline(const QStringList& wall, const QList<Native::Device>& devices)
{
    QStringList out = wall;
    QSet<QString> have(wall.begin(), wall.end());
    for (const Native::Device& d : devices) {
        if (!d.enabled)
            continue;
        for (const Native::Camera& c : d.cameras) {
            if (d.isIgnored(c.channelId) || !c.onlineKnown || !c.online)
                continue;
            const QString key = tileKey(d.id, c.channelId);
            if (have.contains(key) || out.size() >= tun::kMaxWallCameras)
                continue;
            out << key;
            have.insert(key);
        }
    }
    return out;
}

QStringList reduceWall(const QStringList& wall, const DeviceLookup& lookup, bool strict)
{
    QStringList out;
    for (const QString& key : wall) {
        const TileKey k = parseTileKey(key);
        if (!k.valid)
            continue;
        const Native::Device* d = lookup ? lookup(k.deviceId) : nullptr;
        if (!d)
            continue;
        if (strict && (!d->enabled || k.channel > d->channels || d->isIgnored(k.channel)))
            continue;
        out << key;
    }
    return out;
}

TileNames tileNames(const Native::Device* device, int channel)
{
    const Native::Camera* camera = device ? device->camera(channel) : nullptr;
    return {camera ? Native::cameraLabel(*camera) : QStringLiteral("Camera %1").arg(channel),
            device ? Native::deviceLabel(*device) : QString()};
}

QString tileTitle(const TileNames& names)
{
    using kvr::core::TextDirection::isolate;
    return isolate(names.device) + QStringLiteral(" \u00B7 ") + isolate(names.camera);
}

QStringList wallTitles(const QStringList& wall, const DeviceLookup& lookup)
{
    QStringList out;
    out.reserve(wall.size());
    for (const QString& key : wall) {
        const TileKey k = parseTileKey(key);
        if (k.valid)
            out << tileTitle(tileNames(lookup ? lookup(k.deviceId) : nullptr, k.channel));
    }
    return out;
}

namespace {
QString cameraText(const Native::Camera& c)
{
    const QString name = c.name.isEmpty() ? QStringLiteral("Camera %1").arg(c.channelId) : kvr::core::shownText(c.name);
    return QStringLiteral("%1  %2").arg(c.channelId).arg(name);
}

QList<TreeDevice> devicesOf(const QString& siteId, const QList<Native::Device>& devices, const QSet<QString>& onWall)
{
    QList<TreeDevice> out;
    for (const Native::Device& d : devices) {
        if (d.siteId != siteId || !d.enabled)
            continue;
        TreeDevice td;
        td.name = Native::deviceLabel(d);
        td.toolTip = kvr::core::shownText(NativeAddress::withPort(d.ip, d.httpPort));
        for (const Native::Camera& c : d.cameras) {
            if (d.isIgnored(c.channelId))
                continue;
            TreeCamera tc;
            tc.key = tileKey(d.id, c.channelId);
            tc.text = cameraText(c);
            tc.ticked = onWall.contains(tc.key);
            tc.offline = c.onlineKnown && !c.online;
            td.cameras << tc;
        }
        if (!td.cameras.isEmpty())
            out << td;
    }
    return out;
}
} // namespace

QList<TreeSite> buildTree(const QList<Native::Site>& sites, const QList<Native::Device>& devices,
                          const QStringList& wall)
{
    const QSet<QString> onWall(wall.begin(), wall.end());
    QList<TreeSite> out;
    QSet<QString> namedSites;
    for (const Native::Site& s : sites) {
        if (!s.id.isEmpty() && !s.name.isEmpty())
            namedSites.insert(s.id);
        TreeSite ts;
        ts.name = kvr::core::shownText(s.name);
        ts.devices = devicesOf(s.id, devices, onWall);
        if (!ts.devices.isEmpty())
            out << ts;
    }
    const bool homeless = std::any_of(devices.begin(), devices.end(), [&](const Native::Device& d) {
        return d.enabled && !namedSites.contains(d.siteId);
    });
    if (homeless) {
        TreeSite none;
        none.name = QStringLiteral("No site");
        none.named = false;
        none.devices = devicesOf(QString(), devices, onWall);
        if (!none.devices.isEmpty())
            out << none;
    }
    return out;
}

DeviceFilter filterDevice(const QString& filterText, const QString& siteText, const QString& deviceText,
                          const QStringList& cameraTexts)
{
    using kvr::core::SearchText::key;
    const QString filter = key(filterText.trimmed());
    DeviceFilter out;
    const bool matched = filter.isEmpty() || key(deviceText).contains(filter) || key(siteText).contains(filter);
    bool anyCamera = false;
    for (const QString& text : cameraTexts) {
        const bool shown = matched || key(text).contains(filter);
        out.camerasShown << shown;
        anyCamera = anyCamera || shown;
    }
    out.deviceShown = (matched && !cameraTexts.isEmpty()) || anyCamera;
    return out;
}

QString wallHint(int wallSize)
{
    return wallSize == 0 ? QStringLiteral("No cameras on the wall") : QStringLiteral("%1 on the wall").arg(wallSize);
}

QString titleText(bool focused, bool playback, int wallSize)
{
    if (focused)
        return QStringLiteral("Single camera");
    const QString mode = playback ? QStringLiteral("Playback") : QStringLiteral("Live wall");
    if (wallSize == 0)
        return mode;
    return QStringLiteral("%1 \u00b7 %2 camera%3")
        .arg(mode)
        .arg(wallSize)
        .arg(wallSize == 1 ? QString() : QStringLiteral("s"));
}

QString capNotice()
{
    return QStringLiteral("The wall holds up to %1 cameras").arg(tun::kMaxWallCameras);
}

QString nothingOnlineNotice()
{
    return QStringLiteral("No online cameras to add. Fetch device info in Vigilo first.");
}

QString emptyText(bool haveDevices)
{
    return haveDevices ? QStringLiteral("Tick cameras on the left to build a wall.")
                       : QStringLiteral("No devices yet. Add one in Vigilo, then come back to watch it live.");
}

QString emptyAction(bool haveDevices)
{
    return haveDevices ? QStringLiteral("Add all online cameras") : QStringLiteral("Open Vigilo");
}

} // namespace LiveWallRules

} // namespace kvr::live
