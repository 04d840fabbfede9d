#pragma once

#include <QMetaType>

#include <cstdint>
#include <memory>

struct AVFrame;

namespace kvr::video {

// One decoded picture handed to the views for drawing on the graphics chip.
//
// The plane pointers point straight into the decoder's frame buffers: no copy
// is made. `keepAlive` holds a cloned reference of that frame (its deleter
// calls av_frame_free), so the decoder may go on decoding while a view still
// draws this record. Records are immutable once built and are shared as
// std::shared_ptr<const YuvFrame> between the decode thread, the queued
// notice and the views.
struct YuvFrame {
    // Plane layouts.
    static constexpr int32_t kThreePlanes = 0; // Y, U, V; chroma half width and half height
    static constexpr int32_t kNv12 = 1;        // Y and interleaved UV, half width and half height

    int32_t format = kThreePlanes;
    int32_t width = 0;
    int32_t height = 0;
    bool fullRange = false;                                 // true: samples use 0..255; false: limited (studio) range
    bool bt709 = false;                                     // true: BT.709 matrix; false: BT.601
    const uint8_t* planes[3] = {nullptr, nullptr, nullptr}; // plane 2 is null for NV12
    int32_t strides[3] = {0, 0, 0};                         // bytes per row of each plane
    std::shared_ptr<AVFrame> keepAlive;
};

using YuvFramePtr = std::shared_ptr<const YuvFrame>;

} // namespace kvr::video

Q_DECLARE_METATYPE(std::shared_ptr<const kvr::video::YuvFrame>)
