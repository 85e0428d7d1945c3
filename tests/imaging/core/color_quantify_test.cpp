#include "imaging/core/color_quantify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <vector>

#include "imaging/core/text_exception.h"

namespace {

constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;

// Pixels are stored blue, green, red; colours below are written packed (blue in the low byte).
void Append(std::vector<uint8_t>& pixels, uint32_t colour, int times = 1) {
  for (int i = 0; i < times; ++i) {
    pixels.push_back(colour & 0xFF);
    pixels.push_back((colour >> 8) & 0xFF);
    pixels.push_back((colour >> 16) & 0xFF);
  }
}

// 256 distinct colours, none black or white: red 0x40, green i, blue 255 - i.
uint32_t Distinct(int i) {
  return 0x400000u | static_cast<uint32_t>(i) << 8 | static_cast<uint32_t>(255 - i);
}

std::vector<uint32_t> PaletteOf(CColorQuantify& q, int16_t* count = nullptr) {
  const uint32_t* palette = q.GetPalette(count);
  if (palette == nullptr) return {};
  return std::vector<uint32_t>(palette, palette + 256);
}

std::vector<uint32_t> ExactPalette(const std::vector<uint8_t>& pixels, int16_t* count) {
  CColorQuantify q(pixels.data(), pixels.size());
  q.SetQuality(0);
  return PaletteOf(q, count);
}

// ---------------------------------------------------------------------------------------
// Exact method (fewer than 800 pixels)

TEST(ColorQuantifyExact, OneColourGivesBlackWhiteAndThatColour) {
  std::vector<uint8_t> pixels;
  Append(pixels, 0x336699, 10);
  int16_t count = 0;
  const auto palette = ExactPalette(pixels, &count);
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(palette[0], kBlack);
  EXPECT_EQ(palette[1], kWhite);
  EXPECT_EQ(palette[2], 0x336699u);
}

TEST(ColorQuantifyExact, BlackAndWhiteInThePictureAreNotAddedTwice) {
  std::vector<uint8_t> pixels;
  Append(pixels, kWhite, 3);
  Append(pixels, 0x0000FF);
  Append(pixels, kBlack, 2);
  Append(pixels, 0x00FF00);
  Append(pixels, 0x0000FF);
  int16_t count = 0;
  const auto palette = ExactPalette(pixels, &count);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(palette[2], 0x0000FFu);
  EXPECT_EQ(palette[3], 0x00FF00u);
}

// Entries past the colour count must never be the answer of a lowest-index-wins nearest
// search, whatever colour is asked for: they are copies of entry 0.
TEST(ColorQuantifyExact, UnusedEntriesNeverWinANearestColourSearch) {
  std::vector<uint8_t> pixels;
  Append(pixels, 0x804020, 5);
  Append(pixels, 0x10F0A0, 5);
  int16_t count = 0;
  const auto palette = ExactPalette(pixels, &count);
  ASSERT_EQ(count, 4);
  auto channel = [](uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
  for (int b = 0; b < 256; b += 15) {
    for (int g = 0; g < 256; g += 15) {
      for (int r = 0; r < 256; r += 15) {
        int best = 1000;
        int bestIndex = 0;
        for (int i = 0; i < 256; ++i) {
          const int d = std::abs(channel(palette[i], 0) - b) + std::abs(channel(palette[i], 8) - g) +
                        std::abs(channel(palette[i], 16) - r);
          if (d < best) {
            best = d;
            bestIndex = i;
          }
        }
        ASSERT_LT(bestIndex, count) << b << "," << g << "," << r;
      }
    }
  }
  for (int i = count; i < 256; ++i) EXPECT_EQ(palette[i], palette[0]) << i;
}

// 256 colours without black and white make 258; the two least frequent go, and among equally
// infrequent colours the later ones go.
TEST(ColorQuantifyExact, TwoHundredFiftySixColoursDropTheLaterOfTheLeastFrequent) {
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 256; ++i) Append(pixels, Distinct(i), i < 253 ? 3 : 2);
  ASSERT_LT(pixels.size(), 2400u);
  int16_t count = 0;
  const auto palette = ExactPalette(pixels, &count);
  EXPECT_EQ(count, 256);
  EXPECT_EQ(palette[0], kBlack);
  EXPECT_EQ(palette[1], kWhite);
  for (int i = 0; i < 254; ++i) EXPECT_EQ(palette[2 + i], Distinct(i)) << i;
}

TEST(ColorQuantifyExact, SelectionKeepsTheMostFrequentWhereverTheyAppear) {
  // Four colours scattered through the picture occur twice, the others three times: all the
  // frequent ones keep a slot, ahead of the two rare ones that are left.
  std::vector<uint8_t> pixels;
  const std::set<int> rare = {3, 40, 41, 100};
  for (int i = 0; i < 256; ++i) Append(pixels, Distinct(i), rare.count(i) != 0 ? 2 : 3);
  int16_t count = 0;
  const auto palette = ExactPalette(pixels, &count);
  EXPECT_EQ(count, 256);
  const std::set<uint32_t> frequentSlots(palette.begin() + 2, palette.begin() + 254);
  const std::set<uint32_t> lastSlots(palette.begin() + 254, palette.end());
  EXPECT_EQ(frequentSlots.size(), 252u);
  EXPECT_EQ(lastSlots.size(), 2u);
  for (int i = 0; i < 256; ++i) {
    if (rare.count(i) == 0) {
      EXPECT_EQ(frequentSlots.count(Distinct(i)), 1u) << i;
    } else {
      EXPECT_EQ(frequentSlots.count(Distinct(i)), 0u) << i;
    }
  }
  for (uint32_t c : lastSlots) {
    EXPECT_TRUE(std::any_of(rare.begin(), rare.end(), [c](int i) { return Distinct(i) == c; }));
  }
}

// Counts stop at 255: a colour seen 300 times ties with one seen 280 times, and the one met
// first takes the earlier slot even though it is rarer.
TEST(ColorQuantifyExact, SaturatedCountsLetTheEarlierColourWin) {
  constexpr uint32_t kFirstSeen = 0x123456;
  constexpr uint32_t kMoreFrequent = 0x654321;
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 256; ++i) Append(pixels, Distinct(i));
  Append(pixels, kFirstSeen, 260);
  Append(pixels, kMoreFrequent, 280);
  ASSERT_LT(pixels.size(), 2400u);
  int16_t count = 0;
  const auto palette = ExactPalette(pixels, &count);
  EXPECT_EQ(count, 256);
  EXPECT_EQ(palette[2], kFirstSeen);
  EXPECT_EQ(palette[3], kMoreFrequent);
  // The singles moved out of slots 2 and 3; the rest stay in the order seen, and the last
  // two singles (colour numbers 256 and 257) never got a slot.
  for (int s = 4; s < 256; ++s) EXPECT_EQ(palette[s], Distinct(s - 2)) << s;
}

