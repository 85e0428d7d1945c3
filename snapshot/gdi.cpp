#include "snapshot/gdi.h"

#include <QCursor>
#include <QGuiApplication>
#include <algorithm>
#include <cstring>

namespace {

ScreenInfo g_screen;

// The colours a palette screen keeps for itself: ten at each end of the system palette.
constexpr PaletteEntry kStaticLow[10] = {
    {0, 0, 0, 0},     {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
    {0, 0, 128, 0},   {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {166, 202, 240, 0}};
constexpr PaletteEntry kStaticHigh[10] = {
    {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},
    {0, 255, 0, 0},     {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},
    {0, 255, 255, 0},   {255, 255, 255, 0}};

std::vector<PaletteEntry>& SystemPaletteStore() {
  static std::vector<PaletteEntry> palette;
  return palette;
}

void ResetSystemPalette() {
  auto& sys = SystemPaletteStore();
  sys.clear();
  if (!g_screen.paletteDevice) return;
  sys.assign(256, PaletteEntry{});
  std::copy(std::begin(kStaticLow), std::end(kStaticLow), sys.begin());
  std::copy(std::begin(kStaticHigh), std::end(kStaticHigh), sys.end() - 10);
}

QPainter::CompositionMode ModeFor(uint32_t rasterOp) {
  switch (rasterOp) {
    case rop::kSrcPaint: return QPainter::RasterOp_SourceOrDestination;
    case rop::kSrcAnd: return QPainter::RasterOp_SourceAndDestination;
    case rop::kSrcInvert: return QPainter::RasterOp_SourceXorDestination;
    case rop::kNotSrcCopy: return QPainter::RasterOp_NotSource;
    default: return QPainter::CompositionMode_Source;
  }
}

}  // namespace

void CPalette::SetPaletteEntries(size_t start, const std::vector<PaletteEntry>& entries) {
  for (size_t i = 0; i < entries.size() && start + i < entries_.size(); ++i)
    entries_[start + i] = entries[i];
}

std::vector<PaletteEntry> DefaultPaletteEntries() {
  std::vector<PaletteEntry> entries(std::begin(kStaticLow), std::end(kStaticLow));
  entries.insert(entries.end(), std::begin(kStaticHigh), std::end(kStaticHigh));
  return entries;
}

CWaitCursor::CWaitCursor() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    shown_ = true;
  }
}

CWaitCursor::~CWaitCursor() {
  if (shown_) QGuiApplication::restoreOverrideCursor();
}

const ScreenInfo& ScreenInfo::Current() { return g_screen; }

void ScreenInfo::SetForTesting(bool paletteScreen) {
  g_screen = ScreenInfo{};
  if (paletteScreen) {
    g_screen.bitsPixel = 8;
    g_screen.paletteDevice = true;
    g_screen.numReserved = 20;
    g_screen.sizePalette = 256;
  }
  ResetSystemPalette();
}

std::vector<PaletteEntry>& ScreenInfo::SystemPalette() { return SystemPaletteStore(); }

CDC::CDC(QPainter* painter) : painter_(painter) {
  const ScreenInfo& s = ScreenInfo::Current();
  bitsPixel_ = s.bitsPixel;
  paletteDevice_ = s.paletteDevice;
  numReserved_ = s.numReserved;
  sizePalette_ = s.sizePalette;
}

std::unique_ptr<CDC> CDC::CreateCompatibleDC(const CDC& other) {
  std::unique_ptr<CDC> dc(new CDC());
  dc->bitsPixel_ = other.bitsPixel_;
  dc->paletteDevice_ = other.paletteDevice_;
  dc->numReserved_ = other.numReserved_;
  dc->sizePalette_ = other.sizePalette_;
  return dc;
}

const CBitmap* CDC::SelectObject(const CBitmap* bitmap) {
  const CBitmap* previous = bitmap_;
  bitmap_ = bitmap;
  return previous;
}

const CPalette* CDC::SelectPalette(const CPalette* palette, bool) {
  const CPalette* previous = palette_;
  palette_ = palette;
  return previous;
}

