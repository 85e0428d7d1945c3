#include "snapshot/dib_format.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "imaging/core/dib.h"

namespace {

template <typename T>
T ReadAt(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

uint32_t TableEntriesFor(uint32_t bitCount) {
  switch (bitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
  }
}

constexpr uint8_t kLevels8[8] = {0, 36, 73, 109, 146, 182, 219, 255};
constexpr uint8_t kLevels4[4] = {0, 85, 170, 255};

uint8_t ClampAdd(uint8_t value, int delta) {
  return static_cast<uint8_t>(std::clamp(int(value) + delta, 0, 255));
}

}  // namespace

DibHeaderView ReadDibHeader(const CGlobalBlock& block) {
  DibHeaderView h;
  const uint8_t* p = block.Data();
  if (block.Size() < 4) return h;
  h.headerSize = ReadAt<uint32_t>(p);
  h.info = h.headerSize == kInfoHeaderSize;
  if (h.info) {
    if (block.Size() < sizeof(BitmapInfoHeader)) return h;
    const auto bi = ReadAt<BitmapInfoHeader>(p);
    h.width = bi.width;
    h.height = bi.height;
    h.planes = bi.planes;
    h.bitCount = bi.bitCount;
    h.compression = bi.compression;
    h.sizeImage = bi.sizeImage;
    h.clrUsed = bi.clrUsed;
  } else {
    if (block.Size() < sizeof(BitmapCoreHeader)) return h;
    const auto bc = ReadAt<BitmapCoreHeader>(p);
    h.width = bc.width;
    h.height = bc.height;
    h.planes = bc.planes;
    h.bitCount = bc.bitCount;
  }
  h.valid = true;
  return h;
}

uint32_t ColorTableCount(const CGlobalBlock& block) {
  const DibHeaderView h = ReadDibHeader(block);
  if (!h.valid) return 0;
  if (h.info && h.clrUsed != 0) return h.clrUsed;
  return TableEntriesFor(h.bitCount);
}

uint32_t ColorTableBytes(const CGlobalBlock& block) {
  const DibHeaderView h = ReadDibHeader(block);
  if (!h.valid) return 0;
  // 64-bit product: a hostile colours-used field must not wrap to a small table.
  const uint64_t bytes = uint64_t(ColorTableCount(block)) * (h.info ? 4 : 3);
  return static_cast<uint32_t>(std::min<uint64_t>(bytes, std::numeric_limits<uint32_t>::max()));
}

size_t PixelBitsOffset(const CGlobalBlock& block) {
  const DibHeaderView h = ReadDibHeader(block);
  if (!h.valid) return 0;
  return size_t(h.headerSize) + ColorTableBytes(block);
}

uint8_t* PixelBits(CGlobalBlock& block) {
  if (block.Size() == 0) return nullptr;
  return block.Data() + std::min(PixelBitsOffset(block), block.Size());
}

const uint8_t* PixelBits(const CGlobalBlock& block) {
  if (block.Size() == 0) return nullptr;
  return block.Data() + std::min(PixelBitsOffset(block), block.Size());
}

int64_t ImageWidth(const CGlobalBlock& block) { return ReadDibHeader(block).width; }
int64_t ImageHeight(const CGlobalBlock& block) { return ReadDibHeader(block).height; }
uint32_t ImageBitCount(const CGlobalBlock& block) { return ReadDibHeader(block).bitCount; }

uint64_t RowBytes(const CGlobalBlock& block) {
  const DibHeaderView h = ReadDibHeader(block);
  if (!h.valid || h.width < 0) return 0;
  return (uint64_t(h.bitCount) * h.planes * uint64_t(h.width) + 31) / 32 * 4;
}

std::optional<size_t> PackedSize(uint8_t* data, size_t available) {
  CGlobalBlock view;  // read the header through a block-sized copy of it
  const size_t headerBytes = std::min<size_t>(available, sizeof(BitmapInfoHeader));
  if (headerBytes < 4) return std::nullopt;
  view = CGlobalBlock(data, headerBytes);
  const DibHeaderView h = ReadDibHeader(view);
  if (!h.valid || h.width < 0) return std::nullopt;
  uint64_t image = h.sizeImage;
  if (h.info && image == 0) {
    image = RowBytes(view) * uint64_t(h.height < 0 ? -h.height : h.height);
    if (image > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    const auto field = static_cast<uint32_t>(image);
    std::memcpy(data + offsetof(BitmapInfoHeader, sizeImage), &field, sizeof field);
  } else if (!h.info) {
    image = RowBytes(view) * uint64_t(h.height);
  }
  const uint64_t total = uint64_t(h.headerSize) + ColorTableBytes(view) + image;
  if (total > std::numeric_limits<size_t>::max() / 2) return std::nullopt;
  return static_cast<size_t>(total);
}

std::optional<size_t> PackedSize(CGlobalBlock& block) {
  return PackedSize(block.Data(), block.Size());
}

bool BlockIsComplete(const CGlobalBlock& block) {
  const DibHeaderView h = ReadDibHeader(block);
  if (!h.valid || h.width < 0 || h.height < 0 || h.planes != 1) return false;
  switch (h.bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return false;
  }
  if (h.info && h.clrUsed > 256) return false;
  const uint64_t rows = RowBytes(block) * uint64_t(h.height);
  const uint64_t need = uint64_t(h.headerSize) + ColorTableBytes(block) + rows;
  return h.headerSize >= sizeof(BitmapCoreHeader) && need <= block.Size();
}

CGlobalBlock DuplicateBlock(const CGlobalBlock& block) {
  return CGlobalBlock(block.Data(), block.Size());
}

UniformColor UniformPaletteColor(uint8_t index) {
  return {kLevels8[index >> 5], kLevels8[(index >> 2) & 7], kLevels4[index & 3]};
}

void DiffuseRow(int width, uint8_t* current, uint8_t* next) {
  for (int i = 0; i < width; ++i) {
    uint8_t* px = current + 3 * i;
    const int blue = px[0], green = px[1], red = px[2];
    const int b = blue / 85 + (blue % 85 > 43 ? 1 : 0);
    const uint8_t index = static_cast<uint8_t>(((red & 0xE0) | ((green >> 3) & 0xFC)) + b);
    current[i] = index;
    const UniformColor c = UniformPaletteColor(index);
    // A quarter of the error, rounded towards minus infinity.
    const int eR = (red - c.red) >> 2;
    const int eG = (green - c.green) >> 2;
    const int eB = (blue - c.blue) >> 2;
    if (next) {
      uint8_t* below = next + 3 * i;
      below[0] = ClampAdd(below[0], eB);
      below[1] = ClampAdd(below[1], eG);
      below[2] = ClampAdd(below[2], eR);
    }
    if (i + 1 < width) {
      uint8_t* right = px + 3;
      right[0] = ClampAdd(right[0], 2 * eB);
      right[1] = ClampAdd(right[1], 2 * eG);
      right[2] = ClampAdd(right[2], 2 * eR);
    }
  }
}

CGlobalBlock DitherTo332(const uint8_t* rows, int width, int height) {
  if (!rows || width <= 0 || height <= 0) return {};
  // Row sizes in full width: a 16-bit computation would wrap for wide pictures.
  const size_t sourceRow = (size_t(width) * 3 + 3) / 4 * 4;
  const size_t targetRow = (size_t(width) + 3) / 4 * 4;
  CGlobalBlock target;
  std::vector<uint8_t> current, next;
  try {
    target = CGlobalBlock(targetRow * size_t(height));
    current.assign(rows, rows + sourceRow);
    next.assign(sourceRow, 0);
  } catch (const std::bad_alloc&) {
    return {};
  }
  uint8_t* out = target.Data();
  if (height == 1) {
    DiffuseRow(width, current.data(), nullptr);
    std::memcpy(out, current.data(), targetRow);
    return target;
  }
  std::memcpy(next.data(), rows + sourceRow, sourceRow);
  for (int y = 0; y < height; ++y) {
    DiffuseRow(width, current.data(), next.data());
    std::memcpy(out + size_t(y) * targetRow, current.data(), targetRow);
    current = next;
    // The last row diffuses into a copy of itself whose error is then dropped.
    if (y + 2 < height) std::memcpy(next.data(), rows + size_t(y + 2) * sourceRow, sourceRow);
  }
  return target;
}
