// CDataSink and CFileSink: where an encoder's bytes go.
//
// A sink collects the encoded file in one memory buffer of fixed capacity. A write that
// would pass the capacity writes nothing and raises CTextException 11 "Buffer overflow
// while encoding.\n"; writing exactly up to the capacity succeeds. The buffer does not
// grow: the caller sizes it from the worst case of the format (see CPicEncoder).
//
// CFileSink owns its buffer and writes it to disk in one piece when it is committed. The
// bytes go to a temporary file beside the target, which replaces the target only after
// every byte has been written; a sink that is destroyed without a successful Close (an
// encoder raised) removes its temporary file, so the target stays as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "imaging/core/object.h"

class CDataSink : public CObject {
  LUMORA_RUNTIME_CLASS(CDataSink, CObject)

public:
  CDataSink() = default;
  ~CDataSink() override;
  CDataSink(const CDataSink&) = delete;
  CDataSink& operator=(const CDataSink&) = delete;

  void Open(const char* name, uint8_t* buffer, size_t capacity);
  virtual void Close();

  const char* GetName() const { return name_.c_str(); }
  bool IsOpen() const { return buffer_ != nullptr; }

  size_t WriteBytes(size_t count, const void* source) {
    Reserve(count);
    if (count != 0) std::memcpy(buffer_ + position_, source, count);
    position_ += count;
    return count;
  }
  void WriteByte(unsigned value) {
    Reserve(1);
    buffer_[position_++] = static_cast<uint8_t>(value);
  }
  void WriteWord(unsigned value) {  // little-endian
    Reserve(2);
    buffer_[position_++] = static_cast<uint8_t>(value);
    buffer_[position_++] = static_cast<uint8_t>(value >> 8);
  }
  void WriteString(const char* text) { WriteBytes(std::strlen(text), text); }

  // For library adapters that write into the buffer themselves (the TIFF memory stream).
  uint8_t* GetBuffer() const { return buffer_; }
  size_t GetCapacity() const { return capacity_; }
  size_t GetPosition() const { return position_; }
  void SetPosition(size_t position);  // at most the capacity

  // Raises the overflow error; for adapters that detect the overflow themselves.
  [[noreturn]] static void RaiseOverflow();

private:
  void Reserve(size_t count) {
    if (count > capacity_ - position_) RaiseOverflow();
  }

  uint8_t* buffer_ = nullptr;
  size_t position_ = 0;
  std::string name_;
  size_t capacity_ = 0;
};

class CFileSink : public CDataSink {
  LUMORA_RUNTIME_CLASS(CFileSink, CDataSink)

public:
  CFileSink() = default;
  ~CFileSink() override;  // an open sink is discarded: its temporary file is removed

  // Creates the temporary file beside `path` and allocates the buffer. Returns 0, or -1
  // when the file cannot be created or the buffer cannot be allocated (nothing is left).
  int OpenFile(const char* path, size_t capacity);

  // Writes the bytes written so far to the temporary file and renames it over the target.
  // Raises CTextException -1 "Encoder error: Writing <path> failed\n" when that fails;
  // the target is then untouched and the temporary file removed.
  void Close() override;

private:
  void Discard();

  int fd_ = -1;
  std::string tempPath_;
  uint8_t* ownedBuffer_ = nullptr;
};
