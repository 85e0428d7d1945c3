#include "imaging/decode/metafile/metafile_canvas.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace metafile {
namespace {

// Deeper save stacks than this are ignored: no drawing needs them, a damaged file could
// ask for millions.
constexpr size_t kMaxSaveDepth = 1024;
constexpr int kMaxSaveLevels = 1 << 20;

double Red(ColorRef c) { return (c & 0xFF) / 255.0; }
double Green(ColorRef c) { return ((c >> 8) & 0xFF) / 255.0; }
double Blue(ColorRef c) { return ((c >> 16) & 0xFF) / 255.0; }

bool Finite(const cairo_matrix_t& m) {
  return std::isfinite(m.xx) && std::isfinite(m.yx) && std::isfinite(m.xy) &&
         std::isfinite(m.yy) && std::isfinite(m.x0) && std::isfinite(m.y0);
}

bool Invertible(const cairo_matrix_t& m) {
  double det = m.xx * m.yy - m.yx * m.xy;
  return Finite(m) && std::isfinite(det) && std::fabs(det) > 1e-12;
}

double NonZero(double v) { return v == 0 ? 1 : v; }

// Length of a path's lines; for a curve, of its control polygon (never shorter than it).
double PathLength(const cairo_path_t* path) {
  double length = 0, x = 0, y = 0, startX = 0, startY = 0;
  for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
    const cairo_path_data_t* d = &path->data[i];
    auto to = [&](const cairo_path_data_t& p) {
      length += std::hypot(p.point.x - x, p.point.y - y);
      x = p.point.x;
      y = p.point.y;
    };
    switch (d->header.type) {
      case CAIRO_PATH_MOVE_TO:
        x = startX = d[1].point.x;
        y = startY = d[1].point.y;
        break;
      case CAIRO_PATH_LINE_TO: to(d[1]); break;
      case CAIRO_PATH_CURVE_TO: to(d[1]); to(d[2]); to(d[3]); break;
      case CAIRO_PATH_CLOSE_PATH:
        length += std::hypot(startX - x, startY - y);
        x = startX;
        y = startY;
        break;
    }
  }
  return length;
}

// The 8 x 8 device-pixel hatch of a hatched brush, lines opaque, the rest transparent.
SurfacePtr HatchSurface(int hatch, ColorRef colour) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
  cairo_surface_flush(s);
  uint8_t* data = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  if (data != nullptr) {
    uint32_t argb = 0xFF000000u | uint32_t(colour & 0xFF) << 16 | (colour & 0xFF00) |
                    ((colour >> 16) & 0xFF);
    for (int y = 0; y < 8; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
      for (int x = 0; x < 8; ++x) {
        bool on = false;
        switch (hatch) {
          case 0: on = y == 4; break;                    // horizontal
          case 1: on = x == 4; break;                    // vertical
          case 2: on = x == y; break;                    // forward diagonal
          case 3: on = x + y == 7; break;                // backward diagonal
          case 4: on = x == 4 || y == 4; break;          // cross
          default: on = x == y || x + y == 7; break;     // diagonal cross
        }
        row[x] = on ? argb : 0;
      }
    }
  }
  cairo_surface_mark_dirty(s);
  return AdoptSurface(s);
}

}  // namespace

CMetafileCanvas::CMetafileCanvas(cairo_surface_t* surface, Kind kind,
                                 const cairo_matrix_t& frame, double devicePixelsPerMm,
                                 CDecodeBudget& budget)
    : cr_(cairo_create(surface)),
      budget_(budget),
      kind_(kind),
      frame_(frame),
      pixelsPerMm_(devicePixelsPerMm > 0 && std::isfinite(devicePixelsPerMm)
                       ? devicePixelsPerMm
                       : 96 / 25.4),
      pictureWidth_(cairo_image_surface_get_width(surface)),
      pictureHeight_(cairo_image_surface_get_height(surface)) {
  if (!Invertible(frame_)) cairo_matrix_init_identity(&frame_);
  cairo_set_source_rgb(cr_, 1, 1, 1);
  cairo_paint(cr_);
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
  if (kind_ == Kind::kClassic) dc_.windowExt = {double(pictureWidth_), double(pictureHeight_)};
}

