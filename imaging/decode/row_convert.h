// Row converters shared by the decoders: every decoder turns its file rows into bitmap rows
// through these, so palette lookup, bit unpacking and channel widening exist once.
//
// Output pixels are 32-bit blue, green, red, alpha (the CBmp layout). Palettes are
// CPicDecoder::kPaletteEntries (256) entries, so any 8-bit index is in range. Inputs and
// outputs never overlap unless a function says so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/core/dib.h"

namespace rowconv {

// n indices -> n pixels from the 256-entry palette (alpha copied from the entry).
void IndicesToBgra(const uint8_t* indices, size_t n, const RgbQuad* palette, uint8_t* out);
// n pixels of blue, green, red -> blue, green, red, 255.
void Bgr24ToBgra(const uint8_t* in, size_t n, uint8_t* out);
// n pixels of red, green, blue -> blue, green, red, 255.
void Rgb24ToBgra(const uint8_t* in, size_t n, uint8_t* out);
// Unpacks n pixels of `bits` (1, 2 or 4) bits, leftmost pixel in the most significant bits,
// into one index byte each. Reads (n * bits + 7) / 8 bytes.
void UnpackBits(const uint8_t* in, size_t n, int bits, uint8_t* outIndices);
// Fills n pixels with one colour.
void FillBgra(uint8_t* out, size_t n, uint8_t b, uint8_t g, uint8_t r, uint8_t a);

}  // namespace rowconv
