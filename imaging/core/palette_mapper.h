// CPaletteMapper: maps colours to the index of the nearest palette entry, with exactly the
// answer of a plain scan: distance |dR| + |dG| + |dB| (alpha ignored), starting from a best
// distance of 1000, an entry replacing the best only when strictly nearer (ties: lowest index).
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/core/dib.h"

class CPaletteMapper {
public:
  CPaletteMapper(const RgbQuad* palette, int entries);

  uint8_t Closest(uint8_t blue, uint8_t green, uint8_t red) const;

  // Maps `count` pixels whose blue, green, red bytes start every `pixelStep` bytes.
  void MapRow(const uint8_t* pixels, size_t pixelStep, size_t count, uint8_t* out) const;

private:
  RgbQuad palette_[256];
  int entries_;
};
