#include "server/view/CameraTile.h"

#include "app/context/AppContext.h"
#include "app/core/Clock.h"
#include "app/core/Settings.h"
#include "app/ui/Fitting.h"
#include "app/ui/FocusWithin.h"
#include "app/ui/ItemKeys.h"
#include "app/ui/NamesApart.h"
#include "app/ui/Theme.h"
#include "app/ui/TileWord.h"
#include "server/api/LiveStreamService.h"
#include "server/view/CameraTileRules.h"
#include "server/view/Logging.h"
#include "server/view/PlayerStop.h"
#include "server/view/PulseDot.h"
#include "server/view/Snapshot.h"
#include "server/view/Tunables.h"
#include "video/DecodeSettings.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"
#include "wall/TileRetry.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::wall;
using namespace kvr::api;
using namespace kvr::context;

namespace kvr::view {

namespace {

const QString kLoading = QStringLiteral("Loading");
const QString kListenTip = QStringLiteral("Listen to this camera");
const QString kMuteTip = QStringLiteral("Mute this camera");
const QString kExpandTip = QStringLiteral("Fill the wall with this camera");
const QString kBackTip = QStringLiteral("Back to the wall");

// Overlay icons are painted once per kind and colour: a page of 36 tiles
// would otherwise paint 180 of them while the page is built.
QIcon overlayIcon(Theme::Icon kind, const QColor& colour)
{
    static QHash<QPair<int, QRgb>, QIcon> cache;
    const QPair<int, QRgb> key(int(kind), colour.rgba());
    auto it = cache.constFind(key);
    if (it == cache.constEnd())
        it = cache.insert(key, Theme::icon(kind, colour, tun::kOverlayIcon_px));
    return *it;
}

} // namespace

CameraTile::CameraTile(const QString& cameraId, const QString& title, bool offline, QWidget* parent,
                       LiveStreamService* streams)
    : QFrame(parent),
      m_cameraId(cameraId),
      m_title(title),
      m_offline(offline),
      m_streams(streams ? streams : &AppContext::instance().api)
{
    setObjectName(QStringLiteral("Tile"));
    setMouseTracking(true);
    setAccessibleName(title);
    setAccessibleDescription(ItemKeys::keyHint(kExpandTip));
    FocusWithin::watch(this, [this] {
        if (FocusWithin::has(this))
            ensureOverlays();
        layoutOverlays();
        updateButtons();
    });
    m_useMain = m_checkedMain = Prefs::get(Prefs::kGridMain);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    m_stage = new VideoStage(this);
    m_stage->setMinimumHeight(60);
    m_stage->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(m_stage);

    m_badge = new QWidget(this);
    m_badge->setObjectName(QStringLiteral("TileBadge"));
    m_badge->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_badge->setAttribute(Qt::WA_StyledBackground);
    auto* badge = new QHBoxLayout(m_badge);
    badge->setContentsMargins(8, 3, 10, 3);
    badge->setSpacing(4);
    m_dot = new PulseDot(m_badge);
    m_dot->setFixedSize(14, 14);
    // The dot lies over the picture: it steps with the pictures (below).
    m_dot->setPace(PulseDot::Pace::OwnerSteps);
    m_nameLabel = new QLabel(title, m_badge);
    m_nameLabel->setObjectName(QStringLiteral("TileName"));
    m_stateLabel = new QLabel(m_badge);
    m_stateLabel->setObjectName(QStringLiteral("TileState"));
    m_stateLabel->hide();
    badge->addWidget(m_dot);
    badge->addWidget(m_stateLabel);
    badge->addWidget(m_nameLabel);

    m_toastTimer.setSingleShot(true);
    m_waitTimer.setInterval(tun::kTileWaitTick);
    connect(&m_waitTimer, &QTimer::timeout, this, &CameraTile::waitTick);

    // The player: no sound until listened to, light decoding, kept at the live edge.
    m_player = new FfmpegPlayer(this);
    FfmpegPlayer::Options& options = m_player->options();
    options.audioEnabled = false;
    options.autoReconnect = true;
    options.catchUpLive = true;
    options.lightDecode = true;
    options.label = QStringLiteral("%1 #%2").arg(title, cameraId);
    sizePlayer();

    connect(m_player, &FfmpegPlayer::audioTrack, this, [this](bool present) {
        m_hasAudio = present;
        updateButtons();
    });
    connect(m_player, &FfmpegPlayer::overloaded, this, &CameraTile::overloaded);
    connect(m_stage, &VideoStage::pixelSizeChanged, this, [this](QSize size) {
        if (!m_player)
            return;
        m_player->controls().targetWidth = size.width();
        m_player->controls().targetHeight = size.height();
    });
    connect(m_player, &FfmpegPlayer::snapshotReady, this, &CameraTile::saveSnapshot);
    connect(m_player, &FfmpegPlayer::yuvFrameReady, m_stage, &VideoStage::setYuvFrame);
    connect(m_player, &FfmpegPlayer::yuvFrameReady, m_dot, &PulseDot::step);
    connect(m_player, &FfmpegPlayer::frameReady, m_dot, &PulseDot::step);
    connect(m_stage, &VideoStage::gpuUnavailable, this, [this] {
        if (m_player)
            m_player->controls().yuvOutput = false;
    });
    connect(m_player, &FfmpegPlayer::frameReady, m_stage, &VideoStage::setFrame);
    m_retry = new VideoWall::TileRetry(this);
    m_retry->setLabel(options.label);
    connect(m_player, &FfmpegPlayer::frameReady, m_retry, &VideoWall::TileRetry::playing);
    connect(m_player, &FfmpegPlayer::yuvFrameReady, m_retry, &VideoWall::TileRetry::playing);
    connect(m_player, &FfmpegPlayer::frameReady, this, &CameraTile::pictureShown);
    connect(m_player, &FfmpegPlayer::yuvFrameReady, this, &CameraTile::pictureShown);
    // The player's attempt count is not what a person sees happen: one
    // attempt may open the stream many times, for minutes on a silent path.
    // A stream that stopped moving on (its connection held) is a picture
    // that stopped, counted from the last one, not a dropped connection.
    connect(m_player, &FfmpegPlayer::reconnecting, this, [this](int, int, const QString& why) {
        if (m_player->reconnectingFor() == PlayerFailure::Stopped)
            beginWait(CameraTileRules::Waiting::Stalled);
        else
            beginWait(CameraTileRules::Waiting::Reconnecting, why);
    });
    connect(m_player, &FfmpegPlayer::status, this, [this](const QString& headline, const QString& detail) {
        const qint64 now = Clock::instance().monotonicMs();
        endWait();
        setShowing(false);
        m_fault = tileFaultOf(m_player->lastFailure());
        m_dot->setPulsing(false);
        const bool stopped = m_player->lastFailure() == PlayerFailure::Stopped && m_pictures.hadPicture();
        say(headline, stopped ? CameraTileRules::stoppedDetail(now - m_pictures.waitFromMs()) : detail);
        m_failed = true;
        updateButtons();
        if (m_started)
            m_retry->failed();
    });

    if (m_streams) {
        connect(m_streams, &LiveStreamService::streamNeedsRestart, this, [this](const QString& id) {
            if (owner.isEmpty() && id == m_cameraId && m_started && !m_offline)
                restart();
        });
        connect(m_streams, &LiveStreamService::ownedStreamNeedsRestart, this,
                [this](const QString& who, const QString& id) {
                    if (!owner.isEmpty() && who == owner && id == m_cameraId && m_started && !m_offline)
                        restart();
                });
    }
    // Its name is told apart from the tiles beside it: fitted again as they
    // come, go or show (and what it says of itself with it), not only when
    // the pointer passes.
    refitWithSiblings(this, [this] {
        layoutOverlays();
        updateButtons();
    });
}

CameraTile::~CameraTile()
{
    if (m_player)
        stopPlayer(*m_player);
}

QPushButton* CameraTile::overlayButton(const QString& tooltip, int iconKind)
{
    auto* b = new QPushButton(this);
    b->setObjectName(QStringLiteral("IconBtn"));
    b->setFixedSize(tun::kOverlayButton_px, tun::kOverlayButton_px);
    b->setIconSize(QSize(tun::kOverlayIcon_px, tun::kOverlayIcon_px));
    b->setIcon(overlayIcon(Theme::Icon(iconKind), Qt::white));
    b->setToolTip(tooltip);
    b->setAccessibleName(tooltip);
    b->setCursor(Qt::PointingHandCursor);
    b->hide();
    return b;
}

void CameraTile::ensureOverlays()
{
    if (m_removeButton)
        return;
    // Made when first needed (the mouse, a failure, listening): a page of
    // 36 tiles is built and polished faster without ten hidden widgets each.
    m_listenButton = overlayButton(kListenTip, int(Theme::Icon::SoundOff));
    m_snapshotButton = overlayButton(QStringLiteral("Save a snapshot"), int(Theme::Icon::Snapshot));
    m_expandButton = overlayButton(kExpandTip, int(Theme::Icon::Expand));
    m_openButton = overlayButton(QStringLiteral("Open full view (with sound)"), int(Theme::Icon::EnterFullscreen));
    m_removeButton = overlayButton(QStringLiteral("Remove from this wall"), int(Theme::Icon::Close));

    m_qualityBox = new QFrame(this);
    m_qualityBox->setObjectName(QStringLiteral("SegWrap"));
    auto* seg = new QHBoxLayout(m_qualityBox);
    seg->setContentsMargins(2, 2, 2, 2);
    seg->setSpacing(1);
    auto* group = new QButtonGroup(m_qualityBox);
    group->setExclusive(true);
    for (QPushButton** b : {&m_mainButton, &m_subButton}) {
        *b = new QPushButton(b == &m_mainButton ? QStringLiteral("Main") : QStringLiteral("Sub"), m_qualityBox);
        (*b)->setObjectName(QStringLiteral("Seg"));
        (*b)->setCheckable(true);
        (*b)->setCursor(Qt::PointingHandCursor);
        group->addButton(*b);
        seg->addWidget(*b);
    }
    (m_checkedMain ? m_mainButton : m_subButton)->setChecked(true);
    m_qualityBox->hide();

    m_retryButton = new QPushButton(QStringLiteral("Retry"), this);
    m_retryButton->setObjectName(QStringLiteral("Secondary"));
    m_retryButton->setCursor(Qt::PointingHandCursor);
    m_retryButton->hide();
    FocusWithin::tabAfter(this,
                          {m_listenButton, m_snapshotButton, m_expandButton, m_openButton, m_removeButton, m_mainButton,
                           m_subButton, m_retryButton});

    connect(m_listenButton, &QPushButton::clicked, this, [this] {
        const bool on = !isListening();
        setListening(on);
        Q_EMIT listenToggled(m_cameraId, on);
    });
    connect(m_snapshotButton, &QPushButton::clicked, this, &CameraTile::snapshot);
    connect(m_expandButton, &QPushButton::clicked, this, [this] { Q_EMIT expandRequested(this); });
    connect(m_openButton, &QPushButton::clicked, this, [this] { Q_EMIT openRequested(m_cameraId); });
    connect(m_removeButton, &QPushButton::clicked, this, [this] { Q_EMIT removeRequested(m_cameraId); });
    connect(m_mainButton, &QPushButton::clicked, this, [this] { chooseQuality(true); });
    connect(m_subButton, &QPushButton::clicked, this, [this] { chooseQuality(false); });
    connect(m_retryButton, &QPushButton::clicked, this, &CameraTile::restart);
    showListening(isListening());
    layoutOverlays();
}

void CameraTile::ensureToast()
{
    if (m_toastLabel)
        return;
    m_toastLabel = new QLabel(this);
    m_toastLabel->setObjectName(QStringLiteral("TileBadge"));
    m_toastLabel->hide();
    connect(&m_toastTimer, &QTimer::timeout, m_toastLabel, &QLabel::hide);
}

void CameraTile::showListening(bool on)
{
    if (!m_listenButton)
        return;
    const QString tip = on ? kMuteTip : kListenTip;
    m_listenButton->setIcon(on ? overlayIcon(Theme::Icon::SoundOn, Theme::colour(Theme::Colour::Accent))
                               : overlayIcon(Theme::Icon::SoundOff, Qt::white));
    m_listenButton->setToolTip(tip);
    m_listenButton->setAccessibleName(tip);
}

void CameraTile::sizePlayer()
{
    if (!m_player)
        return;
    const QSize pixels = VideoStage::devicePixelSize(m_stage->size(), m_stage->devicePixelRatioF());
    m_player->controls().targetWidth = pixels.width();
    m_player->controls().targetHeight = pixels.height();
}

void CameraTile::start(std::function<void()> done, DoneWhen when)
{
    m_retry->cancel();
    endWait();
    m_started = true;
    m_failed = false;
    setShowing(false);
    m_fault = TileFault::Failed;
    if (m_retryButton)
        m_retryButton->hide();
    if (m_offline) {
        showFailure(QString(), true);
        if (done)
            done();
        return;
    }
    say(kLoading, QString());
    m_dot->setColor(Theme::colour(Theme::Colour::Live));
    // The badge and the buttons follow at once: a tile trying again says no
    // failure while it waits for the server's answer.
    updateButtons();
    if (!m_streams) { // the server client is gone: nothing can be asked
        showFailure(QString(), false);
        if (done)
            done();
        return;
    }
    const RequestTicket attempt = m_startAttempts.issue();
    // No context object: the continuation must run even when the tile is gone.
    m_streams->startLiveHls(
        m_cameraId, m_useMain,
        [this, done = std::move(done), attempt, when](const StreamInfo& info, const QString& error) {
            if (done && when == DoneWhen::Answered)
                done();
            if (attempt.current() && m_started && !info.superseded) {
                if (info.url.isEmpty()) {
                    m_fault = CameraTileRules::faultOf(false, info.failure);
                    showFailure(error, info.failure == ApiFailure::Offline);
                } else {
                    m_dot->setPulsing(true);
                    m_url = info.url;
                    sizePlayer();
                    if (!m_suspended)
                        play();
                }
            }
            if (done && when == DoneWhen::Shown)
                done();
        },
        owner);
}

void CameraTile::play()
{
    if (!m_player)
        return;
    // Decoding and drawing choices apply from the next play on; asking
    // earlier would probe OpenGL before any video is wanted.
    m_player->applyDecodeSettings(kvr::video::DecodeSettings::current(), !m_stage->isGpuDisabled());
    const StreamAccess access = AppContext::instance().api.streamAccess();
    m_player->play(m_url, access.token, access.origin, QByteArray(), 0.0);
    m_pictures.reset();
    beginWait(CameraTileRules::Waiting::Opening);
}

void CameraTile::setShowing(bool on)
{
    m_showing = on;
    m_live.set(on);
}

void CameraTile::beginWait(CameraTileRules::Waiting what, const QString& why)
{
    // A stream being opened counts from now; one whose picture stopped from
    // its last picture, however late the player noticed; one that never
    // showed a picture from its hand-over.
    const qint64 now = Clock::instance().monotonicMs();
    if (what == CameraTileRules::Waiting::Opening)
        m_waitSinceMs = now;
    else if (m_pictures.hadPicture())
        m_waitSinceMs = m_pictures.waitFromMs();
    else if (!m_waiting)
        m_waitSinceMs = now;
    setShowing(false);
    m_waiting = what;
    m_waitWhy = why;
    if (!m_waitTimer.isActive())
        m_waitTimer.start();
    if (what != CameraTileRules::Waiting::Opening) {
        const CameraTileRules::WaitView view = CameraTileRules::waitView(what, why, now - m_waitSinceMs);
        say(view.headline, view.detail);
    }
}

void CameraTile::endWait()
{
    m_waiting.reset();
    m_waitTimer.stop();
}

void CameraTile::pictureShown()
{
    m_pictures.picture(Clock::instance().monotonicMs());
    if (m_showing)
        return;
    setShowing(true);
    m_waiting.reset(); // the ticks go on: they watch the pictures too
    Q_EMIT showingPictures();
}

void CameraTile::waitTick()
{
    const qint64 now = Clock::instance().monotonicMs();
    if (!m_waiting) {
        if (!m_showing || !m_pictures.stopped(now))
            return;
        qCInfo(lcView).noquote() << "[wall]" << m_player->options().label << "the picture stopped";
        beginWait(CameraTileRules::Waiting::Stalled);
    }
    const CameraTileRules::WaitView view = CameraTileRules::waitView(*m_waiting, m_waitWhy, now - m_waitSinceMs);
    if (!view.giveUp) {
        if (view.headline != m_stage->saidHeadline() || view.detail != m_stage->saidDetail())
            say(view.headline, view.detail);
        return;
    }
    qCInfo(lcView).noquote() << "[wall]" << m_player->options().label << "no picture in time; trying again later";
    endWait();
    stopPlayer(*m_player);
    // Nothing came in time, whatever the player would say of its last try.
    m_fault = TileFault::NoAnswer;
    showFailure(view.detail, false);
}

void CameraTile::release()
{
    const bool wasStarted = m_started;
    endWait();
    setShowing(false);
    m_started = false;
    m_suspended = false;
    m_url.clear();
    m_dot->setPulsing(false);
    m_retry->reset();
    if (wasStarted && !m_offline && m_streams)
        m_streams->stopLiveCamera(m_cameraId, owner);
}

void CameraTile::stop()
{
    if (m_player)
        stopPlayer(*m_player);
    release();
}

void CameraTile::stopTiles(const QList<CameraTile*>& tiles)
{
    QList<FfmpegPlayer*> players;
    for (CameraTile* t : tiles) {
        if (t)
            players << t->m_player;
    }
    stopPlayers(players);
    for (CameraTile* t : tiles) {
        if (t)
            t->release();
    }
}

void CameraTile::discardTiles(const QList<CameraTile*>& tiles)
{
    QList<FfmpegPlayer*> players;
    for (CameraTile* t : tiles) {
        if (!t)
            continue;
        t->release();
        players << t->m_player;
        t->m_player = nullptr;
        t->hide();
        t->deleteLater();
    }
    retirePlayers(players);
}

void CameraTile::restart()
{
    stop();
    start();
}

void CameraTile::suspend()
{
    if (!m_started || m_suspended)
        return;
    m_suspended = true;
    endWait();
    setShowing(false);
    if (m_player)
        stopPlayer(*m_player);
}

void CameraTile::resume()
{
    if (!m_suspended)
        return;
    m_suspended = false;
    if (!m_started || m_offline || m_url.isEmpty())
        return;
    sizePlayer();
    play();
}

void CameraTile::setInitialQuality(bool main)
{
    m_useMain = main;
    m_checkedMain = main;
    if (m_mainButton)
        (main ? m_mainButton : m_subButton)->setChecked(true);
}

void CameraTile::setQuality(bool main)
{
    if (main == m_useMain)
        return;
    m_useMain = main;
    if (m_started && !m_offline)
        restart();
}

void CameraTile::chooseQuality(bool main)
{
    // The user's click: the half already held does nothing.
    setQuality(main);
}

void CameraTile::setListening(bool on)
{
    if (!m_player)
        return;
    m_player->controls().listen = on;
    showListening(on);
    updateButtons();
}

bool CameraTile::isListening() const
{
    return m_player && m_player->controls().listen.load();
}

void CameraTile::setSelected(bool on)
{
    setProperty("selected", on);
    style()->unpolish(this);
    style()->polish(this);
}

void CameraTile::showFailure(const QString& detail, bool offline)
{
    endWait();
    setShowing(false);
    m_dot->setPulsing(false);
    m_dot->setColor(Theme::colour(Theme::Colour::Muted));
    m_failed = true;
    if (offline)
        m_fault = TileFault::Offline;
    say(offline ? QStringLiteral("Offline") : QStringLiteral("Can’t play this stream"), detail);
    updateButtons();
    // A camera the catalogue knows to be offline is never asked for; any
    // other failure of a started tile is tried again later.
    if (m_started && !m_offline)
        m_retry->failed();
}

void CameraTile::toast(const QString& text)
{
    ensureToast();
    m_toastLabel->setText(text);
    layoutOverlays();
    m_toastLabel->show();
    m_toastLabel->raise();
    m_toastTimer.start(tun::kToast);
}

void CameraTile::snapshot()
{
    if (!m_stage->hasPicture() || !m_player) {
        toast(snapshot::kNoPicture);
        return;
    }
    m_player->controls().snapshotRequest = true;
}

void CameraTile::saveSnapshot(const QImage& image)
{
    const snapshot::Outcome out = snapshot::save(image, m_title, snapshot::liveStamp(snapshot::localNow()));
    toast(out.said);
    if (!out.saved)
        qCWarning(lcView).noquote() << QStringLiteral("[snapshot] failed: ") + out.path << "(" + out.detail + ")";
}

CameraTileRules::Overlays CameraTile::overlays() const
{
    CameraTileRules::TileState state;
    state.width = width();
    state.hovered = showsControls();
    state.inVideoWall = inVideoWall;
    state.hasAudio = m_hasAudio;
    state.listening = isListening();
    state.offline = m_offline;
    state.failed = m_failed;
    state.height = height();
    return CameraTileRules::overlaysShown(state);
}

void CameraTile::updateButtons()
{
    // Enter on the tile does what its expand button does.
    setAccessibleDescription(ItemKeys::keyHint(m_expanded ? kBackTip : kExpandTip));
    CameraTileRules::Overlays shown = overlays();
    if (shown.quality && shown.retry && m_qualityBox
        && !CameraTileRules::switchBesideRetry(width(), m_qualityBox->sizeHint().width()))
        shown.quality = false;
    if (!m_removeButton) {
        if (!(shown.remove || shown.open || shown.expand || shown.snapshot || shown.listen || shown.quality
              || shown.retry)) {
            m_stage->fitMessage();
            updateState();
            return;
        }
        ensureOverlays();
    }
    m_removeButton->setVisible(shown.remove);
    m_openButton->setVisible(shown.open);
    m_expandButton->setVisible(shown.expand);
    m_snapshotButton->setVisible(shown.snapshot);
    m_listenButton->setVisible(shown.listen);
    m_qualityBox->setVisible(shown.quality);
    m_retryButton->setVisible(shown.retry);
    for (QWidget* w : std::initializer_list<QWidget*>{m_removeButton, m_openButton, m_expandButton, m_snapshotButton,
                                                      m_listenButton, m_qualityBox, m_retryButton, m_toastLabel}) {
        if (w)
            w->raise();
    }
    const QString expandTip = m_expanded ? kBackTip : kExpandTip;
    m_expandButton->setToolTip(expandTip);
    m_expandButton->setAccessibleName(expandTip);
    // Overlays that come and go change the room the message has.
    m_stage->fitMessage();
    updateState();
}

void CameraTile::updateState()
{
    // Where the picture has room to say what failed it says it; elsewhere
    // the badge does, in a word, in place of the dot, where the name beside
    // it still keeps what tells the tile from its neighbours (a wall of 120
    // failed tiles reading "No answer" alike tells nothing). Where the
    // buttons along the top leave the badge too little room for both, the
    // dot stands for the word.
    m_stateLabel->ensurePolished();
    const int room =
        CameraTileRules::nameWidth(CameraTileRules::nameRight(width(), overlays()), width()) + m_dot->width();
    const auto roomForBoth = [&] {
        const int word = m_stateLabel->fontMetrics().horizontalAdvance(tileFaultWord(m_fault));
        const int name =
            std::max(tun::kNameLeast_px,
                     leastApartWidth(m_title, siblingTitles(), QFontMetrics(m_nameLabel->font()), m_wallTitles));
        return word + name <= room;
    };
    const bool say = m_failed && !m_stage->hasPicture() && m_stage->messageLines().isEmpty() && roomForBoth();
    if (showFaultWord(m_stateLabel, m_dot, say, m_fault))
        layoutOverlays();
}

void CameraTile::setWallTitles(const QStringList& titles)
{
    m_wallTitles = titles;
    layoutOverlays();
}

QStringList CameraTile::siblingTitles() const
{
    QStringList out;
    if (const QWidget* holder = parentWidget())
        for (const CameraTile* t : holder->findChildren<CameraTile*>(Qt::FindDirectChildrenOnly))
            if (t != this && standsBeside(*t))
                out << t->m_title;
    return out;
}

void CameraTile::say(const QString& headline, const QString& detail)
{
    // In place of any picture; the message gives way to the name and the
    // buttons, never the other way round.
    m_stage->sayWithin(headline, detail);
}

void CameraTile::layoutOverlays()
{
    const int w = width();
    const int h = height();
    const QFontMetrics metrics(m_nameLabel->font());
    // A narrow tile's badge is tighter; it never reaches past the tile.
    const CameraTileRules::Strip strip = CameraTileRules::stripFor(w);
    if (auto* row = m_badge->layout(); row->contentsMargins() != strip.margins) {
        row->setContentsMargins(strip.margins);
        row->setSpacing(strip.spacing);
        m_dot->setFixedSize(strip.dot, strip.dot);
    }
    int room = CameraTileRules::nameWidth(CameraTileRules::nameRight(w, overlays()), w);
    // The failure's word stands in place of the dot (updateState leaves the
    // name its room beside it); a tile too small for a name's least is read
    // in its tool tip.
    m_stateLabel->ensurePolished();
    if (!m_stateLabel->isHidden())
        room += m_dot->width() - m_stateLabel->sizeHint().width();
    m_nameLabel->setVisible(room >= tun::kNameLeast_px);
    // Beside other tiles (and the cameras of the wall's other pages), what
    // tells this one apart stays.
    const QStringList siblings = siblingTitles();
    const bool apart = !m_wallTitles.isEmpty()
        || std::any_of(siblings.cbegin(), siblings.cend(), [this](const QString& t) { return t != m_title; });
    const QString name =
        apart ? fitApart(m_title, siblings, metrics, room, m_wallTitles) : fitCameraTitle(m_title, metrics, room);
    m_nameLabel->setText(name);
    m_nameLabel->setToolTip(name == m_title ? QString() : m_title);
    m_nameLabel->setAccessibleDescription(name == m_title ? QString() : m_title);
    m_badge->adjustSize();
    m_badge->move(strip.inset, strip.inset);

    if (m_removeButton) {
        const CameraTileRules::OverlayPlaces at = CameraTileRules::overlayPlaces(w);
        m_removeButton->move(at.remove);
        m_openButton->move(at.open);
        m_listenButton->move(at.listen);
        if (CameraTileRules::isWide(w)) {
            m_expandButton->move(at.expand);
            m_snapshotButton->move(at.snapshot);
        }
        m_qualityBox->adjustSize();
        m_qualityBox->move(w - m_qualityBox->width() - 8, h - m_qualityBox->height() - 8);
        m_retryButton->setGeometry(
            CameraTileRules::retryRect(w, h, std::max(30, m_retryButton->minimumSizeHint().height())));
    }
    if (m_toastLabel) {
        m_toastLabel->adjustSize();
        m_toastLabel->move(8, h - m_toastLabel->height() - 8);
    }
}

void CameraTile::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    layoutOverlays();
    updateButtons();
}

bool CameraTile::showsControls() const
{
    return m_hovered || FocusWithin::has(this);
}

void CameraTile::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    layoutOverlays();
    updateButtons();
    QFrame::enterEvent(event);
}

void CameraTile::leaveEvent(QEvent* event)
{
    m_hovered = false;
    // The title gets back the room the buttons took, as entering gave it up.
    layoutOverlays();
    updateButtons();
    QFrame::leaveEvent(event);
}

void CameraTile::mousePressEvent(QMouseEvent* event)
{
    Q_EMIT clicked(m_cameraId);
    QFrame::mousePressEvent(event);
}

void CameraTile::mouseDoubleClickEvent(QMouseEvent* event)
{
    Q_EMIT expandRequested(this);
    QFrame::mouseDoubleClickEvent(event);
}

void CameraTile::keyPressEvent(QKeyEvent* event)
{
    // Only on the tile: a key one of its buttons leaves (Return on a button
    // outside a dialog) comes on to it, and is not for it.
    if (hasFocus() && ItemKeys::opens(event->key(), event->modifiers())) {
        Q_EMIT expandRequested(this);
        return;
    }
    QFrame::keyPressEvent(event);
}

} // namespace kvr::view
