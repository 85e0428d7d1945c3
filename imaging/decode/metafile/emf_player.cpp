#include "imaging/decode/metafile/emf_player.h"

#include <algorithm>
#include <bit>
#include <string>

#include "imaging/decode/data_source.h"
#include "imaging/decode/metafile/metafile_dib.h"

namespace metafile {
namespace {

enum : uint32_t {
  kHeader = 1, kPolyBezier = 2, kPolygon = 3, kPolyline = 4, kPolyBezierTo = 5,
  kPolylineTo = 6, kPolyPolyline = 7, kPolyPolygon = 8, kSetWindowExtEx = 9,
  kSetWindowOrgEx = 10, kSetViewportExtEx = 11, kSetViewportOrgEx = 12, kEof = 14,
  kSetPixelV = 15, kSetMapMode = 17, kSetBkMode = 18, kSetPolyFillMode = 19,
  kSetTextAlign = 22, kSetTextColor = 24, kSetBkColor = 25, kMoveToEx = 27,
  kIntersectClipRect = 30, kScaleViewportExtEx = 31, kScaleWindowExtEx = 32, kSaveDc = 33,
  kRestoreDc = 34, kSetWorldTransform = 35, kModifyWorldTransform = 36, kSelectObject = 37,
  kCreatePen = 38, kCreateBrushIndirect = 39, kDeleteObject = 40, kEllipse = 42,
  kRectangle = 43, kRoundRect = 44, kArc = 45, kChord = 46, kPie = 47, kCreatePalette = 49,
  kLineTo = 54, kBeginPath = 59, kEndPath = 60, kCloseFigure = 61, kFillPath = 62,
  kStrokeAndFillPath = 63, kStrokePath = 64, kAbortPath = 68, kBitBlt = 76,
  kStretchBlt = 77, kSetDiBitsToDevice = 80, kStretchDiBits = 81,
  kExtCreateFontIndirectW = 82, kExtTextOutA = 83, kExtTextOutW = 84, kPolyBezier16 = 85,
  kPolygon16 = 86, kPolyline16 = 87, kPolyBezierTo16 = 88, kPolylineTo16 = 89,
  kPolyPolyline16 = 90, kPolyPolygon16 = 91, kCreateMonoBrush = 93,
  kCreateDibPatternBrushPt = 94, kExtCreatePen = 95,
};

constexpr uint32_t kSignature = 0x464D4520;  // " EMF"
constexpr size_t kHeaderFieldsEnd = 88;       // through the reference size in millimetres
constexpr uint32_t kStockObject = 0x80000000;
constexpr int kEtoOpaque = 2, kEtoClipped = 4;
constexpr uint32_t kPsGeometric = 0x10000;

// A cursor on the record starting at `offset`; dry when the record is shorter.
ByteCursor At(std::span<const uint8_t> record, size_t offset) {
  if (offset > record.size()) return ByteCursor();
  return ByteCursor(record.subspan(offset));
}

int32_t S32(ByteCursor& c) { return static_cast<int32_t>(c.Le32()); }
float F32(ByteCursor& c) { return std::bit_cast<float>(c.Le32()); }
Point Pt(ByteCursor& c) {
  double x = S32(c);
  return {x, double(S32(c))};
}

// The bytes at a (offset, size) pair the record names, or empty when they are not in it.
std::span<const uint8_t> Part(std::span<const uint8_t> record, uint32_t offset, uint32_t size) {
  if (offset > record.size() || size > record.size() - offset) return {};
  return record.subspan(offset, size);
}

std::u32string DecodeUtf16(ByteCursor c, size_t units) {
  std::u32string out;
  for (size_t i = 0; i < units && c.Left() >= 2; ++i) {
    char32_t u = c.Le16();
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && c.Left() >= 2) {
      char32_t low = ByteCursor(c.Position(), 2).Le16();
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c.Le16();
        ++i;
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
      }
    }
    out += u;
  }
  return out;
}

// The stock objects a file selects by number (high bit set); nullptr for the others.
const GdiObject* StockObject(uint32_t index) {
  static const GdiObject kStock[] = {
      Brush{kBsSolid, 0xFFFFFF, 0, nullptr}, Brush{kBsSolid, 0xC0C0C0, 0, nullptr},
      Brush{kBsSolid, 0x808080, 0, nullptr}, Brush{kBsSolid, 0x404040, 0, nullptr},
      Brush{kBsSolid, 0, 0, nullptr},        Brush{kBsNull, 0, 0, nullptr},
      Pen{kPsSolid, 0, 0xFFFFFF},            Pen{kPsSolid, 0, 0},
      Pen{kPsNull, 0, 0},                    OtherObject{},
      Font{}, Font{}, Font{}, Font{}, Font{}, OtherObject{}, Font{}, Font{},
  };
  index &= ~kStockObject;
  return index < std::size(kStock) ? &kStock[index] : nullptr;
}

