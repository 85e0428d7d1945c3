// Device-independent bitmaps inside metafile records (transfers and pattern brushes),
// turned into Cairo surfaces by the library's own BMP decoder.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/decode/decode_budget.h"
#include "imaging/decode/metafile/dc_state.h"

namespace metafile {

// `info` is the bitmap information (header and colour table), `bits` the pixels; for a packed
// DIB pass the whole block as `info` and an empty `bits`. Returns an RGB surface, or nullptr
// when the bitmap is damaged, of a kind the BMP decoder does not read, or would pass the
// budget's memory limit (traced): the record that carries it is then skipped and the
// picture goes on. The surface's pixels stay reserved in `budget` until it is destroyed.
SurfacePtr DibToSurface(std::span<const uint8_t> info, std::span<const uint8_t> bits,
                        CDecodeBudget& budget);

// Top row, in the decoded surface, of a source rectangle given as a device-independent
// transfer gives it: from the bottom line when the DIB's height is positive.
double DibSourceTop(std::span<const uint8_t> info, double sy, double sh);

}  // namespace metafile
