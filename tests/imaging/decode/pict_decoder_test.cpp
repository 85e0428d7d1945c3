// PICT pictures built byte by byte: the opcode walk, each kind of pixel data, and the
// checks that keep malformed tables and rows inside their buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_test_util.h"
#include "imaging/decode/pict_decoder.h"

using decodetest::Argb;
using decodetest::Bytes;
using decodetest::Index;

namespace {

struct Rgb {
  int r, g, b;
};

// Big-endian writers beside the little-endian ones of Bytes.
Bytes& Be16(Bytes& b, unsigned v) { return b.u8({int(v >> 8) & 255, int(v & 255)}); }
Bytes& Be32(Bytes& b, uint32_t v) { return Be16(Be16(b, v >> 16), v & 0xFFFF); }
Bytes& RectOf(Bytes& b, int w, int h) { return Be16(Be16(Be16(Be16(b, 0), 0), h), w); }

// Leading block, size, frame, version; version 2 adds the header opcode.
Bytes Start(int version = 2) {
  Bytes b;
  b.fill(512, 0);
  Be16(b, 0);
  RectOf(b, 10, 10);
  if (version == 2) {
    b.u8({0x00, 0x11, 0x02, 0xFF});
    Be16(b, 0x0C00).fill(24, 0);
  } else {
    b.u8({0x00, 0x11, 0x01});
  }
  return b;
}

// Opcode (two bytes in version 2, aligned to an even offset as a writer pads it).
Bytes& Op(Bytes& b, unsigned opcode, int version = 2) {
  if (version == 1) return b.u8({int(opcode)});
  if (b.v.size() & 1) b.u8({0});
  return Be16(b, opcode);
}

// PixMap record after the bounds.
Bytes& PixMapRecord(Bytes& b, int pixelSize, int cmpCount) {
  Be16(b, 0).u8({0, 4}).fill(4, 0);  // version, pack type 4, pack size
  Be32(b, 0x00480000).fill(4, 0);    // resolutions
  Be16(Be16(Be16(Be16(b, pixelSize > 8 ? 16 : 0), pixelSize), cmpCount), 8);
  return b.fill(12, 0);  // plane bytes, table, reserved
}

Bytes& ColourTable(Bytes& b, const std::vector<Rgb>& colours, bool inOrder = false,
                   const std::vector<int>& values = {}) {
  Be32(b, 0);
  Be16(b, inOrder ? 0x8000 : 0);
  Be16(b, colours.size() - 1);
  for (size_t i = 0; i < colours.size(); ++i) {
    Be16(b, values.empty() ? i : values[i]);
    for (int c : {colours[i].r, colours[i].g, colours[i].b}) Be16(b, c * 257);
  }
  return b;
}

// 0x98 (or 0x99 with a region) pixel map of w x h, up to the row data, after `b`.
Bytes PixMapPicture(int w, int h, int pixelSize, int rowBytes, const std::vector<Rgb>& colours,
                    unsigned opcode = 0x98, Bytes b = Start()) {
  Op(b, 0x0001);  // clip: a plain rectangle
  RectOf(Be16(b, 10), w, h);
  Op(b, opcode);
  Be16(b, 0x8000 | rowBytes);
  RectOf(b, w, h);
  PixMapRecord(b, pixelSize, 1);
  ColourTable(b, colours);
  RectOf(b, w, h);
  RectOf(b, w, h);
  Be16(b, 0);  // transfer mode
  if (opcode == 0x99) Be16(b, 10).fill(8, 0x77);
  return b;
}

// 0x9A direct pixels, up to the row data.
Bytes DirectPicture(int w, int h, int pixelSize, int cmpCount) {
  Bytes b = Start();
  Op(b, 0x9A);
  Be32(b, 0x000000FF);
  Be16(b, 0x8000 | (w * pixelSize / 8));
  RectOf(b, w, h);
  PixMapRecord(b, pixelSize, cmpCount);
  RectOf(b, w, h);
  RectOf(b, w, h);
  return Be16(b, 0);
}

// A packed row: length byte (or word), then PackBits data.
Bytes& PackedRow(Bytes& b, std::vector<int> data, bool word = false) {
  if (word) {
    Be16(b, data.size());
  } else {
    b.u8({int(data.size())});
  }
  for (int d : data) b.u8({d});
  return b;
}

Bytes& End(Bytes& b) { return Op(b, 0x00FF); }

void Decode(const Bytes& b, CBmp& bmp, int bpp = 0) { decodetest::Decode(b.v, bmp, bpp); }

int DecodeCode(const Bytes& b, std::string* text = nullptr, int bpp = 0) {
  return decodetest::DecodeError(b.v, bpp, text);
}

uint32_t Opaque(const Rgb& c) { return 0xFF000000u | uint32_t(c.r) << 16 | c.g << 8 | c.b; }

const std::vector<Rgb> kColours = {{255, 0, 0}, {0, 128, 0}, {0, 0, 255}, {10, 20, 30}};

// Row bytes decide the row layout: 6 unpacked, 200 packed with byte lengths, 300 with words.
class PictRowBytes : public testing::TestWithParam<int> {};

TEST_P(PictRowBytes, EightBitPixMapRows) {
  const int rowBytes = GetParam();
  const int w = rowBytes < 8 ? 5 : 12;
  Bytes b = PixMapPicture(w, 2, 8, rowBytes, kColours);
  for (int y = 0; y < 2; ++y) {
    if (rowBytes < 8) {
      b.u8({y, 1, 2, 3, 0, 9});
    } else {
      // 3 literals and a run of 9: the rest of the stated row stays 0.
      PackedRow(b, {2, y, 1, 2, 257 - 9, 3}, rowBytes >= 251);
    }
  }
  End(b);
  Be16(b, 0x0098);  // anything after the bitmap is never read
  CWinBmp indices;
  Decode(b, indices);
  ASSERT_EQ(indices.GetBitsPerPixel(), 8);
  ASSERT_EQ(indices.GetWidth(), w);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(Index(indices, 0, y), y);
    EXPECT_EQ(Index(indices, 2, y), 2);
    EXPECT_EQ(Index(indices, w - 1, y), rowBytes < 8 ? 0 : 3);
  }
  CWinBmp colours;
  Decode(b, colours, 32);
  EXPECT_EQ(Argb(colours, 0, 1), Opaque(kColours[1]));
  EXPECT_EQ(Argb(colours, 2, 0), Opaque(kColours[2]));
}

