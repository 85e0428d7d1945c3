// Device-independent bitmaps inside metafile records (transfers and pattern brushes),
// turned into Cairo surfaces by the library's own BMP decoder.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/decode/metafile/dc_state.h"

namespace metafile {

// `info` is the bitmap information (header and colour table), `bits` the pixels; for a packed
// DIB pass the whole block as `info` and an empty `bits`. Returns an RGB surface, or nullptr
// when the bitmap is damaged, of a kind the BMP decoder does not read, or over `maxPixels`:
// the record that carries it is then skipped.
SurfacePtr DibToSurface(std::span<const uint8_t> info, std::span<const uint8_t> bits,
                        uint64_t maxPixels);

// Top row, in the decoded surface, of a source rectangle given as a device-independent
// transfer gives it: from the bottom line when the DIB's height is positive.
double DibSourceTop(std::span<const uint8_t> info, double sy, double sh);

}  // namespace metafile
