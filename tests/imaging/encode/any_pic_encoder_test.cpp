#include "imaging/encode/any_pic_encoder.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>

#include "encode_test_util.h"
#include "imaging/decode/any_pic_decoder.h"
#include "imaging/core/text_exception.h"

using encodetest::TempDir;

namespace {

struct NameCase {
  const char* name;
  int type;  // -1: rejected with code 14
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class TypeFromFileNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(TypeFromFileNameTest, MapsTheThreeLetterExtension) {
  const NameCase& c = GetParam();
  if (c.type >= 0) {
    EXPECT_EQ(CAnyPicEncoder::TypeFromFileName(c.name), c.type);
    return;
  }
  try {
    CAnyPicEncoder::TypeFromFileName(c.name);
    FAIL() << c.name << " accepted";
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 14);
    EXPECT_STREQ(e.GetErrorText(), "Encoder error: This file's name is invalid.\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, TypeFromFileNameTest,
    testing::Values(NameCase{"a.bmp", 1}, NameCase{"x.tga", 3}, NameCase{"x.TIF", 4},
                    NameCase{"dir.d/x.jpg", 5}, NameCase{"x.png", 6}, NameCase{"x.pcx", 7},
                    NameCase{"PHOTO.Gif", 8}, NameCase{"image.pct", 0}, NameCase{"x.tiff", -1},
                    NameCase{"photo.jpeg", -1}, NameCase{"x.bm", -1}, NameCase{".bmp", -1},
                    NameCase{"", -1}, NameCase{"abmp", -1}, NameCase{"a.b.jpg", 5}));

TEST(GetSaveFilters, ReturnsTheFirstRowsOfTheFormatTable) {
  CAnyPicEncoder encoder;
  std::string names[20], patterns[20];
  EXPECT_EQ(encoder.GetSaveFilters(names, patterns, 0), 0);
  EXPECT_TRUE(names[0].empty());
  EXPECT_EQ(encoder.GetSaveFilters(names, patterns, 3), 3);
  EXPECT_EQ(names[2], "PNG File(*.png)");
  EXPECT_TRUE(names[3].empty());
  EXPECT_EQ(encoder.GetSaveFilters(names, patterns, 20), 7);
  const char* expectedNames[] = {"Bmp File(*.bmp)",   "JPEG File(*.jpg)", "PNG File(*.png)",
                                 "TIFF File(*.tif)",  "TARGA File(*.tga)", "PCX File(*.pcx)",
                                 "GIF File(*.gif)"};
  const char* expectedPatterns[] = {"*.bmp", "*.jpg", "*.png", "*.tif", "*.tga", "*.pcx", "*.gif"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(names[i], expectedNames[i]);
    EXPECT_EQ(patterns[i], expectedPatterns[i]);
  }
}

TEST(AnyPicEncoder, DispatchesByExtensionAndReusesEncoders) {
  TempDir dir;
  CAnyPicEncoder encoder;
  auto bmp = encodetest::MakeNoise(4, 3, 8, 7);
  encoder.EncodeFile((dir / "one.pcx").c_str(), *bmp);
  EXPECT_EQ(encoder.GetLastFileType(), 7);
  CPicEncoder* first = encoder.EncoderFor(7);
  encoder.EncodeFile((dir / "two.PCX").c_str(), *bmp);
  EXPECT_EQ(encoder.EncoderFor(7), first);
  EXPECT_STREQ(first->GetRuntimeClassName(), "CPCXEncoder");
  EXPECT_EQ(encodetest::ReadFile(dir / "one.pcx")[0], 10);
  EXPECT_EQ(encoder.EncoderFor(2), nullptr) << "PICT has no encoder";
}

TEST(AnyPicEncoder, UnknownExtensionRaisesCode8AndLeavesNoFile) {
  TempDir dir;
  CAnyPicEncoder encoder;
  auto bmp = encodetest::MakeNoise(4, 3, 8, 7);
  try {
    encoder.EncodeFile((dir / "image.pct").c_str(), *bmp);
    FAIL();
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 8);
    EXPECT_STREQ(e.GetErrorText(), "Encoder error: Unknown file type.\n");
  }
  EXPECT_EQ(dir.EntryCount(), 0u);
}

// Every valid picture must fit the buffer: noise is the worst case for the run-length and
// dictionary coders (and far from the old 1.2 x footprint estimate for GIF). What comes back
// from the file must be the picture: exactly for the lossless formats at their own depths,
// near it for JPEG. (GIF from 32 bits goes through the quantizer and is only sized.)
struct NoiseCase {
  const char* extension;
  uint16_t bpp;
};
void PrintTo(const NoiseCase& c, std::ostream* os) { *os << c.extension << ' ' << c.bpp; }

class NoisePictureTest : public testing::TestWithParam<NoiseCase> {};

// Per-channel means of a picture given as 0xRRGGBB.
std::array<double, 3> ChannelMeans(const std::vector<uint32_t>& picture) {
  std::array<double, 3> sum{};
  for (uint32_t c : picture)
    for (int i = 0; i < 3; ++i) sum[i] += double(c >> (16 - 8 * i) & 255);
  for (double& s : sum) s /= double(picture.size());
  return sum;
}

// True when `b` is `a` with each colour replaced by another, one for one (a 1-bit TIFF keeps
// the pixels but writes black and white, not the palette).
bool SamePartition(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  std::map<uint32_t, uint32_t> forward, backward;
  for (size_t i = 0; i < a.size(); ++i) {
    if (forward.emplace(a[i], b[i]).first->second != b[i]) return false;
    if (backward.emplace(b[i], a[i]).first->second != a[i]) return false;
  }
  return true;
}

TEST_P(NoisePictureTest, EncodesWithoutOverflowAndReadsBack) {
  const NoiseCase& c = GetParam();
  const std::string extension = c.extension;
  TempDir dir;
  for (auto [width, height] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{97, 61}, std::pair{256, 200}}) {
    auto bmp = encodetest::MakeNoise(width, height, c.bpp, width * 31 + height);
    const std::vector<uint32_t> original = encodetest::Colours(*bmp);
    const size_t footprint = bmp->GetMemorySize();
    const std::string path = dir / ("noise." + extension);
    CAnyPicEncoder encoder;
    ASSERT_NO_THROW(encoder.EncodeFile(path.c_str(), *bmp)) << width << "x" << height;
    const size_t size = std::filesystem::file_size(path);
    EXPECT_GT(size, 0u);
    if (extension == "gif" && c.bpp == 8 && width == 256) {
      EXPECT_GT(size, CPicEncoder::FootprintEstimate(footprint))
          << "noise LZW output outgrows the footprint estimate";
    }

    CWinBmp back;
    CAnyPicDecoder decoder;
    ASSERT_NO_THROW(decoder.DecodeFile(path.c_str(), back, 32)) << width << "x" << height;
    ASSERT_EQ(back.GetWidth(), width);
    ASSERT_EQ(back.GetHeight(), height);
    const std::vector<uint32_t> decoded = encodetest::Colours(back);
    if (extension == "jpg") {
      // Noise is beyond what JPEG keeps pixel by pixel; its average colour survives.
      const auto got = ChannelMeans(decoded), want = ChannelMeans(original);
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 8.0) << width << "x" << height;
    } else if (extension == "tif" && c.bpp == 1) {
      EXPECT_TRUE(SamePartition(original, decoded)) << width << "x" << height;
    } else if (!(extension == "gif" && c.bpp == 32)) {
      EXPECT_EQ(decoded, original) << width << "x" << height;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, NoisePictureTest,
    testing::Values(NoiseCase{"bmp", 1}, NoiseCase{"bmp", 8}, NoiseCase{"bmp", 32},
                    NoiseCase{"jpg", 8}, NoiseCase{"jpg", 32}, NoiseCase{"png", 8},
                    NoiseCase{"png", 32}, NoiseCase{"tif", 1}, NoiseCase{"tif", 8},
                    NoiseCase{"tif", 32}, NoiseCase{"tga", 8}, NoiseCase{"tga", 32},
                    NoiseCase{"pcx", 8}, NoiseCase{"pcx", 32}, NoiseCase{"gif", 1},
                    NoiseCase{"gif", 8}, NoiseCase{"gif", 32}),
    [](const testing::TestParamInfo<NoiseCase>& info) {
      return std::string(info.param.extension) + std::to_string(info.param.bpp);
    });

}  // namespace
