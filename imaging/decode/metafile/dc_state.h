// The drawing state a metafile's records change: the selected pen, brush and font, colours,
// modes, the page mapping (window and viewport) and the world transform. Both record players
// keep their objects in these shapes; the canvas draws with them.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace metafile {

// A colour as the files store it: 0x00BBGGRR.
using ColorRef = uint32_t;

struct Point {
  double x = 0;
  double y = 0;
};

// Pen styles (low four bits of the style) and the end cap / join bits of geometric pens.
inline constexpr int kPsSolid = 0, kPsDash = 1, kPsDot = 2, kPsDashDot = 3, kPsDashDotDot = 4,
                     kPsNull = 5;
inline constexpr int kPsEndCapSquare = 0x100, kPsEndCapFlat = 0x200, kPsEndCapMask = 0xF00;
inline constexpr int kPsJoinBevel = 0x1000, kPsJoinMiter = 0x2000, kPsJoinMask = 0xF000;

// Brush styles and hatch patterns.
inline constexpr int kBsSolid = 0, kBsNull = 1, kBsHatched = 2, kBsPattern = 3,
                     kBsDibPattern = 5, kBsDibPatternPt = 6;

// Background modes, fill modes, text alignment, mapping modes.
inline constexpr int kTransparent = 1, kOpaque = 2;
inline constexpr int kAlternate = 1, kWinding = 2;
inline constexpr int kTaUpdateCp = 1, kTaRight = 2, kTaCenter = 6, kTaHorizontalMask = 6;
inline constexpr int kTaBottom = 8, kTaBaseline = 24, kTaVerticalMask = 24;
inline constexpr int kMmText = 1, kMmLoMetric = 2, kMmHiMetric = 3, kMmLoEnglish = 4,
                     kMmHiEnglish = 5, kMmTwips = 6, kMmIsotropic = 7, kMmAnisotropic = 8;

// Owns a Cairo surface (a bitmap for pattern brushes and transfers).
struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::shared_ptr<cairo_surface_t>;
inline SurfacePtr AdoptSurface(cairo_surface_t* s) { return SurfacePtr(s, SurfaceDeleter()); }

struct Pen {
  int style = kPsSolid;
  double width = 0;  // logical units; 0 draws one device pixel wide
  ColorRef colour = 0;
};

struct Brush {
  int style = kBsSolid;
  ColorRef colour = 0xFFFFFF;
  int hatch = 0;
  SurfacePtr pattern;  // kBsPattern / kBsDibPattern
};

struct Font {
  double height = 0;  // < 0: character height; > 0: cell height; 0: default size
  int escapement = 0;  // tenths of a degree, counter-clockwise
  int weight = 400;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  std::string face;
};

// Palettes, regions and anything else a file may create: they take a slot, nothing more.
struct OtherObject {};
using GdiObject = std::variant<Pen, Brush, Font, OtherObject>;

struct DcState {
  Pen pen;
  Brush brush;
  Font font;
  ColorRef textColour = 0;
  ColorRef bkColour = 0xFFFFFF;
  int bkMode = kOpaque;
  int textAlign = 0;
  int polyFillMode = kAlternate;
  int mapMode = kMmText;
  Point windowOrg, windowExt{1, 1}, viewportOrg, viewportExt{1, 1};
  cairo_matrix_t world{1, 0, 0, 1, 0, 0};
  Point position;  // current position, logical
};

}  // namespace metafile
