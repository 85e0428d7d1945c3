#include "imaging/decode/metafile/metafile_dib.h"

#include <vector>

#include "imaging/core/win_bmp.h"
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

}  // namespace

SurfacePtr DibToSurface(std::span<const uint8_t> info, std::span<const uint8_t> bits,
                        uint64_t maxPixels) {
  const size_t infoSize = bits.empty() ? InfoSize(info) : info.size();
  if (infoSize == 0 || infoSize > info.size()) return nullptr;
  // A BMP file around the DIB: file header, then the block as it stands.
  std::vector<uint8_t> file(14);
  file[0] = 'B';
  file[1] = 'M';
  PutLe32(file, 10, static_cast<uint32_t>(14 + infoSize));
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), bits.begin(), bits.end());
  if (file.size() > INT32_MAX) return nullptr;
  PutLe32(file, 2, static_cast<uint32_t>(file.size()));

  CWinBmp bmp;
  try {
    CBmpDecoder decoder;
    decoder.SetMaxPixels(maxPixels);
    CMemSource source("metafile bitmap", file);
    decoder.DecodeSource(source, bmp, 32);
  } catch (const CTextException&) {
    return nullptr;
  }
  const int w = bmp.GetWidth();
  const int h = bmp.GetHeight();
  SurfacePtr surface = AdoptSurface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_flush(surface.get());
  uint8_t* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (int y = 0; y < h; ++y) {
    const uint8_t* from = bmp.GetRowTable()[y];
    uint8_t* to = data + static_cast<size_t>(y) * stride;
    for (int x = 0; x < w; ++x) {
      to[4 * x] = from[4 * x];
      to[4 * x + 1] = from[4 * x + 1];
      to[4 * x + 2] = from[4 * x + 2];
      to[4 * x + 3] = 255;
    }
  }
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

double DibSourceTop(std::span<const uint8_t> info, double sy, double sh) {
  ByteCursor c(info);
  c.Skip(8);
  const int32_t height = static_cast<int32_t>(c.Le32());
  return height > 0 ? height - sy - sh : sy;
}

}  // namespace metafile
