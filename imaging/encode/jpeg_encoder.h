// CJPEGEncoder: writes a JPEG through libjpeg(-turbo).
//
// Depth: a bitmap that is not 32 bits is converted in place to 32 first and stays so. The
// rows go to the library as they are stored (4-byte blue, green, red, unused pixels).
// Quality: options byte 2 with baseline tables, else the library's default (75); the
// floating-point DCT; the library's default 4:2:0 sampling. One compression object
// serves every file this encoder writes. A library failure raises code 6 with the
// library's message.
#pragma once

#include <memory>

#include "imaging/encode/pic_encoder.h"

class CJPEGEncoder : public CPicEncoder {
  LUMORA_RUNTIME_CLASS(CJPEGEncoder, CPicEncoder)

public:
  CJPEGEncoder();
  ~CJPEGEncoder() override;

  void WriteImage(CBmp& bitmap, CDataSink& sink) override;
  size_t MaxEncodedSize(const CBmp& bitmap, const char* path) override;

  struct Library;  // the library's objects; defined in the adapter only

private:
  std::unique_ptr<Library> library_;
};
