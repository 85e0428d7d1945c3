// CWinBmp: the bitmap kept as one packed DIB block (40-byte header, colour table below 16 bits,
// rows bottom row first), so the same memory can be drawn, handed out as a global block or
// built from one. Row-table entry i points at bits + (height - 1 - i) x stride, so entry 0 is
// the last stored row. Width and height are written to the header from their low 16 bits:
// at most 65535 x 65535 pixels (larger requests are refused, see bmp.h).
//
// Reading packed DIBs (CreateFromPackedDib, CreateFromGlobal, LoadFromResource):
// - accepted depths 1, 8, 24 and 32, else CTextException 16 "source bitmap has invalid bits
//   per pixel."; 24 bits become 32 with alpha bytes 0 and the alpha flag false;
// - the header must be an uncompressed information header (size 40 to 124 bytes; the colour
//   table follows it) with width and height in 0..65535 (positive height: bottom-up rows) and
//   at most 256 colours used, else CTextException 2 (6 for compressed data);
// - a non-zero colours-used field gives the length of the stored colour table; entries it does
//   not cover keep the grey ramp;
// - the bitmap's own block keeps the source header's fields except: size 40, planes 1, colours
//   used 0 (the full table is stored), a non-zero image size set to the rows really held;
// - on these errors the bitmap keeps its previous contents; allocation failure raises
//   CMemoryException and leaves it freed.
// CreateFromPackedDib cannot know how long the memory behind the header is: the caller must
// pass a complete block. CreateFromGlobal and LoadFromResource know the length and refuse a
// block shorter than its header, colour table and rows (CTextException 2).
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/core/bmp.h"
#include "imaging/core/dib.h"
#include "imaging/core/dib_device.h"
#include "imaging/core/global_block.h"

namespace winbmp {
inline constexpr const char* kNullPointerText = " NULL Pointer error!";  // code 12
inline constexpr const char* kInvalidDepthText = "source bitmap has invalid bits per pixel.";
inline constexpr const char* kNoDataText = " source bitmap has no datas! ";  // code 19
inline constexpr const char* kResourceNotFoundText = "Bitmap resource not found.";  // code 2
}  // namespace winbmp

class CWinBmp : public CBmp {
  LUMORA_RUNTIME_CLASS(CWinBmp, CBmp)

public:
  CWinBmp();  // a valid 16 x 16 8-bit grey bitmap
  ~CWinBmp() override;

  // Converting this bitmap into itself goes through a temporary copy; if the conversion
  // fails, the bitmap keeps its previous contents.
  void CopyFrom(CBmp& source, uint16_t bitsPerPixelWanted) override;
  // The block plus the object itself.
  size_t GetMemorySize() const override;
  size_t GetRowStride() const override;
  // Width x height x 3 bytes, rows back to back, top row first unless bottomUp. Any depth is
  // exported (paletted pixels through their palette).
  uint8_t* ExportBgr24(bool bottomUp, size_t* outSize) const override;
  uint8_t* ExportRgb24(bool bottomUp, size_t* outSize) const override;
  // 32 bits without alpha: ExportBgr24. Otherwise the stored bytes of each row without its
  // padding, (bpp x width + 7) / 8 bytes per row.
  uint8_t* ExportPacked(bool bottomUp, size_t* outSize) const override;
  // Re-creates the bitmap as 8-bit grey (grey ramp palette), each pixel
  // (299 red + 587 green + 114 blue) / 1000 truncated. Paletted pixels are read through their
  // palette. Returns false (and changes nothing) when the bitmap is freed.
  bool ConvertToGrey() override;

  // The bitmap registered under `resourceId` (bitmap_resources.h); unknown ids raise
  // CTextException 2 "Bitmap resource not found." and leave the bitmap as it was.
  void LoadFromResource(int resourceId);
  void CreateFromPackedDib(const BitmapInfoHeader* header);
  // A block of size 0 raises CTextException 12 " NULL Pointer error!".
  void CreateFromGlobal(const CGlobalBlock& block);
  // Out receives a block the caller frees with std::free; 32 bits are handed out as 24.
  // A freed bitmap raises CTextException 19; allocation failure CMemoryException.
  void GetDIBCopy(uint8_t** out) const;
  // Fills `block` (reallocated when it already has memory) as GetDIBCopy does.
  void CopyToGlobal(CGlobalBlock& block) const;

  // Drawing hands the whole block to the device; a null device or a freed bitmap draws
  // nothing and returns 0. Otherwise the device's answer is returned.
  int Draw(CDibDevice* dc, int x, int y, uint32_t rasterOp) const;
  int StretchDraw(CDibDevice* dc, int x, int y, int width, int height, uint32_t rasterOp) const;
  // Destination factor x width by factor x height, each truncated toward zero.
  int ScaledDraw(CDibDevice* dc, int x, int y, double factor, uint32_t rasterOp) const;
  // Copies the part `source` of the picture to `dest` without stretching, with SRCCOPY.
  int DrawExtract(CDibDevice* dc, DibPoint dest, const DibBounds& source) const;

  const BitmapInfoHeader* GetDibBlock() const { return block_; }

  // Header of an uncompressed bottom-up block; the image size is 0 when it does not fit the
  // 32-bit field.
  static void FillDibHeader(BitmapInfoHeader* header, int width, int height,
                            uint16_t bitsPerPixel);
  // Block-to-block conversions; `destBlock` must hold the whole converted block.
  static void Expand24To32(uint8_t* destBlock, const uint8_t* sourceBlock);
  static void Compress32To24(uint8_t* destBlock, const uint8_t* sourceBlock);

protected:
  void AllocateStorage(int width, int height, uint16_t bitsPerPixel, bool hasAlpha) override;
  void ReleaseStorage() override;
  void BuildRowTable() override;
  void LocatePaletteAndBits();

private:
  void CreateFromPackedBytes(const uint8_t* block, const size_t* available);
  size_t DibCopySize() const;
  void FillDibCopy(uint8_t* dest) const;
  void SwapStorage(CWinBmp& other) noexcept;
  uint8_t* ExportTrueColour(bool bottomUp, size_t* outSize, bool rgb) const;

  BitmapInfoHeader* block_ = nullptr;  // std::malloc'ed, owned
  size_t blockSize_ = 0;
};
