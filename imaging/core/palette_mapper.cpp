#include "imaging/core/palette_mapper.h"

#include <algorithm>
#include <cstdlib>

CPaletteMapper::CPaletteMapper(const RgbQuad* palette, int entries)
    : entries_(std::clamp(entries, 0, 256)) {
  std::copy(palette, palette + entries_, palette_);
}

uint8_t CPaletteMapper::Closest(uint8_t blue, uint8_t green, uint8_t red) const {
  int best = 1000;
  int bestIndex = 0;
  for (int i = 0; i < entries_; ++i) {
    const int d = std::abs(palette_[i].red - red) + std::abs(palette_[i].green - green) +
                  std::abs(palette_[i].blue - blue);
    if (d < best) {
      best = d;
      bestIndex = i;
    }
  }
  return static_cast<uint8_t>(bestIndex);
}

void CPaletteMapper::MapRow(const uint8_t* pixels, size_t pixelStep, size_t count,
                            uint8_t* out) const {
  for (size_t i = 0; i < count; ++i, pixels += pixelStep) out[i] = Closest(pixels[0], pixels[1], pixels[2]);
}