CMetafileCanvas::~CMetafileCanvas() {
  if (path_ != nullptr) cairo_path_destroy(path_);
  cairo_destroy(cr_);
}

void CMetafileCanvas::Select(const GdiObject& object) {
  if (const auto* pen = std::get_if<Pen>(&object)) dc_.pen = *pen;
  if (const auto* brush = std::get_if<Brush>(&object)) dc_.brush = *brush;
  if (const auto* font = std::get_if<Font>(&object)) dc_.font = *font;
}

void CMetafileCanvas::SaveDc() {
  if (saved_.size() >= kMaxSaveDepth) return;
  saved_.push_back(dc_);
  cairo_save(cr_);
}

void CMetafileCanvas::RestoreDc(int which) {
  size_t levels = 0;
  if (which < 0 && which >= -kMaxSaveLevels) {
    levels = static_cast<size_t>(-which);
  } else if (which > 0 && static_cast<size_t>(which) <= saved_.size()) {
    levels = saved_.size() - static_cast<size_t>(which) + 1;
  }
  if (levels == 0 || levels > saved_.size()) return;  // as the device would: refused
  for (size_t i = 0; i < levels; ++i) {
    dc_ = saved_.back();
    saved_.pop_back();
    cairo_restore(cr_);
  }
}

cairo_matrix_t CMetafileCanvas::PageMatrix() const {
  double sx = 1;
  double sy = 1;
  if (kind_ == Kind::kClassic) {
    sx = pictureWidth_ / NonZero(dc_.windowExt.x);
    sy = pictureHeight_ / NonZero(dc_.windowExt.y);
  } else {
    switch (dc_.mapMode) {
      case kMmLoMetric: sx = pixelsPerMm_ * 0.1; sy = -sx; break;
      case kMmHiMetric: sx = pixelsPerMm_ * 0.01; sy = -sx; break;
      case kMmLoEnglish: sx = pixelsPerMm_ * 0.254; sy = -sx; break;
      case kMmHiEnglish: sx = pixelsPerMm_ * 0.0254; sy = -sx; break;
      case kMmTwips: sx = pixelsPerMm_ * 25.4 / 1440; sy = -sx; break;
      case kMmIsotropic:
      case kMmAnisotropic:
        sx = dc_.viewportExt.x / NonZero(dc_.windowExt.x);
        sy = dc_.viewportExt.y / NonZero(dc_.windowExt.y);
        if (dc_.mapMode == kMmIsotropic) {
          double s = std::min(std::fabs(sx), std::fabs(sy));
          sx = std::copysign(s, sx);
          sy = std::copysign(s, sy);
        }
        break;
      default: break;
    }
  }
  cairo_matrix_t page;
  cairo_matrix_init(&page, sx, 0, 0, sy, -dc_.windowOrg.x * sx, -dc_.windowOrg.y * sy);
  if (kind_ == Kind::kEnhanced) {
    page.x0 += dc_.viewportOrg.x;
    page.y0 += dc_.viewportOrg.y;
  }
  return page;
}

void CMetafileCanvas::ApplyTransform() {
  cairo_matrix_t page = PageMatrix();
  cairo_matrix_t m;
  cairo_matrix_multiply(&m, &dc_.world, &page);
  cairo_matrix_multiply(&m, &m, &frame_);
  if (!Invertible(m)) {
    // A window or viewport of extreme size: draw nothing rather than put Cairo in error.
    cairo_matrix_init(&m, 1e-9, 0, 0, 1e-9, -1e6, -1e6);
  }
  cairo_set_matrix(cr_, &m);
}

double CMetafileCanvas::DeviceScaleX() const {
  cairo_matrix_t m;
  cairo_get_matrix(cr_, &m);
  return std::hypot(m.xx, m.yx);
}

double CMetafileCanvas::DeviceScaleY() const {
  cairo_matrix_t m;
  cairo_get_matrix(cr_, &m);
  return std::hypot(m.xy, m.yy);
}

