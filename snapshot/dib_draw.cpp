#include "snapshot/dib_draw.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/core/dib.h"
#include "imaging/core/palette_mapper.h"
#include "snapshot/dib_format.h"

namespace {

std::vector<PaletteEntry> UniformEntries() {
  std::vector<PaletteEntry> entries(256);
  for (int i = 0; i < 256; ++i) {
    const UniformColor c = UniformPaletteColor(static_cast<uint8_t>(i));
    entries[size_t(i)] = PaletteEntry{c.red, c.green, c.blue, 0};
  }
  return entries;
}

// The picture's header as an information header, with its table rewritten to 4-byte
// entries when the block has a core header: what the transfers and sections read.
struct InfoDib {
  std::vector<uint8_t> headerAndTable;  // BitmapInfoHeader + 4-byte entries
  const uint8_t* bits = nullptr;
  size_t entries = 0;
  const BitmapInfoHeader* Header() const {
    return reinterpret_cast<const BitmapInfoHeader*>(headerAndTable.data());
  }
};

bool ToInfoDib(const CGlobalBlock& block, InfoDib& out) {
  if (!BlockIsComplete(block)) return false;
  const DibHeaderView h = ReadDibHeader(block);
  out.entries = ColorTableCount(block);
  out.headerAndTable.assign(sizeof(BitmapInfoHeader) + 4 * out.entries, 0);
  BitmapInfoHeader info;
  info.width = static_cast<int32_t>(h.width);
  info.height = static_cast<int32_t>(h.height);
  info.bitCount = static_cast<uint16_t>(h.bitCount);
  info.compression = h.compression;
  info.clrUsed = static_cast<uint32_t>(out.entries);
  std::memcpy(out.headerAndTable.data(), &info, sizeof info);
  const uint8_t* table = block.Data() + h.headerSize;
  const size_t entryBytes = h.info ? 4 : 3;
  for (size_t i = 0; i < out.entries; ++i)
    std::memcpy(out.headerAndTable.data() + sizeof info + 4 * i, table + entryBytes * i, 3);
  out.bits = PixelBits(block);
  return true;
}

}  // namespace

std::unique_ptr<CPalette> PaletteFromDib(const CGlobalBlock& block) {
  const uint32_t count = ColorTableCount(block);
  const DibHeaderView h = ReadDibHeader(block);
  if (count == 0 || !h.valid) return nullptr;
  const size_t entryBytes = h.info ? 4 : 3;
  if (size_t(h.headerSize) + count * entryBytes > block.Size()) return nullptr;
  const uint8_t* table = block.Data() + h.headerSize;
  std::vector<PaletteEntry> entries(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = table + entryBytes * i;
    entries[i] = PaletteEntry{e[2], e[1], e[0], 0};
  }
  return std::make_unique<CPalette>(std::move(entries));
}

std::unique_ptr<CPalette> DuplicatePalette(const CPalette& palette) {
  if (palette.GetEntryCount() == 0) return nullptr;
  return std::make_unique<CPalette>(palette.Entries());
}

std::unique_ptr<CPalette> FitPaletteToSystem(const CPalette& palette) {
  const ScreenInfo& screen = ScreenInfo::Current();
  if (!screen.paletteDevice || screen.numReserved > 256) return nullptr;
  std::unique_ptr<CPalette> copy = DuplicatePalette(palette);
  if (!copy) return nullptr;
  {
    CDC dc(nullptr);
    const CPalette* previous = dc.SelectPalette(copy.get(), false);
    dc.RealizePalette();
    dc.SelectPalette(previous, false);
  }
  std::vector<PaletteEntry> system = ScreenInfo::SystemPalette();
  system.resize(size_t(screen.sizePalette));
  const size_t reservedEachEnd = size_t(screen.numReserved) / 2;
  for (size_t i = 0; i < system.size(); ++i) {
    const bool reserved = i < reservedEachEnd || i >= system.size() - reservedEachEnd;
    system[i].flags = reserved ? 0 : kPcNoCollapse;
  }
  copy->ResizePalette(system.size());
  copy->SetPaletteEntries(0, system);
  return copy;
}

std::unique_ptr<CPalette> CreateUniformPalette() {
  auto plain = std::make_unique<CPalette>(UniformEntries());
  if (std::unique_ptr<CPalette> fitted = FitPaletteToSystem(*plain)) return fitted;
  return plain;
}

std::unique_ptr<CPalette> CreateTypePalette(int bitCount) {
  switch (bitCount) {
    case 1: return std::make_unique<CPalette>(std::vector<PaletteEntry>{{0, 0, 0, 0},
                                                                        {255, 255, 255, 0}});
    case 4: return std::make_unique<CPalette>(DefaultPaletteEntries());
    case 8: return CreateUniformPalette();
    default: return nullptr;
  }
}

