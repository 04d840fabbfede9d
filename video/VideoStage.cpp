#include "video/VideoStage.h"

#include "app/ui/Theme.h"
#include "video/GpuVideoView.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

const QString kLoading = QStringLiteral("Loading");

} // namespace

VideoStage::VideoStage(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(kMinimumHeight);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    spinner = new QTimer(this);
    spinner->setInterval(kSpinnerIntervalMs);
    connect(spinner, &QTimer::timeout, this, &VideoStage::spinStep);
    setAccessibleName(QStringLiteral("Video"));
    showText(headline, detail);
}

void VideoStage::showText(const QString& newHeadline, const QString& newDetail)
{
    headline = newHeadline;
    detail = newDetail;
    // What the stage says is painted; a screen reader reads it here.
    const QString said = newDetail.isEmpty() ? newHeadline : newHeadline + QStringLiteral(": ") + newDetail;
    if (accessibleDescription() != said)
        setAccessibleDescription(said);
    updateSpinner();
}

QRect VideoStage::pictureRect(QSize picture, QSize widget, bool coverWidget)
{
    if (picture.isEmpty() || widget.isEmpty())
        return {};
    const QSize scaled = picture.scaled(widget, coverWidget ? Qt::KeepAspectRatioByExpanding : Qt::KeepAspectRatio);
    return QRect((widget.width() - scaled.width()) / 2, (widget.height() - scaled.height()) / 2, scaled.width(),
                 scaled.height());
}

bool VideoStage::drawsUnscaled(QSize picture, QSize drawn)
{
    return std::abs(drawn.width() - picture.width()) < kUnscaledTolerancePx
        && std::abs(drawn.height() - picture.height()) < kUnscaledTolerancePx;
}

QSize VideoStage::devicePixelSize(QSize size, qreal ratio)
{
    return QSize(int(std::lround(size.width() * ratio)), int(std::lround(size.height() * ratio)));
}

void VideoStage::setFrame(const QImage& image)
{
    hideGpu();
    frame = image;
    frame.setDevicePixelRatio(devicePixelRatioF());
    showText(QString(), QString());
    update();
}

void VideoStage::setYuvFrame(std::shared_ptr<const YuvFrame> yuv)
{
    if (gpuDisabled || !yuv)
        return;
    if (!gpu) {
        gpu = new GpuVideoView(this);
        gpu->setCover(cover);
        gpu->setCornerRadius(cornerRadius);
        gpu->setGeometry(rect());
        connect(gpu, &GpuVideoView::unavailable, this, &VideoStage::onGpuUnavailable);
    }
    frame = QImage();
    showText(QString(), QString());
    if (!gpuActive) {
        gpu->show();
        gpu->lower();
        gpuActive = true;
    }
    gpu->setFrame(std::move(yuv));
}

void VideoStage::onGpuUnavailable(const QString& reason)
{
    gpuActive = false;
    gpuDisabled = true;
    if (gpu) {
        gpu->clearFrame();
        gpu->hide();
    }
    qWarning().noquote() << "[render] graphics chip not usable for this view:" << reason;
    Q_EMIT gpuUnavailable(reason);
}

void VideoStage::setMessage(const QString& newHeadline, const QString& newDetail)
{
    hideGpu();
    frame = QImage();
    showText(newHeadline, newDetail);
    update();
}

void VideoStage::clear()
{
    hideGpu();
    frame = QImage();
    showText(QString(), QString());
    update();
}

void VideoStage::hideGpu()
{
    gpuActive = false;
    if (gpu) {
        gpu->clearFrame();
        gpu->hide();
    }
}

void VideoStage::setCover(bool on)
{
    cover = on;
    if (gpu)
        gpu->setCover(on);
    update();
}

void VideoStage::setCornerRadius(int radius)
{
    cornerRadius = radius;
    if (gpu)
        gpu->setCornerRadius(radius);
    update();
}

QImage VideoStage::currentFrame() const
{
    if (gpuActive && gpu)
        return gpu->grabFramebuffer();
    return frame.copy();
}

bool VideoStage::spinnerRunning() const
{
    return spinner->isActive();
}

void VideoStage::updateSpinner()
{
    const bool run = frame.isNull() && headline == kLoading;
    if (run && !spinner->isActive())
        spinner->start();
    else if (!run && spinner->isActive())
        spinner->stop();
}

