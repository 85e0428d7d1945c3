// Reading and sizing packed DIB blocks, and the 3-3-2 dithering that the snapshot window uses
// on palette screens. No Qt: plain bytes in, plain bytes out.
//
// A block (CGlobalBlock) holds back to back: a header, either the 40-byte information header
// (its first 32-bit word is 40) or the 12-byte core header (any other first word: 16-bit
// width and height, planes, bit count); the colour table (4-byte blue-green-red-0 entries after
// an information header, 3-byte entries after a core header); the rows, bottom row first,
// each padded to a multiple of 4 bytes.
//
// The size functions read the header as it stands. Code that goes on to touch the colour
// table or the rows first asks BlockIsComplete, so a header that claims more than the block
// holds is refused instead of read past.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "imaging/core/global_block.h"

// The 12-byte header of the oldest bitmaps.
#pragma pack(push, 1)
struct BitmapCoreHeader {
  uint32_t size = 12;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t planes = 1;
  uint16_t bitCount = 0;
};
#pragma pack(pop)
static_assert(sizeof(BitmapCoreHeader) == 12);

inline constexpr uint32_t kInfoHeaderSize = 40;

// Header fields of either kind. `valid` is false when the block is too short for its header.
struct DibHeaderView {
  bool valid = false;
  bool info = false;  // 40-byte information header
  uint32_t headerSize = 0;
  int64_t width = 0;
  int64_t height = 0;
  uint32_t planes = 0;
  uint32_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  uint32_t clrUsed = 0;
};
DibHeaderView ReadDibHeader(const CGlobalBlock& block);

// Colour-table entries: colours used when set (information header), else 2, 16 or 256 for
// 1, 4 and 8 bits, 0 for other depths.
uint32_t ColorTableCount(const CGlobalBlock& block);
// Entries x 4 (information header) or x 3 (core header).
uint32_t ColorTableBytes(const CGlobalBlock& block);
// Offset of the first stored row from the start of the block: header size + table bytes.
size_t PixelBitsOffset(const CGlobalBlock& block);
// The first stored row (nullptr for an empty block).
uint8_t* PixelBits(CGlobalBlock& block);
const uint8_t* PixelBits(const CGlobalBlock& block);
int64_t ImageWidth(const CGlobalBlock& block);
int64_t ImageHeight(const CGlobalBlock& block);
uint32_t ImageBitCount(const CGlobalBlock& block);
// ((bit count x planes x width + 31) / 32) x 4.
uint64_t RowBytes(const CGlobalBlock& block);
// Header + table + image size. An image-size field of 0 is first set to RowBytes x height in
// the header itself. Nothing when the header is unreadable or the size cannot be represented.
std::optional<size_t> PackedSize(CGlobalBlock& block);
// Same rule on a header in memory: `available` bytes starting at `data`. Writes the image size
// into the header when it was 0.
std::optional<size_t> PackedSize(uint8_t* data, size_t available);

// The header, colour table and RowBytes x |height| bytes of rows all lie inside the block;
// width and height are not negative and the depth is one a DIB can have.
bool BlockIsComplete(const CGlobalBlock& block);

// A zero-filled copy of the same allocated size.
CGlobalBlock DuplicateBlock(const CGlobalBlock& block);

// The fixed 256-colour table: index = red level x 32 + green level x 4 + blue level, red and
// green on 8 levels (k x 255 / 7 rounded), blue on 4 (0, 85, 170, 255).
struct UniformColor {
  uint8_t red, green, blue;
};
UniformColor UniformPaletteColor(uint8_t index);

// One row of 24-bit pixels (blue, green, red) becomes one index byte per pixel in place
// (byte i holds pixel i's index). A quarter of each pixel's error goes to the same pixel in
// `next` (may be nullptr: no downward diffusion) and half to its right neighbour; sums are
// clamped to 0..255.
void DiffuseRow(int width, uint8_t* current, uint8_t* next);

// Quantises 24-bit bottom-up rows of width x height (rows padded to 4 bytes) to one byte per
// pixel with error diffusion. The result has height rows of ((width + 3) / 4) x 4 bytes, in
// the same order. A picture of one row is quantised without downward diffusion. Empty block
// when the sizes do not fit in memory.
CGlobalBlock DitherTo332(const uint8_t* rows, int width, int height);
