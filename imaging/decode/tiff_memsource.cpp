#include "imaging/decode/tiff_memsource.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tiffmemsource {
namespace {

struct MemStream {
  uint8_t* data;
  size_t capacity;
  size_t* sizeHolder;  // null in read mode
  size_t readSize;     // the size in read mode
  size_t position;

  bool Writing() const { return sizeHolder != nullptr; }
  size_t Size() const { return Writing() ? *sizeHolder : readSize; }
  size_t Available() const { return position < capacity ? capacity - position : 0; }
};

MemStream* StreamOf(thandle_t handle) { return static_cast<MemStream*>(handle); }

tmsize_t Read(thandle_t handle, void* buffer, tmsize_t n) {
  MemStream* s = StreamOf(handle);
  if (s->Writing() || n <= 0) return 0;
  size_t count = std::min(static_cast<size_t>(n), s->Available());
  std::memcpy(buffer, s->data + s->position, count);
  s->position += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t Write(thandle_t handle, void* buffer, tmsize_t n) {
  MemStream* s = StreamOf(handle);
  if (!s->Writing() || n <= 0) return 0;
  size_t count = std::min(static_cast<size_t>(n), s->Available());
  std::memcpy(s->data + s->position, buffer, count);
  s->position += count;
  *s->sizeHolder = std::max(*s->sizeHolder, s->position);
  return static_cast<tmsize_t>(count);
}

toff_t Seek(thandle_t handle, toff_t offset, int whence) {
  MemStream* s = StreamOf(handle);
  int64_t base = whence == SEEK_CUR ? int64_t(s->position)
                 : whence == SEEK_END ? int64_t(s->Size())
                                      : 0;
  int64_t target = base + static_cast<int64_t>(offset);  // offsets from the end are negative
  if (target < 0) return static_cast<toff_t>(-1);
  s->position = static_cast<size_t>(target);
  // Writes beyond the capacity are dropped, so the size never claims more than it holds.
  if (s->Writing()) *s->sizeHolder = std::max(*s->sizeHolder, std::min(s->position, s->capacity));
  return static_cast<toff_t>(target);
}

int Close(thandle_t handle) {
  delete StreamOf(handle);
  return 0;
}

toff_t Size(thandle_t handle) { return StreamOf(handle)->Size(); }

int Map(thandle_t handle, void** base, toff_t* size) {
  MemStream* s = StreamOf(handle);
  if (s->Writing()) return 0;
  *base = s->data;
  *size = s->readSize;
  return 1;
}

void Unmap(thandle_t, void*, toff_t) {}

void Format(std::string& out, const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  out = module != nullptr && module[0] != '\0' ? std::string(module) + ": " + text : text;
}

int OnError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  Format(static_cast<TiffMessages*>(user)->error, module, format, args);
  return 1;  // handled: nothing goes to standard error
}

int OnWarning(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* messages = static_cast<TiffMessages*>(user);
  if (messages->warning.empty()) Format(messages->warning, module, format, args);
  return 1;
}

tiff* Open(MemStream* stream, const char* mode, TiffMessages* messages) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) {
    delete stream;
    messages->error = "Out of memory opening the TIFF stream.";
    return nullptr;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, messages);
  TIFF* tif = TIFFClientOpenExt(kStreamName, mode, stream, Read, Write, Seek, Close, Size,
                                Map, Unmap, options);
  TIFFOpenOptionsFree(options);
  // A failed open does not call the close procedure.
  if (tif == nullptr) delete stream;
  return tif;
}

}  // namespace

std::string TiffMessages::Text() const {
  if (!error.empty()) return error;
  if (!warning.empty()) return warning;
  return "TIFF library error.";
}

tiff* OpenRead(const uint8_t* data, size_t capacity, TiffMessages* messages) {
  auto* stream = new MemStream{const_cast<uint8_t*>(data), capacity, nullptr, capacity, 0};
  return Open(stream, "r", messages);
}

tiff* OpenWrite(uint8_t* data, size_t capacity, size_t* sizeHolder, TiffMessages* messages) {
  *sizeHolder = 0;
  auto* stream = new MemStream{data, capacity, sizeHolder, 0, 0};
  return Open(stream, "w", messages);
}

}  // namespace tiffmemsource
