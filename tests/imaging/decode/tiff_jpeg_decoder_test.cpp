#include <gtest/gtest.h>

// GCC warns about members left out of C++ designated initializers (its bug 96868); the
// specs below rely on their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <map>
#include <string>
#include <vector>

#include "imaging/decode/jpeg_decoder.h"
#include "imaging/decode/tiff_decoder.h"
#include "lib_decode_test_util.h"
#include "lib_samples.h"

using libdecodetest::DecodeFailure;
using libdecodetest::DecodeWith;
using libdecodetest::ReadFile;
using libdecodetest::Rgba;

namespace {

// A little-endian, uncompressed, single-strip TIFF built field by field.
struct TiffSpec {
  uint32_t width = 4;
  uint32_t height = 2;
  uint16_t bits = 8;
  uint16_t samples = 1;
  uint16_t photometric = 1;
  std::vector<uint16_t> colormap;  // 3 x 2^bits values: reds, greens, blues
  std::vector<uint8_t> pixels;     // the strip as stored
  int32_t stripOffsetShift = 0;    // moves the strip offset (to point past the end)
};

void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}

std::vector<uint8_t> MakeTiff(const TiffSpec& s) {
  std::vector<uint8_t> v = {'I', 'I', 42, 0};
  Put32(v, 0);  // IFD offset, patched below
  const uint32_t stripAt = uint32_t(v.size());
  v.insert(v.end(), s.pixels.begin(), s.pixels.end());
  uint32_t bitsAt = 0, mapAt = 0;
  if (s.samples > 1) {
    bitsAt = uint32_t(v.size());
    for (int i = 0; i < s.samples; ++i) Put16(v, s.bits);
  }
  if (!s.colormap.empty()) {
    mapAt = uint32_t(v.size());
    for (uint16_t c : s.colormap) Put16(v, c);
  }
  if (v.size() % 2) v.push_back(0);
  const uint32_t ifdAt = uint32_t(v.size());
  v[4] = uint8_t(ifdAt);
  v[5] = uint8_t(ifdAt >> 8);
  std::map<uint16_t, std::vector<uint8_t>> entries;  // tag -> 12-byte entry
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    std::vector<uint8_t> e;
    Put16(e, tag);
    Put16(e, type);
    Put32(e, count);
    if (type == 3 && count == 1) {
      Put16(e, value);
      Put16(e, 0);
    } else {
      Put32(e, value);
    }
    entries[tag] = e;
  };
  entry(256, 4, 1, s.width);
  entry(257, 4, 1, s.height);
  entry(258, 3, s.samples, s.samples > 1 ? bitsAt : s.bits);
  entry(259, 3, 1, 1);
  entry(262, 3, 1, s.photometric);
  entry(273, 4, 1, uint32_t(int32_t(stripAt) + s.stripOffsetShift));
  entry(277, 3, 1, s.samples);
  entry(278, 4, 1, s.height);
  entry(279, 4, 1, uint32_t(s.pixels.size()));
  if (mapAt) entry(320, 3, uint32_t(s.colormap.size()), mapAt);
  Put16(v, uint16_t(entries.size()));
  for (const auto& [tag, e] : entries) v.insert(v.end(), e.begin(), e.end());
  Put32(v, 0);
  return v;
}

TEST(TiffDecoder, BilevelMinIsWhiteGivesOneBitWithWhiteFirst) {
  // 10 x 2: rows 1010000011 and 0111111100, stored packed.
  const auto file = MakeTiff({.width = 10, .height = 2, .bits = 1, .photometric = 0,
                              .pixels = {0b10100000, 0b11000000, 0b01111111, 0b00000000}});
  CTIFFDecoder decoder;
  CWinBmp bmp;
  DecodeWith(decoder, file, bmp, 0);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 1);
  const RgbQuad* pal = bmp.GetPalette();
  EXPECT_EQ(pal[0].red, 255);
  EXPECT_EQ(pal[0].green, 255);
  EXPECT_EQ(pal[0].blue, 255);
  EXPECT_EQ(pal[1].red, 0);
  EXPECT_EQ(bmp.GetRowTable()[0][0], 0b10100000);
  EXPECT_EQ(bmp.GetRowTable()[0][1] & 0xC0, 0b11000000);
  EXPECT_EQ(bmp.GetRowTable()[1][0], 0b01111111);
}

struct LowColourCase {
  uint16_t bits;
  uint16_t photometric;
  uint32_t width;
  std::vector<uint8_t> row;         // one stored row
  std::vector<int> indices;         // expected indices
  std::vector<int> paletteRed;      // expected red of palette entries 0..n-1
};

