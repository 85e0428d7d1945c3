#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_test_util.h"

using decodetest::Argb;
using decodetest::Bytes;
using decodetest::Decode;
using decodetest::DecodeError;
using decodetest::Index;

// Files are described with designated initialisers that name only the fields a case cares
// about; the rest keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

struct BmpSpec {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bpp = 8;
  uint32_t compression = 0;
  uint32_t coloursUsed = 0;
  std::vector<uint32_t> palette;  // 0x00RRGGBB
  uint32_t dataOffset = 0;        // 0: directly after the palette
  uint32_t headerSize = 40;
};

std::vector<uint8_t> MakeBmp(const BmpSpec& s, const std::vector<uint8_t>& pixels) {
  Bytes b;
  const uint32_t offset = s.dataOffset ? s.dataOffset : 54 + 4 * uint32_t(s.palette.size());
  b.str("BM").le32(offset + uint32_t(pixels.size())).le32(0).le32(offset);
  b.le32(s.headerSize).le32(uint32_t(s.width)).le32(uint32_t(s.height)).le16(1).le16(s.bpp);
  b.le32(s.compression).le32(uint32_t(pixels.size())).le32(2835).le32(2835);
  b.le32(s.coloursUsed).le32(0);
  for (uint32_t c : s.palette) b.le32(c);
  b.v.insert(b.v.end(), pixels.begin(), pixels.end());
  return b.v;
}

constexpr uint32_t kWhite = 0xFFFFFF, kBlack = 0, kRed = 0xFF0000, kGreen = 0x00FF00,
                   kBlue = 0x0000FF;

