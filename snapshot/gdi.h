// The snapshot image's drawing layer on QPainter and QImage: logical palettes, DIB sections,
// device contexts that report their depth, direct and stretching transfers.
//
// The screen has 32 bits per pixel. A test may declare a palette screen of 8 bits
// (ScreenInfo::SetForTesting): device contexts then report 8 bits, the palette raster
// capability, 20 reserved colours and a 256-entry system palette into which realised palettes
// are placed, so the dithering and palette-fitting paths run as they would on such a display.
// Pixels still land in 32-bit images; only the colours chosen differ.
//
// Everything runs on the GUI thread.
#pragma once

#include <QImage>
#include <QPainter>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/core/dib_device.h"

// Raster operations beyond source copy (see imaging/core/dib_device.h).
namespace rop {
inline constexpr uint32_t kSrcPaint = 0x00EE0086;
inline constexpr uint32_t kSrcAnd = 0x008800C6;
inline constexpr uint32_t kSrcInvert = 0x00660046;
inline constexpr uint32_t kNotSrcCopy = 0x00330008;
}  // namespace rop

struct PaletteEntry {
  uint8_t red = 0, green = 0, blue = 0, flags = 0;
  friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};
inline constexpr uint8_t kPcNoCollapse = 0x04;
inline constexpr uint16_t kPaletteVersion = 0x300;

// A logical palette.
class CPalette {
public:
  explicit CPalette(std::vector<PaletteEntry> entries) : entries_(std::move(entries)) {}
  const std::vector<PaletteEntry>& Entries() const { return entries_; }
  size_t GetEntryCount() const { return entries_.size(); }
  void ResizePalette(size_t entries) { entries_.resize(entries); }
  void SetPaletteEntries(size_t start, const std::vector<PaletteEntry>& entries);
  uint16_t Version() const { return kPaletteVersion; }

private:
  std::vector<PaletteEntry> entries_;
};

// A DIB section: the picture in a QImage of the block's depth (indexed below 16 bits).
class CBitmap {
public:
  explicit CBitmap(QImage image) : image_(std::move(image)) {}
  const QImage& Image() const { return image_; }
  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }

private:
  QImage image_;
};

// What the screen is.
struct ScreenInfo {
  int bitsPixel = 32;
  bool paletteDevice = false;
  int numReserved = 0;
  int sizePalette = 0;
  int logPixelsX = 96, logPixelsY = 96;

  static const ScreenInfo& Current();
  // An 8-bit palette screen (true) or the normal 32-bit one (false).
  static void SetForTesting(bool paletteScreen);
  // The system palette of a palette screen: 10 static colours, the realised palette's colours,
  // 10 static colours. Empty on other screens.
  static std::vector<PaletteEntry>& SystemPalette();
};

// A device context on a painter (a window being painted, an image) or a memory context that
// holds a selected bitmap. It implements the image library's device interface, so the
// library's bitmaps draw on it as well.
class CDC : public CDibDevice {
public:
  // On `painter` (not owned), reporting the current screen's depth.
  explicit CDC(QPainter* painter);
  // A memory context compatible with `other`: it draws nothing until a bitmap is selected.
  static std::unique_ptr<CDC> CreateCompatibleDC(const CDC& other);

  int BitsPixel() const { return bitsPixel_; }
  bool HasPaletteCaps() const { return paletteDevice_; }
  int NumReserved() const { return numReserved_; }
  int SizePalette() const { return sizePalette_; }

  const CBitmap* SelectObject(const CBitmap* bitmap);
  const CPalette* SelectPalette(const CPalette* palette, bool forceBackground);
  // Places the selected palette's colours into the system palette on a palette screen.
  // Returns the number of entries placed.
  int RealizePalette();
  void SetStretchBltMode(int mode) { stretchMode_ = mode; }

  // Copies width x height pixels from (sx, sy) of the memory context `source` to (x, y) with
  // the raster operation. Nonzero on success.
  int BitBlt(int x, int y, int width, int height, const CDC& source, int sx, int sy,
             uint32_t rasterOp);
  int StretchDIBits(const DibRect& dest, const DibRect& source, const void* bits,
                    const BitmapInfoHeader* header, uint32_t rasterOp) override;

  // What the last transfer used (tests observe the drawing path through these).
  uint32_t LastRasterOp() const { return lastRasterOp_; }
  int LastTransferBits() const { return lastTransferBits_; }

  static constexpr int kColorOnColor = 3;

private:
  CDC() = default;
  int Transfer(const QImage& image, const QRect& from, const QRect& to, uint32_t rasterOp);

  QPainter* painter_ = nullptr;
  const CBitmap* bitmap_ = nullptr;
  const CPalette* palette_ = nullptr;
  int bitsPixel_ = 32;
  bool paletteDevice_ = false;
  int numReserved_ = 0;
  int sizePalette_ = 0;
  int stretchMode_ = 0;
  uint32_t lastRasterOp_ = 0;
  int lastTransferBits_ = 0;
};

// The stock default palette: the 20 colours a palette screen reserves.
std::vector<PaletteEntry> DefaultPaletteEntries();

// Shows the wait cursor for its lifetime (when there is a GUI application).
class CWaitCursor {
public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
  bool shown_ = false;
};

// A QImage of the DIB with header `header` and rows at `bits` (colour table after the header).
// Null image for depths or sizes it cannot show.
QImage ImageFromDib(const BitmapInfoHeader* header, const void* bits, size_t colourEntries);
