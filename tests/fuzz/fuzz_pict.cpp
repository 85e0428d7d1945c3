#include "fuzz_decode.h"
#include "imaging/decode/pict_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzdecode::Run<CPictDecoder>(data, size);
}
