// CBmpDecoder: Windows bitmaps: 1, 4, 8, 16, 24 and 32 bits, RLE4 and RLE8.
#pragma once

#include "imaging/decode/pic_decoder.h"

class CBmpDecoder : public CPicDecoder {
  LUMORA_RUNTIME_CLASS(CBmpDecoder, CPicDecoder)

public:
  void DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                  CDataSource& source) override;
};
