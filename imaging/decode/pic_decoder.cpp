#include "imaging/decode/pic_decoder.h"

#include <cstdio>

// Decoders leave the trace settings alone when they are destroyed: the trace is configured
// once for the process, and dropping it with the first decoder would silence every later
// file.

void CPicDecoder::DecodeFile(const char* path, CBmp& bmp, int bppWanted,
                             CProgressNotification* progress) {
  Trace(1, "--- Decoding file %s. ---\n", path);
  auto source = std::make_unique<CFileSource>(progress);
  if (int r = source->OpenFile(path); r != 0) {
    char text[300];
    std::snprintf(text, sizeof text, "Opening %s failed", path);
    RaiseError(r, text);
  }
  DecodeSource(*source, bmp, bppWanted);
  source->Close();
}

void CPicDecoder::DecodeSource(CDataSource& source, CBmp& bmp, int bppWanted) {
  std::unique_ptr<RgbQuad[]> palette;  // released on every way out
  int bpp = bppWanted;
  DecodeBody(bmp, palette, bpp, source);
}

void CPicDecoder::DecodeBody(CBmp&, std::unique_ptr<RgbQuad[]>&, int&, CDataSource&) {}

void CPicDecoder::ChooseTargetDepth(int sourceBpp, int& bppInOut) {
  if (bppInOut == 0) bppInOut = sourceBpp <= 8 ? 8 : 32;
}

void CPicDecoder::RaiseError(int code, const char* text) {
  char framed[256];
  std::snprintf(framed, sizeof framed, "Decoder error: %s\n", text);
  Trace(0, "%s", framed);
  throw CTextException(code, framed);
}

void CPicDecoder::CreateBitmap(CBmp& bmp, int width, int height, int bpp, bool hasAlpha,
                               const char* what) const {
  if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) {
    char text[200];
    std::snprintf(text, sizeof text, "%s: image size out of range.", what);
    RaiseError(textexception::kFormatError, text);
  }
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  if (pixels > limits_.maxPixels) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s: image of %d x %d = %llu pixels is over the pixel limit of %llu.", what,
                  width, height, static_cast<unsigned long long>(pixels),
                  static_cast<unsigned long long>(limits_.maxPixels));
    RaiseError(textexception::kNoMemory, text);
  }
  bmp.Create(width, height, static_cast<uint16_t>(bpp), hasAlpha);
}

void CPicDecoder::CreateOrReuseBitmap(CBmp& bmp, int width, int height, int bpp, bool hasAlpha,
                                      const char* what) const {
  if (bmp.GetRowTable() != nullptr && bmp.GetWidth() == width && bmp.GetHeight() == height &&
      bmp.GetBitsPerPixel() == bpp && bmp.HasAlpha() == hasAlpha) {
    if (bpp <= 8) bmp.SetGreyRamp();
    return;
  }
  CreateBitmap(bmp, width, height, bpp, hasAlpha, what);
}
