#include "imaging/decode/pcx_decoder.h"

void CPCXDecoder::DecodeBody(CBmp&, std::unique_ptr<RgbQuad[]>&, int&, CDataSource&) {
  RaiseError(textexception::kUnsupported, "Library not compiled for this file type.");
}
