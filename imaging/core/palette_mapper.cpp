#include "imaging/core/palette_mapper.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kCellBits = 3;                         // cells of 8 x 8 x 8 colours
constexpr int kCellSize = 1 << kCellBits;
constexpr int kCellsPerAxis = 256 / kCellSize;
constexpr int kCells = kCellsPerAxis * kCellsPerAxis * kCellsPerAxis;
// A few hundred single look-ups cost less than building cells; a picture amortises them.
constexpr size_t kPlainLookupLimit = 512;
// With this few entries a plain scan is as fast as any list.
constexpr int kSmallPalette = 16;
// Answers already found, by colour: a photograph repeats each of its colours many times, but
// rarely in neighbouring pixels. 2^17 slots hold the working set of a large picture.
constexpr int kCacheBits = 17;
constexpr uint32_t kNoColour = 0xFFFFFFFF;  // above every 24-bit colour

// One candidate as the inner loop wants it: the colour and its index in four bytes.
struct Candidate {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  uint8_t index;
};

int Distance(const Candidate& c, int blue, int green, int red) {
  return std::abs(c.red - red) + std::abs(c.green - green) + std::abs(c.blue - blue);
}

// Per component: the nearest and farthest a colour within [lo, lo + 7] can be from v.
int NearestOffset(int v, int lo) {
  if (v < lo) return lo - v;
  if (v > lo + kCellSize - 1) return v - (lo + kCellSize - 1);
  return 0;
}

int FarthestOffset(int v, int lo) { return std::max(v - lo, lo + kCellSize - 1 - v); }

}  // namespace

// Why a cell's list gives the plain scan's answer: let m be the smallest, over all entries,
// of the farthest distance from the entry to any colour of the cell. For a colour p in the
// cell the nearest distance D is at most m (the entry that gives m is no farther than that).
// Every entry at distance D from p lies no farther than D from the cell, so it is kept by
// the rule "nearest distance to the cell <= m". Entries repeating an earlier entry's colour
// are left out: the earlier one is exactly as near and wins the tie. Among the list, the
// smallest (distance, index) pair is the plain scan's answer.
struct CPaletteMapper::Grid {
  struct Cell {
    uint32_t start = 0;
    uint16_t count = 0;  // 0: not built yet (a built cell has at least one entry)
  };
  std::vector<Cell> cells = std::vector<Cell>(kCells);
  std::vector<Candidate> candidates;
  std::vector<uint32_t> cachedColour = std::vector<uint32_t>(size_t{1} << kCacheBits, kNoColour);
  std::vector<uint8_t> cachedIndex = std::vector<uint8_t>(size_t{1} << kCacheBits);
  Candidate unique[256];
  int uniqueCount = 0;

  explicit Grid(const RgbQuad* palette, int entries) {
    for (int i = 0; i < entries; ++i) {
      const RgbQuad& e = palette[i];
      bool repeated = false;
      for (int k = 0; k < uniqueCount && !repeated; ++k) {
        repeated = unique[k].blue == e.blue && unique[k].green == e.green && unique[k].red == e.red;
      }
      if (!repeated) unique[uniqueCount++] = Candidate{e.blue, e.green, e.red, uint8_t(i)};
    }
    candidates.reserve(4096);
  }

  const Cell& CellOf(int blue, int green, int red) {
    const int cb = blue >> kCellBits;
    const int cg = green >> kCellBits;
    const int cr = red >> kCellBits;
    Cell& cell = cells[(cr * kCellsPerAxis + cg) * kCellsPerAxis + cb];
    if (cell.count == 0) Build(cell, cb << kCellBits, cg << kCellBits, cr << kCellBits);
    return cell;
  }

  void Build(Cell& cell, int blue, int green, int red) {
    int bound = 1000;
    for (int k = 0; k < uniqueCount; ++k) {
      const Candidate& c = unique[k];
      bound = std::min(bound, FarthestOffset(c.blue, blue) + FarthestOffset(c.green, green) +
                                  FarthestOffset(c.red, red));
    }
    cell.start = static_cast<uint32_t>(candidates.size());
    for (int k = 0; k < uniqueCount; ++k) {
      const Candidate& c = unique[k];
      if (NearestOffset(c.blue, blue) + NearestOffset(c.green, green) + NearestOffset(c.red, red) <=
          bound) {
        candidates.push_back(c);
      }
    }
    cell.count = static_cast<uint16_t>(candidates.size() - cell.start);
  }

  // Distance and index compared as one number: the loop has no branch to mispredict.
  uint8_t Search(int blue, int green, int red) {
    const Cell& cell = CellOf(blue, green, red);
    const Candidate* c = candidates.data() + cell.start;
    const Candidate* end = c + cell.count;
    int best = INT32_MAX;
    for (; c != end; ++c) best = std::min(best, Distance(*c, blue, green, red) << 8 | c->index);
    return static_cast<uint8_t>(best & 0xFF);
  }

  uint8_t Closest(uint32_t colour) {
    const uint32_t slot = (colour * 2654435761u) >> (32 - kCacheBits);
    if (cachedColour[slot] != colour) {
      cachedColour[slot] = colour;
      cachedIndex[slot] = Search(colour & 0xFF, (colour >> 8) & 0xFF, colour >> 16);
    }
    return cachedIndex[slot];
  }
};

CPaletteMapper::CPaletteMapper(const RgbQuad* palette, int entries)
    : entries_(std::clamp(entries, 0, 256)) {
  std::copy(palette, palette + entries_, palette_);
}

CPaletteMapper::~CPaletteMapper() = default;

CPaletteMapper::CPaletteMapper(const CPaletteMapper& other) : CPaletteMapper(other.palette_, other.entries_) {}

CPaletteMapper& CPaletteMapper::operator=(const CPaletteMapper& other) {
  if (this != &other) {
    std::copy(other.palette_, other.palette_ + other.entries_, palette_);
    entries_ = other.entries_;
    grid_.reset();
    plainLookups_ = 0;
  }
  return *this;
}

uint8_t CPaletteMapper::Scan(int blue, int green, int red) const {
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

bool CPaletteMapper::UseGrid(size_t lookups) const {
  if (grid_) return true;
  if (entries_ <= kSmallPalette) return false;
  plainLookups_ += lookups;
  if (plainLookups_ <= kPlainLookupLimit) return false;
  grid_ = std::make_unique<Grid>(palette_, entries_);
  return true;
}

uint8_t CPaletteMapper::Closest(uint8_t blue, uint8_t green, uint8_t red) const {
  return UseGrid(1) ? grid_->Closest(blue | green << 8 | red << 16) : Scan(blue, green, red);
}

void CPaletteMapper::MapRow(const uint8_t* pixels, size_t pixelStep, size_t count,
                            uint8_t* out) const {
  if (count == 0) return;
  if (!UseGrid(count)) {
    for (size_t i = 0; i < count; ++i, pixels += pixelStep) out[i] = Scan(pixels[0], pixels[1], pixels[2]);
    return;
  }
  Grid& grid = *grid_;
  for (size_t i = 0; i < count; ++i, pixels += pixelStep) {
    out[i] = grid.Closest(pixels[0] | pixels[1] << 8 | pixels[2] << 16);
  }
}
