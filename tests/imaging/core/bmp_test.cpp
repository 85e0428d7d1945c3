// The bitmap model: creation, row table, palettes, depth conversions, grey, exports, limits.
#include "imaging/core/bmp.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <new>
#include <tuple>
#include <vector>

#include "imaging/core/memory_exception.h"
#include "imaging/core/win_bmp.h"
#include "tests/imaging/core/bmp_test_support.h"

using bmptest::Buffer;
using bmptest::Packed;
using bmptest::Quad;
using bmptest::SetPixel32;

namespace {

const uint8_t* BlockBytes(const CWinBmp& bmp) {
  return reinterpret_cast<const uint8_t*>(bmp.GetDibBlock());
}

void ExpectFreed(const CWinBmp& bmp) {
  EXPECT_EQ(bmp.GetDibBlock(), nullptr);
  EXPECT_EQ(bmp.GetRowTable(), nullptr);
  EXPECT_EQ(bmp.GetPalette(), nullptr);
  EXPECT_EQ(bmp.GetWidth(), 0);
  EXPECT_EQ(bmp.GetHeight(), 0);
}

// A 1-bit bitmap whose palette has gone: the conversions must fall back to white for 0 and
// black for 1.
class PalettelessBmp : public CWinBmp {
public:
  void DropPalette() { palette_ = nullptr; }
};

}  // namespace

TEST(Bmp, RunTimeClassNames) {
  const CWinBmp bmp;
  EXPECT_STREQ(bmp.GetRuntimeClassName(), "CWinBmp");
  EXPECT_STREQ(bmp.GetBaseClassName(), "CBmp");
  EXPECT_STREQ(CBmp::kRuntimeClassName, "CBmp");
}

TEST(Bmp, NewBitmapIsSixteenSquareEightBitGrey) {
  const CWinBmp bmp;
  EXPECT_EQ(bmp.GetWidth(), 16);
  EXPECT_EQ(bmp.GetHeight(), 16);
  EXPECT_EQ(bmp.GetBitsPerPixel(), 8);
  EXPECT_FALSE(bmp.HasAlpha());
  ASSERT_NE(bmp.GetPalette(), nullptr);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(Packed(bmp.GetPalette()[i]), Packed(Quad(i, i, i))) << i;
  EXPECT_EQ(bmp.GetEncodeOptions(), nullptr);
}

// (width, bits per pixel, expected bytes per stored row)
class StrideTest : public testing::TestWithParam<std::tuple<int, int, size_t>> {};

TEST_P(StrideTest, RowsArePaddedToFourBytesAndTheBlockHoldsThem) {
  const auto [width, bpp, stride] = GetParam();
  CWinBmp bmp;
  bmp.Create(width, 3, static_cast<uint16_t>(bpp), false);
  EXPECT_EQ(bmp.GetRowStride(), stride);
  const BitmapInfoHeader* h = bmp.GetDibBlock();
  EXPECT_EQ(h->size, 40u);
  EXPECT_EQ(h->width, width);
  EXPECT_EQ(h->height, 3);
  EXPECT_EQ(h->planes, 1);
  EXPECT_EQ(h->bitCount, bpp);
  EXPECT_EQ(h->compression, 0u);
  EXPECT_EQ(h->sizeImage, stride * 3);
  const size_t palette = bpp < 16 ? 4u << bpp : 0;
  EXPECT_EQ(bmp.GetMemorySize(), 40 + palette + stride * 3 + sizeof(CWinBmp));
}

INSTANTIATE_TEST_SUITE_P(Widths, StrideTest,
                         testing::Values(std::make_tuple(1, 1, 4), std::make_tuple(3, 8, 4),
                                         std::make_tuple(3, 32, 12), std::make_tuple(32, 1, 4),
                                         std::make_tuple(33, 1, 8), std::make_tuple(5, 8, 8),
                                         std::make_tuple(3, 24, 12), std::make_tuple(0, 8, 0),
                                         std::make_tuple(65535, 32, 262140)));

