// Helpers shared by the bitmap tests: files, an independent decoder, buffers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/bmp.h"

namespace bmptest {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

inline std::string SuitePath(const std::string& name) {
  return std::string(LUMORA_TESTDATA_DIR) + "/bmpsuite/g/" + name;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The picture as Pillow decodes it: RGB bytes, top row first. Empty if Pillow is missing.
inline std::vector<uint8_t> PillowRgb(const std::string& path) {
  const std::string command =
      "/usr/bin/python3 -c \"import sys; from PIL import Image; "
      "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert('RGB').tobytes())\" '" +
      path + "' 2>/dev/null";
  std::vector<uint8_t> out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.insert(out.end(), chunk, chunk + n);
    pclose(pipe);
  }
  return out;
}

// Writes pixel (x, y) of a 32-bit bitmap, y counted from the top.
inline void SetPixel32(CBmp& bmp, int x, int y, uint8_t red, uint8_t green, uint8_t blue,
                       uint8_t alpha = 0) {
  uint8_t* p = bmp.GetRowTable()[y] + 4 * x;
  p[0] = blue;
  p[1] = green;
  p[2] = red;
  p[3] = alpha;
}

inline RgbQuad Quad(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha = 255) {
  return RgbQuad{blue, green, red, alpha};
}

// The four bytes of an entry as one number (blue lowest), so tests compare entries with EXPECT_EQ.
inline uint32_t Packed(const RgbQuad& q) {
  return q.blue | q.green << 8 | q.red << 16 | uint32_t(q.reserved) << 24;
}

}  // namespace bmptest
