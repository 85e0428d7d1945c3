// GIF, PNG, TIFF and JPEG files written by Pillow and ImageMagick, decoded by us and
// compared with Pillow's decode of the same file; then cut short and damaged, which must
// end in a CTextException or a picture, never a crash (the sanitizer build checks that).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "imaging/decode/gif_decoder.h"
#include "imaging/decode/jpeg_decoder.h"
#include "imaging/decode/png_decoder.h"
#include "imaging/decode/tiff_decoder.h"
#include "lib_decode_test_util.h"
#include "lib_samples.h"

using libdecodetest::DecodeWith;
using libdecodetest::ReadFile;
using libdecodetest::Rgba;
using libdecodetest::Sample;

namespace {

struct Reference {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;
};

Reference LoadReference(const std::string& path) {
  const auto bytes = ReadFile(path);
  Reference r;
  if (bytes.size() < 8) return r;
  r.width = int(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24);
  r.height = int(bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24);
  r.rgba.assign(bytes.begin() + 8, bytes.end());
  return r;
}

class LibSamples : public testing::TestWithParam<Sample> {
protected:
  std::string Path() const { return libdecodetest::SamplesDir() + "/" + GetParam().name; }
};

TEST_P(LibSamples, MatchesPillowsDecode) {
  const Sample& sample = GetParam();
  const auto file = ReadFile(Path());
  const Reference ref = LoadReference(Path() + ".rgba");
  ASSERT_EQ(ref.rgba.size(), size_t(ref.width) * size_t(ref.height) * 4);
  // libtiff's RGBA reader premultiplies unassociated alpha; Pillow does not.
  const bool premultiplied = sample.name.rfind("tiff_", 0) == 0;

  for (int wanted : {0, 32}) {
    CAnyPicDecoder decoder;
    CWinBmp bmp;
    DecodeWith(decoder, file, bmp, wanted, sample.name.c_str());
    ASSERT_EQ(bmp.GetWidth(), ref.width);
    ASSERT_EQ(bmp.GetHeight(), ref.height);
    if (wanted == 32 && sample.name.rfind("gif_", 0) != 0) {
      EXPECT_EQ(bmp.GetBitsPerPixel(), 32);
    }
    int worst = 0, worstX = 0, worstY = 0;
    for (int y = 0; y < ref.height; ++y) {
      for (int x = 0; x < ref.width; ++x) {
        const auto got = Rgba(bmp, x, y);
        const uint8_t* want = &ref.rgba[(size_t(y) * ref.width + x) * 4];
        for (int c = 0; c < (bmp.HasAlpha() ? 4 : 3); ++c) {
          int expected = want[c];
          if (premultiplied && bmp.HasAlpha() && c < 3) expected = (want[c] * want[3] + 127) / 255;
          int diff = std::abs(int(got[c]) - expected);
          if (diff > worst) {
            worst = diff;
            worstX = x;
            worstY = y;
          }
        }
      }
    }
    EXPECT_LE(worst, sample.tolerance + (premultiplied ? 1 : 0))
        << sample.name << " wanted " << wanted << " worst at " << worstX << "," << worstY;
  }
}

// The decoder for a sample, by its name: damage must reach that decoder, not another one
// that the damaged first bytes happen to select.
std::unique_ptr<CPicDecoder> DecoderFor(const std::string& name) {
  if (name.rfind("gif_", 0) == 0) return std::make_unique<CGifDecoder>();
  if (name.rfind("png_", 0) == 0) return std::make_unique<CPNGDecoder>();
  if (name.rfind("tiff_", 0) == 0) return std::make_unique<CTIFFDecoder>();
  return std::make_unique<CJPEGDecoder>();
}

// Decodes and accepts a picture or a CTextException; anything else fails the test.
void DecodeSurvives(const std::string& name, const std::vector<uint8_t>& bytes,
                    const std::string& what) {
  auto decoder = DecoderFor(name);
  decoder->SetMaxPixels(1 << 22);
  CWinBmp bmp;
  try {
    DecodeWith(*decoder, bytes, bmp, 0, "damaged");
  } catch (const CTextException& e) {
    EXPECT_NE(e.GetErrorCode(), 0) << what;
  }
}

TEST_P(LibSamples, CutShortOrDamagedFailsCleanly) {
  const auto file = ReadFile(Path());
  const size_t n = file.size();
  for (size_t keep : {size_t(1), size_t(4), size_t(9), size_t(17), size_t(40), n / 4, n / 3,
                      n / 2, 2 * n / 3, n - 9, n - 1}) {
    if (keep == 0 || keep >= n) continue;
    DecodeSurvives(GetParam().name, std::vector<uint8_t>(file.begin(), file.begin() + long(keep)),
                   "cut at " + std::to_string(keep));
  }
  // Damage: single bytes flipped, runs of 0xFF, and a run of zeros, across the file.
  for (int k = 0; k < 24; ++k) {
    auto damaged = file;
    const size_t at = (size_t(k) * 7919 + 13) % n;
    if (k % 3 == 0) {
      damaged[at] ^= 0x5A;
    } else {
      const uint8_t fill = k % 3 == 1 ? 0xFF : 0x00;
      for (size_t i = at; i < std::min(n, at + 6); ++i) damaged[i] = fill;
    }
    DecodeSurvives(GetParam().name, damaged, "damaged at " + std::to_string(at));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, LibSamples, testing::ValuesIn(libdecodetest::LoadSamples()),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
