// EncodeOptions: the 10-byte record of save options that travels from the save dialog
// through the export container and the bitmap to the encoders. Its layout is fixed; a
// bitmap without a record is encoded with each encoder's defaults.
#pragma once

#include <cstdint>

struct EncodeOptions {
  uint8_t sourceDepth = 24;     // 0: bits per pixel of the picture being saved
  uint8_t wantedDepth = 24;     // 1: 8 or 24; 0 means the same as sourceDepth
  uint8_t jpegQuality = 75;     // 2
  uint8_t paletteQuality = 0;   // 3: 1 Normal .. 4 Best; read by nothing
  char extension[3] = {'B', 'M', 'P'};  // 4-6: upper case, no terminator
  uint8_t unused = 0;           // 7: copied as it is
  uint8_t flags = 5;            // 8: see the kFlag constants
  uint8_t backgroundIndex = 0;  // 9: GIF background colour index

  static constexpr uint8_t kFlagCompress = 1 << 0;
  static constexpr uint8_t kFlagGray = 1 << 1;
  static constexpr uint8_t kFlagLeftTop = 1 << 2;
  static constexpr uint8_t kFlagInterlace = 1 << 3;
  static constexpr uint8_t kFlagTransparent = 1 << 4;
};
static_assert(sizeof(EncodeOptions) == 10, "EncodeOptions is a 10-byte record");
