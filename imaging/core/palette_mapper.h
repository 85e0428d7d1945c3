// CPaletteMapper: maps colours to the index of the nearest palette entry, with exactly the
// answer of a plain scan: distance |dR| + |dG| + |dB| (alpha ignored), starting from a best
// distance of 1000, an entry replacing the best only when strictly nearer (ties: lowest index).
//
// Mapping a whole picture would cost 256 distances per pixel. After the first few hundred
// look-ups the mapper instead divides the colour cube into cells of 8 x 8 x 8 and gives each
// cell it meets the short list of entries that can be nearest to some colour inside it; a
// look-up then scans only that list, and answers are kept in a colour-keyed cache (about
// 1 MB with the cells). Results are identical to the plain scan, ties included.
// The lists are built lazily inside const calls: one mapper must not be used from two
// threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/core/dib.h"

class CPaletteMapper {
public:
  CPaletteMapper(const RgbQuad* palette, int entries);
  ~CPaletteMapper();
  CPaletteMapper(const CPaletteMapper& other);
  CPaletteMapper& operator=(const CPaletteMapper& other);

  uint8_t Closest(uint8_t blue, uint8_t green, uint8_t red) const;

  // Maps `count` pixels whose blue, green, red bytes start every `pixelStep` bytes.
  void MapRow(const uint8_t* pixels, size_t pixelStep, size_t count, uint8_t* out) const;

private:
  struct Grid;

  uint8_t Scan(int blue, int green, int red) const;
  bool UseGrid(size_t lookups) const;

  RgbQuad palette_[256];
  int entries_;
  mutable std::unique_ptr<Grid> grid_;
  mutable size_t plainLookups_ = 0;
};
