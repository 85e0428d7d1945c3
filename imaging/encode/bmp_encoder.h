// CWinBmpEncoder: writes an uncompressed Windows bitmap (.bmp).
//
// Layout: 14-byte file header, 40-byte information header, for depths of 8 or less the
// bitmap's whole palette (2^bpp entries, blue-green-red-fourth byte), then the rows bottom
// row first, each padded with zeros to a multiple of 4 bytes. A 32-bit bitmap is written
// as 24 bits (its alpha is dropped). Reads no encoding option.
#pragma once

#include "imaging/encode/pic_encoder.h"

class CWinBmpEncoder : public CPicEncoder {
  LUMORA_RUNTIME_CLASS(CWinBmpEncoder, CPicEncoder)

public:
  void WriteImage(CBmp& bitmap, CDataSink& sink) override;
  size_t MaxEncodedSize(const CBmp& bitmap, const char* path) override;
};
