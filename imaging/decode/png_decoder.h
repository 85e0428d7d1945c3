// CPNGDecoder: PNG through libpng.
//
// Output by colour type: grey and palette pictures give an 8-bit bitmap (a grey ramp of
// 2^depth entries, or the file's palette), or 32 bits when 32 are wanted; RGB, grey with
// alpha and RGB with alpha always give 32 bits, blue, green, red, alpha, with the alpha flag
// set for the types that carry alpha (otherwise the fourth byte is 255, or the tRNS alpha
// where libpng expands one). 16-bit samples are cut to their high 8 bits; samples below
// 8 bits come one per byte (index or grey level). Interlaced files come out in display order.
//
// Input: read from the source front to back; running out raises code 11 from the source.
// Failure: libpng errors (bad signature, CRC, truncated or corrupt image data) raise code 2
// with libpng's message. The libpng structures are released on every way out.
#pragma once

#include "imaging/decode/pic_decoder.h"

class CPNGDecoder : public CPicDecoder {
  LUMORA_RUNTIME_CLASS(CPNGDecoder, CPicDecoder)

public:
  void DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                  CDataSource& source) override;
};
