#pragma once

// Decoded-looking pictures of known colours for the view tests.

#include "video/GpuVideoView.h"
#include "video/YuvFrame.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <QColor>
#include <QCoreApplication>
#include <QString>
#include <QSurfaceFormat>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace yuvtest {

// As at start-up: an alpha channel, and no OpenGL context until the first
// view makes the one all views share.
[[maybe_unused]] static const bool startUpFormat = [] {
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setAlphaBufferSize(8);
    QSurfaceFormat::setDefaultFormat(format);
    return true;
}();

struct Triple {
    int y, u, v;
};

// The reference encoder: RGB to Y'CbCr with the matrix's Kr and Kb, then
// quantised to full or limited (studio) range.
inline Triple encode(QColor rgb, bool bt709, bool fullRange)
{
    const double kr = bt709 ? 0.2126 : 0.299;
    const double kb = bt709 ? 0.0722 : 0.114;
    const double r = rgb.redF(), g = rgb.greenF(), b = rgb.blueF();
    const double y = kr * r + (1.0 - kr - kb) * g + kb * b;
    const double pb = (b - y) / (2.0 * (1.0 - kb));
    const double pr = (r - y) / (2.0 * (1.0 - kr));
    auto q = [](double v) { return int(std::lround(std::clamp(v, 0.0, 255.0))); };
    if (fullRange)
        return {q(255.0 * y), q(128.0 + 255.0 * pb), q(128.0 + 255.0 * pr)};
    return {q(16.0 + 219.0 * y), q(128.0 + 224.0 * pb), q(128.0 + 224.0 * pr)};
}

// A decoded-looking picture: FFmpeg's own frame with its padded rows, the top
// half one colour and the bottom half another, wrapped as the player wraps it.
inline std::shared_ptr<const kvr::video::YuvFrame> makeFrame(int layout, int width, int height, QColor top,
                                                             QColor bottom, bool fullRange, bool bt709)
{
    AVFrame* av = av_frame_alloc();
    av->format = layout == kvr::video::YuvFrame::kNv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    av->width = width;
    av->height = height;
    if (av_frame_get_buffer(av, 32) < 0) {
        av_frame_free(&av);
        return nullptr;
    }
    const Triple a = encode(top, bt709, fullRange);
    const Triple b = encode(bottom, bt709, fullRange);
    for (int row = 0; row < height; ++row)
        std::memset(av->data[0] + row * av->linesize[0], row < height / 2 ? a.y : b.y, size_t(width));
    const QSize chroma = kvr::video::YuvDraw::chromaSize(width, height);
    for (int row = 0; row < chroma.height(); ++row) {
        const Triple& t = row < chroma.height() / 2 ? a : b;
        if (layout == kvr::video::YuvFrame::kNv12) {
            for (int col = 0; col < chroma.width(); ++col) {
                av->data[1][row * av->linesize[1] + 2 * col] = uint8_t(t.u);
                av->data[1][row * av->linesize[1] + 2 * col + 1] = uint8_t(t.v);
            }
        } else {
            std::memset(av->data[1] + row * av->linesize[1], t.u, size_t(chroma.width()));
            std::memset(av->data[2] + row * av->linesize[2], t.v, size_t(chroma.width()));
        }
    }
    auto frame = std::make_shared<kvr::video::YuvFrame>();
    frame->format = layout;
    frame->width = width;
    frame->height = height;
    frame->fullRange = fullRange;
    frame->bt709 = bt709;
    for (int i = 0; i < 3; ++i) {
        frame->planes[i] = av->data[i];
        frame->strides[i] = av->linesize[i];
    }
    frame->keepAlive = std::shared_ptr<AVFrame>(av, [](AVFrame* f) { av_frame_free(&f); });
    return frame;
}

// One colour all over, full range, BT.601.
inline std::shared_ptr<const kvr::video::YuvFrame> plain(QColor colour, int layout = kvr::video::YuvFrame::kThreePlanes,
                                                         int width = 64, int height = 48)
{
    return makeFrame(layout, width, height, colour, colour, true, false);
}

inline bool near(QColor got, QColor want, int tolerance)
{
    return std::abs(got.red() - want.red()) <= tolerance && std::abs(got.green() - want.green()) <= tolerance
        && std::abs(got.blue() - want.blue()) <= tolerance;
}

inline QString describe(QColor c)
{
    return QStringLiteral("(%1, %2, %3, a %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

} // namespace yuvtest
