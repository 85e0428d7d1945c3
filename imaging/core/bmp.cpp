#include "imaging/core/bmp.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/core/color_quantify.h"
#include "imaging/core/memory_exception.h"
#include "imaging/core/palette_mapper.h"

namespace {

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using MallocBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

constexpr RgbQuad kWhite{255, 255, 255, 255};
constexpr RgbQuad kBlack{0, 0, 0, 255};

bool IsPaletted(uint16_t bitsPerPixel) { return bitsPerPixel < 16; }

}  // namespace

CBmp::CBmp() = default;
CBmp::~CBmp() = default;

void CBmp::Create(int width, int height, uint16_t bitsPerPixel, bool hasAlpha) {
  ReleaseStorage();
  AllocateStorage(width, height, bitsPerPixel, hasAlpha);
}

void CBmp::Clear() { ReleaseStorage(); }

uint8_t* CBmp::ExportBgr24(bool, size_t*) const { return nullptr; }
uint8_t* CBmp::ExportRgb24(bool, size_t*) const { return nullptr; }
uint8_t* CBmp::ExportPacked(bool, size_t*) const { return nullptr; }

void CBmp::SetEncodeOptions(const EncodeOptions* record) {
  if (record == nullptr) {
    encodeOptions_.reset();
    return;
  }
  if (!encodeOptions_) encodeOptions_ = std::make_unique<EncodeOptions>();
  std::memcpy(encodeOptions_.get(), record, sizeof(EncodeOptions));
}

bool CBmp::ConvertToGrey() { return false; }

void CBmp::SetPalette(const RgbQuad* entries) {
  if (palette_ == nullptr || entries == nullptr || !IsPaletted(bitsPerPixel_)) return;
  std::memmove(palette_, entries, sizeof(RgbQuad) * dib::PaletteEntries(bitsPerPixel_));
}

void CBmp::SetGreyRamp() {
  if (palette_ == nullptr || !IsPaletted(bitsPerPixel_)) return;
  const uint32_t n = dib::PaletteEntries(bitsPerPixel_);
  const uint32_t step = n > 1 ? 255 / (n - 1) : 0;
  for (uint32_t i = 0; i < n; ++i) {
    const auto grey = static_cast<uint8_t>(step * i);
    palette_[i] = RgbQuad{grey, grey, grey, 255};
  }
}

uint32_t CBmp::ClosestPaletteEntry(uint32_t colour) const {
  if (!IsPaletted(bitsPerPixel_)) return colour;
  const int blue = colour & 0xFF;
  const int green = (colour >> 8) & 0xFF;
  const int red = (colour >> 16) & 0xFF;
  if (palette_ == nullptr) {
    const int sum = red + green + blue;
    return (765 - sum) < sum ? 1 : 0;
  }
  const uint32_t n = dib::PaletteEntries(bitsPerPixel_);
  int best = 1000;
  uint32_t bestIndex = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const int d = std::abs(palette_[i].red - red) + std::abs(palette_[i].green - green) +
                  std::abs(palette_[i].blue - blue);
    if (d < best) {
      best = d;
      bestIndex = i;
    }
  }
  return bestIndex;
}

void CBmp::FinishCreate(int width, int height, uint16_t bitsPerPixel, bool hasAlpha) {
  width_ = width;
  height_ = height;
  bitsPerPixel_ = bitsPerPixel;
  hasAlpha_ = hasAlpha;
  BuildRowTable();
  if (IsPaletted(bitsPerPixel)) SetGreyRamp();
}

void CBmp::ResetDescription() {
  width_ = 0;
  height_ = 0;
  bitsPerPixel_ = 0;
  hasAlpha_ = false;
  palette_ = nullptr;
  bits_ = nullptr;
  rowTable_.reset();
}

uint32_t CBmp::PixelIndex(const uint8_t* row, int x, uint16_t bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 2: return (row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
    case 8: return row[x];
    default: return 0;
  }
}

RgbQuad CBmp::PaletteColour(const RgbQuad* palette, uint16_t bitsPerPixel, uint32_t index) {
  if (palette != nullptr) return palette[index];
  if (bitsPerPixel == 1) return index != 0 ? kBlack : kWhite;
  const uint32_t n = dib::PaletteEntries(bitsPerPixel);
  const auto grey = static_cast<uint8_t>(255 / (n - 1) * index);
  return RgbQuad{grey, grey, grey, 255};
}

RgbQuad CBmp::PixelColour(const uint8_t* row, int x, uint16_t bitsPerPixel,
                          const RgbQuad* palette) {
  switch (bitsPerPixel) {
    case 32: {
      const uint8_t* p = row + 4 * size_t(x);
      return RgbQuad{p[0], p[1], p[2], p[3]};
    }
    case 24: {
      const uint8_t* p = row + 3 * size_t(x);
      return RgbQuad{p[0], p[1], p[2], 0};
    }
    case 16: {
      const unsigned v = row[2 * size_t(x)] | (row[2 * size_t(x) + 1] << 8);
      const auto expand = [](unsigned five) { return static_cast<uint8_t>(five << 3 | five >> 2); };
      return RgbQuad{expand(v & 31), expand((v >> 5) & 31), expand((v >> 10) & 31), 0};
    }
    default:
      return PaletteColour(palette, bitsPerPixel, PixelIndex(row, x, bitsPerPixel));
  }
}

