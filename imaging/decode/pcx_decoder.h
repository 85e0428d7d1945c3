// CPCXDecoder: ZSoft PCX: 1 to 8 bits in up to 4 planes, run-length encoded.
#pragma once

#include "imaging/decode/pic_decoder.h"

class CPCXDecoder : public CPicDecoder {
  LUMORA_RUNTIME_CLASS(CPCXDecoder, CPicDecoder)

public:
  void DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                  CDataSource& source) override;
};
