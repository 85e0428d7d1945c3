// CGifEncoder: writes a GIF87a file with one image, a 256-entry global colour table and
// LZW-compressed pixels, optionally interlaced. No extension blocks are written.
//
// Depth: a bitmap that is not 8 bits is converted in place to 8 bits first (a 32-bit one
// is quantised) and stays converted. Options read: Interlace (flags bit 3) and the
// background index (byte 9), which is written as 0 when Transparent (bit 4) is set.
#pragma once

#include <memory>
#include <vector>

#include "imaging/encode/lzw_writer.h"
#include "imaging/encode/pic_encoder.h"

class CGifEncoder : public CPicEncoder {
  LUMORA_RUNTIME_CLASS(CGifEncoder, CPicEncoder)

public:
  CGifEncoder();
  ~CGifEncoder() override;

  void WriteImage(CBmp& bitmap, CDataSink& sink) override;
  size_t MaxEncodedSize(const CBmp& bitmap, const char* path) override;

  // Rows in the order the file stores them: top to bottom, or the four interlace passes
  // (every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1).
  static std::vector<int> RowOrder(int height, bool interlaced);

private:
  std::unique_ptr<GifLzwWriter> lzw_;  // the tables are large; kept for later files
};