int RemapToPalette(CGlobalBlock& block, const CPalette* palette) {
  if (!palette || palette->GetEntryCount() == 0 || !BlockIsComplete(block)) return 0;
  const DibHeaderView h = ReadDibHeader(block);
  if (!h.info || h.bitCount != 8 || h.compression != 0) return 0;
  const size_t paletteEntries = std::min<size_t>(palette->GetEntryCount(), 256);
  RgbQuad target[256] = {};
  for (size_t i = 0; i < paletteEntries; ++i) {
    const PaletteEntry& e = palette->Entries()[i];
    target[i] = RgbQuad{e.blue, e.green, e.red, 0};
  }
  const CPaletteMapper mapper(target, int(paletteEntries));
  // Index found for each value a row byte may hold; values past the table map to entry 0's.
  uint8_t* table = block.Data() + h.headerSize;
  const uint32_t tableEntries = std::min<uint32_t>(ColorTableCount(block), 256);
  uint8_t lookup[256] = {};
  for (uint32_t i = 0; i < 256; ++i) {
    const uint8_t* e = table + 4 * (i < tableEntries ? i : 0);
    lookup[i] = tableEntries ? mapper.Closest(e[0], e[1], e[2]) : 0;
  }
  uint8_t* rows = PixelBits(block);
  const uint64_t bytes = RowBytes(block) * uint64_t(h.height);
  for (uint64_t i = 0; i < bytes; ++i) rows[i] = lookup[rows[i]];
  // The table takes the palette's colours (as many as it has room for).
  for (uint32_t i = 0; i < tableEntries; ++i) {
    const RgbQuad& q = target[i < paletteEntries ? i : 0];
    table[4 * i] = q.blue;
    table[4 * i + 1] = q.green;
    table[4 * i + 2] = q.red;
    table[4 * i + 3] = 0;
  }
  return 1;
}

std::unique_ptr<CBitmap> DibToSection(const CGlobalBlock& block) {
  InfoDib dib;
  if (!ToInfoDib(block, dib) || dib.Header()->compression != 0) return nullptr;
  QImage image = ImageFromDib(dib.Header(), dib.bits, dib.entries);
  if (image.isNull()) return nullptr;
  return std::make_unique<CBitmap>(std::move(image));
}

CGlobalBlock MakeDisplayCopy8(const CGlobalBlock& block) {
  CWaitCursor wait;
  if (!BlockIsComplete(block)) return {};
  const DibHeaderView h = ReadDibHeader(block);
  if (h.bitCount <= 8) return DuplicateBlock(block);
  if (h.bitCount != 24 || h.compression != 0) return {};
  const int width = static_cast<int>(h.width);
  const int height = static_cast<int>(h.height);
  CGlobalBlock quantised = DitherTo332(PixelBits(block), width, height);
  if (quantised.Size() == 0) return {};

  // An 8-bit block of the same size: uniform colour table, the quantised rows.
  const std::optional<size_t> size = dib::BlockSize(width, height, 8);
  if (!size) return {};
  CGlobalBlock copy(*size);
  BitmapInfoHeader info;
  info.width = width;
  info.height = height;
  info.bitCount = 8;
  info.sizeImage = static_cast<uint32_t>(quantised.Size());
  info.clrUsed = 256;
  std::memcpy(copy.Data(), &info, sizeof info);
  uint8_t* table = copy.Data() + sizeof info;
  for (int i = 0; i < 256; ++i) {
    const UniformColor c = UniformPaletteColor(static_cast<uint8_t>(i));
    table[4 * i] = c.blue;
    table[4 * i + 1] = c.green;
    table[4 * i + 2] = c.red;
  }
  std::memcpy(table + 1024, quantised.Data(), quantised.Size());
  std::unique_ptr<CPalette> uniform = CreateUniformPalette();
  RemapToPalette(copy, uniform.get());
  return copy;
}

int DrawDithered(CDC& dc, const DibRect& dest, const CGlobalBlock& block, const DibRect& source) {
  CGlobalBlock copy = MakeDisplayCopy8(block);
  InfoDib dib;
  if (copy.Size() == 0 || !ToInfoDib(copy, dib)) return 0;
  std::unique_ptr<CPalette> palette = PaletteFromDib(copy);
  const CPalette* previous = nullptr;
  if (palette) {
    previous = dc.SelectPalette(palette.get(), true);
    dc.RealizePalette();
  }
  dc.SetStretchBltMode(CDC::kColorOnColor);
  const int height = dib.Header()->height;
  const DibRect from{source.x, height - (source.y + source.height), source.width, source.height};
  const int lines = dc.StretchDIBits(dest, from, dib.bits, dib.Header(), rop::kSrcCopy);
  if (palette) dc.SelectPalette(previous, true);
  return lines;
}