class EmfPlayer {
public:
  EmfPlayer(const EmfHeader& h, CMetafileCanvas& canvas)
      : canvas_(canvas), objects_(h.handles) {}

  void Play(uint32_t type, std::span<const uint8_t> record);

private:
  DcState& Dc() { return canvas_.Dc(); }
  template <class Object>
  void Store(uint32_t index, Object object) {
    if (index < objects_.size()) {
      objects_[index].emplace(std::in_place_type<Object>, std::move(object));
    }
  }
  void Points(uint32_t type, std::span<const uint8_t> record, bool small);
  void PolyPoints(uint32_t type, std::span<const uint8_t> record, bool small);
  void Text(std::span<const uint8_t> record, bool wide);
  void Transfer(uint32_t type, std::span<const uint8_t> record);
  void PatternBrush(std::span<const uint8_t> record);

  CMetafileCanvas& canvas_;
  std::vector<std::optional<GdiObject>> objects_;
};

void EmfPlayer::Points(uint32_t type, std::span<const uint8_t> record, bool small) {
  ByteCursor c = At(record, 24);
  uint32_t count = c.Le32();
  const size_t each = small ? 4 : 8;
  if (c.RanDry() || count > c.Left() / each) return;
  std::vector<Point> points(count);
  for (Point& p : points) {
    if (small) {
      p.x = static_cast<int16_t>(c.Le16());
      p.y = static_cast<int16_t>(c.Le16());
    } else {
      p = Pt(c);
    }
  }
  switch (type) {
    case kPolygon: case kPolygon16: canvas_.Polygon(points); break;
    case kPolyline: case kPolyline16: canvas_.Polyline(points); break;
    case kPolylineTo: case kPolylineTo16: canvas_.Polyline(points, true); break;
    case kPolyBezier: case kPolyBezier16: canvas_.PolyBezier(points); break;
    default: canvas_.PolyBezier(points, true); break;
  }
}

void EmfPlayer::PolyPoints(uint32_t type, std::span<const uint8_t> record, bool small) {
  ByteCursor c = At(record, 24);
  const uint32_t polys = c.Le32();
  const uint32_t total = c.Le32();
  const size_t each = small ? 4 : 8;
  if (c.RanDry() || polys > c.Left() / 4 || total > (c.Left() - 4 * size_t{polys}) / each) {
    return;
  }
  std::vector<uint32_t> counts(polys);
  uint64_t sum = 0;
  for (uint32_t& n : counts) sum += n = c.Le32();
  if (sum != total) return;
  std::vector<Point> points(total);
  for (Point& p : points) {
    if (small) {
      p.x = static_cast<int16_t>(c.Le16());
      p.y = static_cast<int16_t>(c.Le16());
    } else {
      p = Pt(c);
    }
  }
  canvas_.PolyPolygon(points, counts, type == kPolyPolygon || type == kPolyPolygon16);
}

void EmfPlayer::Text(std::span<const uint8_t> record, bool wide) {
  ByteCursor c = At(record, 36);
  Point at = Pt(c);
  const uint32_t chars = c.Le32();
  const uint32_t offString = c.Le32();
  const uint32_t options = c.Le32();
  double rect[4];
  for (double& v : rect) v = S32(c);
  const uint32_t offDx = c.Le32();
  if (c.RanDry()) return;
  const size_t unit = wide ? 2 : 1;
  if (chars > record.size() / unit) return;
  std::span<const uint8_t> bytes = Part(record, offString, static_cast<uint32_t>(chars * unit));
  if (bytes.size() != chars * unit) return;
  std::u32string text =
      wide ? DecodeUtf16(ByteCursor(bytes), chars) : std::u32string(bytes.begin(), bytes.end());
  std::vector<double> dx;
  if (offDx != 0) {
    std::span<const uint8_t> d = Part(record, offDx, static_cast<uint32_t>(4 * chars));
    if (d.size() == 4 * size_t{chars}) {
      ByteCursor dc(d);
      // Surrogate pairs have one advance per UTF-16 unit: keep the first of each pair.
      std::vector<double> units(chars);
      for (double& v : units) v = S32(dc);
      dx.assign(units.begin(), units.begin() + std::min<size_t>(text.size(), units.size()));
    }
  }
  canvas_.TextOut(at, text, dx, rect, options & kEtoOpaque, options & kEtoClipped);
}