void PrintTo(const LowColourCase& c, std::ostream* os) {
  *os << c.bits << " bits, photometric " << c.photometric;
}

class TiffLowColour : public testing::TestWithParam<LowColourCase> {};

TEST_P(TiffLowColour, SamplesWidenToIndicesWithAGreyRamp) {
  const LowColourCase& c = GetParam();
  const auto file = MakeTiff({.width = c.width, .height = 1, .bits = c.bits,
                              .photometric = c.photometric, .pixels = c.row});
  CTIFFDecoder decoder;
  CWinBmp bmp;
  DecodeWith(decoder, file, bmp, 0);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 8);
  const uint8_t* row = bmp.GetRowTable()[0];
  EXPECT_EQ(std::vector<int>(row, row + c.width), c.indices);
  for (size_t i = 0; i < c.paletteRed.size(); ++i) {
    EXPECT_EQ(bmp.GetPalette()[i].red, c.paletteRed[i]) << "entry " << i;
    EXPECT_EQ(bmp.GetPalette()[i].blue, c.paletteRed[i]) << "entry " << i;
  }
  // The table beyond 2^bits entries is defined (zero), not left from an earlier buffer.
  if (c.bits < 8) {
    EXPECT_EQ(bmp.GetPalette()[255].red, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TiffLowColour,
    testing::Values(
        // 2 bits: four pixels per byte, ramp step 85.
        LowColourCase{2, 1, 5, {0b00011011, 0b10000000}, {0, 1, 2, 3, 2}, {0, 85, 170, 255}},
        // 4 bits, odd width: the last pixel is the high nibble of one more byte.
        LowColourCase{4, 1, 3, {0x0F, 0x70}, {0, 15, 7}, {0, 17, 34}},
        // 4 bits, minimum is white: the ramp runs backwards.
        LowColourCase{4, 0, 2, {0x0F}, {0, 15}, {255, 238}},
        // 3 bits straddle byte boundaries; integer step 255 / 7 = 36.
        LowColourCase{3, 1, 4, {0b00101010, 0b01110000}, {1, 2, 4, 7}, {0, 36, 72}},
        // 8 bits: copied.
        LowColourCase{8, 1, 3, {9, 200, 255}, {9, 200, 255}, {0, 1, 2}}));

TEST(TiffDecoder, ColourMapsOfSixteenAndEightBitValues) {
  std::vector<uint16_t> wide(3 * 4), narrow(3 * 4);
  for (int i = 0; i < 4; ++i) {
    wide[i] = uint16_t(0x1000 * i + 0x00FF);  // red: high bytes 0x00, 0x10, 0x20, 0x30
    wide[4 + i] = 0xFFFF;
    wide[8 + i] = 0;
    narrow[i] = uint16_t(60 * i);  // all below 256: taken as they are
    narrow[4 + i] = 255;
    narrow[8 + i] = 1;
  }
  for (bool isWide : {true, false}) {
    const auto file = MakeTiff({.width = 4, .height = 1, .bits = 2, .photometric = 3,
                                .colormap = isWide ? wide : narrow, .pixels = {0b00011011}});
    CTIFFDecoder decoder;
    CWinBmp bmp;
    DecodeWith(decoder, file, bmp, 0);
    ASSERT_EQ(bmp.GetBitsPerPixel(), 8);
    for (int i = 0; i < 4; ++i) {
      const auto p = Rgba(bmp, i, 0);
      EXPECT_EQ(p[0], isWide ? 0x10 * i : 60 * i);
      EXPECT_EQ(p[1], 255);
      EXPECT_EQ(p[2], isWide ? 0 : 1);
    }
  }
}

TEST(TiffDecoder, ThreeSamplesOrThirtyTwoWantedGoThroughRgba) {
  const auto rgb = MakeTiff({.width = 2, .height = 1, .samples = 3, .photometric = 2,
                             .pixels = {10, 20, 30, 40, 50, 60}});
  const auto grey = MakeTiff({.width = 2, .height = 2, .pixels = {0, 100, 200, 255}});
  CTIFFDecoder decoder;
  CWinBmp bmp;
  DecodeWith(decoder, rgb, bmp, 0);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
  EXPECT_FALSE(bmp.HasAlpha());
  EXPECT_EQ(Rgba(bmp, 1, 0), (std::array<uint8_t, 4>{40, 50, 60, 255}));
  DecodeWith(decoder, grey, bmp, 32);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
  // Top row first, whatever order libtiff's raster keeps.
  EXPECT_EQ(Rgba(bmp, 1, 0), (std::array<uint8_t, 4>{100, 100, 100, 255}));
  EXPECT_EQ(Rgba(bmp, 0, 1), (std::array<uint8_t, 4>{200, 200, 200, 255}));
}

TEST(TiffDecoder, StripsOverTheMemoryLimit) {
  // Plain RGB is then read a line at a time, to the same picture; libtiff's RGBA reader,
  // which holds a whole strip, is refused.
  std::vector<uint8_t> pixels(8 * 6 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  const auto rgb = MakeTiff({.width = 8, .height = 6, .samples = 3, .photometric = 2,
                             .pixels = pixels});
  CTIFFDecoder decoder;
  CWinBmp whole, lines;
  DecodeWith(decoder, rgb, whole, 0);
  DecodeLimits limits;
  limits.maxMemory = 100;  // the strip is 144 bytes, a line 24
  decoder.SetLimits(limits);
  DecodeWith(decoder, rgb, lines, 0);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) EXPECT_EQ(Rgba(lines, x, y), Rgba(whole, x, y)) << x << "," << y;
  }
  const auto grey = MakeTiff({.width = 8, .height = 6, .pixels = std::vector<uint8_t>(48, 9)});
  limits.maxMemory = 40;
  decoder.SetLimits(limits);
  const auto f = DecodeFailure(decoder, grey, 32);
  EXPECT_EQ(f.code, textexception::kNoMemory);
  EXPECT_EQ(f.text, "Decoder error: TIFF decoder: strip or tile of 48 bytes is over the memory "
                    "limit of 40 bytes (0 in use).\n");
}

