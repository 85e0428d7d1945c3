// CTGADecoder: Truevision TGA: colour-mapped, true-colour and grey, raw or run-length encoded.
#pragma once

#include "imaging/decode/pic_decoder.h"

class CTGADecoder : public CPicDecoder {
  LUMORA_RUNTIME_CLASS(CTGADecoder, CPicDecoder)

public:
  void DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                  CDataSource& source) override;
};