void EmfPlayer::Transfer(uint32_t type, std::span<const uint8_t> record) {
  ByteCursor c = At(record, 24);
  double dx, dy, dw, dh, sx, sy, sw, sh;
  uint32_t rop = CMetafileCanvas::kSrcCopy, offBmi, cbBmi, offBits, cbBits;
  if (type == kStretchDiBits || type == kSetDiBitsToDevice) {
    dx = S32(c);
    dy = S32(c);
    sx = S32(c);
    sy = S32(c);
    sw = S32(c);
    sh = S32(c);
    offBmi = c.Le32();
    cbBmi = c.Le32();
    offBits = c.Le32();
    cbBits = c.Le32();
    c.Skip(4);  // colour usage
    if (type == kStretchDiBits) {
      rop = c.Le32();
      dw = S32(c);
      dh = S32(c);
    } else {
      dw = sw;
      dh = sh;
    }
  } else {
    dx = S32(c);
    dy = S32(c);
    dw = S32(c);
    dh = S32(c);
    rop = c.Le32();
    sx = S32(c);
    sy = S32(c);
    c.Skip(24 + 4 + 4);  // source transform, background colour, colour usage
    offBmi = c.Le32();
    cbBmi = c.Le32();
    offBits = c.Le32();
    cbBits = c.Le32();
    sw = dw;
    sh = dh;
    if (type == kStretchBlt) {
      sw = S32(c);
      sh = S32(c);
    }
  }
  if (c.RanDry()) return;
  if (cbBmi == 0) {  // no source: a fill with the brush
    canvas_.PatBlt(dx, dy, dw, dh, rop);
    return;
  }
  std::span<const uint8_t> info = Part(record, offBmi, cbBmi);
  std::span<const uint8_t> bits = Part(record, offBits, cbBits);
  if (info.empty() || bits.empty()) return;
  SurfacePtr bitmap = DibToSurface(info, bits, canvas_.Budget());
  if (!bitmap) return;
  if (type == kStretchDiBits || type == kSetDiBitsToDevice) sy = DibSourceTop(info, sy, sh);
  canvas_.StretchBitmap(bitmap.get(), dx, dy, dw, dh, sx, sy, sw, sh, rop);
}

void EmfPlayer::PatternBrush(std::span<const uint8_t> record) {
  ByteCursor c = At(record, 8);
  const uint32_t index = c.Le32();
  c.Skip(4);  // colour usage
  const uint32_t offBmi = c.Le32(), cbBmi = c.Le32(), offBits = c.Le32(), cbBits = c.Le32();
  if (c.RanDry()) return;
  Brush brush{kBsDibPatternPt, 0x808080, 0, nullptr};
  std::span<const uint8_t> info = Part(record, offBmi, cbBmi);
  std::span<const uint8_t> bits = Part(record, offBits, cbBits);
  if (!info.empty() && !bits.empty()) {
    brush.pattern = DibToSurface(info, bits, canvas_.Budget());
  }
  if (!brush.pattern) brush.style = kBsSolid;  // drawn grey when the bitmap cannot be read
  Store(index, brush);
}

