#include "imaging/encode/bmp_encoder.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/core/dib.h"

namespace {

// Bytes per pixel written for depths above 8: 32-bit pixels lose their alpha.
unsigned WrittenBytesPerPixel(unsigned bpp) { return bpp == 32 ? 3 : bpp / 8; }

unsigned WrittenDepth(unsigned bpp) { return bpp == 32 ? 24 : bpp; }

uint64_t WrittenRowBytes(uint64_t width, unsigned bpp) {
  return dib::RowStride(width, WrittenDepth(bpp));
}

uint32_t DataOffset(unsigned bpp) { return 54 + 4 * (bpp <= 8 ? (1u << bpp) : 0u); }

void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

size_t CWinBmpEncoder::MaxEncodedSize(const CBmp& bitmap, const char*) {
  const uint64_t width = bitmap.GetWidth() > 0 ? bitmap.GetWidth() : 0;
  const uint64_t height = bitmap.GetHeight() > 0 ? bitmap.GetHeight() : 0;
  return DataOffset(bitmap.GetBitsPerPixel()) +
         WrittenRowBytes(width, bitmap.GetBitsPerPixel()) * height;
}

void CWinBmpEncoder::WriteImage(CBmp& bitmap, CDataSink& sink) {
  const unsigned bpp = bitmap.GetBitsPerPixel();
  const int width = bitmap.GetWidth();
  const int height = bitmap.GetHeight();
  const uint64_t rowBytes = WrittenRowBytes(width > 0 ? width : 0, bpp);
  const uint32_t offset = DataOffset(bpp);

  uint8_t header[54] = {};
  header[0] = 'B';
  header[1] = 'M';
  PutLe32(header + 2, static_cast<uint32_t>(offset + rowBytes * (height > 0 ? height : 0)));
  PutLe32(header + 10, offset);
  uint8_t* info = header + 14;
  PutLe32(info + 0, 40);
  PutLe32(info + 4, static_cast<uint32_t>(width));
  PutLe32(info + 8, static_cast<uint32_t>(height));
  PutLe16(info + 12, 1);
  PutLe16(info + 14, static_cast<uint16_t>(WrittenDepth(bpp)));
  PutLe32(info + 20, static_cast<uint32_t>(rowBytes * (height > 0 ? height : 0)));
  sink.WriteBytes(sizeof header, header);

  if (bpp <= 8) sink.WriteBytes(4u << bpp, bitmap.GetPalette());

  uint8_t* const* rows = bitmap.GetRowTable();
  if (rows == nullptr) return;
  std::vector<uint8_t> line(rowBytes, 0);
  if (bpp <= 8) {
    // Copy the pixel bits; the row's padding (and the unused bits of a partial last byte)
    // are written as zeros so the file does not depend on what the storage held there.
    const uint64_t bits = static_cast<uint64_t>(bpp) * width;
    const size_t fullBytes = bits / 8;
    const unsigned tailBits = bits % 8;
    for (int y = height - 1; y >= 0; --y) {
      std::memcpy(line.data(), rows[y], fullBytes);
      if (tailBits != 0)
        line[fullBytes] = rows[y][fullBytes] & static_cast<uint8_t>(0xFF00u >> tailBits);
      sink.WriteBytes(line.size(), line.data());
    }
    return;
  }
  const unsigned step = bpp / 8;
  const unsigned written = WrittenBytesPerPixel(bpp);
  for (int y = height - 1; y >= 0; --y) {
    const uint8_t* src = rows[y];
    uint8_t* dst = line.data();
    if (step == 4) {
      for (int x = 0; x < width; ++x, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
    } else {
      for (int x = 0; x < width; ++x, src += step, dst += written) std::memcpy(dst, src, written);
    }
    sink.WriteBytes(line.size(), line.data());
  }
}
