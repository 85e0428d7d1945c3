#include "fuzz_decode.h"
#include "imaging/decode/tiff_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzdecode::Run<CTIFFDecoder>(data, size);
}
