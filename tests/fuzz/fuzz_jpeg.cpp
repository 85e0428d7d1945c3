#include "fuzz_decode.h"
#include "imaging/decode/jpeg_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzdecode::Run<CJPEGDecoder>(data, size);
}
