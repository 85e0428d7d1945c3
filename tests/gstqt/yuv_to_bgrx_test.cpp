// The preview's fast conversion against GStreamer's converter: the formats and colour
// matrices it takes, what it leaves to the converter, and nothing written past a row.
#include <gtest/gtest.h>

#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdlib>
#include <vector>

#include "gstqt/yuv_to_bgrx.h"

namespace {

// A picture of `info`'s format made from smooth in-gamut colour (what a camera sees), and its
// frame mapping.
struct Picture {
  explicit Picture(const GstVideoInfo& i) : info(i), bytes(i.size) {
    GstVideoInfo rgb;
    gst_video_info_set_format(&rgb, GST_VIDEO_FORMAT_BGRx, guint(i.width), guint(i.height));
    std::vector<uint8_t> pixels(rgb.size);
    for (int y = 0; y < i.height; ++y)
      for (int x = 0; x < i.width; ++x) {
        uint8_t* p = pixels.data() + size_t(y) * rgb.stride[0] + size_t(x) * 4;
        p[0] = uint8_t(40 + 170 * x / i.width);
        p[1] = uint8_t(30 + 190 * y / i.height);
        p[2] = uint8_t(200 - 150 * (x + y) / (i.width + i.height));
      }
    GstVideoFrame from = Map(rgb, pixels, GST_MAP_READ);
    frame = Map(info, bytes, GST_MAP_READWRITE);
    GstVideoConverter* c = gst_video_converter_new(&rgb, &info, nullptr);
    gst_video_converter_frame(c, &from, &frame);
    gst_video_converter_free(c);
    gst_video_frame_unmap(&from);
  }
  ~Picture() { gst_video_frame_unmap(&frame); }
  static GstVideoFrame Map(GstVideoInfo& info, std::vector<uint8_t>& bytes, GstMapFlags flags) {
    GstBuffer* buffer = gst_buffer_new_wrapped_full(GstMemoryFlags(0), bytes.data(), bytes.size(),
                                                    0, bytes.size(), nullptr, nullptr);
    GstVideoFrame f;
    EXPECT_TRUE(gst_video_frame_map(&f, &info, buffer, flags));
    gst_buffer_unref(buffer);  // the mapping holds it
    return f;
  }
  GstVideoInfo info;
  std::vector<uint8_t> bytes;
  GstVideoFrame frame{};
};

struct Case {
  GstVideoFormat format;
  int width, height;
  GstVideoColorMatrix matrix;
  GstVideoColorRange range;
  bool fast;  // whether libyuv takes it
};

TEST(YuvToBgrxTest, MatchesGStreamerWhereItConvertsAndLeavesTheRestAlone) {
  gst_init(nullptr, nullptr);
  constexpr auto kLimited = GST_VIDEO_COLOR_RANGE_16_235, kFull = GST_VIDEO_COLOR_RANGE_0_255;
  const Case cases[] = {
      {GST_VIDEO_FORMAT_I420, 1280, 720, GST_VIDEO_COLOR_MATRIX_BT709, kLimited, true},
      {GST_VIDEO_FORMAT_I420, 33, 17, GST_VIDEO_COLOR_MATRIX_BT601, kLimited, true},
      {GST_VIDEO_FORMAT_I420, 64, 48, GST_VIDEO_COLOR_MATRIX_BT601, kFull, true},
      {GST_VIDEO_FORMAT_YV12, 66, 50, GST_VIDEO_COLOR_MATRIX_BT601, kLimited, true},
      {GST_VIDEO_FORMAT_NV12, 64, 48, GST_VIDEO_COLOR_MATRIX_BT709, kFull, true},
      {GST_VIDEO_FORMAT_NV21, 65, 47, GST_VIDEO_COLOR_MATRIX_BT2020, kLimited, true},
      {GST_VIDEO_FORMAT_YUY2, 64, 48, GST_VIDEO_COLOR_MATRIX_BT601, kLimited, true},
      {GST_VIDEO_FORMAT_UYVY, 62, 48, GST_VIDEO_COLOR_MATRIX_BT601, kLimited, true},
      {GST_VIDEO_FORMAT_YUY2, 64, 48, GST_VIDEO_COLOR_MATRIX_BT709, kLimited, false},
      {GST_VIDEO_FORMAT_I420, 64, 48, GST_VIDEO_COLOR_MATRIX_SMPTE240M, kLimited, false},
      {GST_VIDEO_FORMAT_I420, 64, 48, GST_VIDEO_COLOR_MATRIX_BT601, GST_VIDEO_COLOR_RANGE_UNKNOWN,
       false},
      {GST_VIDEO_FORMAT_Y444, 64, 48, GST_VIDEO_COLOR_MATRIX_BT601, kLimited, false},
  };
  constexpr uint8_t kUntouched = 0xAB;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(gst_video_format_to_string(c.format)) + " " +
                 std::to_string(c.width) + "x" + std::to_string(c.height) + " matrix " +
                 std::to_string(c.matrix) + " range " + std::to_string(c.range));
    GstVideoInfo info;
    gst_video_info_set_format(&info, c.format, guint(c.width), guint(c.height));
    info.colorimetry.matrix = c.matrix;
    info.colorimetry.range = c.range;
    Picture picture(info);
    // Rows of the window wider than the picture: nothing may land between them.
    const int stride = c.width * 4 + 20;
    std::vector<uint8_t> ours(size_t(stride) * c.height, kUntouched);
    ASSERT_EQ(media::gstpreview::YuvToBgrx(picture.frame, ours.data(), stride), c.fast);
    if (!c.fast) {
      for (uint8_t b : ours) ASSERT_EQ(b, kUntouched);
      continue;
    }
    GstVideoInfo bgrx;
    gst_video_info_set_format(&bgrx, GST_VIDEO_FORMAT_BGRx, guint(c.width), guint(c.height));
    std::vector<uint8_t> theirs(bgrx.size);
    GstVideoFrame to = Picture::Map(bgrx, theirs, GST_MAP_WRITE);
    GstVideoConverter* converter = gst_video_converter_new(&info, &bgrx, nullptr);
    gst_video_converter_frame(converter, &picture.frame, &to);
    gst_video_converter_free(converter);
    gst_video_frame_unmap(&to);
    int worst = 0;
    double sum = 0;
    for (int y = 0; y < c.height; ++y) {
      const uint8_t* a = ours.data() + size_t(y) * stride;
      const uint8_t* b = theirs.data() + size_t(y) * bgrx.stride[0];
      for (int x = 0; x < c.width * 4; ++x) {
        if (x % 4 == 3) continue;  // the unused byte
        const int d = std::abs(int(a[x]) - int(b[x]));
        worst = std::max(worst, d);
        sum += d;
      }
      for (int x = c.width * 4; x < stride; ++x) ASSERT_EQ(a[x], kUntouched) << "row " << y;
    }
    // libyuv keeps fewer bits of the matrices: a level or three off, more in saturated colour.
    // A wrong matrix, range or chroma order is five or more on average.
    EXPECT_LE(worst, 16);
    EXPECT_LE(sum / (3.0 * c.width * c.height), 3.5);
  }
}

}  // namespace
