// CPCXEncoder: writes 8-bit and 32-bit bitmaps as run-length PCX files, version 5.
//
// 8 bits: one plane, then the byte 12 and the 256-entry red-green-blue palette. 32 bits:
// three planes per row (red, green, blue; alpha is dropped). Each line of each plane is
// run-length coded on its own: a run of up to 63 equal bytes, or a single byte of 192 or
// more, is written as 192 + count and the value; other single bytes as they are.
// Other depths raise code 6.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/encode/pic_encoder.h"

class CPCXEncoder : public CPicEncoder {
  LUMORA_RUNTIME_CLASS(CPCXEncoder, CPicEncoder)

public:
  void WriteImage(CBmp& bitmap, CDataSink& sink) override;
  size_t MaxEncodedSize(const CBmp& bitmap, const char* path) override;

  // Encodes one line into `out` (room for 2 x count bytes) and returns the bytes used.
  static size_t EncodeLine(const uint8_t* line, size_t count, uint8_t* out);
};
