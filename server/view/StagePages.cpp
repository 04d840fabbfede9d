#include "server/view/StagePages.h"

#include "app/core/Settings.h"
#include "app/ui/Fitting.h"
#include "app/ui/FocusWithin.h"
#include "app/ui/Theme.h"
#include "app/ui/TileWord.h"
#include "app/ui/TimelineBar.h"
#include "server/view/ControlBar.h"
#include "server/view/PlayerStop.h"
#include "server/view/PulseDot.h"
#include "server/view/Tunables.h"
#include "video/DecodeSettings.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimeEdit>
#include <QVBoxLayout>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::api;

namespace kvr::view {

namespace {

constexpr int kIcon_px = 20;

// An icon-only button of the stage: its tooltip is also its accessible name.
QPushButton* iconButton(const QString& tooltip, Theme::Icon icon, QWidget* parent)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QStringLiteral("IconBtn"));
    b->setCursor(Qt::PointingHandCursor);
    b->setToolTip(tooltip);
    b->setAccessibleName(tooltip);
    b->setIconSize(QSize(kIcon_px, kIcon_px));
    b->setIcon(Theme::icon(icon, Qt::white, kIcon_px));
    return b;
}

void setIconLook(QPushButton* b, Theme::Icon icon, const QString& tooltip)
{
    b->setIcon(Theme::icon(icon, Qt::white, kIcon_px));
    b->setToolTip(tooltip);
    b->setAccessibleName(tooltip);
}

QPushButton* textButton(const QString& text, const char* objectName, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(objectName));
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

QLabel* mutedLabel(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QStringLiteral("Muted"));
    return l;
}

} // namespace

StagePages::StagePages(QWidget* parent, StreamAccessSource access) : QWidget(parent), m_access(std::move(access))
{
    setObjectName(QStringLiteral("ContentPad"));
    m_hideTimer.setSingleShot(true);
    m_hideTimer.setInterval(tun::kControlsHide);
    buildWidgets();

    m_player = new FfmpegPlayer(this);
    const QSize pixels = VideoStage::devicePixelSize(m_stage->size(), m_stage->devicePixelRatioF());
    m_player->controls().targetWidth = pixels.width();
    m_player->controls().targetHeight = pixels.height();
    m_mainStream = Prefs::get(Prefs::kLiveMain);
    (m_mainStream ? m_mainButton : m_subButton)->setChecked(true);
    m_stage->installEventFilter(this);
    m_bar->installEventFilter(this);
    connectPlayer();
}

StagePages::~StagePages()
{
    // The focus leaves the page's widgets as they go: no longer ours to see.
    disconnect(m_focusWatch);
    stopPlayerNow();
}

