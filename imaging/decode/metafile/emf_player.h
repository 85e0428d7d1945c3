// Enhanced metafiles: the header, the palette kept in the end record, and a player for the
// records drawing programs write. Records it does not know are skipped; a record whose
// length does not fit the bytes left ends the picture.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "imaging/core/dib.h"
#include "imaging/decode/metafile/metafile_canvas.h"

namespace metafile {

struct EmfHeader {
  int32_t bounds[4] = {};  // device pixels: left, top, right, bottom
  int32_t frame[4] = {};   // 0.01 mm: left, top, right, bottom
  uint16_t handles = 0;    // size of the object table
  uint32_t paletteEntries = 0;
  int32_t deviceCx = 0, deviceCy = 0;          // reference device, pixels
  int32_t millimetresCx = 0, millimetresCy = 0;  // reference device, millimetres
  std::span<const uint8_t> file;
};

enum class EmfHeaderError { kNone, kNotEnhanced, kNoHeader };

// Reads the header record. kNotEnhanced when the bytes are no enhanced metafile, kNoHeader
// when the header record is too short for the fields used.
EmfHeaderError ReadEmfHeader(std::span<const uint8_t> file, EmfHeader& out);

// The palette of the end record, as blue, green, red, 255; at most `wanted` entries.
std::vector<RgbQuad> ReadEmfPalette(const EmfHeader& header, uint32_t wanted);

// Plays the records onto the canvas. Embedded bitmaps and drawing count against the
// canvas\'s budget.
void PlayEmf(const EmfHeader& header, CMetafileCanvas& canvas);

}  // namespace metafile
