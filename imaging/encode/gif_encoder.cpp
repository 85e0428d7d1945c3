#include "imaging/encode/gif_encoder.h"

#include <cstdint>

#include "imaging/core/encode_options.h"

namespace {

constexpr uint8_t kGlobalTableFlags = 0xE7;  // table present, 8-bit resolution, 256 entries
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kInterlacedFlag = 0x40;
constexpr uint8_t kMinimumCodeSize = 8;
constexpr uint8_t kTrailer = 0x3B;
constexpr size_t kHeaderBytes = 6 + 7 + 256 * 3 + 10 + 1;  // up to the LZW code size
constexpr size_t kTrailerBytes = 2;                         // block terminator, trailer

}  // namespace

CGifEncoder::CGifEncoder() : lzw_(std::make_unique<GifLzwWriter>()) {}
CGifEncoder::~CGifEncoder() = default;

std::vector<int> CGifEncoder::RowOrder(int height, bool interlaced) {
  std::vector<int> order;
  order.reserve(height > 0 ? height : 0);
  if (!interlaced) {
    for (int row = 0; row < height; ++row) order.push_back(row);
    return order;
  }
  // A pass whose first row lies below the picture is skipped, so short pictures (height
  // 2 to 4) still store each row exactly once.
  static constexpr int kStart[4] = {0, 4, 2, 1};
  static constexpr int kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int row = kStart[pass]; row < height; row += kStep[pass]) order.push_back(row);
  return order;
}

size_t CGifEncoder::MaxEncodedSize(const CBmp& bitmap, const char*) {
  const uint64_t width = bitmap.GetWidth() > 0 ? bitmap.GetWidth() : 0;
  const uint64_t height = bitmap.GetHeight() > 0 ? bitmap.GetHeight() : 0;
  return kHeaderBytes + GifLzwWriter::MaxCompressedSize(width * height) + kTrailerBytes;
}

void CGifEncoder::WriteImage(CBmp& bitmap, CDataSink& sink) {
  if (bitmap.GetBitsPerPixel() != 8) bitmap.CopyFrom(bitmap, 8);
  const EncodeOptions* options = bitmap.GetEncodeOptions();
  RequirePixelData(bitmap);
  const int width = bitmap.GetWidth();
  const int height = bitmap.GetHeight();

  uint8_t background = 0;
  bool interlaced = false;
  if (options != nullptr) {
    if ((options->flags & EncodeOptions::kFlagTransparent) == 0)
      background = options->backgroundIndex;
    interlaced = (options->flags & EncodeOptions::kFlagInterlace) != 0;
  }

  uint8_t header[kHeaderBytes];
  uint8_t* p = header;
  for (char c : {'G', 'I', 'F', '8', '7', 'a'}) *p++ = static_cast<uint8_t>(c);
  auto put16 = [&p](int v) {
    *p++ = static_cast<uint8_t>(v);
    *p++ = static_cast<uint8_t>(v >> 8);
  };
  put16(width);
  put16(height);
  *p++ = kGlobalTableFlags;
  *p++ = background;
  *p++ = 0;  // no aspect ratio
  const RgbQuad* palette = bitmap.GetPalette();
  for (int i = 0; i < 256; ++i) {
    *p++ = palette[i].red;
    *p++ = palette[i].green;
    *p++ = palette[i].blue;
  }
  *p++ = kImageSeparator;
  put16(0);
  put16(0);
  put16(width);
  put16(height);
  *p++ = interlaced ? kInterlacedFlag : 0;
  *p++ = kMinimumCodeSize;
  sink.WriteBytes(sizeof header, header);

  uint8_t* const* rows = bitmap.GetRowTable();
  const std::vector<int> order = RowOrder(height, interlaced);
  lzw_->Begin(sink, rows[order[0]][0]);
  bool first = true;
  for (int row : order) {
    // The first pixel opened the first string.
    lzw_->AddPixels(rows[row] + (first ? 1 : 0), rows[row] + width);
    first = false;
  }
  lzw_->Finish();

  const uint8_t trailer[kTrailerBytes] = {0, kTrailer};
  sink.WriteBytes(sizeof trailer, trailer);
}
