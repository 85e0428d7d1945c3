#include "imaging/decode/tiff_decoder.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct HandleGuard {
  TIFF* tif;
  ~HandleGuard() { TIFFClose(tif); }
};

struct RgbaGuard {
  TIFFRGBAImage* image;
  ~RgbaGuard() { TIFFRGBAImageEnd(image); }
};

// Whether the bitmap's 32-bit rows lie back to back, bottom row first: the layout of the
// raster libtiff's RGBA reader writes, which then needs no raster of its own.
bool RowsFormBottomUpRaster(const CBmp& bmp) {
  const int height = bmp.GetHeight();
  const size_t stride = size_t(bmp.GetWidth()) * 4;
  if (bmp.GetRowStride() != stride) return false;
  uint8_t** rows = bmp.GetRowTable();
  const uint8_t* bottom = rows[height - 1];
  for (int i = 0; i < height; ++i) {
    if (rows[i] != bottom + size_t(height - 1 - i) * stride) return false;
  }
  return true;
}

// libtiff's raster pixels are red, green, blue, alpha in memory; ours blue, green, red, alpha.
// Done on whole 32-bit words so the compiler can vectorise it.
void SwapRedBlue(uint8_t* pixels, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint32_t p;
    std::memcpy(&p, pixels + 4 * i, 4);
    p = (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
    std::memcpy(pixels + 4 * i, &p, 4);
  }
}

// Widens packed samples of `bits` bits (most significant first) to one byte each.
void Unpack(const uint8_t* in, uint8_t* out, int width, int bits) {
  const unsigned mask = (1u << bits) - 1;
  if (bits == 4) {
    for (int x = 0; x + 1 < width; x += 2, ++in) {
      out[x] = *in >> 4;
      out[x + 1] = *in & 0x0F;
    }
    if (width & 1) out[width - 1] = *in >> 4;
    return;
  }
  size_t bitPos = 0;
  for (int x = 0; x < width; ++x, bitPos += bits) {
    // Two bytes always cover a sample of at most 8 bits.
    size_t byte = bitPos / 8;
    unsigned pair = unsigned(in[byte]) << 8;
    if ((bitPos % 8) + bits > 8) pair |= in[byte + 1];
    out[x] = static_cast<uint8_t>((pair >> (16 - bits - bitPos % 8)) & mask);
  }
}

}  // namespace

void CTIFFDecoder::DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut,
                              int& bppInOut, CDataSource& source) {
  messages_.Clear();
  std::span<const uint8_t> data = source.Rest();
  TIFF* tif = tiffmemsource::OpenRead(data.data(), data.size(), &messages_);
  if (tif == nullptr) RaiseError(textexception::kWrongSignature, messages_.Text());
  HandleGuard guard{tif};
  DecodeTiffImage(bmp, paletteOut, bppInOut, source, tif);
}

void CTIFFDecoder::DecodeTiffImage(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut,
                                   int& bppInOut, CDataSource&, tiff* tif) {
  uint16_t bitsPerSample = 1;
  uint16_t samplesPerPixel = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
  if (samplesPerPixel != 1 || bitsPerSample > 8 || bitsPerSample == 0 || bppInOut == 32 ||
      TIFFIsTiled(tif)) {
    DoHiColor(bmp, bppInOut, tif);
  } else {
    DoLoColor(bmp, paletteOut, bppInOut, tif);
  }
}

namespace {

// Plain 8-bit RGB in strips, top row first: the common layout, read strip by strip straight
// into blue-green-red rows instead of through libtiff's RGBA raster and a second pass.
bool IsPlainRgb(TIFF* tif) {
  uint16_t bits = 0, samples = 0, photometric = 0, planar = 0, orientation = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  uint32_t width = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  return TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) &&
         photometric == PHOTOMETRIC_RGB && bits == 8 && samples == 3 &&
         planar == PLANARCONFIG_CONTIG && orientation == ORIENTATION_TOPLEFT &&
         !TIFFIsTiled(tif) && TIFFScanlineSize(tif) == tmsize_t(width) * 3 &&
         TIFFStripSize(tif) >= TIFFScanlineSize(tif);
}

enum class StripResult { kDone, kFirstStripFailed, kNoMemory };

// One line of 8-bit RGB into blue, green, red, 255.
void RgbToBgra(const uint8_t* in, int width, uint8_t* out) {
  for (int x = 0; x < width; ++x, in += 3, out += 4) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    out[3] = 255;
  }
}