void EmfPlayer::Play(uint32_t type, std::span<const uint8_t> record) {
  ByteCursor c = At(record, 8);
  switch (type) {
    case kPolygon: case kPolyline: case kPolylineTo: case kPolyBezier: case kPolyBezierTo:
      Points(type, record, false);
      break;
    case kPolygon16: case kPolyline16: case kPolylineTo16: case kPolyBezier16:
    case kPolyBezierTo16:
      Points(type, record, true);
      break;
    case kPolyPolygon: case kPolyPolyline: PolyPoints(type, record, false); break;
    case kPolyPolygon16: case kPolyPolyline16: PolyPoints(type, record, true); break;
    case kSetWindowExtEx: Dc().windowExt = Pt(c); break;
    case kSetWindowOrgEx: Dc().windowOrg = Pt(c); break;
    case kSetViewportExtEx: Dc().viewportExt = Pt(c); break;
    case kSetViewportOrgEx: Dc().viewportOrg = Pt(c); break;
    case kScaleViewportExtEx:
    case kScaleWindowExtEx: {
      double xNum = S32(c), xDenom = S32(c), yNum = S32(c), yDenom = S32(c);
      Point& ext = type == kScaleWindowExtEx ? Dc().windowExt : Dc().viewportExt;
      if (xDenom != 0 && yDenom != 0) {
        ext.x = ext.x * xNum / xDenom;
        ext.y = ext.y * yNum / yDenom;
      }
      break;
    }
    case kSetPixelV: {
      Point p = Pt(c);
      canvas_.SetPixel(p, c.Le32());
      break;
    }
    case kSetMapMode: Dc().mapMode = S32(c); break;
    case kSetBkMode: Dc().bkMode = S32(c); break;
    case kSetPolyFillMode: Dc().polyFillMode = S32(c); break;
    case kSetTextAlign: Dc().textAlign = S32(c); break;
    case kSetTextColor: Dc().textColour = c.Le32(); break;
    case kSetBkColor: Dc().bkColour = c.Le32(); break;
    case kMoveToEx: canvas_.MoveTo(Pt(c)); break;
    case kLineTo: canvas_.LineTo(Pt(c)); break;
    case kIntersectClipRect: {
      double l = S32(c), t = S32(c), r = S32(c), b = S32(c);
      canvas_.IntersectClip(l, t, r, b);
      break;
    }
    case kSaveDc: canvas_.SaveDc(); break;
    case kRestoreDc: canvas_.RestoreDc(S32(c)); break;
    case kSetWorldTransform:
    case kModifyWorldTransform: {
      cairo_matrix_t m;
      m.xx = F32(c);
      m.yx = F32(c);
      m.xy = F32(c);
      m.yy = F32(c);
      m.x0 = F32(c);
      m.y0 = F32(c);
      if (type == kSetWorldTransform) {
        canvas_.SetWorldTransform(m);
      } else {
        canvas_.ModifyWorldTransform(m, S32(c));
      }
      break;
    }
    case kSelectObject: {
      const uint32_t index = c.Le32();
      if (index & kStockObject) {
        if (const GdiObject* o = StockObject(index)) canvas_.Select(*o);
      } else if (index < objects_.size() && objects_[index]) {
        canvas_.Select(*objects_[index]);
      }
      break;
    }
    case kDeleteObject: {
      const uint32_t index = c.Le32();
      if (index < objects_.size()) objects_[index].reset();
      break;
    }
    case kCreatePen: {
      const uint32_t index = c.Le32();
      Pen pen;
      pen.style = S32(c);
      pen.width = S32(c);
      c.Skip(4);
      pen.colour = c.Le32();
      Store(index, pen);
      break;
    }
    case kExtCreatePen: {
      const uint32_t index = c.Le32();
      c.Skip(16);  // pattern bitmap
      const uint32_t style = c.Le32();
      Pen pen;
      pen.style = static_cast<int>(style & 0xFFFF);
      if ((pen.style & 0xF) > kPsNull) pen.style &= ~0xF;  // user styles and the rest: solid
      pen.width = (style & kPsGeometric) ? S32(c) : (c.Skip(4), 0);
      if (c.Le32() == kBsNull) pen.style = kPsNull;
      pen.colour = c.Le32();
      Store(index, pen);
      break;
    }
    case kCreateBrushIndirect: {
      const uint32_t index = c.Le32();
      Brush brush;
      brush.style = S32(c);
      brush.colour = c.Le32();
      brush.hatch = S32(c);
      Store(index, brush);
      break;
    }
    case kCreateDibPatternBrushPt:
    case kCreateMonoBrush: PatternBrush(record); break;
    case kCreatePalette: Store(c.Le32(), OtherObject{}); break;
    case kExtCreateFontIndirectW: {
      const uint32_t index = c.Le32();
      Font f;
      f.height = S32(c);
      c.Skip(4);  // width
      f.escapement = S32(c);
      c.Skip(4);  // orientation
      f.weight = S32(c);
      f.italic = c.U8() != 0;
      f.underline = c.U8() != 0;
      f.strikeOut = c.U8() != 0;
      c.Skip(5);
      std::u32string face = DecodeUtf16(c, 32);
      for (char32_t ch : face) {
        if (ch == 0) break;
        f.face += ch < 0x80 ? static_cast<char>(ch) : '?';
      }
      Store(index, f);
      break;
    }
    case kRectangle:
    case kEllipse:
    case kRoundRect:
    case kArc:
    case kChord:
    case kPie: {
      double l = S32(c), t = S32(c), r = S32(c), b = S32(c);
      if (c.RanDry()) break;
      if (type == kRectangle) {
        canvas_.Rectangle(l, t, r, b);
      } else if (type == kEllipse) {
        canvas_.Ellipse(l, t, r, b);
      } else if (type == kRoundRect) {
        Point corner = Pt(c);
        canvas_.RoundRect(l, t, r, b, corner.x, corner.y);
      } else {
        Point start = Pt(c);
        Point end = Pt(c);
        auto kind = type == kArc     ? CMetafileCanvas::ArcKind::kArc
                    : type == kChord ? CMetafileCanvas::ArcKind::kChord
                                     : CMetafileCanvas::ArcKind::kPie;
        canvas_.Arc(kind, l, t, r, b, start, end);
      }
      break;
    }
    case kBeginPath: canvas_.BeginPath(); break;
    case kEndPath: canvas_.EndPath(); break;
    case kCloseFigure: canvas_.CloseFigure(); break;
    case kAbortPath: canvas_.AbortPath(); break;
    case kFillPath: canvas_.FillPath(); break;
    case kStrokePath: canvas_.StrokePath(); break;
    case kStrokeAndFillPath: canvas_.StrokeAndFillPath(); break;
    case kExtTextOutA: Text(record, false); break;
    case kExtTextOutW: Text(record, true); break;
    case kBitBlt:
    case kStretchBlt:
    case kStretchDiBits:
    case kSetDiBitsToDevice: Transfer(type, record); break;
    default: break;  // not drawn by this player
  }
}

