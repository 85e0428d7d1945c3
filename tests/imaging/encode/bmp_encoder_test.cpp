#include "imaging/encode/bmp_encoder.h"

#include <gtest/gtest.h>

#include "encode_test_util.h"

using encodetest::Le16;
using encodetest::Le32;

namespace {

struct BmpCase {
  int width, height;
  uint16_t bpp;
  uint32_t offset, rowBytes, fileSize;
  uint16_t writtenBpp;
};
void PrintTo(const BmpCase& c, std::ostream* os) { *os << c.width << 'x' << c.height << 'x' << c.bpp; }

class BmpLayoutTest : public testing::TestWithParam<BmpCase> {};

TEST_P(BmpLayoutTest, HeadersGiveTheFormatsSizes) {
  const BmpCase& c = GetParam();
  auto bmp = encodetest::MakeNoise(c.width, c.height, c.bpp, 3);
  CWinBmpEncoder encoder;
  const std::vector<uint8_t> file = encodetest::EncodeToMemory(encoder, *bmp);
  ASSERT_EQ(file.size(), c.fileSize);
  EXPECT_EQ(encoder.MaxEncodedSize(*bmp, "x.bmp"), c.fileSize);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Le32(file, 2), c.fileSize);
  EXPECT_EQ(Le32(file, 6), 0u);
  EXPECT_EQ(Le32(file, 10), c.offset);
  EXPECT_EQ(Le32(file, 14), 40u);
  EXPECT_EQ(Le32(file, 18), static_cast<uint32_t>(c.width));
  EXPECT_EQ(Le32(file, 22), static_cast<uint32_t>(c.height));
  EXPECT_EQ(Le16(file, 26), 1);
  EXPECT_EQ(Le16(file, 28), c.writtenBpp);
  EXPECT_EQ(Le32(file, 30), 0u);
  EXPECT_EQ(Le32(file, 34), c.rowBytes * c.height);
  for (size_t at = 38; at < 54; ++at) EXPECT_EQ(file[at], 0) << at;
}

// 32 bits are written as 24: 3 x 2 gives rows of 9 bytes + 3 of padding.
INSTANTIATE_TEST_SUITE_P(Sizes, BmpLayoutTest,
                         testing::Values(BmpCase{3, 2, 32, 54, 12, 78, 24},
                                         BmpCase{5, 1, 8, 1078, 8, 1086, 8},
                                         BmpCase{33, 1, 1, 62, 8, 70, 1},
                                         BmpCase{1, 1, 32, 54, 4, 58, 24},
                                         BmpCase{4, 3, 32, 54, 12, 90, 24}));

TEST(BmpEncoder, RowsBottomUpWithPaletteAndZeroPadding) {
  // Row 0 (top) all index 1, row 1 (bottom) index 2; width 5 leaves 3 padding bytes.
  auto bmp = encodetest::MakeIndexed({{1, 1, 1, 1, 1}, {2, 2, 2, 2, 2}});
  for (int y = 0; y < 2; ++y)  // garbage in the storage's padding must not reach the file
    for (int i = 5; i < 8; ++i) bmp->GetRowTable()[y][i] = 0xAA;
  RgbQuad palette[256] = {};
  palette[1] = {10, 20, 30, 255};
  palette[2] = {40, 50, 60, 7};
  bmp->SetPalette(palette);
  CWinBmpEncoder encoder;
  const std::vector<uint8_t> file = encodetest::EncodeToMemory(encoder, *bmp);
  ASSERT_EQ(file.size(), 1078u + 16);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 58, file.begin() + 66),
            (std::vector<uint8_t>{10, 20, 30, 255, 40, 50, 60, 7}));
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 1078, file.end()),
            (std::vector<uint8_t>{2, 2, 2, 2, 2, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0}));
}

TEST(BmpEncoder, TrueColourDropsAlpha) {
  auto bmp = encodetest::MakeTrueColour(1, 2, {1, 2, 3, 4, 5, 6});
  bmp->GetRowTable()[0][3] = 99;
  CWinBmpEncoder encoder;
  const std::vector<uint8_t> file = encodetest::EncodeToMemory(encoder, *bmp);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 54, file.end()),
            (std::vector<uint8_t>{4, 5, 6, 0, 1, 2, 3, 0}));
}

}  // namespace