// As libtiff's RGBA reader does, a first strip that cannot be read fails the picture; later
// ones leave their rows black (rather than showing stale memory). A strip over the memory
// limit is read a line at a time instead.
StripResult ReadRgbStrips(TIFF* tif, uint8_t** rows, int width, int height,
                          CDecodeBudget& budget) {
  uint32_t rowsPerStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, uint32_t(height));
  const size_t lineBytes = size_t(width) * 3;
  const tmsize_t stripSize = TIFFStripSize(tif);
  if (stripSize <= 0 || size_t(stripSize) < lineBytes) return StripResult::kFirstStripFailed;
  if (!budget.TryReserve(uint64_t(stripSize))) {
    CBudgetReservation line(budget, lineBytes, "TIFF decoder: line buffer");
    std::vector<uint8_t> buffer(lineBytes);
    for (int y = 0; y < height; ++y) {
      if (TIFFReadScanline(tif, buffer.data(), uint32_t(y), 0) < 0) {
        if (y == 0) return StripResult::kFirstStripFailed;
        for (int rest = y; rest < height; ++rest) std::memset(rows[rest], 0, size_t(width) * 4);
        break;
      }
      RgbToBgra(buffer.data(), width, rows[y]);
    }
    return StripResult::kDone;
  }
  std::unique_ptr<uint8_t[]> strip(new (std::nothrow) uint8_t[size_t(stripSize)]);
  if (strip == nullptr) return StripResult::kNoMemory;
  for (uint32_t first = 0, index = 0; first < uint32_t(height); first += rowsPerStrip, ++index) {
    const uint32_t count = std::min(rowsPerStrip, uint32_t(height) - first);
    const size_t wanted = std::min(size_t(stripSize), lineBytes * count);
    tmsize_t got = TIFFReadEncodedStrip(tif, index, strip.get(), tmsize_t(wanted));
    if (got < 0) {
      if (index == 0) return StripResult::kFirstStripFailed;
      got = 0;
    }
    std::memset(strip.get() + got, 0, size_t(stripSize) - size_t(got));
    for (uint32_t r = 0; r < count && size_t(r + 1) * lineBytes <= size_t(stripSize); ++r) {
      RgbToBgra(strip.get() + r * lineBytes, width, rows[first + r]);
    }
  }
  return StripResult::kDone;
}

}  // namespace

void CTIFFDecoder::DoHiColor(CBmp& bmp, int& bppInOut, tiff* tif) {
  bppInOut = 32;
  if (IsPlainRgb(tif)) {
    uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    CreateBitmap(bmp, static_cast<int>(std::min<uint32_t>(width, INT32_MAX)),
                 static_cast<int>(std::min<uint32_t>(height, INT32_MAX)), 32, false,
                 "TIFF decoder");
    CDecodeBudget budget(GetLimits());
    switch (ReadRgbStrips(tif, bmp.GetRowTable(), bmp.GetWidth(), bmp.GetHeight(), budget)) {
      case StripResult::kDone:
        return;
      case StripResult::kFirstStripFailed:
        RaiseError(textexception::kWrongSignature, messages_.Text());
      case StripResult::kNoMemory:
        RaiseError(textexception::kNoMemory, "Out of memory allocating TIFF buffer.");
    }
    return;
  }
  char reason[1024] = {};
  TIFFRGBAImage image;
  if (!TIFFRGBAImageOK(tif, reason) || !TIFFRGBAImageBegin(&image, tif, 0, reason)) {
    if (messages_.error.empty()) messages_.error = reason;
    RaiseError(textexception::kWrongSignature, messages_.Text());
  }
  RgbaGuard rgbaGuard{&image};
  // libtiff's reader holds a whole strip or tile at a time.
  CDecodeBudget budget(GetLimits());
  CBudgetReservation strip(budget, TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif),
                           "TIFF decoder: strip or tile");
  const int width = static_cast<int>(std::min<uint32_t>(image.width, INT32_MAX));
  const int height = static_cast<int>(std::min<uint32_t>(image.height, INT32_MAX));
  CreateBitmap(bmp, width, height, 32, image.alpha != 0, "TIFF decoder");

  const size_t pixels = size_t(width) * size_t(height);
  uint8_t** rows = bmp.GetRowTable();
  if (RowsFormBottomUpRaster(bmp)) {
    uint8_t* raster = rows[height - 1];
    // Parts of the picture libtiff cannot read are left alone by it: make them black.
    std::memset(raster, 0, pixels * 4);
    if (!TIFFRGBAImageGet(&image, reinterpret_cast<uint32_t*>(raster), image.width,
                          image.height)) {
      RaiseError(textexception::kWrongSignature, messages_.Text());
    }
    SwapRedBlue(raster, pixels);
    return;
  }
  std::unique_ptr<uint32_t[]> raster(new (std::nothrow) uint32_t[pixels]());
  if (raster == nullptr) {
    RaiseError(textexception::kNoMemory, "Out of memory allocating TIFF buffer.");
  }
  if (!TIFFRGBAImageGet(&image, raster.get(), image.width, image.height)) {
    RaiseError(textexception::kWrongSignature, messages_.Text());
  }
  for (int i = 0; i < height; ++i) {
    auto* from = reinterpret_cast<uint8_t*>(raster.get() + size_t(height - 1 - i) * width);
    std::memcpy(rows[i], from, size_t(width) * 4);
    SwapRedBlue(rows[i], size_t(width));
  }
}

