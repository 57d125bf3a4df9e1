#pragma once

#include <cstdint>
#include <memory>

#include "platform/av/av_decoder.h"

namespace varno::av {

// A decoded picture in planar 8-bit YUV 4:2:0, held by reference: the planes
// are the decoder's own buffers, shared and never copied, and stay valid and
// unchanged for as long as any copy of this object lives (the decoder draws
// its next pictures into other buffers). Rows keep the decoder's strides
// (usually wider than the picture). Pictures of other formats (4:2:2, 10 bit)
// are converted once into a buffer of their own.
struct DecodedPicture
{
    const uint8_t *y = nullptr;
    const uint8_t *u = nullptr;
    const uint8_t *v = nullptr;
    int yStride = 0;
    int uStride = 0;
    int vStride = 0;
    int width = 0;
    int height = 0;
    bool keyFrame = false;
    int32_t number = 0;              // pictures output by the decoder so far, from 1
    std::shared_ptr<const void> hold; // keeps the planes alive

    bool isNull() const { return y == nullptr; }
};

// Live decoding of video as AV_FrameDecoderStream with AV_FRAME_VIDEO (same
// results, same handling of repeated frames and calls without data), but the
// picture is handed out by reference instead of in packed rows owned by the
// decoder: nothing is copied, and the caller may keep it.
int decodeStreamPicture(AV_HANDLE decoder, const uint8_t *data, int32_t size, DecodedPicture *out);

} // namespace varno::av
