// CPicEncoder: the base of the format encoders, and the error routine they share.
//
// EncodeFile(path, bitmap) builds the whole file in memory and writes it with one write at
// the end, through a CFileSink (temporary file beside the target, renamed over it only on
// success). The buffer is sized from MaxEncodedSize, the largest file the format can
// produce for the bitmap, so a valid picture never overflows it.
//
// Every failure is raised as CTextException. Format encoders override WriteImage and
// MaxEncodedSize; an encoder may convert the caller's bitmap in place (GIF to 8 bits, JPEG
// to 32) and the conversion stays.
#pragma once

#include <cstddef>

#include "imaging/core/bmp.h"
#include "imaging/core/object.h"
#include "imaging/encode/data_sink.h"

class CPicEncoder : public CObject {
  LUMORA_RUNTIME_CLASS(CPicEncoder, CObject)

public:
  CPicEncoder() = default;
  ~CPicEncoder() override = default;
  CPicEncoder(const CPicEncoder&) = delete;
  CPicEncoder& operator=(const CPicEncoder&) = delete;

  void EncodeFile(const char* path, CBmp& bitmap);
  virtual void EncodeToSink(CBmp& bitmap, CDataSink& sink);
  virtual void WriteImage(CBmp& bitmap, CDataSink& sink);

  // Bytes the encoder may need for this bitmap at most (for `path`, where the format
  // depends on it). The base answers the footprint estimate: 1.2 x the bitmap's memory
  // size, or that size + 4096 below 20000 bytes.
  virtual size_t MaxEncodedSize(const CBmp& bitmap, const char* path);

  static size_t FootprintEstimate(size_t memorySize);
};

// Formats "Encoder error: %s\n" with `text`, writes it to the trace at level 0 and raises
// CTextException(code, formatted text).
[[noreturn]] void RaiseEncoderError(int code, const char* text);

// Raises code 19 " source bitmap has no datas! " when the bitmap has no pixel storage.
void RequirePixelData(const CBmp& bitmap);
