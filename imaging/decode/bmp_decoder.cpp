#include "imaging/decode/bmp_decoder.h"

#include <climits>
#include <cstring>
#include <vector>

#include "imaging/decode/row_convert.h"

namespace {

constexpr int kInfoHeaderSize = 40;
constexpr const char* kEndOfFile = "End of file reached while decoding.\n";

struct Layout {
  int width = 0;
  int height = 0;    // rows in the picture
  bool topDown = false;  // negative height in the file: first stored row is the top row
  int fileBpp = 0;
  bool rle = false;
  int destBpp = 0;
  const RgbQuad* palette = nullptr;  // 256 entries, always set for fileBpp <= 8

  int RowFor(int storedRow) const { return topDown ? storedRow : height - 1 - storedRow; }
};

size_t PaddedRowBytes(size_t bits) { return (bits + 31) / 32 * 4; }

// Writes one row of palette indices as indices (8 bits) or looked up (32 bits).
void PutIndices(CBmp& bmp, const Layout& l, int storedRow, const uint8_t* indices) {
  uint8_t* dest = bmp.GetRowTable()[l.RowFor(storedRow)];
  if (l.destBpp == 8) {
    std::memcpy(dest, indices, static_cast<size_t>(l.width));
  } else {
    rowconv::IndicesToBgra(indices, static_cast<size_t>(l.width), l.palette, dest);
  }
}

void DecodeUncompressed(CBmp& bmp, const Layout& l, CDataSource& source) {
  const size_t width = static_cast<size_t>(l.width);
  const size_t stride = PaddedRowBytes(width * static_cast<size_t>(l.fileBpp));
  // A file too short for its rows is refused before the first row is written.
  size_t total = 0;
  if (!decode::CheckedMul(stride, static_cast<size_t>(l.height), total) ||
      total > source.BytesLeft()) {
    throw CTextException(textexception::kEndOfData, kEndOfFile);
  }
  std::vector<uint8_t> indices(l.fileBpp < 8 ? width : 0);
  for (int r = 0; r < l.height; ++r) {
    const uint8_t* in = source.Take(stride).data();
    uint8_t* dest = bmp.GetRowTable()[l.RowFor(r)];
    switch (l.fileBpp) {
      case 1:
      case 4:
        rowconv::UnpackBits(in, width, l.fileBpp, indices.data());
        PutIndices(bmp, l, r, indices.data());
        break;
      case 8:
        PutIndices(bmp, l, r, in);
        break;
      case 24:
        rowconv::Bgr24ToBgra(in, width, dest);
        break;
      case 32:
        std::memcpy(dest, in, width * 4);
        break;
    }
  }
}

// RLE4 and RLE8. Each row is assembled as indices (pixels the data does not reach stay
// index 0) and written when it ends; runs that reach past the row end are clipped.
void DecodeRle(CBmp& bmp, const Layout& l, CDataSource& source) {
  const size_t width = static_cast<size_t>(l.width);
  const bool four = l.fileBpp == 4;
  std::vector<uint8_t> row(width, 0);
  ByteCursor in(source.Rest());
  auto needBytes = [&] {
    if (in.RanDry()) throw CTextException(textexception::kEndOfData, kEndOfFile);
  };
  int r = 0;
  size_t x = 0;
  auto put = [&](uint8_t index) {
    if (x < width) row[x] = index;
    ++x;
  };
  auto flushRow = [&] {
    PutIndices(bmp, l, r++, row.data());
    std::fill(row.begin(), row.end(), 0);
    x = 0;
  };
  while (r < l.height) {
    const uint8_t count = in.U8();
    const uint8_t value = in.U8();
    needBytes();
    if (count > 0) {
      for (int i = 0; i < count; ++i) put(four ? (i & 1 ? value & 15 : value >> 4) : value);
    } else if (value == 0) {
      flushRow();
    } else if (value == 1) {
      while (r < l.height) flushRow();  // the rest of the picture stays index 0
    } else if (value == 2) {
      CPicDecoder::RaiseError(textexception::kUnsupported, "Encountered delta escape.");
    } else {
      const size_t dataBytes = four ? (value + 1u) / 2 : value;
      std::span<const uint8_t> run = in.Take(dataBytes + (dataBytes & 1));  // 16-bit aligned
      needBytes();
      for (size_t i = 0; i < value; ++i) {
        put(four ? (i & 1 ? run[i / 2] & 15 : run[i / 2] >> 4) : run[i]);
      }
    }
  }
  source.Take(source.BytesLeft() - in.Left());
}

}  // namespace