void CMetafileCanvas::Charge(double x1, double y1, double x2, double y2, double cap) {
  x1 = std::clamp(x1, 0.0, double(pictureWidth_));
  x2 = std::clamp(x2, 0.0, double(pictureWidth_));
  y1 = std::clamp(y1, 0.0, double(pictureHeight_));
  y2 = std::clamp(y2, 0.0, double(pictureHeight_));
  double area = std::ceil(std::fabs(x2 - x1)) * std::ceil(std::fabs(y2 - y1));
  area = std::min(area, std::ceil(cap));
  budget_.Spend(1 + static_cast<uint64_t>(area >= 0 ? area : 0), "Metafile decoder");
}

void CMetafileCanvas::ChargePath(double pad, double cap) {
  cairo_matrix_t saved;
  cairo_get_matrix(cr_, &saved);
  cairo_identity_matrix(cr_);  // paths are kept in device space
  double x1, y1, x2, y2;
  cairo_path_extents(cr_, &x1, &y1, &x2, &y2);
  cairo_set_matrix(cr_, &saved);
  Charge(x1 - pad, y1 - pad, x2 + pad, y2 + pad, cap);
}

void CMetafileCanvas::ChargeBox(double x1, double y1, double x2, double y2) {
  double xs[] = {x1, x2, x2, x1}, ys[] = {y1, y1, y2, y2};
  for (int i = 0; i < 4; ++i) cairo_user_to_device(cr_, &xs[i], &ys[i]);
  Charge(*std::min_element(xs, xs + 4), *std::min_element(ys, ys + 4),
         *std::max_element(xs, xs + 4), *std::max_element(ys, ys + 4),
         std::fabs((x2 - x1) * (y2 - y1)) * DeviceScaleX() * DeviceScaleY());
}

bool CMetafileCanvas::SetWorldTransform(const cairo_matrix_t& m) {
  if (!Invertible(m)) return false;
  dc_.world = m;
  return true;
}

void CMetafileCanvas::ModifyWorldTransform(const cairo_matrix_t& m, int mode) {
  cairo_matrix_t result;
  switch (mode) {
    case 1: cairo_matrix_init_identity(&dc_.world); return;
    case 2: cairo_matrix_multiply(&result, &m, &dc_.world); break;  // m first
    case 3: cairo_matrix_multiply(&result, &dc_.world, &m); break;
    case 4: result = m; break;
    default: return;
  }
  SetWorldTransform(result);
}

void CMetafileCanvas::IntersectClip(double left, double top, double right, double bottom) {
  ApplyTransform();
  cairo_new_path(cr_);
  cairo_rectangle(cr_, left, top, right - left, bottom - top);
  cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
  cairo_clip(cr_);
}

void CMetafileCanvas::SetSourceColour(ColorRef c) {
  cairo_set_source_rgb(cr_, Red(c), Green(c), Blue(c));
}

void CMetafileCanvas::MoveTo(Point p) {
  dc_.position = p;
  if (recordingPath_) {
    ApplyTransform();
    cairo_move_to(cr_, p.x, p.y);
  }
}

void CMetafileCanvas::LineTo(Point p) {
  ApplyTransform();
  if (!recordingPath_) {
    cairo_new_path(cr_);
    cairo_move_to(cr_, dc_.position.x, dc_.position.y);
  } else if (!cairo_has_current_point(cr_)) {
    cairo_move_to(cr_, dc_.position.x, dc_.position.y);
  }
  cairo_line_to(cr_, p.x, p.y);
  dc_.position = p;
  FinishShape(false);
}

void CMetafileCanvas::Polyline(std::span<const Point> points, bool fromCurrent) {
  if (points.empty()) return;
  ApplyTransform();
  if (!recordingPath_) cairo_new_path(cr_);
  if (fromCurrent) {
    if (!recordingPath_ || !cairo_has_current_point(cr_)) {
      cairo_move_to(cr_, dc_.position.x, dc_.position.y);
    }
  } else {
    cairo_move_to(cr_, points[0].x, points[0].y);
  }
  for (size_t i = fromCurrent ? 0 : 1; i < points.size(); ++i) {
    cairo_line_to(cr_, points[i].x, points[i].y);
  }
  if (fromCurrent) dc_.position = points.back();
  FinishShape(false);
}

