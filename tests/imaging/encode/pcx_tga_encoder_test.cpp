#include <gtest/gtest.h>

#include <random>

#include "encode_test_util.h"
#include "imaging/core/encode_options.h"
#include "imaging/core/text_exception.h"
#include "imaging/encode/pcx_encoder.h"
#include "imaging/encode/tga_encoder.h"

using Bytes = std::vector<uint8_t>;

namespace {

Bytes EncodePcxLine(const Bytes& line) {
  Bytes out(2 * line.size());
  out.resize(CPCXEncoder::EncodeLine(line.data(), line.size(), out.data()));
  return out;
}

TEST(PcxEncoder, LineRuns) {
  struct Case {
    Bytes line, coded;
  };
  const std::vector<Case> cases = {
      {Bytes(64, 5), {0xFF, 0x05, 0x05}},  // 63 repeats, then a single byte
      {{200}, {0xC1, 0xC8}},               // single byte of 192 or more needs a count
      {{100}, {0x64}},
      {{192, 191}, {0xC1, 0xC0, 0xBF}},
      {{7, 7, 8, 9, 9, 9}, {0xC2, 7, 8, 0xC3, 9}},
      {Bytes(126, 0), {0xFF, 0, 0xFF, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodePcxLine(c.line), c.coded);
}

TEST(PcxEncoder, HeaderBodyAndPaletteOf8BitPicture) {
  auto bmp = encodetest::MakeIndexed({{1, 1, 1}, {200, 2, 2}});
  RgbQuad palette[256] = {};
  palette[200] = {1, 2, 3, 255};
  bmp->SetPalette(palette);
  CPCXEncoder encoder;
  const Bytes file = encodetest::EncodeToMemory(encoder, *bmp);
  ASSERT_EQ(file.size(), 128u + 2 + 4 + 769);
  const Bytes start = {10, 5, 1, 8, 0, 0, 0, 0, 2, 0, 1, 0, 72, 0, 72, 0};
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), start);
  for (int i = 0; i < 16; ++i)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(file[16 + 3 * i + c], 15 - i);
  EXPECT_EQ(file[64], 0);
  EXPECT_EQ(file[65], 1);  // planes
  EXPECT_EQ(encodetest::Le16(file, 66), 3);  // bytes per line: the width, odd as it is
  EXPECT_EQ(encodetest::Le16(file, 68), 1);
  for (size_t at = 70; at < 128; ++at) EXPECT_EQ(file[at], 0);
  EXPECT_EQ(Bytes(file.begin() + 128, file.begin() + 134), (Bytes{0xC3, 1, 0xC1, 200, 0xC2, 2}));
  EXPECT_EQ(file[134], 12);
  EXPECT_EQ(Bytes(file.begin() + 135 + 600, file.begin() + 135 + 603), (Bytes{3, 2, 1}));
}

TEST(PcxEncoder, TrueColourIsThreePlanesPerRow) {
  auto bmp = encodetest::MakeTrueColour(2, 1, {10, 20, 30, 10, 20, 31});  // blue, green, red
  CPCXEncoder encoder;
  const Bytes file = encodetest::EncodeToMemory(encoder, *bmp);
  EXPECT_EQ(file[65], 3);
  EXPECT_EQ(Bytes(file.begin() + 128, file.end()), (Bytes{30, 31, 0xC2, 20, 0xC2, 10}));
}

TEST(PcxTgaEncoders, RefuseOneBitBitmaps) {
  auto bmp = encodetest::MakeNoise(8, 2, 1, 1);
  CPCXEncoder pcx;
  CTGAEncoder tga;
  for (CPicEncoder* encoder : {static_cast<CPicEncoder*>(&pcx), static_cast<CPicEncoder*>(&tga)}) {
    try {
      encodetest::EncodeToMemory(*encoder, *bmp);
      FAIL();
    } catch (const CTextException& e) {
      EXPECT_EQ(e.GetErrorCode(), 6);
    }
  }
}

using Plan = std::vector<CTGAEncoder::Packet>;
constexpr bool kRun = true, kRaw = false;

Plan PlanOf(const Bytes& row) {
  Plan plan;
  CTGAEncoder::PlanRow(row.data(), static_cast<int>(row.size()), 1, plan);
  return plan;
}

TEST(TgaEncoder, PacketPlans) {
  Bytes different(300);
  for (int i = 0; i < 300; ++i) different[i] = static_cast<uint8_t>(i % 251);
  EXPECT_EQ(PlanOf({1, 1, 1, 2, 3, 4, 4, 4}), (Plan{{kRun, 3}, {kRaw, 2}, {kRun, 3}}));
  EXPECT_EQ(PlanOf({1, 2, 3}), (Plan{{kRaw, 3}}));
  EXPECT_EQ(PlanOf({1, 1, 2}), (Plan{{kRun, 2}, {kRaw, 1}}));
  EXPECT_EQ(PlanOf({1, 2, 2}), (Plan{{kRaw, 1}, {kRun, 2}}));
  EXPECT_EQ(PlanOf(Bytes(128, 9)), (Plan{{kRun, 127}, {kRun, 1}}));
  EXPECT_EQ(PlanOf(different), (Plan{{kRaw, 127}, {kRaw, 127}, {kRaw, 46}}));
  EXPECT_EQ(PlanOf({5, 5, 5, 5}), (Plan{{kRun, 4}}));
  EXPECT_EQ(PlanOf({1, 2}), (Plan{{kRaw, 2}}));
}

// Whatever the row, the plan covers each pixel once, runs hold equal pixels and no packet
// exceeds 127: checked on random rows with long and short runs.
TEST(TgaEncoder, PlansCoverEveryPixelOnce) {
  std::mt19937 random(5);
  Plan plan;
  for (int trial = 0; trial < 3000; ++trial) {
    const int width = 2 + static_cast<int>(random() % 400);
    Bytes row;
    while (static_cast<int>(row.size()) < width) {
      const uint8_t value = static_cast<uint8_t>(random() % 4);
      const int length = random() % 3 == 0 ? 1 + static_cast<int>(random() % 200) : 1;
      row.insert(row.end(), length, value);
    }
    row.resize(width);
    CTGAEncoder::PlanRow(row.data(), width, 1, plan);
    int covered = 0;
    for (const auto& packet : plan) {
      ASSERT_GE(packet.count, 1);
      ASSERT_LE(packet.count, 127);
      if (packet.run) {
        for (int i = 1; i < packet.count; ++i) ASSERT_EQ(row[covered + i], row[covered]);
      }
      covered += packet.count;
    }
    ASSERT_EQ(covered, width) << "trial " << trial;
  }
}

Bytes WithOptions(CBmp& bmp, const EncodeOptions* options) {
  bmp.SetEncodeOptions(options);
  CTGAEncoder encoder;
  return encodetest::EncodeToMemory(encoder, bmp);
}

TEST(TgaEncoder, HeadersAndCompressionChoice) {
  EncodeOptions compressOff;
  compressOff.flags = 0;
  struct Case {
    uint16_t bpp;
    int width;
    const EncodeOptions* options;
    Bytes start;
  };
  const std::vector<Case> cases = {
      {8, 4, nullptr, {0, 1, 9}},      {8, 4, &compressOff, {0, 1, 1}},
      {32, 4, nullptr, {0, 0, 10}},    {32, 4, &compressOff, {0, 0, 2}},
      {8, 1, nullptr, {0, 1, 1}},      {32, 1, nullptr, {0, 0, 2}},
  };
  for (const Case& c : cases) {
    auto bmp = encodetest::MakeNoise(c.width, 2, c.bpp, 2);
    const Bytes file = WithOptions(*bmp, c.options);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 3), c.start);
    EXPECT_EQ(encodetest::Le16(file, 5), c.bpp == 8 ? 256 : 0);
    EXPECT_EQ(file[7], c.bpp == 8 ? 24 : 0);
    EXPECT_EQ(encodetest::Le16(file, 12), c.width);
    EXPECT_EQ(encodetest::Le16(file, 14), 2);
    EXPECT_EQ(file[16], c.bpp == 8 ? 8 : 24);
    EXPECT_EQ(file[17], 0);
  }
}

