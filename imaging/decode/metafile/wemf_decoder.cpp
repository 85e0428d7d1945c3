#include "imaging/decode/metafile/wemf_decoder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "imaging/core/palette_mapper.h"
#include "imaging/core/win_bmp.h"
#include "imaging/decode/metafile/emf_player.h"
#include "imaging/decode/metafile/wmf_player.h"

namespace {

using metafile::CMetafileCanvas;

constexpr const char* kLoadFailed = "Windows Metafile functions failed to load this image.";
// What CPaletteMapper holds at most (its cells and colour cache).
constexpr uint64_t kMapperBytes = uint64_t{1} << 20;

// The picture a metafile asks for and how its reference frame sits on it.
struct Picture {
  int64_t width = 0;
  int64_t height = 0;
  cairo_matrix_t frame{1, 0, 0, 1, 0, 0};
  double pixelsPerMm = 96 / 25.4;
};

void ApplyEmptyRule(Picture& p) {
  if (p.width < 1) p.width = CWEMFDecoder::kEmptyWidth;
  if (p.height < 1) p.height = CWEMFDecoder::kEmptyHeight;
}

Picture ClassicPicture(const metafile::WmfHeader& h) {
  Picture p;
  if (h.placeable) {
    // A box without units per inch has no size.
    if (h.unitsPerInch > 0) {
      p.width = int64_t{h.right - h.left} * CWEMFDecoder::kScreenPixelsPerInch / h.unitsPerInch;
      p.height = int64_t{h.bottom - h.top} * CWEMFDecoder::kScreenPixelsPerInch / h.unitsPerInch;
    }
  } else if (auto ext = metafile::FirstWindowExtent(h)) {
    double w = std::fabs(ext->x), hgt = std::fabs(ext->y);
    double side = std::max(w, hgt);
    if (side > CWEMFDecoder::kMaxWindowSide) {
      w = w * CWEMFDecoder::kMaxWindowSide / side;
      hgt = hgt * CWEMFDecoder::kMaxWindowSide / side;
    }
    p.width = static_cast<int64_t>(w);
    p.height = static_cast<int64_t>(hgt);
  }
  ApplyEmptyRule(p);
  return p;
}

Picture EnhancedPicture(const metafile::EmfHeader& h) {
  Picture p;
  // Reference device pixels per 0.01 mm, as num / den per axis; a device without a size
  // is taken as a 96 pixels-per-inch screen.
  auto scale = [](int32_t pixels, int32_t mm, int64_t& num, int64_t& den) {
    if (pixels > 0 && mm > 0) {
      num = pixels;
      den = int64_t{mm} * 100;
    } else {
      num = CWEMFDecoder::kScreenPixelsPerInch;
      den = 2540;
    }
  };
  int64_t numX, denX, numY, denY;
  scale(h.deviceCx, h.millimetresCx, numX, denX);
  scale(h.deviceCy, h.millimetresCy, numY, denY);
  const int64_t frameW = int64_t{h.frame[2]} - h.frame[0];
  const int64_t frameH = int64_t{h.frame[3]} - h.frame[1];
  p.width = frameW * numX / denX;
  p.height = frameH * numY / denY;
  ApplyEmptyRule(p);
  // Reference pixels to picture pixels: the frame fills the picture, as playing into a
  // rectangle does. A frame of no size on an axis gives way to the bounds (reference
  // pixels, both edges inside) there.
  double refX = double(h.frame[0]) * numX / denX;
  double refY = double(h.frame[1]) * numY / denY;
  double refW = double(frameW) * numX / denX;
  double refH = double(frameH) * numY / denY;
  if (!(refW > 0)) {
    refX = h.bounds[0];
    refW = double(h.bounds[2]) - h.bounds[0] + 1;
  }
  if (!(refH > 0)) {
    refY = h.bounds[1];
    refH = double(h.bounds[3]) - h.bounds[1] + 1;
  }
  const double sx = refW > 0 ? p.width / refW : 1;
  const double sy = refH > 0 ? p.height / refH : 1;
  cairo_matrix_init(&p.frame, sx, 0, 0, sy, -refX * sx, -refY * sy);
  p.pixelsPerMm = double(numX) * 100 / double(denX);
  return p;
}

// 256 entries: the file's first, the rest black; white last when the file has none.
void BuildPalette(const std::vector<RgbQuad>& entries, RgbQuad* out) {
  std::fill(out, out + CPicDecoder::kPaletteEntries, RgbQuad{0, 0, 0, 0});
  std::copy(entries.begin(), entries.end(), out);
  bool hasWhite = std::any_of(entries.begin(), entries.end(), [](const RgbQuad& q) {
    return q.red == 255 && q.green == 255 && q.blue == 255;
  });
  if (!hasWhite) out[CPicDecoder::kPaletteEntries - 1] = RgbQuad{255, 255, 255, 255};
}

struct SurfaceOwner {
  cairo_surface_t* s;
  ~SurfaceOwner() { cairo_surface_destroy(s); }
};

// Draws the records straight into the pixels of `target` (32 bits, opaque). Cairo draws
// top row first, the bitmap keeps its rows bottom-up: the rows are put in place after.
void Play(CBmp& target, const Picture& picture, bool enhanced, const metafile::EmfHeader& emf,
          const std::optional<metafile::WmfHeader>& wmf, CDecodeBudget& budget) {
  const int width = target.GetWidth();
  const int height = target.GetHeight();
  const size_t stride = target.GetRowStride();
  uint8_t* first = target.GetRowTable()[height - 1];
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(first, CAIRO_FORMAT_RGB24, width, height, int(stride));
  const SurfaceOwner owner{surface};
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
      stride != size_t(cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width))) {
    CPicDecoder::RaiseError(textexception::kNoMemory, "Cannot allocate memory bitmap.");
  }
  {
    CMetafileCanvas canvas(surface,
                           enhanced ? CMetafileCanvas::Kind::kEnhanced
                                    : CMetafileCanvas::Kind::kClassic,
                           picture.frame, picture.pixelsPerMm, budget);
    if (enhanced) {
      metafile::PlayEmf(emf, canvas);
    } else {
      metafile::PlayWmf(*wmf, canvas);
    }
  }
  cairo_surface_flush(surface);
  const auto opaque = [width](uint8_t* row) {
    for (int x = 0; x < width; ++x) row[4 * x + 3] = 255;
  };
  for (int y = 0; y < (height + 1) / 2; ++y) {
    uint8_t* top = first + size_t(y) * stride;
    uint8_t* bottom = first + size_t(height - 1 - y) * stride;
    if (top != bottom) {
      std::swap_ranges(top, top + stride, bottom);
      opaque(bottom);
    }
    opaque(top);
  }
}

}  // namespace

