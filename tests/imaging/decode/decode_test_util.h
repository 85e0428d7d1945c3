// Helpers for the decoder tests: building small files byte by byte and decoding them from
// memory.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "imaging/core/win_bmp.h"
#include "imaging/decode/any_pic_decoder.h"
#include "imaging/decode/bmp_decoder.h"
#include "imaging/decode/pcx_decoder.h"
#include "imaging/decode/tga_decoder.h"

namespace decodetest {

struct Bytes {
  std::vector<uint8_t> v;
  Bytes& u8(std::initializer_list<int> bytes) {
    for (int b : bytes) v.push_back(static_cast<uint8_t>(b));
    return *this;
  }
  Bytes& le16(unsigned x) { return u8({int(x & 255), int((x >> 8) & 255)}); }
  Bytes& le32(uint32_t x) { return le16(x & 0xFFFF).le16(x >> 16); }
  Bytes& str(const char* s) {
    v.insert(v.end(), s, s + std::strlen(s));
    return *this;
  }
  Bytes& fill(size_t n, uint8_t b) {
    v.insert(v.end(), n, b);
    return *this;
  }
};

// Decodes through the detection, as a file named `name` would be.
inline void Decode(const std::vector<uint8_t>& bytes, CBmp& bmp, int bppWanted,
                   const char* name = "memory") {
  CAnyPicDecoder decoder;
  CMemSource source(name, bytes);
  decoder.DecodeSource(source, bmp, bppWanted);
}

// The code of the CTextException a decode raises, or 0 when it succeeds.
inline int DecodeError(const std::vector<uint8_t>& bytes, int bppWanted = 0,
                       std::string* text = nullptr) {
  CWinBmp bmp;
  try {
    Decode(bytes, bmp, bppWanted);
  } catch (const CTextException& e) {
    if (text) *text = e.GetErrorText();
    return e.GetErrorCode();
  }
  return 0;
}

// As DecodeError, straight through one decoder (no detection).
template <class Decoder>
int DecodeErrorWith(const std::vector<uint8_t>& bytes, int bppWanted = 0,
                    std::string* text = nullptr) {
  CWinBmp bmp;
  Decoder decoder;
  CMemSource source("memory", bytes);
  try {
    decoder.DecodeSource(source, bmp, bppWanted);
  } catch (const CTextException& e) {
    if (text) *text = e.GetErrorText();
    return e.GetErrorCode();
  }
  return 0;
}

// Pixel of a 32-bit bitmap as 0xAARRGGBB.
inline uint32_t Argb(const CBmp& bmp, int x, int y) {
  const uint8_t* p = bmp.GetRowTable()[y] + 4 * x;
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
inline uint8_t Index(const CBmp& bmp, int x, int y) { return bmp.GetRowTable()[y][x]; }

}  // namespace decodetest
