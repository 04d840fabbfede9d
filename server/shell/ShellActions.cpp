// The camera actions of the server main window: live view, device and cloud
// playback, the health check, camera walls, full screen, the video wall and
// presets. The window makes every server call and hands the results on.
#include "app/context/AppContext.h"
#include "app/ui/Modal.h"
#include "server/shell/BrandRegistry.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/DevicePages.h"
#include "server/shell/PresetsDialog.h"
#include "server/shell/ShellWindow.h"
#include "server/view/FadeStack.h"
#include "server/view/ResizeHandle.h"

#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::api;
using namespace kvr::context;
using namespace kvr::view;

namespace kvr::shell {

using namespace ShellRules;

namespace {

CatalogueLookup contextLookup()
{
    AppContext& ctx = AppContext::instance();
    return {[&ctx](const QString& id) -> const Channel* { return ctx.findChannel(id); },
            [&ctx](const QString& id) -> const Device* { return ctx.findDevice(id); },
            [&ctx](const QString& id) -> const Site* { return ctx.findSite(id); }};
}

} // namespace

RequestTicket ShellWindow::beginStageRequest()
{
    return m_stageRequests.issue();
}

bool ShellWindow::stageRequestCurrent(const RequestTicket& request) const
{
    return request.current() && AppContext::instance().viewActive;
}

void ShellWindow::prepareView(Operation operation)
{
    const StreamEffects effects = effectsOf(operation);
    // A wall left open behind another page would keep its tiles playing unseen.
    if (effects.wall == WallEffect::Stopped && m_wallOpen) {
        m_wall->setFullscreen(false);
        m_wall->stopAll();
        m_wallOpen = false;
    }
    if (effects.stage == StageEffect::Stopped)
        m_stage->stopPlayback();
}

bool ShellWindow::chosenCamera(const Device*& device, const Channel*& channel)
{
    if (!vmsAllowed()) {
        noAccess();
        return false;
    }
    device = currentDevice();
    channel = currentChannel();
    return device && channel;
}

void ShellWindow::openLiveView()
{
    const Device* device = nullptr;
    const Channel* channel = nullptr;
    if (!chosenCamera(device, channel))
        return;
    prepareView(Operation::LiveView);
    m_stage->openLive(channel->name, QString(), false);
    fadeTo(StagePageIndex);
    setViewActive(true);
    startLive(channel->id, channel->name);
}

void ShellWindow::startLive(const QString& cameraId, const QString& title)
{
    ApiClient& api = AppContext::instance().api;
    api.stopLive(QString());
    const RequestTicket request = beginStageRequest();
    api.startLiveHls(
        cameraId, m_liveMain,
        [this, request, title](const StreamInfo& info, const QString& error) {
            // A late answer must not reopen live over what the stage shows now.
            if (info.superseded || !stageRequestCurrent(request))
                return;
            if (!info.url.isEmpty())
                m_stage->openLive(title, info.url, false);
            else if (info.failure == ApiFailure::Offline)
                m_stage->openLive(title, QString(), true);
            else
                m_stage->showError(QStringLiteral("Can’t play this stream"), error, true);
        },
        QString(), this);
}

void ShellWindow::streamToggled(bool mainStream)
{
    m_liveMain = mainStream;
    const Channel* channel = currentChannel();
    if (!channel)
        return;
    m_stage->openLive(channel->name, QString(), false);
    startLive(channel->id, channel->name);
}

void ShellWindow::liveRestart(const QString& cameraId)
{
    const Channel* channel = cameraId == m_currentChannelId ? currentChannel() : nullptr;
    if (cameraId != m_currentChannelId || m_pages->currentIndex() != StagePageIndex || !m_pages->isVisible()
        || m_stage->mode() != StagePort::Mode::Live || !AppContext::instance().viewActive || !channel)
        return;
    m_stage->openLive(channel->name, QString(), false);
    startLive(channel->id, channel->name);
}

void ShellWindow::wallCameraOpened(const QString& cameraId)
{
    const Channel* channel = AppContext::instance().findChannel(cameraId);
    if (!channel)
        return;
    prepareView(Operation::WallCameraToStage);
    m_currentChannelId = cameraId;
    m_currentDeviceId = channel->deviceId;
    m_stage->openLive(channel->name, QString(), false);
    fadeTo(StagePageIndex);
    setViewActive(true);
    startLive(channel->id, channel->name);
}

void ShellWindow::openDevicePlayback()
{
    if (!vmsAllowed()) {
        noAccess();
        return;
    }
    const Channel* channel = currentChannel();
    if (!channel)
        return;
    prepareView(Operation::DevicePlayback);
    beginStageRequest();
    setViewActive(true);
    m_stage->prepareDevice(channel->name);
    fadeTo(StagePageIndex);
}

void ShellWindow::deviceMonth(int year, int month, const RequestTicket& asked)
{
    AppContext& ctx = AppContext::instance();
    const Device* device = currentDevice();
    const Channel* channel = currentChannel();
    if (!device || !channel || channel->number < 1)
        return;
    const QString channelId = channel->id;
    const RequestTicket session = m_sessions.ticket();
    ctx.api.fetchPlaybackCalendar(device->id, channel->number, year, month,
                                  [this, channelId, session, asked](const QList<QDate>& days, bool, const QString&) {
                                      if (session.current() && m_currentChannelId == channelId)
                                          m_stage->addDeviceDays(days, asked);
                                  });
}

void ShellWindow::deviceDay(const QDate& day)
{
    AppContext& ctx = AppContext::instance();
    const Channel* channel = currentChannel();
    if (!channel)
        return;
    const QString asked = channel->id;
    const RequestTicket session = m_sessions.ticket();
    ctx.api.fetchPlaybackAvailability(asked, day,
                                      [this, asked, session, day](const QList<std::pair<double, double>>& blocks,
                                                                  bool supported, const QString& error) {
                                          if (session.current() && m_currentChannelId == asked)
                                              m_stage->setDeviceCoverage(day, blocks, supported && error.isEmpty());
                                      });
}

void ShellWindow::playDevice(const QDateTime& start, const QDateTime& end)
{
    const Channel* channel = currentChannel();
    if (!channel)
        return;
    const RequestTicket request = beginStageRequest();
    const QString clock = QStringLiteral("HH:mm:ss");
    AppContext::instance().api.startDevicePlaybackHls(
        channel->id, start.date(), start.time().toString(clock), end.time().toString(clock),
        [this, request](const StreamInfo& info, const QString& error) {
            if (info.superseded || !stageRequestCurrent(request))
                return;
            if (!info.url.isEmpty())
                m_stage->playUrl(info.url);
            else if (info.failure == ApiFailure::Offline)
                m_stage->showError(QStringLiteral("No recording on the device for this time."), error, false);
            else
                m_stage->showError(error.isEmpty() ? QStringLiteral("Can’t play this recording") : error, QString(),
                                   false);
        });
}

void ShellWindow::openCloudPlayback()
{
    const Device* device = nullptr;
    const Channel* channel = nullptr;
    if (!chosenCamera(device, channel))
        return;
    AppContext& ctx = AppContext::instance();
    // The answer stands for this request only: a switch to another view or
    // channel, or a sign-out, in the meantime drops it.
    const RequestTicket request = beginStageRequest();
    const RequestTicket session = m_sessions.ticket();
    const QString asked = channel->id;
    const QString title = channel->name;
    ctx.api.fetchCloudDates(device->id, channel->id,
                            [this, request, session, asked, title](const QList<QDate>& days, const QString& error) {
                                if (!session.current() || !request.current() || asked != m_currentChannelId)
                                    return;
                                prepareView(Operation::CloudPlayback);
                                m_stage->prepareCloud(title, days);
                                setViewActive(true);
                                fadeTo(StagePageIndex);
                                if (!error.isEmpty())
                                    m_stage->showError(error, QString(), false);
                                else if (days.isEmpty())
                                    m_stage->showError(QStringLiteral("This camera has no cloud archive."), QString(),
                                                       false);
                            });
}

void ShellWindow::playCloud(const QDate& day, const QString& start, const QString& end, const RequestTicket& asked)
{
    const Channel* channel = currentChannel();
    if (!channel)
        return;
    const RequestTicket request = beginStageRequest();
    AppContext::instance().api.fetchCloudPlaylist(
        CloudPlayRequest{channel->id, day, start, end},
        [this, request, asked](const QByteArray& playlist, const QUrl& address, const QString& error) {
            if (!stageRequestCurrent(request))
                return;
            if (!playlist.isEmpty())
                m_stage->playPlaylist(playlist, address, asked);
            else
                m_stage->showError(error.isEmpty() ? QStringLiteral("Can’t play this recording") : error, QString(),
                                   false);
        },
        false);
}

void ShellWindow::stageStopped()
{
    stopEverything(Operation::StageStopped);
    fadeTo(DevicePageIndex);
}

void ShellWindow::checkHealth(bool fade)
{
    const Device* device = currentDevice();
    if (!device)
        return;
    IBrandProvider* provider = BrandRegistry::instance().get(device->brand);
    if (!provider)
        return;
    if (fade)
        m_healthPage->setTitle(device->name);
    m_healthPage->setRows(provider->startHealth(*device));
    if (fade)
        fadeTo(HealthPageIndex);
    // The provider may answer after this window is gone.
    QPointer<HealthPage> page(m_healthPage);
    provider->refreshHealth(*device, DeviceConnection{}, [page](const QList<HealthRow>& rows) {
        if (page)
            page->setRows(rows);
    });
}

void ShellWindow::siteWall(const QString& siteId)
{
    const Site* site = AppContext::instance().findSite(siteId);
    if (!site)
        return;
    if (!vmsAllowed()) {
        noAccess();
        return;
    }
    QList<const Device*> devices;
    for (const Device& d : site->devices)
        devices << &d;
    showWall(site->name, devicesWall(devices));
}

void ShellWindow::deviceWall()
{
    const Device* device = currentDevice();
    if (!device)
        return;
    if (!vmsAllowed()) {
        noAccess();
        return;
    }
    showWall(device->name, devicesWall({device}));
}

void ShellWindow::customWall(const QStringList& channelIds)
{
    if (!vmsAllowed()) {
        noAccess();
        return;
    }
    showWall(QStringLiteral("Custom wall"), ShellRules::customWall(channelIds, contextLookup()));
}

void ShellWindow::showWall(const QString& title, const QList<WallCamera>& cameras)
{
    if (cameras.isEmpty())
        return;
    stopEverything(Operation::CameraWall);
    m_wall->openCameras(title, cameras);
    m_wallOpen = true;
    setViewActive(true);
    fadeTo(WallPageIndex);
}

void ShellWindow::wallFullscreen(bool on)
{
    m_topBar->setVisible(!on);
    m_catalogue->setVisible(!on);
    if (on) {
        m_handle->hide();
        showFullScreen();
    } else {
        m_handle->setVisible(!m_catalogue->isCollapsed());
        showNormal();
    }
}

void ShellWindow::stageFullscreen(bool on)
{
    m_topBar->setVisible(!on);
    m_catalogue->setVisible(!on);
    if (on)
        showFullScreen();
    else
        showNormal();
}

void ShellWindow::updateVideoWallButton()
{
    m_videoWallButton->setText(
        videoWallButtonText(m_videoWall->running(), m_videoWall->openWindows(), m_videoWall->sourceId()));
}

void ShellWindow::openVideoWall()
{
    if (!vmsAllowed()) {
        noAccess();
        return;
    }
    if (AppContext::instance().sites.isEmpty()) {
        Modal::inform(this, QStringLiteral("Video wall"),
                      QStringLiteral("The camera list is still loading. Try again in a moment."));
        return;
    }
    m_videoWall->openSetup(this);
}

void ShellWindow::stopVideoWall()
{
    if (serverWallRunning(m_videoWall->running(), m_videoWall->openWindows(), m_videoWall->sourceId()))
        m_videoWall->stop();
    AppContext::instance().api.stopLive(QStringLiteral("videowall"));
}

void ShellWindow::openPresets()
{
    if (!vmsAllowed()) {
        noAccess();
        return;
    }
    PresetsDialog dialog(AppContext::instance().api, AppContext::instance().organisationId(), this);
    connect(&dialog, &PresetsDialog::playRequested, this, &ShellWindow::playPreset, Qt::QueuedConnection);
    Modal::exec(dialog);
}

void ShellWindow::playPreset(const QString& name, const QList<PresetCamera>& cameras)
{
    showWall(name, presetWall(cameras, contextLookup()));
}

void ShellWindow::savePreset()
{
    const QStringList cameraIds = m_wall->cameraIds();
    if (cameraIds.isEmpty())
        return;
    const QString orgId = AppContext::instance().organisationId();
    if (orgId.isEmpty())
        return;
    QPointer<ShellWindow> self(this); // the naming dialog below runs a modal loop
    const RequestTicket session = m_sessions.ticket();
    AppContext::instance().api.fetchPresets(
        orgId, [self, session, cameraIds](const QList<Preset>& presets, const QString&) {
            if (!session.current())
                return;
            QStringList names;
            for (const Preset& p : presets)
                names << p.name;
            QInputDialog ask(self);
            ask.setWindowTitle(QStringLiteral("Save as preset"));
            ask.setLabelText(QStringLiteral("Name a new preset, or pick an existing one to replace its cameras:"));
            ask.setComboBoxItems(names);
            ask.setComboBoxEditable(true);
            ask.setTextValue(QString());
            // The field where the name is typed is named for a screen reader.
            if (auto* choice = ask.findChild<QComboBox*>()) {
                choice->setAccessibleName(QStringLiteral("Preset name"));
                if (QLineEdit* field = choice->lineEdit())
                    field->setAccessibleName(QStringLiteral("Preset name"));
            }
            const int result = Modal::exec(ask);
            if (!self || result != QDialog::Accepted)
                return;
            const QString name = ask.textValue().trimmed();
            if (name.isEmpty())
                return;
            QString presetId;
            for (const Preset& p : presets)
                if (p.name == name)
                    presetId = p.id; // the last of equal names
            AppContext::instance().api.savePreset(
                name, AppContext::instance().organisationId(), cameraIds, presetId, [self, name](const QString& error) {
                    if (self)
                        Modal::inform(self, QStringLiteral("Presets"),
                                      error.isEmpty() ? QStringLiteral("Saved “%1”.").arg(name) : error);
                });
        });
}

} // namespace kvr::shell
