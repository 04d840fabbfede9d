#pragma once

#include "video/YuvFrame.h"

#include <QImage>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <memory>

class QTimer;

namespace kvr::video {

class GpuVideoView;

// The widget every player owner shows video on. RGB pictures are drawn here
// with the processor; YuvFrames go to a GpuVideoView child drawn with the
// graphics chip. Without a picture it shows a headline, an optional detail
// line, and a turning spinner while the headline is "Loading".
class VideoStage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMinimumHeight = 320;
    static constexpr int kSpinnerIntervalMs = 66;
    static constexpr double kSpinnerStepDegrees = 24.0;
    // A picture within this many pixels of its drawn size is drawn unscaled.
    static constexpr int kUnscaledTolerancePx = 3;

    explicit VideoStage(QWidget* parent = nullptr);

    // `host` shows video the graphics chip may draw (a stage does this for
    // itself; a page that lays out its tiles later says it for them): while
    // its window has not been made yet, a hidden GPU view is put in it once
    // the chip draws (DecodeSettings::chipAhead), so that the window is made
    // for OpenGL from the start and the change-over from the processor never
    // has it made anew, off the screen meanwhile. A window made before that
    // keeps its video with the processor.
    static void readyWindowOf(QWidget* host);

    void setFrame(const QImage& frame);
    void setYuvFrame(std::shared_ptr<const YuvFrame> frame);
    void setMessage(const QString& headline, const QString& detail);
    // The message of an owner that lays its own controls over the stage (a
    // camera tile): it gives way to them rather than run into them or show
    // shortened. Of its forms the fullest that fits whole in the band they
    // leave free shows: the headline with its detail, the headline alone,
    // the headline's short form (shortHeadline), and on a stage too small
    // even for that, none. What does not show is read whole in the tool tip
    // and by a screen reader. Owners call fitMessage() again when their
    // controls come, go or move; the stage does so itself when resized.
    void sayWithin(const QString& headline, const QString& detail);
    void fitMessage();
    // A shorter headline that says the same, for a stage too small for the
    // headline itself (the headline when there is none).
    static QString shortHeadline(const QString& headline);
    void clear();
    void hideGpu();
    void setCover(bool cover);
    void setCornerRadius(int radius);
    // The picture now shown: the GPU child's framebuffer while it draws, else
    // a copy of the RGB picture (null when none).
    QImage currentFrame() const;
    void updateSpinner();

    // One line of the message as it is drawn.
    struct MessageLine {
        QRect rect;
        QString text;
        bool headline = false;
    };
    // The message laid out on a widget of `size`: the headline on up to two
    // lines, the detail on as many as fit, centred and wrapped at words,
    // within the band from `top` to `bottom` (negative: the widget's own
    // edges); a text that does not fit is shortened with "…" and
    // `*shortened` set.
    static QList<MessageLine> messageLayout(QSize size, const QString& headline, const QString& detail,
                                            const QFont& base, bool* shortened = nullptr, int top = -1,
                                            int bottom = -1);
    // The lines drawn now (none while a picture shows), and whether the
    // message had to be shortened; a shortened message is the tool tip of the
    // stage, or of the widget that takes the stage's mouse.
    QList<MessageLine> messageLines() const;
    bool messageShortened() const;
    // Where the loading ring turns on a widget of `size`, within the band
    // from `top` to `bottom` (negative: the widget's own edges): empty when
    // the band is too low for it.
    static QRect spinnerPlace(QSize size, int top = -1, int bottom = -1);
    // Where it turns now (empty unless loading), clear of what the owner
    // lays over the stage.
    QRect spinnerRect() const;
    // Where the message's mark shows: a message said with sayWithin that no
    // form of fits whole gives way to it where there is room for it (empty
    // otherwise); the message is then the stage's accessible description
    // and tool tip.
    QRect markRect() const;

    // The message as it shows now (a form of it, where it gives way), and
    // as it was said.
    QString headlineText() const { return headline; }
    QString detailText() const { return detail; }
    QString saidHeadline() const { return said.headline; }
    QString saidDetail() const { return said.detail; }
    bool spinnerRunning() const;
    bool isGpuActive() const { return gpuActive; }
    // Whether a picture shows: a converted one, or the GPU child drawing.
    bool hasPicture() const { return !frame.isNull() || gpuActive; }
    bool isGpuDisabled() const { return gpuDisabled; }

    // Where a picture of `picture` device-independent pixels is drawn on a
    // widget of `widget` pixels: scaled keeping its aspect ratio (covering and
    // cropped with `cover`, else fitted) and centred.
    static QRect pictureRect(QSize picture, QSize widget, bool cover);
    // Whether such a picture is drawn as it is instead of rescaled.
    static bool drawsUnscaled(QSize picture, QSize drawn);
    // Widget size in device pixels, each side rounded half away from zero.
    static QSize devicePixelSize(QSize size, qreal devicePixelRatio);

    // What lies over each corner of the picture to round it with these
    // horizontal and vertical radii: the backdrop outside the arc,
    // see-through inside it. Null for a radius of 0.
    struct CornerPieces {
        QImage topLeft, topRight, bottomLeft, bottomRight;
    };
    static CornerPieces cornerPieces(QSizeF radii, qreal devicePixelRatio);

Q_SIGNALS:
    void gpuUnavailable(const QString& reason);
    void pixelSizeChanged(QSize size);
    void activity();
    void doubleClicked();

protected:
    bool event(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void spinStep();
    // Says a message as it is (showText) or shows one form of it (showForm).
    void showText(const QString& headline, const QString& detail);
    void showForm(const QString& headline, const QString& detail);
    void onGpuUnavailable(const QString& reason);
    // The GPU child, made hidden (once).
    void makeGpuView();
    // YUV pictures for a window made to be drawn by the processor: the
    // stage asks for RGB ones from then on.
    void declineChip();
    void reportPixelSize();
    void updateMessageTip();
    // The band of the stage that the widgets its owner lays over it (a
    // tile's name, its "Try again") leave free: from `top` to `bottom`, -1
    // for an edge nothing covers.
    struct Band {
        int top = -1;
        int bottom = -1;
    };
    Band freeBand() const;
    // The message laid out on this stage, within that band.
    QList<MessageLine> layOutMessage(bool* shortened) const;
    struct Said {
        QString headline;
        QString detail;
    };
    // The fullest form of the message said with sayWithin that fits `band`
    // whole (`*fits` false when none does).
    Said formThatFits(const Band& band, bool* fits) const;

    QImage frame;
    QString headline = QStringLiteral("Loading");
    QString detail;
    Said said{QStringLiteral("Loading"), QString()}; // the whole message
    bool givesWay = false;                           // said with sayWithin: the message shows in a form that fits
    GpuVideoView* gpu = nullptr;
    bool gpuActive = false;
    bool gpuDisabled = false;
    QTimer* spinner = nullptr;
    double spinAngle = 0.0;
    bool cover = false;
    int cornerRadius = 14;
    QSize reportedPixelSize;     // last size sent with pixelSizeChanged
    QPointer<QWidget> tipHolder; // where the shortened message was put as a tool tip
    QString tipShown;
};

} // namespace kvr::video
