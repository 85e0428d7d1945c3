// CWEMFDecoder: Windows metafiles, classic (with or without the placeable header) and
// enhanced, played by our own record player (Cairo) into a picture on a white background.
//
// The kind comes from the source name: enhanced when the upper-cased name contains ".EMF",
// classic otherwise. Picture size, at the screen's 96 logical pixels per inch:
// - placeable classic file: its box x 96 / its units per inch;
// - classic file without the placeable header: the window extent its records set first, one
//   pixel per logical unit (scaled down to fit 4096 x 4096 when larger);
// - enhanced file: its frame (0.01 mm) at its reference device's pixels per millimetre;
// - a width below 1 becomes 320, a height below 1 becomes 200 (no size or an empty frame).
// An enhanced file's frame is stretched onto the whole picture, as playing into a rectangle
// does; on an axis where the frame has no size, its bounds (reference pixels) stand in.
// Depth: an enhanced file with 1 to 255 palette entries gives 8 bits with a 256-entry
// palette (its entries first, then black; the last entry white when the file's palette has
// no white, so undrawn areas stay white); otherwise 32 bits, opaque. A wanted depth of 8 or
// 32 is honoured, any other refused (code 6).
//
// The records draw straight into the result's pixels (an 8-bit result: into a 32-bit
// drawing counted as working memory). Embedded bitmaps and pattern brushes count as working
// memory while they live; one that would pass the memory limit is skipped (traced), as a
// damaged one is, and the picture goes on. Painted pixels count as drawing work.
//
// Errors: 6 "Windows Metafile functions failed to load this image." (not a metafile of the
// kind the name says), 2 "No header information in metafile" (enhanced header too short),
// 10 "Cannot allocate memory bitmap.", plus the limits of CPicDecoder (pixel, memory and
// work limits: code 10). Damaged records are skipped; a record whose length does not fit
// ends the picture.
#pragma once

#include "imaging/decode/pic_decoder.h"

class CWEMFDecoder : public CPicDecoder {
  LUMORA_RUNTIME_CLASS(CWEMFDecoder, CPicDecoder)

public:
  // Logical pixels per inch of the screen the picture is measured against.
  static constexpr int kScreenPixelsPerInch = 96;
  static constexpr int kEmptyWidth = 320;
  static constexpr int kEmptyHeight = 200;
  // Largest side of a picture sized from a classic file's window extent.
  static constexpr int kMaxWindowSide = 4096;

  void DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                  CDataSource& source) override;
};
