#include "fuzz_decode.h"
#include "imaging/decode/pcx_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzdecode::Run<CPCXDecoder>(data, size);
}