void CMetafileCanvas::PolyBezier(std::span<const Point> points, bool fromCurrent) {
  ApplyTransform();
  if (!recordingPath_) cairo_new_path(cr_);
  size_t i = 0;
  if (fromCurrent) {
    if (!recordingPath_ || !cairo_has_current_point(cr_)) {
      cairo_move_to(cr_, dc_.position.x, dc_.position.y);
    }
  } else {
    if (points.empty()) return;
    cairo_move_to(cr_, points[0].x, points[0].y);
    i = 1;
  }
  for (; i + 3 <= points.size(); i += 3) {
    cairo_curve_to(cr_, points[i].x, points[i].y, points[i + 1].x, points[i + 1].y,
                   points[i + 2].x, points[i + 2].y);
  }
  if (fromCurrent && !points.empty()) dc_.position = points[i - (i > 0 ? 1 : 0)];
  FinishShape(false);
}

void CMetafileCanvas::Polygon(std::span<const Point> points) {
  uint32_t count = static_cast<uint32_t>(points.size());
  PolyPolygon(points, std::span<const uint32_t>(&count, 1), true);
}

void CMetafileCanvas::PolyPolygon(std::span<const Point> points,
                                  std::span<const uint32_t> counts, bool closed) {
  ApplyTransform();
  if (!recordingPath_) cairo_new_path(cr_);
  size_t at = 0;
  for (uint32_t n : counts) {
    if (n > points.size() - at) break;
    for (uint32_t i = 0; i < n; ++i) {
      const Point& p = points[at + i];
      if (i == 0) {
        cairo_move_to(cr_, p.x, p.y);
      } else {
        cairo_line_to(cr_, p.x, p.y);
      }
    }
    if (closed && n > 0) cairo_close_path(cr_);
    at += n;
  }
  FinishShape(closed);
}

void CMetafileCanvas::Rectangle(double left, double top, double right, double bottom) {
  ApplyTransform();
  if (!recordingPath_) cairo_new_path(cr_);
  cairo_rectangle(cr_, left, top, right - left, bottom - top);
  FinishShape(true);
}

void CMetafileCanvas::RoundRect(double left, double top, double right, double bottom,
                                double cornerW, double cornerH) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  double rx = std::min(std::fabs(cornerW) / 2, (right - left) / 2);
  double ry = std::min(std::fabs(cornerH) / 2, (bottom - top) / 2);
  if (rx <= 0 || ry <= 0) {
    Rectangle(left, top, right, bottom);
    return;
  }
  ApplyTransform();
  if (!recordingPath_) cairo_new_path(cr_);
  cairo_matrix_t saved;
  cairo_get_matrix(cr_, &saved);
  const double pi = std::numbers::pi;
  struct Corner { double cx, cy, from; } corners[] = {
      {right - rx, top + ry, -pi / 2}, {right - rx, bottom - ry, 0},
      {left + rx, bottom - ry, pi / 2}, {left + rx, top + ry, pi}};
  cairo_new_sub_path(cr_);
  for (const Corner& c : corners) {
    cairo_translate(cr_, c.cx, c.cy);
    cairo_scale(cr_, rx, ry);
    cairo_arc(cr_, 0, 0, 1, c.from, c.from + pi / 2);
    cairo_set_matrix(cr_, &saved);
  }
  cairo_close_path(cr_);
  FinishShape(true);
}

void CMetafileCanvas::Ellipse(double left, double top, double right, double bottom) {
  double rx = std::fabs(right - left) / 2;
  double ry = std::fabs(bottom - top) / 2;
  if (rx <= 0 || ry <= 0) return;
  ApplyTransform();
  if (!recordingPath_) cairo_new_path(cr_);
  cairo_matrix_t saved;
  cairo_get_matrix(cr_, &saved);
  cairo_new_sub_path(cr_);
  cairo_translate(cr_, (left + right) / 2, (top + bottom) / 2);
  cairo_scale(cr_, rx, ry);
  cairo_arc(cr_, 0, 0, 1, 0, 2 * std::numbers::pi);
  cairo_set_matrix(cr_, &saved);
  cairo_close_path(cr_);
  FinishShape(true);
}

