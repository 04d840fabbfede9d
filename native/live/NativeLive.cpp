#include "native/live/NativeLive.h"

#include "app/ui/Modal.h"
#include "native/live/CalendarDialog.h"
#include "native/live/NativeWallSource.h"
#include "native/live/SnapshotsDialog.h"
#include "native/live/StreamDialog.h"
#include "native/live/VmsPage.h"
#include "native/screens/NativeContext.h"
#include "native/screens/NativeWindow.h"
#include "wall/Controller.h"

using namespace kvr::ui;
using namespace kvr::wall;
using namespace kvr::screens;

namespace kvr::live {

namespace NativeLive {

void installHooks()
{
    NativeMedia::Hooks hooks;
    hooks.snapshots = [](QWidget* parent, const QString& deviceId, int channel) {
        SnapshotsDialog dialog(deviceId, channel, parent);
        Modal::exec(dialog);
    };
    hooks.calendar = [](QWidget* parent, const QString& deviceId) {
        CalendarDialog dialog(deviceId, parent);
        Modal::exec(dialog);
    };
    hooks.openLive = [](QWidget* parent, const QString& deviceId, int channel) {
        StreamDialog::openLive(parent, deviceId, channel);
    };
    hooks.stopWall = [] { VideoWall::Controller::instance()->stopIfFrom(NativeWallSource::kId); };
    NativeMedia::setHooks(hooks);
}

void attach(NativeWindow& window)
{
    installHooks();
    window.setWallPage(new VmsPage);
}

} // namespace NativeLive

} // namespace kvr::live
