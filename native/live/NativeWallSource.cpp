#include "native/live/NativeWallSource.h"

#include "app/core/ShownText.h"
#include "native/live/LiveWallRules.h"
#include "native/live/VmsTile.h"
#include "native/screens/NativeStyle.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"
#include "wall/VideoWallRules.h"

using namespace kvr::wall;
using namespace kvr::services;
using namespace kvr::screens;

namespace kvr::live {

QList<VideoWall::Camera> NativeWallSource::cameras() const
{
    QList<VideoWall::Camera> out;
    const NativeStore& store = NativeStore::instance();
    for (const Native::Device& d : store.devices()) {
        if (!d.enabled)
            continue;
        for (const Native::Camera& c : d.cameras) {
            if (d.isIgnored(c.channelId))
                continue;
            VideoWall::Camera cam;
            cam.id = LiveWallRules::tileKey(d.id, c.channelId);
            cam.title = QStringLiteral("%1  %2").arg(c.channelId).arg(Native::cameraLabel(c));
            cam.device = Native::deviceLabel(d);
            cam.site = kvr::core::shownText(store.siteName(d.siteId));
            cam.offline = c.onlineKnown && !c.online;
            out << cam;
        }
    }
    return out;
}

QWidget* NativeWallSource::makeTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand)
{
    // The device is named before the last "#" (none when the key starts with
    // it or has none: the tile then says the device was removed); a channel
    // that does not read as one is channel 1.
    const LiveWallRules::TileKey key = LiveWallRules::parseTileKey(cameraId);
    auto* tile = new VmsTile(key.deviceId, key.valid ? key.channel : 1, parent);
    tile->setRemovable(false);
    tile->updateButtons();
    QObject::connect(tile, &VmsTile::expandRequested, tile, [onExpand = std::move(onExpand)] {
        if (onExpand)
            onExpand();
    });
    return tile;
}

void NativeWallSource::tune(QWidget* tile, int shownOnDisplay, int totalOnWall)
{
    auto* t = qobject_cast<VmsTile*>(tile);
    if (!t)
        return;
    t->setFpsCap(VideoWall::VideoWallRules::fpsCapFor(shownOnDisplay));
    t->setHardwareDecode(totalOnWall < 7);
}

void NativeWallSource::start(QWidget* tile, bool main, std::function<void()> started)
{
    if (auto* t = qobject_cast<VmsTile*>(tile)) {
        t->setLive();
        t->startPaced(main);
    }
    if (started)
        started();
}

void NativeWallSource::stop(QWidget* tile)
{
    if (auto* t = qobject_cast<VmsTile*>(tile))
        t->stop();
}

void NativeWallSource::requestStop(QWidget* tile)
{
    if (auto* t = qobject_cast<VmsTile*>(tile))
        t->requestStop();
}

VideoWall::TileRetry* NativeWallSource::tileRetry(QWidget* tile)
{
    auto* t = qobject_cast<VmsTile*>(tile);
    return t ? t->retry() : nullptr;
}

QString NativeWallSource::tileStyle() const
{
    return NativeStyle::stylesheet();
}

} // namespace kvr::live
