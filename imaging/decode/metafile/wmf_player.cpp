#include "imaging/decode/metafile/wmf_player.h"

#include <functional>
#include <queue>
#include <string>
#include <vector>

#include "imaging/decode/data_source.h"
#include "imaging/decode/metafile/metafile_dib.h"

namespace metafile {
namespace {

// Record functions.
enum : uint16_t {
  kEof = 0x0000, kSetBkColor = 0x0201, kSetBkMode = 0x0102, kSetMapMode = 0x0103,
  kSetPolyFillMode = 0x0106, kSetTextColor = 0x0209, kSetWindowOrg = 0x020B,
  kSetWindowExt = 0x020C, kSetViewportOrg = 0x020D, kSetViewportExt = 0x020E,
  kOffsetWindowOrg = 0x020F, kScaleWindowExt = 0x0410, kLineTo = 0x0213, kMoveTo = 0x0214,
  kIntersectClipRect = 0x0416, kArc = 0x0817, kEllipse = 0x0418, kPie = 0x081A,
  kRectangle = 0x041B, kRoundRect = 0x061C, kPatBlt = 0x061D, kSaveDc = 0x001E,
  kSetPixel = 0x041F, kTextOut = 0x0521, kPolygon = 0x0324, kPolyline = 0x0325,
  kRestoreDc = 0x0127, kSelectObject = 0x012D, kSetTextAlign = 0x012E, kChord = 0x0830,
  kExtTextOut = 0x0A32, kSetDibToDev = 0x0D33, kPolyPolygon = 0x0538, kDibBitBlt = 0x0940,
  kDibStretchBlt = 0x0B41, kDibCreatePatternBrush = 0x0142, kStretchDib = 0x0F43,
  kDeleteObject = 0x01F0, kCreatePalette = 0x00F7, kCreatePatternBrush = 0x01F9,
  kCreatePenIndirect = 0x02FA, kCreateFontIndirect = 0x02FB,
  kCreateBrushIndirect = 0x02FC, kCreateRegion = 0x06FF,
};

constexpr uint16_t kWmfHeaderWords = 9;
constexpr int kEtoOpaque = 2, kEtoClipped = 4;

int S16(ByteCursor& c) { return static_cast<int16_t>(c.Le16()); }
Point YX(ByteCursor& c) {
  double y = S16(c);
  return {double(S16(c)), y};
}

struct Box {
  double left, top, right, bottom;
};
// Rectangles are stored bottom, right, top, left.
Box ReadBox(ByteCursor& c) {
  Box b{};
  b.bottom = S16(c);
  b.right = S16(c);
  b.top = S16(c);
  b.left = S16(c);
  return b;
}

std::vector<Point> ReadPoints(ByteCursor& c, size_t count) {
  if (count > c.Left() / 4) count = c.Left() / 4;
  std::vector<Point> points(count);
  for (Point& p : points) {
    p.x = S16(c);
    p.y = S16(c);
  }
  return points;
}

// The object table: created objects take the lowest free slot. Freed slots wait in a
// min-heap, so creating an object costs a logarithm of the table, not a walk through it.
class ObjectTable {
public:
  explicit ObjectTable(uint16_t size) : slots_(size) {}
  void Add(GdiObject object) {
    size_t slot = next_;
    if (!freed_.empty()) {
      slot = freed_.top();  // every freed slot lies below next_
      freed_.pop();
    } else if (next_ < kMaxSlots) {
      ++next_;
      if (slot >= slots_.size()) slots_.emplace_back();
    } else {
      return;  // the table is full: the object is not made
    }
    slots_[slot] = std::move(object);
  }
  const GdiObject* Get(uint16_t index) const {
    return index < slots_.size() && slots_[index] ? &*slots_[index] : nullptr;
  }
  void Delete(uint16_t index) {
    if (index >= slots_.size() || !slots_[index]) return;
    slots_[index].reset();
    freed_.push(index);
  }

private:
  static constexpr size_t kMaxSlots = 0xFFFF;
  std::vector<std::optional<GdiObject>> slots_;
  size_t next_ = 0;  // the lowest slot never used
  std::priority_queue<size_t, std::vector<size_t>, std::greater<>> freed_;
};

Font ReadFont(ByteCursor& c) {
  Font f;
  f.height = S16(c);
  c.Skip(2);  // width
  f.escapement = S16(c);
  c.Skip(2);  // orientation
  f.weight = S16(c);
  f.italic = c.U8() != 0;
  f.underline = c.U8() != 0;
  f.strikeOut = c.U8() != 0;
  c.Skip(5);  // character set, precisions, quality, pitch and family
  for (int i = 0; i < 32 && c.Left() > 0; ++i) {
    const uint8_t ch = c.U8();
    if (ch == 0) break;
    f.face += ch < 0x80 ? static_cast<char>(ch) : '?';  // font names reach Cairo as UTF-8
  }
  return f;
}

// The 8-bit texts of classic files, read as Latin-1.
std::u32string ReadText(ByteCursor& c, size_t count) {
  std::span<const uint8_t> bytes = c.Take(std::min(count, c.Left()));
  c.Skip(bytes.size() & 1);
  return std::u32string(bytes.begin(), bytes.end());
}

class WmfPlayer {
public:
  WmfPlayer(const WmfHeader& h, CMetafileCanvas& canvas)
      : canvas_(canvas), objects_(h.objects) {}

