// Random-access bytes for the AVI reader, and the little-endian RIFF basics.
//
// The reader never trusts a length in the file: every read names its offset and size and
// fails (returns false) unless all of it lies inside the source. Sources: a byte span (tests,
// the fuzz target) and an open file read with pread (capture files of many gigabytes are
// never loaded whole).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace avi {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Fills all of `out` from `offset`; false (contents undefined) when any byte is missing.
  virtual bool ReadAt(uint64_t offset, std::span<uint8_t> out) const = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) const override;

 private:
  std::span<const uint8_t> bytes_;
};

class FileSource final : public ByteSource {
 public:
  // Opens `path` for reading; null with `*err` set to the errno on failure.
  static std::unique_ptr<FileSource> Open(const std::string& path, int* err);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, std::span<uint8_t> out) const override;
  int Fd() const { return fd_; }

 private:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  int fd_;
  uint64_t size_;
};

constexpr uint32_t FourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 |
         uint32_t(uint8_t(s[2])) << 16 | uint32_t(uint8_t(s[3])) << 24;
}
std::string FourCCText(uint32_t fcc);  // for messages; unprintable bytes as '?'

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | uint64_t(Le32(p + 4)) << 32; }
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
  PutLe32(p, uint32_t(v));
  PutLe32(p + 4, uint32_t(v >> 32));
}

// One chunk header: `offset` is where its 8-byte header starts.
struct Chunk {
  uint64_t offset = 0;
  uint32_t id = 0;
  uint32_t size = 0;
  uint64_t Data() const { return offset + 8; }
  // Next chunk: header, data and the pad byte that keeps chunks on even offsets.
  uint64_t End() const { return offset + 8 + size + (size & 1); }
};

// Reads the chunk header at `offset`; false when fewer than 8 bytes are there.
bool ReadChunk(const ByteSource& src, uint64_t offset, Chunk& out);

// Stream data chunk ids: two decimal digits (the stream number) then "db", "dc" or "wb".
// Answers the stream number, or -1 for any other id.
int StreamOfChunk(uint32_t id);

}  // namespace avi