void VideoStage::spinStep()
{
    spinAngle = std::fmod(spinAngle + kSpinnerStepDegrees, 360.0);
    const int cx = width() / 2;
    const int cy = height() / 2;
    update(QRect(QPoint(cx - 24, cy - 44), QPoint(cx + 23, cy + 3)));
}

void VideoStage::mouseDoubleClickEvent(QMouseEvent* event)
{
    Q_EMIT doubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}

void VideoStage::mouseMoveEvent(QMouseEvent* event)
{
    Q_EMIT activity();
    QWidget::mouseMoveEvent(event);
}

void VideoStage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (gpu)
        gpu->setGeometry(rect());
    reportPixelSize();
}

void VideoStage::reportPixelSize()
{
    reportedPixelSize = devicePixelSize(size(), devicePixelRatioF());
    Q_EMIT pixelSizeChanged(reportedPixelSize);
}

bool VideoStage::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // A window moved to a display of another pixel ratio changes the size in
    // device pixels without a resize; owners size their pictures by it.
    bool ratioMayChange = event->type() == QEvent::ScreenChangeInternal;
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    ratioMayChange = ratioMayChange || event->type() == QEvent::DevicePixelRatioChange;
#endif
    if (ratioMayChange && devicePixelSize(size(), devicePixelRatioF()) != reportedPixelSize)
        reportPixelSize();
    return handled;
}

VideoStage::CornerPieces VideoStage::cornerPieces(QSizeF radii, qreal ratio)
{
    // Each piece is read back from a rounded clip: the corner painted through
    // the clip over a black and over a white picture tells, pixel by pixel,
    // how much of the picture shows (the alpha) and what lies over it. Drawn
    // over the picture, a piece gives what the clip gives, edge blending
    // included, at the cost of four small blends instead of a clipped paint.
    struct Key {
        QSizeF radii;
        qreal ratio;
        bool operator==(const Key&) const = default;
    };
    static QList<std::pair<Key, CornerPieces>> cache;
    const Key key{radii, ratio};
    for (const auto& [k, pieces] : cache)
        if (k == key)
            return pieces;

    CornerPieces pieces;
    const QSize side(int(std::ceil(radii.width() * ratio)), int(std::ceil(radii.height() * ratio)));
    if (!side.isEmpty()) {
        const auto paintCorner = [&](const QColor& picture) {
            QImage img(side, QImage::Format_ARGB32_Premultiplied);
            img.setDevicePixelRatio(ratio);
            QPainter p(&img);
            p.setRenderHint(QPainter::Antialiasing);
            const QRectF whole(0, 0, 2 * radii.width() + 2, 2 * radii.height() + 2);
            p.fillRect(whole, QColor(Theme::kBackdrop));
            QPainterPath rounded;
            rounded.addRoundedRect(whole, radii.width(), radii.height(), Qt::AbsoluteSize);
            p.setClipPath(rounded);
            p.fillRect(whole, Theme::colour(Theme::Colour::Black));
            p.fillRect(whole, picture);
            return img;
        };
        const QImage overBlack = paintCorner(Qt::black);
        const QImage overWhite = paintCorner(Qt::white);
        QImage piece(side, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < side.height(); ++y) {
            const auto* b = reinterpret_cast<const QRgb*>(overBlack.constScanLine(y));
            const auto* w = reinterpret_cast<const QRgb*>(overWhite.constScanLine(y));
            auto* out = reinterpret_cast<QRgb*>(piece.scanLine(y));
            for (int x = 0; x < side.width(); ++x) {
                const int shows = qGreen(w[x]) - qGreen(b[x]); // how much of the picture shows, of 255
                const int alpha = std::clamp(255 - shows, 0, 255);
                out[x] = qRgba(std::min(qRed(b[x]), alpha), std::min(qGreen(b[x]), alpha), std::min(qBlue(b[x]), alpha),
                               alpha);
            }
        }
        pieces.topLeft = piece;
        pieces.topRight = piece.mirrored(true, false);
        pieces.bottomLeft = piece.mirrored(false, true);
        pieces.bottomRight = piece.mirrored(true, true);
        for (QImage* img : {&pieces.topLeft, &pieces.topRight, &pieces.bottomLeft, &pieces.bottomRight})
            img->setDevicePixelRatio(ratio);
    }
    if (cache.size() >= 8) // a handful of radii and pixel ratios are ever in use
        cache.removeFirst();
    cache.append({key, pieces});
    return pieces;
}

