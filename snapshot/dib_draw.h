// DIB functions that meet the drawing layer: palettes from colour tables and for snapshot
// depths, DIB sections, and the dithered display path for palette screens.
// Each returns nothing (nullptr, an empty block or 0) on failure and leaves its inputs as
// they were, except RemapToPalette, which rewrites the block it is given.
#pragma once

#include <memory>

#include "imaging/core/global_block.h"
#include "snapshot/gdi.h"

// The block's colour table as a logical palette (flags 0); nullptr when it has none.
std::unique_ptr<CPalette> PaletteFromDib(const CGlobalBlock& block);
// A copy with the same entries; nullptr for an empty palette.
std::unique_ptr<CPalette> DuplicatePalette(const CPalette& palette);
// On a palette screen: a copy of `palette` as the system shows it once realised (reserved
// colours at both ends with flags 0, the rest marked no-collapse). nullptr on other screens.
std::unique_ptr<CPalette> FitPaletteToSystem(const CPalette& palette);
// The 256-colour uniform palette, fitted to the system palette where there is one.
std::unique_ptr<CPalette> CreateUniformPalette();
// 1: black and white; 4: the 16 default colours; 8: CreateUniformPalette; else nullptr.
std::unique_ptr<CPalette> CreateTypePalette(int bitCount);

// Every row byte becomes the index in `palette` nearest to the colour it had in the block's
// table; the table becomes the palette's first 256 entries. 0 for an incomplete block, a
// block of more than 8 bits or no palette.
int RemapToPalette(CGlobalBlock& block, const CPalette* palette);

// The picture as a DIB section; nullptr when the block is incomplete or compressed.
std::unique_ptr<CBitmap> DibToSection(const CGlobalBlock& block);

// An 8-bit copy for palette screens: blocks of 8 bits or fewer are duplicated; 24-bit ones
// are dithered to the uniform palette (remapped to the system's where it is fitted). Empty
// block on failure.
CGlobalBlock MakeDisplayCopy8(const CGlobalBlock& block);

// Draws `block` through its 8-bit display copy with raster operation copy. Nonzero on
// success.
int DrawDithered(CDC& dc, const DibRect& dest, const CGlobalBlock& block, const DibRect& source);
