// CDib: the one snapshot image of the program, a packed DIB block (snapshot/dib_format.h)
// with the palette and DIB section built from it.
//
// The main frame owns one CDib for the whole run. It owns the block it is given: SetDib takes
// the block, FreeDib and the destructor free it. The palette (only for pictures with a colour
// table) and the section are rebuilt whenever a block is taken and stay until the next one;
// Draw paints through them, or through a dithered 8-bit copy on palette screens.
//
// Every operation reports failure through its result (0) and then leaves the current image
// as it was. A serialised CDib is a complete BMP file.
#pragma once

#include <QIODevice>
#include <cstdint>
#include <memory>

#include "imaging/core/global_block.h"
#include "imaging/core/object.h"
#include "snapshot/gdi.h"

// The archive a CDib serialises through: a file and the direction.
struct CArchive {
  QIODevice* file = nullptr;
  bool loading = false;
  bool IsLoading() const { return loading; }
};

class CDib : public CObject {
  LUMORA_RUNTIME_CLASS(CDib, CObject)

public:
  static constexpr int kSchema = 0;

  CDib();
  ~CDib() override;
  CDib(const CDib&) = delete;
  CDib& operator=(const CDib&) = delete;

  // Takes `block` (0 and no change for an empty one); returns BuildBitmap's result.
  int SetDib(CGlobalBlock&& block);
  // Copies the packed DIB at `data` (at most `available` bytes are read); 0 without change
  // when the header is unreadable or claims more than is there.
  int LoadPacked(const uint8_t* data, size_t available);
  void FreeDib();
  bool HasDib() const { return block_.Size() != 0; }
  const CGlobalBlock& GetDib() const { return block_; }

  int GetWidth() const;
  int GetHeight() const;
  int GetBitCount() const;

  int BuildPalette();
  int BuildBitmap();
  const CPalette* GetPalette() const { return palette_.get(); }
  const CBitmap* GetBitmap() const { return bitmap_.get(); }

  // Paints the picture unscaled at (x, y). Returns the result of the final transfer.
  int Draw(CDC* dc, int x, int y, uint32_t rasterOp);
  bool NeedsDither(const CDC& dc) const;

  // A complete BMP file in and out. File errors are caught: 0 and the image unchanged.
  int ReadBmp(QIODevice& file);
  int WriteBmp(QIODevice& file);
  void Serialize(CArchive& archive);

private:
  CGlobalBlock block_;
  std::unique_ptr<CPalette> palette_;
  std::unique_ptr<CBitmap> bitmap_;
};
