#include "imaging/decode/pict_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "imaging/decode/pict_opcodes.h"
#include "imaging/decode/pict_rows.h"
#include "imaging/decode/pict_stream.h"

namespace {

using pict::Rect;
using pict::Stream;

constexpr size_t kLeadingBlock = 512;
constexpr size_t kPictureSize = 2;
constexpr uint8_t kVersionOpcode = 0x11;
constexpr uint16_t kPixMapFlag = 0x8000;
constexpr uint16_t kEntriesInOrder = 0x8000;  // colour table flag: value fields ignored
constexpr int kMaxColours = 256;

constexpr unsigned kEndOfPicture = 0xFF;
constexpr unsigned kEndOfPictureV2 = 0xFFFF;
constexpr unsigned kHeaderOpcode = 0x0C00;
constexpr unsigned kQuickTimeOpcode = 0x8200;
// Bytes in front of the count byte of the text opcodes 0x28 to 0x2B.
constexpr size_t kTextPrefix[] = {4, 1, 1, 2};

// The pixel map record that follows a pixel map's bounds.
struct PixMap {
  uint16_t version = 0, packType = 0;
  uint32_t packSize = 0, hRes = 0, vRes = 0;
  uint16_t pixelType = 0, pixelSize = 0, cmpCount = 0, cmpSize = 0;
  uint32_t planeBytes = 0, table = 0, reserved = 0;
};

PixMap ReadPixMap(Stream& in) {
  PixMap pm;
  pm.version = in.Be16();
  pm.packType = in.Be16();
  pm.packSize = in.Be32();
  pm.hRes = in.Be32();
  pm.vRes = in.Be32();
  pm.pixelType = in.Be16();
  pm.pixelSize = in.Be16();
  pm.cmpCount = in.Be16();
  pm.cmpSize = in.Be16();
  pm.planeBytes = in.Be32();
  pm.table = in.Be32();
  pm.reserved = in.Be32();
  return pm;
}

void TraceRect(const char* what, const Rect& r) {
  Trace(2, "%s (%d,%d) (%d,%d).\n", what, r.left, r.top, r.right, r.bottom);
}

void TracePixMap(const Rect& bounds, const PixMap& pm) {
  Trace(2, "PixMap header info:\n");
  TraceRect("  Bounds:", bounds);
  Trace(2, "  version: 0x%x\n", pm.version);
  Trace(2, "  packType: %d\n", pm.packType);
  Trace(2, "  packSize: %ld\n", static_cast<long>(pm.packSize));
  Trace(2, "  pixelSize: %d\n", pm.pixelSize);
  Trace(2, "  cmpCount: %d\n", pm.cmpCount);
  Trace(2, "  cmpSize: %d.\n", pm.cmpSize);
  Trace(2, "  planeBytes: %ld.\n", static_cast<long>(pm.planeBytes));
}

// A 256-entry palette, opaque black throughout.
std::unique_ptr<RgbQuad[]> NewPalette() {
  std::unique_ptr<RgbQuad[]> palette(new (std::nothrow) RgbQuad[kMaxColours]);
  if (palette == nullptr) {
    CPicDecoder::RaiseError(textexception::kNoMemory, "Out of memory allocationg color table.");
  }
  std::fill_n(palette.get(), kMaxColours, RgbQuad{0, 0, 0, 255});
  return palette;
}

// Seed, flags, size (entries - 1), then value, red, green, blue per entry (16 bits each;
// the high byte of a component is kept).
std::unique_ptr<RgbQuad[]> ReadColourTable(Stream& in) {
  Trace(3, "Getting color table info.\n");
  in.Skip(4);
  const uint16_t flags = in.Be16();
  const int count = static_cast<int16_t>(in.Be16()) + 1;
  Trace(2, "Palette Size:  %d\n", count);
  if (count < 0 || count > kMaxColours) {
    CPicDecoder::RaiseError(textexception::kFormatError,
                            "PICT: colour table has more than 256 entries.");
  }
  std::unique_ptr<RgbQuad[]> palette = NewPalette();
  Trace(3, "Reading Palette.\n");
  for (int i = 0; i < count; ++i) {
    const uint16_t value = in.Be16();
    const auto red = static_cast<uint8_t>(in.Be16() >> 8);
    const auto green = static_cast<uint8_t>(in.Be16() >> 8);
    const auto blue = static_cast<uint8_t>(in.Be16() >> 8);
    const int index = (flags & kEntriesInOrder) ? i : value;
    if (index >= count) {
      CPicDecoder::RaiseError(textexception::kFormatError,
                              "pixel value greater than colour table size.");
    }
    palette[index] = RgbQuad{blue, green, red, 255};
  }
  return palette;
}

// A region or polygon: its size word counts itself.
void SkipSizedRecord(Stream& in) {
  const uint16_t size = in.Be16();
  in.Skip(size >= 2 ? size - 2u : 0u);
}

// The rows of a pattern's pixel map: unpacked below 8 row bytes, else each behind its
// byte or word length.
void SkipPatternRows(Stream& in, int rows, size_t rowBytes) {
  if (rows <= 0) return;
  if (rowBytes < 8) {
    in.Skip(static_cast<size_t>(rows) * rowBytes);
    return;
  }
  for (int y = 0; y < rows; ++y) in.Skip(rowBytes < 251 ? in.U8() : in.Be16());
}

void SkipPixelPattern(Stream& in) {
  const uint16_t type = in.Be16();
  if (type == 1) {
    in.Skip(8);  // the one-bit pattern
    const uint16_t rowBytes = in.Be16();
    const Rect bounds = in.ReadRect();
    ReadPixMap(in);
    ReadColourTable(in);  // checked, then dropped
    SkipPatternRows(in, bounds.Height(), rowBytes & ~kPixMapFlag);
  } else if (type == 2) {
    in.Skip(8 + 5);  // one-bit pattern, RGB colour
  } else {
    CPicDecoder::RaiseError(textexception::kFormatError, "Unknown pattern type in pixPat.");
  }
}

// Compressed QuickTime data is not decoded; JPEG is told apart by its start marker.
[[noreturn]] void RefuseQuickTime(Stream& in) {
  Trace(2, "Opcode: JPEG.\n");
  const std::span<const uint8_t> data = in.Take(in.Be32());
  static constexpr uint8_t kJpegStart[] = {0xFF, 0xD8, 0xFF};
  if (std::search(data.begin(), data.end(), std::begin(kJpegStart), std::end(kJpegStart)) !=
      data.end()) {
    CPicDecoder::RaiseError(textexception::kUnsupported, "Library not compiled for PICT/JPEG.");
  }
  CPicDecoder::RaiseError(textexception::kUnsupported,
                          "PICT file contains unrecognized quicktime data.\n");
}

// 32 bits when the depth rule says 32, 8 bits otherwise.
int ResultDepth(int sourceBits, int& bppInOut) {
  CPicDecoder::ChooseTargetDepth(sourceBits, bppInOut);
  bppInOut = bppInOut == 32 ? 32 : 8;
  return bppInOut;
}

}  // namespace