TEST(BmpDecoder, OneBitUsesItsPaletteAtBothDepths) {
  // Palette (white, black); bits 1 0 1: black, white, black.
  const auto file = MakeBmp({.width = 3, .bpp = 1, .palette = {kWhite, kBlack}},
                            {0xA0, 0, 0, 0});
  CWinBmp eight;
  Decode(file, eight, 0);
  ASSERT_EQ(eight.GetBitsPerPixel(), 8);
  EXPECT_EQ(Index(eight, 0, 0), 1);
  EXPECT_EQ(Index(eight, 1, 0), 0);
  EXPECT_EQ(eight.GetPalette()[0].red, 255);
  CWinBmp wide;
  Decode(file, wide, 32);
  EXPECT_EQ(Argb(wide, 0, 0), 0xFF000000u);
  EXPECT_EQ(Argb(wide, 1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Argb(wide, 2, 0), 0xFF000000u);
}

TEST(BmpDecoder, ColoursUsedLimitsPaletteAndPixelsFollowIt) {
  // 16 palette entries (64 bytes), then one row of 2 pixels padded to 4 bytes.
  std::vector<uint32_t> palette(16, kBlack);
  palette[3] = kRed;
  palette[15] = kBlue;
  const auto file =
      MakeBmp({.width = 2, .bpp = 8, .coloursUsed = 16, .palette = palette}, {3, 15, 0, 0});
  CWinBmp bmp;
  Decode(file, bmp, 32);
  EXPECT_EQ(Argb(bmp, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(Argb(bmp, 1, 0), 0xFF0000FFu);
}

TEST(BmpDecoder, PixelsStartAtTheOffsetWhenItIsUsable) {
  // A 4-byte gap after the palette, the offset pointing behind it.
  std::vector<uint8_t> gap = {9, 9, 9, 9, 1, 0, 0, 0};
  CWinBmp bmp;
  Decode(MakeBmp({.width = 1, .bpp = 8, .coloursUsed = 2, .palette = {kBlack, kGreen},
                  .dataOffset = 54 + 8 + 4},
                 gap),
         bmp, 32);
  EXPECT_EQ(Argb(bmp, 0, 0), 0xFF00FF00u);
  // An offset past the end of the file, or inside the palette: read behind the palette.
  for (uint32_t offset : {4000u, 20u}) {
    CWinBmp other;
    Decode(MakeBmp({.width = 1, .bpp = 8, .coloursUsed = 2, .palette = {kBlack, kGreen},
                    .dataOffset = offset},
                   {1, 0, 0, 0}),
           other, 32);
    EXPECT_EQ(Argb(other, 0, 0), 0xFF00FF00u) << offset;
  }
  // A 24-bit file with a colour table: the offset skips it.
  std::vector<uint8_t> afterTable = {0, 0, 0, 0, 0, 0, 0, 0, 3, 2, 1, 0};
  CWinBmp rgb;
  Decode(MakeBmp({.width = 1, .bpp = 24, .dataOffset = 54 + 8}, afterTable), rgb, 0);
  EXPECT_EQ(Argb(rgb, 0, 0), 0xFF010203u);
}

TEST(BmpDecoder, RowOrderFollowsTheHeightSign) {
  // Two rows of 2 pixels: first stored row (1, 2), second (3, 4).
  const std::vector<uint8_t> rows = {1, 2, 0, 0, 3, 4, 0, 0};
  CWinBmp up, down;
  Decode(MakeBmp({.width = 2, .height = 2, .bpp = 8, .coloursUsed = 1, .palette = {0}}, rows),
         up, 8);
  Decode(MakeBmp({.width = 2, .height = -2, .bpp = 8, .coloursUsed = 1, .palette = {0}}, rows),
         down, 8);
  EXPECT_EQ(Index(up, 0, 1), 1);    // bottom-up: first stored row is the bottom
  EXPECT_EQ(Index(up, 1, 0), 4);
  EXPECT_EQ(Index(down, 0, 0), 1);  // top-down: first stored row is the top
  EXPECT_EQ(Index(down, 1, 1), 4);
  EXPECT_EQ(down.GetHeight(), 2);
}

TEST(BmpDecoder, TwentyFourAndThirtyTwoBitRows) {
  // 24 bits, width 1: 3 bytes + 1 fill byte per row.
  CWinBmp rgb;
  Decode(MakeBmp({.width = 1, .height = 2, .bpp = 24}, {1, 2, 3, 0, 4, 5, 6, 0}), rgb, 0);
  ASSERT_EQ(rgb.GetBitsPerPixel(), 32);
  EXPECT_EQ(Argb(rgb, 0, 0), 0xFF060504u);
  EXPECT_EQ(Argb(rgb, 0, 1), 0xFF030201u);
  // 32 bits with compression 3 (bit fields): copied as stored, fourth byte included.
  CWinBmp quad;
  Decode(MakeBmp({.width = 1, .bpp = 32, .compression = 3}, {9, 8, 7, 6}), quad, 0);
  EXPECT_EQ(Argb(quad, 0, 0), 0x06070809u);
  EXPECT_FALSE(quad.HasAlpha());
}

struct RleCase {
  const char* label;
  int width, height, bpp;
  std::vector<uint8_t> data;
  std::vector<uint8_t> expected;  // indices, top row first
};

class BmpRle : public testing::TestWithParam<RleCase> {};

TEST_P(BmpRle, DecodesIndices) {
  const RleCase& c = GetParam();
  std::vector<uint32_t> palette(c.bpp == 4 ? 16 : 256, 0);
  const auto file = MakeBmp({.width = c.width, .height = c.height, .bpp = uint16_t(c.bpp),
                             .compression = uint32_t(c.bpp == 8 ? 1 : 2), .palette = palette},
                            c.data);
  CWinBmp bmp;
  Decode(file, bmp, 8);
  std::vector<uint8_t> got;
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) got.push_back(Index(bmp, x, y));
  }
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, BmpRle,
    testing::Values(
        RleCase{"rle8_encoded_run_then_row_end", 4, 1, 8, {3, 5, 0, 0}, {5, 5, 5, 0}},
        RleCase{"rle8_absolute_odd_run_is_padded", 4, 1, 8, {0, 3, 1, 2, 3, 0, 1, 9, 0, 0},
                {1, 2, 3, 9}},
        RleCase{"rle8_end_of_bitmap_leaves_rest", 2, 2, 8, {2, 7, 0, 1}, {0, 0, 7, 7}},
        RleCase{"rle8_run_past_row_end_is_clipped", 2, 2, 8, {5, 7, 0, 0, 1, 4, 0, 1},
                {4, 0, 7, 7}},
        RleCase{"rle8_absolute_past_row_end_is_clipped", 2, 1, 8, {0, 4, 1, 2, 3, 4, 0, 1},
                {1, 2}},
        RleCase{"rle8_rows_beyond_height_are_ignored", 1, 1, 8, {1, 6, 0, 0, 1, 9, 0, 0},
                {6}},
        RleCase{"rle4_encoded_run_alternates_nibbles", 5, 1, 4, {5, 0xAB, 0, 1},
                {10, 11, 10, 11, 10}},
        // Three pixels take two data bytes: even, so no fill byte follows.
        RleCase{"rle4_absolute_three_no_fill", 4, 1, 4, {0, 3, 0x12, 0x30, 1, 0x50, 0, 1},
                {1, 2, 3, 5}},
        // Five pixels take three data bytes: one fill byte follows.
        RleCase{"rle4_absolute_five_fill", 6, 1, 4,
                {0, 5, 0x12, 0x34, 0x50, 0xFF, 1, 0x60, 0, 1}, {1, 2, 3, 4, 5, 6}}),
    [](const testing::TestParamInfo<RleCase>& info) { return std::string(info.param.label); });

TEST(BmpDecoder, Rle8ToThirtyTwoBitsUsesThePalette) {
  std::vector<uint32_t> palette(256, kBlack);
  palette[5] = kRed;
  const auto file =
      MakeBmp({.width = 2, .bpp = 8, .compression = 1, .palette = palette}, {1, 5, 0, 1});
  CWinBmp bmp;
  Decode(file, bmp, 32);
  EXPECT_EQ(Argb(bmp, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(Argb(bmp, 1, 0), 0xFF000000u);  // not reached: palette entry 0
}

struct BadCase {
  const char* label;
  std::vector<uint8_t> file;
  int wanted;
  int code;
  const char* text;  // nullptr: any
};

class BmpErrors : public testing::TestWithParam<BadCase> {};

TEST_P(BmpErrors, RaiseCodeAndText) {
  const BadCase& c = GetParam();
  std::string text;
  EXPECT_EQ(DecodeError(c.file, c.wanted, &text), c.code);
  if (c.text) {
    EXPECT_EQ(text, c.text);
  }
}

std::vector<uint8_t> Pal8(int width, int height, std::vector<uint8_t> pixels,
                          uint32_t compression = 0) {
  return MakeBmp({.width = width, .height = height, .bpp = 8, .compression = compression,
                  .coloursUsed = 2, .palette = {kBlack, kWhite}},
                 pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BmpErrors,
    testing::Values(
        BadCase{"core_header", MakeBmp({.headerSize = 12}, {0, 0, 0, 0}), 0, 2,
                "Decoder error: Bitmap decoder: BITMAPINFOHEADER has wrong size.\n"},
        BadCase{"sixteen_bits", MakeBmp({.bpp = 16}, {0, 0, 0, 0}), 0, 2,
                "Decoder error: Decoding bmp: Illegal bpp value.\n"},
        BadCase{"delta_escape", Pal8(2, 2, {0, 2, 1, 1, 0, 1}, 1), 0, 6,
                "Decoder error: Encountered delta escape.\n"},
        BadCase{"too_many_palette_entries",
                MakeBmp({.bpp = 8, .coloursUsed = 300}, std::vector<uint8_t>(1300, 0)), 0, 2,
                nullptr},
        BadCase{"truncated_rows", Pal8(4, 3, {1, 1, 1, 1, 0, 0, 0, 0}), 0, 11,
                "End of file reached while decoding.\n"},
        BadCase{"truncated_rle", Pal8(4, 3, {4, 1, 0, 0, 4}, 1), 0, 11, nullptr},
        BadCase{"truncated_absolute_run", Pal8(8, 1, {0, 6, 1, 2}, 1), 0, 11, nullptr},
        BadCase{"zero_width", Pal8(0, 1, {0, 0, 0, 0}), 0, 2, nullptr},
        BadCase{"huge_width", Pal8(100000, 1, {0, 0, 0, 0}), 0, 2, nullptr},
        BadCase{"most_negative_height", Pal8(1, INT32_MIN, {0, 0, 0, 0}), 0, 2, nullptr},
        // Pixel limit 2^28: 60000 x 60000 passes the size check but not the limit.
        BadCase{"over_pixel_limit", Pal8(60000, 60000, {0, 1}, 1), 0, 10, nullptr},
        BadCase{"eight_bits_from_24", MakeBmp({.bpp = 24}, {0, 0, 0, 0}), 8, 6, nullptr},
        BadCase{"one_bit_wanted", Pal8(1, 1, {0, 0, 0, 0}), 1, 6, nullptr}),
    [](const testing::TestParamInfo<BadCase>& info) { return std::string(info.param.label); });

TEST(BmpDecoder, NotABitmapWhenCalledDirectly) {
  CBmpDecoder decoder;
  CWinBmp bmp;
  std::vector<uint8_t> bytes(60, 0);
  CMemSource source("x", bytes);
  try {
    decoder.DecodeSource(source, bmp, 0);
    FAIL();
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 1);
    EXPECT_STREQ(e.GetErrorText(), "Decoder error: Bitmap decoder: This isn't a bitmap.\n");
  }
}

TEST(BmpDecoder, CallerPixelLimitIsHonoured) {
  CAnyPicDecoder decoder;
  decoder.SetMaxPixels(3);
  const auto file = Pal8(2, 2, {0, 0, 0, 0, 0, 0, 0, 0});
  CMemSource source("x", file);
  CWinBmp bmp;
  try {
    decoder.DecodeSource(source, bmp, 0);
    FAIL();
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), textexception::kNoMemory);
  }
}

}  // namespace