void CTIFFDecoder::DoLoColor(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut,
                             int& bppInOut, tiff* tif) {
  uint32_t width = 0;
  uint32_t length = 0;
  uint16_t bits = 1;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  const tmsize_t scanlineSize = TIFFScanlineSize(tif);

  const int depth = bits == 1 ? 1 : 8;
  bppInOut = depth;
  const int w = static_cast<int>(std::min<uint32_t>(width, INT32_MAX));
  const int h = static_cast<int>(std::min<uint32_t>(length, INT32_MAX));
  CreateBitmap(bmp, w, h, depth, false, "TIFF decoder");

  // The scan line must hold the whole row of packed samples.
  if (scanlineSize <= 0 || uint64_t(scanlineSize) * 8 < uint64_t(w) * bits) {
    RaiseError(textexception::kInternal, messages_.Text());
  }

  // 256 entries whatever the sample size: SetPalette copies a full 8-bit table.
  paletteOut.reset(new (std::nothrow) RgbQuad[kPaletteEntries]());
  if (paletteOut == nullptr) {
    RaiseError(textexception::kNoMemory, "Out of memory allocating TIFF palette.");
  }
  std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[size_t(scanlineSize)]());
  if (line == nullptr) {
    RaiseError(textexception::kNoMemory, "Out of memory allocating TIFF buffer.");
  }

  const int entries = 1 << bits;
  const int step = 255 / (entries - 1);
  RgbQuad* palette = paletteOut.get();
  bool paletteSet = true;
  switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
      for (int i = 0; i < entries; ++i) {
        int level = photometric == PHOTOMETRIC_MINISBLACK ? i : entries - 1 - i;
        auto v = static_cast<uint8_t>(step * level);
        palette[i] = RgbQuad{v, v, v, 0};
      }
      break;
    case PHOTOMETRIC_PALETTE: {
      uint16_t* red = nullptr;
      uint16_t* green = nullptr;
      uint16_t* blue = nullptr;
      if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) {
        RaiseError(textexception::kFormatError, messages_.Text());
      }
      bool wide = false;
      for (int i = 0; i < entries; ++i) wide |= red[i] > 255 || green[i] > 255 || blue[i] > 255;
      const int shift = wide ? 8 : 0;
      for (int i = 0; i < entries; ++i) {
        palette[i] = RgbQuad{static_cast<uint8_t>(blue[i] >> shift),
                             static_cast<uint8_t>(green[i] >> shift),
                             static_cast<uint8_t>(red[i] >> shift), 0};
      }
      break;
    }
    default:
      Trace(2, "unexpected PhotometricInterpretation in CTIFFDecoder::DoLoColor()");
      paletteSet = false;
      break;
  }

  uint8_t** rows = bmp.GetRowTable();
  for (int y = 0; y < h; ++y) {
    if (TIFFReadScanline(tif, line.get(), static_cast<uint32_t>(y), 0) < 0 && y < h / 3) {
      RaiseError(textexception::kInternal, messages_.Text());
    }
    if (bits == 8) {
      std::memcpy(rows[y], line.get(), size_t(w));
    } else if (bits == 1) {
      std::memcpy(rows[y], line.get(), (size_t(w) + 7) / 8);
    } else {
      Unpack(line.get(), rows[y], w, bits);
    }
  }
  if (paletteSet) bmp.SetPalette(palette);
}
