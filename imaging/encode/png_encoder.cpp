// The libpng adapter. libpng reports errors by longjmp: only WriteAll runs library calls
// that may fail, and it holds no object with a destructor. A sink exception is caught in
// the write callback, parked, and carried over the library's frames by png_error.
#include "imaging/encode/png_encoder.h"

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <exception>

#include "imaging/core/text_exception.h"
#include "imaging/encode/png_image_data.h"

namespace {

constexpr size_t kPngErrorLength = 200;

struct WriteState {
  CDataSink* sink;
  std::exception_ptr* pending;
  char message[kPngErrorLength];
};

void OnError(png_structp png, png_const_charp message) {
  auto* state = static_cast<WriteState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message != nullptr ? message : "");
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

bool HandToSink(WriteState* state, const png_byte* data, size_t length) noexcept {
  try {
    state->sink->WriteBytes(length, data);
    return true;
  } catch (...) {
    *state->pending = std::current_exception();
    return false;
  }
}

void OnWrite(png_structp png, png_bytep data, size_t length) {
  auto* state = static_cast<WriteState*>(png_get_io_ptr(png));
  if (!HandToSink(state, data, length)) png_error(png, "Write Error");
}

void OnFlush(png_structp) {}

struct Layout {
  int width;
  int height;
  int colourType;
  const png_color* palette;  // 256 entries for colour type 3
  const png::ImageData* data;
};

// IDAT chunks of at most this many bytes; readers take any size, 64 KiB is the common one.
constexpr size_t kIdatChunkBytes = 65536;

// longjmp zone: the whole file after the structures exist. False when libpng failed.
// libpng writes signature, header and palette; the image data, filtered and deflated
// beforehand, goes out through its chunk writer, followed by the end chunk.
bool WriteAll(png_structp png, png_infop info, const Layout* layout) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, static_cast<png_uint_32>(layout->width),
               static_cast<png_uint_32>(layout->height), 8, layout->colourType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (layout->colourType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, layout->palette, 256);
  png_write_info(png, info);
  static const png_byte kIdat[5] = "IDAT";
  static const png_byte kIend[5] = "IEND";
  const uint8_t* bytes = layout->data->bytes.get();
  for (size_t at = 0, size = layout->data->size; at < size; at += kIdatChunkBytes)
    png_write_chunk(png, kIdat, bytes + at, size - at < kIdatChunkBytes ? size - at : kIdatChunkBytes);
  png_write_chunk(png, kIend, nullptr, 0);
  return true;
}

}  // namespace

size_t CPNGEncoder::MaxEncodedSize(const CBmp& bitmap, const char*) {
  // The deflated rows at their worst; a 12-byte frame per IDAT; signature, IHDR, PLTE, IEND.
  const uint64_t deflated =
      png::MaxImageDataSize(bitmap.GetWidth(), bitmap.GetHeight(), bitmap.GetBitsPerPixel());
  if (deflated == 0) return CPicEncoder::MaxEncodedSize(bitmap, nullptr);  // refused later
  const uint64_t chunks = (deflated / kIdatChunkBytes + 1) * 12;
  return 8 + 25 + (12 + 768) + 12 + deflated + chunks + 1024;
}

void CPNGEncoder::WriteImage(CBmp& bitmap, CDataSink& sink) {
  const unsigned bpp = bitmap.GetBitsPerPixel();
  if (bpp != 8 && bpp != 32)
    RaiseEncoderError(textexception::kUnsupported, "Sorry,only support 8 bits,true color currently!");
  // No pixels to hand over counts as a pixel buffer that could not be had.
  if (bitmap.GetRowTable() == nullptr || bitmap.GetWidth() <= 0 || bitmap.GetHeight() <= 0)
    RaiseEncoderError(textexception::kNoMemory, " Out of memory.");
  const png::ImageData data = png::CompressImage(bitmap);

  std::exception_ptr pending;
  WriteState state{&sink, &pending, {}};
  // The library's own version string: libpng refuses any other.
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
  if (png == nullptr)
    RaiseEncoderError(textexception::kPngWriteStruct, "can't create png_writing struct!");
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    RaiseEncoderError(textexception::kPngInfoStruct, "can't create png_writing's infomation struct!");
  }
  png_set_write_fn(png, &state, OnWrite, OnFlush);

  png_color palette[256];
  Layout layout{bitmap.GetWidth(), bitmap.GetHeight(), PNG_COLOR_TYPE_PALETTE, palette, &data};
  if (bpp == 8) {
    const RgbQuad* entries = bitmap.GetPalette();
    for (int i = 0; i < 256; ++i) palette[i] = {entries[i].red, entries[i].green, entries[i].blue};
  } else {
    layout.colourType = bitmap.HasAlpha() ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
  }

  const bool ok = WriteAll(png, info, &layout);
  png_destroy_write_struct(&png, &info);
  if (ok) return;
  if (pending) std::rethrow_exception(pending);
  RaiseEncoderError(textexception::kFormatError, state.message);
}
