#include "native/live/VmsTile.h"

#include "app/core/Clock.h"
#include "app/ui/Fitting.h"
#include "app/ui/FocusWithin.h"
#include "app/ui/ItemKeys.h"
#include "app/ui/SnapshotFile.h"
#include "app/ui/Theme.h"
#include "native/live/LiveTileRules.h"
#include "native/live/LiveWallRules.h"
#include "native/live/Logging.h"
#include "native/live/Tunables.h"
#include "native/screens/NativeStyle.h"
#include "native/services/Brands.h"
#include "native/services/NativeHttp.h"
#include "native/services/NativeStore.h"
#include "native/services/StartPacer.h"
#include "native/services/Verdicts.h"
#include "video/DecodeSettings.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"
#include "wall/TileRetry.h"

#include <QButtonGroup>
#include <QDir>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::wall;
using namespace kvr::services;
using namespace kvr::screens;

namespace kvr::live {

namespace {

// The tile's own look, as one sheet on the tile (parsing a sheet per child
// widget made building a large wall several times slower).
const char kTileStyle[] =
    "QPushButton#VOverlay { background: rgba(0,0,0,0.6); border: none; border-radius: 15px; min-height: 30px; "
    "max-height: 30px; min-width: 30px; max-width: 30px; padding: 0; }"
    "QPushButton#VOverlay:hover { background: rgba(255,255,255,0.25); }"
    "QFrame#VSwitch { background: rgba(0,0,0,0.6); border-radius: 9px; }"
    "QPushButton#VSwitchButton { background: transparent; color: #ffffff; border: none; border-radius: 6px; "
    "min-height: 20px; max-height: 20px; padding: 0 9px; font-size: 11px; font-weight: 500; }"
    "QPushButton#VSwitchButton:checked { background: #ffffff; color: #111111; }"
    "QFrame#VTile > QPushButton#VBtn { min-height: 30px; max-height: 30px; padding: 0 14px; font-size: 12px; }"
    "QFrame#VTile > QPushButton#VBtn[look=\"compact\"] { min-height: 18px; max-height: 18px; padding: 0 10px; "
    "font-size: 11px; }"
    "QFrame#VTile > QPushButton#VBtn[look=\"icon\"] { min-height: %1px; max-height: %1px; min-width: %1px; "
    "max-width: %1px; padding: 0; border: none; border-radius: %2px; background: rgba(0,0,0,0.6); }"
    "QFrame#VTile > QPushButton#VBtn[look=\"icon\"]:hover { background: rgba(255,255,255,0.25); }"
    "QLabel#VToast { background: rgba(0,0,0,0.65); color: #fff; font-size: 12px; padding: 5px 10px; "
    "border-radius: 8px; }";

// The overlay icons are painted once for all tiles: a wall builds many.
QIcon overlayIcon(Theme::Icon kind)
{
    static QHash<int, QIcon> cache;
    auto it = cache.find(int(kind));
    if (it == cache.end())
        it = cache.insert(int(kind), Theme::icon(kind, Qt::white, 18));
    return *it;
}

QString focusTip(bool focused)
{
    return focused ? QStringLiteral("Back to the wall") : QStringLiteral("Fill the wall with this camera");
}

} // namespace

VmsTile::VmsTile(const QString& deviceId, int channel, QWidget* parent)
    : QFrame(parent),
      m_deviceId(deviceId),
      m_channel(channel)
{
    setObjectName(QStringLiteral("VTile"));
    setMouseTracking(true);
    static const QString sheet = QString::fromLatin1(kTileStyle).arg(tun::kRetryIcon_px).arg(tun::kRetryIcon_px / 2);
    setStyleSheet(sheet);

    const std::optional<Native::Device> device =
        deviceId.isEmpty() ? std::nullopt : NativeStore::instance().device(deviceId);
    const Native::Camera* camera = device ? device->camera(channel) : nullptr;
    const LiveWallRules::TileNames names = LiveWallRules::tileNames(device ? &*device : nullptr, channel);
    m_name = names.camera;
    m_deviceName = names.device;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    m_stage = new VideoStage(this);
    // As low as the tile: a wall of 36 in playback on a laptop's screen has
    // tiles of 150 x 47, and a stage taller than its tile is cut off.
    m_stage->setMinimumHeight(0);
    m_stage->setCornerRadius(10);
    m_stage->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(m_stage);

    m_badge = new QWidget(this);
    m_badge->setObjectName(QStringLiteral("VBadge"));
    m_badge->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_badge->setAttribute(Qt::WA_StyledBackground);
    auto* badgeRow = new QHBoxLayout(m_badge);
    badgeRow->setContentsMargins(9, 4, 11, 4);
    badgeRow->setSpacing(7);
    m_dot = new NativeStyle::DiscDot(NativeStyle::Disc::Unknown, m_badge);
    m_stateLabel = new QLabel(m_badge);
    m_stateLabel->setObjectName(QStringLiteral("VTileState"));
    m_stateLabel->hide();
    // A camera named by its owner shows its channel too: it tells cameras
    // named alike apart at a glance, and it is what the recorder calls it.
    m_channelLabel = new QLabel(QString::number(channel), m_badge);
    m_channelLabel->setObjectName(QStringLiteral("VTileSub"));
    m_channelLabel->setToolTip(QStringLiteral("Channel %1").arg(channel));
    m_channelNamed = camera && !camera->name.isEmpty() && channel >= 1;
    m_channelLabel->setVisible(m_channelNamed);
    m_nameLabel = new QLabel(m_name, m_badge);
    m_nameLabel->setObjectName(QStringLiteral("VTileName"));
    m_deviceLabel = new QLabel(m_deviceName, m_badge);
    m_deviceLabel->setObjectName(QStringLiteral("VTileSub"));
    badgeRow->addWidget(m_dot);
    badgeRow->addWidget(m_stateLabel);
    badgeRow->addWidget(m_channelLabel);
    badgeRow->addWidget(m_nameLabel);
    badgeRow->addWidget(m_deviceLabel);

    m_focusButton = overlayButton(focusTip(false), int(Theme::Icon::Expand));
    connect(m_focusButton, &QPushButton::clicked, this, [this] { Q_EMIT expandRequested(this); });
    m_snapshotButton = overlayButton(QStringLiteral("Save a snapshot"), int(Theme::Icon::Snapshot));
    connect(m_snapshotButton, &QPushButton::clicked, this, &VmsTile::requestSnapshot);
    m_removeButton = overlayButton(QStringLiteral("Remove from the wall"), int(Theme::Icon::Close));
    connect(m_removeButton, &QPushButton::clicked, this, [this] { Q_EMIT removeRequested(key()); });

    m_switch = new QFrame(this);
    m_switch->setObjectName(QStringLiteral("VSwitch"));
    auto* switchRow = new QHBoxLayout(m_switch);
    switchRow->setContentsMargins(2, 2, 2, 2);
    switchRow->setSpacing(1);
    m_switchGroup = new QButtonGroup(m_switch);
    m_switchGroup->setExclusive(true);
    m_subButton = new QPushButton(QStringLiteral("Sub"), m_switch);
    m_mainButton = new QPushButton(QStringLiteral("Main"), m_switch);
    int id = 0;
    for (QPushButton* b : {m_subButton, m_mainButton}) {
        b->setCheckable(true);
        b->setCursor(Qt::PointingHandCursor);
        b->setObjectName(QStringLiteral("VSwitchButton"));
        b->setAccessibleName(b->text() + QStringLiteral(" stream"));
        m_switchGroup->addButton(b, id++);
        switchRow->addWidget(b);
    }
    m_subButton->setChecked(true);
    m_switch->hide();
    setAccessibleName(m_deviceName.isEmpty() ? m_name : m_name + QStringLiteral(", ") + m_deviceName);
    setAccessibleDescription(ItemKeys::keyHint(focusTip(false)));
    FocusWithin::watch(this, [this] {
        layoutOverlays();
        updateButtons();
    });
    connect(m_switchGroup, &QButtonGroup::idClicked, this, [this](int which) {
        const bool main = which == 1;
        if (main != m_main)
            start(main);
    });

    m_retryButton = new QPushButton(retryText(), this);
    m_retryButton->setObjectName(QStringLiteral("VBtn"));
    m_retryButton->setAccessibleName(retryText());
    m_retryButton->setCursor(Qt::PointingHandCursor);
    m_retryButton->hide();
    connect(m_retryButton, &QPushButton::clicked, this, &VmsTile::restart);
    FocusWithin::tabAfter(this,
                          {m_focusButton, m_snapshotButton, m_removeButton, m_subButton, m_mainButton, m_retryButton});

    m_toast = new QLabel(this);
    m_toast->setObjectName(QStringLiteral("VToast"));
    m_toast->hide();

    m_toastTimer = new QTimer(this);
    m_toastTimer->setSingleShot(true);
    connect(m_toastTimer, &QTimer::timeout, m_toast, &QWidget::hide);
    m_watchdog = new QTimer(this);
    m_watchdog->setSingleShot(true);
    m_watchdog->setInterval(tun::kLiveWatchdog);
    connect(m_watchdog, &QTimer::timeout, this, &VmsTile::onWatchdog);
    m_pictureTick = new QTimer(this);
    m_pictureTick->setInterval(tun::kPictureTick);
    connect(m_pictureTick, &QTimer::timeout, this, &VmsTile::watchPictures);
    m_pacing = new QTimer(this);
    m_pacing->setSingleShot(true);
    connect(m_pacing, &QTimer::timeout, this, [this] { start(m_pacedMain); });
    m_retry = new VideoWall::TileRetry(this);

    m_player = new FfmpegPlayer(this);
    FfmpegPlayer::Options& options = m_player->options();
    options.boundedClose = true;
    options.openAttempts = tun::kTileOpenAttempts;
    options.audioEnabled = false;
    options.autoReconnect = true;
    options.lightDecode = true;
    options.label = logLabel();
    m_player->applyDecodeSettings(kvr::video::DecodeSettings::current());
    m_player->setProperty("kvrLabel", logLabel());
    m_retry->setLabel(logLabel());
    storeTargetSize();
    connectPlayer();
    layoutOverlays();
    updateButtons();
    // Its name is told apart from the tiles beside it: fitted again as they
    // come, go or show, not only when the pointer passes.
    refitWithSiblings(this, [this] { layoutOverlays(); });
}

VmsTile::~VmsTile()
{
    m_player->stop();
}

QString VmsTile::key() const
{
    return LiveWallRules::tileKey(m_deviceId, m_channel);
}

QString VmsTile::logLabel() const
{
    return QStringLiteral("%1 / %2").arg(m_name, m_deviceName);
}

QPushButton* VmsTile::overlayButton(const QString& text, int iconKind)
{
    auto* b = new QPushButton(this);
    b->setFixedSize(30, 30);
    b->setIcon(overlayIcon(Theme::Icon(iconKind)));
    b->setIconSize(QSize(18, 18));
    b->setToolTip(text);
    b->setAccessibleName(text);
    b->setCursor(Qt::PointingHandCursor);
    b->setObjectName(QStringLiteral("VOverlay"));
    b->hide();
    return b;
}

void VmsTile::connectPlayer()
{
    connect(m_player, &FfmpegPlayer::frameReady, this, [this](const QImage& frame) {
        if (!m_running)
            return;
        m_stage->setFrame(frame);
        pictureShown();
    });
    connect(m_player, &FfmpegPlayer::yuvFrameReady, this, [this](std::shared_ptr<const YuvFrame> frame) {
        if (!m_running)
            return;
        m_stage->setYuvFrame(std::move(frame));
        pictureShown();
    });
    connect(m_player, &FfmpegPlayer::position, this, [this](double seconds) {
        if (m_running)
            Q_EMIT position(seconds);
    });
    connect(m_player, &FfmpegPlayer::snapshotReady, this, &VmsTile::saveSnapshot);
    connect(m_player, &FfmpegPlayer::reconnecting, this, [this](int attempt, int total, const QString&) {
        m_wait = Wait::Reconnecting;
        showMessage(QStringLiteral("Reconnecting"), QStringLiteral("Attempt %1 of %2").arg(attempt).arg(total));
    });
    connect(m_player, &FfmpegPlayer::opened, this, &VmsTile::onOpened);
    connect(m_player, &FfmpegPlayer::overloaded, this, &VmsTile::onOverloaded);
    connect(m_player, &FfmpegPlayer::status, this, &VmsTile::onStatus);
    connect(m_stage, &VideoStage::gpuUnavailable, this,
            [this](const QString&) { m_player->controls().yuvOutput.store(false); });
    connect(m_stage, &VideoStage::pixelSizeChanged, this, [this](QSize size) {
        m_player->controls().targetWidth.store(size.width());
        m_player->controls().targetHeight.store(size.height());
    });
}

void VmsTile::storeTargetSize()
{
    const QSize px = VideoStage::devicePixelSize(m_stage->size(), m_stage->devicePixelRatioF());
    m_player->controls().targetWidth.store(px.width());
    m_player->controls().targetHeight.store(px.height());
}

void VmsTile::showMessage(const QString& headline, const QString& detail)
{
    m_showsPicture = false;
    // The message gives way to the name and the controls, never the other
    // way round; whole in the tile's tool tip when it does.
    m_stage->sayWithin(headline, detail);
    nameTheDot();
}

void VmsTile::halt()
{
    m_pacing->stop();
    m_running = false;
    m_watchdog->stop();
    m_pictureTick->stop();
    m_wait = Wait::None;
}

void VmsTile::pictureShown()
{
    m_pictures.picture(kvr::core::Clock::instance().monotonicMs());
    m_wait = Wait::None;
    m_showsPicture = true;
    markPlaying();
}

void VmsTile::watchPictures()
{
    if (!m_running)
        return;
    const qint64 now = kvr::core::Clock::instance().monotonicMs();
    QString headline;
    QString detail;
    switch (m_wait) {
    case Wait::None:
        if (!m_pictures.stopped(now))
            return;
        qCInfo(lcLive).noquote() << "[vms]" << logLabel() << "the picture stopped";
        m_wait = Wait::Stalled;
        [[fallthrough]];
    case Wait::Stalled:
        headline = pictureStoppedHeadline();
        detail = waitedFor(pictureStoppedWords(), now - m_pictures.waitFromMs());
        break;
    case Wait::Loading:
        if (!waitWorthCounting(now - m_startedMs))
            return;
        headline = QStringLiteral("Loading");
        detail = waitedFor(noPictureYetWords(), now - m_startedMs);
        break;
    case Wait::Reconnecting:
        return; // the player's attempts show
    }
    if (headline != m_stage->saidHeadline() || detail != m_stage->saidDetail())
        showMessage(headline, detail);
}

void VmsTile::start(bool main)
{
    m_pacing->stop();
    m_retry->cancel();
    m_fault = TileFault::Failed;
    m_main = main;
    (main ? m_mainButton : m_subButton)->setChecked(true);

    const std::optional<Native::Device> device =
        m_deviceId.isEmpty() ? std::nullopt : NativeStore::instance().device(m_deviceId);
    if (!device) {
        fail(LiveTileRules::removedText());
        return;
    }
    if (m_playback && !NativeBrand::playbackSupported(*device)) {
        fail(NativeBrand::playbackUnsupportedReason(*device), QStringLiteral("Playback isn\u2019t available"));
        return;
    }
    if (LiveTileRules::RefusedTable::instance().blocked(m_deviceId, kvr::core::Clock::instance().monotonicMs())) {
        fail(NativeBrand::explainStreamError(kvr::video::PlayerFailure::Refused, m_playback));
        return;
    }
    const QString url = m_playback ? NativeBrand::playbackUrl(*device, m_channel, main, m_from, m_to)
                                   : NativeBrand::liveUrl(*device, m_channel, main);
    if (url.isEmpty()) {
        fail(LiveTileRules::noAddressText());
        return;
    }

    m_player->stop();
    m_running = true;
    m_host = QUrl(url).host();
    m_player->options().autoReconnect = !m_playback;
    m_player->options().catchUpLive = !m_playback;
    m_watchdog->setInterval(m_playback ? tun::kPlaybackWatchdog : tun::kLiveWatchdog);
    m_playing = false;
    m_failed = false;
    m_dot->setState(NativeStyle::Disc::Unknown);
    m_stage->clear();
    showMessage(QStringLiteral("Loading"), QString());

    storeTargetSize();
    m_watchdog->start();
    m_pictures.reset();
    m_wait = Wait::Loading;
    m_startedMs = kvr::core::Clock::instance().monotonicMs();
    m_pictureTick->start();
    updateButtons();
    m_player->play(url);
}

void VmsTile::startPaced(bool main)
{
    m_pacedMain = main;
    const auto gap = m_playback ? tun::kPlaybackStartGap : tun::kLiveStartGap;
    const int wait = StartPacer::reserve(m_deviceId, int(gap.count()));
    if (wait < 1) {
        m_pacing->stop();
        start(main);
        return;
    }
    m_stage->clear();
    showMessage(QStringLiteral("Loading"), QString());
    // The badge follows at once: a tile waiting its turn says no failure.
    updateButtons();
    m_pacing->start(wait);
}

bool VmsTile::isPacing() const
{
    return m_pacing->isActive();
}

int VmsTile::pacingWaitMs() const
{
    return m_pacing->isActive() ? m_pacing->interval() : 0;
}

void VmsTile::setLive()
{
    m_playback = false;
}

void VmsTile::setPlayback(const QDateTime& from, const QDateTime& to)
{
    m_playback = true;
    m_from = from;
    m_to = to;
}

void VmsTile::stop()
{
    halt();
    m_retry->reset();
    m_player->stop();
}

void VmsTile::requestStop()
{
    halt();
    m_retry->reset();
    m_player->requestStop();
}

void VmsTile::stopAll(const QList<VmsTile*>& tiles)
{
    // Only asked: the players' threads wind down side by side in the
    // background, and a page change or leaving the page never waits for them.
    for (VmsTile* t : tiles) {
        if (t)
            t->requestStop();
    }
}

void VmsTile::showIdle(const QString& headline, const QString& detail)
{
    halt();
    m_retry->reset();
    m_player->stop();
    m_playing = false;
    m_failed = false;
    m_dot->setState(NativeStyle::Disc::Unknown);
    m_stage->clear();
    showMessage(headline, detail);
    updateButtons();
}

void VmsTile::setFpsCap(double fps)
{
    m_player->controls().maxFps.store(fps);
}

void VmsTile::setHardwareDecode(bool on)
{
    m_player->controls().hardwareDecode.store(on && kvr::video::DecodeSettings::hardwareDecodeAllowed());
}

void VmsTile::setFocusedLook(bool focused)
{
    m_focused = focused;
    setProperty("hot", focused);
    NativeStyle::repolish(this);
    m_focusButton->setIcon(Theme::icon(focused ? Theme::Icon::LeaveFullscreen : Theme::Icon::Expand, Qt::white, 18));
    m_focusButton->setToolTip(focusTip(focused));
    m_focusButton->setAccessibleName(focusTip(focused));
    setAccessibleDescription(ItemKeys::keyHint(focusTip(focused)));
}

void VmsTile::setRemovable(bool removable)
{
    m_removable = removable;
    updateButtons();
}

void VmsTile::markPlaying()
{
    if (m_playing)
        return;
    m_playing = true;
    m_failed = false;
    m_retry->playing();
    m_watchdog->stop();
    m_dot->setState(NativeStyle::Disc::Up);
    updateButtons();
}

void VmsTile::fail(const QString& detail, const QString& headline, const QString& cause)
{
    const QString shown = headline.isEmpty() ? LiveTileRules::defaultHeadline() : headline;
    const QString logged = cause.isEmpty() || cause == detail ? detail : QStringLiteral("%1 (%2)").arg(detail, cause);
    qCWarning(lcLive).noquote() << "[vms]" << m_player->property("kvrLabel").toString()
                                << (m_playback ? "(playback)" : "(live)") << (m_main ? "Main:" : "Sub:") << shown << "-"
                                << NativeBrand::redact(logged);
    halt();
    m_player->stop();
    m_failed = true;
    // A camera its recorder reports offline says so, whatever the stream met.
    const std::optional<Native::Device> device =
        m_deviceId.isEmpty() ? std::nullopt : NativeStore::instance().device(m_deviceId);
    const Native::Camera* camera = device ? device->camera(m_channel) : nullptr;
    if (camera && camera->onlineKnown && !camera->online)
        m_fault = TileFault::Offline;
    m_dot->setState(NativeStyle::Disc::Down);
    m_stage->clear();
    showMessage(shown, detail);
    updateButtons();
    // Live, the tile tries again later by itself; a recording is the user's to ask for.
    if (!m_playback)
        m_retry->failed();
}

void VmsTile::toast(const QString& text)
{
    m_toast->setText(text);
    layoutOverlays();
    m_toast->show();
    m_toast->raise();
    m_toastTimer->start(tun::kToastShown);
}

void VmsTile::onStatus(const QString&, const QString& detail)
{
    if (!m_running)
        return;
    const LiveTileRules::StatusOutcome out =
        LiveTileRules::classifyStatus(m_player->lastFailure(), detail, m_playback, m_playing, m_main, m_host);
    switch (out.action) {
    case LiveTileRules::StatusAction::EndOfRecording:
        m_watchdog->stop();
        m_player->stop();
        m_running = false;
        showMessage(out.headline, QString());
        return;
    case LiveTileRules::StatusAction::FallBackToSub:
        qCWarning(lcLive).noquote() << "[vms]" << m_player->property("kvrLabel").toString()
                                    << ": no bandwidth for Main, trying Sub";
        start(false);
        toast(out.toast);
        return;
    case LiveTileRules::StatusAction::Fail:
        m_fault = tileFaultOf(m_player->lastFailure());
        if (out.refused)
            LiveTileRules::RefusedTable::instance().record(m_deviceId, kvr::core::Clock::instance().monotonicMs());
        fail(out.detail, out.headline, out.cause);
        return;
    }
}

void VmsTile::onOverloaded()
{
    if (!m_running)
        return;
    const LiveTileRules::OverloadOutcome out = LiveTileRules::overloadStep(m_main, m_playback);
    if (out.switchToSub) {
        qCWarning(lcLive).noquote() << "[vms]" << m_player->property("kvrLabel").toString()
                                    << ": decoder overloaded on Main, switching to Sub";
        start(false);
    }
    toast(out.toast);
}

void VmsTile::onOpened()
{
    if (!m_running || m_playback)
        return;
    const std::optional<Native::Device> device = NativeStore::instance().device(m_deviceId);
    if (!device)
        return;
    const QString path = NativeBrand::keyFramePath(*device, m_channel, m_main);
    if (path.isEmpty())
        return;
    NativeHttp::put(
        *device, path, QByteArray(), QByteArray(), NativeHttp::Digest, [](const NativeHttp::Response&) {},
        tun::kKeyFrameTimeout);
}

void VmsTile::onWatchdog()
{
    if (m_playing)
        return;
    m_fault = TileFault::NoAnswer;
    fail(LiveTileRules::watchdogText(m_playback));
}

void VmsTile::requestSnapshot()
{
    if (!m_showsPicture) {
        toast(SnapshotFile::kNoPicture);
        return;
    }
    m_player->controls().snapshotRequest.store(true);
}

void VmsTile::saveSnapshot(const QImage& image)
{
    // A name no file has yet: another snapshot of the same second keeps its own.
    const QString path =
        LiveTileRules::freeSnapshotPath(QDir(LiveTileRules::snapshotFolder()), LiveTileRules::snapshotBaseName(m_name),
                                        kvr::core::Clock::instance().nowUtc().toLocalTime());
    const WholeFile::Outcome written = SnapshotFile::save(path, image);
    if (!written.ok())
        qCWarning(lcLive).noquote() << "[vms] snapshot failed:" << path << "(" << written.detail << ")";
    toast(written.ok() ? SnapshotFile::kSaved : SnapshotFile::failedText(written));
}

void VmsTile::restart()
{
    m_retry->reset();
    LiveTileRules::RefusedTable::instance().clear(m_deviceId);
    start(m_main);
}

int VmsTile::discState() const
{
    return int(m_dot->state());
}

void VmsTile::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    layoutOverlays();
    updateButtons();
}

bool VmsTile::showsControls() const
{
    return m_hovered || FocusWithin::has(this);
}

void VmsTile::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    QFrame::enterEvent(event);
    layoutOverlays();
    updateButtons();
}

void VmsTile::leaveEvent(QEvent* event)
{
    m_hovered = false;
    QFrame::leaveEvent(event);
    layoutOverlays();
    updateButtons();
}

void VmsTile::mouseDoubleClickEvent(QMouseEvent* event)
{
    QFrame::mouseDoubleClickEvent(event);
    Q_EMIT expandRequested(this);
}

void VmsTile::keyPressEvent(QKeyEvent* event)
{
    // Only on the tile: a key one of its buttons leaves (Return on a button
    // outside a dialog) comes on to it, and is not for it.
    if (hasFocus() && ItemKeys::opens(event->key(), event->modifiers())) {
        Q_EMIT expandRequested(this);
        return;
    }
    QFrame::keyPressEvent(event);
}

} // namespace kvr::live
