#include "server/view/ServerWallSource.h"

#include "app/context/AppContext.h"
#include "app/core/TextDirection.h"
#include "app/ui/Theme.h"
#include "server/api/ApiTypes.h"
#include "server/view/CameraTile.h"
#include "video/FfmpegPlayer.h"
#include "wall/VideoWallRules.h"

#include <QUrl>

using namespace kvr::ui;
using namespace kvr::wall;
using namespace kvr::api;
using namespace kvr::context;

namespace kvr::view {

const QString ServerWallSource::kOwner = QStringLiteral("videowall");

QString ServerWallSource::idFor(const QString& serverUrl, const QString& organisationId)
{
    const QString host = QUrl(serverUrl).host(QUrl::FullyDecoded);
    const QString org = organisationId.isEmpty() ? QStringLiteral("default") : organisationId;
    return QStringLiteral("server/%1/%2").arg(host, org);
}

QString ServerWallSource::channelTitle(const Channel& channel)
{
    return channel.name.isEmpty() ? QStringLiteral("Camera %1").arg(channel.number) : channel.name;
}

QList<VideoWall::Camera> ServerWallSource::camerasIn(const QList<Site>& sites)
{
    QList<VideoWall::Camera> out;
    for (const Site& site : sites) {
        for (const Device& device : site.devices) {
            for (const Channel& channel : device.channels)
                out.append({channel.id, channelTitle(channel), device.name, site.name, knownOffline(device, channel)});
        }
    }
    return out;
}

ServerWallSource::TileLabel ServerWallSource::tileLabelFor(const Channel* channel, const Device* device)
{
    TileLabel label;
    if (!channel) {
        label.title = QStringLiteral("Camera not in this organisation");
        label.offline = true;
        return label;
    }
    if (!device) {
        // The server still knows the channel: let it say whether it plays.
        label.title = QStringLiteral("Camera not in this organisation");
        label.offline = false;
        return label;
    }
    label.title = device->channels.size() < 2 ? device->name
                                              : kvr::core::TextDirection::isolate(device->name) + QStringLiteral(" · ")
            + kvr::core::TextDirection::isolate(channelTitle(*channel));
    label.offline = knownOffline(*device, *channel);
    return label;
}

QString ServerWallSource::id() const
{
    const AppContext& context = AppContext::instance();
    return idFor(context.api.baseUrl(), context.organisationId());
}

QString ServerWallSource::title() const
{
    return AppContext::instance().organisationName();
}

QList<VideoWall::Camera> ServerWallSource::cameras() const
{
    return camerasIn(AppContext::instance().sites);
}

QWidget* ServerWallSource::makeTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand)
{
    AppContext& context = AppContext::instance();
    const Channel* channel = context.findChannel(cameraId);
    const Device* device = channel ? context.findDevice(channel->deviceId) : nullptr;
    const TileLabel label = tileLabelFor(channel, device);

    auto* tile = new CameraTile(cameraId, label.title, label.offline, parent);
    tile->owner = kOwner;
    tile->inVideoWall = true;
    tile->updateButtons();
    QObject::connect(tile, &CameraTile::expandRequested, tile, [onExpand = std::move(onExpand)](CameraTile*) {
        if (onExpand)
            onExpand();
    });
    return tile;
}

void ServerWallSource::tune(QWidget* tile, int shownOnDisplay, int totalOnWall)
{
    Q_UNUSED(totalOnWall) // decoding stays as the tile chose it
    auto* t = qobject_cast<CameraTile*>(tile);
    if (t && t->player())
        t->player()->controls().maxFps = double(VideoWall::VideoWallRules::fpsCapFor(shownOnDisplay));
}

void ServerWallSource::start(QWidget* tile, bool main, std::function<void()> started)
{
    auto* t = qobject_cast<CameraTile*>(tile);
    if (!t) {
        // Not one of ours: nothing to start, but the slot must come back.
        if (started)
            started();
        return;
    }
    t->setInitialQuality(main);
    // The tile runs `started` once its start has ended and the answer shows,
    // whatever becomes of it meanwhile: the controller's slot always comes back.
    t->start(std::move(started), CameraTile::DoneWhen::Shown);
}

void ServerWallSource::stop(QWidget* tile)
{
    if (auto* t = qobject_cast<CameraTile*>(tile))
        t->stop();
}

void ServerWallSource::requestStop(QWidget* tile)
{
    // The wall asks every tile first and stops each one after. Letting the
    // player go here means that stop finds nothing left to wait for: the
    // decode threads wind down side by side in the background, and a wall of
    // 120 tiles (or of cameras that no longer answer) never holds the main
    // thread while each one in turn hangs up. The server stream is given
    // back by stop.
    auto* t = qobject_cast<CameraTile*>(tile);
    if (t && t->player())
        t->player()->requestStop();
}

VideoWall::TileRetry* ServerWallSource::tileRetry(QWidget* tile)
{
    auto* t = qobject_cast<CameraTile*>(tile);
    return t ? t->retry() : nullptr;
}

QString ServerWallSource::tileStyle() const
{
    return Theme::appStyle();
}

} // namespace kvr::view