TEST(ColorQuantifyExact, AllDistinctPixelsUpToTheLimitAreCountedSafely) {
  // 799 different colours number up to 800; the overflow must hold all of them.
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 799; ++i) Append(pixels, 0x010000u + static_cast<uint32_t>(i) * 7);
  int16_t count = 0;
  const auto palette = ExactPalette(pixels, &count);
  EXPECT_EQ(count, 256);
  // No colour repeats, so every count is 0 and the first 254 colours keep their slots.
  for (int s = 2; s < 256; ++s) EXPECT_EQ(palette[s], 0x010000u + (s - 2) * 7u) << s;
}

TEST(ColorQuantifyExact, EmptyPictureGivesBlackAndWhite) {
  const uint8_t none[1] = {0};
  CColorQuantify q(none, 0);
  q.SetQuality(0);
  int16_t count = 0;
  const auto palette = PaletteOf(q, &count);
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(palette[1], kWhite);
  EXPECT_EQ(palette[255], kBlack);
}

TEST(ColorQuantifyExact, TrailingBytesAreIgnored) {
  std::vector<uint8_t> pixels;
  Append(pixels, 0x0A0B0C, 4);
  for (uint8_t extra : {0x55, 0x66}) {
    pixels.push_back(extra);  // a partial pixel the quantiser must not read
    std::vector<uint8_t> exact(pixels);
    int16_t count = 0;
    const auto palette = ExactPalette(exact, &count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(palette[2], 0x0A0B0Cu);
    EXPECT_EQ(palette[3], kBlack);
  }
}

// ---------------------------------------------------------------------------------------
// Choice of method, parameters, lifecycle

TEST(ColorQuantify, MethodChangesBetween799And800Pixels) {
  struct Case {
    size_t bytes;
    int16_t expectedCount;
  };
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 800; ++i) Append(pixels, Distinct(i % 5));
  for (const Case& c : {Case{2397, 7}, Case{2399, 7}, Case{2400, 256}, Case{2401, 256}}) {
    CColorQuantify q(pixels.data(), c.bytes);
    q.SetQuality(0);
    int16_t count = 0;
    EXPECT_NE(q.GetPalette(&count), nullptr);
    EXPECT_EQ(count, c.expectedCount) << c.bytes;
  }
}