TEST(Bmp, RowTableStartsAtTheLastStoredRow) {
  for (uint16_t bpp : {1, 8, 32}) {
    CWinBmp bmp;
    bmp.Create(5, 3, bpp, false);
    const size_t palette = bpp < 16 ? 4u << bpp : 0;
    uint8_t* bits = const_cast<uint8_t*>(BlockBytes(bmp)) + 40 + palette;
    const size_t stride = bmp.GetRowStride();
    EXPECT_EQ(bmp.GetRowTable()[0], bits + 2 * stride) << bpp;
    EXPECT_EQ(bmp.GetRowTable()[1], bits + stride) << bpp;
    EXPECT_EQ(bmp.GetRowTable()[2], bits) << bpp;
    if (bpp < 16) EXPECT_EQ(reinterpret_cast<uint8_t*>(bmp.GetPalette()), BlockBytes(bmp) + 40);
    else EXPECT_EQ(bmp.GetPalette(), nullptr);
  }
}

TEST(Bmp, GreyRampSpansBlackToWhite) {
  CWinBmp bmp;
  bmp.Create(1, 1, 1, false);
  EXPECT_EQ(Packed(bmp.GetPalette()[0]), Packed(Quad(0, 0, 0)));
  EXPECT_EQ(Packed(bmp.GetPalette()[1]), Packed(Quad(255, 255, 255)));
  bmp.Create(1, 1, 4, false);  // step 255 / 15 = 17
  EXPECT_EQ(Packed(bmp.GetPalette()[1]), Packed(Quad(17, 17, 17)));
  EXPECT_EQ(Packed(bmp.GetPalette()[15]), Packed(Quad(255, 255, 255)));
}

TEST(Bmp, ClosestPaletteEntryTakesTheLowestOfEquallyNearEntries) {
  CWinBmp bmp;
  bmp.Create(1, 1, 8, false);
  std::vector<RgbQuad> palette(256, Quad(255, 255, 255));
  palette[9] = Quad(100, 50, 10);
  palette[5] = Quad(100, 50, 30);    // both 10 away from (100, 50, 20)
  palette[7] = Quad(100, 50, 20, 0);
  bmp.SetPalette(palette.data());
  // Exact match wins whatever its alpha.
  EXPECT_EQ(bmp.ClosestPaletteEntry(20 | 50 << 8 | 100 << 16), 7u);
  palette[7] = Quad(0, 0, 0);
  bmp.SetPalette(palette.data());
  EXPECT_EQ(bmp.ClosestPaletteEntry(20 | 50 << 8 | 100 << 16), 5u);
  // Red lives in bits 16-23: pure red is nearest to an entry that is red, not blue.
  palette[200] = Quad(255, 0, 0);
  palette[201] = Quad(0, 0, 255);
  bmp.SetPalette(palette.data());
  EXPECT_EQ(bmp.ClosestPaletteEntry(0x00FF0000), 200u);
  EXPECT_EQ(bmp.ClosestPaletteEntry(0x000000FF), 201u);
  // The whole grey ramp: ties between 0 and 1 for nothing; a grey finds itself.
  bmp.SetGreyRamp();
  EXPECT_EQ(bmp.ClosestPaletteEntry(0x00808080), 128u);

  bmp.Create(1, 1, 32, false);
  EXPECT_EQ(bmp.ClosestPaletteEntry(0x00123456), 0x00123456u);
}

TEST(Bmp, ClosestPaletteEntryWithoutPaletteSplitsDarkAndLight) {
  PalettelessBmp bmp;
  bmp.Create(1, 1, 1, false);
  bmp.DropPalette();
  // 1 when 765 - sum < sum, the answer the default ramp (0 black, 1 white) would give.
  EXPECT_EQ(bmp.ClosestPaletteEntry(0x007F7F7F), 0u);  // sum 381
  EXPECT_EQ(bmp.ClosestPaletteEntry(0x00808080), 1u);  // sum 384
  EXPECT_EQ(bmp.ClosestPaletteEntry(0x00000000), 0u);
  EXPECT_EQ(bmp.ClosestPaletteEntry(0x00FFFFFF), 1u);
  EXPECT_EQ(bmp.ClosestPaletteEntry(0x00FF0080), 1u);  // 383: just over half
}

