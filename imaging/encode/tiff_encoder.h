// CTIFFEncoder: writes an uncompressed TIFF through libtiff, one row per strip.
//
// 1 bit: bilevel, photometric 1 (black is zero) when palette entry 0 is darker than entry 1
// in red, green and blue, else 0 (white is zero). 8 bits: palette (photometric 3) with
// the 256-entry colour map, each component the 8-bit value shifted left by 8 (red 255 is
// 65280; readers that take the high byte see the palette's exact values). 32 bits: RGB,
// 3 samples (alpha dropped).
// The file is built by libtiff in the sink's buffer through the memory stream "MemSource".
// A file that does not fit raises the sink's overflow error (code 11); a failed row write
// otherwise raises code 18 "write tiff zero length!".
#pragma once

#include "imaging/encode/pic_encoder.h"

struct tiff;  // libtiff's handle (TIFF)

class CTIFFEncoder : public CPicEncoder {
  LUMORA_RUNTIME_CLASS(CTIFFEncoder, CPicEncoder)

public:
  void WriteImage(CBmp& bitmap, CDataSink& sink) override;
  size_t MaxEncodedSize(const CBmp& bitmap, const char* path) override;
  virtual void WriteStrips(tiff* file, CBmp& bitmap);

  // Photometric interpretation for a bitmap of this depth and palette (-1: not set).
  static int PhotometricFor(unsigned bitsPerPixel, const RgbQuad* palette);
};
