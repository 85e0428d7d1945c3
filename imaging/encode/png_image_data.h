// The image data of a PNG: the bitmap's rows filtered and deflated into one zlib stream,
// ready to be cut into IDAT chunks.
//
// Rows are taken top-down straight from the bitmap: 8 bits as palette indices, 32 bits as
// red-green-blue (or red-green-blue-alpha when the bitmap has alpha) from the stored
// blue-green-red-alpha order. Palette rows use filter None; true-colour rows the adaptive
// choice among the five PNG filters (the smallest sum of the filtered bytes taken as signed
// values), as libpng chooses by default. Bands of rows are filtered, then deflated, in
// parallel and joined into the one stream; each band deflates with the end of the band
// before it as its dictionary. Palette bands use libpng's setting (zlib level 6); a
// true-colour band uses run lengths alone when a sample of it shows that longer matches
// gain little (camera noise), else libpng's setting for filtered rows; small bands try
// every method and keep the smallest. Files stay within a few percent of libpng's.
//
// Failures raise CTextException through RaiseEncoderError: code 10 " Out of memory." when a
// buffer cannot be had or the picture's size overflows. Refusing depths other than 8 and 32
// is the caller's job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CBmp;

namespace png {

// PNG filter types (row byte 0).
enum Filter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

// Writes `filter` applied to `row` (with `previous`, the row above, unfiltered; all zero for
// the top row) to `out`: `length` bytes, `bpp` bytes per pixel.
void ApplyFilter(Filter filter, const uint8_t* row, const uint8_t* previous, size_t length,
                 size_t bpp, uint8_t* out);

// Chooses the filter for one row by the smallest sum of |filtered byte as signed| and
// writes the filter type byte followed by the `length` filtered bytes to `out`. `scratch`
// holds 3 x `length` bytes.
void FilterRowAdaptive(const uint8_t* row, const uint8_t* previous, size_t length, size_t bpp,
                       uint8_t* scratch, uint8_t* out);

struct ImageData {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
};

// The zlib stream of the bitmap's filtered rows (depth 8 or 32).
ImageData CompressImage(const CBmp& bitmap);

// The most bytes CompressImage can return for a bitmap of this size and depth, or 0 when
// the size overflows.
size_t MaxImageDataSize(int width, int height, unsigned bitsPerPixel);

}  // namespace png