TEST(Bmp, CopyFromSameDepthCopiesRowsAndPalette) {
  CWinBmp source;
  source.Create(3, 2, 8, false);
  std::vector<RgbQuad> palette(256);
  for (int i = 0; i < 256; ++i) palette[i] = Quad(255 - i, i, i / 2, 200);
  source.SetPalette(palette.data());
  const uint8_t rows[2][3] = {{1, 2, 3}, {4, 5, 6}};
  for (int y = 0; y < 2; ++y) std::memcpy(source.GetRowTable()[y], rows[y], 3);

  CWinBmp copy;
  copy.CopyFrom(source, 0);
  ASSERT_EQ(copy.GetWidth(), 3);
  ASSERT_EQ(copy.GetHeight(), 2);
  ASSERT_EQ(copy.GetBitsPerPixel(), 8);
  for (int y = 0; y < 2; ++y) EXPECT_EQ(std::memcmp(copy.GetRowTable()[y], rows[y], 3), 0);
  EXPECT_EQ(std::memcmp(copy.GetPalette(), palette.data(), 1024), 0);
  EXPECT_NE(copy.GetDibBlock(), source.GetDibBlock());
}

TEST(Bmp, CopyFromItselfAtItsOwnDepthChangesNothing) {
  CWinBmp bmp;
  bmp.Create(7, 4, 32, true);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 7; ++x) SetPixel32(bmp, x, y, x * 30, y * 50, 7, 99);
  const std::vector<uint8_t> before(BlockBytes(bmp), BlockBytes(bmp) + 40 + 7 * 4 * 4);
  const BitmapInfoHeader* block = bmp.GetDibBlock();
  for (uint16_t wanted : {0, 32}) {
    bmp.CopyFrom(bmp, wanted);
    EXPECT_EQ(bmp.GetDibBlock(), block);
    EXPECT_TRUE(bmp.HasAlpha());
    EXPECT_EQ(std::memcmp(BlockBytes(bmp), before.data(), before.size()), 0) << wanted;
  }
}

TEST(Bmp, ThirtyTwoToOneBitIsBlackOnlyBelow128InEveryChannel) {
  struct Case {
    uint8_t r, g, b;
    bool black;
  };
  const Case cases[] = {{127, 127, 127, true}, {128, 0, 0, false}, {0, 0, 0, true},
                        {255, 255, 255, false}, {0, 128, 0, false}, {0, 0, 128, false},
                        {127, 0, 127, true},   {10, 200, 10, false}, {127, 127, 128, false}};
  const int n = sizeof cases / sizeof cases[0];
  CWinBmp source;
  source.Create(n, 1, 32, true);
  for (int x = 0; x < n; ++x) SetPixel32(source, x, 0, cases[x].r, cases[x].g, cases[x].b, 0xAB);

  CWinBmp mono;
  mono.CopyFrom(source, 1);
  ASSERT_EQ(mono.GetBitsPerPixel(), 1);
  EXPECT_FALSE(mono.HasAlpha());  // 1 bit never carries alpha
  EXPECT_EQ(Packed(mono.GetPalette()[0]), Packed(Quad(255, 255, 255)));
  EXPECT_EQ(Packed(mono.GetPalette()[1]), Packed(Quad(0, 0, 0)));
  const uint8_t* row = mono.GetRowTable()[0];
  for (int x = 0; x < n; ++x) EXPECT_EQ((row[x / 8] >> (7 - x % 8)) & 1, cases[x].black ? 1 : 0) << x;
  // Bits past the width are cleared: 9 pixels fill bit 7 of byte 1, the rest is zero.
  EXPECT_EQ(row[1] & 0x7F, 0);
  EXPECT_EQ(row[2], 0);
  EXPECT_EQ(row[3], 0);
}

TEST(Bmp, EightToOneBitReadsThePalette) {
  CWinBmp source;
  source.Create(3, 1, 8, false);
  std::vector<RgbQuad> palette(256, Quad(0, 0, 0));
  palette[0] = Quad(200, 200, 200);
  palette[1] = Quad(100, 100, 100);
  palette[2] = Quad(100, 100, 130);
  source.SetPalette(palette.data());
  const uint8_t pixels[] = {1, 0, 2};
  std::memcpy(source.GetRowTable()[0], pixels, 3);
  CWinBmp mono;
  mono.CopyFrom(source, 1);
  EXPECT_EQ(mono.GetRowTable()[0][0], 0x80);  // 1 0 0
}

