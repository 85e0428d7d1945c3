// Shared body of the decoder fuzz targets: one input is one file. The last byte also picks
// the wanted depth (0, 8 or 32), so every depth path is reached. Pictures may have 2^20
// pixels and the memory and work limits keep their defaults: run under
// -rss_limit_mb=512 -timeout=5 (run_fuzz.sh), an input that passes either is a decode that
// escaped its budget, a finding like a crash. Only CTextException may leave a decoder;
// anything else (or a sanitizer report) is a finding, and so is a decode that returns
// normally with no picture in the bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "imaging/core/win_bmp.h"
#include "imaging/decode/pic_decoder.h"

namespace fuzzdecode {

inline constexpr uint64_t kMaxPixels = uint64_t{1} << 20;

// How many decodes returned normally since the last reset; the replay program reads it to
// tell whether a seed that is a valid file still decodes.
inline int& SuccessfulDecodes() {
  static int count = 0;
  return count;
}

// `name` is the source name (decoders that look at it: metafiles).
template <class Decoder>
int Run(const uint8_t* data, size_t size, const char* name = "fuzz.input") {
  static const int kDepths[] = {0, 8, 32};
  const int wanted = size > 0 ? kDepths[data[size - 1] % 3] : 0;
  Decoder decoder;
  decoder.SetMaxPixels(kMaxPixels);
  CWinBmp bmp;
  CMemSource source(name, std::span<const uint8_t>(data, size));
  try {
    decoder.DecodeSource(source, bmp, wanted);
  } catch (const CTextException&) {
    return 0;
  }
  if (bmp.GetWidth() <= 0 || bmp.GetHeight() <= 0 || bmp.GetRowTable() == nullptr) {
    std::fprintf(stderr, "decode reported success but left the bitmap empty (%dx%d)\n",
                 bmp.GetWidth(), bmp.GetHeight());
    std::abort();
  }
  ++SuccessfulDecodes();
  return 0;
}

}  // namespace fuzzdecode
