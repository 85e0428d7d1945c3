#include "fuzz_decode.h"
#include "imaging/decode/metafile/wemf_decoder.h"

// The decoder takes the metafile's kind from the name: inputs that start like an enhanced
// header (record type 1) are named .emf, the rest .wmf, so both players are reached.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool enhanced = size >= 4 && data[0] == 1 && data[1] == 0 && data[2] == 0 && data[3] == 0;
  return fuzzdecode::Run<CWEMFDecoder>(data, size, enhanced ? "fuzz.emf" : "fuzz.wmf");
}
