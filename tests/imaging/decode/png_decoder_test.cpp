#include <gtest/gtest.h>
#include <zlib.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/decode/png_decoder.h"
#include "lib_decode_test_util.h"

using libdecodetest::DecodeFailure;
using libdecodetest::DecodeWith;
using libdecodetest::ReadFile;
using libdecodetest::Rgba;

namespace fs = std::filesystem;

namespace {

const fs::path kSuite = fs::path(LUMORA_TESTDATA_DIR) / "pngsuite";

std::vector<std::string> SuiteNames() {
  std::vector<std::string> names;
  if (!fs::exists(kSuite / "png")) return names;
  for (const auto& entry : fs::directory_iterator(kSuite / "png")) {
    if (entry.path().extension() == ".png") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The reference decodes are flat JSON arrays of 8-bit RGBA values.
std::vector<int> ReadJsonArray(const fs::path& path) {
  const auto bytes = ReadFile(path.string());
  std::vector<int> values;
  int current = -1;
  for (uint8_t c : bytes) {
    if (std::isdigit(c)) {
      current = (current < 0 ? 0 : current * 10) + (c - '0');
    } else if (current >= 0) {
      values.push_back(current);
      current = -1;
    }
  }
  if (current >= 0) values.push_back(current);
  return values;
}

uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

class PngSuite : public testing::TestWithParam<std::string> {};

TEST_P(PngSuite, MatchesReferenceOrFailsCleanly) {
  const std::string name = GetParam();
  const auto file = ReadFile((kSuite / "png" / (name + ".png")).string());
  if (name[0] == 'x') {
    CPNGDecoder decoder;
    const auto failure = DecodeFailure(decoder, file);
    EXPECT_NE(failure.code, 0) << "corrupt file decoded";
    return;
  }
  const int bitDepth = file[24];
  const int colourType = file[25];
  fs::path json = kSuite / "json" / (name + (bitDepth == 16 ? "_to8" : "") + ".json");
  int shift = 0;  // some 16-bit files only have a 16-bit reference
  if (!fs::exists(json)) {
    json = kSuite / "json" / (name + ".json");
    shift = 8;
  }
  ASSERT_TRUE(fs::exists(json)) << "no reference for " << name;
  auto expected = ReadJsonArray(json);
  for (int& v : expected) v >>= shift;
  const int width = int(Be32(file, 16)), height = int(Be32(file, 20));
  ASSERT_EQ(expected.size(), size_t(width) * size_t(height) * 4);
  // 16-bit references were reduced by rounding; the decoder keeps the high byte.
  const int tolerance = bitDepth == 16 ? 1 : 0;

  for (int wanted : {0, 32}) {
    CPNGDecoder decoder;
    CWinBmp bmp;
    DecodeWith(decoder, file, bmp, wanted);
    const bool colour = colourType == 2 || colourType == 4 || colourType == 6;
    EXPECT_EQ(bmp.GetBitsPerPixel(), colour || wanted == 32 ? 32 : 8);
    EXPECT_EQ(bmp.HasAlpha(), colourType == 4 || colourType == 6);
    int mismatches = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const auto got = Rgba(bmp, x, y);
        const int* want = &expected[(size_t(y) * width + x) * 4];
        // Without the alpha flag only the colour counts (tRNS transparency is not kept).
        const int channels = bmp.HasAlpha() ? 4 : 3;
        for (int c = 0; c < channels; ++c) {
          if (std::abs(got[c] - want[c]) > tolerance && mismatches++ < 5) {
            ADD_FAILURE() << name << " wanted " << wanted << " at " << x << "," << y
                          << " channel " << c << ": " << int(got[c]) << " vs " << want[c];
          }
        }
      }
    }
    EXPECT_EQ(mismatches, 0) << name << " wanted " << wanted;
  }
}

INSTANTIATE_TEST_SUITE_P(Files, PngSuite, testing::ValuesIn(SuiteNames()),
                         [](const auto& info) { return info.param; });

// A PNG built from scratch: signature, IHDR, optional PLTE, one IDAT, IEND.
struct Chunk {
  const char* type;
  std::vector<uint8_t> data;
};

void PutBe32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}

std::vector<uint8_t> MakePng(const std::vector<Chunk>& chunks) {
  std::vector<uint8_t> v = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const Chunk& c : chunks) {
    PutBe32(v, uint32_t(c.data.size()));
    const size_t start = v.size();
    v.insert(v.end(), c.type, c.type + 4);
    v.insert(v.end(), c.data.begin(), c.data.end());
    PutBe32(v, uint32_t(crc32(0, v.data() + start, uInt(v.size() - start))));
  }
  return v;
}

std::vector<uint8_t> Ihdr(uint32_t w, uint32_t h, int depth, int type) {
  std::vector<uint8_t> d;
  PutBe32(d, w);
  PutBe32(d, h);
  d.insert(d.end(), {uint8_t(depth), uint8_t(type), 0, 0, 0});
  return d;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw) {
  uLongf size = compressBound(uLong(raw.size()));
  std::vector<uint8_t> out(size);
  compress(out.data(), &size, raw.data(), uLong(raw.size()));
  out.resize(size);
  return out;
}

