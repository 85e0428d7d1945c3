// Depth conversions from the bitmaps no decoder hands to CopyFrom every day: 2- and 4-bit
// palettes, 16-bit 5-5-5 and 24-bit true colour. Expected values come from the DIB layout
// (leftmost pixel in the high bits, 5-bit fields blue lowest, blue-green-red byte order) and
// from widening 5 bits to 8 by repeating the high bits.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "imaging/core/win_bmp.h"
#include "tests/imaging/core/bmp_test_support.h"

using bmptest::Packed;
using bmptest::Quad;

namespace {

RgbQuad At32(const CBmp& bmp, int x, int y) {
  return reinterpret_cast<const RgbQuad*>(bmp.GetRowTable()[y])[x];
}
uint32_t Rgb(const RgbQuad& q) { return Packed(q) & 0xFFFFFF; }
int Bit(const CBmp& mono, int x, int y) {
  return (mono.GetRowTable()[y][x / 8] >> (7 - x % 8)) & 1;
}

// A 16-bit pixel from 5-bit red, green, blue, stored little-endian.
void Put555(CBmp& bmp, int x, int y, unsigned r, unsigned g, unsigned b, bool topBit = false) {
  const unsigned v = (topBit ? 0x8000u : 0u) | r << 10 | g << 5 | b;
  bmp.GetRowTable()[y][2 * x] = uint8_t(v);
  bmp.GetRowTable()[y][2 * x + 1] = uint8_t(v >> 8);
}

// 5 -> 8 bits as the DIB convention widens them: v << 3 | v >> 2 (0 -> 0, 31 -> 255).
constexpr uint8_t Widen5(unsigned v) { return uint8_t(v << 3 | v >> 2); }

TEST(BmpCopyDepth, TwoAndFourBitIndicesUnpackHighBitsFirst) {
  // Width 7: the last byte of each row is only partly used.
  CWinBmp two, four;
  two.Create(7, 2, 2, false);
  four.Create(7, 2, 4, false);
  const uint8_t twoRows[2][2] = {{0b00011011, 0b11100100}, {0b10101010, 0b01010100}};
  const uint8_t fourRows[2][4] = {{0x01, 0x23, 0x45, 0x60}, {0xFE, 0xDC, 0xBA, 0x90}};
  const uint8_t twoIndices[2][7] = {{0, 1, 2, 3, 3, 2, 1}, {2, 2, 2, 2, 1, 1, 1}};
  const uint8_t fourIndices[2][7] = {{0, 1, 2, 3, 4, 5, 6}, {15, 14, 13, 12, 11, 10, 9}};
  std::vector<RgbQuad> palette(16);
  for (int i = 0; i < 16; ++i) palette[i] = Quad(uint8_t(10 * i), i % 2 ? 200 : 20, uint8_t(i), 9);
  for (int y = 0; y < 2; ++y) {
    std::memcpy(two.GetRowTable()[y], twoRows[y], 2);
    std::memcpy(four.GetRowTable()[y], fourRows[y], 4);
  }
  two.SetPalette(palette.data());
  four.SetPalette(palette.data());

  for (const auto& [source, indices, entries] :
       {std::tuple{&two, twoIndices, 4}, std::tuple{&four, fourIndices, 16}}) {
    const int depth = source->GetBitsPerPixel();
    CWinBmp eight;
    eight.CopyFrom(*source, 8);
    ASSERT_EQ(eight.GetBitsPerPixel(), 8) << depth;
    for (int y = 0; y < 2; ++y)
      EXPECT_EQ(std::memcmp(eight.GetRowTable()[y], indices[y], 7), 0) << depth << " row " << y;
    // The source's entries, made opaque; the rest keeps the grey ramp.
    for (int i = 0; i < entries; ++i) {
      RgbQuad opaque = palette[i];
      opaque.reserved = 255;
      EXPECT_EQ(Packed(eight.GetPalette()[i]), Packed(opaque)) << depth << " entry " << i;
    }
    EXPECT_EQ(Packed(eight.GetPalette()[200]), Packed(Quad(200, 200, 200))) << depth;

    CWinBmp full;
    full.CopyFrom(*source, 32);
    ASSERT_EQ(full.GetBitsPerPixel(), 32) << depth;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 7; ++x)
        EXPECT_EQ(Rgb(At32(full, x, y)), Rgb(palette[indices[y][x]])) << depth << " " << x << "," << y;

    // Dark only when every channel is below 128: the even entries up to 12.
    CWinBmp mono;
    mono.CopyFrom(*source, 1);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 7; ++x) {
        const int index = indices[y][x];
        EXPECT_EQ(Bit(mono, x, y), index % 2 == 0 && index <= 12 ? 1 : 0) << depth << " " << x << "," << y;
      }
  }
}

