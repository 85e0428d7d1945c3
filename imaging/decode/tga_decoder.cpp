#include "imaging/decode/tga_decoder.h"

#include <cstring>
#include <vector>

#include "imaging/decode/row_convert.h"

namespace {

constexpr const char* kEndOfFile = "End of file reached while decoding.\n";
constexpr uint8_t kTopDownBit = 0x20;
constexpr uint8_t kAttributeBits = 0x0F;  // alpha bits per pixel, as the descriptor declares

struct Header {
  uint8_t idLength, colourMapType, imageType;
  uint16_t firstEntry, mapLength;
  uint8_t entryBits;
  uint16_t width, height;
  uint8_t pixelBits, descriptor;
};

// One 15/16/24/32-bit value (or an 8-bit grey map entry) as blue, green, red, alpha.
// 5-bit channels are scaled by 8; bit 15 of a 16-bit value is alpha 128, else 0.
inline void ReadColour(const uint8_t* p, int bits, uint8_t* out) {
  switch (bits) {
    case 8:
      out[0] = out[1] = out[2] = p[0];
      out[3] = 255;
      break;
    case 15:
    case 16: {
      const unsigned v = p[0] | (p[1] << 8);
      out[0] = static_cast<uint8_t>((v & 31) << 3);
      out[1] = static_cast<uint8_t>(((v >> 5) & 31) << 3);
      out[2] = static_cast<uint8_t>(((v >> 10) & 31) << 3);
      out[3] = bits == 15 ? 255 : (v & 0x8000 ? 128 : 0);
      break;
    }
    case 24:
      out[0] = p[0];
      out[1] = p[1];
      out[2] = p[2];
      out[3] = 255;
      break;
    default:
      std::memcpy(out, p, 4);
      break;
  }
}

// Turns one pixel value as stored into what the destination row holds: the index byte for
// an 8-bit destination, the 32-bit pixel otherwise (8-bit values through the palette).
struct PixelWriter {
  int pixelBits;
  int destBpp;
  const RgbQuad* palette;
  size_t valueBytes() const { return pixelBits == 15 ? 2 : static_cast<size_t>(pixelBits / 8); }
  // n values in a row, converted a run at a time through the shared converters.
  void PutRun(const uint8_t* values, size_t n, uint8_t* dest) const {
    if (destBpp == 8) {
      std::memcpy(dest, values, n);
    } else if (pixelBits == 24) {
      rowconv::Bgr24ToBgra(values, n, dest);
    } else if (pixelBits == 32) {
      std::memcpy(dest, values, n * 4);
    } else if (pixelBits == 8) {
      rowconv::IndicesToBgra(values, n, palette, dest);
    } else {
      for (size_t x = 0; x < n; ++x) ReadColour(values + 2 * x, pixelBits, dest + 4 * x);
    }
  }
  // n copies of one value.
  void PutRepeat(const uint8_t* value, size_t n, uint8_t* dest) const {
    if (destBpp == 8) {
      std::memset(dest, value[0], n);
      return;
    }
    uint8_t px[4];
    Put(value, px);
    uint32_t v;
    std::memcpy(&v, px, 4);
    for (size_t k = 0; k < n; ++k) std::memcpy(dest + 4 * k, &v, 4);
  }
  void Put(const uint8_t* value, uint8_t* dest) const {
    if (destBpp == 8) {
      *dest = value[0];
    } else if (pixelBits == 8) {
      std::memcpy(dest, &palette[value[0]], 4);
    } else {
      ReadColour(value, pixelBits, dest);
    }
  }
};

}  // namespace