TEST(Bmp, OneToEightBitKeepsTheTwoColoursAndGreyRamp) {
  CWinBmp source;
  source.Create(10, 2, 1, false);
  const RgbQuad colours[2] = {Quad(250, 10, 10, 0), Quad(10, 10, 250, 7)};
  source.SetPalette(colours);
  source.GetRowTable()[0][0] = 0b10110000;
  source.GetRowTable()[0][1] = 0b01000000;
  source.GetRowTable()[1][0] = 0b00000001;
  source.GetRowTable()[1][1] = 0b10000000;

  CWinBmp eight;
  eight.CopyFrom(source, 8);
  ASSERT_EQ(eight.GetBitsPerPixel(), 8);
  EXPECT_EQ(Packed(eight.GetPalette()[0]), Packed(Quad(250, 10, 10, 255)));
  EXPECT_EQ(Packed(eight.GetPalette()[1]), Packed(Quad(10, 10, 250, 255)));
  EXPECT_EQ(Packed(eight.GetPalette()[2]), Packed(Quad(2, 2, 2)));
  EXPECT_EQ(Packed(eight.GetPalette()[255]), Packed(Quad(255, 255, 255)));
  const uint8_t top[10] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
  const uint8_t bottom[10] = {0, 0, 0, 0, 0, 0, 0, 1, 1, 0};
  EXPECT_EQ(std::memcmp(eight.GetRowTable()[0], top, 10), 0);
  EXPECT_EQ(std::memcmp(eight.GetRowTable()[1], bottom, 10), 0);
}

TEST(Bmp, EightToThirtyTwoTakesPaletteEntriesAsStored) {
  CWinBmp source;
  source.Create(2, 1, 8, true);
  std::vector<RgbQuad> palette(256, Quad(0, 0, 0));
  palette[3] = Quad(1, 2, 3, 77);
  palette[250] = Quad(250, 251, 252, 0);
  source.SetPalette(palette.data());
  source.GetRowTable()[0][0] = 250;
  source.GetRowTable()[0][1] = 3;
  CWinBmp full;
  full.CopyFrom(source, 32);
  ASSERT_EQ(full.GetBitsPerPixel(), 32);
  EXPECT_TRUE(full.HasAlpha());  // follows the source
  const auto* px = reinterpret_cast<const RgbQuad*>(full.GetRowTable()[0]);
  EXPECT_EQ(Packed(px[0]), Packed(Quad(250, 251, 252, 0)));
  EXPECT_EQ(Packed(px[1]), Packed(Quad(1, 2, 3, 77)));
}

TEST(Bmp, OneToThirtyTwoWithAndWithoutPalette) {
  const RgbQuad colours[2] = {Quad(9, 8, 7, 6), Quad(5, 4, 3, 2)};
  CWinBmp withPalette;
  withPalette.Create(3, 1, 1, false);
  withPalette.SetPalette(colours);
  withPalette.GetRowTable()[0][0] = 0b01000000;

  PalettelessBmp without;
  without.Create(3, 1, 1, false);
  without.GetRowTable()[0][0] = 0b01000000;
  without.DropPalette();

  CWinBmp a, b;
  a.CopyFrom(withPalette, 32);
  b.CopyFrom(without, 32);
  const auto* pa = reinterpret_cast<const RgbQuad*>(a.GetRowTable()[0]);
  const auto* pb = reinterpret_cast<const RgbQuad*>(b.GetRowTable()[0]);
  EXPECT_EQ(Packed(pa[0]), Packed(colours[0]));
  EXPECT_EQ(Packed(pa[1]), Packed(colours[1]));
  EXPECT_EQ(Packed(pa[2]), Packed(colours[0]));
  EXPECT_EQ(Packed(pb[0]), Packed(Quad(255, 255, 255, 255)));
  EXPECT_EQ(Packed(pb[1]), Packed(Quad(0, 0, 0, 255)));
}

