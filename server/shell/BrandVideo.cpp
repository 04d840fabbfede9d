#include "server/shell/BrandVideo.h"

#include "server/shell/Tunables.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>

using namespace kvr::video;

namespace kvr::shell {

BrandVideo::BrandVideo(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_stage = new VideoStage(this);
    m_stage->setCover(true);
    m_stage->setCornerRadius(0);
    m_stage->setMinimumHeight(0);
    m_stage->clear();
    layout->addWidget(m_stage);

    m_player = new FfmpegPlayer(this);
    FfmpegPlayer::Options& options = m_player->options();
    options.audioEnabled = false;
    options.loop = true;
    // A silent loop needs no sound clock to stay ahead of: a few pictures,
    // no larger than the column shows them, instead of a second of
    // full-size ones.
    options.readAheadCap = tun::kFilmReadAhead.count();
    options.coverTarget = true; // as the stage shows it
    connect(m_stage, &VideoStage::pixelSizeChanged, this, [this](QSize size) {
        m_player->controls().targetWidth = size.width();
        m_player->controls().targetHeight = size.height();
    });
    connect(m_player, &FfmpegPlayer::frameReady, m_stage, &VideoStage::setFrame);
}

QString BrandVideo::copyOut(const QString& resource, const QString& folder)
{
    QFile source(resource);
    if (!source.exists())
        return {};
    const qint64 size = source.size();
    const QString target = QDir(folder).filePath(QStringLiteral("kvr-login-film-%1.mp4").arg(size));
    // A truncated earlier copy is told by its size and written again.
    if (QFileInfo(target).size() != size) {
        QFile::remove(target);
        if (!source.copy(target)) {
            QFile::remove(target);
            return {};
        }
    }
    return target;
}

QString BrandVideo::localCopy()
{
    return copyOut(QStringLiteral(":/brand/login.mp4"), QDir::tempPath());
}

void BrandVideo::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_player->isRunning())
        return;
    const QString path = localCopy();
    if (!path.isEmpty())
        m_player->play(path, QString(), QString(), QByteArray(), 0.0);
}

void BrandVideo::hideEvent(QHideEvent* event)
{
    m_player->stop();
    QWidget::hideEvent(event);
    // Once the pictures still on their way are dropped, the film's memory
    // goes back to the system: the sign-in window stays hidden for hours.
    QTimer::singleShot(tun::kFilmTrimDelay, this, [this] {
        if (!isVisible())
            FfmpegPlayer::returnFreedMemory();
    });
}

} // namespace kvr::shell
