// Helpers shared by the encoder tests: bitmaps with known pixels, a memory sink, files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "imaging/core/win_bmp.h"
#include "imaging/encode/data_sink.h"
#include "imaging/encode/pic_encoder.h"

namespace encodetest {

// An 8-bit bitmap whose row y holds `rows[y]` (all rows the same length).
inline std::unique_ptr<CWinBmp> MakeIndexed(const std::vector<std::vector<uint8_t>>& rows) {
  auto bmp = std::make_unique<CWinBmp>();
  bmp->Create(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 8, false);
  for (size_t y = 0; y < rows.size(); ++y)
    std::copy(rows[y].begin(), rows[y].end(), bmp->GetRowTable()[y]);
  return bmp;
}

// A 32-bit bitmap from blue-green-red triples per pixel, alpha 0.
inline std::unique_ptr<CWinBmp> MakeTrueColour(int width, int height,
                                               const std::vector<uint8_t>& bgr) {
  auto bmp = std::make_unique<CWinBmp>();
  bmp->Create(width, height, 32, false);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 4; ++c)
        bmp->GetRowTable()[y][4 * x + c] = c < 3 ? bgr[3 * (static_cast<size_t>(y) * width + x) + c] : 0;
  return bmp;
}

inline std::unique_ptr<CWinBmp> MakeNoise(int width, int height, uint16_t bpp, unsigned seed) {
  auto bmp = std::make_unique<CWinBmp>();
  bmp->Create(width, height, bpp, false);
  std::mt19937 random(seed);
  const size_t stride = bmp->GetRowStride();
  for (int y = 0; y < height; ++y)
    for (size_t i = 0; i < stride; ++i) bmp->GetRowTable()[y][i] = static_cast<uint8_t>(random());
  if (bpp == 32)  // no alpha on the save path
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) bmp->GetRowTable()[y][4 * x + 3] = 0;
  if (bpp <= 8) {
    std::vector<RgbQuad> palette(1u << bpp);
    for (RgbQuad& entry : palette)
      entry = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
               static_cast<uint8_t>(random()), 255};
    bmp->SetPalette(palette.data());
  }
  return bmp;
}

// Runs an encoder's writer into memory, sized by the encoder's own worst case.
inline std::vector<uint8_t> EncodeToMemory(CPicEncoder& encoder, CBmp& bitmap,
                                           const char* name = "memory.bin") {
  const size_t capacity = encoder.MaxEncodedSize(bitmap, name);
  std::vector<uint8_t> buffer(capacity);
  CDataSink sink;
  sink.Open(name, buffer.data(), buffer.size());
  encoder.EncodeToSink(bitmap, sink);
  buffer.resize(sink.GetPosition());
  return buffer;
}

// The colour of every pixel as 0xRRGGBB, top row first, read through the palette at 1, 4 and
// 8 bits (bits taken high first) and straight from blue-green-red at 24 and 32.
inline std::vector<uint32_t> Colours(const CBmp& bmp) {
  std::vector<uint32_t> out;
  const int bpp = bmp.GetBitsPerPixel();
  for (int y = 0; y < bmp.GetHeight(); ++y) {
    const uint8_t* row = bmp.GetRowTable()[y];
    for (int x = 0; x < bmp.GetWidth(); ++x) {
      if (bpp <= 8) {
        const int bit = x * bpp;
        const int index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1);
        const RgbQuad& q = bmp.GetPalette()[index];
        out.push_back(uint32_t(q.red) << 16 | uint32_t(q.green) << 8 | q.blue);
      } else {
        const uint8_t* p = row + x * (bpp / 8);
        out.push_back(uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
      }
    }
  }
  return out;
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// A fresh empty directory under the system's temporary directory, removed at the end.
class TempDir {
public:
  TempDir() {
    char pattern[] = "/tmp/lumora-encode-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  size_t EntryCount() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                             std::filesystem::directory_iterator()));
  }

private:
  std::filesystem::path path_;
};

}  // namespace encodetest