TEST(ColorQuantify, NoPaletteBeforeComputing) {
  const uint8_t pixel[3] = {1, 2, 3};
  CColorQuantify q(pixel, 3);
  int16_t count = -1;
  EXPECT_EQ(q.GetPalette(&count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(q.GetPalette(), nullptr);
  EXPECT_STREQ(q.GetRuntimeClassName(), "CColorQuantify");
  EXPECT_STREQ(q.GetBaseClassName(), "CObject");
}

// The quantiser reads the caller's pixels each time it computes; changing them shows when
// it recomputes. Levels 0 and 1 share their parameters.
TEST(ColorQuantify, RecomputesOnlyWhenParametersChange) {
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 3000; ++i) Append(pixels, static_cast<uint32_t>(i) * 0x9E3779u);
  CColorQuantify q(pixels.data(), pixels.size());
  q.SetQuality(0);
  const auto first = PaletteOf(q);
  std::fill(pixels.begin(), pixels.end(), uint8_t{0x80});
  q.SetQuality(1);
  EXPECT_EQ(PaletteOf(q), first);
  q.Quantize(30, 100);
  EXPECT_EQ(PaletteOf(q), first);
  q.SetQuality(2);
  EXPECT_NE(PaletteOf(q), first);
}

TEST(ColorQuantify, NonPositiveParametersDoNotDivideByZero) {
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 900; ++i) Append(pixels, static_cast<uint32_t>(i) * 0x10101u);
  CColorQuantify q(pixels.data(), pixels.size());
  q.Quantize(0, 0);
  EXPECT_NE(q.GetPalette(), nullptr);
  q.Quantize(-5, -1);
  EXPECT_NE(q.GetPalette(), nullptr);
  q.Quantize(1'000'000, 100);  // fewer samples than one: the network stays as initialised
  const auto palette = PaletteOf(q);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(palette[i], static_cast<uint32_t>(i) * 0x010101u) << i;
}

// ---------------------------------------------------------------------------------------
// Neural method: first steps by hand

