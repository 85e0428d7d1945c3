#include "imaging/decode/pcx_decoder.h"

#include <cstring>
#include <vector>

#include "imaging/decode/row_convert.h"

namespace {

constexpr const char* kEndOfFile = "End of file reached while decoding.\n";
constexpr uint8_t kManufacturer = 10;
constexpr uint8_t kPaletteSignature = 12;
constexpr int kHeaderSize = 128;

// Expands the run-length stream one row (all planes) at a time. Runs may cross row and
// plane boundaries; a run longer than what the picture still needs is an error.
class RunReader {
public:
  RunReader(ByteCursor in, uint64_t total) : in_(in), left_(total) {}
  void Fill(uint8_t* out, size_t n) {
    // Works on the cursor's bytes directly (bounds checked against `avail`) and moves the
    // cursor once at the end: this loop runs once per byte of the picture.
    const uint8_t* p = in_.Position();
    const size_t avail = in_.Left();
    size_t used = 0;
    size_t done = 0;
    while (done < n) {
      if (repeat_ > 0) {
        size_t k = std::min<size_t>(repeat_, n - done);
        std::memset(out + done, value_, k);
        done += k;
        repeat_ -= static_cast<unsigned>(k);
        continue;
      }
      const size_t literalsFrom = done;
      while (done < n && used < avail && p[used] < 192) out[done++] = p[used++];
      left_ -= done - literalsFrom;
      if (done == n) break;
      if (used + 2 > avail) throw CTextException(textexception::kEndOfData, kEndOfFile);
      const unsigned count = p[used] & 63;
      value_ = p[used + 1];
      used += 2;
      if (count > left_) {
        CPicDecoder::RaiseError(textexception::kInternal, "repeat count spans end of image.");
      }
      left_ -= count;
      repeat_ = count;
    }
    in_.Skip(used);
  }
  const ByteCursor& Cursor() const { return in_; }

private:
  ByteCursor in_;
  uint64_t left_;  // decoded bytes the picture still needs, counting pending repeats
  unsigned repeat_ = 0;
  uint8_t value_ = 0;
};

}  // namespace

