// Pictures for measuring PNG sizes, and the file libpng itself writes for a bitmap, the
// reference our encoder's sizes are held against (the PNG size benchmark and the encoder's
// tests both use them).
//
// The reference: libpng's full write interface with its defaults (zlib level 6, the default
// filter choice: adaptive for true colour, none for palette pictures), the same colour type
// as ours and the bitmap's whole 256-entry palette at 8 bits.
#pragma once

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/core/win_bmp.h"

namespace pngset {

// width x height pixels, 3 bytes each in blue, green, red order, top-down: a window of flat
// panels, a gradient title bar and lines of text (three-tone glyphs of a small alphabet, as
// rendered text repeats its letters). Deterministic.
inline std::vector<uint8_t> GraphicsAndText(int width, int height) {
  const size_t w = size_t(width), h = size_t(height);
  std::vector<uint8_t> bgr(w * h * 3);
  uint32_t seed = 7;
  auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  auto put = [&](size_t x, size_t y, uint32_t rgb) {
    uint8_t* p = &bgr[(y * w + x) * 3];
    p[0] = uint8_t(rgb);
    p[1] = uint8_t(rgb >> 8);
    p[2] = uint8_t(rgb >> 16);
  };
  auto fill = [&](size_t x0, size_t y0, size_t x1, size_t y1, uint32_t rgb) {
    for (size_t y = y0; y < std::min(y1, h); ++y)
      for (size_t x = x0; x < std::min(x1, w); ++x) put(x, y, rgb);
  };
  fill(0, 0, w, h, 0xF0F0F0);
  for (size_t y = 0; y < std::min<size_t>(24, h); ++y)
    for (size_t x = 0; x < w; ++x)
      put(x, y, uint32_t(0x20 + x * 0x60 / w) << 16 | uint32_t(0x40 + x * 0x80 / w) << 8 | 0xC0);
  for (int i = 0; i < 6; ++i) {
    const size_t x0 = next() % w, y0 = 24 + next() % h;
    fill(x0, y0, x0 + 40 + next() % 200, y0 + 20 + next() % 120, 0x808080 + (next() & 0x3F3F3F));
  }
  constexpr size_t kGlyphs = 48, kGlyphWidth = 7, kGlyphHeight = 11;
  std::vector<uint8_t> glyphs(kGlyphs * kGlyphWidth * kGlyphHeight);  // tone 0 (none), 1, 2
  for (uint8_t& tone : glyphs) {
    const uint32_t n = next() % 8;
    tone = n < 2 ? 2 : n < 3 ? 1 : 0;
  }
  const uint32_t tones[3] = {0, 0x909090, 0x202020};
  for (size_t line = 40; line + kGlyphHeight < h; line += 16)
    for (size_t x = 8; x + 16 < w;) {
      const size_t letters = 2 + next() % 7;
      for (size_t k = 0; k < letters && x + 16 < w; ++k, x += kGlyphWidth + 1) {
        const uint8_t* glyph = &glyphs[next() % kGlyphs * kGlyphWidth * kGlyphHeight];
        for (size_t gy = 0; gy < kGlyphHeight; ++gy)
          for (size_t gx = 0; gx < kGlyphWidth; ++gx)
            if (const uint8_t tone = glyph[gy * kGlyphWidth + gx])
              put(x + gx, line + gy, tones[tone]);
      }
      x += kGlyphWidth + 1;  // the space between words
    }
  return bgr;
}

// A 32-bit bitmap (no alpha) of packed blue-green-red pixels.
inline std::unique_ptr<CWinBmp> TrueColour(int width, int height, const std::vector<uint8_t>& bgr) {
  auto bmp = std::make_unique<CWinBmp>();
  bmp->Create(width, height, 32, false);
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = &bgr[size_t(y) * size_t(width) * 3];
    uint8_t* out = bmp->GetRowTable()[y];
    for (int x = 0; x < width; ++x, in += 3, out += 4) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      out[3] = 0;
    }
  }
  return bmp;
}

// An 8-bit bitmap whose rows are all the same ramp of palette indices.
inline std::unique_ptr<CWinBmp> RepeatedRows(int width, int height) {
  auto bmp = std::make_unique<CWinBmp>();
  bmp->Create(width, height, 8, false);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) bmp->GetRowTable()[y][x] = uint8_t(x);
  std::vector<RgbQuad> palette(256);
  for (int i = 0; i < 256; ++i)
    palette[size_t(i)] = {uint8_t(i), uint8_t(i / 2), uint8_t(255 - i), 0};
  bmp->SetPalette(palette.data());
  return bmp;
}

namespace detail {
inline void Append(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
inline void Flush(png_structp) {}

// Holds no object with a destructor across the setjmp.
inline bool Write(const CBmp& bitmap, const uint8_t* const* rows, std::vector<uint8_t>* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, Append, Flush);
  png_set_compression_level(png, 6);  // the default, stated
  const bool palette = bitmap.GetBitsPerPixel() == 8;
  png_set_IHDR(png, info, png_uint_32(bitmap.GetWidth()), png_uint_32(bitmap.GetHeight()), 8,
               palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color colours[256];
  if (palette) {
    for (int i = 0; i < 256; ++i) {
      const RgbQuad& entry = bitmap.GetPalette()[i];
      colours[i] = {entry.red, entry.green, entry.blue};
    }
    png_set_PLTE(png, info, colours, 256);
  }
  png_write_info(png, info);
  for (int y = 0; y < bitmap.GetHeight(); ++y) png_write_row(png, rows[y]);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}
}  // namespace detail

// libpng's file for an 8-bit or a 32-bit bitmap without alpha; empty when libpng failed.
inline std::vector<uint8_t> LibpngFile(const CBmp& bitmap) {
  const size_t width = size_t(bitmap.GetWidth()), height = size_t(bitmap.GetHeight());
  const bool palette = bitmap.GetBitsPerPixel() == 8;
  std::vector<uint8_t> pixels(palette ? 0 : width * height * 3);  // red, green, blue
  std::vector<const uint8_t*> rows(height);
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* in = bitmap.GetRowTable()[y];
    if (palette) {
      rows[y] = in;
      continue;
    }
    uint8_t* out = &pixels[y * width * 3];
    rows[y] = out;
    for (size_t x = 0; x < width; ++x, in += 4, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
  std::vector<uint8_t> file;
  if (!detail::Write(bitmap, rows.data(), &file)) file.clear();
  return file;
}

}  // namespace pngset