// Calls visit(type, whole record) for each record after the header, until the end record
// or a record that does not fit.
template <class Visit>
void ForEachRecord(std::span<const uint8_t> file, Visit visit) {
  ByteCursor c(file);
  bool first = true;
  while (c.Left() >= 8) {
    std::span<const uint8_t> head(c.Position(), 8);
    ByteCursor h(head);
    const uint32_t type = h.Le32();
    const uint32_t size = h.Le32();
    if (size < 8 || size % 4 != 0 || size > c.Left()) return;
    std::span<const uint8_t> record = c.Take(size);
    if (!first && !visit(type, record)) return;
    first = false;
    if (type == kEof) return;
  }
}

}  // namespace

EmfHeaderError ReadEmfHeader(std::span<const uint8_t> file, EmfHeader& out) {
  ByteCursor c(file);
  const uint32_t type = c.Le32();
  const uint32_t size = c.Le32();
  if (c.RanDry() || type != kHeader) return EmfHeaderError::kNotEnhanced;
  if (size < kHeaderFieldsEnd || size > file.size()) return EmfHeaderError::kNoHeader;
  for (int32_t& v : out.bounds) v = S32(c);
  for (int32_t& v : out.frame) v = S32(c);
  if (c.Le32() != kSignature) return EmfHeaderError::kNotEnhanced;
  c.Skip(12);  // version, bytes, records
  out.handles = c.Le16();
  c.Skip(10);  // reserved, description
  out.paletteEntries = c.Le32();
  out.deviceCx = S32(c);
  out.deviceCy = S32(c);
  out.millimetresCx = S32(c);
  out.millimetresCy = S32(c);
  out.file = file;
  return EmfHeaderError::kNone;
}

std::vector<RgbQuad> ReadEmfPalette(const EmfHeader& header, uint32_t wanted) {
  std::vector<RgbQuad> palette;
  ForEachRecord(header.file, [&](uint32_t type, std::span<const uint8_t> record) {
    if (type != kEof) return true;
    ByteCursor c = At(record, 8);
    const uint32_t entries = c.Le32();
    const uint32_t offset = c.Le32();
    const uint32_t count = std::min({entries, wanted, uint32_t{256}});
    std::span<const uint8_t> table = Part(record, offset, 4 * count);
    ByteCursor t(table);
    while (t.Left() >= 4) {
      RgbQuad q;
      q.red = t.U8();
      q.green = t.U8();
      q.blue = t.U8();
      t.U8();  // flags
      q.reserved = 255;
      palette.push_back(q);
    }
    return false;
  });
  return palette;
}

void PlayEmf(const EmfHeader& header, CMetafileCanvas& canvas) {
  EmfPlayer player(header, canvas);
  ForEachRecord(header.file, [&](uint32_t type, std::span<const uint8_t> record) {
    player.Play(type, record);
    return true;
  });
}

}  // namespace metafile