void CWEMFDecoder::DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut,
                              int& bppInOut, CDataSource& source) {
  paletteOut.reset();
  std::string name = source.GetName();
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const bool enhanced = name.find(".EMF") != std::string::npos;
  const std::span<const uint8_t> bytes = source.Rest();

  Picture picture;
  metafile::EmfHeader emf;
  std::optional<metafile::WmfHeader> wmf;
  std::vector<RgbQuad> entries;
  if (enhanced) {
    switch (metafile::ReadEmfHeader(bytes, emf)) {
      case metafile::EmfHeaderError::kNotEnhanced:
        RaiseError(textexception::kUnsupported, kLoadFailed);
      case metafile::EmfHeaderError::kNoHeader:
        RaiseError(textexception::kFormatError, "No header information in metafile");
      case metafile::EmfHeaderError::kNone: break;
    }
    picture = EnhancedPicture(emf);
    if (emf.paletteEntries >= 1 && emf.paletteEntries <= 255) {
      entries = metafile::ReadEmfPalette(emf, emf.paletteEntries);
    }
    Trace(2, "Enhanced metafile, %lld x %lld pixels.\n", static_cast<long long>(picture.width),
          static_cast<long long>(picture.height));
  } else {
    wmf = metafile::ReadWmfHeader(bytes);
    if (!wmf) RaiseError(textexception::kUnsupported, kLoadFailed);
    picture = ClassicPicture(*wmf);
    Trace(2, "Windows metafile, %lld x %lld pixels.\n", static_cast<long long>(picture.width),
          static_cast<long long>(picture.height));
  }
  const bool withPalette = !entries.empty();
  if (bppInOut == 0) bppInOut = withPalette ? 8 : 32;
  if (bppInOut != 8 && bppInOut != 32) {
    RaiseError(textexception::kUnsupported, "Metafile decoder: destination depth not supported.");
  }
  const int width = static_cast<int>(std::min<int64_t>(picture.width, INT32_MAX));
  const int height = static_cast<int>(std::min<int64_t>(picture.height, INT32_MAX));
  // The rendering is opaque: the bitmap carries no alpha.
  CreateBitmap(bmp, width, height, bppInOut, false, "Metafile decoder");
  if (withPalette) {
    paletteOut = std::make_unique<RgbQuad[]>(kPaletteEntries);
    BuildPalette(entries, paletteOut.get());
    if (bppInOut == 8) bmp.SetPalette(paletteOut.get());
  }

  CDecodeBudget budget(GetLimits());
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  budget.Spend(pixels, "Metafile decoder");  // the white background
  if (bppInOut == 32) {
    Play(bmp, picture, enhanced, emf, wmf, budget);
    return;
  }
  // An 8-bit result is drawn at 32 bits first; computing a palette for it (no palette in
  // the file) exports it once more at 3 bytes a pixel; the nearest-entry search keeps its
  // cells and cache.
  CBudgetReservation drawing(budget, pixels * (withPalette ? 4 : 7) + kMapperBytes,
                             "Metafile decoder: drawing for an 8-bit picture");
  CWinBmp full;
  full.Create(width, height, 32, false);
  Play(full, picture, enhanced, emf, wmf, budget);
  if (!withPalette) {
    bmp.CopyFrom(full, 8);
    return;
  }
  const CPaletteMapper mapper(bmp.GetPalette(), kPaletteEntries);
  for (int y = 0; y < height; ++y) {
    mapper.MapRow(full.GetRowTable()[y], 4, size_t(width), bmp.GetRowTable()[y]);
  }
}
