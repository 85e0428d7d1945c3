// CPicDecoder: the base of every image decoder.
//
// DecodeFile maps the file (CFileSource) and calls DecodeSource; DecodeSource calls the
// format's DecodeBody and releases the palette DecodeBody may hand back, also on failure.
// A decoder fills the caller's CBmp (see imaging/core/bmp.h for its layout) at the depth
// ChooseTargetDepth picks: wanted 0 means 8 bits for sources of 8 bits or less, 32 above;
// any other wanted depth is kept.
//
// Every failure is a CTextException. Decoders raise theirs through RaiseError, which frames
// the text as "Decoder error: %s\n" and writes it to the codec trace; the source itself
// throws code 11 when data runs out. After a failure the bitmap is either untouched or in a
// valid created state (possibly partly filled).
//
// Limits: no decoder creates a bitmap wider or taller than kMaxDimension (code 2, the size
// is corrupt) or with more pixels than the decoder's pixel limit (code 10, the caller's
// ceiling). Create bitmaps through CreateBitmap, which checks both. Working memory and
// drawing work have limits of their own (decode_budget.h); all three are settable per
// decoder and on by default.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/core/bmp.h"
#include "imaging/core/dib.h"
#include "imaging/core/object.h"
#include "imaging/core/text_exception.h"
#include "imaging/core/trace.h"
#include "imaging/decode/data_source.h"
#include "imaging/decode/decode_budget.h"

class CPicDecoder : public CObject {
  LUMORA_RUNTIME_CLASS(CPicDecoder, CObject)

public:
  // CWinBmp keeps width and height in 16 bits.
  static constexpr int kMaxDimension = 65535;
  static constexpr uint64_t kDefaultMaxPixels = DecodeLimits::kDefaultMaxPixels;
  // Palette buffers handed back through DecodeBody hold this many entries.
  static constexpr int kPaletteEntries = 256;

  CPicDecoder() = default;
  ~CPicDecoder() override = default;
  CPicDecoder(const CPicDecoder&) = delete;
  CPicDecoder& operator=(const CPicDecoder&) = delete;

  virtual void DecodeFile(const char* path, CBmp& bmp, int bppWanted,
                          CProgressNotification* progress = nullptr);
  virtual void DecodeSource(CDataSource& source, CBmp& bmp, int bppWanted);
  // The format's work. A decoder that reads a palette may store a new buffer of
  // kPaletteEntries entries in paletteOut; DecodeSource releases it. bppInOut carries the
  // wanted depth in and the chosen depth out. The base does nothing.
  virtual void DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                          CDataSource& source);

  static void ChooseTargetDepth(int sourceBpp, int& bppInOut);
  // Throws CTextException(code, "Decoder error: <text>\n") after tracing it at level 0.
  [[noreturn]] static void RaiseError(int code, const char* text);
  [[noreturn]] static void RaiseError(int code, const std::string& text) {
    RaiseError(code, text.c_str());
  }

  void SetLimits(const DecodeLimits& limits) { limits_ = limits; }
  const DecodeLimits& GetLimits() const { return limits_; }
  void SetMaxPixels(uint64_t maxPixels) { limits_.maxPixels = maxPixels; }
  uint64_t GetMaxPixels() const { return limits_.maxPixels; }

protected:
  // Checks width and height (both > 0, at most kMaxDimension: else code 2 with
  // "<what>: image size out of range.") and the pixel limit (code 10), then creates.
  void CreateBitmap(CBmp& bmp, int width, int height, int bpp, bool hasAlpha,
                    const char* what) const;
  // As CreateBitmap, but keeps the bitmap's storage when it already has this size, depth
  // and alpha flag (the palette is reset to the grey ramp Create gives). Only for decoders
  // that write every pixel: the old pixels stay until overwritten. Saves the cost of a
  // fresh block when pictures of one size are decoded into one bitmap again and again.
  void CreateOrReuseBitmap(CBmp& bmp, int width, int height, int bpp, bool hasAlpha,
                           const char* what) const;

private:
  DecodeLimits limits_;
};

namespace decode {
// Overflow-checked size arithmetic: false on overflow.
inline bool CheckedMul(size_t a, size_t b, size_t& out) {
  return !__builtin_mul_overflow(a, b, &out);
}
inline bool CheckedAdd(size_t a, size_t b, size_t& out) {
  return !__builtin_add_overflow(a, b, &out);
}
}  // namespace decode