  void Play(uint16_t function, ByteCursor c, size_t recordWords);

private:
  DcState& Dc() { return canvas_.Dc(); }
  void Transfer(ByteCursor& c, uint16_t function, size_t recordWords);

  CMetafileCanvas& canvas_;
  ObjectTable objects_;
};

void WmfPlayer::Play(uint16_t function, ByteCursor c, size_t recordWords) {
  switch (function) {
    case kSetBkColor: Dc().bkColour = c.Le32(); break;
    case kSetBkMode: Dc().bkMode = c.Le16(); break;
    case kSetMapMode: Dc().mapMode = c.Le16(); break;
    case kSetPolyFillMode: Dc().polyFillMode = c.Le16(); break;
    case kSetTextColor: Dc().textColour = c.Le32(); break;
    case kSetTextAlign: Dc().textAlign = c.Le16(); break;
    case kSetWindowOrg: Dc().windowOrg = YX(c); break;
    case kSetWindowExt: Dc().windowExt = YX(c); break;
    case kSetViewportOrg: Dc().viewportOrg = YX(c); break;
    case kSetViewportExt: Dc().viewportExt = YX(c); break;
    case kOffsetWindowOrg: {
      Point d = YX(c);
      Dc().windowOrg.x += d.x;
      Dc().windowOrg.y += d.y;
      break;
    }
    case kScaleWindowExt: {
      double yDenom = S16(c), yNum = S16(c), xDenom = S16(c), xNum = S16(c);
      if (xDenom != 0 && yDenom != 0) {
        Dc().windowExt.x = Dc().windowExt.x * xNum / xDenom;
        Dc().windowExt.y = Dc().windowExt.y * yNum / yDenom;
      }
      break;
    }
    case kMoveTo: canvas_.MoveTo(YX(c)); break;
    case kLineTo: canvas_.LineTo(YX(c)); break;
    case kSaveDc: canvas_.SaveDc(); break;
    case kRestoreDc: canvas_.RestoreDc(S16(c)); break;
    case kIntersectClipRect: {
      Box b = ReadBox(c);
      canvas_.IntersectClip(b.left, b.top, b.right, b.bottom);
      break;
    }
    case kRectangle: {
      Box b = ReadBox(c);
      canvas_.Rectangle(b.left, b.top, b.right, b.bottom);
      break;
    }
    case kEllipse: {
      Box b = ReadBox(c);
      canvas_.Ellipse(b.left, b.top, b.right, b.bottom);
      break;
    }
    case kRoundRect: {
      double h = S16(c), w = S16(c);
      Box b = ReadBox(c);
      canvas_.RoundRect(b.left, b.top, b.right, b.bottom, w, h);
      break;
    }
    case kArc:
    case kChord:
    case kPie: {
      Point end = YX(c);
      Point start = YX(c);
      Box b = ReadBox(c);
      auto kind = function == kArc     ? CMetafileCanvas::ArcKind::kArc
                  : function == kChord ? CMetafileCanvas::ArcKind::kChord
                                       : CMetafileCanvas::ArcKind::kPie;
      canvas_.Arc(kind, b.left, b.top, b.right, b.bottom, start, end);
      break;
    }
    case kSetPixel: {
      ColorRef colour = c.Le32();
      canvas_.SetPixel(YX(c), colour);
      break;
    }
    case kPolygon:
    case kPolyline: {
      std::vector<Point> points = ReadPoints(c, c.Le16());
      if (function == kPolygon) {
        canvas_.Polygon(points);
      } else {
        canvas_.Polyline(points);
      }
      break;
    }
    case kPolyPolygon: {
      uint16_t polygons = c.Le16();
      if (polygons > c.Left() / 2) break;
      std::vector<uint32_t> counts(polygons);
      size_t total = 0;
      for (uint32_t& n : counts) total += n = c.Le16();
      if (total > c.Left() / 4) break;
      canvas_.PolyPolygon(ReadPoints(c, total), counts, true);
      break;
    }
    case kTextOut: {
      uint16_t count = c.Le16();
      std::u32string text = ReadText(c, count);
      Point at = YX(c);
      if (!c.RanDry()) canvas_.TextOut(at, text, {}, nullptr, false, false);
      break;
    }
    case kExtTextOut: {
      Point at = YX(c);
      uint16_t count = c.Le16();
      uint16_t options = c.Le16();
      double rect[4] = {};
      bool hasRect = (options & (kEtoOpaque | kEtoClipped)) != 0;
      if (hasRect) {
        for (double& v : rect) v = S16(c);
      }
      std::u32string text = ReadText(c, count);
      std::vector<double> dx;
      if (c.Left() >= 2 * text.size()) {
        dx.resize(text.size());
        for (double& d : dx) d = S16(c);
      }
      if (c.RanDry()) break;
      canvas_.TextOut(at, text, dx, hasRect ? rect : nullptr, options & kEtoOpaque,
                      options & kEtoClipped);
      break;
    }
    case kPatBlt: {
      uint32_t rop = c.Le32();
      double h = S16(c), w = S16(c);
      Point at = YX(c);
      canvas_.PatBlt(at.x, at.y, w, h, rop);
      break;
    }
    case kStretchDib:
    case kDibStretchBlt:
    case kDibBitBlt:
    case kSetDibToDev: Transfer(c, function, recordWords); break;
    case kCreatePenIndirect: {
      Pen pen;
      pen.style = c.Le16();
      pen.width = S16(c);
      c.Skip(2);
      pen.colour = c.Le32();
      objects_.Add(pen);
      break;
    }
    case kCreateBrushIndirect: {
      Brush brush;
      brush.style = c.Le16();
      brush.colour = c.Le32();
      brush.hatch = c.Le16();
      objects_.Add(brush);
      break;
    }
    case kDibCreatePatternBrush: {
      Brush brush;
      brush.style = c.Le16();
      c.Skip(2);  // colour usage
      brush.colour = 0x808080;  // drawn grey when the bitmap cannot be read
      std::span<const uint8_t> dib = c.Take(c.Left());
      if (brush.style == kBsDibPattern || brush.style == kBsDibPatternPt) {
        brush.pattern = DibToSurface(dib, {}, canvas_.Budget());
      }
      if (!brush.pattern) brush.style = kBsSolid;
      objects_.Add(brush);
      break;
    }
    case kCreatePatternBrush: {
      Brush brush;
      brush.colour = 0x808080;  // device-dependent bitmaps are not kept
      objects_.Add(brush);
      break;
    }
    case kCreateFontIndirect: objects_.Add(ReadFont(c)); break;
    case kCreatePalette:
    case kCreateRegion: objects_.Add(OtherObject{}); break;
    case kSelectObject:
      if (const GdiObject* o = objects_.Get(c.Le16())) canvas_.Select(*o);
      break;
    case kDeleteObject: objects_.Delete(c.Le16()); break;
    default: break;  // not drawn by this player
  }
}

void WmfPlayer::Transfer(ByteCursor& c, uint16_t function, size_t recordWords) {
  // The variants without a bitmap are exactly three words longer than their function's
  // high byte says; they fill with the brush.
  const bool withBitmap = recordWords != (function >> 8) + 3u;
  double sx = 0, sy = 0, sw = 0, sh = 0, dx = 0, dy = 0, dw = 0, dh = 0;
  uint32_t rop = CMetafileCanvas::kSrcCopy;
  if (function == kSetDibToDev) {
    c.Skip(6);  // colour usage, scan count, start scan
    sy = S16(c);
    sx = S16(c);
    dh = sh = S16(c);
    dw = sw = S16(c);
    dy = S16(c);
    dx = S16(c);
  } else {
    rop = c.Le32();
    if (function == kStretchDib) c.Skip(2);  // colour usage
    if (function != kDibBitBlt) {
      sh = S16(c);
      sw = S16(c);
    }
    sy = S16(c);
    sx = S16(c);
    if (!withBitmap) c.Skip(2);
    dh = S16(c);
    dw = S16(c);
    dy = S16(c);
    dx = S16(c);
    if (function == kDibBitBlt) {
      sw = dw;
      sh = dh;
    }
  }
  if (c.RanDry()) return;
  if (!withBitmap) {
    canvas_.PatBlt(dx, dy, dw, dh, rop);
    return;
  }
  std::span<const uint8_t> dib = c.Take(c.Left());
  SurfacePtr bitmap = DibToSurface(dib, {}, canvas_.Budget());
  if (!bitmap) return;
  // Device-independent sources count rows from the bottom; blits from a device do not.
  if (function == kStretchDib || function == kSetDibToDev) sy = DibSourceTop(dib, sy, sh);
  canvas_.StretchBitmap(bitmap.get(), dx, dy, dw, dh, sx, sy, sw, sh, rop);
}

// Calls visit(function, parameters, record words) for each record until the end record or
// a record that does not fit.
template <class Visit>
void ForEachRecord(std::span<const uint8_t> records, Visit visit) {
  ByteCursor c(records);
  while (c.Left() >= 6) {
    const uint32_t words = c.Le32();
    const uint16_t function = c.Le16();
    if (words < 3 || words - 3 > c.Left() / 2 || function == kEof) return;
    if (!visit(function, ByteCursor(c.Take(2 * (words - 3))), words)) return;
  }
}

}  // namespace

std::optional<WmfHeader> ReadWmfHeader(std::span<const uint8_t> file) {
  WmfHeader h;
  ByteCursor c(file);
  if (file.size() >= 4 && ByteCursor(file).Le32() == kPlaceableKey) {
    c.Skip(6);  // key, handle
    h.placeable = true;
    h.left = S16(c);
    h.top = S16(c);
    h.right = S16(c);
    h.bottom = S16(c);
    h.unitsPerInch = c.Le16();
    c.Skip(6);  // reserved, checksum
  }
  const uint16_t type = c.Le16();
  const uint16_t headerWords = c.Le16();
  const uint16_t version = c.Le16();
  c.Skip(4);  // size
  h.objects = c.Le16();
  c.Skip(6);  // largest record, parameter count
  if (c.RanDry() || (type != 1 && type != 2) || headerWords != kWmfHeaderWords ||
      (version != 0x0100 && version != 0x0300)) {
    return std::nullopt;
  }
  h.records = c.Take(c.Left());
  return h;
}

std::optional<Point> FirstWindowExtent(const WmfHeader& header) {
  std::optional<Point> extent;
  ForEachRecord(header.records, [&](uint16_t function, ByteCursor c, size_t) {
    if (function != kSetWindowExt) return true;
    Point p = YX(c);
    if (!c.RanDry()) extent = p;
    return false;
  });
  return extent;
}

void PlayWmf(const WmfHeader& header, CMetafileCanvas& canvas) {
  if (header.placeable) {
    canvas.Dc().windowOrg = {double(header.left), double(header.top)};
    canvas.Dc().windowExt = {double(header.right - header.left),
                             double(header.bottom - header.top)};
  }
  WmfPlayer player(header, canvas);
  ForEachRecord(header.records, [&](uint16_t function, ByteCursor c, size_t words) {
    player.Play(function, c, words);
    return true;
  });
}

}  // namespace metafile
