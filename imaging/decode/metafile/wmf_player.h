// Classic (16-bit) Windows metafiles: the headers, the picture size, and a player for the
// records drawing programs write. Records it does not know are skipped; a record whose
// length does not fit the bytes left ends the picture.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "imaging/decode/metafile/metafile_canvas.h"

namespace metafile {

struct WmfHeader {
  bool placeable = false;
  // Placeable header: bounding box in logical units and units per inch.
  int left = 0, top = 0, right = 0, bottom = 0;
  int unitsPerInch = 0;
  uint16_t objects = 0;                 // size of the object table
  std::span<const uint8_t> records;     // the records after the metafile header
};

// The key that starts a placeable metafile, and its header's length.
inline constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
inline constexpr size_t kPlaceableHeaderSize = 22;

// Reads the placeable header (when the file starts with its key) and the metafile header.
// Empty when the bytes are not a classic metafile.
std::optional<WmfHeader> ReadWmfHeader(std::span<const uint8_t> file);

// The window extent the records set first (logical units), if any: the size of a picture
// that has no placeable header.
std::optional<Point> FirstWindowExtent(const WmfHeader& header);

// Plays the records onto the canvas. Embedded bitmaps and drawing count against the
// canvas\'s budget.
void PlayWmf(const WmfHeader& header, CMetafileCanvas& canvas);

}  // namespace metafile