TEST(BmpCopyDepth, SixteenBitsWidenFiveBitFieldsAndIgnoreTheTopBit) {
  const unsigned fields[][3] = {{31, 0, 0}, {0, 31, 0}, {0, 0, 31}, {16, 8, 1},
                                {15, 15, 15}, {16, 16, 16}, {0, 0, 0}};
  const int n = 7;
  CWinBmp source;
  source.Create(n, 2, 16, false);
  for (int x = 0; x < n; ++x) {
    Put555(source, x, 0, fields[x][0], fields[x][1], fields[x][2]);
    Put555(source, n - 1 - x, 1, fields[x][0], fields[x][1], fields[x][2], true);
  }

  CWinBmp full;
  full.CopyFrom(source, 32);
  ASSERT_EQ(full.GetBitsPerPixel(), 32);
  for (int x = 0; x < n; ++x) {
    const RgbQuad want = Quad(Widen5(fields[x][0]), Widen5(fields[x][1]), Widen5(fields[x][2]));
    EXPECT_EQ(Rgb(At32(full, x, 0)), Rgb(want)) << x;
    EXPECT_EQ(Rgb(At32(full, n - 1 - x, 1)), Rgb(want)) << x << " with the top bit set";
  }
  EXPECT_EQ(Rgb(At32(full, 3, 0)), Rgb(Quad(132, 66, 8)));

  // 15 widens to 123 (dark), 16 to 132 (light): the threshold sits between them.
  CWinBmp mono;
  mono.CopyFrom(source, 1);
  const int dark[n] = {0, 0, 0, 0, 1, 0, 1};
  for (int x = 0; x < n; ++x) EXPECT_EQ(Bit(mono, x, 0), dark[x]) << x;

  // Few colours: the 8-bit copy keeps each of them exactly.
  CWinBmp eight;
  eight.CopyFrom(source, 8);
  ASSERT_EQ(eight.GetBitsPerPixel(), 8);
  for (int x = 0; x < n; ++x)
    EXPECT_EQ(Rgb(eight.GetPalette()[eight.GetRowTable()[0][x]]), Rgb(At32(full, x, 0))) << x;
}

TEST(BmpCopyDepth, TwentyFourBitsAreBlueGreenRedWithPaddedRows) {
  // Width 5: 15 bytes of pixels, one byte of padding in each row.
  const uint8_t colours[5][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {127, 127, 127}, {128, 1, 2}};
  CWinBmp source;
  source.Create(5, 3, 24, false);
  ASSERT_EQ(source.GetRowStride(), 16u);
  for (int y = 0; y < 3; ++y) {
    uint8_t* row = source.GetRowTable()[y];
    row[15] = 0xEE;  // padding: never a pixel
    for (int x = 0; x < 5; ++x) {
      const uint8_t* c = colours[(x + y) % 5];
      row[3 * x] = c[2];
      row[3 * x + 1] = c[1];
      row[3 * x + 2] = c[0];
    }
  }

  CWinBmp full;
  full.CopyFrom(source, 32);
  CWinBmp mono;
  mono.CopyFrom(source, 1);
  CWinBmp eight;
  eight.CopyFrom(source, 8);
  ASSERT_EQ(eight.GetBitsPerPixel(), 8);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const uint8_t* c = colours[(x + y) % 5];
      const uint32_t want = Rgb(Quad(c[0], c[1], c[2]));
      EXPECT_EQ(Rgb(At32(full, x, y)), want) << x << "," << y;
      EXPECT_EQ(Bit(mono, x, y), c == colours[3] ? 1 : 0) << x << "," << y;
      EXPECT_EQ(Rgb(eight.GetPalette()[eight.GetRowTable()[y][x]]), want) << x << "," << y;
    }
}

TEST(BmpCopyDepth, PalettelessLowDepthsReadAsGreyRamps) {
  // Without a palette, 2 bits read as 0, 85, 170, 255 and 4 bits in steps of 17.
  class Paletteless : public CWinBmp {
  public:
    void DropPalette() { palette_ = nullptr; }
  };
  Paletteless two, four;
  two.Create(4, 1, 2, false);
  two.GetRowTable()[0][0] = 0b00011011;
  two.DropPalette();
  four.Create(2, 1, 4, false);
  four.GetRowTable()[0][0] = 0x5F;
  four.DropPalette();

  CWinBmp a, b;
  a.CopyFrom(two, 32);
  b.CopyFrom(four, 32);
  const uint8_t greys[4] = {0, 85, 170, 255};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(Rgb(At32(a, x, 0)), Rgb(Quad(greys[x], greys[x], greys[x]))) << x;
  EXPECT_EQ(Rgb(At32(b, 0, 0)), Rgb(Quad(85, 85, 85)));
  EXPECT_EQ(Rgb(At32(b, 1, 0)), Rgb(Quad(255, 255, 255)));
}

}  // namespace
