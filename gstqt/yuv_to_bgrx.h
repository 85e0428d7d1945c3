// Camera pictures (YUV) to the window's pixels (BGRx) at their own size, through libyuv: about
// four times faster than GStreamer's converter, which stays the path for everything else
// (scaling, other formats, colour matrices libyuv lacks). libyuv samples chroma without
// interpolation and rounds its matrices to fewer bits: a level or two off, right for a preview
// and never for a saved picture.
#pragma once

#include <gst/video/video.h>

#include <cstdint>

namespace media::gstpreview {

// Converts `frame` into `out` (`stride` bytes a row, frame width x height pixels) and returns
// true when libyuv can do it as GStreamer would; false, with `out` untouched, otherwise.
bool YuvToBgrx(const GstVideoFrame& frame, uint8_t* out, int stride);

}  // namespace media::gstpreview
