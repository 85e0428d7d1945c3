#include "imaging/encode/pcx_encoder.h"

#include <vector>

#include "imaging/core/text_exception.h"
#include "imaging/core/trace.h"

namespace {

constexpr size_t kHeaderBytes = 128;
constexpr size_t kPaletteTrailerBytes = 1 + 256 * 3;
constexpr uint8_t kPaletteMarker = 12;
constexpr unsigned kMaxRun = 63;
constexpr uint8_t kRunFlag = 192;

void PutLe16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

size_t CPCXEncoder::EncodeLine(const uint8_t* line, size_t count, uint8_t* out) {
  uint8_t* const start = out;
  size_t i = 0;
  while (i < count) {
    const uint8_t value = line[i];
    unsigned run = 1;
    while (i + run < count && line[i + run] == value && run < kMaxRun) ++run;
    if (run > 1 || value >= kRunFlag) *out++ = static_cast<uint8_t>(kRunFlag + run);
    *out++ = value;
    i += run;
  }
  return static_cast<size_t>(out - start);
}

size_t CPCXEncoder::MaxEncodedSize(const CBmp& bitmap, const char*) {
  const uint64_t width = bitmap.GetWidth() > 0 ? bitmap.GetWidth() : 0;
  const uint64_t height = bitmap.GetHeight() > 0 ? bitmap.GetHeight() : 0;
  const uint64_t planes = bitmap.GetBitsPerPixel() == 8 ? 1 : 3;
  return kHeaderBytes + 2 * width * height * planes + kPaletteTrailerBytes;
}

void CPCXEncoder::WriteImage(CBmp& bitmap, CDataSink& sink) {
  const unsigned bpp = bitmap.GetBitsPerPixel();
  if (bpp != 8 && bpp != 32)
    RaiseEncoderError(textexception::kUnsupported, "Sorry,only support 8 bits,true color currently!");
  Trace(2, "Encoding 24 PCX.\n");
  const int width = bitmap.GetWidth();
  const int height = bitmap.GetHeight();
  const int planes = bpp == 8 ? 1 : 3;

  uint8_t header[kHeaderBytes] = {};
  header[0] = 10;  // manufacturer
  header[1] = 5;   // version
  header[2] = 1;   // run-length encoded
  header[3] = 8;   // bits per pixel and plane
  PutLe16(header + 8, static_cast<unsigned>(width - 1));
  PutLe16(header + 10, static_cast<unsigned>(height - 1));
  PutLe16(header + 12, 72);
  PutLe16(header + 14, 72);
  for (int i = 0; i < 16; ++i)
    for (int c = 0; c < 3; ++c) header[16 + 3 * i + c] = static_cast<uint8_t>(15 - i);
  header[65] = static_cast<uint8_t>(planes);
  PutLe16(header + 66, static_cast<unsigned>(width));
  PutLe16(header + 68, 1);
  sink.WriteBytes(sizeof header, header);

  RequirePixelData(bitmap);
  uint8_t* const* rows = bitmap.GetRowTable();
  std::vector<uint8_t> encoded(2 * static_cast<size_t>(width) * planes);
  if (bpp == 8) {
    for (int y = 0; y < height; ++y) {
      const size_t used = EncodeLine(rows[y], width, encoded.data());
      sink.WriteBytes(used, encoded.data());
    }
    uint8_t trailer[kPaletteTrailerBytes];
    trailer[0] = kPaletteMarker;
    const RgbQuad* palette = bitmap.GetPalette();
    for (int i = 0; i < 256; ++i) {
      trailer[1 + 3 * i] = palette[i].red;
      trailer[2 + 3 * i] = palette[i].green;
      trailer[3 + 3 * i] = palette[i].blue;
    }
    sink.WriteBytes(sizeof trailer, trailer);
    return;
  }

  std::vector<uint8_t> planeLines(3 * static_cast<size_t>(width));
  uint8_t* red = planeLines.data();
  uint8_t* green = red + width;
  uint8_t* blue = green + width;
  for (int y = 0; y < height; ++y) {
    const uint8_t* pixel = rows[y];
    for (int x = 0; x < width; ++x, pixel += 4) {
      blue[x] = pixel[0];
      green[x] = pixel[1];
      red[x] = pixel[2];
    }
    size_t used = EncodeLine(red, width, encoded.data());
    used += EncodeLine(green, width, encoded.data() + used);
    used += EncodeLine(blue, width, encoded.data() + used);
    sink.WriteBytes(used, encoded.data());
  }
}
