#include "imaging/decode/png_decoder.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// What the callbacks share with DecodeBody. libpng leaves by longjmp, so the guarded
// functions below hold nothing with a destructor; the message is a plain buffer.
struct PngContext {
  CDataSource* source = nullptr;
  bool endOfData = false;
  char message[256] = {};
};

[[noreturn]] void ErrorFn(png_structp png, png_const_charp message) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  std::snprintf(context->message, sizeof context->message, "%s", message);
  // Back to the setjmp of the guarded call (returning would print the message first).
  png_longjmp(png, 1);
}

void WarningFn(png_structp, png_const_charp) {}

void ReadFn(png_structp png, png_bytep out, size_t n) {
  auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
  // Check before taking: the source's end-of-data exception must not cross libpng's frames.
  if (n > context->source->BytesLeft()) {
    context->endOfData = true;
    png_error(png, "End of file reached while decoding.");
  }
  std::memcpy(out, context->source->Take(n).data(), n);
}

struct Header {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colorType = 0;
  int interlace = 0;
};

bool ReadInfo(png_structp png, png_infop info, Header* h) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  png_get_IHDR(png, info, &h->width, &h->height, &h->bitDepth, &h->colorType, &h->interlace,
               nullptr, nullptr);
  return true;
}

struct Transforms {
  bool expand = false;
  bool grayToRgb = false;
  bool bgr = false;
  bool filler = false;
  bool strip16 = false;
  bool packing = false;
};

// Sets the transforms and reads the image into rows of rowBytes bytes each. Returns false
// after a libpng error, or with *tooWide set when the transformed rows would not fit.
bool ReadImage(png_structp png, png_infop info, const Transforms* t, png_bytepp rows,
               size_t rowBytes, bool* tooWide) {
  if (setjmp(png_jmpbuf(png))) return false;
  if (t->expand) png_set_expand(png);
  if (t->grayToRgb) png_set_gray_to_rgb(png);
  if (t->bgr) png_set_bgr(png);
  if (t->filler) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  if (t->strip16) png_set_strip_16(png);
  if (t->packing) png_set_packing(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) > rowBytes) {
    *tooWide = true;
    return false;
  }
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

// Destroys the read and info structures on every way out of DecodeBody.
struct PngGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngGuard() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
};

}  // namespace

void CPNGDecoder::DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>&, int& bppInOut,
                             CDataSource& source) {
  PngContext context;
  context.source = &source;
  PngGuard guard;
  guard.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, ErrorFn, WarningFn);
  if (guard.png == nullptr) {
    RaiseError(textexception::kNoMemory, "Out of memory creating the PNG read structure.");
  }
  guard.info = png_create_info_struct(guard.png);
  if (guard.info == nullptr) {
    RaiseError(textexception::kNoMemory, "Out of memory creating the PNG info structure.");
  }
  png_set_read_fn(guard.png, &context, ReadFn);

  auto fail = [&] {
    if (context.endOfData) {
      // Let the source raise its own end-of-data exception (code 11), as any decoder
      // reading past the end would.
      source.Take(source.BytesLeft() + 1);
    }
    RaiseError(textexception::kFormatError, context.message);
  };

  Header h;
  if (!ReadInfo(guard.png, guard.info, &h)) fail();

  Transforms t;
  bool alpha = false;
  int bpp = 32;
  switch (h.colorType) {
    case PNG_COLOR_TYPE_GRAY:
      if (bppInOut == 32) {
        t.grayToRgb = t.expand = true;
      } else {
        bpp = 8;
      }
      break;
    case PNG_COLOR_TYPE_PALETTE:
      if (h.bitDepth == 16 || bppInOut == 32) {
        t.expand = true;
      } else {
        bpp = 8;
      }
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      t.grayToRgb = t.expand = true;
      alpha = true;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      alpha = true;
      break;
    default:  // RGB
      break;
  }
  // Colour pictures are always 32 bits and grey or palette ones 8 unless 32 are wanted:
  // rows of any other depth could not hold what libpng delivers.
  bppInOut = bpp;
  if (bpp == 32) {
    t.bgr = true;
    t.filler = !alpha;
  }
  t.strip16 = h.bitDepth == 16;
  t.packing = h.bitDepth < 8;

  CreateBitmap(bmp, static_cast<int>(std::min<png_uint_32>(h.width, INT32_MAX)),
               static_cast<int>(std::min<png_uint_32>(h.height, INT32_MAX)), bpp, alpha,
               "PNG decoder");

  if (bpp == 8) {
    RgbQuad* palette = bmp.GetPalette();
    if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
      png_colorp entries = nullptr;
      int count = 0;
      if (png_get_PLTE(guard.png, guard.info, &entries, &count) != 0) {
        count = std::min(count, kPaletteEntries);
        for (int i = 0; i < count; ++i) {
          palette[i] = RgbQuad{entries[i].blue, entries[i].green, entries[i].red, 255};
        }
      }
    } else {
      // Grey levels arrive unscaled (0 to 2^depth - 1), so the ramp has 2^depth steps.
      int levels = h.bitDepth >= 8 ? 256 : 1 << h.bitDepth;
      for (int i = 0; i < kPaletteEntries; ++i) {
        uint8_t v = i < levels ? static_cast<uint8_t>(i * 255 / (levels - 1)) : 0;
        palette[i] = RgbQuad{v, v, v, 255};
      }
    }
  }

  bool tooWide = false;
  if (!ReadImage(guard.png, guard.info, &t, bmp.GetRowTable(), bmp.GetRowStride(), &tooWide)) {
    if (tooWide) {
      RaiseError(textexception::kFormatError, "PNG decoder: rows wider than the bitmap.");
    }
    fail();
  }
}
