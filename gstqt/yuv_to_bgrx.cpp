#include "gstqt/yuv_to_bgrx.h"

#include <libyuv.h>

namespace media::gstpreview {

namespace {

// libyuv's matrix for the frame's colorimetry; null for what it has none of.
const libyuv::YuvConstants* Matrix(const GstVideoColorimetry& c) {
  const bool full = c.range == GST_VIDEO_COLOR_RANGE_0_255;
  if (!full && c.range != GST_VIDEO_COLOR_RANGE_16_235) return nullptr;
  using namespace libyuv;
  switch (c.matrix) {
    case GST_VIDEO_COLOR_MATRIX_BT601: return full ? &kYuvJPEGConstants : &kYuvI601Constants;
    case GST_VIDEO_COLOR_MATRIX_BT709: return full ? &kYuvF709Constants : &kYuvH709Constants;
    case GST_VIDEO_COLOR_MATRIX_BT2020: return full ? &kYuvV2020Constants : &kYuv2020Constants;
    default: return nullptr;
  }
}

}  // namespace

bool YuvToBgrx(const GstVideoFrame& frame, uint8_t* out, int stride) {
  const GstVideoInfo& info = frame.info;
  if (GST_VIDEO_INFO_INTERLACE_MODE(&info) != GST_VIDEO_INTERLACE_MODE_PROGRESSIVE) return false;
  const libyuv::YuvConstants* matrix = Matrix(info.colorimetry);
  if (!matrix) return false;
  const int w = GST_VIDEO_FRAME_WIDTH(&frame), h = GST_VIDEO_FRAME_HEIGHT(&frame);
  // Planes by number (semi-planar and packed formats), components by name (planar ones).
  auto plane = [&frame](int p) {
    return static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
  };
  auto pitch = [&frame](int p) { return GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p); };
  auto comp = [&frame](int c) {
    return static_cast<const uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&frame, c));
  };
  auto compPitch = [&frame](int c) { return GST_VIDEO_FRAME_COMP_STRIDE(&frame, c); };
  switch (GST_VIDEO_FRAME_FORMAT(&frame)) {
    case GST_VIDEO_FORMAT_I420:
    case GST_VIDEO_FORMAT_YV12:  // the same planes in another order: found by component
      return libyuv::I420ToARGBMatrix(comp(GST_VIDEO_COMP_Y), compPitch(GST_VIDEO_COMP_Y),
                                      comp(GST_VIDEO_COMP_U), compPitch(GST_VIDEO_COMP_U),
                                      comp(GST_VIDEO_COMP_V), compPitch(GST_VIDEO_COMP_V), out,
                                      stride, matrix, w, h) == 0;
    case GST_VIDEO_FORMAT_NV12:
      return libyuv::NV12ToARGBMatrix(plane(0), pitch(0), plane(1), pitch(1), out,
                                      stride, matrix, w, h) == 0;
    case GST_VIDEO_FORMAT_NV21:
      return libyuv::NV21ToARGBMatrix(plane(0), pitch(0), plane(1), pitch(1), out,
                                      stride, matrix, w, h) == 0;
    case GST_VIDEO_FORMAT_YUY2:
    case GST_VIDEO_FORMAT_UYVY: {
      // Packed 4:2:2 has BT.601 (limited range) only, what most cameras send it in.
      if (matrix != &libyuv::kYuvI601Constants) return false;
      const auto convert = GST_VIDEO_FRAME_FORMAT(&frame) == GST_VIDEO_FORMAT_YUY2
                               ? libyuv::YUY2ToARGB : libyuv::UYVYToARGB;
      return convert(plane(0), pitch(0), out, stride, w, h) == 0;
    }
    default:
      return false;
  }
}

}  // namespace media::gstpreview