void CBmp::CopyFrom(CBmp& source, uint16_t bitsPerPixelWanted) {
  const uint16_t sourceDepth = source.GetBitsPerPixel();
  if (bitsPerPixelWanted != 0 && bitsPerPixelWanted != sourceDepth) {
    // A conversion from this very bitmap would free its own source; CWinBmp routes that case
    // through a temporary copy.
    if (&source == this) return;
    if (source.GetRowTable() == nullptr) {
      Clear();
      return;
    }
    const bool alpha = bitsPerPixelWanted == 1 ? false : source.HasAlpha();
    Create(source.GetWidth(), source.GetHeight(), bitsPerPixelWanted, alpha);
    switch (bitsPerPixelWanted) {
      case 1: ConvertTo1(source); break;
      case 8: ConvertTo8(source); break;
      case 32: ConvertTo32(source); break;
      default: break;  // created, left unfilled
    }
    return;
  }

  if (&source == this) return;
  if (source.GetRowTable() == nullptr) {
    Clear();
    return;
  }
  Create(source.GetWidth(), source.GetHeight(), sourceDepth, source.HasAlpha());
  const size_t stride = GetRowStride();
  uint8_t* const* from = source.GetRowTable();
  for (int y = 0; y < height_; ++y) std::memcpy(rowTable_[y], from[y], stride);
  if (IsPaletted(sourceDepth) && source.GetPalette() != nullptr) SetPalette(source.GetPalette());
}

void CBmp::ConvertTo1(const CBmp& source) {
  palette_[0] = kWhite;
  palette_[1] = kBlack;
  const uint16_t depth = source.GetBitsPerPixel();
  const RgbQuad* sourcePalette = source.GetPalette();
  const size_t stride = GetRowStride();
  for (int y = 0; y < height_; ++y) {
    const uint8_t* in = source.GetRowTable()[y];
    uint8_t* out = rowTable_[y];
    std::memset(out, 0, stride);
    for (int x = 0; x < width_; ++x) {
      const RgbQuad c = PixelColour(in, x, depth, sourcePalette);
      if (c.red < 128 && c.green < 128 && c.blue < 128) out[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
  }
}

void CBmp::ConvertTo8(const CBmp& source) {
  const uint16_t depth = source.GetBitsPerPixel();
  if (IsPaletted(depth)) {
    // The source's own colours (entries it does not have keep the grey ramp); indices stay.
    const uint32_t n = dib::PaletteEntries(depth);
    for (uint32_t i = 0; i < n; ++i) {
      palette_[i] = PaletteColour(source.GetPalette(), depth, i);
      palette_[i].reserved = 255;
    }
    for (int y = 0; y < height_; ++y) {
      const uint8_t* in = source.GetRowTable()[y];
      uint8_t* out = rowTable_[y];
      for (int x = 0; x < width_; ++x) out[x] = static_cast<uint8_t>(PixelIndex(in, x, depth));
    }
    return;
  }

  // True colour: the quantiser gets blue, green, red only (whatever the alpha flag says),
  // bottom row first; the same buffer then serves the mapping.
  if (width_ == 0 || height_ == 0) return;
  size_t size = 0;
  MallocBuffer pixels(source.ExportBgr24(true, &size));
  if (!pixels) {
    ReleaseStorage();
    throw CMemoryException();
  }
  try {
    CColorQuantify quantiser(pixels.get(), size);
    quantiser.SetQuality(0);
    if (const uint32_t* packed = quantiser.GetPalette(nullptr)) {
      RgbQuad entries[256];
      for (int i = 0; i < 256; ++i) {
        entries[i] = RgbQuad{uint8_t(packed[i]), uint8_t(packed[i] >> 8), uint8_t(packed[i] >> 16),
                             255};
      }
      SetPalette(entries);
    }
  } catch (...) {
    // The pixels were never filled: do not hand out an undefined picture.
    ReleaseStorage();
    throw;
  }
  const CPaletteMapper mapper(palette_, 256);
  const size_t rowBytes = size_t(width_) * 3;
  for (int y = 0; y < height_; ++y) {
    const uint8_t* in = pixels.get() + size_t(height_ - 1 - y) * rowBytes;
    mapper.MapRow(in, 3, size_t(width_), rowTable_[y]);
  }
}

void CBmp::ConvertTo32(const CBmp& source) {
  const uint16_t depth = source.GetBitsPerPixel();
  const RgbQuad* sourcePalette = source.GetPalette();
  for (int y = 0; y < height_; ++y) {
    const uint8_t* in = source.GetRowTable()[y];
    auto* out = reinterpret_cast<RgbQuad*>(rowTable_[y]);
    if (depth == 8 && sourcePalette != nullptr) {
      for (int x = 0; x < width_; ++x) out[x] = sourcePalette[in[x]];
    } else {
      for (int x = 0; x < width_; ++x) out[x] = PixelColour(in, x, depth, sourcePalette);
    }
  }
}