TEST(TgaEncoder, TrueColourRowsBottomUpAsPackets) {
  // Top row 5 5 5 5 of one colour; bottom row two colours, raw.
  const Bytes bgr = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 9, 8, 7, 6, 5, 4, 9, 8, 7, 6, 5, 4};
  auto bmp = encodetest::MakeTrueColour(4, 2, bgr);
  const Bytes file = WithOptions(*bmp, nullptr);
  EXPECT_EQ(Bytes(file.begin() + 18, file.end()),
            (Bytes{3, 9, 8, 7, 6, 5, 4, 9, 8, 7, 6, 5, 4, 0x83, 1, 2, 3}));
  EncodeOptions raw;
  raw.flags = 0;
  const Bytes plain = WithOptions(*bmp, &raw);
  EXPECT_EQ(Bytes(plain.begin() + 18, plain.end()),
            (Bytes{9, 8, 7, 6, 5, 4, 9, 8, 7, 6, 5, 4, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}));
}

TEST(TgaEncoder, ColourMapIsBlueGreenRed) {
  auto bmp = encodetest::MakeIndexed({{0, 1}});
  RgbQuad palette[256] = {};
  palette[1] = {11, 22, 33, 255};
  bmp->SetPalette(palette);
  const Bytes file = WithOptions(*bmp, nullptr);
  EXPECT_EQ(Bytes(file.begin() + 21, file.begin() + 24), (Bytes{11, 22, 33}));
  EXPECT_EQ(Bytes(file.begin() + 18 + 768, file.end()), (Bytes{1, 0, 1}));  // raw 2
}

}  // namespace