void CPCXDecoder::DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>&, int& bppInOut,
                             CDataSource& source) {
  Trace(2, "Decoding PCX.\n");
  ByteCursor h = source.TakeCursor(kHeaderSize);
  const uint8_t manufacturer = h.U8();
  h.U8();  // version
  const uint8_t encoding = h.U8();
  const uint8_t bits = h.U8();
  const int xMin = h.Le16(), yMin = h.Le16(), xMax = h.Le16(), yMax = h.Le16();
  h.Skip(4);  // resolution
  std::span<const uint8_t> headerPalette = h.Take(48);
  h.U8();
  const int planes = h.U8();
  const size_t bytesPerLine = h.Le16();

  if (manufacturer != kManufacturer) {
    RaiseError(textexception::kWrongSignature, "Error decoding pcx: Not a PCX file.");
  }
  if (encoding != 1) RaiseError(textexception::kWrongSignature, "File has unknown encoding scheme.");
  if (bits == 1 && planes > 4) {
    RaiseError(textexception::kFormatError, "Can't handle image with more than 4 planes.");
  }
  const bool layoutOk = (bits == 1 && planes >= 1 && planes <= 4) ||
                        ((bits == 2 || bits == 4 || bits == 8) && (planes == 1 || planes == 3));
  if (!layoutOk) {
    RaiseError(textexception::kFormatError, "Can't handle bits per pixel image with planes.");
  }
  if (planes == 3 && bits != 8 && bits != 1) {
    RaiseError(textexception::kInternal, "Can't handle more than 1 bit per pixel.");
  }
  const int width = xMax - xMin + 1;
  const int height = yMax - yMin + 1;
  // Each plane's line must hold the width's pixels; a shorter line would leave pixels with
  // no data behind them.
  const size_t bitsPerPlaneLine =
      static_cast<size_t>(bits) * static_cast<size_t>(width > 0 ? width : 0);
  if (bytesPerLine * 8 < bitsPerPlaneLine) {
    RaiseError(textexception::kFormatError, "PCX: bytes per line too small for the width.");
  }

  CreateOrReuseBitmap(bmp, width, height, 32, false, "PCX");
  bppInOut = 32;

  RgbQuad palette[CPicDecoder::kPaletteEntries];
  for (auto& e : palette) e = RgbQuad{0, 0, 0, 255};
  for (int i = 0; i < 16; ++i) {
    palette[i] = RgbQuad{headerPalette[3 * i + 2], headerPalette[3 * i + 1],
                         headerPalette[3 * i], 255};
  }
  // Many writers leave the header palette of a monochrome file black (or all one colour);
  // read literally such a file is an empty rectangle. Two equal entries cannot be meant as
  // the picture's two colours, so they stand for black and white.
  if (bits == 1 && planes == 1 && std::memcmp(&palette[0], &palette[1], 3) == 0) {
    palette[0] = RgbQuad{0, 0, 0, 255};
    palette[1] = RgbQuad{255, 255, 255, 255};
  }

  const size_t lineBytes = bytesPerLine * static_cast<size_t>(planes);
  std::vector<uint8_t> line(lineBytes);
  std::vector<uint8_t> indices(bytesPerLine * 8);
  RunReader reader(ByteCursor(source.Rest()), uint64_t(lineBytes) * uint64_t(height));
  uint8_t** rows = bmp.GetRowTable();
  const size_t w = static_cast<size_t>(width);
  const bool trailingPalette = bits == 8 && planes == 1;

  for (int y = 0; y < height; ++y) {
    reader.Fill(line.data(), lineBytes);
    uint8_t* dest = rows[y];
    if (planes == 3 && bits == 8) {
      const uint8_t* r = line.data();
      const uint8_t* g = r + bytesPerLine;
      const uint8_t* b = g + bytesPerLine;
      for (size_t x = 0; x < w; ++x, dest += 4) {
        dest[0] = b[x];
        dest[1] = g[x];
        dest[2] = r[x];
        dest[3] = 255;
      }
    } else if (trailingPalette) {
      // The palette follows the pixels: keep the index in the pixel until it is known.
      for (size_t x = 0; x < w; ++x) dest[4 * x] = line[x];
    } else if (planes == 1) {
      rowconv::UnpackBits(line.data(), w, bits, indices.data());
      rowconv::IndicesToBgra(indices.data(), w, palette, dest);
    } else {
      std::fill(indices.begin(), indices.end(), 0);
      for (int p = 0; p < planes; ++p) {
        const uint8_t* plane = line.data() + static_cast<size_t>(p) * bytesPerLine;
        for (size_t x = 0; x < w; ++x) {
          if (plane[x >> 3] & (0x80 >> (x & 7))) indices[x] |= static_cast<uint8_t>(1 << p);
        }
      }
      rowconv::IndicesToBgra(indices.data(), w, palette, dest);
    }
  }

  ByteCursor rest = reader.Cursor();
  if (trailingPalette) {
    const uint8_t signature = rest.U8();
    if (rest.RanDry()) throw CTextException(textexception::kEndOfData, kEndOfFile);
    if (signature != kPaletteSignature) {
      RaiseError(textexception::kInternal, "bad color map signature.");
    }
    std::span<const uint8_t> table = rest.Take(3 * 256);
    if (rest.RanDry()) throw CTextException(textexception::kEndOfData, kEndOfFile);
    for (int i = 0; i < 256; ++i) {
      palette[i] = RgbQuad{table[3 * i + 2], table[3 * i + 1], table[3 * i], 255};
    }
    for (int y = 0; y < height; ++y) {
      uint8_t* px = rows[y];
      for (size_t x = 0; x < w; ++x, px += 4) std::memcpy(px, &palette[px[0]], 4);
    }
  }
  source.Take(source.BytesLeft() - rest.Left());
}
