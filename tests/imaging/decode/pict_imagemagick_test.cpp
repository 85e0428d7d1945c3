// PICT files written by ImageMagick while the test runs, from a known pattern: palette
// pictures (one-bit and 8-bit pixel maps), true colour and true colour with alpha (direct
// pixels in component planes), at widths on both sides of the byte/word row-length switch.
//
// ImageMagick switches to word row lengths above 200 bytes where the format says 250, and
// packs rows narrower than 8 bytes that the format stores unpacked; the widths here avoid
// both, so the files are read the same way by every reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decode_test_util.h"

namespace {

namespace fs = std::filesystem;
using Rgba = std::array<uint8_t, 4>;

const std::vector<Rgba> kColours = {{0, 0, 0, 255},     {255, 255, 255, 200}, {255, 0, 0, 255},
                                    {0, 160, 0, 255},   {0, 0, 255, 255},     {255, 255, 0, 255},
                                    {0, 255, 255, 40},  {255, 0, 255, 128}};

struct Case {
  const char* label;
  const char* type;  // ImageMagick's -type
  int width, height;
  size_t colours;    // pattern uses the first this many colours
  bool alpha;
};

class PictImageMagick : public testing::TestWithParam<Case> {
protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pict_im_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static const Rgba& At(const Case& c, int x, int y) {
    return kColours[static_cast<size_t>(x / 3 + 2 * y) % c.colours];
  }

  // The pattern as a PAM file, alpha included when the case has it.
  std::string WritePam(const Case& c) {
    const fs::path path = dir_ / "in.pam";
    std::ofstream out(path, std::ios::binary);
    out << "P7\nWIDTH " << c.width << "\nHEIGHT " << c.height << "\nDEPTH "
        << (c.alpha ? 4 : 3) << "\nMAXVAL 255\nTUPLTYPE " << (c.alpha ? "RGB_ALPHA" : "RGB")
        << "\nENDHDR\n";
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        out.write(reinterpret_cast<const char*>(At(c, x, y).data()), c.alpha ? 4 : 3);
      }
    }
    return path.string();
  }

  fs::path dir_;
};

TEST_P(PictImageMagick, DecodesThePattern) {
  const Case& c = GetParam();
  const std::string in = WritePam(c);
  const std::string out = (dir_ / "out.pict").string();
  const std::string command =
      std::string("/usr/bin/convert ") + in + " -type " + c.type + " " + out + " 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream file(out, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};

  CWinBmp bmp;
  decodetest::Decode(bytes, bmp, 32, "out.pict");
  ASSERT_EQ(bmp.GetWidth(), c.width);
  ASSERT_EQ(bmp.GetHeight(), c.height);
  EXPECT_EQ(bmp.HasAlpha(), c.alpha);
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      const Rgba& p = At(c, x, y);
      const uint32_t alpha = c.alpha ? p[3] : 255;
      const uint32_t want = alpha << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
      ASSERT_EQ(decodetest::Argb(bmp, x, y), want) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, PictImageMagick,
    testing::Values(Case{"bilevel", "Bilevel", 67, 5, 2, false},
                    Case{"palette_byte_lengths", "Palette", 40, 6, 5, false},
                    Case{"palette_word_lengths", "Palette", 300, 4, 8, false},
                    Case{"truecolour_byte_lengths", "TrueColor", 40, 5, 8, false},
                    Case{"truecolour_word_lengths", "TrueColor", 100, 3, 8, false},
                    Case{"alpha", "TrueColorAlpha", 30, 4, 8, true}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.label); });

}  // namespace
