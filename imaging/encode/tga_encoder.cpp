#include "imaging/encode/tga_encoder.h"

#include <cstring>

#include "imaging/core/encode_options.h"
#include "imaging/core/text_exception.h"
#include "imaging/core/trace.h"

namespace {

constexpr size_t kHeaderBytes = 18;
constexpr size_t kColourMapBytes = 256 * 3;
constexpr int kMaxPacket = 127;
constexpr uint8_t kRunPacket = 0x80;

enum TgaImageType : uint8_t {
  kColourMapped = 1,
  kTrueColour = 2,
  kColourMappedRle = 9,
  kTrueColourRle = 10,
};

void PutLe16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

void CTGAEncoder::PlanRow(const uint8_t* row, int width, int bpp, std::vector<Packet>& plan) {
  plan.clear();
  auto same = [row, bpp](int a, int b) {
    return std::memcmp(row + static_cast<size_t>(a) * bpp, row + static_cast<size_t>(b) * bpp, bpp) == 0;
  };
  bool run = true;
  int start = 0;
  int scan = 1;
  for (;;) {
    if (run) {
      while (scan < width && same(scan, scan - 1)) ++scan;
    } else {
      while (scan < width && !same(scan, scan - 1)) ++scan;
    }
    int n = scan - start;
    if (n <= 1) {
      run = !run;
      if (scan >= width) break;
      continue;
    }
    // A raw stretch stops at a pixel that equals the next one: that pixel opens the run.
    if (!run && scan < width) --n;
    while (n > kMaxPacket) {
      plan.push_back({run, kMaxPacket});
      start += kMaxPacket;
      n -= kMaxPacket;
    }
    if (scan >= width) {
      plan.push_back({run, n});
      break;
    }
    if (run && width - scan == 1) {
      plan.push_back({true, n});
      plan.push_back({false, 1});
      break;
    }
    if (run && n == 1) {  // a leftover single pixel opens the following raw packet
      run = false;
      continue;
    }
    plan.push_back({run, n});
    if (run) ++scan;
    start = scan - 1;
    run = !run;
  }
}

size_t CTGAEncoder::MaxEncodedSize(const CBmp& bitmap, const char*) {
  const uint64_t width = bitmap.GetWidth() > 0 ? bitmap.GetWidth() : 0;
  const uint64_t height = bitmap.GetHeight() > 0 ? bitmap.GetHeight() : 0;
  const uint64_t bytesPerPixel = bitmap.GetBitsPerPixel() == 8 ? 1 : 3;
  // Every packet holds at least one pixel behind its one-byte header.
  return kHeaderBytes + kColourMapBytes + width * height * (bytesPerPixel + 1);
}

void CTGAEncoder::WriteImage(CBmp& bitmap, CDataSink& sink) {
  const unsigned bpp = bitmap.GetBitsPerPixel();
  if ((bpp & 0xFF) != 8 && (bpp & 0xFF) != 32)
    RaiseEncoderError(textexception::kUnsupported, "Sorry,only support 8 or true color currently!");
  Trace(2, "Encoding TGA.\n");
  const bool paletted = bpp == 8;
  const int width = bitmap.GetWidth();
  const int height = bitmap.GetHeight();
  const EncodeOptions* options = bitmap.GetEncodeOptions();
  const bool compress =
      (options == nullptr || (options->flags & EncodeOptions::kFlagCompress) != 0) && width >= 2;

  uint8_t header[kHeaderBytes] = {};
  header[1] = paletted ? 1 : 0;
  header[2] = paletted ? (compress ? kColourMappedRle : kColourMapped)
                       : (compress ? kTrueColourRle : kTrueColour);
  PutLe16(header + 5, paletted ? 256 : 0);
  header[7] = paletted ? 24 : 0;
  PutLe16(header + 12, static_cast<unsigned>(width));
  PutLe16(header + 14, static_cast<unsigned>(height));
  header[16] = paletted ? 8 : 24;
  sink.WriteBytes(sizeof header, header);

  if (paletted) {
    uint8_t map[kColourMapBytes];
    const RgbQuad* palette = bitmap.GetPalette();
    for (int i = 0; i < 256; ++i) {
      map[3 * i] = palette[i].blue;
      map[3 * i + 1] = palette[i].green;
      map[3 * i + 2] = palette[i].red;
    }
    sink.WriteBytes(sizeof map, map);
  }

  RequirePixelData(bitmap);
  uint8_t* const* rows = bitmap.GetRowTable();
  const int bytesPerPixel = paletted ? 1 : 3;
  const size_t lineBytes = static_cast<size_t>(width) * bytesPerPixel;
  std::vector<uint8_t> line(paletted ? 0 : lineBytes);
  std::vector<uint8_t> out(compress ? static_cast<size_t>(width) * (bytesPerPixel + 1) : 0);
  std::vector<Packet> plan;
  for (int y = height - 1; y >= 0; --y) {
    const uint8_t* pixels = rows[y];
    if (!paletted) {  // blue, green, red of each 32-bit pixel
      const uint8_t* src = rows[y];
      uint8_t* dst = line.data();
      for (int x = 0; x < width; ++x, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
      pixels = line.data();
    }
    if (!compress) {
      sink.WriteBytes(lineBytes, pixels);
      continue;
    }
    PlanRow(pixels, width, bytesPerPixel, plan);
    uint8_t* dst = out.data();
    const uint8_t* src = pixels;
    for (const Packet& packet : plan) {
      if (packet.run) {
        *dst++ = static_cast<uint8_t>(kRunPacket + packet.count - 1);
        std::memcpy(dst, src, bytesPerPixel);
        dst += bytesPerPixel;
      } else {
        *dst++ = static_cast<uint8_t>(packet.count - 1);
        std::memcpy(dst, src, static_cast<size_t>(packet.count) * bytesPerPixel);
        dst += static_cast<size_t>(packet.count) * bytesPerPixel;
      }
      src += static_cast<size_t>(packet.count) * bytesPerPixel;
    }
    sink.WriteBytes(static_cast<size_t>(dst - out.data()), out.data());
  }
}
