#include "server/shell/ShellWindow.h"

#include "app/context/AppContext.h"
#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/ui/Modal.h"
#include "app/ui/ScreenFit.h"
#include "app/ui/Theme.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/DevicePages.h"
#include "server/shell/SettingsDialog.h"
#include "server/shell/Tunables.h"
#include "server/view/FadeStack.h"
#include "server/view/ResizeHandle.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::api;
using namespace kvr::context;
using namespace kvr::view;

namespace kvr::shell {

using namespace ShellRules;

ShellWindow::ShellWindow(QWidget* parent) : ShellWindow(makeShellParts(nullptr), parent) {}

ShellWindow::ShellWindow(ShellParts parts, QWidget* parent)
    : QWidget(parent),
      m_stage(parts.stage),
      m_wall(parts.wall),
      m_videoWall(parts.videoWall)
{
    m_stage->setParent(this);
    m_wall->setParent(this);
    m_videoWall->setParent(this);
    build();
    connectAll();
    if (Prefs::get(Prefs::kCatalogCollapsed))
        m_catalogue->setCollapsed(true, false);
    m_handle->setVisible(!m_catalogue->isCollapsed());
    // A quit while something plays gives this session's streams back first.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &ShellWindow::stopStreamsAtQuit);
}

ShellWindow::~ShellWindow() = default;

void ShellWindow::build()
{
    setObjectName(QStringLiteral("AppRoot"));
    setWindowTitle(QStringLiteral("Kavira"));
    ScreenFit::keepWithin(this, QSize(1280, 720));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(Theme::appStyle());

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    m_topBar = new QWidget(this);
    m_topBar->setObjectName(QStringLiteral("TopBar"));
    m_topBar->setAttribute(Qt::WA_StyledBackground);
    auto* bar = new QHBoxLayout(m_topBar);
    bar->setContentsMargins(16, 0, 16, 0);
    auto* logo = new QLabel(m_topBar);
    QPixmap logoPixmap(QStringLiteral(":/brand/logo.png"));
    if (!logoPixmap.isNull()) {
        logoPixmap = logoPixmap.scaledToHeight(76, Qt::SmoothTransformation);
        logoPixmap.setDevicePixelRatio(2.0);
        logo->setPixmap(logoPixmap);
    }
    logo->setAccessibleName(QStringLiteral("Kavira"));
    bar->addWidget(logo);
    bar->addSpacing(12);
    m_orgLabel = new QLabel(m_topBar);
    m_orgLabel->setObjectName(QStringLiteral("OrgName"));
    bar->addWidget(m_orgLabel);
    m_orgChoice = new QComboBox(m_topBar);
    m_orgChoice->setMinimumWidth(180);
    m_orgChoice->setToolTip(QStringLiteral("Organisation"));
    m_orgChoice->setAccessibleName(QStringLiteral("Organisation"));
    m_orgChoice->hide();
    bar->addWidget(m_orgChoice);
    bar->addStretch(1);
    m_chip = new QLabel(m_topBar);
    m_chip->setObjectName(QStringLiteral("Chip"));
    m_chip->setToolTip(QStringLiteral("State of the video relay that serves the cameras"));
    m_chip->hide();
    bar->addWidget(m_chip);
    bar->addSpacing(8);
    m_presetsButton = new QPushButton(QStringLiteral("Presets"), m_topBar);
    m_presetsButton->setObjectName(QStringLiteral("TextBtn"));
    m_presetsButton->setCursor(Qt::PointingHandCursor);
    m_presetsButton->hide();
    bar->addWidget(m_presetsButton);
    m_videoWallButton = new QPushButton(QStringLiteral("Video wall"), m_topBar);
    m_videoWallButton->setObjectName(QStringLiteral("TextBtn"));
    m_videoWallButton->setCursor(Qt::PointingHandCursor);
    m_videoWallButton->setToolTip(QStringLiteral("Show cameras across the displays connected to this computer"));
    m_videoWallButton->hide();
    bar->addWidget(m_videoWallButton);
    bar->addSpacing(8);
    m_avatar = new QLabel(m_topBar);
    m_avatar->setObjectName(QStringLiteral("Avatar"));
    m_avatar->setAlignment(Qt::AlignCenter);
    bar->addWidget(m_avatar);
    bar->addSpacing(8);
    auto* who = new QVBoxLayout();
    who->setSpacing(0);
    m_userName = new QLabel(m_topBar);
    m_userName->setObjectName(QStringLiteral("UserName"));
    m_userRole = new QLabel(m_topBar);
    m_userRole->setObjectName(QStringLiteral("UserRole"));
    who->addWidget(m_userName);
    who->addWidget(m_userRole);
    bar->addLayout(who);
    bar->addSpacing(8);
    m_settingsButton = new QPushButton(m_topBar);
    m_settingsButton->setObjectName(QStringLiteral("IconBtn"));
    m_settingsButton->setIcon(Theme::icon(Theme::Icon::Settings, Theme::kMuted, 20));
    m_settingsButton->setToolTip(QStringLiteral("Settings"));
    m_settingsButton->setAccessibleName(QStringLiteral("Settings"));
    m_settingsButton->setCursor(Qt::PointingHandCursor);
    bar->addWidget(m_settingsButton);
    m_signOutButton = new QPushButton(QStringLiteral("Sign out"), m_topBar);
    m_signOutButton->setObjectName(QStringLiteral("TextBtn"));
    m_signOutButton->setCursor(Qt::PointingHandCursor);
    bar->addWidget(m_signOutButton);
    outer->addWidget(m_topBar);

    auto* body = new QHBoxLayout();
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    m_catalogue = new CatalogPane(this);
    m_catalogue->setPaneWidth(Prefs::get(Prefs::kCatalogWidth));
    body->addWidget(m_catalogue);
    m_handle = new ResizeHandle(this);
    body->addWidget(m_handle);
    m_pages = new FadeStack(this);
    m_devicePage = new DevicePage(m_pages);
    m_healthPage = new HealthPage(m_pages);
    m_pages->addWidget(m_devicePage);
    m_pages->addWidget(m_healthPage);
    m_pages->addWidget(m_stage->page());
    m_pages->addWidget(m_wall->page());
    body->addWidget(m_pages, 1);
    outer->addLayout(body, 1);

    m_statusTimer = new QTimer(this);
    m_statusTimer->setInterval(tun::kStatusInterval);
    m_reloadTimer = new QTimer(this);
    m_reloadTimer->setSingleShot(true);

    m_liveMain = AppContext::instance().liveMain();
    m_stage->setMainStream(m_liveMain);
}

void ShellWindow::connectAll()
{
    ApiClient& api = AppContext::instance().api;
    connect(m_handle, &ResizeHandle::dragStarted, this, [this] { m_dragStartWidth = m_catalogue->paneWidth(); });
    connect(m_handle, &ResizeHandle::dragged, this, [this](int dx) {
        if (m_catalogue->isCollapsed())
            return;
        m_catalogue->setPaneWidth(m_dragStartWidth + dx);
        Prefs::set(Prefs::kCatalogWidth, m_catalogue->paneWidth());
    });
    // Dialogs run outside the click's handler.
    connect(m_settingsButton, &QPushButton::clicked, this, &ShellWindow::openSettings, Qt::QueuedConnection);
    connect(m_signOutButton, &QPushButton::clicked, this, &ShellWindow::confirmSignOut, Qt::QueuedConnection);
    connect(m_presetsButton, &QPushButton::clicked, this, &ShellWindow::openPresets, Qt::QueuedConnection);
    connect(m_videoWallButton, &QPushButton::clicked, this, &ShellWindow::openVideoWall, Qt::QueuedConnection);
    connect(m_videoWall, &VideoWallPort::runningChanged, this, &ShellWindow::updateVideoWallButton);
    connect(m_wall, &WallPort::savePresetRequested, this, &ShellWindow::savePreset, Qt::QueuedConnection);
    connect(m_orgChoice, &QComboBox::activated, this, &ShellWindow::organisationActivated);
    connect(m_statusTimer, &QTimer::timeout, this, &ShellWindow::refreshStatus);
    connect(m_reloadTimer, &QTimer::timeout, this, &ShellWindow::reloadFailedSites);
    connect(m_stage, &StagePort::deviceMonthRequested, this, &ShellWindow::deviceMonth);
    connect(m_stage, &StagePort::deviceDayRequested, this, &ShellWindow::deviceDay);
    connect(&api, &ApiClient::sessionExpired, this, &ShellWindow::onSessionExpired, Qt::QueuedConnection);
    connect(&api, &ApiClient::streamNeedsRestart, this, &ShellWindow::liveRestart);
    connect(m_catalogue, &CatalogPane::collapseToggled, this, [this](bool collapsed) {
        Prefs::set(Prefs::kCatalogCollapsed, collapsed);
        m_handle->setVisible(!collapsed);
    });
    connect(m_catalogue, &CatalogPane::deviceSelected, this, [this](const QString& deviceId) {
        stopEverything(Operation::DeviceOpened);
        m_currentChannelId.clear();
        openDevice(deviceId);
        fadeTo(DevicePageIndex);
    });
    connect(m_catalogue, &CatalogPane::channelSelected, this,
            [this](const QString& deviceId, const QString& channelId) {
                m_currentChannelId = channelId;
                openDevice(deviceId);
                fadeTo(DevicePageIndex);
                openLiveView();
            });
    connect(m_devicePage, &DevicePage::channelPicked, this, [this](const QString& channelId) {
        m_currentChannelId = channelId;
        AppContext& ctx = AppContext::instance();
        const Device* device = currentDevice();
        const Site* site = device ? ctx.findSite(device->siteId) : nullptr;
        if (device && site)
            m_devicePage->showDevice(*device, *site, m_currentChannelId);
    });
    connect(m_devicePage, &DevicePage::checkHealth, this, [this] { checkHealth(true); });
    connect(m_healthPage, &HealthPage::refreshRequested, this, [this] { checkHealth(false); });
    connect(m_healthPage, &HealthPage::backRequested, this, [this] { fadeTo(DevicePageIndex); });
    connect(m_devicePage, &DevicePage::openLive, this, &ShellWindow::openLiveView);
    connect(m_devicePage, &DevicePage::openDevicePlayback, this, &ShellWindow::openDevicePlayback);
    connect(m_devicePage, &DevicePage::openCloudPlayback, this, &ShellWindow::openCloudPlayback);
    connect(m_stage, &StagePort::stopped, this, &ShellWindow::stageStopped);
    connect(m_stage, &StagePort::streamToggled, this, &ShellWindow::streamToggled);
    connect(m_stage, &StagePort::retryLive, this, &ShellWindow::openLiveView);
    connect(m_stage, &StagePort::playDevice, this, &ShellWindow::playDevice);
    connect(m_stage, &StagePort::playCloud, this, &ShellWindow::playCloud);
    connect(m_catalogue, &CatalogPane::playSelectedRequested, this, &ShellWindow::customWall);
    connect(m_catalogue, &CatalogPane::siteLiveRequested, this, &ShellWindow::siteWall);
    connect(m_devicePage, &DevicePage::openGrid, this, &ShellWindow::deviceWall);
    connect(m_wall, &WallPort::closed, this, [this] {
        m_wallOpen = false;
        stopEverything(Operation::WallClosed);
        fadeTo(DevicePageIndex);
    });
    connect(m_wall, &WallPort::cameraOpened, this, &ShellWindow::wallCameraOpened);
    connect(m_wall, &WallPort::fullscreenToggled, this, &ShellWindow::wallFullscreen);
    connect(m_stage, &StagePort::fullscreenToggled, this, &ShellWindow::stageFullscreen);
}

api::Device* ShellWindow::currentDevice() const
{
    return AppContext::instance().findDevice(m_currentDeviceId, m_currentChannelId);
}

api::Channel* ShellWindow::currentChannel() const
{
    return AppContext::instance().findChannel(m_currentDeviceId, m_currentChannelId);
}

QWidget* ShellWindow::handle() const
{
    return m_handle;
}

int ShellWindow::currentPage() const
{
    return m_pages->currentIndex();
}

void ShellWindow::fadeTo(int page)
{
    m_pages->fadeTo(m_pages->widget(page));
}

void ShellWindow::setViewActive(bool on)
{
    AppContext::instance().viewActive = on;
}

bool ShellWindow::vmsAllowed() const
{
    return ShellRules::vmsAllowed(AppContext::instance().user);
}

bool ShellWindow::canUsePresets() const
{
    return ShellRules::canUsePresets(AppContext::instance().user);
}

void ShellWindow::noAccess()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("No access"),
                    QStringLiteral("You don’t have permission to open this."), QMessageBox::Close, this);
    Modal::exec(box);
}