INSTANTIATE_TEST_SUITE_P(Layouts, PictRowBytes, testing::Values(6, 200, 300));

TEST(PictDecoder, SmallPixelsUnpackHighBitsFirst) {
  // 1, 2 and 4-bit pixel maps of one packed row each (8 row bytes, literal data).
  struct Case {
    int bits;
    std::vector<int> row;
    std::vector<int> indices;
  };
  for (const Case& c : {Case{1, {0xA0}, {1, 0, 1, 0}}, Case{2, {0x1B}, {0, 1, 2, 3}},
                        Case{4, {0x31, 0x20}, {3, 1, 2, 0}}}) {
    SCOPED_TRACE(c.bits);
    Bytes b = PixMapPicture(4, 1, c.bits, 8, kColours);
    std::vector<int> packed = {7};
    packed.insert(packed.end(), c.row.begin(), c.row.end());
    packed.resize(9, 0);
    PackedRow(b, packed);
    CWinBmp bmp;
    Decode(b, bmp, 32);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Argb(bmp, x, 0), Opaque(kColours[c.indices[x]])) << x;
  }
}

TEST(PictDecoder, ColourTableValuesOrRunningNumbers) {
  // Values 3, 0: entry 3 gets the first colour; with bit 15 set the values are ignored.
  for (bool inOrder : {false, true}) {
    Bytes b = Start();
    Op(b, 0x98);
    Be16(b, 0x8000 | 8);
    RectOf(b, 2, 1);
    PixMapRecord(b, 8, 1);
    ColourTable(b, {{1, 2, 3}, {4, 5, 6}, {0, 0, 0}, {9, 9, 9}}, inOrder, {3, 0, 1, 2});
    RectOf(RectOf(b, 2, 1), 2, 1);
    Be16(b, 0);
    PackedRow(b, {1, 0, 3});
    CWinBmp bmp;
    Decode(b, bmp, 32);
    EXPECT_EQ(Argb(bmp, 0, 0), inOrder ? 0xFF010203u : 0xFF040506u);
    EXPECT_EQ(Argb(bmp, 1, 0), inOrder ? 0xFF090909u : 0xFF010203u);
  }
}

