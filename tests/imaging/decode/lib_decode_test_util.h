// Helpers for the GIF, TIFF, JPEG and PNG decoder tests: reading files, decoding a buffer
// with one decoder, and reading any bitmap back as RGBA.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/core/win_bmp.h"
#include "imaging/decode/any_pic_decoder.h"

namespace libdecodetest {

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Decodes `bytes` with `decoder` (any CPicDecoder, CAnyPicDecoder included).
inline void DecodeWith(CPicDecoder& decoder, const std::vector<uint8_t>& bytes, CBmp& bmp,
                       int bppWanted, const char* name = "memory") {
  CMemSource source(name, bytes);
  decoder.DecodeSource(source, bmp, bppWanted);
}

struct Failure {
  int code = 0;  // 0: the decode succeeded
  std::string text;
};

// The CTextException a decode raises; any other exception escapes and fails the test.
inline Failure DecodeFailure(CPicDecoder& decoder, const std::vector<uint8_t>& bytes,
                             int bppWanted = 0) {
  CWinBmp bmp;
  try {
    DecodeWith(decoder, bytes, bmp, bppWanted);
  } catch (const CTextException& e) {
    return {e.GetErrorCode(), e.GetErrorText()};
  }
  return {};
}

// The pixel as red, green, blue, alpha: palette entries for 1 and 8 bits.
inline std::array<uint8_t, 4> Rgba(const CBmp& bmp, int x, int y) {
  const uint8_t* row = bmp.GetRowTable()[y];
  const uint8_t* p = nullptr;
  switch (bmp.GetBitsPerPixel()) {
    case 32:
      p = row + 4 * x;
      break;
    case 8:
      p = &bmp.GetPalette()[row[x]].blue;
      break;
    case 1:
      p = &bmp.GetPalette()[(row[x / 8] >> (7 - x % 8)) & 1].blue;
      break;
    default:
      return {0, 0, 0, 0};
  }
  return {p[2], p[1], p[0], p[3]};
}

}  // namespace libdecodetest
