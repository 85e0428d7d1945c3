// CPNGEncoder: writes a PNG through libpng.
//
// 8 bits: colour type 3 with the bitmap's whole 256-entry palette. 32 bits: colour type 2
// (RGB) without alpha, 6 (RGBA) with alpha, red-green-blue from the stored blue-green-red
// order. Bit depth 8, not interlaced, standard compression and filter method; the rows are
// filtered and deflated as png_image_data.h says (libpng's default filter choice, level 6)
// and go out through libpng's chunk writer. No chunks beyond header, palette, data and end.
// Other depths raise code 6; a bitmap without pixels code 10 " Out of memory." (as when
// the pixel buffer cannot be had); library errors code 2 with the library's message.
#pragma once

#include "imaging/encode/pic_encoder.h"

class CPNGEncoder : public CPicEncoder {
  LUMORA_RUNTIME_CLASS(CPNGEncoder, CPicEncoder)

public:
  void WriteImage(CBmp& bitmap, CDataSink& sink) override;
  size_t MaxEncodedSize(const CBmp& bitmap, const char* path) override;
};
