// The packed device-independent bitmap (DIB) block: a 40-byte information header, for
// depths below 16 a colour table of 2^bpp blue-green-red-reserved entries, then the pixel
// rows bottom row first, each padded to a multiple of 4 bytes. This is the unit in which
// snapshots travel and the memory layout of a BMP file after its 14-byte file header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#pragma pack(push, 1)
struct BitmapInfoHeader {
  uint32_t size = 40;
  int32_t width = 0;
  int32_t height = 0;  // positive: rows stored bottom-up
  uint16_t planes = 1;
  uint16_t bitCount = 0;
  uint32_t compression = 0;  // 0 uncompressed, 1 RLE8, 2 RLE4
  uint32_t sizeImage = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  uint32_t clrImportant = 0;
};

struct RgbQuad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(sizeof(RgbQuad) == 4);

namespace dib {

// Bytes in one stored row: the row's bits rounded up to a multiple of 32 bits.
// 64-bit arithmetic: width x bpp overflows 32 bits for large widths at 32 bpp.
constexpr uint64_t RowStride(uint64_t width, unsigned bitsPerPixel) {
  return (bitsPerPixel * width + 31) / 32 * 4;
}

// Colour-table entries that follow the header: 2^bpp below 16 bits, none above.
constexpr uint32_t PaletteEntries(unsigned bitsPerPixel) {
  return bitsPerPixel < 16 ? (1u << bitsPerPixel) : 0u;
}

// Size of a whole block (header + colour table + rows), or nothing when it cannot be
// represented or the dimensions are negative.
std::optional<size_t> BlockSize(int64_t width, int64_t height, unsigned bitsPerPixel);

}  // namespace dib
