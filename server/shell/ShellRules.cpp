#include "server/shell/ShellRules.h"

#include "app/core/TextDirection.h"
#include "server/shell/Tunables.h"

#include <QHash>
#include <QSet>

#include <algorithm>

using namespace kvr::api;
using namespace kvr::view;

namespace kvr::shell {

namespace ShellRules {

bool vmsAllowed(const UserProfile& user)
{
    return user.canView;
}

bool canUsePresets(const UserProfile& user)
{
    return user.canView && (user.superuser || user.canAdd || user.canEdit);
}

bool canSavePresets(const UserProfile& user)
{
    return user.canView && (user.superuser || user.canAdd);
}

QString displayName(const UserProfile& user)
{
    return user.firstName.isEmpty() ? user.username : user.firstName;
}

QString avatarText(const QString& name)
{
    return name.size() < 2 ? name : name.left(1).toUpper();
}

bool catalogueEmpty(const QList<Site>& sites)
{
    // A site still loading, or whose devices could not be loaded, may yet
    // bring devices: the catalogue is not known to be empty until every site is in.
    for (const Site& s : sites)
        if (!s.devices.isEmpty() || s.loading || s.devicesFailed())
            return false;
    return true;
}

QString sitesProgressText(int completed, int total)
{
    if (total < 1 || completed >= total)
        return {};
    return QStringLiteral("Loading devices… %1 of %2 sites").arg(completed).arg(total);
}

QList<Organisation> orderOrganisations(const QList<Organisation>& organisations, const QString& currentName)
{
    QList<Organisation> ordered;
    for (const Organisation& o : organisations)
        if (o.name == currentName)
            ordered << o;
    for (const Organisation& o : organisations)
        if (o.name != currentName && !o.headOffice)
            ordered << o;
    for (const Organisation& o : organisations)
        if (o.name != currentName && o.headOffice)
            ordered << o;
    return ordered;
}

std::chrono::milliseconds reloadDelay(int tries, const QList<Site>& sites)
{
    qint64 asked = 0;
    for (const Site& s : sites)
        if (s.devicesFailed())
            asked = std::max(asked, s.retryAfterMs);
    return reloadDelay(tries, asked);
}

std::chrono::milliseconds reloadDelay(int tries, qint64 askedMs)
{
    std::chrono::milliseconds wait = tun::kSiteReloadFirst;
    for (int i = 0; i < tries && wait < tun::kSiteReloadLongest; ++i)
        wait *= 2;
    wait = std::max(wait, std::chrono::milliseconds(askedMs));
    return std::min(wait, std::chrono::milliseconds(tun::kSiteReloadLongest));
}

bool anySiteFailed(const QList<Site>& sites)
{
    return std::any_of(sites.cbegin(), sites.cend(), [](const Site& s) { return s.devicesFailed(); });
}

Chip chipFor(bool online, int streamCount, ApiFailure failure)
{
    Chip chip;
    // An account that may not read the relay's status never will: stop asking.
    // Any other refusal may pass; the chip says the status is unknown.
    if (failure == ApiFailure::Forbidden) {
        chip.action = Chip::HideAndStop;
        return chip;
    }
    if (failure != ApiFailure::None) {
        chip.text = QStringLiteral("Status unknown");
        return chip;
    }
    if (!online) {
        chip.text = QStringLiteral("Relay offline");
        chip.state = QStringLiteral("offline");
        return chip;
    }
    chip.text = QStringLiteral("Relay online · %1 stream%2").arg(streamCount).arg(streamCount == 1 ? "" : "s");
    chip.state = QStringLiteral("online");
    return chip;
}

QString cameraTitle(const Device& device, const Channel& channel)
{
    if (device.channels.size() < 2)
        return device.name;
    // Beside each other and the dot, each name reads as written whatever
    // direction the other holds.
    return kvr::core::TextDirection::isolate(device.name) + QStringLiteral(" · ")
        + kvr::core::TextDirection::isolate(channel.name);
}

QList<WallCamera> devicesWall(const QList<const Device*>& devices)
{
    QList<WallCamera> cameras;
    for (const Device* d : devices)
        for (const Channel& c : d->channels)
            cameras.append({c.id, cameraTitle(*d, c), QString(), knownOffline(*d, c)});
    return cameras;
}

namespace {

QSet<QString> sitesOf(const QList<QString>& channelIds, const CatalogueLookup& lookup)
{
    QSet<QString> sites;
    for (const QString& id : channelIds) {
        const Channel* c = lookup.channel(id);
        const Device* d = c ? lookup.device(c->deviceId) : nullptr;
        if (d)
            sites.insert(d->siteId);
    }
    return sites;
}

QString siteSubtitle(const Device& device, bool manySites, const CatalogueLookup& lookup)
{
    if (!manySites)
        return {};
    const Site* s = lookup.site(device.siteId);
    return s ? s->name : QString();
}

} // namespace

QList<WallCamera> customWall(const QStringList& channelIds, const CatalogueLookup& lookup)
{
    const bool manySites = sitesOf(channelIds, lookup).size() >= 2;
    QList<WallCamera> cameras;
    for (const QString& id : channelIds) {
        const Channel* c = lookup.channel(id);
        const Device* d = c ? lookup.device(c->deviceId) : nullptr;
        if (!d)
            continue;
        cameras.append({c->id, cameraTitle(*d, *c), siteSubtitle(*d, manySites, lookup), knownOffline(*d, *c)});
    }
    return cameras;
}

QList<WallCamera> presetWall(const QList<PresetCamera>& presetCameras, const CatalogueLookup& lookup)
{
    QStringList ids;
    for (const PresetCamera& p : presetCameras)
        ids << p.id;
    const bool manySites = sitesOf(ids, lookup).size() >= 2;
    QList<WallCamera> cameras;
    QList<const Device*> devices;
    QHash<QString, int> uses;
    for (const PresetCamera& p : presetCameras) {
        WallCamera w{p.id, p.name, QString(), p.onlineState() == OnlineState::Offline};
        const Channel* c = lookup.channel(p.id);
        const Device* d = c ? lookup.device(c->deviceId) : nullptr;
        if (d) {
            if (w.title.isEmpty())
                w.title = cameraTitle(*d, *c);
            w.subtitle = siteSubtitle(*d, manySites, lookup);
        }
        ++uses[w.title];
        cameras.append(w);
        devices.append(d);
    }
    // A preset names its cameras as their recorders do, so two recorders'
    // "Camera 1" would read alike on the wall: a name the preset gives more
    // than one camera is led by its device's name.
    for (qsizetype i = 0; i < cameras.size(); ++i) {
        WallCamera& w = cameras[i];
        const QString device = devices[i] ? kvr::core::TextDirection::isolate(devices[i]->name) : QString();
        if (devices[i] && uses.value(w.title) > 1 && !w.title.startsWith(device))
            w.title = device + QStringLiteral(" · ") + kvr::core::TextDirection::isolate(w.title);
    }
    return cameras;
}

bool serverWallRunning(bool running, int openWindows, const QString& sourceId)
{
    return (running || openWindows > 0) && sourceId.startsWith(QLatin1String("server/"));
}

QString videoWallButtonText(bool running, int openWindows, const QString& sourceId)
{
    if (serverWallRunning(running, openWindows, sourceId))
        return QStringLiteral("Video wall · on %1").arg(openWindows);
    return QStringLiteral("Video wall");
}

bool signOutNeedsConfirmation(bool viewActive, bool serverWallRuns)
{
    return viewActive || serverWallRuns;
}

StreamEffects effectsOf(Operation operation)
{
    switch (operation) {
    case Operation::LiveView:
        // A camera wall left open behind the stage would keep its tiles
        // playing unseen: it stops too.
        return {StageEffect::Replaced, WallEffect::Stopped, true, false, ViewFlag::Set};
    case Operation::WallCameraToStage:
        return {StageEffect::Replaced, WallEffect::Stopped, true, false, ViewFlag::Set};
    case Operation::DevicePlayback:
    case Operation::CloudPlayback:
        return {StageEffect::Replaced, WallEffect::Stopped, false, false, ViewFlag::Set};
    case Operation::DeviceOpened:
        // Nothing plays on behind the device page, unseen and held on the
        // server: the stage and the wall stop as their own Stop buttons do.
        return {StageEffect::Stopped, WallEffect::Stopped, true, false, ViewFlag::Cleared};
    case Operation::CameraWall:
        return {StageEffect::Stopped, WallEffect::Replaced, true, false, ViewFlag::Set};
    case Operation::StageStopped:
        return {StageEffect::Untouched, WallEffect::Untouched, true, false, ViewFlag::Cleared};
    case Operation::WallClosed:
        return {StageEffect::Untouched, WallEffect::Untouched, false, false, ViewFlag::Cleared};
    case Operation::OrganisationSwitch:
    case Operation::SignOut:
    case Operation::SessionExpired:
        // Nothing this session started may outlive it.
        return {StageEffect::Stopped, WallEffect::Stopped, true, true, ViewFlag::Cleared};
    case Operation::Minimise:
        return {StageEffect::Suspended, WallEffect::Suspended, false, false, ViewFlag::Unchanged};
    }
    return {};
}

} // namespace ShellRules

} // namespace kvr::shell
