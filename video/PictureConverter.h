#pragma once

#include "video/YuvFrame.h"

#include <QImage>
#include <QSize>

#include <memory>

struct AVFrame;
struct SwsContext;

namespace kvr::video {

// Memory for converted pictures, used again once the pictures made in it
// are gone (on any thread). A picture is written into memory the process
// already has, not into fresh pages that the system must first map and clear
// for every picture: for a wall of four large tiles that was a quarter of
// its processor time. A few spare buffers of the current size are kept;
// others go as they come back, and all of them once the buffers and their
// pictures are gone.
class PictureBuffers {
public:
    PictureBuffers();
    ~PictureBuffers();
    PictureBuffers(const PictureBuffers&) = delete;
    PictureBuffers& operator=(const PictureBuffers&) = delete;

    // An RGB32 picture of `size` (contents undefined) in one of the buffers.
    QImage take(QSize size);
    // Buffers kept for reuse now.
    int spare() const;

    struct Shelf;

private:
    std::shared_ptr<Shelf> m_shelf;
};

// Turns decoded pictures into what owners are handed: RGB images scaled to
// the size they asked for, YUV planes kept alive with the frame for the GPU
// view, or a full-size still for a snapshot. Decode thread only.
class PictureConverter {
public:
    PictureConverter() = default;
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // The picture at full size; null when it could not be converted.
    static QImage still(const AVFrame* frame);
    // The picture's planes without a copy, for pictures in a layout the GPU
    // view draws (three planes 4:2:0 or NV12); null for any other.
    static std::shared_ptr<YuvFrame> planes(const AVFrame* frame);
    // The picture scaled to `size`; `fast` trades quality for time when it
    // shrinks. Null when it could not be converted.
    QImage scaled(const AVFrame* frame, QSize size, bool fast);

private:
    PictureBuffers m_buffers;
    SwsContext* m_sws = nullptr;
    struct ScalerKey {
        int w = 0, h = 0, fmt = -1;
        bool full = false;
        int ow = 0, oh = 0;
        bool operator==(const ScalerKey&) const = default;
    } m_key;
};

} // namespace kvr::video
