#include "imaging/encode/pic_encoder.h"

#include <cstdio>
#include <string>

#include "imaging/core/text_exception.h"
#include "imaging/core/trace.h"

void RaiseEncoderError(int code, const char* text) {
  char message[256];
  std::snprintf(message, sizeof message, "Encoder error: %s\n", text);
  Trace(0, "%s", message);
  throw CTextException(code, message);
}

void RequirePixelData(const CBmp& bitmap) {
  if (bitmap.GetRowTable() == nullptr || bitmap.GetWidth() <= 0 || bitmap.GetHeight() <= 0)
    RaiseEncoderError(textexception::kNoPixelData, " source bitmap has no datas! ");
}

size_t CPicEncoder::FootprintEstimate(size_t memorySize) {
  if (memorySize >= 20000) return static_cast<size_t>(static_cast<double>(memorySize) * 1.2);
  return memorySize + 4096;
}

size_t CPicEncoder::MaxEncodedSize(const CBmp& bitmap, const char*) {
  return FootprintEstimate(bitmap.GetMemorySize());
}

void CPicEncoder::EncodeFile(const char* path, CBmp& bitmap) {
  CFileSink sink;
  Trace(1, "--- Encoding file %s. ---\n", path);
  const size_t capacity = MaxEncodedSize(bitmap, path);
  if (int result = sink.OpenFile(path, capacity); result != 0) {
    const std::string text = std::string("Opening ") + path + " failed";
    RaiseEncoderError(result, text.c_str());
  }
  EncodeToSink(bitmap, sink);
  // Only a complete file replaces the target; on an exception the sink's destructor
  // removes the temporary file instead.
  sink.Close();
}

void CPicEncoder::EncodeToSink(CBmp& bitmap, CDataSink& sink) { WriteImage(bitmap, sink); }

void CPicEncoder::WriteImage(CBmp&, CDataSink&) {}
