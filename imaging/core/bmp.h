// CBmp: the in-memory picture every decoder fills and every encoder reads.
//
// Depths are 1, 8 or 32 bits per pixel. Palette entries and 32-bit pixels are four bytes in
// the order blue, green, red, alpha; as one 32-bit number (nearest-colour search) a colour is
// the little-endian reading of those bytes (blue in bits 0-7, red in bits 16-23). 8-bit
// pixels are palette indices; 1-bit pixels are packed eight to a byte, leftmost pixel in the
// most significant bit. Rows are always reached top-down through the row table (entry 0 is
// the top row), whatever order the storage keeps them in. A stored row holds
// ((bpp x width + 31) / 32) x 4 bytes.
//
// A bitmap is either created (storage, row table and, below 16 bits, a palette) or freed.
// Every creation frees the previous contents first. Allocation failure raises
// CMemoryException and leaves the bitmap freed; other failures raise CTextException.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/core/dib.h"
#include "imaging/core/encode_options.h"
#include "imaging/core/object.h"

class CColorQuantify;

class CBmp : public CObject {
  LUMORA_RUNTIME_CLASS(CBmp, CObject)

public:
  CBmp();
  ~CBmp() override;
  CBmp(const CBmp&) = delete;
  CBmp& operator=(const CBmp&) = delete;

  virtual void Create(int width, int height, uint16_t bitsPerPixel, bool hasAlpha);
  virtual void Clear();
  virtual void CopyFrom(CBmp& source, uint16_t bitsPerPixelWanted);
  virtual size_t GetMemorySize() const = 0;
  virtual size_t GetRowStride() const = 0;
  // Buffers returned by the three exports are the caller's (free with std::free); they
  // return nullptr and never throw when there is no storage or memory runs out.
  virtual uint8_t* ExportBgr24(bool bottomUp, size_t* outSize) const;
  virtual uint8_t* ExportRgb24(bool bottomUp, size_t* outSize) const;
  virtual uint8_t* ExportPacked(bool bottomUp, size_t* outSize) const;
  virtual void SetEncodeOptions(const EncodeOptions* record);
  virtual bool ConvertToGrey();

  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  uint16_t GetBitsPerPixel() const { return bitsPerPixel_; }
  bool HasAlpha() const { return hasAlpha_; }
  uint8_t** GetRowTable() const { return rowTable_.get(); }
  RgbQuad* GetPalette() const { return palette_; }
  const EncodeOptions* GetEncodeOptions() const { return encodeOptions_.get(); }

  void SetPalette(const RgbQuad* entries);  // copies 2^bpp entries
  void SetGreyRamp();
  uint32_t ClosestPaletteEntry(uint32_t colour) const;

protected:
  virtual void AllocateStorage(int width, int height, uint16_t bitsPerPixel, bool hasAlpha) = 0;
  virtual void ReleaseStorage() = 0;
  virtual void BuildRowTable() = 0;

  void FinishCreate(int width, int height, uint16_t bitsPerPixel, bool hasAlpha);

  int width_ = 0;
  int height_ = 0;
  uint16_t bitsPerPixel_ = 0;
  RgbQuad* palette_ = nullptr;  // points into the subclass's storage, or null at 32 bpp
  uint8_t* bits_ = nullptr;     // first stored byte of pixel data
  bool hasAlpha_ = false;
  std::unique_ptr<uint8_t*[]> rowTable_;
  std::unique_ptr<EncodeOptions> encodeOptions_;
};
