#include "imaging/decode/metafile/metafile_dib.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "imaging/core/win_bmp.h"
#include "imaging/core/trace.h"
#include "imaging/decode/bmp_decoder.h"

namespace metafile {
namespace {

constexpr uint32_t kInfoHeaderSize = 40;

void PutLe32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Bytes of header and colour table in front of the pixels of a packed DIB; 0 when the
// header is not one the BMP decoder reads.
size_t InfoSize(std::span<const uint8_t> info) {
  ByteCursor c(info);
  if (c.Le32() != kInfoHeaderSize) return 0;
  c.Skip(10);
  const uint16_t bpp = c.Le16();
  c.Skip(16);
  const uint32_t used = c.Le32();
  if (c.RanDry()) return 0;
  uint64_t colours = bpp <= 8 ? (used != 0 ? used : 1u << bpp) : 0;
  if (colours > 256) return 0;
  return kInfoHeaderSize + 4 * colours;
}

// A decoded bitmap that a surface draws from, and its share of the budget.
struct HeldBitmap {
  explicit HeldBitmap(CDecodeBudget& b) : budget(b) {}
  ~HeldBitmap() { budget.Release(reserved); }
  HeldBitmap(const HeldBitmap&) = delete;
  HeldBitmap& operator=(const HeldBitmap&) = delete;

  bool Reserve(uint64_t bytes) {
    if (!budget.TryReserve(bytes)) return false;
    reserved = bytes;
    return true;
  }
  // Gives back what decoding needed beyond the pixels.
  void Keep(uint64_t bytes) {
    budget.Release(reserved - bytes);
    reserved = bytes;
  }

  CDecodeBudget& budget;
  uint64_t reserved = 0;
  CWinBmp bmp;
};

const cairo_user_data_key_t kHeldBitmapKey{};

// A surface over the bitmap's own pixels, which owns the bitmap: the rows are put in
// top-down order in place, so the pixels are never held twice.
SurfacePtr WrapRows(std::unique_ptr<HeldBitmap> held) {
  CWinBmp& bmp = held->bmp;
  const int w = bmp.GetWidth();
  const int h = bmp.GetHeight();
  const size_t stride = bmp.GetRowStride();
  if (stride != size_t(cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, w))) return nullptr;
  uint8_t* first = bmp.GetRowTable()[h - 1];  // rows are stored bottom-up
  for (int y = 0; y < h / 2; ++y) {
    std::swap_ranges(first + y * stride, first + (y + 1) * stride, first + (h - 1 - y) * stride);
  }
  cairo_surface_t* s =
      cairo_image_surface_create_for_data(first, CAIRO_FORMAT_RGB24, w, h, int(stride));
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_set_user_data(s, &kHeldBitmapKey, held.get(), [](void* p) {
        delete static_cast<HeldBitmap*>(p);
      }) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  held.release();  // the surface owns it now
  return AdoptSurface(s);
}

}  // namespace

SurfacePtr DibToSurface(std::span<const uint8_t> info, std::span<const uint8_t> bits,
                        CDecodeBudget& budget) {
  const size_t infoSize = bits.empty() ? InfoSize(info) : info.size();
  if (infoSize == 0 || infoSize > info.size()) return nullptr;
  // The pixels are counted before anything is made: a few bytes of run-length data can
  // declare a bitmap of gigabytes.
  ByteCursor header(info);
  header.Skip(4);
  const int64_t width = static_cast<int32_t>(header.Le32());
  const int64_t height = static_cast<int32_t>(header.Le32());
  const uint64_t pixelBytes = uint64_t(std::llabs(width)) * uint64_t(std::llabs(height)) * 4;
  // A BMP file around the DIB: file header, then the block as it stands.
  const uint64_t fileBytes = 14 + uint64_t(info.size()) + bits.size();
  if (fileBytes > INT32_MAX) return nullptr;
  auto held = std::make_unique<HeldBitmap>(budget);
  if (!held->Reserve(pixelBytes + fileBytes)) {
    Trace(2, "Metafile decoder: bitmap of %lld x %lld pixels skipped, over the memory limit "
             "of %llu bytes.\n",
          static_cast<long long>(width), static_cast<long long>(height),
          static_cast<unsigned long long>(budget.Limits().maxMemory));
    return nullptr;
  }
  try {
    std::vector<uint8_t> file(14);
    file[0] = 'B';
    file[1] = 'M';
    PutLe32(file, 2, static_cast<uint32_t>(fileBytes));
    PutLe32(file, 10, static_cast<uint32_t>(14 + infoSize));
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), bits.begin(), bits.end());
    CBmpDecoder decoder;
    decoder.SetLimits(budget.Limits());
    CMemSource source("metafile bitmap", file);
    decoder.DecodeSource(source, held->bmp, 32);
  } catch (const CTextException&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;  // the record is skipped like a damaged one; the picture goes on
  }
  held->Keep(pixelBytes);
  return WrapRows(std::move(held));
}

double DibSourceTop(std::span<const uint8_t> info, double sy, double sh) {
  ByteCursor c(info);
  c.Skip(8);
  const int32_t height = static_cast<int32_t>(c.Le32());
  return height > 0 ? height - sy - sh : sy;
}

}  // namespace metafile