void CPictDecoder::DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                              CDataSource& source) {
  Trace(2, "Decoding mac pict.\n");
  Stream in(source);
  in.Skip(kLeadingBlock + kPictureSize);
  in.ReadRect();  // picture frame

  uint8_t b = in.U8();
  while (b == 0) b = in.U8();
  if (b != kVersionOpcode) {
    RaiseError(textexception::kWrongSignature, "Error decoding pict: Version number missing.");
  }
  int version = 0;
  b = in.U8();
  if (b == 1) {
    version = 1;
  } else if (b == 2 && in.U8() == 0xFF) {
    version = 2;
  } else {
    RaiseError(textexception::kWrongSignature, "Illegal version number.");
  }
  Trace(2, "PICT version %d found.\n", version);

  for (;;) {
    unsigned opcode;
    if (version == 1) {
      opcode = in.U8();
    } else {
      if (in.AtOddOffset()) in.Skip(1);  // version 2 opcodes start at even offsets
      opcode = in.Be16();
    }
    if (ReadOpcode(in, opcode, bmp, paletteOut, bppInOut)) return;
  }
}

bool CPictDecoder::ReadOpcode(Stream& in, unsigned opcode, CBmp& bmp,
                              std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut) {
  if (opcode == kEndOfPicture || opcode == kEndOfPictureV2) {
    Trace(2, "Opcode: End of pict.\n");
    RaiseError(textexception::kUnsupported, "PICT contained only vector data!\n");
  }
  if (opcode >= pict::kTableOpcodes) {
    if (opcode == kHeaderOpcode) {
      Trace(2, "Opcode: Header.\n");
      in.Skip(24);
      return false;
    }
    if (opcode == kQuickTimeOpcode) RefuseQuickTime(in);
    Trace(2, "Opcode: reserved 0x%x.\n", opcode);
    if (opcode <= 0xAF) {
      in.Skip(in.Be16());
    } else if (opcode <= 0xCF || (opcode >= 0x8000 && opcode <= 0x80FF)) {
      // no data
    } else if (opcode <= 0xFE || opcode >= 0x8100) {
      in.Skip(in.Be32());
    } else {
      in.Skip(2 * (opcode >> 8));  // 0x0100 to 0x7FFF: the high byte counts words
    }
    return false;
  }

  const pict::OpcodeInfo& info = pict::Opcode(opcode);
  if (std::strcmp(info.name, "reserved") == 0) {
    Trace(2, "Opcode: reserved=0x%x\n", opcode);
  } else {
    Trace(2, "Opcode: %s\n", info.name);
  }
  switch (opcode) {
    case 0x01: {  // clip region: a plain rectangle when its size is 10
      const uint16_t size = in.Be16();
      if (size == 10) {
        in.ReadRect();
      } else {
        in.Skip(size >= 2 ? size - 2u : 0u);
      }
      return false;
    }
    case 0x12:
    case 0x13:
    case 0x14:
      SkipPixelPattern(in);
      return false;
    case 0x28:  // LongText: a point, then the text
    case 0x29:  // DHText: a horizontal step, then the text
    case 0x2A:  // DVText: a vertical step, then the text
    case 0x2B:  // DHDVText: both steps, then the text
      in.Skip(kTextPrefix[opcode - 0x28]);
      in.Skip(in.U8());  // the count byte and that many characters
      return false;
    case 0x90:
    case 0x98:
      ReadBitmap(in, false, bmp, paletteOut, bppInOut);
      return true;
    case 0x91:
    case 0x99:
      ReadBitmap(in, true, bmp, paletteOut, bppInOut);
      return true;
    case 0x9A:
      ReadDirectPixels(in, bmp, paletteOut, bppInOut);
      return true;
    case 0xA1:  // long comment: kind, size, data
      in.Skip(2);
      in.Skip(in.Be16());
      return false;
    default:
      break;
  }
  if (info.length == pict::kRecord) {
    Trace(3, "Skipping polygon or region.\n");
    SkipSizedRecord(in);
  } else if (info.length == pict::kWord) {
    in.Skip(in.Be16());
  } else {
    in.Skip(static_cast<size_t>(info.length));
  }
  return false;
}

