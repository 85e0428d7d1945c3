#include "imaging/core/palette_mapper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "imaging/core/color_quantify.h"

namespace {

// The definition the mapper must reproduce: every entry in order, distance |dR|+|dG|+|dB|,
// best starting at 1000, only a strictly nearer entry replaces it.
int PlainNearest(const std::vector<RgbQuad>& palette, int entries, int b, int g, int r) {
  int best = 1000;
  int bestIndex = 0;
  for (int i = 0; i < entries; ++i) {
    const int d = std::abs(palette[i].blue - b) + std::abs(palette[i].green - g) +
                  std::abs(palette[i].red - r);
    if (d < best) {
      best = d;
      bestIndex = i;
    }
  }
  return bestIndex;
}

RgbQuad Quad(int b, int g, int r) {
  return RgbQuad{uint8_t(b), uint8_t(g), uint8_t(r), 0};
}

std::vector<RgbQuad> RandomPalette(std::mt19937& random, int size) {
  std::vector<RgbQuad> palette(256);
  for (int i = 0; i < size; ++i) palette[i] = Quad(random() & 255, random() & 255, random() & 255);
  return palette;
}

// A palette from the quantiser on a smooth picture: entries crowd where the picture's
// colours are, the way the mapper meets them when a bitmap goes to 8 bits.
std::vector<RgbQuad> QuantisedPalette() {
  std::vector<uint8_t> pixels;
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 160; ++x) {
      pixels.push_back(uint8_t(x * 255 / 160));
      pixels.push_back(uint8_t((x + y) * 255 / 280));
      pixels.push_back(uint8_t(200 - y));
    }
  }
  CColorQuantify q(pixels.data(), pixels.size());
  q.SetQuality(0);
  const uint32_t* packed = q.GetPalette();
  std::vector<RgbQuad> palette(256);
  for (int i = 0; i < 256; ++i) palette[i] = Quad(packed[i] & 255, (packed[i] >> 8) & 255, packed[i] >> 16);
  return palette;
}

struct PaletteCase {
  std::string name;
  std::vector<RgbQuad> palette;
  int entries;
};

void PrintTo(const PaletteCase& c, std::ostream* os) { *os << c.name; }

std::vector<PaletteCase> Palettes() {
  std::mt19937 random(11);
  std::vector<PaletteCase> cases;
  cases.push_back({"random256", RandomPalette(random, 256), 256});
  cases.push_back({"random100", RandomPalette(random, 256), 100});
  cases.push_back({"random17", RandomPalette(random, 17), 17});
  cases.push_back({"random5", RandomPalette(random, 5), 5});
  cases.push_back({"quantised", QuantisedPalette(), 256});
  {
    // Grey ramp: every colour off the grey axis ties between neighbouring entries.
    std::vector<RgbQuad> grey(256);
    for (int i = 0; i < 256; ++i) grey[i] = Quad(i, i, i);
    cases.push_back({"grey", grey, 256});
  }
  {
    // Padding as the exact quantiser leaves it: a few colours, then copies of entry 0.
    std::vector<RgbQuad> padded(256, Quad(0, 0, 0));
    padded[1] = Quad(255, 255, 255);
    padded[2] = Quad(40, 90, 200);
    padded[3] = Quad(41, 90, 199);
    cases.push_back({"paddedCopies", padded, 256});
  }
  {
    // Duplicates everywhere and entries placed two apart on each axis, so that the colour
    // in the middle ties; later duplicates must never win.
    std::vector<RgbQuad> ties(256);
    for (int i = 0; i < 256; ++i) {
      const int k = (i * 37) % 64;
      ties[i] = Quad((k & 3) * 64 + 2 * (i & 1), ((k >> 2) & 3) * 64, (k >> 4) * 64 + 2 * ((i >> 1) & 1));
    }
    cases.push_back({"ties", ties, 256});
  }
  {
    // Entries in decreasing order, so the lowest index is also the one found last by any
    // search that walks up in colour.
    std::vector<RgbQuad> reversed(256);
    for (int i = 0; i < 256; ++i) reversed[i] = Quad(255 - i, (255 - i) / 2, 128);
    cases.push_back({"reversed", reversed, 256});
  }
  cases.push_back({"empty", std::vector<RgbQuad>(256), 0});
  return cases;
}

// Colours that probe the corners of the search: every entry and its neighbours one step
// away, points halfway between entries (ties), cell borders, and random colours.
std::vector<RgbQuad> Probes(const PaletteCase& c) {
  std::vector<RgbQuad> probes;
  for (int i = 0; i < c.entries; ++i) {
    const RgbQuad& e = c.palette[i];
    for (int db = -1; db <= 1; ++db) {
      for (int dg = -1; dg <= 1; ++dg) {
        for (int dr = -1; dr <= 1; ++dr) {
          probes.push_back(Quad(std::clamp(e.blue + db, 0, 255), std::clamp(e.green + dg, 0, 255),
                                std::clamp(e.red + dr, 0, 255)));
        }
      }
    }
    const RgbQuad& f = c.palette[(i * 7 + 3) % c.entries];
    probes.push_back(Quad((e.blue + f.blue) / 2, (e.green + f.green) / 2, (e.red + f.red) / 2));
  }
  for (int b = 0; b < 256; b += 17) {
    for (int g = 7; g < 256; g += 24) {
      for (int r = 0; r < 256; r += 8) probes.push_back(Quad(b, g, r | (g & 8 ? 7 : 0)));
    }
  }
  std::mt19937 random(5);
  for (int i = 0; i < 60000; ++i) probes.push_back(Quad(random() & 255, random() & 255, random() & 255));
  return probes;
}