void ShellWindow::openDevice(const QString& deviceId)
{
    m_currentDeviceId = deviceId;
    AppContext& ctx = AppContext::instance();
    // The device that holds the channel chosen, where ids repeat.
    const Device* device = ctx.findDevice(deviceId, m_currentChannelId);
    if (!device)
        return;
    const Site* site = ctx.findSite(device->siteId);
    if (!site)
        return;
    m_currentChannelId = DevicePage::currentChannelFor(*device, m_currentChannelId);
    if (device->channels.isEmpty())
        m_currentChannelId.clear();
    m_devicePage->showDevice(*device, *site, m_currentChannelId);
}

void ShellWindow::showHome(const QString& message)
{
    AppContext& ctx = AppContext::instance();
    const QString organisation = ctx.organisationName();
    m_orgLabel->setText(organisation);
    const QString name = displayName(ctx.user);
    m_userName->setText(name);
    m_userRole->setText(ctx.user.role);
    m_avatar->setText(avatarText(name));
    m_devicePage->showHome(organisation, catalogueEmpty(ctx.sites), message);
    fadeTo(DevicePageIndex);
}

void ShellWindow::openSettings()
{
    SettingsDialog dialog(this);
    Modal::exec(dialog);
    m_liveMain = AppContext::instance().liveMain();
    m_stage->setMainStream(m_liveMain);
}

