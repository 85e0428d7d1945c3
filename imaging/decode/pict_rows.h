// Pixel rows of a PICT bitmap or pixel map: unpacked or PackBits-compressed rows of 1, 2, 4,
// 8 or 16-bit pixels, and 32-bit rows stored as component planes, into the rows of a CBmp
// of 8 bits (indices) or 32 bits (blue, green, red, alpha), top row first.
//
// Every row is bounded: packed data that would expand past the row, or whose run claims
// more bytes than the row's packed length holds, raises code 2; a row that decodes short
// leaves its missing pixels 0.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/core/bmp.h"
#include "imaging/decode/pict_stream.h"

namespace pict {

struct PixelRows {
  int pixelSize = 1;          // bits per pixel as stored: 1, 2, 4, 8, 16 or 32
  int componentCount = 3;     // 32-bit pixels: 3 (red, green, blue) or 4 (alpha first)
  uint32_t rowBytes = 0;      // as stored (bit 15, the pixel-map flag, is not counted); 0: from
                              // the width
  const RgbQuad* palette = nullptr;  // 256 entries: indices into a 32-bit bitmap
};

// Reads bmp's height rows from `in` into bmp (already created at 8 or 32 bits).
void DecodeRows(const PixelRows& layout, Stream& in, CBmp& bmp);

// PackBits with `unitBytes`-byte units: h < 128 is followed by h + 1 literal units,
// h == 128 is nothing, any other h by one unit repeated 257 - h times. Returns the bytes
// written to out.
size_t UnpackBits(std::span<const uint8_t> in, size_t unitBytes, std::span<uint8_t> out);

}  // namespace pict
