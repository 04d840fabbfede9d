#include "video/VideoStage.h"

#include "app/ui/Theme.h"
#include "video/DecodeSettings.h"
#include "video/GpuProbe.h"
#include "video/GpuVideoView.h"
#include "video/Logging.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

using namespace kvr::ui;

namespace kvr::video {

namespace {

const QString kLoading = QStringLiteral("Loading");
constexpr int kMessageSide_px = 12;      // room kept free at each side of the message
constexpr int kMessageMaxWidth_px = 520; // widest a message line runs on a big stage
constexpr int kMessageEdge_px = 8;       // room kept free above and below it
constexpr int kHeadlineLines = 2;
constexpr int kOverlayGap_px = 3;    // between the message and what lies over the stage
constexpr int kSpinnerSide_px = 36;  // the turning ring while loading
constexpr int kSpinnerLeast_px = 16; // smaller than this, it is left out
constexpr int kMarkSide_px = 16;     // the mark a message too long for its stage gives way to

QFont headlineFont(QFont font, bool loading)
{
    font.setPixelSize(loading ? 13 : 18);
    font.setWeight(loading ? QFont::Medium : QFont::DemiBold);
    return font;
}

QFont detailFont(QFont font)
{
    font.setPixelSize(13);
    font.setWeight(QFont::Normal);
    return font;
}

// `text` broken at words into lines of at most `width` pixels; past
// `maxLines` the last line is shortened with "…".
QStringList wrapped(const QString& text, const QFont& font, int width, int maxLines, bool* shortened)
{
    QStringList lines;
    if (text.isEmpty() || width <= 0)
        return lines;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() + 1 == maxLines && line.textStart() + line.textLength() < text.size()) {
            const QString rest = text.mid(line.textStart()).simplified();
            lines << QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
            *shortened = true;
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

} // namespace

QList<VideoStage::MessageLine> VideoStage::messageLayout(QSize size, const QString& headline, const QString& detail,
                                                         const QFont& base, bool* shortened, int topLimit,
                                                         int bottomLimit)
{
    bool cut = false;
    QList<MessageLine> out;
    const bool loading = headline == kLoading;
    const int width = std::min(size.width() - 2 * kMessageSide_px, kMessageMaxWidth_px);
    if (headline.isEmpty() || width <= 0) {
        if (shortened)
            *shortened = !headline.isEmpty();
        return out;
    }
    const QFont hf = headlineFont(base, loading);
    const QFont df = detailFont(base);
    const int headHeight = QFontMetrics(hf).height();
    const int detailHeight = QFontMetrics(df).height();

    // The first headline line sits on the middle (below the spinner while
    // loading); a block too tall for the room below moves up, as far as the
    // top edge, the spinner or what lies over the stage above. Nothing is
    // drawn over what lies over the stage: a band too low for one headline
    // line shows no message (it is then read from the tool tip).
    const int middle = size.height() / 2 + (loading ? 24 : 0);
    const int bottom =
        bottomLimit >= 0 ? std::min(bottomLimit, size.height() - kMessageEdge_px) : size.height() - kMessageEdge_px;
    int top = std::max(loading ? middle - headHeight / 2 : kMessageEdge_px, topLimit);
    if (const QRect ring = loading ? spinnerPlace(size, topLimit, bottomLimit) : QRect(); !ring.isEmpty())
        top = std::max(top, ring.bottom() + 4);
    if (bottom - top < headHeight) {
        if (shortened)
            *shortened = true;
        return out;
    }
    const int headRoom = std::clamp((bottom - top) / headHeight, 1, kHeadlineLines);
    const QStringList heads = wrapped(headline, hf, width, headRoom, &cut);
    const QStringList details = wrapped(detail, df, width, std::numeric_limits<int>::max(), &cut);
    const int blockHeight =
        int(heads.size()) * headHeight + (details.isEmpty() ? 0 : 5 + int(details.size()) * detailHeight);
    int y = std::max(std::max(top, 0), std::min(middle - headHeight / 2, bottom - blockHeight));
    const int left = (size.width() - width) / 2;
    for (const QString& line : heads) {
        out << MessageLine{QRect(left, y, width, headHeight), line, true};
        y += headHeight;
    }
    y += 5;
    for (qsizetype i = 0; i < details.size(); ++i) {
        const bool lastThatFits = y + 2 * detailHeight > bottom;
        QString line = details.at(i);
        if (lastThatFits && i + 1 < details.size()) {
            // Whatever does not fit goes into this last line, shortened.
            line =
                QFontMetrics(df).elidedText(QStringList(details.mid(i)).join(QLatin1Char(' ')), Qt::ElideRight, width);
            cut = true;
        }
        if (y + detailHeight > bottom) {
            cut = true;
            break;
        }
        out << MessageLine{QRect(left, y, width, detailHeight), line, false};
        y += detailHeight;
        if (lastThatFits)
            break;
    }
    if (shortened)
        *shortened = cut;
    return out;
}

VideoStage::Band VideoStage::freeBand() const
{
    // Widgets laid over the stage bound the band the message may use: those
    // above the middle from above, the others from below.
    Band band;
    if (const QWidget* owner = parentWidget()) {
        const int middleY = height() / 2;
        bool above = false; // stacked over the stage
        for (const QObject* o : owner->children()) {
            if (o == this) {
                above = true;
                continue;
            }
            const auto* w = qobject_cast<const QWidget*>(o);
            if (!above || !w || w->isWindow() || !w->isVisible())
                continue;
            const QRect r = w->geometry().translated(-pos());
            if (!r.intersects(rect()))
                continue;
            if (r.center().y() < middleY)
                band.top = std::max(band.top, r.bottom() + kOverlayGap_px);
            else
                band.bottom =
                    band.bottom < 0 ? r.top() - kOverlayGap_px : std::min(band.bottom, r.top() - kOverlayGap_px);
        }
    }
    return band;
}

QList<VideoStage::MessageLine> VideoStage::layOutMessage(bool* shortened) const
{
    const Band band = freeBand();
    if (givesWay) {
        // The form that fits the band as it is now, even before the stage
        // has been told that what lies over it moved.
        bool fits = false;
        const Said form = formThatFits(band, &fits);
        if (!fits) {
            if (shortened)
                *shortened = true;
            return {};
        }
        return messageLayout(size(), form.headline, form.detail, font(), shortened, band.top, band.bottom);
    }
    return messageLayout(size(), headline, detail, font(), shortened, band.top, band.bottom);
}

QRect VideoStage::spinnerRect() const
{
    if (headline != kLoading || !frame.isNull() || gpuActive)
        return {};
    const Band band = freeBand();
    return spinnerPlace(size(), band.top, band.bottom);
}

QRect VideoStage::spinnerPlace(QSize size, int topLimit, int bottomLimit)
{
    // Above the middle, clear of what lies over the stage: it moves down
    // below what lies over its top, and shrinks (or goes) where the band
    // left is lower than it.
    const int cx = size.width() / 2;
    const int top = std::max(topLimit, kMessageEdge_px);
    const int bottom = bottomLimit >= 0 ? std::min(bottomLimit, size.height()) : size.height();
    int side = std::min(kSpinnerSide_px, bottom - top);
    if (side < kSpinnerLeast_px)
        return {};
    const int y = std::clamp(size.height() / 2 - 38, top, bottom - side);
    return {cx - side / 2, y, side, side};
}

QRect VideoStage::markRect() const
{
    if (!givesWay || !frame.isNull() || gpuActive || said.headline.isEmpty() || said.headline == kLoading)
        return {};
    const Band band = freeBand();
    bool fits = false;
    formThatFits(band, &fits);
    if (fits)
        return {};
    // In the middle of the band what lies over the stage leaves; none where
    // that is lower than the mark.
    const int top = std::max(band.top, 0);
    const int bottom = band.bottom >= 0 ? std::min(band.bottom, height()) : height();
    if (bottom - top < kMarkSide_px || width() < kMarkSide_px)
        return {};
    return {(width() - kMarkSide_px) / 2, top + (bottom - top - kMarkSide_px) / 2, kMarkSide_px, kMarkSide_px};
}

QList<VideoStage::MessageLine> VideoStage::messageLines() const
{
    if (!frame.isNull() || gpuActive)
        return {};
    return layOutMessage(nullptr);
}

bool VideoStage::messageShortened() const
{
    bool cut = false;
    if (frame.isNull() && !gpuActive)
        layOutMessage(&cut);
    return cut;
}

void VideoStage::updateMessageTip()
{
    // A stage the mouse passes through (a tile's) shows its tip on the tile.
    QWidget* holder = testAttribute(Qt::WA_TransparentForMouseEvents) && parentWidget() ? parentWidget() : this;
    const bool partly = messageShortened() || headline != said.headline || detail != said.detail;
    const QString tip =
        partly ? (said.detail.isEmpty() ? said.headline : said.headline + QLatin1Char('\n') + said.detail) : QString();
    if (tipHolder && tipHolder != holder && tipHolder->toolTip() == tipShown)
        tipHolder->setToolTip(QString());
    // Never over a tool tip the holder has of its own.
    if (holder->toolTip().isEmpty() || holder->toolTip() == tipShown || holder == this) {
        holder->setToolTip(tip);
        tipHolder = holder;
        tipShown = tip;
    }
}

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
    readyWindowOf(this);
}

namespace {

// Hosts of video whose windows are to be made ready for the graphics chip
// once the context the views share is made (GUI thread only).
struct ChipHosts {
    QList<QPointer<QWidget>> waiting;
    bool hooked = false;
};

ChipHosts& chipHosts()
{
    static ChipHosts hosts;
    return hosts;
}

// Whether the window `w` is in has been made: it keeps the kind of surface
// it was made with (making it anew takes it off the screen).
bool windowMade(const QWidget* w)
{
    return w->window()->testAttribute(Qt::WA_WState_Created);
}

// Whether a square of `side` pixels in a corner rounded with `radius` lies
// wholly outside the rounding, where the backdrop is painted (half a pixel of
// smoothing along the arc included).
bool outsideRounding(int side, int radius)
{
    return (radius - side) * std::sqrt(2.0) >= radius + 0.5;
}

// Whether a window may be made ready for the chip now. Where the probe has
// said the chip draws, that waits for the context the views share (made in
// the background, and begun here where nothing began it), so that no view
// waits for it on this thread.
bool chipReadyNow()
{
    if (!DecodeSettings::chipAhead())
        return false;
    if (GpuVideoView::contextsReady() || !GpuProbe::known())
        return true;
    DecodeSettings::drawingChosen();
    return GpuVideoView::contextsReady();
}

} // namespace

void VideoStage::readyWindowOf(QWidget* host)
{
    if (!host || windowMade(host))
        return;
    if (chipReadyNow()) {
        if (auto* stage = qobject_cast<VideoStage*>(host))
            stage->makeGpuView();
        else if (!host->findChild<GpuVideoView*>())
            (new GpuVideoView(host))->hide(); // only there to have the window made for OpenGL
        return;
    }
    if (GpuVideoView::contextsReady() || (GpuProbe::known() && !DecodeSettings::chipAhead()))
        return; // nothing more is to come
    ChipHosts& hosts = chipHosts();
    hosts.waiting.removeAll(nullptr);
    hosts.waiting.append(host);
    if (std::exchange(hosts.hooked, true))
        return;
    GpuVideoView::whenContextsReady(QCoreApplication::instance(), [] {
        for (const QPointer<QWidget>& waiting : std::exchange(chipHosts().waiting, {}))
            readyWindowOf(waiting);
    });
}

void VideoStage::makeGpuView()
{
    if (gpu || gpuDisabled)
        return;
    gpu = new GpuVideoView(this);
    gpu->hide();
    if (!windowMade(this) && outsideRounding(GpuVideoView::primerSide(), cornerRadius))
        GpuVideoView::primeCompositionAt(this);
    gpu->setCover(cover);
    gpu->setCornerRadius(cornerRadius);
    gpu->setGeometry(rect());
    connect(gpu, &GpuVideoView::unavailable, this, &VideoStage::onGpuUnavailable);
    // The processor's last picture stays beneath the child until the child
    // has shown one of its own: a stage that changes over to the graphics
    // chip while it plays never shows an empty frame.
    connect(gpu, &QOpenGLWidget::frameSwapped, this, [this] {
        if (gpuActive)
            frame = QImage();
    });
}

void VideoStage::showText(const QString& newHeadline, const QString& newDetail)
{
    said = {newHeadline, newDetail};
    givesWay = false;
    showForm(newHeadline, newDetail);
}

void VideoStage::showForm(const QString& newHeadline, const QString& newDetail)
{
    headline = newHeadline;
    detail = newDetail;
    // What the stage says is painted; a screen reader reads it here, whole.
    const QString whole = said.detail.isEmpty() ? said.headline : said.headline + QStringLiteral(": ") + said.detail;
    if (accessibleDescription() != whole)
        setAccessibleDescription(whole);
    updateSpinner();
    updateMessageTip();
}

void VideoStage::sayWithin(const QString& newHeadline, const QString& newDetail)
{
    hideGpu();
    frame = QImage();
    said = {newHeadline, newDetail};
    givesWay = true;
    headline.clear(); // so that the form chosen below is shown anew
    fitMessage();
    update();
}

void VideoStage::fitMessage()
{
    if (!givesWay || !frame.isNull() || gpuActive)
        return;
    bool fits = false;
    const Said chosen = formThatFits(freeBand(), &fits);
    if (chosen.headline != headline || chosen.detail != detail) {
        showForm(chosen.headline, chosen.detail);
        update();
    }
}

VideoStage::Said VideoStage::formThatFits(const Band& band, bool* fits) const
{
    const Said forms[] = {
        {said.headline, said.detail}, {said.headline, QString()}, {shortHeadline(said.headline), QString()}};
    for (const Said& form : forms) {
        bool cut = false;
        messageLayout(size(), form.headline, form.detail, font(), &cut, band.top, band.bottom);
        if (!cut) {
            *fits = true;
            return form;
        }
    }
    *fits = false; // none shows; the shortest is what is said to be shown
    return forms[2];
}

QString VideoStage::shortHeadline(const QString& longer)
{
    static const std::pair<QString, QString> kShort[] = {
        {QStringLiteral("Can\u2019t play this stream"), QStringLiteral("Can\u2019t play")},
        {QStringLiteral("No video from this camera"), QStringLiteral("No video")},
        {QStringLiteral("Lost the stream"), QStringLiteral("Stream lost")},
        {QStringLiteral("Playback isn\u2019t available"), QStringLiteral("No playback")},
        {QStringLiteral("End of recording"), QStringLiteral("Ended")},
    };
    for (const auto& [whole, brief] : kShort)
        if (longer == whole)
            return brief;
    return longer;
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
    const qreal ratio = devicePixelRatioF();
    if (image.isNull() || image.devicePixelRatio() == ratio) {
        frame = image;
    } else {
        // Setting the ratio on a picture held elsewhere too (the player's
        // signal holds it) copies the whole picture; a second picture over
        // the same pixels, which holds the first until it goes, does not.
        auto* held = new QImage(image);
        frame = QImage(
            held->constBits(), held->width(), held->height(), held->bytesPerLine(), held->format(),
            [](void* info) { delete static_cast<QImage*>(info); }, held);
        frame.setDevicePixelRatio(ratio);
    }
    showText(QString(), QString());
    update();
}

void VideoStage::setYuvFrame(std::shared_ptr<const YuvFrame> yuv)
{
    if (gpuDisabled || !yuv)
        return;
    if (!gpu) {
        const QWindow* shownIn = window()->windowHandle();
        if (windowMade(this) && shownIn && shownIn->surfaceType() == QSurface::RasterSurface) {
            // A window made to be drawn by the processor would have to be
            // made anew for a view drawn with OpenGL, and would leave the
            // screen meanwhile: its video stays with the processor.
            declineChip();
            return;
        }
        makeGpuView();
    }
    showText(QString(), QString());
    if (!gpuActive) {
        gpu->show();
        gpu->lower();
        gpuActive = true;
    }
    gpu->setFrame(std::move(yuv));
}

void VideoStage::declineChip()
{
    gpuDisabled = true;
    QWidget* top = window();
    static const char* const kSaid = "kvrChipDeclinedSaid";
    if (!top->property(kSaid).toBool()) {
        top->setProperty(kSaid, true);
        qCInfo(lcVideo).noquote() << "[render] the processor draws the video of" << top->windowTitle()
                                  << "(shown before the graphics chip was ready)";
    }
    Q_EMIT gpuUnavailable(QStringLiteral("the window was shown before the graphics chip was ready"));
}

void VideoStage::onGpuUnavailable(const QString& reason)
{
    gpuActive = false;
    gpuDisabled = true;
    if (gpu) {
        gpu->clearFrame();
        gpu->hide();
    }
    qCWarning(lcVideo).noquote() << "[render] graphics chip not usable for this view:" << reason;
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
    if (!outsideRounding(GpuVideoView::primerSide(), radius))
        GpuVideoView::unprimeCompositionAt(this);
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
    const QRect square = spinnerRect();
    if (!square.isEmpty())
        update(square.adjusted(-6, -6, 6, 6));
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
    fitMessage();
    updateMessageTip();
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

    // A message that gives way to what lies over the stage fits the band
    // that leaves now (a toast or a button may have come since).
    fitMessage();
    p.fillRect(whole, black);
    p.setRenderHint(QPainter::Antialiasing);
    const bool loading = headline == kLoading;
    if (const QRect square = loading ? spinnerRect() : QRect(); !square.isEmpty()) {
        QPen ring(Theme::colour(Theme::Colour::White, 30 / 255.0), 3);
        ring.setCapStyle(Qt::SquareCap);
        p.setPen(ring);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(square);
        QPen arc(QColor(Theme::kAccent), 3);
        arc.setCapStyle(Qt::RoundCap);
        p.setPen(arc);
        p.drawArc(square, int(-16 * spinAngle), 1600);
    }
    const QFont hf = headlineFont(font(), loading);
    const QFont df = detailFont(font());
    // Overlays come and go after the message is set; the tip follows what
    // is drawn.
    bool cut = false;
    const QList<MessageLine> lines = layOutMessage(&cut);
    if ((cut || headline != said.headline || detail != said.detail) != !tipShown.isEmpty())
        updateMessageTip();
    for (const MessageLine& line : lines) {
        p.setFont(line.headline ? hf : df);
        p.setPen(line.headline ? Theme::colour(Theme::Colour::White, loading ? 170 / 255.0 : 1.0)
                               : Theme::colour(Theme::Colour::White, 140 / 255.0));
        p.drawText(line.rect, Qt::AlignCenter, line.text);
    }
    // No room for any form of the message: its mark, a ringed "i", whose
    // words are the tip and what a screen reader says.
    if (const QRect mark = lines.isEmpty() ? markRect() : QRect(); !mark.isEmpty()) {
        p.setPen(QPen(Theme::colour(Theme::Colour::White, 200 / 255.0), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(mark).adjusted(0.75, 0.75, -0.75, -0.75));
        QFont f = hf;
        f.setPixelSize(kMarkSide_px * 5 / 8);
        f.setWeight(QFont::Bold);
        p.setFont(f);
        p.drawText(mark, Qt::AlignCenter, QStringLiteral("i"));
    }
    paintCorners();
}

} // namespace kvr::video
