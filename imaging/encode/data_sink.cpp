#include "imaging/encode/data_sink.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "imaging/core/text_exception.h"
#include "imaging/encode/pic_encoder.h"

CDataSink::~CDataSink() {
  if (buffer_ != nullptr) CDataSink::Close();
}

void CDataSink::Open(const char* name, uint8_t* buffer, size_t capacity) {
  capacity_ = capacity;
  name_ = name != nullptr ? name : "";
  buffer_ = buffer;
  position_ = 0;
}

void CDataSink::Close() {
  name_.clear();
  buffer_ = nullptr;
  position_ = 0;
}

void CDataSink::SetPosition(size_t position) {
  position_ = position <= capacity_ ? position : capacity_;
}

void CDataSink::RaiseOverflow() {
  throw CTextException(textexception::kEndOfData, "Buffer overflow while encoding.\n");
}

CFileSink::~CFileSink() {
  if (ownedBuffer_ != nullptr) Discard();
}

int CFileSink::OpenFile(const char* path, size_t capacity) {
  if (path == nullptr || file_.Open(path) != 0) return -1;
  ownedBuffer_ = static_cast<uint8_t*>(std::malloc(capacity != 0 ? capacity : 1));
  if (ownedBuffer_ == nullptr) {
    Discard();
    return -1;
  }
  Open(path, ownedBuffer_, capacity);
  return 0;
}

void CFileSink::Close() {
  if (ownedBuffer_ == nullptr) {
    CDataSink::Close();
    return;
  }
  const std::string target = GetName();
  const int error = file_.CommitWith(GetBuffer(), GetPosition());
  Discard();
  if (error != 0) {
    const std::string text = "Writing " + target + " failed: " + std::strerror(error);
    RaiseEncoderError(textexception::kOpenOutputFailed, text.c_str());
  }
}

void CFileSink::Discard() {
  file_.Discard();
  std::free(ownedBuffer_);
  ownedBuffer_ = nullptr;
  CDataSink::Close();
}
