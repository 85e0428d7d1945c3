#include "imaging/encode/png_image_data.h"

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "imaging/core/bmp.h"
#include "imaging/core/text_exception.h"
#include "imaging/encode/pic_encoder.h"

namespace png {
namespace {

constexpr int kDeflateLevel = 6;

[[noreturn]] void RaiseNoMemory() { RaiseEncoderError(textexception::kNoMemory, " Out of memory."); }

std::unique_ptr<uint8_t[]> Allocate(size_t size) {
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
  if (!block) RaiseNoMemory();
  return block;
}

// Bytes per pixel and per (unfiltered) row as written; false when the sizes overflow.
struct RowShape {
  size_t bpp = 0;
  size_t rowBytes = 0;
  size_t rawSize = 0;  // every row with its filter byte
};

bool ShapeOf(int width, int height, unsigned bitsPerPixel, bool alpha, RowShape& shape) {
  if (width <= 0 || height <= 0) return false;
  shape.bpp = bitsPerPixel == 8 ? 1 : (alpha ? 4 : 3);
  return !__builtin_mul_overflow(size_t(width), shape.bpp, &shape.rowBytes) &&
         !__builtin_mul_overflow(shape.rowBytes + 1, size_t(height), &shape.rawSize);
}

// Sum of the bytes taken as signed values, without sign: libpng's measure of a filtered row.
size_t SignedSum(const uint8_t* bytes, size_t length) {
  size_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum += size_t(std::abs(int(int8_t(bytes[i]))));
  return sum;
}

uint8_t Paeth(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

// One stored blue-green-red-alpha row as red-green-blue(-alpha).
void ToRgb(const uint8_t* bgra, size_t width, bool alpha, uint8_t* out) {
  if (alpha) {
    for (size_t x = 0; x < width; ++x, bgra += 4, out += 4) {
      out[0] = bgra[2];
      out[1] = bgra[1];
      out[2] = bgra[0];
      out[3] = bgra[3];
    }
  } else {
    for (size_t x = 0; x < width; ++x, bgra += 4, out += 3) {
      out[0] = bgra[2];
      out[1] = bgra[1];
      out[2] = bgra[0];
    }
  }
}

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

}  // namespace

void ApplyFilter(Filter filter, const uint8_t* row, const uint8_t* previous, size_t length,
                 size_t bpp, uint8_t* out) {
  const size_t first = bpp < length ? bpp : length;  // pixels with nothing on their left
  switch (filter) {
    case kNone:
      std::memcpy(out, row, length);
      return;
    case kSub:
      std::memcpy(out, row, first);
      for (size_t i = first; i < length; ++i) out[i] = uint8_t(row[i] - row[i - bpp]);
      return;
    case kUp:
      for (size_t i = 0; i < length; ++i) out[i] = uint8_t(row[i] - previous[i]);
      return;
    case kAverage:
      for (size_t i = 0; i < first; ++i) out[i] = uint8_t(row[i] - (previous[i] >> 1));
      for (size_t i = first; i < length; ++i)
        out[i] = uint8_t(row[i] - ((unsigned(row[i - bpp]) + previous[i]) >> 1));
      return;
    case kPaeth:
      for (size_t i = 0; i < first; ++i) out[i] = uint8_t(row[i] - previous[i]);
      for (size_t i = first; i < length; ++i)
        out[i] = uint8_t(row[i] - Paeth(row[i - bpp], previous[i], previous[i - bpp]));
      return;
  }
}

void FilterRowAdaptive(const uint8_t* row, const uint8_t* previous, size_t length, size_t bpp,
                       uint8_t* scratch, uint8_t* out) {
  // Sub, Up and Average go to scratch, Paeth straight to its place in `out`; on equal sums
  // the lower filter type wins.
  const uint8_t* candidates[5] = {row, scratch, scratch + length, scratch + 2 * length, out + 1};
  size_t bestSum = SignedSum(row, length);
  int best = kNone;
  for (int filter = kSub; filter <= kPaeth; ++filter) {
    uint8_t* target = const_cast<uint8_t*>(candidates[filter]);
    ApplyFilter(Filter(filter), row, previous, length, bpp, target);
    const size_t sum = SignedSum(target, length);
    if (sum < bestSum) {
      bestSum = sum;
      best = filter;
    }
  }
  out[0] = uint8_t(best);
  if (best != kPaeth) std::memcpy(out + 1, candidates[best], length);
}

size_t MaxImageDataSize(int width, int height, unsigned bitsPerPixel) {
  RowShape shape;
  // With alpha rows are longest: the bound holds for both kinds of 32-bit bitmap.
  if (!ShapeOf(width, height, bitsPerPixel, true, shape)) return 0;
  return libdeflate_zlib_compress_bound(nullptr, shape.rawSize);
}

ImageData CompressImage(const CBmp& bitmap) {
  const bool alpha = bitmap.GetBitsPerPixel() != 8 && bitmap.HasAlpha();
  RowShape shape;
  if (!ShapeOf(bitmap.GetWidth(), bitmap.GetHeight(), bitmap.GetBitsPerPixel(), alpha, shape))
    RaiseNoMemory();
  const size_t width = size_t(bitmap.GetWidth());
  const size_t height = size_t(bitmap.GetHeight());
  uint8_t* const* rows = bitmap.GetRowTable();

  std::unique_ptr<uint8_t[]> filtered = Allocate(shape.rawSize);
  uint8_t* out = filtered.get();
  if (shape.bpp == 1) {
    // Palette indices: filtering rarely pays off, and libpng does not filter them either.
    for (size_t y = 0; y < height; ++y, out += shape.rowBytes + 1) {
      out[0] = kNone;
      std::memcpy(out + 1, rows[y], shape.rowBytes);
    }
  } else {
    // Two unfiltered rows (this one and the one above, zero above the top) and the scratch.
    std::unique_ptr<uint8_t[]> work = Allocate(5 * shape.rowBytes);
    uint8_t* current = work.get();
    uint8_t* above = current + shape.rowBytes;
    uint8_t* scratch = above + shape.rowBytes;
    std::memset(above, 0, shape.rowBytes);
    for (size_t y = 0; y < height; ++y, out += shape.rowBytes + 1) {
      ToRgb(rows[y], width, alpha, current);
      FilterRowAdaptive(current, above, shape.rowBytes, shape.bpp, scratch, out);
      std::swap(current, above);
    }
  }

  std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
      libdeflate_alloc_compressor(kDeflateLevel));
  if (!compressor) RaiseNoMemory();
  const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), shape.rawSize);
  ImageData data{Allocate(bound), 0};
  data.size = libdeflate_zlib_compress(compressor.get(), filtered.get(), shape.rawSize,
                                       data.bytes.get(), bound);
  // Cannot happen with a buffer of the library's own bound; checked so it never passes silently.
  if (data.size == 0)
    RaiseEncoderError(textexception::kFormatError, "compressed image data exceeds its bound");
  return data;
}

}  // namespace png
