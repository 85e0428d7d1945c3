// libpng refuses chunks whose CRC does not match, which would stop nearly every mutation at
// the first check; the target rewrites each chunk's CRC so the fuzzer reaches the decoding
// behind it. The unfixed input is tried first, so CRC handling stays covered too.
#include <zlib.h>

#include <vector>

#include "fuzz_decode.h"
#include "imaging/decode/png_decoder.h"

namespace {

std::vector<uint8_t> WithFixedCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> v(data, data + size);
  size_t at = 8;  // after the signature
  while (at + 12 <= v.size()) {
    const uint32_t length = uint32_t(v[at]) << 24 | uint32_t(v[at + 1]) << 16 |
                            uint32_t(v[at + 2]) << 8 | v[at + 3];
    if (length > v.size() - at - 12) break;
    const uint32_t crc = uint32_t(crc32(0, v.data() + at + 4, uInt(length + 4)));
    for (int i = 0; i < 4; ++i) v[at + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
    at += 12 + length;
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzdecode::Run<CPNGDecoder>(data, size);
  const std::vector<uint8_t> fixed = WithFixedCrcs(data, size);
  return fuzzdecode::Run<CPNGDecoder>(fixed.data(), fixed.size());
}