TEST(Bmp, CopyToSixteenOrTwentyFourBitsCreatesWithoutFilling) {
  CWinBmp source;
  source.Create(5, 4, 8, false);
  for (uint16_t wanted : {16, 24}) {
    CWinBmp target;
    target.CopyFrom(source, wanted);
    EXPECT_EQ(target.GetBitsPerPixel(), wanted);
    EXPECT_EQ(target.GetWidth(), 5);
    EXPECT_EQ(target.GetHeight(), 4);
    EXPECT_EQ(target.GetPalette(), nullptr);
    EXPECT_EQ(target.GetRowStride(), wanted == 16 ? 12u : 16u);
    EXPECT_EQ(target.GetDibBlock()->bitCount, wanted);
  }
}

TEST(Bmp, CopyFromAFreedBitmapFreesTheTarget) {
  CWinBmp freed;
  freed.Clear();
  CWinBmp target;
  target.CopyFrom(freed, 0);
  ExpectFreed(target);
  CWinBmp other;
  other.CopyFrom(freed, 32);
  ExpectFreed(other);
}

TEST(Bmp, ConvertToGreyWeighsAndTruncates) {
  struct Case {
    uint8_t r, g, b, grey;
  };
  // 0.299 R + 0.587 G + 0.114 B, truncated.
  const Case cases[] = {{255, 255, 255, 255}, {0, 0, 0, 0},      {1, 0, 0, 0},
                        {0, 2, 0, 1},         {10, 20, 30, 18},  {0, 0, 255, 29},
                        {255, 0, 0, 76},      {0, 255, 0, 149},  {100, 100, 100, 100},
                        {3, 3, 3, 3}};
  const int n = sizeof cases / sizeof cases[0];
  CWinBmp bmp;
  bmp.Create(n, 2, 32, true);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < n; ++x) SetPixel32(bmp, x, y, cases[x].r, cases[x].g, cases[x].b, 0x55);
  EncodeOptions options;
  options.flags = EncodeOptions::kFlagGray;
  bmp.SetEncodeOptions(&options);

  ASSERT_TRUE(bmp.ConvertToGrey());
  ASSERT_EQ(bmp.GetBitsPerPixel(), 8);
  EXPECT_FALSE(bmp.HasAlpha());
  EXPECT_EQ(bmp.GetWidth(), n);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < n; ++x) EXPECT_EQ(bmp.GetRowTable()[y][x], cases[x].grey) << x;
  for (int i = 0; i < 256; ++i) ASSERT_EQ(Packed(bmp.GetPalette()[i]), Packed(Quad(i, i, i)));
  ASSERT_NE(bmp.GetEncodeOptions(), nullptr);
  EXPECT_EQ(bmp.GetEncodeOptions()->flags, EncodeOptions::kFlagGray);
}

TEST(Bmp, ConvertToGreyReadsPalettedPixelsThroughThePalette) {
  CWinBmp bmp;
  bmp.Create(4, 1, 8, false);
  std::vector<RgbQuad> palette(256, Quad(0, 0, 0));
  palette[3] = Quad(0, 255, 0);
  palette[4] = Quad(10, 20, 30);
  bmp.SetPalette(palette.data());
  const uint8_t pixels[4] = {3, 4, 0, 3};
  std::memcpy(bmp.GetRowTable()[0], pixels, 4);
  ASSERT_TRUE(bmp.ConvertToGrey());
  const uint8_t expected[4] = {149, 18, 0, 149};
  EXPECT_EQ(std::memcmp(bmp.GetRowTable()[0], expected, 4), 0);

  CWinBmp freed;
  freed.Clear();
  EXPECT_FALSE(freed.ConvertToGrey());
}

