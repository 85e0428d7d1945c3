// CPNGEncoder: writes a PNG through libpng.
//
// 8 bits: colour type 3 with the bitmap's whole 256-entry palette. 32 bits: colour type 2
// (RGB) without alpha, 6 (RGBA) with alpha; the library swaps the stored blue-green-red
// order and drops the unused fourth byte. Bit depth 8, not interlaced, the library's
// compression level and filters with zlib's default strategy; no chunks beyond header,
// palette, data and end.
// Other depths raise code 6; library errors code 2 with the library's message.
#pragma once

#include "imaging/encode/pic_encoder.h"

class CPNGEncoder : public CPicEncoder {
  LUMORA_RUNTIME_CLASS(CPNGEncoder, CPicEncoder)

public:
  void WriteImage(CBmp& bitmap, CDataSink& sink) override;
  size_t MaxEncodedSize(const CBmp& bitmap, const char* path) override;
};
