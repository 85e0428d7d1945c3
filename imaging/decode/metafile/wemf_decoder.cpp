#include "imaging/decode/metafile/wemf_decoder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "imaging/core/win_bmp.h"
#include "imaging/decode/metafile/emf_player.h"
#include "imaging/decode/metafile/wmf_player.h"

namespace {

using metafile::CMetafileCanvas;

constexpr const char* kLoadFailed = "Windows Metafile functions failed to load this image.";

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
  // Reference pixels to picture pixels: the frame fills the picture.
  const double refW = double(frameW) * numX / denX;
  const double refH = double(frameH) * numY / denY;
  const double sx = refW > 0 ? p.width / refW : 1;
  const double sy = refH > 0 ? p.height / refH : 1;
  cairo_matrix_init(&p.frame, sx, 0, 0, sy, -double(h.frame[0]) * numX / denX * sx,
                    -double(h.frame[1]) * numY / denY * sy);
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

  SurfaceOwner surface{cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)};
  if (cairo_surface_status(surface.s) != CAIRO_STATUS_SUCCESS) {
    RaiseError(textexception::kNoMemory, "Cannot allocate memory bitmap.");
  }
  {
    CMetafileCanvas canvas(surface.s,
                           enhanced ? CMetafileCanvas::Kind::kEnhanced
                                    : CMetafileCanvas::Kind::kClassic,
                           picture.frame, picture.pixelsPerMm);
    if (enhanced) {
      metafile::PlayEmf(emf, canvas, GetMaxPixels());
    } else {
      metafile::PlayWmf(*wmf, canvas, GetMaxPixels());
    }
  }
  cairo_surface_flush(surface.s);
  const uint8_t* data = cairo_image_surface_get_data(surface.s);
  const size_t stride = static_cast<size_t>(cairo_image_surface_get_stride(surface.s));

  if (bppInOut == 32) {
    for (int y = 0; y < height; ++y) {
      const uint8_t* from = data + y * stride;
      uint8_t* to = bmp.GetRowTable()[y];
      for (int x = 0; x < width; ++x) {
        to[4 * x] = from[4 * x];
        to[4 * x + 1] = from[4 * x + 1];
        to[4 * x + 2] = from[4 * x + 2];
        to[4 * x + 3] = 255;
      }
    }
    return;
  }
  if (withPalette) {
    uint32_t lastColour = 0xFFFFFFFF, lastIndex = 0;  // runs of one colour are the rule
    for (int y = 0; y < height; ++y) {
      const uint8_t* from = data + y * stride;
      uint8_t* to = bmp.GetRowTable()[y];
      for (int x = 0; x < width; ++x) {
        uint32_t colour = uint32_t(from[4 * x]) | uint32_t(from[4 * x + 1]) << 8 |
                          uint32_t(from[4 * x + 2]) << 16;
        if (colour != lastColour) {
          lastColour = colour;
          lastIndex = bmp.ClosestPaletteEntry(colour);
        }
        to[x] = static_cast<uint8_t>(lastIndex);
      }
    }
    return;
  }
  // 8 bits asked of a picture without a palette: one computed for it.
  CWinBmp full;
  full.Create(width, height, 32, false);
  for (int y = 0; y < height; ++y) {
    const uint8_t* from = data + y * stride;
    uint8_t* to = full.GetRowTable()[y];
    std::copy(from, from + 4 * size_t(width), to);
    for (int x = 0; x < width; ++x) to[4 * x + 3] = 255;
  }
  bmp.CopyFrom(full, 8);
}
