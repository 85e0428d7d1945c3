// Files written by Pillow and ImageMagick (and the BMP Suite files we read) must decode to
// the same pixels as Pillow's or ImageMagick's own decode of them. The files are made at
// test time by make_reference_images.py; if that script fails (no Pillow, no ImageMagick)
// the suite fails rather than passing with nothing compared.
// The same files, truncated and corrupted, must give an error or a picture, never a crash.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "decode_test_util.h"

namespace fs = std::filesystem;

namespace {

struct RefFile {
  std::string name;
  int width = 0, height = 0;
  bool compareAlpha = false;
  std::string reference;
};

fs::path OutDir() { return fs::path(LUMORA_BIN_DIR) / "decode_reference_images"; }

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Runs the generator once per build (again when the script changes) and reads the manifest.
std::vector<RefFile> Manifest() {
  static const std::vector<RefFile> files = [] {
    const fs::path script = fs::path(LUMORA_SOURCE_DIR) / "tests/imaging/decode/make_reference_images.py";
    const fs::path manifest = OutDir() / "manifest.txt";
    std::error_code ec;
    if (!fs::exists(manifest) || fs::last_write_time(manifest, ec) < fs::last_write_time(script, ec)) {
      const std::string cmd = "/usr/bin/python3 '" + script.string() + "' '" + OutDir().string() +
                              "' '" + std::string(LUMORA_TESTDATA_DIR) + "/bmpsuite' >/dev/null 2>&1";
      if (std::system(cmd.c_str()) != 0) return std::vector<RefFile>{};
    }
    std::vector<RefFile> out;
    std::ifstream in(manifest);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      RefFile f;
      std::string channels;
      if (fields >> f.name >> f.width >> f.height >> channels >> f.reference) {
        f.compareAlpha = channels == "rgba";
        out.push_back(f);
      }
    }
    return out;
  }();
  return files;
}

TEST(ReferenceImages, GeneratorWroteFiles) {
  EXPECT_FALSE(Manifest().empty())
      << "make_reference_images.py failed or listed nothing; it needs Pillow and ImageMagick";
}

std::string TestName(const testing::TestParamInfo<RefFile>& info) {
  std::string s = info.param.name;
  for (char& c : s) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return s;
}

class ReferenceDecode : public testing::TestWithParam<RefFile> {};

TEST_P(ReferenceDecode, MatchesIndependentDecoder) {
  const RefFile& f = GetParam();
  const auto file = ReadAll(OutDir() / f.name);
  const auto ref = ReadAll(OutDir() / (f.name + ".rgba"));
  ASSERT_EQ(ref.size(), size_t(f.width) * f.height * 4);

  CWinBmp bmp;
  decodetest::Decode(file, bmp, 32, f.name.c_str());
  ASSERT_EQ(bmp.GetWidth(), f.width);
  ASSERT_EQ(bmp.GetHeight(), f.height);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
  int mismatches = 0;
  for (int y = 0; y < f.height && mismatches < 5; ++y) {
    const uint8_t* row = bmp.GetRowTable()[y];
    for (int x = 0; x < f.width && mismatches < 5; ++x) {
      const uint8_t* r = &ref[(size_t(y) * f.width + x) * 4];
      const uint8_t* p = row + 4 * x;
      const bool same = p[2] == r[0] && p[1] == r[1] && p[0] == r[2] &&
                        (!f.compareAlpha || p[3] == r[3]);
      if (!same) {
        ++mismatches;
        ADD_FAILURE() << f.name << " (" << f.reference << ") at " << x << "," << y << ": ours rgba "
                      << int(p[2]) << " " << int(p[1]) << " " << int(p[0]) << " " << int(p[3])
                      << ", reference " << int(r[0]) << " " << int(r[1]) << " " << int(r[2])
                      << " " << int(r[3]);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ReferenceDecode, testing::ValuesIn(Manifest()),
                         TestName);

// Decodes a damaged copy: only CTextException may come out, and a picture that comes out
// is well formed.
void DecodeDamaged(const std::vector<uint8_t>& bytes, const std::string& label) {
  CWinBmp bmp;
  CAnyPicDecoder decoder;
  decoder.SetMaxPixels(1 << 22);
  CMemSource source(label.c_str(), bytes);
  try {
    decoder.DecodeSource(source, bmp, 0);
    EXPECT_GT(bmp.GetWidth(), 0) << label;
  } catch (const CTextException&) {
  }
}

class DamagedDecode : public testing::TestWithParam<RefFile> {};

TEST_P(DamagedDecode, FailsCleanlyOrDecodes) {
  const RefFile& f = GetParam();
  const auto file = ReadAll(OutDir() / f.name);
  for (size_t len : {size_t(1), size_t(17), size_t(60), file.size() / 4, file.size() / 2,
                     file.size() - 1}) {
    if (len >= file.size()) continue;
    DecodeDamaged({file.begin(), file.begin() + static_cast<long>(len)},
                  f.name + " cut at " + std::to_string(len));
  }
  std::mt19937 random(12345);
  for (int round = 0; round < 40; ++round) {
    auto copy = file;
    for (int k = 0; k < 4; ++k) {
      // Headers and tables are where damage hurts most: aim half the hits at the start.
      const size_t span = (k % 2 == 0) ? std::min<size_t>(copy.size(), 1100) : copy.size();
      copy[random() % span] = static_cast<uint8_t>(random());
    }
    DecodeDamaged(copy, f.name + " corrupted, round " + std::to_string(round));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedDecode, testing::ValuesIn(Manifest()),
                         TestName);

}  // namespace
