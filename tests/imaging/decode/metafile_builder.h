// Building classic and enhanced metafiles record by record for the decoder tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "decode_test_util.h"

namespace metafiletest {

using decodetest::Bytes;

// Classic metafile: records of 16-bit parameters, in the order the file stores them.
struct Wmf {
  Bytes records;
  uint16_t objects = 8;

  Wmf& Rec(uint16_t function, std::initializer_list<int> params) {
    records.le32(static_cast<uint32_t>(3 + params.size())).le16(function);
    for (int p : params) records.le16(static_cast<uint16_t>(p));
    return *this;
  }
  // A record with raw parameter bytes (padded to a whole word).
  Wmf& Raw(uint16_t function, const std::vector<uint8_t>& params) {
    std::vector<uint8_t> p = params;
    if (p.size() % 2) p.push_back(0);
    records.le32(static_cast<uint32_t>(3 + p.size() / 2)).le16(function);
    records.v.insert(records.v.end(), p.begin(), p.end());
    return *this;
  }
  Wmf& Pen(int style, int width, uint32_t colour) {
    return Rec(0x02FA, {style, width, 0, int(colour & 0xFFFF), int(colour >> 16)});
  }
  Wmf& Brush(int style, uint32_t colour, int hatch = 0) {
    return Rec(0x02FC, {style, int(colour & 0xFFFF), int(colour >> 16), hatch});
  }
  Wmf& Select(int index) { return Rec(0x012D, {index}); }
  Wmf& Rectangle(int l, int t, int r, int b) { return Rec(0x041B, {b, r, t, l}); }
  Wmf& WindowOrg(int x, int y) { return Rec(0x020B, {y, x}); }
  Wmf& WindowExt(int x, int y) { return Rec(0x020C, {y, x}); }

  // Header (and placeable header when placeable), records, end record.
  std::vector<uint8_t> File(bool placeable, int left = 0, int top = 0, int right = 0,
                            int bottom = 0, int unitsPerInch = 0) const {
    Bytes f;
    if (placeable) {
      f.le32(0x9AC6CDD7).le16(0).le16(left).le16(top).le16(right).le16(bottom);
      f.le16(unitsPerInch).le32(0).le16(0);
    }
    const uint32_t words = static_cast<uint32_t>(9 + records.v.size() / 2 + 3);
    f.le16(1).le16(9).le16(0x0300).le32(words).le16(objects).le32(64).le16(0);
    f.v.insert(f.v.end(), records.v.begin(), records.v.end());
    f.le32(3).le16(0);
    return f.v;
  }
};

// Enhanced metafile: records of 32-bit parameters after the type and size.
struct Emf {
  Bytes records;
  std::vector<uint32_t> palette;  // 0x00BBGGRR entries stored in the end record
  int bounds[4] = {};             // reference pixels: left, top, right, bottom (inclusive)

  Emf& Rec(uint32_t type, std::initializer_list<int64_t> params) {
    records.le32(type).le32(static_cast<uint32_t>(8 + 4 * params.size()));
    for (int64_t p : params) records.le32(static_cast<uint32_t>(p));
    return *this;
  }
  Emf& Raw(uint32_t type, const std::vector<uint8_t>& params) {
    std::vector<uint8_t> p = params;
    while (p.size() % 4) p.push_back(0);
    records.le32(type).le32(static_cast<uint32_t>(8 + p.size()));
    records.v.insert(records.v.end(), p.begin(), p.end());
    return *this;
  }
  Emf& Brush(int index, int style, uint32_t colour, int hatch = 0) {
    return Rec(39, {index, style, colour, hatch});
  }
  Emf& Pen(int index, int style, int width, uint32_t colour) {
    return Rec(38, {index, style, width, 0, colour});
  }
  Emf& Select(int64_t index) { return Rec(37, {index}); }
  Emf& Rectangle(int l, int t, int r, int b) { return Rec(43, {l, t, r, b}); }

  // frame in 0.01 mm; reference device in pixels and millimetres.
  std::vector<uint8_t> File(std::initializer_list<int> frame, int devCx = 1024, int devCy = 768,
                            int mmCx = 320, int mmCy = 240, int handles = 8,
                            int headerPaletteEntries = -1) const {
    Bytes eof;
    eof.le32(14).le32(static_cast<uint32_t>(20 + 4 * palette.size()));
    eof.le32(static_cast<uint32_t>(palette.size())).le32(palette.empty() ? 0 : 16);
    for (uint32_t c : palette) eof.le32(c);
    eof.le32(static_cast<uint32_t>(20 + 4 * palette.size()));
    Bytes f;
    f.le32(1).le32(108);
    for (int v : bounds) f.le32(static_cast<uint32_t>(v));
    for (int v : frame) f.le32(static_cast<uint32_t>(v));
    f.le32(0x464D4520).le32(0x10000);
    f.le32(static_cast<uint32_t>(108 + records.v.size() + eof.v.size()));
    f.le32(0).le16(handles).le16(0).le32(0).le32(0);
    f.le32(static_cast<uint32_t>(headerPaletteEntries >= 0 ? headerPaletteEntries
                                                           : int(palette.size())));
    f.le32(devCx).le32(devCy).le32(mmCx).le32(mmCy);
    f.le32(0).le32(0).le32(0).le32(mmCx * 1000).le32(mmCy * 1000);  // to 108 bytes
    f.v.insert(f.v.end(), records.v.begin(), records.v.end());
    f.v.insert(f.v.end(), eof.v.begin(), eof.v.end());
    return f.v;
  }
};

// A bottom-up 24-bit DIB (header and pixels) of w x h from top-down 0x00RRGGBB colours.
inline std::vector<uint8_t> Dib24(int w, int h, const std::vector<uint32_t>& topDown) {
  Bytes d;
  const int stride = (3 * w + 3) & ~3;
  d.le32(40).le32(w).le32(h).le16(1).le16(24).le32(0).le32(stride * h).le32(0).le32(0);
  d.le32(0).le32(0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      uint32_t c = topDown[y * w + x];
      d.u8({int(c & 255), int((c >> 8) & 255), int((c >> 16) & 255)});
    }
    d.fill(stride - 3 * w, 0);
  }
  return d.v;
}

}  // namespace metafiletest
