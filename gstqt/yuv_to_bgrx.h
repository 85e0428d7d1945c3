// Camera pictures (YUV) to the window's pixels (BGRx) at their own size, through libyuv: about
// four times faster than GStreamer's converter, which stays the path for everything else
// (scaling, other formats, colour matrices libyuv lacks). libyuv samples chroma without
// interpolation and keeps fewer bits of its matrices: a few levels off GStreamer's result, more
// in saturated colour; right for a preview, never used for a saved picture.
#pragma once

#include <gst/video/video.h>

#include <cstdint>

namespace media::gstpreview {

// Converts `frame` into `out` (`stride` bytes a row, frame width x height pixels) and returns
// true when libyuv has the format and colour matrix; false, with `out` untouched, otherwise.
bool YuvToBgrx(const GstVideoFrame& frame, uint8_t* out, int stride);

}  // namespace media::gstpreview