TEST(TiffDecoder, LibraryErrorsCarryLibtiffsMessage) {
  // Not a TIFF behind the signature.
  std::vector<uint8_t> junk = {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3};
  CTIFFDecoder decoder;
  auto f = DecodeFailure(decoder, junk);
  EXPECT_EQ(f.code, textexception::kWrongSignature);
  EXPECT_GT(f.text.size(), std::string("Decoder error: \n").size() + 5) << f.text;
  EXPECT_NE(f.text.find("directory"), std::string::npos) << f.text;

  // The strip lies beyond the end of the file: the first rows fail (code 7) on the low
  // colour path, and the RGBA reader fails (code 1) on the high colour path.
  const auto lost = MakeTiff({.width = 8, .height = 6, .pixels = std::vector<uint8_t>(48, 1),
                              .stripOffsetShift = 5000});
  f = DecodeFailure(decoder, lost);
  EXPECT_EQ(f.code, textexception::kInternal) << f.text;
  EXPECT_GT(f.text.size(), std::string("Decoder error: \n").size() + 5) << f.text;
  f = DecodeFailure(decoder, lost, 32);
  EXPECT_EQ(f.code, textexception::kWrongSignature) << f.text;
  EXPECT_FALSE(decoder.GetMessages().error.empty());
  // The same for plain RGB, which is read strip by strip.
  const auto lostRgb = MakeTiff({.width = 8, .height = 6, .samples = 3, .photometric = 2,
                                 .pixels = std::vector<uint8_t>(144, 1),
                                 .stripOffsetShift = 5000});
  f = DecodeFailure(decoder, lostRgb);
  EXPECT_EQ(f.code, textexception::kWrongSignature) << f.text;
  EXPECT_NE(f.text.find("strip"), std::string::npos) << f.text;
}

TEST(TiffDecoder, EpsPreviewIsReadFromItsOffset) {
  const auto tiff = MakeTiff({.width = 2, .height = 1, .pixels = {30, 220}});
  const std::string postscript = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 2 1\n";
  std::vector<uint8_t> eps = {0xC5, 0xD0, 0xD3, 0xC6};
  const uint32_t psAt = 30, tiffAt = psAt + uint32_t(postscript.size());
  Put32(eps, psAt);
  Put32(eps, uint32_t(postscript.size()));
  Put32(eps, 0);
  Put32(eps, 0);
  Put32(eps, tiffAt);
  Put32(eps, uint32_t(tiff.size()));
  Put16(eps, 0xFFFF);
  eps.insert(eps.end(), postscript.begin(), postscript.end());
  eps.insert(eps.end(), tiff.begin(), tiff.end());
  CAnyPicDecoder any;
  CWinBmp bmp;
  DecodeWith(any, eps, bmp, 0, "picture.eps");
  EXPECT_EQ(any.GetFileType(), picformat::kEpsTiff);
  ASSERT_EQ(bmp.GetWidth(), 2);
  EXPECT_EQ(Rgba(bmp, 0, 0)[0], 30);
  EXPECT_EQ(Rgba(bmp, 1, 0)[0], 220);
}