void StagePages::buildWidgets()
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(20, 16, 20, 20);
    outer->setSpacing(12);

    // Header: status dot, mode badge, camera title.
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    m_dot = new PulseDot(this);
    m_badge = new QLabel(this);
    m_badge->setObjectName(QStringLiteral("ModeBadge"));
    m_titleLabel = new ElidedLabel(this);
    m_titleLabel->setObjectName(QStringLiteral("StageTitle"));
    header->addWidget(m_dot);
    header->addWidget(m_badge);
    header->addSpacing(4);
    header->addWidget(m_titleLabel, 1);
    outer->addLayout(header);

    // The day card: day, time and speed controls, in groups that move onto
    // a second line when the stage is narrow (a wide catalogue, a small
    // window) rather than squeezing their fields and buttons.
    m_dayCard = new QFrame(this);
    m_dayCard->setObjectName(QStringLiteral("Card"));
    auto* card = new WrapRow(m_dayCard, 16, 8);
    card->setContentsMargins(12, 8, 14, 8);
    auto* dayControls = new QWidget(m_dayCard);
    QHBoxLayout* day = groupRow(dayControls, 8);
    m_prevDay = iconButton(QStringLiteral("Previous day"), Theme::Icon::ChevronLeft, dayControls);
    m_dayPicker = new QDateEdit(dayControls);
    m_dayPicker->setCalendarPopup(true);
    m_dayPicker->setDisplayFormat(QStringLiteral("ddd, dd MMM yyyy"));
    m_dayPicker->setMaximumDate(todayIst());
    m_dayPicker->setDate(todayIst());
    m_dayPicker->setMinimumWidth(170);
    m_dayPicker->setAccessibleName(QStringLiteral("Day"));
    fitToWidestText(m_dayPicker);
    m_nextDay = iconButton(QStringLiteral("Next day"), Theme::Icon::ChevronRight, dayControls);
    m_today = textButton(QStringLiteral("Today"), "Secondary", dayControls);
    m_playFromStart = textButton(QStringLiteral("Play from 00:00"), "Primary", dayControls);
    day->addWidget(m_prevDay);
    day->addWidget(m_dayPicker);
    day->addWidget(m_nextDay);
    day->addWidget(m_today);
    day->addWidget(m_playFromStart);
    card->addLeading(dayControls);

    m_timeControls = new QWidget(m_dayCard);
    QHBoxLayout* time = groupRow(m_timeControls, 6);
    m_back = iconButton(QStringLiteral("Back 1 minute"), Theme::Icon::ChevronLeft, m_timeControls);
    m_forward = iconButton(QStringLiteral("Forward 1 minute"), Theme::Icon::ChevronRight, m_timeControls);
    m_timeEdit = new QTimeEdit(QTime(0, 0), m_timeControls);
    m_timeEdit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    m_timeEdit->setToolTip(QStringLiteral("Jump to a time of day (IST)"));
    m_timeEdit->setAccessibleName(QStringLiteral("Time of day"));
    fitToWidestText(m_timeEdit);
    m_go = textButton(QStringLiteral("Go"), "Secondary", m_timeControls);
    time->addWidget(m_back);
    time->addWidget(mutedLabel(QStringLiteral("1 min"), m_timeControls));
    time->addWidget(m_forward);
    time->addSpacing(6);
    time->addWidget(m_timeEdit);
    time->addWidget(m_go);
    card->addLeading(m_timeControls);

    m_speedControls = new QWidget(m_dayCard);
    QHBoxLayout* speed = groupRow(m_speedControls, 6);
    QLabel* speedLabel = mutedLabel(QStringLiteral("Speed"), m_speedControls);
    m_speedBox = new QComboBox(m_speedControls);
    for (double s : StageRules::playbackSpeeds())
        m_speedBox->addItem(StageRules::speedText(s), s);
    m_speedBox->setToolTip(QStringLiteral("Playback speed. Sound is off above 1×; 8× and 16× show key pictures only, "
                                          "which is how fast-forward stays smooth on any computer."));
    speedLabel->setBuddy(m_speedBox);
    speed->addWidget(speedLabel);
    speed->addWidget(m_speedBox);
    card->addLeading(m_speedControls);
    card->addTrailing(mutedLabel(QStringLiteral("Times are IST"), m_dayCard));
    outer->addWidget(m_dayCard);

    m_stage = new VideoStage(this);
    outer->addWidget(m_stage, 1);
    m_timeline = new TimelineBar(this);
    outer->addWidget(m_timeline);

    // The control strip over the bottom of the picture.
    m_bar = new ControlBar(m_stage);
    m_bar->setFixedHeight(tun::kControlBarHeight_px);
    auto* bar = new QHBoxLayout(m_bar);
    bar->setContentsMargins(18, 30, 18, 12);
    bar->setSpacing(8);
    m_segWrap = new QFrame(m_bar);
    m_segWrap->setObjectName(QStringLiteral("SegWrap"));
    auto* seg = new QHBoxLayout(m_segWrap);
    seg->setContentsMargins(3, 3, 3, 3);
    seg->setSpacing(2);
    m_mainButton = textButton(QStringLiteral("Main"), "Seg", m_segWrap);
    m_subButton = textButton(QStringLiteral("Sub"), "Seg", m_segWrap);
    m_mainButton->setCheckable(true);
    m_subButton->setCheckable(true);
    m_streamGroup = new QButtonGroup(this);
    m_streamGroup->setExclusive(true);
    m_streamGroup->addButton(m_mainButton);
    m_streamGroup->addButton(m_subButton);
    seg->addWidget(m_mainButton);
    seg->addWidget(m_subButton);
    m_pauseButton = iconButton(QStringLiteral("Pause"), Theme::Icon::Pause, m_bar);
    m_timeLabel = new QLabel(QStringLiteral("00:00:00"), m_bar);
    m_timeLabel->setObjectName(QStringLiteral("TimeText"));
    m_retry = textButton(QStringLiteral("Try again"), "Secondary", m_bar);
    m_retry->hide();
    m_snapshotButton = iconButton(QStringLiteral("Save a snapshot"), Theme::Icon::Snapshot, m_bar);
    m_soundButton = iconButton(QStringLiteral("Mute"), Theme::Icon::SoundOn, m_bar);
    m_fullscreenButton = iconButton(QStringLiteral("Full screen"), Theme::Icon::EnterFullscreen, m_bar);
    m_stopButton = iconButton(QStringLiteral("Stop"), Theme::Icon::Stop, m_bar);
    bar->addWidget(m_segWrap);
    bar->addWidget(m_pauseButton);
    bar->addWidget(m_timeLabel);
    bar->addStretch(1);
    bar->addWidget(m_retry);
    bar->addWidget(m_snapshotButton);
    bar->addWidget(m_soundButton);
    bar->addWidget(m_fullscreenButton);
    bar->addWidget(m_stopButton);

    // Controls.
    connect(&m_hideTimer, &QTimer::timeout, this, [this] {
        if (!m_bar->underMouse() && !(m_barByKeys && FocusWithin::has(m_bar)) && m_stage->hasPicture())
            m_bar->setShown(false);
    });
    // The keyboard on the controls shows them, as the pointer over them does,
    // and keeps them while it stays; a click that leaves the focus on a
    // button holds nothing. Each control tells how the focus came to it.
    for (QWidget* control : m_bar->findChildren<QWidget*>())
        control->installEventFilter(this);
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, [this](QWidget* before, QWidget* now) {
        if (m_barByKeys && m_bar->isAncestorOf(before) && !m_bar->isAncestorOf(now)) {
            m_barByKeys = false;
            if (!m_bar->underMouse() && m_stage->hasPicture())
                m_hideTimer.start();
        }
    });
    connect(m_stopButton, &QPushButton::clicked, this, &StagePages::stopPlayback);
    connect(m_fullscreenButton, &QPushButton::clicked, this, [this] { setFullscreen(!m_fullscreen); });
    connect(m_soundButton, &QPushButton::clicked, this, &StagePages::toggleSound);
    connect(m_pauseButton, &QPushButton::clicked, this, &StagePages::togglePause);
    connect(m_mainButton, &QPushButton::clicked, this, [this] { chooseStream(true); });
    connect(m_subButton, &QPushButton::clicked, this, [this] { chooseStream(false); });
    connect(m_retry, &QPushButton::clicked, this, &StagePages::retryLive);
    connect(m_snapshotButton, &QPushButton::clicked, this, &StagePages::saveSnapshot);
    connect(m_speedBox, &QComboBox::activated, this, &StagePages::applySpeed);

    connect(m_dayPicker, &QDateEdit::dateChanged, this, &StagePages::onDayChanged);
    connect(m_prevDay, &QPushButton::clicked, this, [this] { stepDay(-1); });
    connect(m_nextDay, &QPushButton::clicked, this, [this] { stepDay(1); });
    connect(m_today, &QPushButton::clicked, this, &StagePages::goToday);
    connect(m_playFromStart, &QPushButton::clicked, this, [this] { startDay(m_dayPicker->date(), 0); });
    connect(m_back, &QPushButton::clicked, this, [this] { jumpTo(m_playheadSecond - 60); });
    connect(m_forward, &QPushButton::clicked, this, [this] { jumpTo(m_playheadSecond + 60); });
    connect(m_go, &QPushButton::clicked, this, [this] { jumpTo(StageRules::secondOfTime(m_timeEdit->time())); });
    connect(m_timeline, &TimelineBar::seekRequested, this, &StagePages::onTimelineSeek);
    connect(m_dayPicker->calendarWidget(), &QCalendarWidget::currentPageChanged, this, [this](int year, int month) {
        if (m_mode == Mode::DevicePlayback)
            askMonth(year, month);
    });
}

