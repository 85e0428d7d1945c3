// The libtiff adapter: the "MemSource" memory stream over the sink's buffer, the tags and
// the rows. libtiff reports errors through return values; its messages go to a handler of
// this file instead of standard error.
#include "imaging/encode/tiff_encoder.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "imaging/core/text_exception.h"
#include "imaging/core/trace.h"

namespace {

// A memory stream in the layout libtiff's client interface wants. Write mode ("w", with
// a size holder) over a buffer of fixed capacity: a write past the capacity is cut short
// (libtiff then fails the write) and remembered, so the encoder can report the overflow.
struct MemSource {
  uint8_t* data;
  uint64_t capacity;
  uint64_t position;
  uint64_t* size;  // largest position reached
  bool overflowed;
};

tmsize_t MemRead(thandle_t, void*, tmsize_t) { return 0; }  // write mode only

tmsize_t MemWrite(thandle_t handle, void* buffer, tmsize_t n) {
  auto* stream = static_cast<MemSource*>(handle);
  uint64_t count = n > 0 ? static_cast<uint64_t>(n) : 0;
  const uint64_t room = stream->position < stream->capacity ? stream->capacity - stream->position : 0;
  if (count > room) {
    count = room;
    stream->overflowed = true;
  }
  if (count > 0) std::memcpy(stream->data + stream->position, buffer, count);
  stream->position += count;
  *stream->size = std::max(*stream->size, stream->position);
  return static_cast<tmsize_t>(count);
}

toff_t MemSeek(thandle_t handle, toff_t offset, int whence) {
  auto* stream = static_cast<MemSource*>(handle);
  switch (whence) {
    case SEEK_SET: stream->position = offset; break;
    case SEEK_CUR: stream->position += offset; break;
    case SEEK_END: stream->position = *stream->size + offset; break;
    default: break;
  }
  // Seeking past the end grows the file; beyond the buffer it cannot be written.
  if (stream->position > stream->capacity) stream->overflowed = true;
  *stream->size = std::max(*stream->size, std::min(stream->position, stream->capacity));
  return stream->position;
}

int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t handle) { return *static_cast<MemSource*>(handle)->size; }
int MemMap(thandle_t, void**, toff_t*) { return 0; }
void MemUnmap(thandle_t, void*, toff_t) {}

int OnTiffMessage(TIFF*, void*, const char* module, const char* format, va_list args) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, args);
  Trace(3, "%s: %s\n", module != nullptr ? module : "libtiff", text);
  return 1;  // handled: nothing on standard error
}

// Closes the TIFF on every path (the directory is written at close).
struct TiffHandle {
  TIFF* file = nullptr;
  ~TiffHandle() {
    if (file != nullptr) TIFFClose(file);
  }
};

[[noreturn]] void RaiseWriteFailed(const MemSource& stream) {
  if (stream.overflowed) CDataSink::RaiseOverflow();
  RaiseEncoderError(textexception::kTiffZeroLength, "write tiff zero length!");
}

uint64_t RowBytes(uint64_t width, unsigned bpp) {
  return bpp <= 8 ? (width * bpp + 7) / 8 : width * 3;
}

}  // namespace

int CTIFFEncoder::PhotometricFor(unsigned bpp, const RgbQuad* palette) {
  if (bpp == 1) {
    const bool blackIsZero = palette != nullptr && palette[0].red < palette[1].red &&
                             palette[0].green < palette[1].green && palette[0].blue < palette[1].blue;
    return blackIsZero ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE;
  }
  if (bpp == 8) return PHOTOMETRIC_PALETTE;
  if (bpp == 32) return PHOTOMETRIC_RGB;
  return -1;
}

size_t CTIFFEncoder::MaxEncodedSize(const CBmp& bitmap, const char*) {
  const uint64_t width = bitmap.GetWidth() > 0 ? bitmap.GetWidth() : 0;
  const uint64_t height = bitmap.GetHeight() > 0 ? bitmap.GetHeight() : 0;
  // Header, the rows, a strip offset and a strip byte count per row, the colour map, the
  // directory and its small arrays.
  return 8 + RowBytes(width, bitmap.GetBitsPerPixel()) * height + 8 * height + 3 * 256 * 2 + 4096;
}

void CTIFFEncoder::WriteImage(CBmp& bitmap, CDataSink& sink) {
  RequirePixelData(bitmap);
  const unsigned bpp = bitmap.GetBitsPerPixel();
  uint64_t size = 0;
  MemSource stream{sink.GetBuffer(), sink.GetCapacity(), 0, &size, false};

  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, OnTiffMessage, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, OnTiffMessage, nullptr);
  TiffHandle handle;
  handle.file = TIFFClientOpenExt("MemSource", "w", &stream, MemRead, MemWrite, MemSeek, MemClose,
                                  MemSize, MemMap, MemUnmap, options);
  TIFFOpenOptionsFree(options);
  if (handle.file == nullptr) RaiseWriteFailed(stream);
  TIFF* file = handle.file;

  TIFFSetField(file, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(bitmap.GetWidth()));
  TIFFSetField(file, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(bitmap.GetHeight()));
  TIFFSetField(file, TIFFTAG_ROWSPERSTRIP, 1u);
  TIFFSetField(file, TIFFTAG_BITSPERSAMPLE, bpp <= 8 ? bpp : 8u);
  TIFFSetField(file, TIFFTAG_SAMPLESPERPIXEL, bpp <= 8 ? 1u : 3u);
  TIFFSetField(file, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(file, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  if (const int photometric = PhotometricFor(bpp, bitmap.GetPalette()); photometric >= 0)
    TIFFSetField(file, TIFFTAG_PHOTOMETRIC, photometric);

  WriteStrips(file, bitmap);

  // Writing the directory can fail too (a full buffer); only a complete file counts.
  if (TIFFFlush(file) != 1 || stream.overflowed) RaiseWriteFailed(stream);
  handle.file = nullptr;
  TIFFClose(file);
  if (stream.overflowed) RaiseWriteFailed(stream);
  sink.SetPosition(size);
}

void CTIFFEncoder::WriteStrips(tiff* file, CBmp& bitmap) {
  const unsigned bpp = bitmap.GetBitsPerPixel();
  const int width = bitmap.GetWidth();
  const int height = bitmap.GetHeight();
  uint8_t* const* rows = bitmap.GetRowTable();
  MemSource* stream = static_cast<MemSource*>(TIFFClientdata(file));

  if (bpp == 8) {
    uint16_t red[256], green[256], blue[256];
    const RgbQuad* palette = bitmap.GetPalette();
    for (int i = 0; i < 256; ++i) {
      red[i] = static_cast<uint16_t>(palette[i].red << 8);
      green[i] = static_cast<uint16_t>(palette[i].green << 8);
      blue[i] = static_cast<uint16_t>(palette[i].blue << 8);
    }
    TIFFSetField(file, TIFFTAG_COLORMAP, red, green, blue);
  }
  if (bpp == 1 || bpp == 8) {
    for (int y = 0; y < height; ++y)
      if (TIFFWriteScanline(file, rows[y], static_cast<uint32_t>(y), 0) < 0)
        RaiseWriteFailed(*stream);
    return;
  }
  if (bpp != 32) return;
  std::vector<uint8_t> line(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = rows[y];
    uint8_t* dst = line.data();
    for (int x = 0; x < width; ++x, src += 4, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
    if (TIFFWriteScanline(file, line.data(), static_cast<uint32_t>(y), 0) < 0)
      RaiseWriteFailed(*stream);
  }
}
