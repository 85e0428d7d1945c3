#include "imaging/encode/png_image_data.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/core/bmp.h"
#include "imaging/core/text_exception.h"
#include "imaging/encode/pic_encoder.h"

namespace png {
namespace {

// Rows go in bands of about this many filtered bytes (whole rows, at least one): the bands
// are filtered, then deflated, on as many threads as there are cores. The layout and the
// choices depend on the picture alone, so the file does not depend on the machine.
constexpr size_t kBandBytes = size_t(1) << 20;
constexpr unsigned kMaxThreads = 8;

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
// The loops below are written without branches so that the compiler vectorises them.
size_t SignedSum(const uint8_t* bytes, size_t length) {
  size_t sum = 0;
  for (size_t i = 0; i < length; ++i) {
    const int v = int8_t(bytes[i]);
    sum += size_t(v < 0 ? -v : v);
  }
  return sum;
}

uint8_t Paeth(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  const int bc = pb <= pc ? b : c;
  return uint8_t(pa <= pb && pa <= pc ? a : bc);
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

// How a band is deflated. Run lengths (matches at distance one only) suit camera pictures,
// whose noise defeats longer matches: within about 1 % of full matching there at a tenth of
// its time. Full matching is libpng's own setting, zlib level 6 with the strategy for
// filtered rows for true colour and the default one for palette rows; photographs, flat
// graphics and text need it.
struct Method {
  int level;
  int strategy;
};
constexpr Method kRunLengths{1, Z_RLE};
constexpr Method kFullMatching{6, Z_DEFAULT_STRATEGY};
constexpr Method kFilteredMatching{6, Z_FILTERED};

// Bands up to this size try every method and keep the smallest result. Palette bands take
// full matching. A larger true-colour band takes filtered full matching when a sample
// predicts it at least 2.5 % smaller than run lengths: four pieces of kSamplePiece bytes,
// each deflated both ways, the matching one after the kSampleHistory bytes before it as
// dictionary. So the sample predicts the whole band's gain within about 2 %, for a sixth
// of the time that run lengths take over the band.
constexpr size_t kSmallBand = size_t(128) << 10;
constexpr size_t kSamplePiece = size_t(4) << 10;
constexpr size_t kSampleHistory = size_t(28) << 10;
constexpr size_t kSampleGain = 975;  // per mille of the run-length size

// deflate's window: a band's dictionary is the last this many bytes of the band before it.
constexpr size_t kWindow = size_t(32) << 10;

// Rows [first, last) of the picture, and where their filtered bytes and their deflated
// piece go.
struct Band {
  size_t first = 0, last = 0;
  uint8_t* filtered = nullptr;  // (last - first) x (rowBytes + 1)
  size_t length = 0;            // of filtered
  std::unique_ptr<uint8_t[]> work;  // two unfiltered rows and the filter scratch
  std::unique_ptr<uint8_t[]> deflated;
  std::unique_ptr<uint8_t[]> spare;  // small bands: the next method's attempt
  size_t capacity = 0, size = 0;
  uLong adler = 0;
  bool runLengthsOnly = true;
  int result = Z_STREAM_ERROR;  // of CompressBand
};

size_t RowsPerBand(const RowShape& shape) {
  return std::max<size_t>(1, kBandBytes / (shape.rowBytes + 1));
}

// The most a band of `length` bytes deflates to: zlib's own bound for a raw stream with the
// default window and memory (any level and strategy), and the empty stored block that ends
// a band mid-stream.
size_t BandBound(size_t length) {
  return length + (length >> 12) + (length >> 14) + (length >> 25) + 7 + 6;
}

// A band's bytes and its bound fit zlib's 32-bit counts; only a row of gigabytes does not.
bool BandFits(const RowShape& shape) {
  return BandBound(RowsPerBand(shape) * (shape.rowBytes + 1)) <= uInt(-1);
}

// Filters the band's rows (palette rows as they are) into band.filtered.
void FilterBand(Band& band, uint8_t* const* rows, size_t width, const RowShape& shape, bool alpha) {
  uint8_t* out = band.filtered;
  if (shape.bpp == 1) {
    // Palette indices: filtering rarely pays off, and libpng does not filter them either.
    for (size_t y = band.first; y < band.last; ++y, out += shape.rowBytes + 1) {
      out[0] = kNone;
      std::memcpy(out + 1, rows[y], shape.rowBytes);
    }
    return;
  }
  uint8_t* current = band.work.get();
  uint8_t* above = current + shape.rowBytes;
  uint8_t* scratch = above + shape.rowBytes;
  // The row above the band, unfiltered (zero above the top).
  if (band.first == 0) std::memset(above, 0, shape.rowBytes);
  else ToRgb(rows[band.first - 1], width, alpha, above);
  for (size_t y = band.first; y < band.last; ++y, out += shape.rowBytes + 1) {
    ToRgb(rows[y], width, alpha, current);
    FilterRowAdaptive(current, above, shape.rowBytes, shape.bpp, scratch, out);
    std::swap(current, above);
  }
}

// Deflates `length` bytes as a raw deflate piece, matching back into `dictionary` (the
// `dictionaryLength` bytes just before them). `finish` ends the stream; otherwise the piece
// ends on a byte boundary (an empty stored block), so that pieces join as they are.
// Z_OK with `size` set when done.
int DeflatePiece(const uint8_t* in, size_t length, const uint8_t* dictionary,
                 size_t dictionaryLength, Method method, bool finish, uint8_t* out,
                 size_t capacity, size_t& size) {
  z_stream z{};
  int rc = deflateInit2(&z, method.level, Z_DEFLATED, -15, 8, method.strategy);
  if (rc != Z_OK) return rc;
  if (dictionaryLength > 0) rc = deflateSetDictionary(&z, dictionary, uInt(dictionaryLength));
  if (rc == Z_OK) {
    z.next_in = const_cast<uint8_t*>(in);
    z.avail_in = uInt(length);
    z.next_out = out;
    z.avail_out = uInt(capacity);
    rc = deflate(&z, finish ? Z_FINISH : Z_SYNC_FLUSH);
    size = capacity - z.avail_out;
    rc = z.avail_in == 0 && rc == (finish ? Z_STREAM_END : Z_OK) ? Z_OK : Z_BUF_ERROR;
  }
  deflateEnd(&z);
  return rc;
}

// Whether full matching pays on a large true-colour band, judged on a sample of it
// (deflated into the band's output buffer, which is free until the band itself goes there).
bool MatchingPays(Band& band) {
  size_t runs = 0, matched = 0;
  for (size_t piece = 0; piece < 4; ++piece) {
    const uint8_t* in = band.filtered + piece * (band.length / 4) + kSampleHistory;
    size_t size = 0;
    if (DeflatePiece(in, kSamplePiece, nullptr, 0, kRunLengths, true, band.deflated.get(),
                     band.capacity, size) != Z_OK)
      return false;
    runs += size;
    if (DeflatePiece(in, kSamplePiece, in - kSampleHistory, kSampleHistory, kFilteredMatching,
                     true, band.deflated.get(), band.capacity, size) != Z_OK)
      return false;
    matched += size;
  }
  return matched * 1000 < runs * kSampleGain;
}

// Deflates the band as its piece of the image's one deflate stream, with the band before it
// as the dictionary, so the bands deflate at once and lose almost nothing at their seams.
// The last band ends the stream.
void CompressBand(Band& band, const uint8_t* dictionary, size_t dictionaryLength, bool palette,
                  bool last) {
  band.adler = adler32(1, band.filtered, uInt(band.length));
  if (band.length > kSmallBand) {
    const Method method =
        palette ? kFullMatching : MatchingPays(band) ? kFilteredMatching : kRunLengths;
    band.runLengthsOnly = method.strategy == Z_RLE;
    band.result = DeflatePiece(band.filtered, band.length, dictionary, dictionaryLength, method,
                               last, band.deflated.get(), band.capacity, band.size);
    return;
  }
  for (const Method method : {kRunLengths, kFullMatching, kFilteredMatching}) {
    size_t size = 0;
    const int rc = DeflatePiece(band.filtered, band.length, dictionary, dictionaryLength, method,
                                last, band.spare.get(), band.capacity, size);
    if (rc != Z_OK) {
      band.result = rc;
      return;
    }
    if (band.result != Z_OK || size < band.size) {
      std::swap(band.deflated, band.spare);
      band.size = size;
      band.runLengthsOnly = method.strategy == Z_RLE;
      band.result = Z_OK;
    }
  }
}

// Runs work(i) for every i below `count`, on as many threads as there are cores.
template <typename Work>
void OnEveryCore(size_t count, const Work& work) {
  std::atomic<size_t> next{0};
  auto loop = [&] {
    for (size_t i; (i = next++) < count;) work(i);
  };
  std::vector<std::thread> helpers;
  const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
  for (size_t i = 1; i < std::min<size_t>(cores, count); ++i) {
    try {
      helpers.emplace_back(loop);
    } catch (...) {
      break;  // no more threads: the ones there (and this one) do the rest
    }
  }
  loop();
  for (std::thread& t : helpers) t.join();
}

void BigEndian32(uint32_t value, uint8_t* out) {
  out[0] = uint8_t(value >> 24);
  out[1] = uint8_t(value >> 16);
  out[2] = uint8_t(value >> 8);
  out[3] = uint8_t(value);
}

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
  if (!ShapeOf(width, height, bitsPerPixel, true, shape) || !BandFits(shape)) return 0;
  const size_t rowsPerBand = RowsPerBand(shape), rows = size_t(height);
  const size_t rest = rows % rowsPerBand * (shape.rowBytes + 1);
  size_t total = 0;
  if (__builtin_mul_overflow(BandBound(rowsPerBand * (shape.rowBytes + 1)), rows / rowsPerBand, &total) ||
      __builtin_add_overflow(total, (rest ? BandBound(rest) : 0) + 6, &total))
    return 0;
  return total;
}

ImageData CompressImage(const CBmp& bitmap) {
  const bool alpha = bitmap.GetBitsPerPixel() != 8 && bitmap.HasAlpha();
  RowShape shape;
  if (!ShapeOf(bitmap.GetWidth(), bitmap.GetHeight(), bitmap.GetBitsPerPixel(), alpha, shape) ||
      !BandFits(shape))
    RaiseNoMemory();
  const size_t width = size_t(bitmap.GetWidth());
  const size_t height = size_t(bitmap.GetHeight());
  uint8_t* const* rows = bitmap.GetRowTable();

  // Everything that can fail to be had is had here, before any thread starts.
  std::unique_ptr<uint8_t[]> filtered = Allocate(shape.rawSize);
  const size_t rowsPerBand = RowsPerBand(shape);
  std::vector<Band> bands((height + rowsPerBand - 1) / rowsPerBand);
  for (size_t i = 0; i < bands.size(); ++i) {
    Band& band = bands[i];
    band.first = i * rowsPerBand;
    band.last = std::min(height, band.first + rowsPerBand);
    band.filtered = filtered.get() + band.first * (shape.rowBytes + 1);
    band.length = (band.last - band.first) * (shape.rowBytes + 1);
    if (shape.bpp != 1) band.work = Allocate(5 * shape.rowBytes);
    band.capacity = BandBound(band.length);
    band.deflated = Allocate(band.capacity);
    if (band.length <= kSmallBand) band.spare = Allocate(band.capacity);
  }

  // Every band is filtered before any is deflated: each one's dictionary is the filtered
  // end of the band before it.
  OnEveryCore(bands.size(), [&](size_t i) { FilterBand(bands[i], rows, width, shape, alpha); });
  OnEveryCore(bands.size(), [&](size_t i) {
    const size_t before = std::min<size_t>(kWindow, size_t(bands[i].filtered - filtered.get()));
    CompressBand(bands[i], bands[i].filtered - before, before, shape.bpp == 1,
                 i + 1 == bands.size());
  });

  size_t total = 6;
  bool runLengthsOnly = true;
  for (const Band& band : bands) {
    if (band.result == Z_MEM_ERROR) RaiseNoMemory();
    // Cannot happen with buffers of zlib's own bound; checked so it never passes silently.
    if (band.result != Z_OK)
      RaiseEncoderError(textexception::kFormatError, "compressed image data exceeds its bound");
    total += band.size;
    runLengthsOnly = runLengthsOnly && band.runLengthsOnly;
  }
  // The zlib stream: header (deflate, 32 KiB window, the level: fastest or default), the
  // pieces, the checksum.
  ImageData data{Allocate(total), total};
  uint8_t* out = data.bytes.get();
  *out++ = 0x78;
  *out++ = runLengthsOnly ? 0x01 : 0x9C;
  uLong adler = 1;
  for (const Band& band : bands) {
    std::memcpy(out, band.deflated.get(), band.size);
    out += band.size;
    adler = adler32_combine(adler, band.adler, z_off_t(band.length));
  }
  BigEndian32(uint32_t(adler), out);
  return data;
}

}  // namespace png
