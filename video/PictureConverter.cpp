#include "video/PictureConverter.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

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

// Into `image` (RGB32), which the scaler fills whole.
QImage convert(SwsContext* sws, const AVFrame* src, QImage image)
{
    uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(sws, src->data, src->linesize, 0, src->height, dst, dstStride);
    return image;
}

// Spare buffers kept for the current picture size.
constexpr size_t kSpareBuffers = 4;
// A buffer's bookkeeping sits in front of its pixels, which keep this alignment.
constexpr size_t kBufferAlignment = 64;

} // namespace

// ---- Picture buffers ------------------------------------------------------

struct PictureBuffers::Shelf {
    std::mutex mutex;
    qsizetype bytes = 0;      // the size of the buffers kept; others go when they come back
    std::vector<void*> spare; // buffers (their bookkeeping's address) ready for a picture
    bool open = true;         // false once the PictureBuffers went: nothing is kept any more
};

namespace {

struct Buffer {
    std::shared_ptr<PictureBuffers::Shelf> shelf;
    qsizetype bytes = 0;
    uchar* pixels() { return reinterpret_cast<uchar*>(this) + kBufferAlignment; }
};
static_assert(sizeof(Buffer) <= kBufferAlignment);

void freeBuffer(Buffer* b)
{
    b->~Buffer();
    std::free(b);
}

// The picture made in a buffer is gone: the buffer goes back on its shelf,
// or is freed when the shelf no longer wants it.
void bufferReturned(void* info)
{
    auto* b = static_cast<Buffer*>(info);
    const std::shared_ptr<PictureBuffers::Shelf> shelf = b->shelf;
    {
        std::lock_guard<std::mutex> lock(shelf->mutex);
        if (shelf->open && b->bytes == shelf->bytes && shelf->spare.size() < kSpareBuffers) {
            shelf->spare.push_back(b);
            return;
        }
    }
    freeBuffer(b);
}

} // namespace

PictureBuffers::PictureBuffers() : m_shelf(std::make_shared<Shelf>()) {}

PictureBuffers::~PictureBuffers()
{
    std::vector<void*> spare;
    {
        std::lock_guard<std::mutex> lock(m_shelf->mutex);
        m_shelf->open = false;
        spare.swap(m_shelf->spare);
    }
    for (void* b : spare)
        freeBuffer(static_cast<Buffer*>(b));
}

QImage PictureBuffers::take(QSize size)
{
    if (size.isEmpty())
        return QImage();
    const qsizetype bytesPerLine = qsizetype(size.width()) * 4;
    const qsizetype bytes = bytesPerLine * size.height();
    Buffer* b = nullptr;
    std::vector<void*> stale;
    {
        std::lock_guard<std::mutex> lock(m_shelf->mutex);
        if (bytes != m_shelf->bytes) {
            stale.swap(m_shelf->spare);
            m_shelf->bytes = bytes;
        } else if (!m_shelf->spare.empty()) {
            b = static_cast<Buffer*>(m_shelf->spare.back());
            m_shelf->spare.pop_back();
        }
    }
    for (void* old : stale)
        freeBuffer(static_cast<Buffer*>(old));
    if (!b) {
        const size_t total =
            (kBufferAlignment + size_t(bytes) + kBufferAlignment - 1) / kBufferAlignment * kBufferAlignment;
        void* raw = std::aligned_alloc(kBufferAlignment, total);
        if (!raw)
            return QImage();
        b = new (raw) Buffer{m_shelf, bytes};
    }
    return QImage(b->pixels(), size.width(), size.height(), bytesPerLine, QImage::Format_RGB32, bufferReturned, b);
}

int PictureBuffers::spare() const
{
    std::lock_guard<std::mutex> lock(m_shelf->mutex);
    return int(m_shelf->spare.size());
}

// ---- Conversion -----------------------------------------------------------

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
    QImage image = convert(one, src, QImage(src->width, src->height, QImage::Format_RGB32));
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
    QImage image = m_buffers.take(out);
    if (image.isNull())
        return image;
    return convert(m_sws, src, std::move(image));
}

} // namespace kvr::video
