// Text output of the metafile canvas: fonts, alignment, advances, background.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "imaging/decode/metafile/metafile_canvas.h"

namespace metafile {
namespace {

// Font sizes in device pixels.
constexpr double kLargestCachedGlyph = 256;

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;  // not a character
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

void CMetafileCanvas::TextOut(Point p, const std::u32string& text, std::span<const double> dx,
                              const double* rect, bool opaqueRect, bool clipRect) {
  ApplyTransform();
  if (dc_.textAlign & kTaUpdateCp) p = dc_.position;
  const double scaleX = DeviceScaleX();
  const double scaleY = DeviceScaleY();
  double x = p.x, y = p.y;
  cairo_user_to_device(cr_, &x, &y);

  cairo_save(cr_);
  if (rect != nullptr && (opaqueRect || clipRect)) {
    cairo_new_path(cr_);
    cairo_rectangle(cr_, rect[0], rect[1], rect[2] - rect[0], rect[3] - rect[1]);
    cairo_identity_matrix(cr_);
    if (opaqueRect) {
      ChargePath(0);
      SetSourceColour(dc_.bkColour);
      cairo_fill_preserve(cr_);
    }
    if (clipRect) cairo_clip(cr_);
    cairo_new_path(cr_);
  }
  cairo_identity_matrix(cr_);

  const Font& f = dc_.font;
  cairo_select_font_face(cr_, f.face.empty() ? "sans-serif" : f.face.c_str(),
                         f.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                         f.weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_set_font_options(cr_, options);
  cairo_font_options_destroy(options);
  double em = 16;  // the device's default font
  if (f.height < 0) {
    em = -f.height * scaleY;
  } else if (f.height > 0) {
    cairo_set_font_size(cr_, 1);
    cairo_font_extents_t unit;
    cairo_font_extents(cr_, &unit);
    double cell = unit.ascent + unit.descent;
    em = f.height * scaleY / (cell > 0 ? cell : 1);
  }
  em = std::min(em, 4.0 * std::max(pictureWidth_, pictureHeight_));
  if (!(em >= 0.5) || text.empty()) {
    cairo_restore(cr_);
    return;
  }
  cairo_set_font_size(cr_, em);
  cairo_font_extents_t fe;
  cairo_font_extents(cr_, &fe);

  std::vector<std::string> glyphs(text.size());
  std::vector<double> advance(text.size());
  double total = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    AppendUtf8(glyphs[i], text[i]);
    if (i < dx.size()) {
      advance[i] = dx[i] * scaleX;
    } else {
      cairo_text_extents_t te;
      cairo_text_extents(cr_, glyphs[i].c_str(), &te);
      advance[i] = te.x_advance;
    }
    total += advance[i];
  }

  cairo_translate(cr_, x, y);
  // In double: the escapement may be any 32-bit value, and -INT_MIN is no int.
  cairo_rotate(cr_, -double(f.escapement) * std::numbers::pi / 1800);
  double ox = 0;
  if ((dc_.textAlign & kTaHorizontalMask) == kTaCenter) {
    ox = -total / 2;
  } else if ((dc_.textAlign & kTaHorizontalMask) == kTaRight) {
    ox = -total;
  }
  double baseline = fe.ascent;
  if ((dc_.textAlign & kTaVerticalMask) == kTaBaseline) {
    baseline = 0;
  } else if ((dc_.textAlign & kTaVerticalMask) == kTaBottom) {
    baseline = -fe.descent;
  }
  ChargeBox(ox, baseline - fe.ascent, ox + total, baseline + fe.descent);
  if (dc_.bkMode == kOpaque && !opaqueRect) {
    cairo_rectangle(cr_, ox, baseline - fe.ascent, total, fe.ascent + fe.descent);
    SetSourceColour(dc_.bkColour);
    cairo_fill(cr_);
  }
  SetSourceColour(dc_.textColour);
  // Large glyphs are filled as outlines: a glyph cache would hold a bitmap of each.
  const bool outline = em > kLargestCachedGlyph;
  double at = ox;
  for (size_t i = 0; i < glyphs.size(); ++i) {
    cairo_move_to(cr_, at, baseline);
    if (outline) {
      cairo_text_path(cr_, glyphs[i].c_str());
    } else {
      cairo_show_text(cr_, glyphs[i].c_str());
    }
    at += advance[i];
  }
  if (outline) cairo_fill(cr_);
  double thickness = std::max(1.0, em / 14);
  if (f.underline) {
    cairo_rectangle(cr_, ox, baseline + fe.descent / 3, total, thickness);
    cairo_fill(cr_);
  }
  if (f.strikeOut) {
    cairo_rectangle(cr_, ox, baseline - fe.ascent / 3, total, thickness);
    cairo_fill(cr_);
  }
  cairo_restore(cr_);
  if ((dc_.textAlign & kTaUpdateCp) && scaleX > 0) {
    dc_.position.x += total / scaleX;
  }
}

}  // namespace metafile
