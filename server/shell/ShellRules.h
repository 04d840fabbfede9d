#pragma once

#include "server/api/ApiTypes.h"
#include "server/view/CameraWallRules.h" // WallCamera

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace kvr::shell {

// The rules of the server main window, apart from its widgets.
namespace ShellRules {

// Permissions of the signed-in user.
bool vmsAllowed(const api::UserProfile& user);
bool canUsePresets(const api::UserProfile& user);
bool canSavePresets(const api::UserProfile& user);

// The top bar's user block.
QString displayName(const api::UserProfile& user);
QString avatarText(const QString& displayName);

// True when no site of the catalogue has a device (also with no site) and
// none is still loading.
bool catalogueEmpty(const QList<api::Site>& sites);

// The progress line of a catalogue load; empty when it is complete.
QString sitesProgressText(int completed, int total);

// The organisations in the order they are tried: the current one (by name),
// then the others that are not head offices, then the head offices.
QList<api::Organisation> orderOrganisations(const QList<api::Organisation>& organisations, const QString& currentName);

// The wait before sites whose devices the server could not give are asked
// for again, after `tries` such reloads that still left one failed; no
// shorter than a wait the server asked for with any of those sites' answers.
std::chrono::milliseconds reloadDelay(int tries, const QList<api::Site>& sites = {});
// The same for a site list that could not be had, the server having asked
// for `askedMs` (0: nothing).
std::chrono::milliseconds reloadDelay(int tries, qint64 askedMs);
// Whether any site's devices could not be loaded.
bool anySiteFailed(const QList<api::Site>& sites);

// The relay status chip for one status answer.
struct Chip {
    enum Action { Show, HideAndStop };
    Action action = Show;
    QString text;
    QString state; // the "state" property the style selects on
};
Chip chipFor(bool online, int streamCount, api::ApiFailure failure);

// Camera walls: a tile's title (its offline mark is knownOffline).
QString cameraTitle(const api::Device& device, const api::Channel& channel);
// Every channel of the devices in order.
QList<view::WallCamera> devicesWall(const QList<const api::Device*>& devices);

// Lookups the wall builders need.
struct CatalogueLookup {
    std::function<const api::Channel*(const QString&)> channel;
    std::function<const api::Device*(const QString&)> device;
    std::function<const api::Site*(const QString&)> site;
};
// A hand-picked selection: channels not in the catalogue are skipped; each
// camera names its site when the selection spans two or more sites.
QList<view::WallCamera> customWall(const QStringList& channelIds, const CatalogueLookup& lookup);
// A preset: cameras not in the catalogue keep the preset's own name and flags;
// a name given to more than one camera is led by the camera's device name.
QList<view::WallCamera> presetWall(const QList<api::PresetCamera>& cameras, const CatalogueLookup& lookup);

// The top bar's video wall button.
bool serverWallRunning(bool running, int openWindows, const QString& sourceId);
QString videoWallButtonText(bool running, int openWindows, const QString& sourceId);

// Signing out asks first only while something of this session plays.
bool signOutNeedsConfirmation(bool viewActive, bool serverWallRuns);

// What an operation of the window does to the streams that run.
enum class Operation {
    LiveView, // live view, the Main/Sub switch, a live restart
    WallCameraToStage,
    DevicePlayback,
    CloudPlayback,
    DeviceOpened, // a device chosen in the catalogue: its page replaces what played
    CameraWall,
    StageStopped,
    WallClosed,
    OrganisationSwitch,
    SignOut, // after the question was answered "Sign out", or with nothing to ask
    SessionExpired,
    Minimise,
};
enum class StageEffect { Untouched, Replaced, Stopped, Suspended };
enum class WallEffect { Untouched, Replaced, Stopped, Suspended };
enum class ViewFlag { Unchanged, Set, Cleared };
struct StreamEffects {
    StageEffect stage = StageEffect::Untouched;
    WallEffect wall = WallEffect::Untouched;
    bool stopsStageStreams = false; // the owner-less live streams on the server
    bool stopsVideoWall = false;    // a server video wall and its "videowall" streams
    ViewFlag view = ViewFlag::Unchanged;
};
StreamEffects effectsOf(Operation operation);

} // namespace ShellRules

} // namespace kvr::shell