void StagePages::connectPlayer()
{
    connect(m_stage, &VideoStage::activity, this, &StagePages::pokeControls);
    connect(m_stage, &VideoStage::doubleClicked, this, [this] { setFullscreen(!m_fullscreen); });
    connect(m_stage, &VideoStage::gpuUnavailable, this, [this] { m_player->controls().yuvOutput = false; });
    connect(m_stage, &VideoStage::pixelSizeChanged, this, [this](QSize size) {
        m_player->controls().targetWidth = size.width();
        m_player->controls().targetHeight = size.height();
    });
    connect(m_player, &FfmpegPlayer::frameReady, this, [this](const QImage& frame) {
        m_stage->setFrame(frame);
        onPicture();
    });
    connect(m_player, &FfmpegPlayer::yuvFrameReady, this, [this](std::shared_ptr<const YuvFrame> frame) {
        m_stage->setYuvFrame(std::move(frame));
        onPicture();
    });
    connect(m_player, &FfmpegPlayer::reconnecting, this, [this](int attempt, int total, const QString& why) {
        // A stream that stopped moving on held its connection: its picture stopped.
        const bool stopped = m_player->reconnectingFor() == PlayerFailure::Stopped;
        showMessage(stopped ? pictureStoppedHeadline() : QStringLiteral("Reconnecting…"),
                    QStringLiteral("%1 (attempt %2 of %3)").arg(why).arg(attempt).arg(total));
    });
    connect(m_player, &FfmpegPlayer::status, this, &StagePages::onStatus);
    connect(m_player, &FfmpegPlayer::position, this, &StagePages::onPosition);
}

