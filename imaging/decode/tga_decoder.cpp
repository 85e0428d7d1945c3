#include "imaging/decode/tga_decoder.h"

void CTGADecoder::DecodeBody(CBmp&, std::unique_ptr<RgbQuad[]>&, int&, CDataSource&) {
  RaiseError(textexception::kUnsupported, "Library not compiled for this file type.");
}