void CBmpDecoder::DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                             CDataSource& source) {
  ByteCursor file = source.TakeCursor(14);
  if (file.U8() != 'B' || file.U8() != 'M') {
    RaiseError(textexception::kWrongSignature, "Bitmap decoder: This isn't a bitmap.");
  }
  file.Skip(8);  // file size, reserved
  const uint32_t dataOffset = file.Le32();
  Trace(2, "Bitmap file signature found\n");

  if (source.TakeCursor(4).Le32() != kInfoHeaderSize) {
    RaiseError(textexception::kFormatError, "Bitmap decoder: BITMAPINFOHEADER has wrong size.");
  }
  ByteCursor info = source.TakeCursor(kInfoHeaderSize - 4);
  const int32_t width = static_cast<int32_t>(info.Le32());
  const int32_t height = static_cast<int32_t>(info.Le32());
  info.Le16();  // planes
  const uint16_t bpp = info.Le16();
  const uint32_t compression = info.Le32();
  info.Skip(12);  // image size, resolutions
  const uint32_t coloursUsed = info.Le32();
  Trace(2, "Bitmap header is ok.\n");

  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) {
    RaiseError(textexception::kFormatError, "Decoding bmp: Illegal bpp value.");
  }

  Layout l;
  l.width = width;
  // A negative height means rows stored top row first. The most negative value has no
  // positive counterpart; it is far beyond any size we accept, so it becomes -1 (refused).
  l.height = height == INT32_MIN ? -1 : (height < 0 ? -height : height);
  l.topDown = height < 0;
  l.fileBpp = bpp;
  l.rle = (bpp == 4 || bpp == 8) && compression != 0;

  if (bpp <= 8) {
    Trace(3, "Reading palette.\n");
    const uint32_t entries = coloursUsed != 0 ? coloursUsed : 1u << bpp;
    if (entries > static_cast<uint32_t>(kPaletteEntries)) {
      RaiseError(textexception::kFormatError, "Bitmap decoder: too many palette entries.");
    }
    ByteCursor table = source.TakeCursor(4 * entries);
    paletteOut = std::make_unique<RgbQuad[]>(kPaletteEntries);  // entries past the file's are black
    for (uint32_t i = 0; i < entries; ++i) {
      paletteOut[i].blue = table.U8();
      paletteOut[i].green = table.U8();
      paletteOut[i].red = table.U8();
      table.U8();
      paletteOut[i].reserved = 255;
    }
    l.palette = paletteOut.get();
  }

  // Pixels start at the stored offset when it lies between the palette's end and the file's
  // end (a gap, or a palette a 24-bit file carries); any other offset is taken to mean
  // "directly behind the palette".
  const int64_t here = source.GetBytesConsumed();
  if (dataOffset > here && dataOffset < static_cast<uint64_t>(source.GetFileSize())) {
    source.Take(dataOffset - static_cast<uint32_t>(here));
  }

  ChooseTargetDepth(bpp, bppInOut);
  if (bppInOut != 32 && !(bppInOut == 8 && bpp <= 8)) {
    RaiseError(textexception::kUnsupported, "Decoding bmp: destination depth not supported.");
  }
  l.destBpp = bppInOut;
  CreateOrReuseBitmap(bmp, l.width, l.height, l.destBpp, false, "Decoding bmp");
  if (l.destBpp == 8) bmp.SetPalette(paletteOut.get());

  if (l.rle) {
    Trace(2, bpp == 8 ? "Decoding RLE8-compressed bitmap.\n" : "Decoding RLE4-compressed bitmap.\n");
    DecodeRle(bmp, l, source);
  } else {
    switch (bpp) {
      case 1: Trace(2, "Decoding 1 bit per pixel bitmap.\n"); break;
      case 4: Trace(2, "Decoding uncompressed 4 bit per pixel bitmap.\n"); break;
      case 8: Trace(2, "Decoding uncompressed 8 bit per pixel bitmap.\n"); break;
      case 24: Trace(2, "Decoding 24 bit per pixel bitmap.\n"); break;
      case 32: Trace(2, "Decoding 32 bit per pixel bitmap.\n"); break;
    }
    DecodeUncompressed(bmp, l, source);
  }
  Trace(3, "Decoding finished.\n");
}