TEST(Bmp, ExportsKeepTheRowOrderAsked) {
  CWinBmp bmp;
  bmp.Create(2, 2, 32, false);
  SetPixel32(bmp, 0, 0, 1, 2, 3);  // top row
  SetPixel32(bmp, 1, 0, 4, 5, 6);
  SetPixel32(bmp, 0, 1, 7, 8, 9);  // bottom row
  SetPixel32(bmp, 1, 1, 10, 11, 12);
  const std::vector<uint8_t> bgrTop = {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10};
  const std::vector<uint8_t> bgrBottom = {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4};
  const std::vector<uint8_t> rgbTop = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const std::vector<uint8_t> rgbBottom = {7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6};
  struct Case {
    uint8_t* (CWinBmp::*export_)(bool, size_t*) const;
    bool bottomUp;
    const std::vector<uint8_t>& expected;
  };
  const Case cases[] = {{&CWinBmp::ExportBgr24, false, bgrTop},
                        {&CWinBmp::ExportBgr24, true, bgrBottom},
                        {&CWinBmp::ExportRgb24, false, rgbTop},
                        {&CWinBmp::ExportRgb24, true, rgbBottom},
                        {&CWinBmp::ExportPacked, false, bgrTop},
                        {&CWinBmp::ExportPacked, true, bgrBottom}};
  for (const Case& c : cases) {
    size_t size = 0;
    Buffer out((bmp.*c.export_)(c.bottomUp, &size));
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(size, 12u);
    EXPECT_EQ(std::vector<uint8_t>(out.get(), out.get() + size), c.expected);
  }
}

TEST(Bmp, PackedExportDropsRowPaddingOnly) {
  CWinBmp alpha;  // 32 bits with alpha: all four bytes
  alpha.Create(1, 2, 32, true);
  SetPixel32(alpha, 0, 0, 1, 2, 3, 4);
  SetPixel32(alpha, 0, 1, 5, 6, 7, 8);
  size_t size = 0;
  Buffer out(alpha.ExportPacked(false, &size));
  ASSERT_EQ(size, 8u);
  EXPECT_EQ(std::vector<uint8_t>(out.get(), out.get() + 8),
            (std::vector<uint8_t>{3, 2, 1, 4, 7, 6, 5, 8}));

  CWinBmp eight;  // width 3: three bytes a row, not four
  eight.Create(3, 2, 8, false);
  const uint8_t rows[2][3] = {{1, 2, 3}, {4, 5, 6}};
  for (int y = 0; y < 2; ++y) std::memcpy(eight.GetRowTable()[y], rows[y], 3);
  out.reset(eight.ExportPacked(true, &size));
  ASSERT_EQ(size, 6u);
  EXPECT_EQ(std::vector<uint8_t>(out.get(), out.get() + 6), (std::vector<uint8_t>{4, 5, 6, 1, 2, 3}));

  CWinBmp mono;  // width 10: two bytes a row
  mono.Create(10, 1, 1, false);
  mono.GetRowTable()[0][0] = 0xAB;
  mono.GetRowTable()[0][1] = 0xC0;
  out.reset(mono.ExportPacked(false, &size));
  ASSERT_EQ(size, 2u);
  EXPECT_EQ(out.get()[0], 0xAB);
  EXPECT_EQ(out.get()[1], 0xC0);
}

TEST(Bmp, TrueColourExportOfPalettedPixelsUsesThePalette) {
  CWinBmp bmp;
  bmp.Create(2, 1, 8, false);
  std::vector<RgbQuad> palette(256, Quad(0, 0, 0));
  palette[9] = Quad(10, 20, 30);
  bmp.SetPalette(palette.data());
  bmp.GetRowTable()[0][0] = 9;
  bmp.GetRowTable()[0][1] = 0;
  size_t size = 0;
  Buffer out(bmp.ExportRgb24(false, &size));
  ASSERT_EQ(size, 6u);
  EXPECT_EQ(std::vector<uint8_t>(out.get(), out.get() + 6), (std::vector<uint8_t>{10, 20, 30, 0, 0, 0}));
}