TEST(PictDecoder, OneBitBitmapIsWhiteOnZeroAndBlackOnOne) {
  // Version 1: one-byte opcodes; a BitsRect with 2 unpacked row bytes (row bytes < 8).
  Bytes b = Start(1);
  Op(b, 0x90, 1);
  Be16(b, 2);
  RectOf(b, 10, 2);
  RectOf(RectOf(b, 10, 2), 10, 2);
  Be16(b, 0);
  b.u8({0xC0, 0x40, 0xFF, 0x00});
  CWinBmp bmp;
  Decode(b, bmp, 32);
  EXPECT_EQ(Argb(bmp, 0, 0), 0xFF000000u);
  EXPECT_EQ(Argb(bmp, 2, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Argb(bmp, 9, 0), 0xFF000000u);
  EXPECT_EQ(Argb(bmp, 9, 1), 0xFFFFFFFFu);
  CWinBmp indices;
  Decode(b, indices, 0);
  ASSERT_EQ(indices.GetBitsPerPixel(), 8);
  EXPECT_EQ(Index(indices, 1, 0), 1);
  EXPECT_EQ(indices.GetPalette()[0].red, 255);
  EXPECT_EQ(indices.GetPalette()[1].red, 0);
}

TEST(PictDecoder, DirectPixelsInComponentPlanes) {
  // Three components: red, green, blue planes; four: alpha first.
  Bytes rgb = DirectPicture(2, 1, 32, 3);
  PackedRow(rgb, {5, 10, 11, 20, 21, 30, 31});
  CWinBmp a;
  Decode(rgb, a);
  EXPECT_FALSE(a.HasAlpha());
  EXPECT_EQ(Argb(a, 0, 0), 0xFF0A141Eu);
  EXPECT_EQ(Argb(a, 1, 0), 0xFF0B151Fu);

  Bytes argb = DirectPicture(2, 1, 32, 4);
  PackedRow(argb, {0xFF, 0x80, 5, 1, 2, 3, 4, 5, 6});  // a run of two alphas, then literals
  CWinBmp b;
  Decode(argb, b);
  EXPECT_TRUE(b.HasAlpha());
  EXPECT_EQ(Argb(b, 0, 0), 0x80010305u);
  EXPECT_EQ(Argb(b, 1, 0), 0x80020406u);
}

TEST(PictDecoder, SixteenBitPixelsRepeatTwoByteUnits) {
  // 8 pixels (row bytes 16): a run of 5 units of 0x7C00 (red) and 3 literal units.
  Bytes b = DirectPicture(8, 1, 16, 3);
  PackedRow(b, {0xFC, 0x7C, 0x00, 2, 0x03, 0xE0, 0x00, 0x1F, 0x7F, 0xFF});
  CWinBmp bmp;
  Decode(b, bmp);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
  EXPECT_EQ(Argb(bmp, 4, 0), 0xFFF80000u);
  EXPECT_EQ(Argb(bmp, 5, 0), 0xFF00F800u);
  EXPECT_EQ(Argb(bmp, 6, 0), 0xFF0000F8u);
  EXPECT_EQ(Argb(bmp, 7, 0), 0xFFF8F8F8u);
}

TEST(PictDecoder, DrawingOpcodesAreSkippedByTheirLengths) {
  Bytes b = Start();
  Op(b, 0x0004).u8({1});                  // TxFace: odd length, then a fill byte
  Op(b, 0x0070);                          // framePoly: size counts itself
  Be16(b, 12).fill(10, 0x98);
  Op(b, 0x00A1);                          // long comment
  Be16(Be16(b, 100), 3).fill(3, 0x98);
  Op(b, 0x0012);                          // pixel pattern of type 1 with a packed row
  Be16(b, 1).fill(8, 0);
  Be16(b, 0x8000 | 8);
  RectOf(b, 8, 1);
  PixMapRecord(b, 8, 1);
  ColourTable(b, kColours);
  PackedRow(b, {0xF9, 0x98});
  Op(b, 0x0013);                          // pixel pattern of type 2
  Be16(b, 2).fill(13, 0x98);
  Op(b, 0x00A5);                          // reserved, word length
  Be16(b, 2).fill(2, 0x98);
  Op(b, 0x00B3);                          // reserved, no data
  Op(b, 0x00D0);                          // reserved, long length
  Be32(b, 3).fill(3, 0x98);
  Op(b, 0x0200);                          // reserved, 2 x high byte
  b.fill(4, 0x98);
  Op(b, 0x0091);                          // BitsRgn: one-bit bitmap with a region
  Be16(b, 2);
  RectOf(b, 1, 1);
  RectOf(RectOf(b, 1, 1), 1, 1);
  Be16(b, 0);
  Be16(b, 12).fill(10, 0x55);
  b.u8({0x80, 0});
  CWinBmp bmp;
  Decode(b, bmp, 32);
  EXPECT_EQ(Argb(bmp, 0, 0), 0xFF000000u);
}

TEST(PictDecoder, PackBitsRgnSkipsItsRegion) {
  Bytes b = PixMapPicture(8, 1, 8, 8, kColours, 0x99);
  PackedRow(b, {0xF9, 2});
  CWinBmp bmp;
  Decode(b, bmp);
  EXPECT_EQ(Index(bmp, 7, 0), 2);
}

TEST(PictDecoder, TextOpcodesAreSkippedByTheirLengths) {
  // Each carries a point or steps, a count byte and that many characters; a pixel map
  // follows, so a text opcode read as empty puts the stream out of step.
  const struct {
    unsigned opcode;
    std::vector<int> data;
  } texts[] = {
      {0x28, {0, 5, 0, 9, 3, 'a', 'b', 'c'}},
      {0x29, {7, 2, 'x', 'y'}},
      {0x2A, {7, 1, 'z'}},
      {0x2B, {7, 8, 4, 'w', 'o', 'r', 'd'}},
  };
  for (const auto& t : texts) {
    Bytes text = Start();
    Op(text, t.opcode);
    for (int d : t.data) text.u8({d});
    Bytes b = PixMapPicture(8, 1, 8, 8, kColours, 0x98, text);
    PackedRow(b, {0xF9, 2});
    CWinBmp bmp;
    Decode(b, bmp);
    EXPECT_EQ(Index(bmp, 7, 0), 2) << "opcode " << t.opcode;
  }
}

TEST(PictDecoder, SixteenBitPixMapRowsFollowTheirRowBytes) {
  // PackBitsRect at 16 bits: the pixel-map flag is no part of the row's length, so a row
  // of 16 bytes has a length byte and one of 6 bytes is stored unpacked.
  Bytes packed = PixMapPicture(8, 1, 16, 16, {});
  PackedRow(packed, {0xFC, 0x7C, 0x00, 2, 0x03, 0xE0, 0x00, 0x1F, 0x7F, 0xFF});
  Bytes raw = PixMapPicture(3, 1, 16, 6, {});
  raw.u8({0x7C, 0x00, 0x03, 0xE0, 0x00, 0x1F});
  for (const Bytes* b : {&packed, &raw}) {
    CWinBmp bmp;
    Decode(*b, bmp);
    ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
    const int red = bmp.GetWidth() == 8 ? 4 : 0;  // then green and blue
    EXPECT_EQ(Argb(bmp, red, 0), 0xFFF80000u);
    EXPECT_EQ(Argb(bmp, red + 1, 0), 0xFF00F800u);
    EXPECT_EQ(Argb(bmp, red + 2, 0), 0xFF0000F8u);
  }
}

struct BadPict {
  const char* label;
  Bytes file;
  int code;
  const char* text;  // nullptr: any text
};

void PrintTo(const BadPict& p, std::ostream* os) { *os << p.label; }

class PictErrors : public testing::TestWithParam<BadPict> {};

TEST_P(PictErrors, RaiseCodeAndText) {
  std::string text;
  EXPECT_EQ(DecodeCode(GetParam().file, &text), GetParam().code) << text;
  if (GetParam().text != nullptr) {
    EXPECT_EQ(text, GetParam().text);
  }
}

Bytes WithPadding(Bytes b) {
  b.fill(40, 0);  // so the detection's size test passes and nothing ends early
  return b;
}

Bytes QuickTime(std::vector<int> data) {
  Bytes b = Start();
  Op(b, 0x8200);
  Be32(b, data.size());
  for (int d : data) b.u8({d});
  return b;
}

Bytes BadRow(std::vector<int> packed) {
  Bytes b = PixMapPicture(8, 1, 8, 8, kColours);
  PackedRow(b, packed);
  return b;
}

Bytes LongTable() {
  Bytes b = Start();
  Op(b, 0x98);
  Be16(b, 0x8000 | 8);
  RectOf(b, 8, 1);
  PixMapRecord(b, 8, 1);
  return ColourTable(b, std::vector<Rgb>(257, Rgb{1, 1, 1}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PictErrors,
    testing::Values(
        BadPict{"only_vector_data", WithPadding([] { Bytes b = Start(); return End(b); }()), 6,
                "Decoder error: PICT contained only vector data!\n\n"},
        BadPict{"unknown_pattern", WithPadding([] {
                  Bytes b = Start();
                  return Be16(Op(b, 0x0014), 7);
                }()), 2, "Decoder error: Unknown pattern type in pixPat.\n"},
        BadPict{"table_over_256", WithPadding(LongTable()), 2,
                "Decoder error: PICT: colour table has more than 256 entries.\n"},
        BadPict{"table_value_beyond_size", WithPadding([] {
                  Bytes b = Start();
                  Op(b, 0x98);
                  Be16(b, 0x8000 | 8);
                  RectOf(b, 8, 1);
                  PixMapRecord(b, 8, 1);
                  return ColourTable(b, kColours, false, {0, 1, 2, 4});
                }()), 2, "Decoder error: pixel value greater than colour table size.\n"},
        BadPict{"row_expands_past_row", WithPadding(BadRow({0xF6, 1})), 2,
                "Decoder error: PICT: packed row expands past the row.\n"},
        BadPict{"literal_past_row_data", WithPadding(BadRow({3, 1, 2, 3})), 2,
                "Decoder error: PICT: packed run passes the end of its row data.\n"},
        BadPict{"run_without_value", WithPadding(BadRow({0xF9})), 2,
                "Decoder error: PICT: packed run passes the end of its row data.\n"},
        BadPict{"pixel_size_24", WithPadding([] {
                  Bytes b = DirectPicture(8, 1, 24, 3);
                  return PackedRow(b, {0xE9, 0});
                }()), 2, "Decoder error: Illegal bpp value in unpackbits: 24\n\n"},
        BadPict{"jpeg_inside", WithPadding(QuickTime({1, 2, 0xFF, 0xD8, 0xFF, 0xE0})), 6,
                "Decoder error: Library not compiled for PICT/JPEG.\n"},
        BadPict{"other_quicktime", WithPadding(QuickTime({1, 2, 0xFF, 0xD8, 0})), 6,
                "Decoder error: PICT file contains unrecognized quicktime data.\n\n"},
        BadPict{"rows_end_early", [] {
                  Bytes b = PixMapPicture(40, 30, 8, 40, kColours);
                  for (int y = 0; y < 29; ++y) PackedRow(b, {0xD9, y});
                  b.v.pop_back();
                  return b;
                }(), 11, nullptr}),
    [](const testing::TestParamInfo<BadPict>& info) { return std::string(info.param.label); });

TEST(PictDecoder, VersionMustFollowTheFrame) {
  // Straight to the decoder: the detection would not take these for PICT.
  Bytes missing = WithPadding(Start());
  missing.v[523] = 0x12;
  std::string text;
  EXPECT_EQ(decodetest::DecodeErrorWith<CPictDecoder>(missing.v, 0, &text), 1);
  EXPECT_EQ(text, "Decoder error: Error decoding pict: Version number missing.\n");
  Bytes illegal = WithPadding(Start());
  illegal.v[525] = 0xFE;
  EXPECT_EQ(decodetest::DecodeErrorWith<CPictDecoder>(illegal.v, 0, &text), 1);
  EXPECT_EQ(text, "Decoder error: Illegal version number.\n");
}

TEST(PictDecoder, SixteenBitsCannotBecomeIndices) {
  Bytes b = DirectPicture(8, 1, 16, 3);
  PackedRow(b, {0xF9, 0, 0});
  std::string text;
  EXPECT_EQ(DecodeCode(WithPadding(b), &text, 8), 2);
  EXPECT_EQ(text, "Decoder error: Bad bits per pixel in expandBuf8.\n");
}

}  // namespace