void CTGADecoder::DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                             CDataSource& source) {
  Trace(2, "Decoding TGA.\n");
  ByteCursor c = source.TakeCursor(18);
  Header h{};
  h.idLength = c.U8();
  h.colourMapType = c.U8();
  h.imageType = c.U8();
  h.firstEntry = c.Le16();
  h.mapLength = c.Le16();
  h.entryBits = c.U8();
  c.Skip(4);  // origin
  h.width = c.Le16();
  h.height = c.Le16();
  h.pixelBits = c.U8();
  h.descriptor = c.U8();
  source.Take(h.idLength);

  const bool rle = h.imageType >= 9;
  const int baseType = rle ? h.imageType - 8 : h.imageType;
  if (baseType < 1 || baseType > 3) {
    RaiseError(textexception::kFormatError, "Unknown TGA image type.");
  }
  if (h.pixelBits != 8 && h.pixelBits != 15 && h.pixelBits != 16 && h.pixelBits != 24 &&
      h.pixelBits != 32) {
    RaiseError(textexception::kFormatError, "TGA: pixel depth not supported.");
  }
  // Without declared attribute bits, bit 15 of a 16-bit value is padding, not alpha: such
  // values read as 15-bit colours and the picture is opaque.
  const bool noAlphaBits = (h.descriptor & kAttributeBits) == 0;
  const int pixelBits = h.pixelBits == 16 && noAlphaBits ? 15 : h.pixelBits;
  ChooseTargetDepth(h.pixelBits, bppInOut);
  if (bppInOut != 32 && !(bppInOut == 8 && h.pixelBits == 8)) {
    RaiseError(textexception::kUnsupported, "TGA: destination depth not supported.");
  }
  const int destBpp = bppInOut;

  // Working palette: the colour map where the file has one; black elsewhere.
  paletteOut = std::make_unique<RgbQuad[]>(kPaletteEntries);
  for (int i = 0; i < kPaletteEntries; ++i) paletteOut[i].reserved = 255;
  if (h.colourMapType != 0 && h.mapLength > 0) {
    const int entryBits = h.entryBits == 16 && noAlphaBits ? 15 : h.entryBits;
    if (entryBits != 8 && entryBits != 15 && entryBits != 16 && entryBits != 24 &&
        entryBits != 32) {
      RaiseError(textexception::kFormatError, "TGA: colour map entry size not supported.");
    }
    const size_t entryBytes = entryBits == 15 ? 2 : static_cast<size_t>(entryBits / 8);
    ByteCursor map = source.TakeCursor(entryBytes * h.mapLength);
    for (int i = 0; i < h.mapLength; ++i) {
      std::span<const uint8_t> e = map.Take(entryBytes);
      const int index = h.firstEntry + i;
      if (index < kPaletteEntries) {  // entries past the 256-entry table are skipped
        ReadColour(e.data(), entryBits, reinterpret_cast<uint8_t*>(&paletteOut[index]));
      }
    }
  }
  if (baseType == 3) {
    for (int i = 0; i < kPaletteEntries; ++i) {
      const auto v = static_cast<uint8_t>(i);
      paletteOut[i] = RgbQuad{v, v, v, 255};
    }
  }

  const bool hasAlpha = pixelBits == 16 || pixelBits == 32;
  CreateOrReuseBitmap(bmp, h.width, h.height, destBpp, hasAlpha, "TGA");
  if (destBpp == 8) {
    if (baseType == 3) {
      bmp.SetGreyRamp();
    } else {
      bmp.SetPalette(paletteOut.get());
    }
  }

  const PixelWriter writer{pixelBits, destBpp, paletteOut.get()};
  const size_t valueBytes = writer.valueBytes();
  const size_t destBytes = destBpp / 8;
  const size_t width = h.width;
  const bool topDown = (h.descriptor & kTopDownBit) != 0;
  uint8_t** rows = bmp.GetRowTable();

  if (!rle) {
    const size_t rowBytes = width * valueBytes;
    if (rowBytes * h.height > source.BytesLeft()) {
      throw CTextException(textexception::kEndOfData, kEndOfFile);
    }
    for (int i = 0; i < h.height; ++i) {
      const uint8_t* in = source.Take(rowBytes).data();
      writer.PutRun(in, width, rows[topDown ? i : h.height - 1 - i]);
    }
    return;
  }

  // Run-length packets may run on into the next row: what is left of a packet is carried
  // over rather than dropped.
  ByteCursor in(source.Rest());
  auto check = [&] {
    if (in.RanDry()) throw CTextException(textexception::kEndOfData, kEndOfFile);
  };
  unsigned runLeft = 0;
  bool repeat = false;
  const uint8_t* value = nullptr;
  for (int i = 0; i < h.height; ++i) {
    uint8_t* dest = rows[topDown ? i : h.height - 1 - i];
    for (size_t x = 0; x < width;) {
      if (runLeft == 0) {
        const uint8_t header = in.U8();
        check();
        repeat = header >= 128;
        runLeft = repeat ? header - 127u : header + 1u;
        if (repeat) {
          value = in.Take(valueBytes).data();
          check();
        }
      }
      size_t n = std::min<size_t>(runLeft, width - x);
      if (repeat) {
        writer.PutRepeat(value, n, dest + x * destBytes);
      } else {
        const uint8_t* raw = in.Take(n * valueBytes).data();
        check();
        writer.PutRun(raw, n, dest + x * destBytes);
      }
      x += n;
      runLeft -= static_cast<unsigned>(n);
    }
  }
  source.Take(source.BytesLeft() - in.Left());
}
