#include "imaging/decode/row_convert.h"

#include <bit>
#include <cstring>

namespace rowconv {

void IndicesToBgra(const uint8_t* indices, size_t n, const RgbQuad* palette, uint8_t* out) {
  for (size_t i = 0; i < n; ++i) std::memcpy(out + 4 * i, &palette[indices[i]], 4);
}

void Bgr24ToBgra(const uint8_t* in, size_t n, uint8_t* out) {
  // Four-byte loads for all but the last pixel, whose fourth byte may lie past the input;
  // the loaded fourth byte (the next pixel's blue) is the top byte and becomes alpha.
  static_assert(std::endian::native == std::endian::little);
  for (; n > 1; --n, in += 3, out += 4) {
    uint32_t v;
    std::memcpy(&v, in, 4);
    v |= 0xFF000000u;
    std::memcpy(out, &v, 4);
  }
  for (size_t i = 0; i < n; ++i, in += 3, out += 4) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
    out[3] = 255;
  }
}

void Rgb24ToBgra(const uint8_t* in, size_t n, uint8_t* out) {
  for (size_t i = 0; i < n; ++i, in += 3, out += 4) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    out[3] = 255;
  }
}

void UnpackBits(const uint8_t* in, size_t n, int bits, uint8_t* outIndices) {
  const int perByte = 8 / bits;
  const uint8_t mask = static_cast<uint8_t>((1u << bits) - 1);
  size_t i = 0;
  for (; i + perByte <= n; i += perByte, ++in) {
    uint8_t v = *in;
    for (int k = 0; k < perByte; ++k) outIndices[i + k] = (v >> (8 - bits * (k + 1))) & mask;
  }
  if (i < n) {
    uint8_t v = *in;
    for (int k = 0; i < n; ++k, ++i) outIndices[i] = (v >> (8 - bits * (k + 1))) & mask;
  }
}

void FillBgra(uint8_t* out, size_t n, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
  for (size_t i = 0; i < n; ++i, out += 4) {
    out[0] = b;
    out[1] = g;
    out[2] = r;
    out[3] = a;
  }
}

}  // namespace rowconv
