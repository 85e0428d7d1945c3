#include "imaging/decode/bmp_decoder.h"

void CBmpDecoder::DecodeBody(CBmp&, std::unique_ptr<RgbQuad[]>&, int&, CDataSource&) {
  RaiseError(textexception::kUnsupported, "Library not compiled for this file type.");
}