// One sample (2400 bytes, sample factor 800): the first pixel, black, is nearest to neuron 0
// (every neuron starts grey at 16 x index, scaled by 16). Neuron 0 is already black; its 31
// neighbours above move toward black with weight floor((1024 - k^2) / 4) x 1024 / 2^18, i.e.
// component 16k becomes 16k - floor(floor((1024 - k^2) / 4) x k / 16), then is divided by 16.
TEST(ColorQuantifyNeural, OneBlackSamplePullsTheNeighboursOfNeuronZero) {
  std::vector<uint8_t> pixels;
  Append(pixels, kBlack);
  Append(pixels, kWhite, 799);
  CColorQuantify q(pixels.data(), pixels.size());
  q.Quantize(800, 100);
  const auto palette = PaletteOf(q);
  ASSERT_EQ(palette.size(), 256u);
  const std::array<std::pair<int, int>, 10> expected = {{
      {0, 0}, {1, 0}, {8, 0},     // 128 - 120 = 8
      {16, 4},                    // 256 - 192 = 64
      {24, 13},                   // 384 - 168 = 216
      {30, 26},                   // 480 - 58 = 422
      {31, 29},                   // 496 - 29 = 467
      {32, 32}, {200, 200}, {255, 255},  // outside the radius of 32
  }};
  for (const auto& [neuron, grey] : expected) {
    EXPECT_EQ(palette[neuron], static_cast<uint32_t>(grey) * 0x010101u) << neuron;
  }
}

// Two samples: pixel 0 and pixel 499 (step 3 x 499 bytes). The second, white, goes to
// neuron 255, whose neighbours move up the same way as neuron 0's moved down, weighted by the
// shrunken radius: after the first sample (delta 1, alpha divisor 30 + 399 / 3 = 163)
// alpha = 1024 - 6 = 1018, radius = 2048 - 68 = 1980, rad = 30.
TEST(ColorQuantifyNeural, SecondSampleIsFoundAPrimeStepLater) {
  std::vector<uint8_t> pixels;
  Append(pixels, kBlack, 499);
  Append(pixels, kWhite);
  Append(pixels, kBlack, 300);
  CColorQuantify q(pixels.data(), pixels.size());
  q.Quantize(400, 100);  // 2400 / 1200 = 2 samples
  const auto palette = PaletteOf(q);
  // Neuron 254 (4064): weight 1018 x floor((900 - 1) x 256 / 900) = 1018 x 255 = 259590;
  // it moves by floor(259590 x 16 / 262144) = 15 to 4079, still 254 after the division by
  // 16. Neuron 240 (3840): weight 1018 x floor(675 x 256 / 900) = 1018 x 192 = 195456, moves
  // by floor(195456 x 240 / 262144) = 178 to 4018 = 251 x 16 + 2. Neuron 226 (3616): weight
  // 1018 x floor(59 x 256 / 900) = 16288, moves by floor(16288 x 464 / 262144) = 28 to 3644.
  EXPECT_EQ(palette[254], 254u * 0x010101u);
  EXPECT_EQ(palette[240], 251u * 0x010101u);
  EXPECT_EQ(palette[226], 227u * 0x010101u);
  EXPECT_EQ(palette[225], 225u * 0x010101u);  // rad 30 reaches down to neuron 226 only
  EXPECT_EQ(palette[16], 4u * 0x010101u);     // from the first sample
}

// ---------------------------------------------------------------------------------------
// Neural method against a plain transcription of the published algorithm

