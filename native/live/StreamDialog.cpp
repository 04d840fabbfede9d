#include "native/live/StreamDialog.h"

#include "app/core/TextDirection.h"
#include "app/ui/EnterButton.h"
#include "app/ui/Modal.h"
#include "app/ui/ScreenFit.h"
#include "native/live/LiveTileRules.h"
#include "native/live/Logging.h"
#include "native/live/Tunables.h"
#include "native/screens/NativeUi.h"
#include "native/services/Brands.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"
#include "video/DecodeSettings.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::services;
using namespace kvr::screens;

namespace kvr::live {

namespace {
const char kBarButtonStyle[] =
    "QPushButton { background: rgba(255,255,255,0.10); color: #ffffff; border: 1px solid rgba(255,255,255,0.25); "
    "border-radius: 8px; min-height: 32px; max-height: 32px; padding: 0 14px; font-weight: 500; }"
    "QPushButton:hover { background: rgba(255,255,255,0.18); }"
    "QPushButton:checked { background: #ffffff; color: #111111; border-color: #ffffff; }";

QPushButton* barButton(const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setCursor(Qt::PointingHandCursor);
    b->setStyleSheet(QString::fromLatin1(kBarButtonStyle));
    return b;
}
} // namespace

StreamDialog::StreamDialog(const QString& heading, const QString& deviceName, UrlFor urlFor, bool live, QWidget* parent)
    : QDialog(parent),
      m_urlFor(std::move(urlFor)),
      m_live(live)
{
    setWindowTitle(QStringLiteral("%1 \u00b7 %2")
                       .arg(kvr::core::TextDirection::isolate(heading), kvr::core::TextDirection::isolate(deviceName)));
    ScreenFit::keepWithin(this, QSize(800, 520));
    resize(ScreenFit::bounded(this, QSize(960, 600)));
    setStyleSheet(QStringLiteral("QDialog { background: #000000; }"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_stage = new VideoStage(this);
    m_stage->setCornerRadius(0);
    column->addWidget(m_stage, 1);

    auto* bar = new QWidget(this);
    bar->setStyleSheet(QStringLiteral("background: #101214;"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 8, 16, 8);
    row->setSpacing(8);
    auto* title = new QLabel(heading, bar);
    title->setStyleSheet(QStringLiteral("color: #ffffff; font-size: 14px; font-weight: 600; background: transparent;"));
    auto* kind = new QLabel(live ? QStringLiteral("Live") : QStringLiteral("Device"), bar);
    kind->setStyleSheet(QStringLiteral("color: rgba(255,255,255,0.7); font-size: 12px; background: transparent;"));
    row->addWidget(title);
    row->addWidget(kind);
    row->addStretch(1);
    m_retry = barButton(QStringLiteral("Try again"), bar);
    m_retry->hide();
    connect(m_retry, &QPushButton::clicked, this, &StreamDialog::start);
    row->addWidget(m_retry);
    if (live) {
        m_subButton = barButton(QStringLiteral("Sub"), bar);
        m_mainButton = barButton(QStringLiteral("Main"), bar);
        m_subButton->setCheckable(true);
        m_mainButton->setCheckable(true);
        m_subButton->setChecked(true);
        m_subButton->setAccessibleName(QStringLiteral("Sub stream"));
        m_mainButton->setAccessibleName(QStringLiteral("Main stream"));
        connect(m_subButton, &QPushButton::clicked, this, [this] { selectStream(false); });
        connect(m_mainButton, &QPushButton::clicked, this, [this] { selectStream(true); });
        row->addWidget(m_subButton);
        row->addWidget(m_mainButton);
    }
    m_close = barButton(live ? QStringLiteral("Stop") : QStringLiteral("Close"), bar);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    row->addWidget(m_close);
    column->addWidget(bar);
    // Enter tries again once playing failed; until then it does nothing (the
    // stream buttons and Stop want a click or Space of their own).
    kvr::ui::setEnterButton(this, m_retry);

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(tun::kDialogWatchdog);
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (!m_hadPicture)
            fail(LiveTileRules::watchdogText(false));
    });

    m_player = new FfmpegPlayer(this);
    m_player->options().boundedClose = true;
    m_player->options().openAttempts = tun::kTileOpenAttempts;
    m_player->options().label = heading;
    m_player->applyDecodeSettings(kvr::video::DecodeSettings::current());
    const QSize px = VideoStage::devicePixelSize(m_stage->size(), m_stage->devicePixelRatioF());
    m_player->controls().targetWidth.store(px.width());
    m_player->controls().targetHeight.store(px.height());

    connect(m_player, &FfmpegPlayer::yuvFrameReady, this, [this](std::shared_ptr<const YuvFrame> frame) {
        m_stage->setYuvFrame(std::move(frame));
        onPicture();
    });
    connect(m_player, &FfmpegPlayer::frameReady, this, [this](const QImage& image) {
        m_stage->setFrame(image);
        onPicture();
    });
    connect(m_player, &FfmpegPlayer::reconnecting, this, [this](int attempt, int total, const QString&) {
        m_stage->setMessage(QStringLiteral("Reconnecting"), QStringLiteral("Attempt %1 of %2").arg(attempt).arg(total));
    });
    connect(m_player, &FfmpegPlayer::status, this, [this](const QString&, const QString& detail) {
        fail(NativeBrand::explainStreamError(m_player->lastFailure(), !m_live, m_host), detail);
    });
    connect(m_stage, &VideoStage::gpuUnavailable, this,
            [this](const QString&) { m_player->controls().yuvOutput.store(false); });
    connect(m_stage, &VideoStage::pixelSizeChanged, this, [this](QSize size) {
        m_player->controls().targetWidth.store(size.width());
        m_player->controls().targetHeight.store(size.height());
    });
}

StreamDialog::~StreamDialog()
{
    m_player->stop();
}

void StreamDialog::onPicture()
{
    m_hadPicture = true;
    m_timer->stop();
    m_retry->hide();
}

void StreamDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    QTimer::singleShot(0, this, &StreamDialog::start);
}

void StreamDialog::start()
{
    const QString url = m_urlFor ? m_urlFor(m_main) : QString();
    m_player->stop();
    m_hadPicture = false;
    m_retry->hide();
    if (url.isEmpty()) {
        fail(LiveTileRules::noAddressText());
        return;
    }
    m_stage->clear();
    m_stage->setMessage(QStringLiteral("Loading"), QString());
    m_player->options().autoReconnect = m_live;
    m_player->options().live = m_live;
    m_timer->start();
    m_host = QUrl(url).host();
    m_player->play(url);
}

void StreamDialog::selectStream(bool main)
{
    m_main = main;
    if (m_mainButton && m_subButton) {
        m_mainButton->setChecked(main);
        m_subButton->setChecked(!main);
    }
    start();
}

void StreamDialog::fail(const QString& text, const QString& cause)
{
    // The end of a recording leaves its last picture on screen.
    if (!m_live && m_hadPicture)
        return;
    m_timer->stop();
    m_player->stop();
    m_stage->clear();
    // The player's own words (FFmpeg's, often) are for the log.
    if (!cause.isEmpty())
        qCWarning(lcLive).noquote() << "[vms]" << windowTitle() << (m_live ? "(live):" : "(playback):") << text << "-"
                                    << NativeBrand::redact(cause);
    m_stage->setMessage(LiveTileRules::defaultHeadline(), text);
    m_retry->show();
}

void StreamDialog::done(int result)
{
    m_timer->stop();
    m_player->stop();
    QDialog::done(result);
}

QString StreamDialog::heading(int channel, const QString* cameraLabel)
{
    return QStringLiteral("%1 %2").arg(channel).arg(cameraLabel ? *cameraLabel : QStringLiteral("Camera"));
}

namespace {
QString headingFor(const Native::Device& device, int channel)
{
    const Native::Camera* camera = device.camera(channel);
    const QString label = camera ? Native::cameraLabel(*camera) : QString();
    return StreamDialog::heading(channel, camera ? &label : nullptr);
}
} // namespace

void StreamDialog::openLive(QWidget* parent, const QString& deviceId, int channel)
{
    const std::optional<Native::Device> found = NativeStore::instance().device(deviceId);
    if (!found)
        return;
    const Native::Device copy = *found; // later edits of the inventory do not reach an open dialog
    if (NativeBrand::liveUrl(copy, channel, false).isEmpty()) {
        NativeUi::info(parent, QStringLiteral("Can\u2019t play this stream"),
                       QStringLiteral("No stream address is known for this brand yet."));
        return;
    }
    StreamDialog dialog(
        headingFor(copy, channel), Native::deviceLabel(copy),
        [copy, channel](bool main) { return NativeBrand::liveUrl(copy, channel, main); }, true, parent);
    Modal::exec(dialog);
}

void StreamDialog::openPlayback(QWidget* parent, const QString& deviceId, int channel, bool main,
                                const QDateTime& start, const QDateTime& end)
{
    const std::optional<Native::Device> found = NativeStore::instance().device(deviceId);
    if (!found)
        return;
    const Native::Device copy = *found;
    if (!NativeBrand::playbackSupported(copy)) {
        NativeUi::info(parent, QStringLiteral("Can\u2019t play this recording"),
                       NativeBrand::playbackUnsupportedReason(copy));
        return;
    }
    StreamDialog dialog(
        headingFor(copy, channel), Native::deviceLabel(copy),
        [copy, channel, main, start, end](bool) { return NativeBrand::playbackUrl(copy, channel, main, start, end); },
        false, parent);
    Modal::exec(dialog);
}

} // namespace kvr::live