TEST(Bmp, ExportsOfAFreedBitmapReturnNothing) {
  CWinBmp bmp;
  bmp.Clear();
  size_t size = 99;
  EXPECT_EQ(bmp.ExportBgr24(false, &size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(bmp.ExportRgb24(true, nullptr), nullptr);
  EXPECT_EQ(bmp.ExportPacked(false, &size), nullptr);
}

TEST(Bmp, EncodeOptionsAreAPrivateCopyThatSurvivesRecreation) {
  EncodeOptions options;
  options.wantedDepth = 8;
  options.jpegQuality = 33;
  options.unused = 0xEE;
  CWinBmp bmp;
  bmp.SetEncodeOptions(&options);
  options.jpegQuality = 90;  // the bitmap keeps what it was given
  ASSERT_NE(bmp.GetEncodeOptions(), &options);

  bmp.Create(4, 4, 32, false);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) SetPixel32(bmp, x, y, x * 60, y * 60, 90);
  bmp.CopyFrom(bmp, 8);
  bmp.CopyFrom(bmp, 1);
  CWinBmp other;
  bmp.CopyFrom(other, 0);
  bmp.Clear();
  ASSERT_NE(bmp.GetEncodeOptions(), nullptr);
  EXPECT_EQ(bmp.GetEncodeOptions()->jpegQuality, 33);
  EXPECT_EQ(bmp.GetEncodeOptions()->wantedDepth, 8);
  EXPECT_EQ(bmp.GetEncodeOptions()->unused, 0xEE);

  bmp.SetEncodeOptions(nullptr);
  EXPECT_EQ(bmp.GetEncodeOptions(), nullptr);
}

// ----- limits ---------------------------------------------------------------------------

// (width, height, bits per pixel) that no block can describe.
class RefusedSizeTest : public testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(RefusedSizeTest, RaisesMemoryExceptionAndLeavesTheBitmapFreed) {
  const auto [width, height, bpp] = GetParam();
  CWinBmp bmp;
  EncodeOptions options;
  bmp.SetEncodeOptions(&options);
  EXPECT_THROW(bmp.Create(width, height, static_cast<uint16_t>(bpp), false), CMemoryException);
  ExpectFreed(bmp);
  EXPECT_NE(bmp.GetEncodeOptions(), nullptr);
  // Still usable afterwards.
  bmp.Create(2, 2, 8, false);
  EXPECT_EQ(bmp.GetRowStride(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RefusedSizeTest,
                         testing::Values(std::make_tuple(-1, 1, 8), std::make_tuple(1, -1, 8),
                                         std::make_tuple(65536, 1, 8), std::make_tuple(1, 65536, 32),
                                         std::make_tuple(INT_MAX, INT_MAX, 32),
                                         std::make_tuple(INT_MIN, 2, 1), std::make_tuple(4, 4, 0),
                                         std::make_tuple(4, 4, 3), std::make_tuple(4, 4, 64)));

TEST(Bmp, MemoryExceptionIsABadAlloc) {
  CWinBmp bmp;
  EXPECT_THROW(bmp.Create(70000, 70000, 32, false), std::bad_alloc);
}

TEST(Bmp, BlockSizeOfTheLargestBitmapIsExact) {
  // 65535 x 4 bytes a row, 65535 rows, plus the header: beyond 32 bits.
  EXPECT_EQ(dib::BlockSize(65535, 65535, 32), std::optional<size_t>(40 + 17179344900ull));
  EXPECT_EQ(dib::BlockSize(65535, 65535, 8), std::optional<size_t>(40 + 1024 + 65536ull * 65535));
}

TEST(Bmp, LargestBitmapIsAllocatedWholeOrRefused) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a 16 GiB allocation is not for the sanitizer build";
#else
  CWinBmp bmp;
  try {
    bmp.Create(65535, 65535, 32, false);
  } catch (const CMemoryException&) {
    ExpectFreed(bmp);
    return;
  }
  const auto* base = reinterpret_cast<uint8_t*>(const_cast<BitmapInfoHeader*>(bmp.GetDibBlock()));
  EXPECT_EQ(bmp.GetDibBlock()->sizeImage, 0u);  // 17179344900 does not fit the field
  EXPECT_EQ(bmp.GetRowTable()[65534], base + 40);
  EXPECT_EQ(bmp.GetRowTable()[0], base + 40 + 65534ull * 262140);
  // The top row is the end of the block: writable up to its last byte.
  bmp.GetRowTable()[0][262139] = 1;
  bmp.GetRowTable()[65534][0] = 1;
#endif
}

// ----- true colour to 8 bits ------------------------------------------------------------------

namespace {

// A picture with smooth gradients and a few flat patches; alpha bytes vary on purpose.
void PaintTestPicture(CWinBmp& bmp, int width, int height, bool alpha) {
  bmp.Create(width, height, 32, alpha);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool patch = (x / 8 + y / 8) % 3 == 0;
      SetPixel32(bmp, x, y, patch ? 200 : x * 255 / width, patch ? 30 : y * 255 / height,
                 patch ? 90 : (x * y) % 256, static_cast<uint8_t>(x * 7 + y));
    }
}

// The plain scan, written out here: |dR| + |dG| + |dB|, first of equals.
int Nearest(const RgbQuad* palette, const uint8_t* bgr) {
  int best = 1000, index = 0;
  for (int i = 0; i < 256; ++i) {
    const int d = std::abs(palette[i].blue - bgr[0]) + std::abs(palette[i].green - bgr[1]) +
                  std::abs(palette[i].red - bgr[2]);
    if (d < best) best = d, index = i;
  }
  return index;
}

}  // namespace

TEST(Bmp, SmallTrueColourPictureKeepsItsExactColours) {
  const uint8_t colours[5][3] = {{255, 0, 0}, {0, 128, 0}, {10, 20, 30}, {0, 0, 0}, {250, 250, 250}};
  CWinBmp source;
  source.Create(9, 7, 32, false);  // 63 pixels: counted, not trained
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) {
      const uint8_t* c = colours[(x + y) % 5];
      SetPixel32(source, x, y, c[0], c[1], c[2]);
    }
  CWinBmp eight;
  eight.CopyFrom(source, 8);
  ASSERT_EQ(eight.GetBitsPerPixel(), 8);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(eight.GetPalette()[i].reserved, 255) << i;
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) {
      const RgbQuad got = eight.GetPalette()[eight.GetRowTable()[y][x]];
      const uint8_t* c = colours[(x + y) % 5];
      EXPECT_EQ(Packed(got), Packed(Quad(c[0], c[1], c[2]))) << x << "," << y;
    }
}

