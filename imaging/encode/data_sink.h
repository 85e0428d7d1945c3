// CDataSink and CFileSink: where an encoder's bytes go.
//
// A sink collects the encoded file in one memory buffer of fixed capacity. A write that
// would pass the capacity writes nothing and raises CTextException 11 "Buffer overflow
// while encoding.\n"; writing exactly up to the capacity succeeds. The buffer does not
// grow: the caller sizes it from the worst case of the format (see CPicEncoder).
//
// CFileSink owns its buffer and writes it to disk in one piece when it is committed, through
// CFileReplacement (imaging/core/file_replacement.h): a link's file is written, a target the
// user may not write is refused when the sink opens, before anything is encoded, and the
// file holds the old picture or the new one, never a part. A sink that is destroyed without
// a successful Close (an encoder raised) leaves the target as it was and nothing beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "imaging/core/file_replacement.h"
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
  ~CFileSink() override;  // an open sink is discarded: the target stays as it was

  // Prepares the replacement of `path` and allocates the buffer. Returns 0, or -1 when the
  // file may not be written or created there, or the buffer cannot be allocated (nothing
  // is left on disk).
  int OpenFile(const char* path, size_t capacity);

  // Makes the bytes written so far the file's contents. Raises CTextException -1
  // "Encoder error: Writing <path> failed: <reason>\n" when that fails (a full disk); the
  // target is then as it was.
  void Close() override;

private:
  void Discard();

  CFileReplacement file_;
  uint8_t* ownedBuffer_ = nullptr;
};
