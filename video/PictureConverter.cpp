#include "video/PictureConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace kvr::video {

namespace {

// The decoder's pixel format with the JPEG ("full range") variants folded into
// their plain twins and the range kept apart.
struct Layout {
    int fmt = AV_PIX_FMT_NONE;
    bool full = false;
};

Layout layoutOf(const AVFrame* src)
{
    Layout l{src->format, src->color_range == AVCOL_RANGE_JPEG};
    switch (l.fmt) {
    case AV_PIX_FMT_YUVJ420P:
        l = {AV_PIX_FMT_YUV420P, true};
        break;
    case AV_PIX_FMT_YUVJ422P:
        l = {AV_PIX_FMT_YUV422P, true};
        break;
    case AV_PIX_FMT_YUVJ444P:
        l = {AV_PIX_FMT_YUV444P, true};
        break;
    case AV_PIX_FMT_YUVJ440P:
        l = {AV_PIX_FMT_YUV440P, true};
        break;
    default:
        break;
    }
    return l;
}

void setColours(SwsContext* sws, bool fullRange)
{
    const int* coeffs = sws_getCoefficients(SWS_CS_DEFAULT);
    sws_setColorspaceDetails(sws, coeffs, fullRange ? 1 : 0, coeffs, 0, 0, 1 << 16, 1 << 16);
}

QImage convert(SwsContext* sws, const AVFrame* src, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(sws, src->data, src->linesize, 0, src->height, dst, dstStride);
    return image;
}

} // namespace

PictureConverter::~PictureConverter()
{
    sws_freeContext(m_sws);
}

QImage PictureConverter::still(const AVFrame* src)
{
    const Layout l = layoutOf(src);
    SwsContext* one = sws_getContext(src->width, src->height, AVPixelFormat(l.fmt), src->width, src->height,
                                     AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!one)
        return QImage();
    setColours(one, l.full);
    QImage image = convert(one, src, QSize(src->width, src->height));
    sws_freeContext(one);
    return image;
}

std::shared_ptr<YuvFrame> PictureConverter::planes(const AVFrame* src)
{
    const Layout l = layoutOf(src);
    if (l.fmt != AV_PIX_FMT_YUV420P && l.fmt != AV_PIX_FMT_NV12)
        return nullptr;
    AVFrame* clone = av_frame_clone(src);
    if (!clone)
        return nullptr;
    auto y = std::make_shared<YuvFrame>();
    y->format = l.fmt == AV_PIX_FMT_NV12 ? YuvFrame::kNv12 : YuvFrame::kThreePlanes;
    y->width = clone->width;
    y->height = clone->height;
    y->fullRange = l.full;
    y->bt709 =
        clone->colorspace == AVCOL_SPC_BT709 || (clone->colorspace == AVCOL_SPC_UNSPECIFIED && clone->height >= 720);
    for (int i = 0; i < 3; ++i) {
        y->planes[i] = clone->data[i];
        y->strides[i] = clone->linesize[i];
    }
    if (y->format == YuvFrame::kNv12) {
        y->planes[2] = nullptr;
        y->strides[2] = 0;
    }
    y->keepAlive = std::shared_ptr<AVFrame>(clone, [](AVFrame* fr) { av_frame_free(&fr); });
    return y;
}

QImage PictureConverter::scaled(const AVFrame* src, QSize out, bool fast)
{
    const Layout l = layoutOf(src);
    const ScalerKey key{src->width, src->height, l.fmt, l.full, out.width(), out.height()};
    if (!m_sws || !(key == m_key)) {
        sws_freeContext(m_sws);
        const int flags = (fast && out.width() != src->width) ? SWS_FAST_BILINEAR : SWS_BILINEAR;
        m_sws = sws_getContext(src->width, src->height, AVPixelFormat(l.fmt), out.width(), out.height(),
                               AV_PIX_FMT_BGRA, flags, nullptr, nullptr, nullptr);
        if (!m_sws)
            return QImage();
        setColours(m_sws, l.full);
        m_key = key;
    }
    return convert(m_sws, src, out);
}

} // namespace kvr::video