void CPictDecoder::ReadBitmap(Stream& in, bool withRegion, CBmp& bmp,
                              std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut) {
  const uint16_t rowBytes = in.Be16();
  pict::PixelRows layout;
  layout.rowBytes = rowBytes;
  Rect bounds;
  std::array<RgbQuad, kMaxColours> monochrome;

  if ((rowBytes & kPixMapFlag) == 0) {
    Trace(2, "Reading version 1 bitmap.\n");
    bounds = in.ReadRect();
    TraceRect("  Bounds", bounds);
    in.ReadRect();  // source
    in.ReadRect();  // destination
    const int depth = ResultDepth(1, bppInOut);
    CreateBitmap(bmp, bounds.Width(), bounds.Height(), depth, false, "PICT");
    for (int i = 0; i < kMaxColours; ++i) {
      const auto v = static_cast<uint8_t>(i);
      monochrome[i] = RgbQuad{v, v, v, 255};
    }
    monochrome[0] = RgbQuad{255, 255, 255, 255};
    monochrome[1] = RgbQuad{0, 0, 0, 255};
    if (depth == 8) bmp.SetPalette(monochrome.data());
    layout.pixelSize = 1;
    layout.palette = monochrome.data();
  } else {
    bounds = in.ReadRect();
    const PixMap pm = ReadPixMap(in);
    TracePixMap(bounds, pm);
    const int depth = ResultDepth(pm.pixelSize, bppInOut);
    CreateBitmap(bmp, bounds.Width(), bounds.Height(), depth, depth == 32 && pm.cmpCount == 4,
                 "PICT");
    paletteOut = ReadColourTable(in);
    if (depth == 8) bmp.SetPalette(paletteOut.get());
    in.ReadRect();  // source
    in.ReadRect();  // destination
    layout.pixelSize = pm.pixelSize;
    layout.componentCount = pm.cmpCount;
    layout.palette = paletteOut.get();
  }
  in.Skip(2);  // transfer mode
  if (withRegion) SkipSizedRecord(in);
  pict::DecodeRows(layout, in, bmp);
}

void CPictDecoder::ReadDirectPixels(Stream& in, CBmp& bmp,
                                    std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut) {
  in.Skip(4 + 2);  // base address, row bytes
  const Rect bounds = in.ReadRect();
  const PixMap pm = ReadPixMap(in);
  TracePixMap(bounds, pm);
  in.ReadRect();  // source
  in.ReadRect();  // destination
  in.Skip(2);     // transfer mode
  const int depth = ResultDepth(pm.pixelSize, bppInOut);
  CreateBitmap(bmp, bounds.Width(), bounds.Height(), depth, depth == 32 && pm.cmpCount == 4,
               "PICT");
  paletteOut = NewPalette();  // direct pixels have no table: indices read as black
  pict::PixelRows layout;
  layout.pixelSize = pm.pixelSize;
  layout.componentCount = pm.cmpCount;
  layout.rowBytes = 0;
  layout.palette = paletteOut.get();
  pict::DecodeRows(layout, in, bmp);
}
