#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_test_util.h"

using decodetest::Argb;
using decodetest::Bytes;
using decodetest::Decode;

namespace {

// 128-byte header; the 16-entry palette gives entry i red 16 i, green 100, blue 255 - i.
Bytes Pcx(int bits, int planes, int width, int height, int bytesPerLine, int encoding = 1) {
  Bytes b;
  b.u8({10, 5, encoding, bits}).le16(0).le16(0).le16(width - 1).le16(height - 1);
  b.le16(72).le16(72);
  for (int i = 0; i < 16; ++i) b.u8({16 * i, 100, 255 - i});
  b.u8({0, planes}).le16(bytesPerLine);
  b.fill(128 - b.v.size(), 0);
  return b;
}

uint32_t HeaderEntry(int i) { return 0xFF000000u | uint32_t(16 * i) << 16 | 100u << 8 | (255u - i); }

int DecodeCode(const std::vector<uint8_t>& file, std::string* text = nullptr) {
  return decodetest::DecodeErrorWith<CPCXDecoder>(file, 0, text);
}

TEST(PcxDecoder, OneBitOnePlaneUsesHeaderPalette) {
  Bytes b = Pcx(1, 1, 3, 1, 2);
  b.u8({0xA0, 0});  // bits 1 0 1
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
  EXPECT_EQ(Argb(bmp, 0, 0), HeaderEntry(1));
  EXPECT_EQ(Argb(bmp, 1, 0), HeaderEntry(0));
}

TEST(PcxDecoder, FourPlanesMakeSixteenColourIndices) {
  // Pixel 0: planes 0 and 2 set -> index 5; pixel 1: plane 3 -> index 8.
  Bytes b = Pcx(1, 4, 2, 1, 1);
  b.u8({0x80, 0x00, 0x80, 0x40});
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  EXPECT_EQ(Argb(bmp, 0, 0), HeaderEntry(5));
  EXPECT_EQ(Argb(bmp, 1, 0), HeaderEntry(8));
}

TEST(PcxDecoder, ThreePlanesAtOneBitMakeEightColourIndices) {
  // Pixel 0: planes 0 and 1 -> index 3; pixel 1: plane 2 -> index 4.
  Bytes b = Pcx(1, 3, 2, 1, 1);
  b.u8({0x80, 0x80, 0x40});
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  EXPECT_EQ(Argb(bmp, 0, 0), HeaderEntry(3));
  EXPECT_EQ(Argb(bmp, 1, 0), HeaderEntry(4));
}

TEST(PcxDecoder, EqualMonochromeEntriesMeanBlackAndWhite) {
  Bytes b = Pcx(1, 1, 2, 1, 1);
  for (int i = 16; i < 22; ++i) b.v[i] = 0x55;  // entries 0 and 1 the same grey
  b.u8({0x40});
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  EXPECT_EQ(Argb(bmp, 0, 0), 0xFF000000u);
  EXPECT_EQ(Argb(bmp, 1, 0), 0xFFFFFFFFu);
}

TEST(PcxDecoder, TwoAndFourBitsUnpackHighBitsFirst) {
  Bytes two = Pcx(2, 1, 4, 1, 2);
  two.u8({0x1B, 0});  // 00 01 10 11
  CWinBmp a;
  Decode(two.v, a, 0);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(Argb(a, x, 0), HeaderEntry(x)) << x;
  Bytes four = Pcx(4, 1, 3, 1, 2);
  four.u8({0x3A, 0x70});  // below 192: literal bytes
  CWinBmp b;
  Decode(four.v, b, 0);
  EXPECT_EQ(Argb(b, 0, 0), HeaderEntry(3));
  EXPECT_EQ(Argb(b, 1, 0), HeaderEntry(10));
  EXPECT_EQ(Argb(b, 2, 0), HeaderEntry(7));
}

TEST(PcxDecoder, ThreePlanesWithPaddedLines) {
  // Width 5, 6 bytes per line: green starts at offset 6, blue at 12.
  Bytes b = Pcx(8, 3, 5, 1, 6);
  b.u8({1, 2, 3, 4, 5, 0, 11, 12, 13, 14, 15, 0, 21, 22, 23, 24, 25, 0});
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  EXPECT_EQ(Argb(bmp, 0, 0), 0xFF010B15u);
  EXPECT_EQ(Argb(bmp, 4, 0), 0xFF050F19u);
}

TEST(PcxDecoder, RunsCrossRowsAndZeroCountRunsWriteNothing) {
  // 2 x 2, 8 bits: 0xC0 0x99 writes nothing; 0xC3 0x07 fills three bytes across the row end.
  Bytes b = Pcx(8, 1, 2, 2, 2);
  b.u8({0xC0, 0x99, 0xC3, 0x07, 0xC1, 0xC5, 0x0C});
  for (int i = 0; i < 256; ++i) b.u8({i, 255 - i, 1});
  CWinBmp bmp;
  Decode(b.v, bmp, 0);
  EXPECT_EQ(Argb(bmp, 0, 0), 0xFF07F801u);
  EXPECT_EQ(Argb(bmp, 0, 1), 0xFF07F801u);
  EXPECT_EQ(Argb(bmp, 1, 1), 0xFFC53A01u);  // a literal >= 192 comes through a run of 1
}

struct BadPcx {
  const char* label;
  std::vector<uint8_t> file;
  int code;
  const char* text;
};

class PcxErrors : public testing::TestWithParam<BadPcx> {};

TEST_P(PcxErrors, RaiseCodeAndText) {
  std::string text;
  EXPECT_EQ(DecodeCode(GetParam().file, &text), GetParam().code) << text;
  if (GetParam().text) {
    EXPECT_EQ(text, GetParam().text);
  }
}

std::vector<uint8_t> Then(Bytes b, std::vector<uint8_t> data) {
  b.v.insert(b.v.end(), data.begin(), data.end());
  return b.v;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PcxErrors,
    testing::Values(
        BadPcx{"not_pcx", [] { auto b = Pcx(8, 1, 1, 1, 1); b.v[0] = 9; return b.v; }(), 1,
               "Decoder error: Error decoding pcx: Not a PCX file.\n"},
        BadPcx{"encoding", Pcx(8, 1, 1, 1, 1, 0).v, 1,
               "Decoder error: File has unknown encoding scheme.\n"},
        BadPcx{"five_planes", Pcx(1, 5, 1, 1, 1).v, 2,
               "Decoder error: Can't handle image with more than 4 planes.\n"},
        BadPcx{"eight_bits_two_planes", Pcx(8, 2, 1, 1, 1).v, 2,
               "Decoder error: Can't handle bits per pixel image with planes.\n"},
        BadPcx{"four_bits_three_planes", Pcx(4, 3, 1, 1, 1).v, 7,
               "Decoder error: Can't handle more than 1 bit per pixel.\n"},
        BadPcx{"bad_palette_signature", Then(Pcx(8, 1, 1, 1, 1), {5, 0x0B}), 7,
               "Decoder error: bad color map signature.\n"},
        BadPcx{"repeat_spans_end", Then(Pcx(8, 3, 1, 1, 1), {0xC4, 1}), 7,
               "Decoder error: repeat count spans end of image.\n"},
        BadPcx{"line_shorter_than_width", Then(Pcx(8, 1, 10, 1, 4), {1, 2, 3, 4}), 2, nullptr},
        BadPcx{"plane_line_shorter_than_width", Then(Pcx(8, 3, 10, 1, 4), {1, 2, 3, 4}), 2,
               nullptr},
        BadPcx{"truncated_data", Then(Pcx(8, 3, 4, 4, 4), {1, 2, 3}), 11, nullptr},
        BadPcx{"truncated_palette", Then(Pcx(8, 1, 1, 1, 1), {5, 0x0C, 1, 2}), 11, nullptr},
        BadPcx{"inverted_window", [] {
                 Bytes b = Pcx(8, 1, 1, 1, 1);
                 b.v[4] = 50;  // x min beyond x max
                 return b.v;
               }(), 2, nullptr}),
    [](const testing::TestParamInfo<BadPcx>& info) { return std::string(info.param.label); });

}  // namespace
