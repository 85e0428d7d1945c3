#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_test_util.h"

using decodetest::Argb;
using decodetest::Bytes;
using decodetest::Decode;
using decodetest::DecodeError;
using decodetest::Index;

namespace {

struct TgaHeader {
  int imageType = 2;
  int width = 1, height = 1;
  int pixelBits = 24;
  int descriptor = 0;
  int mapType = 0, firstEntry = 0, mapLength = 0, entryBits = 0;
  int idLength = 0;
};

Bytes Tga(const TgaHeader& h) {
  Bytes b;
  b.u8({h.idLength, h.mapType, h.imageType}).le16(h.firstEntry).le16(h.mapLength);
  b.u8({h.entryBits}).le16(0).le16(0).le16(h.width).le16(h.height);
  b.u8({h.pixelBits, h.descriptor});
  b.fill(h.idLength, 'i');
  return b;
}

TgaHeader Rgb(int w, int h, int type = 2, int bits = 24, int descriptor = 0) {
  TgaHeader t;
  t.imageType = type;
  t.width = w;
  t.height = h;
  t.pixelBits = bits;
  t.descriptor = descriptor;
  return t;
}

TEST(TgaDecoder, OriginBitChoosesRowOrder) {
  // Two rows of one pixel each: stored first blue 1, then blue 2.
  for (int descriptor : {0, 0x20}) {
    Bytes b = Tga(Rgb(1, 2, 2, 24, descriptor));
    b.u8({1, 0, 0, 2, 0, 0});
    CWinBmp bmp;
    Decode(b.v, bmp, 0);
    const bool topDown = descriptor != 0;
    EXPECT_EQ(Argb(bmp, 0, 0) & 0xFF, topDown ? 1u : 2u) << descriptor;
    EXPECT_EQ(Argb(bmp, 0, 1) & 0xFF, topDown ? 2u : 1u) << descriptor;
  }
}

TEST(TgaDecoder, SixteenBitAlphaAndFiveBitScaling) {
  Bytes b = Tga(Rgb(3, 1, 2, 16, 0x21));  // one attribute bit declared
  b.le16(0x8000).le16(0x7FFF).le16(0x7C00);
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  EXPECT_TRUE(bmp.HasAlpha());
  EXPECT_EQ(Argb(bmp, 0, 0), 0x80000000u);  // black, alpha 128
  EXPECT_EQ(Argb(bmp, 1, 0), 0x00F8F8F8u);  // 248 each, alpha 0
  EXPECT_EQ(Argb(bmp, 2, 0), 0x00F80000u);  // red only
  Bytes fifteen = Tga(Rgb(1, 1, 2, 15, 0x20));
  fifteen.le16(0x001F);
  CWinBmp opaque;
  Decode(fifteen.v, opaque, 0);
  EXPECT_FALSE(opaque.HasAlpha());
  EXPECT_EQ(Argb(opaque, 0, 0), 0xFF0000F8u);
}

TEST(TgaDecoder, SixteenBitsWithoutAttributeBitsAreOpaque) {
  // Descriptor 0x20: no alpha bits declared, so bit 15 is padding whichever way it is set.
  Bytes b = Tga(Rgb(2, 1, 2, 16, 0x20));
  b.le16(0x8000).le16(0x7C1F);
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  EXPECT_FALSE(bmp.HasAlpha());
  EXPECT_EQ(Argb(bmp, 0, 0), 0xFF000000u);
  EXPECT_EQ(Argb(bmp, 1, 0), 0xFFF800F8u);
  // The same through a run packet.
  Bytes rle = Tga(Rgb(3, 1, 10, 16, 0x20));
  rle.u8({0x82}).le16(0x83E0);
  CWinBmp run;
  Decode(rle.v, run, 0);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(Argb(run, x, 0), 0xFF00F800u) << x;
}

TEST(TgaDecoder, ColourMapStartsAtFirstEntry) {
  TgaHeader h = Rgb(2, 1, 1, 8, 0x20);
  h.mapType = 1;
  h.firstEntry = 16;
  h.mapLength = 16;
  h.entryBits = 24;
  h.idLength = 3;
  Bytes b = Tga(h);
  for (int i = 0; i < 16; ++i) b.u8({i, 0, 100 + i});  // blue i, red 100 + i
  b.u8({16, 31});
  CWinBmp eight;
  Decode(b.v, eight, 0);
  ASSERT_EQ(eight.GetBitsPerPixel(), 8);
  EXPECT_EQ(Index(eight, 1, 0), 31);
  EXPECT_EQ(eight.GetPalette()[31].red, 115);
  EXPECT_EQ(eight.GetPalette()[16].red, 100);
  CWinBmp wide;
  Decode(b.v, wide, 32);
  EXPECT_EQ(Argb(wide, 0, 0), 0xFF640000u);
  EXPECT_EQ(Argb(wide, 1, 0), 0xFF73000Fu);
}

TEST(TgaDecoder, MapEntriesPastTheTableAreSkipped) {
  TgaHeader h = Rgb(1, 1, 1, 8, 0x20);
  h.mapType = 1;
  h.firstEntry = 250;
  h.mapLength = 20;
  h.entryBits = 32;
  Bytes b = Tga(h);
  for (int i = 0; i < 20; ++i) b.u8({i, i, i, 255});
  b.u8({255});
  CWinBmp bmp;
  Decode(b.v, bmp, 32);
  EXPECT_EQ(Argb(bmp, 0, 0), 0xFF050505u);
}

TEST(TgaDecoder, RunAndRawPackets) {
  // 0x83: one value four times; 0x01: two raw values.
  Bytes b = Tga(Rgb(6, 1, 10, 24, 0x20));
  b.u8({0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9});
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(Argb(bmp, x, 0), 0xFF030201u);
  EXPECT_EQ(Argb(bmp, 4, 0), 0xFF060504u);
  EXPECT_EQ(Argb(bmp, 5, 0), 0xFF090807u);
}

TEST(TgaDecoder, PacketsCarryOverRowEnds) {
  // 3 x 2 picture, top-down: a run of 4 then a raw packet of 2 spanning nothing more.
  Bytes b = Tga(Rgb(3, 2, 10, 24, 0x20));
  b.u8({0x83, 9, 9, 9, 0x01, 1, 1, 1, 2, 2, 2});
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  EXPECT_EQ(Argb(bmp, 2, 0), 0xFF090909u);
  EXPECT_EQ(Argb(bmp, 0, 1), 0xFF090909u);  // fourth pixel of the run
  EXPECT_EQ(Argb(bmp, 1, 1), 0xFF010101u);
  EXPECT_EQ(Argb(bmp, 2, 1), 0xFF020202u);
  // A raw packet of 4 across the row end of a 2 x 2 picture.
  Bytes raw = Tga(Rgb(2, 2, 10, 24, 0x20));
  raw.u8({0x03, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4});
  CWinBmp bmp2;
  Decode(raw.v, bmp2, 0);
  EXPECT_EQ(Argb(bmp2, 0, 1), 0xFF030303u);
  EXPECT_EQ(Argb(bmp2, 1, 1), 0xFF040404u);
}

TEST(TgaDecoder, GreyRunLengthGivesEqualChannels) {
  Bytes b = Tga(Rgb(3, 1, 11, 8, 0x20));
  b.u8({0x81, 77, 0x00, 200});
  CWinBmp wide;
  Decode(b.v, wide, 32);
  EXPECT_EQ(Argb(wide, 0, 0), 0xFF4D4D4Du);
  EXPECT_EQ(Argb(wide, 2, 0), 0xFFC8C8C8u);
  CWinBmp eight;
  Decode(b.v, eight, 0);
  EXPECT_EQ(Index(eight, 2, 0), 200);
  EXPECT_EQ(eight.GetPalette()[200].green, 200);
}

TEST(TgaDecoder, ThirtyTwoBitsKeepAlpha) {
  Bytes b = Tga(Rgb(1, 1, 2, 32, 0x28));
  b.u8({1, 2, 3, 4});
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  EXPECT_TRUE(bmp.HasAlpha());
  EXPECT_EQ(Argb(bmp, 0, 0), 0x04030201u);
}

struct BadTga {
  const char* label;
  std::vector<uint8_t> file;
  int wanted;
  int code;
};

class TgaErrors : public testing::TestWithParam<BadTga> {};

TEST_P(TgaErrors, RaiseCode) {
  std::string text;
  EXPECT_EQ(decodetest::DecodeErrorWith<CTGADecoder>(GetParam().file, GetParam().wanted, &text), GetParam().code) << text;
}

std::vector<uint8_t> With(TgaHeader h, std::vector<uint8_t> data) {
  Bytes b = Tga(h);
  b.v.insert(b.v.end(), data.begin(), data.end());
  return b.v;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TgaErrors,
    testing::Values(
        BadTga{"no_image_data_type", With(Rgb(1, 1, 0), {0, 0, 0}), 0, 2},
        BadTga{"truncated_raw", With(Rgb(4, 4), {1, 2, 3}), 0, 11},
        BadTga{"truncated_run", With(Rgb(4, 4, 10), {0x83, 1, 2}), 0, 11},
        BadTga{"zero_width", With(Rgb(0, 4), {}), 0, 2},
        BadTga{"eight_bits_from_24", With(Rgb(1, 1), {1, 2, 3}), 8, 6},
        BadTga{"odd_map_entry_size",
               [] {
                 TgaHeader h = Rgb(1, 1, 1, 8);
                 h.mapType = 1;
                 h.mapLength = 2;
                 h.entryBits = 32;
                 Bytes b = Tga(h);
                 b.v[7] = 12;
                 b.fill(8, 0);
                 return b.v;
               }(),
               0, 2}),
    [](const testing::TestParamInfo<BadTga>& info) { return std::string(info.param.label); });

}  // namespace