bool StagePages::isOpen() const
{
    return m_player->isRunning();
}

void StagePages::setMode(Mode mode, const QString& title)
{
    m_mode = mode;
    const StageRules::ModeLook look = StageRules::modeLook(mode);
    m_badge->setText(look.badge);
    m_badge->setProperty("mode", look.badgeProperty);
    m_badge->style()->unpolish(m_badge);
    m_badge->style()->polish(m_badge);
    m_dot->setColor(Theme::colour(look.accent));
    m_timeline->setAccent(Theme::colour(look.accent));
    m_dot->setPulsing(look.pulsing);
    m_title = title;
    m_titleLabel->setFullText(title);
    m_player->options().label = title;
    m_player->options().autoReconnect = look.autoReconnect;

    m_segWrap->setVisible(look.mainSub);
    m_dayCard->setVisible(look.playbackControls);
    m_timeControls->setVisible(look.playbackControls);
    m_timeline->setVisible(look.playbackControls);
    m_pauseButton->setVisible(look.playbackControls);
    m_timeLabel->setVisible(look.playbackControls);
    m_playFromStart->setVisible(look.playFromStart);
    m_speedControls->setVisible(look.speeds);
    m_retry->hide();
    // Answers meant for the mode that is left are not taken any more.
    m_months.supersede();
    m_playlists.supersede();
    m_liveUrl.clear();
    m_suspended = false;
}

void StagePages::openLive(const QString& title, const QString& url, bool offline)
{
    setMode(Mode::LiveView, title);
    stopPlayerNow();
    if (offline) {
        showMessage(QStringLiteral("Offline"), title);
        return;
    }
    if (!url.isEmpty()) {
        playUrl(url);
        return;
    }
    beginPlay(QStringLiteral("Opening the camera on the server…"));
}

void StagePages::playUrl(const QString& url)
{
    beginPlay(QStringLiteral("Connecting to the stream…"));
    m_liveUrl = m_mode == Mode::LiveView ? url : QString();
    m_suspended = false;
    m_player->options().live = m_mode == Mode::LiveView;
    play(url, QByteArray(), 0);
}

void StagePages::play(const QString& url, const QByteArray& playlist, double start)
{
    // Decoding and drawing choices apply from the next play on (asking
    // earlier would probe OpenGL before any video is wanted); a stage whose
    // graphics chip failed stays on processor pictures.
    m_player->applyDecodeSettings(kvr::video::DecodeSettings::current(), !m_stage->isGpuDisabled());
    const QSize pixels = VideoStage::devicePixelSize(m_stage->size(), m_stage->devicePixelRatioF());
    m_player->controls().targetWidth = pixels.width();
    m_player->controls().targetHeight = pixels.height();
    const StreamAccess access = m_access ? m_access() : StreamAccess();
    m_player->play(url, access.token, access.origin, playlist, start);
}

void StagePages::stopPlayerNow()
{
    stopPlayer(*m_player);
    m_live.set(false);
}

void StagePages::beginPlay(const QString& text)
{
    m_positionBase = -1;
    m_elapsedOffset = 0;
    setPauseLook(false);
    m_retry->hide();
    showMessage(QStringLiteral("Loading"), text);
}

void StagePages::showMessage(const QString& headline, const QString& detail)
{
    m_playing = false;
    m_live.set(false);
    m_hideTimer.stop();
    m_stage->setMessage(headline, detail);
    m_bar->setShown(true);
}

void StagePages::showError(const QString& headline, const QString& detail, bool retryVisible)
{
    stopPlayerNow();
    m_playlists.supersede();
    showMessage(headline, detail);
    m_retry->setVisible(retryVisible);
}

