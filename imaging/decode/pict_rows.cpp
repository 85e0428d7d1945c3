#include "imaging/decode/pict_rows.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/decode/pic_decoder.h"
#include "imaging/decode/row_convert.h"

namespace pict {
namespace {

constexpr uint32_t kPixMapFlag = 0x8000;
// Rows with fewer row bytes than this are stored unpacked.
constexpr size_t kMinPackedRow = 8;
// From this many row bytes on, a packed row's length is a word instead of a byte.
constexpr size_t kWordLengthRow = 251;

[[noreturn]] void Fail(const char* text) {
  CPicDecoder::RaiseError(textexception::kFormatError, text);
}

// The packed bytes of one row, behind their byte or word length.
std::span<const uint8_t> PackedRow(Stream& in, bool wordLength) {
  const size_t length = wordLength ? in.Be16() : in.U8();
  return in.Take(length);
}

// One row of pixel data (1 to 16 bits a pixel) into a bitmap row.
void ExpandRow(const uint8_t* data, size_t width, int pixelSize, const RgbQuad* palette,
               bool toIndices, uint8_t* dest, std::vector<uint8_t>& indices) {
  if (toIndices) {
    if (pixelSize == 8) {
      std::memcpy(dest, data, width);
    } else {
      rowconv::UnpackBits(data, width, pixelSize, dest);
    }
    return;
  }
  if (pixelSize == 16) {
    for (size_t x = 0; x < width; ++x, dest += 4) {
      const unsigned v = unsigned(data[2 * x]) << 8 | data[2 * x + 1];
      dest[0] = static_cast<uint8_t>((v & 31) << 3);
      dest[1] = static_cast<uint8_t>(((v >> 5) & 31) << 3);
      dest[2] = static_cast<uint8_t>(((v >> 10) & 31) << 3);
      dest[3] = 255;
    }
    return;
  }
  const uint8_t* index = data;
  if (pixelSize != 8) {
    rowconv::UnpackBits(data, width, pixelSize, indices.data());
    index = indices.data();
  }
  rowconv::IndicesToBgra(index, width, palette, dest);
}

// Rows of 1, 2, 4, 8 or 16-bit pixels.
void DecodeIndexRows(const PixelRows& p, Stream& in, CBmp& bmp) {
  const bool toIndices = bmp.GetBitsPerPixel() == 8;
  if (toIndices && p.pixelSize == 16) Fail("Bad bits per pixel in expandBuf8.");
  const size_t width = static_cast<size_t>(bmp.GetWidth());
  const size_t unit = p.pixelSize == 16 ? 2 : 1;
  // Bit 15 marks a pixel map, whatever its pixel size; the row's bytes are the rest.
  size_t rowBytes = p.rowBytes & ~kPixMapFlag;
  if (rowBytes == 0) rowBytes = width * unit;
  // The row buffer holds the stated row and at least the width's pixels; a shorter row
  // leaves the rest 0.
  const size_t needed = (width * static_cast<size_t>(p.pixelSize) + 7) / 8;
  std::vector<uint8_t> row(std::max(rowBytes, needed));
  std::vector<uint8_t> indices(width);
  const std::span<uint8_t> stated(row.data(), rowBytes);
  uint8_t** rows = bmp.GetRowTable();

  for (int y = 0; y < bmp.GetHeight(); ++y) {
    size_t filled;
    if (rowBytes < kMinPackedRow) {
      std::span<const uint8_t> raw = in.Take(rowBytes);
      std::memcpy(row.data(), raw.data(), rowBytes);
      filled = rowBytes;
    } else {
      filled = UnpackBits(PackedRow(in, rowBytes >= kWordLengthRow), unit, stated);
    }
    std::fill(row.begin() + static_cast<std::ptrdiff_t>(filled), row.end(), 0);
    ExpandRow(row.data(), width, p.pixelSize, p.palette, toIndices, rows[y], indices);
  }
}

// 32-bit pixels: each packed row expands to the component planes one after another.
void DecodeDirectRows(const PixelRows& p, Stream& in, CBmp& bmp) {
  if (bmp.GetBitsPerPixel() != 32) Fail("Bad bits per pixel in expandBuf8.");
  if (p.componentCount != 3 && p.componentCount != 4) {
    Fail("PICT: component count not supported.");
  }
  const size_t width = static_cast<size_t>(bmp.GetWidth());
  const size_t planes = static_cast<size_t>(p.componentCount);
  const size_t lengthRule = p.rowBytes != 0 ? p.rowBytes : planes * width;
  const bool wordLength = lengthRule >= kWordLengthRow;
  std::vector<uint8_t> row(planes * width);
  uint8_t** rows = bmp.GetRowTable();

  for (int y = 0; y < bmp.GetHeight(); ++y) {
    const size_t filled = UnpackBits(PackedRow(in, wordLength), 1, row);
    std::fill(row.begin() + static_cast<std::ptrdiff_t>(filled), row.end(), 0);
    const uint8_t* first = row.data();
    uint8_t* dest = rows[y];
    if (planes == 3) {
      for (size_t x = 0; x < width; ++x, dest += 4) {
        dest[0] = first[2 * width + x];
        dest[1] = first[width + x];
        dest[2] = first[x];
        dest[3] = 255;
      }
    } else {
      for (size_t x = 0; x < width; ++x, dest += 4) {
        dest[0] = first[3 * width + x];
        dest[1] = first[2 * width + x];
        dest[2] = first[width + x];
        dest[3] = first[x];
      }
    }
  }
}

}  // namespace

size_t UnpackBits(std::span<const uint8_t> in, size_t unitBytes, std::span<uint8_t> out) {
  size_t at = 0;
  size_t done = 0;
  while (at < in.size()) {
    const uint8_t h = in[at++];
    if (h == 128) continue;
    const bool literal = h < 128;
    const size_t units = literal ? h + 1u : 257u - h;
    const size_t inBytes = literal ? units * unitBytes : unitBytes;
    if (inBytes > in.size() - at) Fail("PICT: packed run passes the end of its row data.");
    if (units * unitBytes > out.size() - done) Fail("PICT: packed row expands past the row.");
    if (literal) {
      std::memcpy(out.data() + done, in.data() + at, inBytes);
      done += inBytes;
    } else if (unitBytes == 1) {
      std::memset(out.data() + done, in[at], units);
      done += units;
    } else {
      for (size_t k = 0; k < units; ++k, done += unitBytes) {
        std::memcpy(out.data() + done, in.data() + at, unitBytes);
      }
    }
    at += inBytes;
  }
  return done;
}

void DecodeRows(const PixelRows& layout, Stream& in, CBmp& bmp) {
  switch (layout.pixelSize) {
    case 32:
      DecodeDirectRows(layout, in, bmp);
      return;
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
      DecodeIndexRows(layout, in, bmp);
      return;
    default:
      CPicDecoder::RaiseError(textexception::kFormatError,
                              "Illegal bpp value in unpackbits: " +
                                  std::to_string(layout.pixelSize) + "\n");
  }
}

}  // namespace pict