void ShellWindow::stopEverything(Operation operation)
{
    const StreamEffects effects = effectsOf(operation);
    m_stageRequests.supersede(); // answers for what showed until now are dropped
    if (effects.stage == StageEffect::Stopped)
        m_stage->stopPlayback();
    if (effects.wall == WallEffect::Stopped) {
        m_wall->stopAll();
        m_wallOpen = false;
    }
    if (effects.stopsStageStreams)
        AppContext::instance().api.stopLive(QString());
    if (effects.stopsVideoWall)
        stopVideoWall();
    if (effects.view == ViewFlag::Cleared)
        setViewActive(false);
}

void ShellWindow::confirmSignOut()
{
    const bool wallRuns =
        serverWallRunning(m_videoWall->running(), m_videoWall->openWindows(), m_videoWall->sourceId());
    if (signOutNeedsConfirmation(AppContext::instance().viewActive, wallRuns)) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Sign out"),
                        QStringLiteral("Sign out and stop playback?"), QMessageBox::NoButton, this);
        QPushButton* signOut = box.addButton(QStringLiteral("Sign out"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        QPointer<ShellWindow> self(this);
        Modal::exec(box);
        if (!self || box.clickedButton() != signOut)
            return;
    }
    stopEverything(Operation::SignOut);
    endSession();
}

