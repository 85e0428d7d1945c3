#include "fuzz_decode.h"
#include "imaging/decode/gif_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzdecode::Run<CGifDecoder>(data, size);
}