void StagePages::stopPlayback()
{
    m_suspended = false;
    m_liveUrl.clear();
    m_playlists.supersede();
    stopPlayerNow();
    m_stage->clear();
    m_dot->setPulsing(false);
    setFullscreen(false);
    Q_EMIT stopped();
}

void StagePages::setFullscreen(bool on)
{
    if (on == m_fullscreen)
        return;
    m_fullscreen = on;
    if (on)
        setIconLook(m_fullscreenButton, Theme::Icon::LeaveFullscreen, QStringLiteral("Exit full screen"));
    else
        setIconLook(m_fullscreenButton, Theme::Icon::EnterFullscreen, QStringLiteral("Full screen"));
    Q_EMIT fullscreenToggled(on);
}

void StagePages::setMainStream(bool main)
{
    m_mainStream = main;
    (main ? m_mainButton : m_subButton)->setChecked(true);
}

void StagePages::chooseStream(bool main)
{
    if (main == m_mainStream)
        return;
    m_mainStream = main;
    Q_EMIT streamToggled(main);
}

void StagePages::suspendLive()
{
    if (m_mode != Mode::LiveView || m_suspended || m_liveUrl.isEmpty() || !m_player->isRunning())
        return;
    m_suspended = true;
    stopPlayerNow();
}

void StagePages::resumeLive()
{
    if (!m_suspended)
        return;
    m_suspended = false;
    if (m_mode != Mode::LiveView || m_liveUrl.isEmpty())
        return;
    m_player->options().live = true;
    play(m_liveUrl, QByteArray(), 0);
}

void StagePages::onPicture()
{
    if (m_playing)
        return;
    m_playing = true;
    m_live.set(m_mode == Mode::LiveView);
    m_hideTimer.start();
}

void StagePages::pokeControls()
{
    m_bar->setShown(true);
    if (m_stage->hasPicture())
        m_hideTimer.start();
}

void StagePages::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    pokeControls();
}

bool StagePages::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_stage && event->type() == QEvent::Resize) {
        m_bar->setGeometry(0, m_stage->height() - m_bar->height(), m_stage->width(), m_bar->height());
    } else if (event->type() == QEvent::FocusIn && watched != m_bar && watched->isWidgetType()
               && m_bar->isAncestorOf(static_cast<QWidget*>(watched))) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        m_barByKeys =
            reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
        if (m_barByKeys) {
            m_hideTimer.stop();
            m_bar->setShown(true);
        }
    } else if (watched == m_bar) {
        if (event->type() == QEvent::Enter)
            m_hideTimer.stop();
        else if (event->type() == QEvent::Leave && m_stage->hasPicture())
            m_hideTimer.start();
    }
    return QWidget::eventFilter(watched, event);
}

void StagePages::onStatus(const QString& headline, const QString& detail)
{
    const StageRules::StatusView view = StageRules::statusView(m_mode, headline, detail, m_player->lastFailure());
    showMessage(view.headline, view.detail);
    m_retry->setVisible(view.retry);
}

void StagePages::toggleSound()
{
    const bool muted = !m_player->controls().muted.load();
    m_player->controls().muted = muted;
    if (muted)
        setIconLook(m_soundButton, Theme::Icon::SoundOff, QStringLiteral("Unmute"));
    else
        setIconLook(m_soundButton, Theme::Icon::SoundOn, QStringLiteral("Mute"));
}

void StagePages::togglePause()
{
    const bool paused = !m_player->controls().paused.load();
    m_player->pause(paused);
    setPauseLook(paused);
}

void StagePages::setPauseLook(bool paused)
{
    if (paused)
        setIconLook(m_pauseButton, Theme::Icon::Play, QStringLiteral("Play"));
    else
        setIconLook(m_pauseButton, Theme::Icon::Pause, QStringLiteral("Pause"));
}

void StagePages::applySpeed()
{
    const double speed = m_speedBox->currentData().toDouble();
    const StageRules::SpeedEffect effect = StageRules::speedEffect(speed);
    m_player->options().rate = effect.rate;
    m_player->controls().keyframesOnly = effect.keyframesOnly;
    m_soundButton->setEnabled(effect.soundEnabled);
    if (m_mode != Mode::CloudPlayback || !m_player->isRunning())
        return;
    // The player takes a new rate from its next start.
    if (!m_playlist.segments.isEmpty())
        startCloudFrom(m_playheadSecond);
    else
        startDay(m_dayPicker->date(), m_playheadSecond);
}

} // namespace kvr::view