int CDC::RealizePalette() {
  if (!palette_ || !paletteDevice_) return 0;
  auto& sys = ScreenInfo::SystemPalette();
  if (sys.size() != size_t(sizePalette_)) ResetSystemPalette();
  const size_t low = size_t(numReserved_) / 2;
  const size_t high = sys.size() - size_t(numReserved_) / 2;
  // Colours the static entries already show are not placed again.
  auto isStatic = [&](const PaletteEntry& e) {
    auto same = [&](const PaletteEntry& s) {
      return s.red == e.red && s.green == e.green && s.blue == e.blue;
    };
    return std::any_of(sys.begin(), sys.begin() + low, same) ||
           std::any_of(sys.begin() + high, sys.end(), same);
  };
  size_t slot = low;
  int placed = 0;
  for (const PaletteEntry& e : palette_->Entries()) {
    if (slot >= high) break;
    if (isStatic(e)) continue;
    sys[slot++] = PaletteEntry{e.red, e.green, e.blue, 0};
    ++placed;
  }
  return placed;
}

int CDC::Transfer(const QImage& image, const QRect& from, const QRect& to, uint32_t rasterOp) {
  if (!painter_ || image.isNull()) return 0;
  lastRasterOp_ = rasterOp;
  lastTransferBits_ = image.depth();
  painter_->save();
  painter_->setCompositionMode(ModeFor(rasterOp));
  // Raster operations need a colour image on both sides.
  const QImage source = image.format() == QImage::Format_RGB32
                            ? image
                            : image.convertToFormat(QImage::Format_RGB32);
  painter_->drawImage(to, source, from);
  painter_->restore();
  return 1;
}

int CDC::BitBlt(int x, int y, int width, int height, const CDC& source, int sx, int sy,
                uint32_t rasterOp) {
  if (!source.bitmap_) return 0;
  return Transfer(source.bitmap_->Image(), QRect(sx, sy, width, height),
                  QRect(x, y, width, height), rasterOp);
}

int CDC::StretchDIBits(const DibRect& dest, const DibRect& source, const void* bits,
                       const BitmapInfoHeader* header, uint32_t rasterOp) {
  if (!header || !bits) return 0;
  const size_t entries = header->bitCount <= 8
                             ? (header->clrUsed ? header->clrUsed : (1u << header->bitCount))
                             : 0;
  const QImage image = ImageFromDib(header, bits, entries);
  if (image.isNull()) return 0;
  // Source rectangles count y from the last stored row; QImage rows are top-down.
  const int top = image.height() - (source.y + source.height);
  if (!Transfer(image, QRect(source.x, top, source.width, source.height),
                QRect(dest.x, dest.y, dest.width, dest.height), rasterOp))
    return 0;
  return source.height;
}

QImage ImageFromDib(const BitmapInfoHeader* header, const void* bitsVoid, size_t colourEntries) {
  const int width = header->width;
  const int height = header->height < 0 ? -header->height : header->height;
  const bool bottomUp = header->height > 0;
  if (width <= 0 || height <= 0 || header->compression != 0) return {};
  const auto* bits = static_cast<const uint8_t*>(bitsVoid);
  const size_t stride = (size_t(header->bitCount) * size_t(width) + 31) / 32 * 4;
  const auto* table = reinterpret_cast<const uint8_t*>(header) + header->size;
  QImage image;
  switch (header->bitCount) {
    case 1: case 4: case 8: image = QImage(width, height, QImage::Format_Indexed8); break;
    case 16: image = QImage(width, height, QImage::Format_RGB555); break;
    // True colour goes straight to the layout the painter blits without converting.
    case 24: case 32: image = QImage(width, height, QImage::Format_RGB32); break;
    default: return {};
  }
  if (image.isNull()) return {};
  if (header->bitCount <= 8) {
    const size_t n = size_t(1) << header->bitCount;
    QList<QRgb> colours(int(n), qRgb(0, 0, 0));
    for (size_t i = 0; i < std::min(n, colourEntries); ++i)
      colours[int(i)] = qRgb(table[4 * i + 2], table[4 * i + 1], table[4 * i]);
    image.setColorTable(colours);
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = bits + size_t(bottomUp ? height - 1 - y : y) * stride;
    uint8_t* out = image.scanLine(y);
    switch (header->bitCount) {
      case 1:
        for (int x = 0; x < width; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        break;
      case 4:
        for (int x = 0; x < width; ++x) out[x] = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
        break;
      case 24:
      case 32: {
        const int step = header->bitCount / 8;
        auto* px = reinterpret_cast<QRgb*>(out);
        for (int x = 0; x < width; ++x) {
          const uint8_t* p = row + step * x;
          px[x] = qRgb(p[2], p[1], p[0]);
        }
        break;
      }
      default:
        std::memcpy(out, row, size_t(width) * header->bitCount / 8);
        break;
    }
  }
  return image;
}