namespace {

TEST(BmpDecoder, SecondPictureOfTheSameSizeLeavesNothingOfTheFirst) {
  std::vector<uint32_t> palette(256, kBlack);
  palette[1] = kWhite;
  palette[2] = kRed;
  const auto full = MakeBmp({.width = 2, .height = 2, .bpp = 8, .palette = palette},
                            {1, 1, 0, 0, 1, 1, 0, 0});
  // Run-length data that stops after one pixel: the rest must be index 0, not old pixels.
  const auto sparse = MakeBmp({.width = 2, .height = 2, .bpp = 8, .compression = 1,
                               .palette = palette},
                              {1, 2, 0, 1});
  for (int depth : {8, 32}) {
    CWinBmp bmp;
    Decode(full, bmp, depth);
    Decode(sparse, bmp, depth);
    const uint32_t black = depth == 8 ? 0 : 0xFF000000u;
    const uint32_t red = depth == 8 ? 2 : 0xFFFF0000u;
    auto at = [&](int x, int y) { return depth == 8 ? Index(bmp, x, y) : Argb(bmp, x, y); };
    EXPECT_EQ(at(0, 1), red) << depth;
    EXPECT_EQ(at(1, 1), black) << depth;
    EXPECT_EQ(at(0, 0), black) << depth;
    if (depth == 8) {
      EXPECT_EQ(bmp.GetPalette()[1].red, 255);
    }
  }
}

}  // namespace