TEST(PngDecoder, TwoBitPaletteGivesEightBitsWithTheFilesEntries) {
  // 5 x 1 pixels, indices 0 1 2 3 1 packed two bits each.
  const auto file = MakePng({{"IHDR", Ihdr(5, 1, 2, 3)},
                             {"PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120}},
                             {"IDAT", Deflate({0, 0b00011011, 0b01000000})},
                             {"IEND", {}}});
  CPNGDecoder decoder;
  CWinBmp bmp;
  DecodeWith(decoder, file, bmp, 0);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 8);
  const uint8_t* row = bmp.GetRowTable()[0];
  EXPECT_EQ(std::vector<int>(row, row + 5), (std::vector<int>{0, 1, 2, 3, 1}));
  EXPECT_EQ(Rgba(bmp, 3, 0), (std::array<uint8_t, 4>{100, 110, 120, 255}));
}

TEST(PngDecoder, SixteenBitRgbKeepsHighBytesAndOpaqueFiller) {
  // One pixel: red 0x12AB, green 0xFF00, blue 0x0001.
  const auto file = MakePng({{"IHDR", Ihdr(1, 1, 16, 2)},
                             {"IDAT", Deflate({0, 0x12, 0xAB, 0xFF, 0x00, 0x00, 0x01})},
                             {"IEND", {}}});
  for (int wanted : {0, 8}) {
    CPNGDecoder decoder;
    CWinBmp bmp;
    DecodeWith(decoder, file, bmp, wanted);
    // Colour needs 32 bits even when 8 are asked for.
    ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
    EXPECT_FALSE(bmp.HasAlpha());
    EXPECT_EQ(Rgba(bmp, 0, 0), (std::array<uint8_t, 4>{0x12, 0xFF, 0x00, 255}));
  }
}

TEST(PngDecoder, GreyRampHasTwoToTheDepthSteps) {
  struct Case {
    int depth;
    std::vector<uint8_t> row;  // filter byte, packed samples
    std::vector<int> grey;     // expected grey of the first pixels
  };
  for (const Case& c : {Case{1, {0, 0b10000000}, {255, 0}}, Case{2, {0, 0b00011011}, {0, 85, 170, 255}},
                        Case{4, {0, 0x0F, 0x70}, {0, 255, 119, 0}},
                        Case{16, {0, 0x80, 0x7F, 0x01, 0xFF}, {128, 1}}}) {
    const uint32_t width = uint32_t(c.grey.size());
    const auto file = MakePng({{"IHDR", Ihdr(width, 1, c.depth, 0)}, {"IDAT", Deflate(c.row)},
                               {"IEND", {}}});
    for (int wanted : {0, 32}) {
      CPNGDecoder decoder;
      CWinBmp bmp;
      DecodeWith(decoder, file, bmp, wanted);
      ASSERT_EQ(bmp.GetBitsPerPixel(), wanted == 32 ? 32 : 8);
      for (uint32_t x = 0; x < width; ++x) {
        const auto p = Rgba(bmp, int(x), 0);
        EXPECT_EQ(p[0], c.grey[x]) << "depth " << c.depth << " x " << x;
        EXPECT_EQ(p[1], c.grey[x]);
        EXPECT_EQ(p[3], 255);
      }
    }
  }
}

TEST(PngDecoder, FailuresAreCleanAndSayWhy) {
  std::vector<uint8_t> rows(2 * 10, 7);
  rows[0] = rows[10] = 0;  // filter type: none
  const auto good = MakePng({{"IHDR", Ihdr(3, 2, 8, 2)},
                             {"IDAT", Deflate(rows)},
                             {"IEND", {}}});
  {
    CPNGDecoder decoder;
    EXPECT_EQ(DecodeFailure(decoder, good).code, 0);
  }
  // Cut inside the IDAT chunk: the source runs out.
  for (size_t keep : {size_t(8), size_t(20), size_t(40), good.size() - 14}) {
    CPNGDecoder decoder;
    const auto f = DecodeFailure(decoder, std::vector<uint8_t>(good.begin(), good.begin() + long(keep)));
    EXPECT_EQ(f.code, textexception::kEndOfData) << keep;
    EXPECT_EQ(f.text, "End of file reached while decoding.\n");
  }
  // A damaged CRC is a format error with libpng's message.
  auto badCrc = good;
  badCrc[29] ^= 0xFF;
  CPNGDecoder decoder;
  const auto f = DecodeFailure(decoder, badCrc);
  EXPECT_EQ(f.code, textexception::kFormatError);
  EXPECT_NE(f.text.find("CRC"), std::string::npos) << f.text;
  // Image data that ends too soon.
  const auto shortData = MakePng({{"IHDR", Ihdr(3, 2, 8, 2)},
                                  {"IDAT", Deflate(std::vector<uint8_t>(5, 0))},
                                  {"IEND", {}}});
  EXPECT_EQ(DecodeFailure(decoder, shortData).code, textexception::kFormatError);
  // A size beyond the decoder's pixel limit is refused before anything is allocated.
  decoder.SetMaxPixels(1000);
  const auto huge = MakePng({{"IHDR", Ihdr(1000, 1000, 8, 2)},
                             {"IDAT", Deflate(std::vector<uint8_t>(100, 0))},
                             {"IEND", {}}});
  EXPECT_EQ(DecodeFailure(decoder, huge).code, textexception::kNoMemory);
}

}  // namespace