void ShellWindow::onSessionExpired()
{
    if (!isVisible())
        return;
    stopEverything(Operation::SessionExpired);
    ApiClient& api = AppContext::instance().api;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Session expired"),
                    QStringLiteral("Your session has expired. Please sign in again."), QMessageBox::Ok, this);
    box.setInformativeText(api.sessionEndReason());
    QPointer<ShellWindow> self(this);
    Modal::exec(box);
    if (self)
        endSession();
}

void ShellWindow::endSession()
{
    AppContext& ctx = AppContext::instance();
    m_sessions.supersede();
    ctx.api.logout();
    SessionStore::clear();
    ctx.sites.clear();
    // The next user starts from their own organisation, and nothing of this
    // session keeps asking the server.
    ctx.orgName.clear();
    ctx.orgId.clear();
    m_orgChoice->clear();
    m_orgChoice->hide();
    // Nor does the catalogue keep this user's search or selection: another
    // user's catalogue would open filtered (or read "No matches.").
    m_catalogue->startOver();
    m_orgLabel->show();
    m_statusTimer->stop();
    m_reloadTimer->stop();
    m_reloadTries = 0;
    m_siteListRetry = {};
    m_chip->hide();
    setViewActive(false);
    Q_EMIT signedOut();
}

void ShellWindow::stopStreamsAtQuit()
{
    const bool wallRuns =
        serverWallRunning(m_videoWall->running(), m_videoWall->openWindows(), m_videoWall->sourceId());
    if (!AppContext::instance().viewActive && !wallRuns)
        return;
    stopEverything(Operation::SignOut);
    // The stop requests leave through the event loop, which has ended: give
    // them a short, bounded moment to go out.
    QEventLoop grace;
    QTimer::singleShot(tun::kQuitGrace, &grace, &QEventLoop::quit);
    grace.exec();
}

void ShellWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    if (isMinimized() && !m_minimised) {
        m_minimised = true;
        m_wall->suspendAll();
        m_stage->suspendLive();
    } else if (!isMinimized() && m_minimised) {
        m_minimised = false;
        m_wall->resumeAll();
        m_stage->resumeLive();
    }
}

void ShellWindow::keyPressEvent(QKeyEvent* event)
{
    if (m_pages->currentIndex() == WallPageIndex && m_pages->isVisible() && event->key() != Qt::Key_Escape) {
        if (event->key() == Qt::Key_Right) {
            m_wall->nextPage();
            return;
        }
        if (event->key() == Qt::Key_Left) {
            m_wall->previousPage();
            return;
        }
        QWidget::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Escape && isFullScreen()) {
        m_stage->setFullscreen(false);
        m_wall->setFullscreen(false);
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace kvr::shell
