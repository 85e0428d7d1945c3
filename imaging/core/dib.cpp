#include "imaging/core/dib.h"

#include <limits>

namespace dib {

std::optional<size_t> BlockSize(int64_t width, int64_t height, unsigned bitsPerPixel) {
  if (width < 0 || height < 0 || bitsPerPixel == 0 || bitsPerPixel > 32) return std::nullopt;
  // Both factors fit in 32 bits after this check, so the product cannot overflow 64 bits.
  if (width > std::numeric_limits<int32_t>::max() || height > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  const uint64_t rows = RowStride(static_cast<uint64_t>(width), bitsPerPixel) * uint64_t(height);
  const uint64_t total = sizeof(BitmapInfoHeader) + 4ull * PaletteEntries(bitsPerPixel) + rows;
  if (total > std::numeric_limits<size_t>::max() / 2) return std::nullopt;
  return static_cast<size_t>(total);
}

}  // namespace dib
