// Byte sources for the decoders, and the one byte cursor every decoder parses with.
//
// CDataSource is the abstract input of a decoder: a named run of `size` bytes read front to
// back. Decoders consume bytes with TakeBytes / Take (pointer into the source, nothing is
// copied) and look ahead with Peek. Taking more bytes than remain throws CTextException
// code 11 "End of file reached while decoding.\n" before any byte is touched; taking exactly
// up to the last byte is fine. A progress notification, when given, hears the fraction done
// once per crossed KiB and 1.0 on Close.
//
// CFileSource maps a whole file read-only (mmap). Open errors: 3 path not found, 4 cannot
// be opened, 5 access denied / cannot map, 13 empty or larger than 2 GiB - 1.
// CMemSource reads a caller-owned buffer (tests, fuzzing, embedded images).
//
// ByteCursor is the parser side: pointer + bytes left, little- and big-endian readers. A
// read past its end never touches memory: it yields 0 and the cursor remembers that it ran
// dry, so a parser reads a fixed header and checks RanDry() once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "imaging/core/object.h"

// Told how far decoding has come (0 to 1). Nothing in the application supplies one.
class CProgressNotification {
public:
  virtual ~CProgressNotification() = default;
  virtual void OnProgress(double fractionDone) = 0;
};

class ByteCursor {
public:
  ByteCursor() = default;
  ByteCursor(const uint8_t* data, size_t size) : p_(data), left_(data ? size : 0) {}
  explicit ByteCursor(std::span<const uint8_t> bytes) : ByteCursor(bytes.data(), bytes.size()) {}

  uint8_t U8() {
    if (left_ < 1) return Dry();
    --left_;
    return *p_++;
  }
  uint16_t Le16() {
    if (left_ < 2) return Dry();
    uint16_t v = static_cast<uint16_t>(p_[0] | (p_[1] << 8));
    p_ += 2;
    left_ -= 2;
    return v;
  }
  uint16_t Be16() {
    if (left_ < 2) return Dry();
    uint16_t v = static_cast<uint16_t>((p_[0] << 8) | p_[1]);
    p_ += 2;
    left_ -= 2;
    return v;
  }
  uint32_t Le32() {
    if (left_ < 4) return Dry();
    uint32_t v = uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 |
                 uint32_t(p_[3]) << 24;
    p_ += 4;
    left_ -= 4;
    return v;
  }
  uint32_t Be32() {
    if (left_ < 4) return Dry();
    uint32_t v = uint32_t(p_[0]) << 24 | uint32_t(p_[1]) << 16 | uint32_t(p_[2]) << 8 |
                 uint32_t(p_[3]);
    p_ += 4;
    left_ -= 4;
    return v;
  }
  // Skips n bytes, or all that remain (and runs dry) when fewer are left.
  void Skip(size_t n) {
    if (n > left_) {
      Dry();
      n = left_;
    }
    p_ += n;
    left_ -= n;
  }
  // Copies out.size() bytes; on a short cursor copies nothing, zero-fills and runs dry.
  bool Read(std::span<uint8_t> out);
  // The next n bytes as a span, consumed; empty (and dry) when fewer remain.
  std::span<const uint8_t> Take(size_t n) {
    if (n > left_) {
      Dry();
      return {};
    }
    std::span<const uint8_t> s(p_, n);
    p_ += n;
    left_ -= n;
    return s;
  }

  size_t Left() const { return left_; }
  bool RanDry() const { return ranDry_; }
  const uint8_t* Position() const { return p_; }

private:
  uint8_t Dry() {
    ranDry_ = true;
    return 0;
  }
  const uint8_t* p_ = nullptr;
  size_t left_ = 0;
  bool ranDry_ = false;
};

class CDataSource : public CObject {
  LUMORA_RUNTIME_CLASS(CDataSource, CObject)

public:
  explicit CDataSource(CProgressNotification* progress = nullptr) : progress_(progress) {}
  ~CDataSource() override = default;

  virtual void Open(const char* name, int32_t size);
  virtual void Close();
  // Pointer to the unread bytes without consuming them; at least min(minBytes, BytesLeft())
  // of them are readable. Prefer Peek, which says how many.
  virtual const uint8_t* PeekBytes(int32_t minBytes) = 0;
  // Consumes n bytes. The base does the bookkeeping (progress, the end-of-data check and its
  // code-11 exception) and returns nullptr; sources return the pointer to the n bytes.
  virtual const uint8_t* TakeBytes(int32_t n);
  // Pointer to all unread bytes (BytesLeft() of them), not consumed.
  virtual const uint8_t* TakeRest() = 0;

  // Span helpers over the virtual calls.
  std::span<const uint8_t> Peek(size_t n);
  std::span<const uint8_t> Take(size_t n);
  std::span<const uint8_t> Rest() { return {TakeRest(), BytesLeft()}; }
  // A cursor over the next n bytes, consumed from the source (code 11 when fewer remain).
  ByteCursor TakeCursor(size_t n) { return ByteCursor(Take(n)); }
  uint8_t U8() { return Take(1)[0]; }

  const char* GetName() const { return name_ ? name_.get() : ""; }
  int32_t GetFileSize() const { return size_; }
  int32_t GetBytesConsumed() const { return consumed_; }
  size_t BytesLeft() const {
    return consumed_ < size_ ? static_cast<size_t>(size_ - consumed_) : 0;
  }
  bool IsOpen() const { return name_ != nullptr; }

private:
  std::unique_ptr<char[]> name_;
  int32_t size_ = 0;
  int32_t consumed_ = 0;
  CProgressNotification* progress_ = nullptr;
};

class CFileSource : public CDataSource {
  LUMORA_RUNTIME_CLASS(CFileSource, CDataSource)

public:
  explicit CFileSource(CProgressNotification* progress = nullptr) : CDataSource(progress) {}
  ~CFileSource() override;

  void Close() override;
  const uint8_t* PeekBytes(int32_t minBytes) override;
  const uint8_t* TakeBytes(int32_t n) override;
  const uint8_t* TakeRest() override;
  // 0 on success, else the error code (3, 4, 5, 13; see the top of this file).
  virtual int OpenFile(const char* path);

private:
  void Unmap();
  int fd_ = -1;
  const uint8_t* start_ = nullptr;  // mapped view
  size_t mappedSize_ = 0;
  const uint8_t* current_ = nullptr;
};

class CMemSource : public CDataSource {
  LUMORA_RUNTIME_CLASS(CMemSource, CDataSource)

public:
  // Opens at once; the buffer must outlive the source. Sizes above 2 GiB - 1 are cut.
  CMemSource(const char* name, std::span<const uint8_t> bytes,
             CProgressNotification* progress = nullptr);

  const uint8_t* PeekBytes(int32_t minBytes) override;
  const uint8_t* TakeBytes(int32_t n) override;
  const uint8_t* TakeRest() override;

private:
  const uint8_t* start_;
  const uint8_t* current_;
};