class PaletteMapperExactness : public testing::TestWithParam<PaletteCase> {};

TEST_P(PaletteMapperExactness, AgreesWithThePlainScan) {
  const PaletteCase& c = GetParam();
  const std::vector<RgbQuad> probes = Probes(c);

  // Row mapping, with the 4-byte pixels the bitmap holds, in rows of varying length.
  const CPaletteMapper mapper(c.palette.data(), c.entries);
  std::vector<uint8_t> out(probes.size());
  for (size_t start = 0, row = 1; start < probes.size(); start += row, row = row * 3 % 1001 + 1) {
    const size_t n = std::min(row, probes.size() - start);
    mapper.MapRow(&probes[start].blue, 4, n, out.data() + start);
  }
  // Single look-ups, on a fresh mapper (they start out as plain scans).
  const CPaletteMapper single(c.palette.data(), c.entries);
  for (size_t i = 0; i < probes.size(); ++i) {
    const RgbQuad& p = probes[i];
    const int expected = PlainNearest(c.palette, c.entries, p.blue, p.green, p.red);
    ASSERT_EQ(out[i], expected) << "MapRow " << int(p.blue) << "," << int(p.green) << "," << int(p.red);
    ASSERT_EQ(single.Closest(p.blue, p.green, p.red), expected)
        << "Closest " << int(p.blue) << "," << int(p.green) << "," << int(p.red);
  }
}

INSTANTIATE_TEST_SUITE_P(Palettes, PaletteMapperExactness, testing::ValuesIn(Palettes()),
                         [](const testing::TestParamInfo<PaletteCase>& info) { return info.param.name; });

// The whole colour cube against one quantised palette: every answer, no sampling.
TEST(PaletteMapper, EveryColourOfTheCubeMatchesThePlainScan) {
  const std::vector<RgbQuad> palette = QuantisedPalette();
  const CPaletteMapper mapper(palette.data(), 256);
  std::vector<uint8_t> row(256 * 3);
  uint8_t out[256];
  // Only some planes in full: a complete cube against the plain scan takes minutes.
  for (int r = 0; r < 256; r += 15) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        row[b * 3] = uint8_t(b);
        row[b * 3 + 1] = uint8_t(g);
        row[b * 3 + 2] = uint8_t(r);
      }
      mapper.MapRow(row.data(), 3, 256, out);
      for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(out[b], PlainNearest(palette, 256, b, g, r)) << b << "," << g << "," << r;
      }
    }
  }
}

TEST(PaletteMapper, TiesGoToTheLowestIndex) {
  // Entry 3 and entry 1 are both 10 away from (20, 20, 20); entry 5 repeats entry 1.
  std::vector<RgbQuad> palette(256, Quad(255, 255, 255));
  palette[1] = Quad(30, 20, 20);
  palette[3] = Quad(20, 10, 20);
  palette[5] = Quad(30, 20, 20);
  const CPaletteMapper mapper(palette.data(), 256);
  std::vector<uint8_t> pixels;
  for (int i = 0; i < 2000; ++i) {  // enough to leave the plain scans behind
    pixels.push_back(20);
    pixels.push_back(20);
    pixels.push_back(uint8_t(20 + (i & 1)));
  }
  std::vector<uint8_t> out(2000);
  mapper.MapRow(pixels.data(), 3, 2000, out.data());
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1998], 1);
  EXPECT_EQ(out[1999], 1);  // (20,20,21): 9 from entry 1, 11 from entry 3
  EXPECT_EQ(mapper.Closest(20, 10, 20), 3);
}

TEST(PaletteMapper, OnlyTheGivenEntriesAreSearched) {
  std::vector<RgbQuad> palette(256, Quad(0, 0, 0));
  palette[0] = Quad(255, 255, 255);
  const CPaletteMapper one(palette.data(), 1);
  EXPECT_EQ(one.Closest(0, 0, 0), 0);
  const CPaletteMapper none(palette.data(), 0);
  EXPECT_EQ(none.Closest(0, 0, 0), 0);
  const CPaletteMapper clamped(palette.data(), 1000);
  EXPECT_EQ(clamped.Closest(0, 0, 0), 1);
}

TEST(PaletteMapper, CopiesAnswerLikeTheOriginal) {
  const std::vector<RgbQuad> palette = QuantisedPalette();
  CPaletteMapper original(palette.data(), 256);
  std::vector<uint8_t> pixels(3 * 4096);
  std::mt19937 random(3);
  for (auto& p : pixels) p = uint8_t(random());
  std::vector<uint8_t> a(4096), b(4096), c(4096);
  original.MapRow(pixels.data(), 3, 4096, a.data());
  const CPaletteMapper copy(original);
  copy.MapRow(pixels.data(), 3, 4096, b.data());
  std::vector<RgbQuad> grey(256);
  for (int i = 0; i < 256; ++i) grey[i] = Quad(i, i, i);
  CPaletteMapper assigned(grey.data(), 256);
  assigned.MapRow(pixels.data(), 3, 4096, c.data());
  assigned = original;
  assigned.MapRow(pixels.data(), 3, 4096, c.data());
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
}

}  // namespace