// --- JPEG (files written by Pillow, see make_lib_samples.py) ---

std::vector<uint8_t> Sample(const std::string& name) {
  return ReadFile(libdecodetest::SamplesDir() + "/" + name);
}

TEST(JpegDecoder, GreyIsEightBitsOrEqualChannelsAtThirtyTwo) {
  const auto file = Sample("jpeg_grey.jpg");
  ASSERT_FALSE(file.empty());
  CJPEGDecoder decoder;
  CWinBmp eight, wide;
  DecodeWith(decoder, file, eight, 0);
  DecodeWith(decoder, file, wide, 32);
  ASSERT_EQ(eight.GetBitsPerPixel(), 8);
  ASSERT_EQ(wide.GetBitsPerPixel(), 32);
  EXPECT_EQ(eight.GetPalette()[77].red, 77);  // the grey ramp
  for (int y = 0; y < eight.GetHeight(); ++y) {
    for (int x = 0; x < eight.GetWidth(); ++x) {
      const auto p = Rgba(wide, x, y);
      ASSERT_EQ(p[0], eight.GetRowTable()[y][x]);
      ASSERT_EQ(p[1], p[0]);
      ASSERT_EQ(p[2], p[0]);
      ASSERT_EQ(p[3], 255);
    }
  }
}

TEST(JpegDecoder, ColourIsThirtyTwoBitsWhateverIsWanted) {
  const auto file = Sample("jpeg_colour.jpg");
  for (int wanted : {0, 1, 8, 32}) {
    CJPEGDecoder decoder;
    CWinBmp bmp;
    DecodeWith(decoder, file, bmp, wanted);
    EXPECT_EQ(bmp.GetBitsPerPixel(), 32) << wanted;
    EXPECT_FALSE(bmp.HasAlpha());
    EXPECT_EQ(Rgba(bmp, 5, 5)[3], 255);
  }
}

TEST(JpegDecoder, MissingEndStillDecodesTheRowsThatArrived) {
  const auto file = Sample("jpeg_colour_444.jpg");
  CJPEGDecoder decoder;
  CWinBmp full, cut;
  DecodeWith(decoder, file, full, 0);
  // Drop the last third of the scan data and the end-of-image marker.
  DecodeWith(decoder, std::vector<uint8_t>(file.begin(), file.end() - long(file.size() / 3)), cut,
             0);
  ASSERT_EQ(cut.GetHeight(), full.GetHeight());
  for (int x = 0; x < full.GetWidth(); ++x) EXPECT_EQ(Rgba(cut, x, 0), Rgba(full, x, 0));
}

TEST(JpegDecoder, LibraryErrorsAreCodeSixWithTheLibrarysMessage) {
  CJPEGDecoder decoder;
  // CMYK pictures cannot be turned into blue-green-red by the library.
  auto f = DecodeFailure(decoder, Sample("extra_cmyk.jpg"));
  EXPECT_EQ(f.code, textexception::kUnsupported);
  EXPECT_EQ(f.text, "Decoder error: Unsupported color conversion request\n\n");
  // A start-of-image marker followed by rubbish.
  f = DecodeFailure(decoder, {0xFF, 0xD8, 0xFF, 0x01, 0x02, 0x03});
  EXPECT_EQ(f.code, textexception::kUnsupported);
  EXPECT_EQ(f.text.substr(f.text.size() - 2), "\n\n");
  // The pixel limit holds before the library allocates anything, and so does the memory
  // limit for the coefficients a progressive file keeps.
  decoder.SetMaxPixels(100);
  EXPECT_EQ(DecodeFailure(decoder, Sample("jpeg_colour.jpg")).code, textexception::kNoMemory);
  DecodeLimits limits;
  limits.maxMemory = 1000;
  decoder.SetLimits(limits);
  f = DecodeFailure(decoder, Sample("jpeg_progressive.jpg"));
  EXPECT_EQ(f.code, textexception::kNoMemory);
  EXPECT_NE(f.text.find("coefficients of a progressive picture of "), std::string::npos) << f.text;
  EXPECT_NE(f.text.find(" bytes is over the memory limit of 1000 bytes"), std::string::npos);
  EXPECT_EQ(DecodeFailure(decoder, Sample("jpeg_colour.jpg")).code, 0);  // one scan
}

}  // namespace