// Deliberately naive: one array of neurons, 64-bit arithmetic everywhere, every neuron's
// frequency and bias decayed on every sample. The production code works differently (16-bit
// vectors, only neurons whose frequency still decays), so agreement is worth something.
std::vector<uint32_t> ReferencePalette(const uint8_t* pixels, size_t byteCount, int64_t f,
                                       int64_t cycles) {
  const int64_t length = static_cast<int64_t>(byteCount / 3 * 3);
  int64_t network[256][3];
  int64_t bias[256];
  int64_t freq[256];
  int64_t radpower[32];
  for (int i = 0; i < 256; ++i) {
    network[i][0] = network[i][1] = network[i][2] = (static_cast<int64_t>(i) << 12) / 256;
    freq[i] = 256;
    bias[i] = 0;
  }
  const int64_t alphadec = 30 + (f - 1) / 3;
  const int64_t samplepixels = length / (3 * f);
  int64_t delta = samplepixels / cycles;
  if (delta == 0) delta = 1;
  int64_t alpha = 1024;
  int64_t radius = 2048;
  int64_t rad = 32;
  for (int64_t i = 0; i < rad; ++i) radpower[i] = alpha * (((rad * rad - i * i) * 256) / (rad * rad));
  int64_t step;
  if (length % 499 != 0) step = 3 * 499;
  else if (length % 491 != 0) step = 3 * 491;
  else if (length % 487 != 0) step = 3 * 487;
  else step = 3 * 503;

  int64_t p = 0;
  for (int64_t i = 0; i < samplepixels;) {
    const int64_t x[3] = {int64_t{pixels[p]} << 4, int64_t{pixels[p + 1]} << 4,
                          int64_t{pixels[p + 2]} << 4};
    // contest
    int64_t bestd = 2147483647, bestbiasd = 2147483647, bestpos = -1, bestbiaspos = -1;
    for (int n = 0; n < 256; ++n) {
      const int64_t dist = std::llabs(network[n][0] - x[0]) + std::llabs(network[n][1] - x[1]) +
                           std::llabs(network[n][2] - x[2]);
      if (dist < bestd) {
        bestd = dist;
        bestpos = n;
      }
      const int64_t biasdist = dist - (bias[n] >> 12);
      if (biasdist < bestbiasd) {
        bestbiasd = biasdist;
        bestbiaspos = n;
      }
      const int64_t betafreq = freq[n] >> 10;
      freq[n] -= betafreq;
      bias[n] += betafreq << 10;
    }
    freq[bestpos] += 64;
    bias[bestpos] -= 65536;
    const int64_t j = bestbiaspos;
    for (int c = 0; c < 3; ++c) network[j][c] -= (alpha * (network[j][c] - x[c])) / 1024;
    if (rad != 0) {
      const int64_t lo = std::max<int64_t>(j - rad, -1);
      const int64_t hi = std::min<int64_t>(j + rad, 256);
      int64_t up = j + 1, down = j - 1, q = 0;
      while (up < hi || down > lo) {
        const int64_t a = radpower[++q];
        if (up < hi) {
          for (int c = 0; c < 3; ++c) network[up][c] -= (a * (network[up][c] - x[c])) / 262144;
          ++up;
        }
        if (down > lo) {
          for (int c = 0; c < 3; ++c) network[down][c] -= (a * (network[down][c] - x[c])) / 262144;
          --down;
        }
      }
    }
    p += step;
    if (p >= length) p -= length;
    ++i;
    if (i % delta == 0) {
      alpha -= alpha / alphadec;
      radius -= radius / 30;
      rad = radius >> 6;
      if (rad <= 1) rad = 0;
      for (int64_t k = 0; k < rad; ++k) radpower[k] = alpha * (((rad * rad - k * k) * 256) / (rad * rad));
    }
  }
  std::vector<uint32_t> palette(256);
  for (int i = 0; i < 256; ++i) {
    palette[i] = static_cast<uint32_t>((network[i][0] >> 4) & 0xFF) |
                 static_cast<uint32_t>((network[i][1] >> 4) & 0xFF) << 8 |
                 static_cast<uint32_t>((network[i][2] >> 4) & 0xFF) << 16;
  }
  return palette;
}

enum class Kind { Noise, Gradient, FewColours, Blocks, Photo, Flat };

std::vector<uint8_t> MakePicture(Kind kind, int width, int height, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels;
  pixels.reserve(static_cast<size_t>(width) * height * 3);
  const uint32_t few[4] = {0x2040C0, 0xE0E0E0, 0x108010, 0x901010};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t c = 0;
      switch (kind) {
        case Kind::Noise: c = random() & 0xFFFFFF; break;
        case Kind::Gradient:
          c = static_cast<uint32_t>(x * 255 / width) | static_cast<uint32_t>(y * 255 / height) << 8 |
              static_cast<uint32_t>((x + y) * 127 / (width + height)) << 16;
          break;
        case Kind::FewColours: c = few[random() % 4]; break;
        case Kind::Blocks: c = few[((x / 16) + (y / 16)) % 4]; break;
        case Kind::Flat: c = few[0]; break;
        case Kind::Photo: {
          // smooth shapes plus a little noise, the way a camera picture looks to a quantiser
          const int n = static_cast<int>(random() % 9) - 4;
          const int b = std::clamp(60 + x * 120 / width + n, 0, 255);
          const int g = std::clamp(((x - width / 2) * (x - width / 2) + (y - height / 3) * (y - height / 3)) /
                                           (width + 1) + n, 0, 255);
          const int r = std::clamp(200 - y * 150 / height + ((x / 7 + y / 5) % 11) + n, 0, 255);
          c = static_cast<uint32_t>(b) | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(r) << 16;
          break;
        }
      }
      Append(pixels, c);
    }
  }
  return pixels;
}

