// CDibDevice: the drawing surface the bitmap draws on. The application implements it on
// its own toolkit; the image library only calls this one transfer.
#pragma once

#include <cstdint>

#include "imaging/core/dib.h"

// Raster operations the program uses.
namespace rop {
inline constexpr uint32_t kSrcCopy = 0x00CC0020;
}

struct DibRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct DibPoint {
  int x = 0;
  int y = 0;
};

// A rectangle by its edges (right and bottom exclusive), in top-down picture coordinates.
struct DibBounds {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

class CDibDevice {
public:
  virtual ~CDibDevice() = default;

  // Transfers the part `source` of a DIB (bottom-up coordinates: y counts from the last
  // stored row) into `dest` on the device, stretching when the sizes differ. `header` is
  // followed in memory by the colour table; `bits` is the first stored row. The colour table
  // holds RGB values. Returns the number of scan lines drawn, 0 on failure.
  virtual int StretchDIBits(const DibRect& dest, const DibRect& source, const void* bits,
                            const BitmapInfoHeader* header, uint32_t rasterOp) = 0;
};