TEST(Bmp, LargeTrueColourPictureMapsEveryPixelToItsNearestEntry) {
  CWinBmp source;
  PaintTestPicture(source, 61, 37, false);  // 2257 pixels: trained palette
  CWinBmp eight;
  eight.CopyFrom(source, 8);
  ASSERT_EQ(eight.GetBitsPerPixel(), 8);
  EXPECT_FALSE(eight.HasAlpha());
  const RgbQuad* palette = eight.GetPalette();
  for (int i = 0; i < 256; ++i) ASSERT_EQ(palette[i].reserved, 255) << i;
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 61; ++x)
      ASSERT_EQ(eight.GetRowTable()[y][x], Nearest(palette, source.GetRowTable()[y] + 4 * x))
          << x << "," << y;
}

TEST(Bmp, AlphaBytesDoNotReachTheQuantiser) {
  CWinBmp plain, withAlpha;
  PaintTestPicture(plain, 61, 37, false);
  PaintTestPicture(withAlpha, 61, 37, true);
  CWinBmp a, b;
  a.CopyFrom(plain, 8);
  b.CopyFrom(withAlpha, 8);
  EXPECT_TRUE(b.HasAlpha());  // the flag follows the source
  EXPECT_EQ(std::memcmp(a.GetPalette(), b.GetPalette(), 1024), 0);
  for (int y = 0; y < 37; ++y) EXPECT_EQ(std::memcmp(a.GetRowTable()[y], b.GetRowTable()[y], 61), 0);
}

TEST(Bmp, ConvertingInPlaceEqualsConvertingACopy) {
  CWinBmp bmp, reference;
  PaintTestPicture(bmp, 50, 20, false);
  reference.CopyFrom(bmp, 8);
  bmp.CopyFrom(bmp, 8);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 8);
  EXPECT_EQ(std::memcmp(bmp.GetPalette(), reference.GetPalette(), 1024), 0);
  for (int y = 0; y < 20; ++y) EXPECT_EQ(std::memcmp(bmp.GetRowTable()[y], reference.GetRowTable()[y], 50), 0);
}