void CMetafileCanvas::Arc(ArcKind kind, double left, double top, double right, double bottom,
                          Point start, Point end) {
  double cx = (left + right) / 2;
  double cy = (top + bottom) / 2;
  double rx = std::fabs(right - left) / 2;
  double ry = std::fabs(bottom - top) / 2;
  if (rx <= 0 || ry <= 0) return;
  // Angles on the ellipse of the radials through the start and end points; the arc runs
  // counter-clockwise on screen from one to the other, all the way round when they meet.
  double a1 = std::atan2((start.y - cy) / ry, (start.x - cx) / rx);
  double a2 = std::atan2((end.y - cy) / ry, (end.x - cx) / rx);
  if (a1 == a2) a2 = a1 - 2 * std::numbers::pi;
  ApplyTransform();
  if (!recordingPath_) cairo_new_path(cr_);
  cairo_matrix_t saved;
  cairo_get_matrix(cr_, &saved);
  if (kind == ArcKind::kPie) {
    cairo_move_to(cr_, cx, cy);
  } else {
    cairo_new_sub_path(cr_);
  }
  cairo_translate(cr_, cx, cy);
  cairo_scale(cr_, rx, ry);
  cairo_arc_negative(cr_, 0, 0, 1, a1, a2);
  cairo_set_matrix(cr_, &saved);
  if (kind != ArcKind::kArc) cairo_close_path(cr_);
  FinishShape(kind != ArcKind::kArc);
}

void CMetafileCanvas::SetPixel(Point p, ColorRef colour) {
  budget_.Spend(1, "Metafile decoder");
  ApplyTransform();
  double x = p.x, y = p.y;
  cairo_user_to_device(cr_, &x, &y);
  cairo_identity_matrix(cr_);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, std::floor(x), std::floor(y), 1, 1);
  SetSourceColour(colour);
  cairo_fill(cr_);
}

void CMetafileCanvas::FinishShape(bool fill) {
  if (recordingPath_) return;
  if (fill) FillCurrentPath();
  StrokeCurrentPath();
  cairo_new_path(cr_);
}

void CMetafileCanvas::FillCurrentPath() {
  const Brush& b = dc_.brush;
  if (b.style == kBsNull) return;
  cairo_matrix_t saved;
  cairo_get_matrix(cr_, &saved);
  cairo_identity_matrix(cr_);  // brush patterns line up with device pixels
  cairo_set_fill_rule(cr_, dc_.polyFillMode == kWinding ? CAIRO_FILL_RULE_WINDING
                                                         : CAIRO_FILL_RULE_EVEN_ODD);
  SurfacePtr pattern;
  ChargePath(0);
  if (b.style == kBsHatched) {
    if (dc_.bkMode == kOpaque) {
      ChargePath(0);
      SetSourceColour(dc_.bkColour);
      cairo_fill_preserve(cr_);
    }
    pattern = HatchSurface(b.hatch, b.colour);
  } else if ((b.style == kBsPattern || b.style == kBsDibPattern ||
              b.style == kBsDibPatternPt) && b.pattern) {
    pattern = b.pattern;
  }
  if (pattern) {
    cairo_set_source_surface(cr_, pattern.get(), 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_REPEAT);
  } else {
    SetSourceColour(b.colour);
  }
  cairo_fill_preserve(cr_);
  cairo_set_matrix(cr_, &saved);
}