void VideoStage::paintEvent(QPaintEvent*)
{
    // The widget is opaque: it paints every pixel itself, so neither a
    // picture nor an overlay above it makes the widgets under it repaint.
    // The picture is blitted; only the bars beside it are filled, and the
    // rounded corners are laid over it as small ready-made pieces.
    QPainter p(this);
    const QRect whole = rect();
    const QColor black = Theme::colour(Theme::Colour::Black);
    const auto paintCorners = [&] {
        // A radius larger than half a side is narrowed along that side, as
        // a rounded rectangle narrows it.
        const QSizeF radii(std::min<qreal>(cornerRadius, whole.width() / 2.0),
                           std::min<qreal>(cornerRadius, whole.height() / 2.0));
        const CornerPieces pieces = cornerPieces(radii, devicePixelRatioF());
        if (pieces.topLeft.isNull())
            return;
        const QSizeF piece = pieces.topLeft.deviceIndependentSize();
        const qreal right = whole.width() - piece.width();
        const qreal bottom = whole.height() - piece.height();
        p.drawImage(QPointF(0, 0), pieces.topLeft);
        p.drawImage(QPointF(right, 0), pieces.topRight);
        p.drawImage(QPointF(0, bottom), pieces.bottomLeft);
        p.drawImage(QPointF(right, bottom), pieces.bottomRight);
    };

    if (!frame.isNull()) {
        const QSizeF logical = frame.deviceIndependentSize();
        const QSize picture(qRound(logical.width()), qRound(logical.height()));
        const QRect target = pictureRect(picture, size(), cover);
        if (target.isEmpty()) {
            p.fillRect(whole, black);
        } else {
            // The bars beside a fitted picture; a covering one leaves none.
            const QRect shown = target.intersected(whole);
            p.fillRect(QRect(0, 0, whole.width(), shown.top()), black);
            p.fillRect(QRect(QPoint(0, shown.bottom() + 1), whole.bottomRight()), black);
            p.fillRect(QRect(QPoint(0, shown.top()), QPoint(shown.left() - 1, shown.bottom())), black);
            p.fillRect(QRect(QPoint(shown.right() + 1, shown.top()), QPoint(whole.right(), shown.bottom())), black);
            if (drawsUnscaled(picture, target.size())) {
                p.drawImage(target.topLeft(), frame);
            } else {
                p.setRenderHint(QPainter::SmoothPixmapTransform);
                p.drawImage(target, frame);
            }
        }
        paintCorners();
        return;
    }

    p.fillRect(whole, black);
    p.setRenderHint(QPainter::Antialiasing);
    const int cx = width() / 2;
    int cy = height() / 2;
    const bool loading = headline == kLoading;
    if (loading) {
        const QRect square(cx - 18, cy - 38, 36, 36);
        QPen ring(Theme::colour(Theme::Colour::White, 30 / 255.0), 3);
        ring.setCapStyle(Qt::SquareCap);
        p.setPen(ring);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(square);
        QPen arc(QColor(Theme::kAccent), 3);
        arc.setCapStyle(Qt::RoundCap);
        p.setPen(arc);
        p.drawArc(square, int(-16 * spinAngle), 1600);
        cy += 24;
    }
    if (!headline.isEmpty()) {
        QFont font = p.font();
        font.setPixelSize(loading ? 13 : 18);
        font.setWeight(loading ? QFont::Medium : QFont::DemiBold);
        p.setFont(font);
        p.setPen(Theme::colour(Theme::Colour::White, loading ? 170 / 255.0 : 1.0));
        p.drawText(QRect(QPoint(24, cy - 14), QPoint(width() - 25, cy + 13)), Qt::AlignCenter, headline);

        if (!detail.isEmpty()) {
            QFont small = p.font();
            small.setPixelSize(13);
            small.setWeight(QFont::Normal);
            p.setFont(small);
            p.setPen(Theme::colour(Theme::Colour::White, 140 / 255.0));
            p.drawText(QRect(QPoint(cx - 260, cy + 18), QPoint(cx + 259, height() - 23)),
                       Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, detail);
        }
    }
    paintCorners();
}
