// Value types of the media platform: identifiers and media-type helpers.
#include "capture/platform/media_types.h"

#include <gtest/gtest.h>

namespace media {
namespace {

TEST(GuidTest, PrintsAndParsesTheRegistryForm) {
  // The video-info format type as the framework documents it.
  EXPECT_EQ(guid::kFormatVideoInfo.ToString(), "{05589F80-C356-11CE-BF01-00AA0055595A}");
  const auto parsed = Guid::Parse("{860bb310-5d01-11d0-bd3b-00a0c911ce86}");
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(*parsed, guid::kVideoInputDeviceCategory);
}

TEST(GuidTest, RejectsMalformedText) {
  for (const char* text : {"", "{}", "05589F80-C356-11CE-BF01-00AA0055595A",
                           "{05589F80-C356-11CE-BF01-00AA0055595}", "{05589F80-C356-11CE-BF01+00AA0055595A}",
                           "{05589G80-C356-11CE-BF01-00AA0055595A}"}) {
    EXPECT_FALSE(Guid::Parse(text).has_value()) << text;
  }
}

TEST(GuidTest, FourccSubtypeKeepsTheCodeInTheFirstWord) {
  // YUY2's subtype is {32595559-0000-0010-8000-00AA00389B71}: 'Y' = 0x59 in the lowest byte.
  EXPECT_EQ(guid::kSubtypeYUY2.ToString(), "{32595559-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(guid::kMediaTypeVideo.ToString(), "{73646976-0000-0010-8000-00AA00389B71}");
}

struct ImageBytesCase {
  int32_t width, height;
  uint16_t bits;
  uint32_t bytes;
};

class DibImageBytesTest : public testing::TestWithParam<ImageBytesCase> {};

TEST_P(DibImageBytesTest, RowsArePaddedToFourBytes) {
  const auto& c = GetParam();
  EXPECT_EQ(DibImageBytes(c.width, c.height, c.bits), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DibImageBytesTest,
                         testing::Values(ImageBytesCase{320, 240, 24, 230400},
                                         ImageBytesCase{1, 1, 24, 4},   // 3 bytes -> 4
                                         ImageBytesCase{3, 2, 8, 8},    // 3 -> 4 per row
                                         ImageBytesCase{5, -2, 24, 32}, // 15 -> 16, |height|
                                         ImageBytesCase{640, 480, 16, 614400},
                                         ImageBytesCase{100000, 100000, 32, 0}));  // overflow

TEST(MediaTypeTest, VideoInfoTypeCarriesTheBitmapHeader) {
  const MediaType mt = MakeVideoMediaType(guid::kSubtypeRGB24, 320, 240, 24, 0, 333333);
  ASSERT_TRUE(mt.IsVideoInfo());
  EXPECT_EQ(mt.majortype, guid::kMediaTypeVideo);
  EXPECT_EQ(mt.videoInfo->bmiHeader.biSize, 40u);
  EXPECT_EQ(mt.videoInfo->bmiHeader.biSizeImage, 230400u);
  EXPECT_EQ(mt.lSampleSize, 230400u);
  EXPECT_EQ(mt.videoInfo->AvgTimePerFrame, 333333);
  MediaType other = mt;
  other.videoInfo.reset();
  EXPECT_FALSE(other.IsVideoInfo());
}

}  // namespace
}  // namespace media

namespace media {
namespace {

TEST(CutToCharsTest, CutsCharactersNotBytes) {
  EXPECT_EQ(CutToChars("camera", 3), "cam");
  EXPECT_EQ(CutToChars("camera", 6), "camera");
  EXPECT_EQ(CutToChars("", 3), "");
  // Three-byte characters: two characters are six bytes, never a split character.
  const std::string name = "\xE6\x91\x84\xE5\x83\x8F\xE5\xA4\xB4";  // 3 Chinese characters
  EXPECT_EQ(CutToChars(name, 2), name.substr(0, 6));
  std::string longName;
  for (int i = 0; i < 150; ++i) longName += "\xE6\x91\x84";
  const std::string cut = CutToChars(longName, 119);
  EXPECT_EQ(cut.size(), 119u * 3);
}

}  // namespace
}  // namespace media