void CMetafileCanvas::StrokeCurrentPath() {
  const Pen& p = dc_.pen;
  int style = p.style & 0xF;
  if (style == kPsNull) return;
  double width = p.width > 0 ? p.width * std::max(DeviceScaleX(), DeviceScaleY()) : 1;
  // A stroke wider than the picture looks the same as one just as wide as it.
  width = std::clamp(width, 1.0, 2.0 * (pictureWidth_ + pictureHeight_) + 2);
  // A device pixel is the square right of and below its coordinate: move the path half a
  // pixel so that a one-pixel line lights the pixels it names.
  cairo_identity_matrix(cr_);
  cairo_path_t* path = cairo_copy_path(cr_);
  // A stroke paints about its length times its width, far less than its box when the
  // line runs across the picture.
  const double length = PathLength(path);
  cairo_new_path(cr_);
  cairo_translate(cr_, 0.5, 0.5);
  cairo_append_path(cr_, path);
  cairo_path_destroy(path);
  cairo_identity_matrix(cr_);
  ChargePath(width / 2 + 1, (length + width + 2) * (width + 2));
  cairo_set_line_width(cr_, width);
  bool cosmetic = width <= 1.5;
  int cap = p.style & kPsEndCapMask;
  int join = p.style & kPsJoinMask;
  cairo_set_line_cap(cr_, cosmetic || cap == kPsEndCapFlat ? CAIRO_LINE_CAP_BUTT
                          : cap == kPsEndCapSquare       ? CAIRO_LINE_CAP_SQUARE
                                                         : CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr_, join == kPsJoinBevel   ? CAIRO_LINE_JOIN_BEVEL
                           : join == kPsJoinMiter ? CAIRO_LINE_JOIN_MITER
                                                  : CAIRO_LINE_JOIN_ROUND);
  static const double kDash[] = {18, 6}, kDot[] = {3, 3}, kDashDot[] = {9, 6, 3, 6},
                      kDashDotDot[] = {9, 3, 3, 3, 3, 3};
  // Styled lines exist for one-pixel pens only; wider ones draw solid.
  if (cosmetic && style == kPsDash) {
    cairo_set_dash(cr_, kDash, 2, 0);
  } else if (cosmetic && style == kPsDot) {
    cairo_set_dash(cr_, kDot, 2, 0);
  } else if (cosmetic && style == kPsDashDot) {
    cairo_set_dash(cr_, kDashDot, 4, 0);
  } else if (cosmetic && style == kPsDashDotDot) {
    cairo_set_dash(cr_, kDashDotDot, 6, 0);
  } else {
    cairo_set_dash(cr_, nullptr, 0, 0);
  }
  SetSourceColour(p.colour);
  cairo_stroke_preserve(cr_);
  cairo_set_dash(cr_, nullptr, 0, 0);
}

void CMetafileCanvas::PatBlt(double left, double top, double width, double height,
                             uint32_t rop) {
  ApplyTransform();
  cairo_new_path(cr_);
  cairo_rectangle(cr_, left, top, width, height);
  cairo_identity_matrix(cr_);
  if (rop == kWhiteness || rop == kBlackness || rop == kDstInvert) ChargePath(0);
  if (rop == kWhiteness || rop == kBlackness) {
    SetSourceColour(rop == kWhiteness ? 0xFFFFFF : 0);
    cairo_fill(cr_);
  } else if (rop == kDstInvert) {
    cairo_set_operator(cr_, CAIRO_OPERATOR_DIFFERENCE);
    SetSourceColour(0xFFFFFF);
    cairo_fill(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
  } else {
    FillCurrentPath();
  }
  cairo_new_path(cr_);
}

void CMetafileCanvas::StretchBitmap(cairo_surface_t* bitmap, double dx, double dy, double dw,
                                    double dh, double sx, double sy, double sw, double sh,
                                    uint32_t rop) {
  if (dw == 0 || dh == 0 || sw <= 0 || sh <= 0) return;
  if (rop == kWhiteness || rop == kBlackness || rop == kPatCopy || rop == kDstInvert) {
    PatBlt(dx, dy, dw, dh, rop);
    return;
  }
  if (bitmap == nullptr) return;
  ApplyTransform();
  cairo_new_path(cr_);
  cairo_rectangle(cr_, dx, dy, dw, dh);
  cairo_set_source_surface(cr_, bitmap, 0, 0);
  cairo_pattern_t* pattern = cairo_get_source(cr_);
  cairo_matrix_t pm;
  cairo_matrix_init_translate(&pm, sx, sy);
  cairo_matrix_scale(&pm, sw / dw, sh / dh);
  cairo_matrix_translate(&pm, -dx, -dy);
  if (!Invertible(pm)) {
    cairo_new_path(cr_);
    return;
  }
  cairo_pattern_set_matrix(pattern, &pm);
  ChargePath(0);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  // The two masking transfers drawing programs pair for transparency: AND, then OR.
  constexpr uint32_t kSrcAnd = 0x008800C6, kSrcPaint = 0x00EE0086;
  cairo_set_operator(cr_, rop == kSrcAnd     ? CAIRO_OPERATOR_MULTIPLY
                          : rop == kSrcPaint ? CAIRO_OPERATOR_LIGHTEN
                                             : CAIRO_OPERATOR_OVER);
  cairo_fill(cr_);
  cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
}

}  // namespace metafile
