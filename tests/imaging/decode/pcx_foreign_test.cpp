// PCX files written by other programs while the test runs: netpbm's ppmtopcx (1-bit pixels
// in 1 to 4 planes, chosen by the number of colours) and Pillow (1-bit monochrome with an
// all-black header palette). Each picture is a known pattern written as PPM/PBM first, so
// the expected pixels come from the pattern, not from our decoder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decode_test_util.h"

namespace {

namespace fs = std::filesystem;
using Rgb = std::array<uint8_t, 3>;

class PcxForeign : public testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pcx_foreign_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A w x h picture whose pixel (x, y) is colours[(3x + y) % n], written as binary PPM.
  std::string WritePpm(const std::vector<Rgb>& colours, int w, int h) {
    const fs::path path = dir_ / "in.ppm";
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << w << ' ' << h << "\n255\n";
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const Rgb& c = colours[(3 * x + y) % colours.size()];
        out.write(reinterpret_cast<const char*>(c.data()), 3);
      }
    }
    return path.string();
  }

  std::vector<uint8_t> Run(const std::string& command, const std::string& output) {
    const std::string full = command + " 2>/dev/null";
    EXPECT_EQ(std::system(full.c_str()), 0) << full;
    std::ifstream in(output, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  static void ExpectPattern(const CBmp& bmp, const std::vector<Rgb>& colours, int w, int h) {
    ASSERT_EQ(bmp.GetWidth(), w);
    ASSERT_EQ(bmp.GetHeight(), h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const Rgb& c = colours[(3 * x + y) % colours.size()];
        const uint32_t want = 0xFF000000u | uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
        ASSERT_EQ(decodetest::Argb(bmp, x, y), want) << x << "," << y;
      }
    }
  }

  fs::path dir_;
};

const std::vector<Rgb> kEight = {{0, 0, 0},     {255, 0, 0},   {0, 255, 0},   {0, 0, 255},
                                 {255, 255, 0}, {0, 255, 255}, {255, 0, 255}, {255, 255, 255}};

TEST_F(PcxForeign, PpmtopcxPlanesByColourCount) {
  // 2 colours: one plane; 4: two planes; 8: three planes; 16: four planes (1 bit each).
  std::vector<Rgb> sixteen = kEight;
  for (int i = 0; i < 8; ++i) {
    sixteen.push_back({uint8_t(20 * i + 10), uint8_t(128), uint8_t(200 - 20 * i)});
  }
  const std::vector<std::pair<std::vector<Rgb>, int>> cases = {
      {{{200, 30, 30}, {30, 30, 200}}, 1},
      {{kEight.begin(), kEight.begin() + 4}, 2},
      {kEight, 3},
      {sixteen, 4}};
  for (const auto& [colours, planes] : cases) {
    SCOPED_TRACE(planes);
    const std::string in = WritePpm(colours, 21, 7);
    const std::string out = (dir_ / "out.pcx").string();
    const std::vector<uint8_t> file = Run("ppmtopcx " + in + " > " + out, out);
    ASSERT_GT(file.size(), 128u);
    ASSERT_EQ(file[3], 1);  // what this case is about: 1 bit per pixel ...
    ASSERT_EQ(file[65], planes);  // ... in this many planes
    CWinBmp bmp;
    decodetest::Decode(file, bmp, 0);
    ExpectPattern(bmp, colours, 21, 7);
  }
}

TEST_F(PcxForeign, PillowMonochromeIsBlackAndWhite) {
  const std::vector<Rgb> bw = {{0, 0, 0}, {255, 255, 255}};
  const std::string in = WritePpm(bw, 19, 6);
  const std::string out = (dir_ / "mono.pcx").string();
  const std::vector<uint8_t> file = Run(
      "/usr/bin/python3 -c \"import sys; from PIL import Image; "
      "Image.open(sys.argv[1]).convert('1').save(sys.argv[2])\" " + in + " " + out, out);
  ASSERT_GT(file.size(), 128u);
  ASSERT_EQ(file[3], 1);
  ASSERT_EQ(file[65], 1);
  CWinBmp bmp;
  decodetest::Decode(file, bmp, 0);
  ExpectPattern(bmp, bw, 19, 6);
}

}  // namespace
