// CMetafileCanvas: the device context a metafile plays into, drawn with Cairo on an RGB
// picture (pixels blue, green, red, unused; top row first).
//
// Records give logical coordinates. A point reaches the picture through the world transform
// (enhanced files only), the page mapping (mapping mode, window and viewport) and the
// placement of the file's reference frame on the picture. Classic files map their window
// straight onto the whole picture, as playing them into a rectangle does; their mapping mode
// and viewport do not move anything.
//
// Shapes are drawn without anti-aliasing, as a GDI device would; text is smoothed. Every
// argument may come from a damaged file: non-finite or singular transforms are refused,
// sizes are clamped, and nothing here fails but the budget: each fill, stroke, transfer and
// text spends the pixels of its bounding box within the picture (at least one) as drawing
// work, and passing the work limit raises code 10 (decode_budget.h).
//
// Text output lives in metafile_text.cpp, path brackets in metafile_paths.cpp.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imaging/decode/decode_budget.h"
#include "imaging/decode/metafile/dc_state.h"

namespace metafile {

class CMetafileCanvas {
public:
  enum class Kind { kClassic, kEnhanced };
  enum class ArcKind { kArc, kChord, kPie };

  // Draws on `surface` (CAIRO_FORMAT_RGB24), which it fills white. `frame` places the
  // reference frame: for classic files unused (the window fills the picture); for enhanced
  // files the matrix from reference-device pixels to picture pixels. `budget` must outlive
  // the canvas and every surface made for it.
  CMetafileCanvas(cairo_surface_t* surface, Kind kind, const cairo_matrix_t& frame,
                  double devicePixelsPerMm, CDecodeBudget& budget);
  ~CMetafileCanvas();
  CMetafileCanvas(const CMetafileCanvas&) = delete;
  CMetafileCanvas& operator=(const CMetafileCanvas&) = delete;

  DcState& Dc() { return dc_; }
  CDecodeBudget& Budget() { return budget_; }
  void Select(const GdiObject& object);

  void SaveDc();
  // Negative: that many levels back; positive: back to that absolute level.
  void RestoreDc(int which);
  void IntersectClip(double left, double top, double right, double bottom);
  // World transform; false (nothing changed) for a non-finite or singular matrix.
  bool SetWorldTransform(const cairo_matrix_t& m);
  // 1 identity, 2 left-multiply, 3 right-multiply, 4 set (as the enhanced records say).
  void ModifyWorldTransform(const cairo_matrix_t& m, int mode);

  void MoveTo(Point p);
  void LineTo(Point p);
  void Polyline(std::span<const Point> points, bool fromCurrent = false);
  void PolyBezier(std::span<const Point> points, bool fromCurrent = false);
  void Polygon(std::span<const Point> points);
  // counts[i] consecutive points per polygon; the counts must add up to points.size().
  void PolyPolygon(std::span<const Point> points, std::span<const uint32_t> counts,
                   bool closed);
  void Rectangle(double left, double top, double right, double bottom);
  void RoundRect(double left, double top, double right, double bottom, double cornerW,
                 double cornerH);
  void Ellipse(double left, double top, double right, double bottom);
  void Arc(ArcKind kind, double left, double top, double right, double bottom, Point start,
           Point end);
  void SetPixel(Point p, ColorRef colour);
  // Fills a logical rectangle with the brush (kPatCopy), white, black, or leaves it.
  void PatBlt(double left, double top, double width, double height, uint32_t rop);
  // Text: code points; dx (logical advances, may be empty); opaque/clip rectangle optional.
  void TextOut(Point p, const std::u32string& text, std::span<const double> dx,
               const double* rect, bool opaqueRect, bool clipRect);
  // Draws the part (sx, sy, sw, sh) of `bitmap` into the logical rectangle.
  void StretchBitmap(cairo_surface_t* bitmap, double dx, double dy, double dw, double dh,
                     double sx, double sy, double sw, double sh, uint32_t rop);

  // Path bracket (enhanced files).
  void BeginPath();
  void EndPath();
  void CloseFigure();
  void AbortPath();
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();

  static constexpr uint32_t kSrcCopy = 0x00CC0020, kPatCopy = 0x00F00021,
                            kBlackness = 0x00000042, kWhiteness = 0x00FF0062,
                            kDstInvert = 0x00550009;

private:
  cairo_matrix_t PageMatrix() const;
  void ApplyTransform();
  // Fill with the brush (when it is not null), then stroke with the pen, unless a path is
  // being recorded, in which case the figure stays in the path.
  void FinishShape(bool fill);
  void FillCurrentPath();
  void StrokeCurrentPath();
  void SetSourceColour(ColorRef c);
  double DeviceScaleY() const;
  double DeviceScaleX() const;
  // Spends the picture's pixels inside the device rectangle, or `cap` when fewer, and
  // one more: every call costs something.
  void Charge(double x1, double y1, double x2, double y2,
              double cap = std::numeric_limits<double>::infinity());
  // Charges the current path's device extents grown by `pad` on every side, at most `cap`.
  void ChargePath(double pad, double cap = std::numeric_limits<double>::infinity());
  // Charges the device box around a rectangle in user space (turned or not), at most the
  // rectangle's own area.
  void ChargeBox(double x1, double y1, double x2, double y2);

  cairo_t* cr_;
  CDecodeBudget& budget_;
  Kind kind_;
  cairo_matrix_t frame_;
  double pixelsPerMm_;
  int pictureWidth_;
  int pictureHeight_;
  DcState dc_;
  std::vector<DcState> saved_;
  bool recordingPath_ = false;
  cairo_path_t* path_ = nullptr;  // the last closed path bracket, device coordinates
};

}  // namespace metafile
