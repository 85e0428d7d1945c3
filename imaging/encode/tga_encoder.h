// CTGAEncoder: writes 8-bit bitmaps as colour-mapped TGA (types 9 / 1) and 32-bit bitmaps
// as 24-bit true colour (types 10 / 2), rows bottom row first.
//
// Run-length coding is used when the bitmap has no options or its Compress flag is set,
// and the width is at least 2. Each row is coded on its own from a packet plan: run
// packets (128 + n - 1, one pixel) and raw packets (n - 1, n pixels), n at most 127.
// Other depths raise code 6.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/encode/pic_encoder.h"

class CTGAEncoder : public CPicEncoder {
  LUMORA_RUNTIME_CLASS(CTGAEncoder, CPicEncoder)

public:
  struct Packet {
    bool run;
    int count;
    bool operator==(const Packet&) const = default;
  };

  void WriteImage(CBmp& bitmap, CDataSink& sink) override;
  size_t MaxEncodedSize(const CBmp& bitmap, const char* path) override;

  // The packets for one row of `width` pixels (width at least 2) of `bytesPerPixel` bytes.
  static void PlanRow(const uint8_t* row, int width, int bytesPerPixel, std::vector<Packet>& plan);
};
