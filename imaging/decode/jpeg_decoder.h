// CJPEGDecoder: JPEG (baseline and progressive) through libjpeg-turbo.
//
// Output: a grey JPEG gives an 8-bit bitmap with the grey ramp, or 32 bits with blue = green
// = red and alpha 255 when 32 bits are wanted; every other JPEG gives 32 bits, pixels blue,
// green, red, 255, alpha flag off. The library decodes with the floating-point inverse DCT;
// fancy (smooth) chroma upsampling is on unless SetFastUpsampling(true).
//
// Input: the source's unread bytes, not consumed. Data that ends early is completed as if
// an end-of-image marker followed (the library warns and fills the missing rows).
//
// Failure: library errors raise code 6 with the library's message followed by "\n"
// (CMYK / YCCK files, whose colours the library cannot turn into RGB, among them); files of
// more than 1000 scans are refused the same way, so a crafted progressive file cannot keep
// the decoder busy. A file of several scans whose coefficients (128 bytes a block) would
// pass the memory limit is refused with code 10 before the library allocates them. All
// library state is released on every way out.
#pragma once

#include "imaging/decode/pic_decoder.h"

class CJPEGDecoder : public CPicDecoder {
  LUMORA_RUNTIME_CLASS(CJPEGDecoder, CPicDecoder)

public:
  void DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                  CDataSource& source) override;

  void SetFastUpsampling(bool fast) { fastUpsampling_ = fast; }
  bool GetFastUpsampling() const { return fastUpsampling_; }

private:
  bool fastUpsampling_ = false;
};
