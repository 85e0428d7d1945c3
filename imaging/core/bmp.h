// CBmp: the in-memory picture every decoder fills and every encoder reads.
//
// Depths are 1, 8 or 32 bits per pixel (a conversion may also ask for 16 or 24, which creates
// the bitmap without filling it; 2 and 4 are accepted for completeness). Palette entries and
// 32-bit pixels are four bytes in the order blue, green, red, alpha; as one 32-bit number
// (nearest-colour search) a colour is the little-endian reading of those bytes (blue in bits
// 0-7, red in bits 16-23). 8-bit pixels are palette indices; 1-bit pixels are packed eight to
// a byte, leftmost pixel in the most significant bit. Rows are always reached top-down through
// the row table (entry 0 is the top row), whatever order the storage keeps them in. A stored
// row holds ((bpp x width + 31) / 32) x 4 bytes. Palette entries the model makes itself have
// alpha 255.
//
// A bitmap is either created (storage, row table and, below 16 bits, a palette) or freed (no
// storage, no row table, width, height and depth 0). Every creation frees the previous
// contents first, so after a failed creation the bitmap is freed.
//
// Limits and failures:
// - Width and height must lie in 0..65535 (the DIB header keeps 16 bits of each) and the
//   depth must be 1, 2, 4, 8, 16, 24 or 32. A request outside these limits cannot be
//   represented and is refused exactly like one that cannot be allocated: CMemoryException,
//   bitmap freed. Sizes are computed in 64 bits, so a bitmap is never given a short block.
// - Other failures raise CTextException (see win_bmp.h for the codes of each operation).
// - The three exports never raise: they return nullptr.
//
// The encoding-options record survives re-creation and conversion; only SetEncodeOptions
// (nullptr) or the destructor removes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/core/dib.h"
#include "imaging/core/encode_options.h"
#include "imaging/core/object.h"

class CBmp : public CObject {
  LUMORA_RUNTIME_CLASS(CBmp, CObject)

public:
  static constexpr int kMaxDimension = 65535;

  CBmp();
  ~CBmp() override;
  CBmp(const CBmp&) = delete;
  CBmp& operator=(const CBmp&) = delete;

  // Frees the previous contents, then allocates width x height at the depth. Pixels start as
  // zero bytes (callers must not rely on more than "unfilled"); below 16 bits the palette is a
  // grey ramp.
  virtual void Create(int width, int height, uint16_t bitsPerPixel, bool hasAlpha);
  virtual void Clear();
  // Copies `source`, converting to `bitsPerPixelWanted` when that is not 0 and differs from
  // the source's depth: to 1 bit (black where red, green and blue are all below 128), to 8
  // bits (from 1 bit: the source's two colours; from true colour: a palette computed by
  // CColorQuantify, every pixel mapped to its nearest entry), to 32 bits (palette colours as
  // stored). Any other wanted depth creates the bitmap but leaves its pixels unfilled. The
  // alpha flag follows the source's, except at 1 bit. Copying a freed bitmap frees this one.
  virtual void CopyFrom(CBmp& source, uint16_t bitsPerPixelWanted);
  virtual size_t GetMemorySize() const = 0;
  virtual size_t GetRowStride() const = 0;
  // Buffers returned by the three exports are the caller's (free with std::free); they
  // return nullptr and never throw when there is no storage, no pixel or memory runs out.
  virtual uint8_t* ExportBgr24(bool bottomUp, size_t* outSize) const;
  virtual uint8_t* ExportRgb24(bool bottomUp, size_t* outSize) const;
  virtual uint8_t* ExportPacked(bool bottomUp, size_t* outSize) const;
  // Keeps a private copy of the record; nullptr releases it.
  virtual void SetEncodeOptions(const EncodeOptions* record);
  virtual bool ConvertToGrey();

  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  uint16_t GetBitsPerPixel() const { return bitsPerPixel_; }
  bool HasAlpha() const { return hasAlpha_; }
  uint8_t** GetRowTable() const { return rowTable_.get(); }
  RgbQuad* GetPalette() const { return palette_; }
  const EncodeOptions* GetEncodeOptions() const { return encodeOptions_.get(); }

  void SetPalette(const RgbQuad* entries);  // copies 2^bpp entries; nothing at 16 bits and up
  // Entry i of n = 2^bpp gets grey (255 / (n - 1)) x i, alpha 255.
  void SetGreyRamp();
  // Index of the nearest palette entry (|dR| + |dG| + |dB|, ties: lowest index); the colour
  // itself at 16 bits and up; without a palette 1 when red + green + blue is over 382 (the
  // answer the default ramp of 1 bit, 0 black and 1 white, would give), else 0.
  uint32_t ClosestPaletteEntry(uint32_t colour) const;

protected:
  virtual void AllocateStorage(int width, int height, uint16_t bitsPerPixel, bool hasAlpha) = 0;
  virtual void ReleaseStorage() = 0;
  virtual void BuildRowTable() = 0;

  // The common tail of every creation: stores the description, builds the row table and,
  // below 16 bits, writes the grey ramp.
  void FinishCreate(int width, int height, uint16_t bitsPerPixel, bool hasAlpha);
  // Forgets the description and the row table (storage itself is the subclass's).
  void ResetDescription();

  // Reading pixels of any depth the model stores. At 1 bit without a palette, 0 is white and
  // 1 black; at 16 bits a pixel is 5-5-5; at 24 bits alpha reads as 0.
  static uint32_t PixelIndex(const uint8_t* row, int x, uint16_t bitsPerPixel);
  static RgbQuad PaletteColour(const RgbQuad* palette, uint16_t bitsPerPixel, uint32_t index);
  static RgbQuad PixelColour(const uint8_t* row, int x, uint16_t bitsPerPixel,
                             const RgbQuad* palette);

  int width_ = 0;
  int height_ = 0;
  uint16_t bitsPerPixel_ = 0;
  RgbQuad* palette_ = nullptr;  // points into the subclass's storage, or null at 32 bpp
  uint8_t* bits_ = nullptr;     // first stored byte of pixel data
  bool hasAlpha_ = false;
  std::unique_ptr<uint8_t*[]> rowTable_;
  std::unique_ptr<EncodeOptions> encodeOptions_;

private:
  void ConvertTo1(const CBmp& source);
  void ConvertTo8(const CBmp& source);
  void ConvertTo32(const CBmp& source);
};
