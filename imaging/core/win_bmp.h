// CWinBmp: the bitmap kept as one packed DIB block (header, colour table, rows bottom row
// first), so the same memory can be drawn, handed out as a global block or built from one.
// Row-table entry i points at bits + (height - 1 - i) x stride. Width and height are
// written to the header from their low 16 bits: at most 65535 x 65535 pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/core/bmp.h"
#include "imaging/core/dib.h"
#include "imaging/core/dib_device.h"
#include "imaging/core/global_block.h"

class CWinBmp : public CBmp {
  LUMORA_RUNTIME_CLASS(CWinBmp, CBmp)

public:
  CWinBmp();  // a valid 16 x 16 8-bit grey bitmap
  ~CWinBmp() override;

  void CopyFrom(CBmp& source, uint16_t bitsPerPixelWanted) override;
  size_t GetMemorySize() const override;
  size_t GetRowStride() const override;
  uint8_t* ExportBgr24(bool bottomUp, size_t* outSize) const override;
  uint8_t* ExportRgb24(bool bottomUp, size_t* outSize) const override;
  uint8_t* ExportPacked(bool bottomUp, size_t* outSize) const override;
  bool ConvertToGrey() override;

  void LoadFromResource(int resourceId);
  void CreateFromPackedDib(const BitmapInfoHeader* header);
  void CreateFromGlobal(const CGlobalBlock& block);
  // Out receives a block the caller frees with std::free; 32 bits are handed out as 24.
  void GetDIBCopy(uint8_t** out) const;
  void CopyToGlobal(CGlobalBlock& block) const;

  int Draw(CDibDevice* dc, int x, int y, uint32_t rasterOp) const;
  int StretchDraw(CDibDevice* dc, int x, int y, int width, int height, uint32_t rasterOp) const;
  int ScaledDraw(CDibDevice* dc, int x, int y, double factor, uint32_t rasterOp) const;
  int DrawExtract(CDibDevice* dc, int destX, int destY, const DibRect& sourceLTRB) const;

  const BitmapInfoHeader* GetDibBlock() const { return block_; }

  static void FillDibHeader(BitmapInfoHeader* header, int width, int height,
                            uint16_t bitsPerPixel);
  static void Expand24To32(uint8_t* destBlock, const uint8_t* sourceBlock);
  static void Compress32To24(uint8_t* destBlock, const uint8_t* sourceBlock);

protected:
  void AllocateStorage(int width, int height, uint16_t bitsPerPixel, bool hasAlpha) override;
  void ReleaseStorage() override;
  void BuildRowTable() override;
  void LocatePaletteAndBits();

private:
  BitmapInfoHeader* block_ = nullptr;  // std::malloc'ed, owned
  size_t blockSize_ = 0;
};