struct NeuralCase {
  const char* name;
  Kind kind;
  int width;
  int height;
  size_t extraBytes;  // trailing bytes beyond whole pixels
  int sampleFactor;
  int cycles;
};

void PrintTo(const NeuralCase& c, std::ostream* os) { *os << c.name; }

class ColorQuantifyNeuralReference : public testing::TestWithParam<NeuralCase> {};

TEST_P(ColorQuantifyNeuralReference, MatchesPlainTranscription) {
  const NeuralCase& c = GetParam();
  std::vector<uint8_t> pixels = MakePicture(c.kind, c.width, c.height, 7);
  const size_t bytes = pixels.size();
  pixels.resize(bytes + c.extraBytes, 0xEE);
  CColorQuantify q(pixels.data(), pixels.size());
  q.Quantize(c.sampleFactor, c.cycles);
  int16_t count = 0;
  const auto palette = PaletteOf(q, &count);
  EXPECT_EQ(count, 256);
  EXPECT_EQ(palette, ReferencePalette(pixels.data(), pixels.size(), c.sampleFactor, c.cycles));
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, ColorQuantifyNeuralReference,
    testing::Values(
        // 1000 pixels at level 0: 33 samples, delta 1, alpha and radius shrink every sample
        NeuralCase{"noise1000", Kind::Noise, 40, 25, 0, 30, 100},
        NeuralCase{"smallest", Kind::Gradient, 40, 20, 0, 30, 100},
        NeuralCase{"trailing", Kind::Gradient, 40, 20, 2, 1, 100},
        // 998 pixels: the length divides by 499, so the step is 3 x 491
        NeuralCase{"prime499", Kind::Noise, 998, 1, 0, 1, 100},
        // 499 x 491 pixels: the length divides by both, so the step is 3 x 487
        NeuralCase{"prime491", Kind::Photo, 499, 491, 0, 30, 100},
        NeuralCase{"fewLevel2", Kind::FewColours, 100, 80, 0, 1, 100},
        NeuralCase{"blocksLevel3", Kind::Blocks, 160, 120, 0, 30, 500},
        NeuralCase{"gradientLevel4", Kind::Gradient, 160, 120, 0, 1, 500},
        NeuralCase{"photoLevel0", Kind::Photo, 640, 480, 1, 30, 100},
        NeuralCase{"photoLevel4", Kind::Photo, 320, 240, 0, 1, 500},
        NeuralCase{"oddFactor", Kind::Noise, 300, 200, 0, 7, 3},
        // One neuron wins every sample: its frequency and bias reach their extremes.
        NeuralCase{"flat", Kind::Flat, 300, 200, 0, 1, 500}),
    [](const testing::TestParamInfo<NeuralCase>& info) { return std::string(info.param.name); });

TEST(ColorQuantifyNeural, TrailingBytesDoNotChangeThePalette) {
  std::vector<uint8_t> pixels = MakePicture(Kind::Photo, 50, 40, 3);
  CColorQuantify whole(pixels.data(), pixels.size());
  whole.SetQuality(0);
  const auto expected = PaletteOf(whole);
  for (uint8_t extra : {0x00, 0xFF}) {
    pixels.push_back(extra);
    CColorQuantify q(pixels.data(), pixels.size());
    q.SetQuality(0);
    EXPECT_EQ(PaletteOf(q), expected) << pixels.size();
  }
}

}  // namespace
