#include "capture/avi/riff_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace avi {

bool MemorySource::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
  if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return true;
}

std::unique_ptr<FileSource> FileSource::Open(const std::string& path, int* err) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *err = errno;
    return nullptr;
  }
  struct stat st {};
  const bool stated = ::fstat(fd, &st) == 0;
  if (!stated || !S_ISREG(st.st_mode)) {
    *err = stated ? EINVAL : errno;  // a folder or device is no capture file
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileSource>(new FileSource(fd, uint64_t(st.st_size)));
}

FileSource::~FileSource() { ::close(fd_); }

bool FileSource::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
  if (offset > size_ || out.size() > size_ - offset) return false;
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // an error, or the file shrank under us
    done += size_t(n);
  }
  return true;
}

std::string FourCCText(uint32_t fcc) {
  std::string text(4, '?');
  for (int i = 0; i < 4; ++i) {
    const char c = char(fcc >> (8 * i));
    if (c >= 0x20 && c < 0x7f) text[size_t(i)] = c;
  }
  return text;
}

bool ReadChunk(const ByteSource& src, uint64_t offset, Chunk& out) {
  uint8_t head[8];
  if (!src.ReadAt(offset, head)) return false;
  out.offset = offset;
  out.id = Le32(head);
  out.size = Le32(head + 4);
  return true;
}

int StreamOfChunk(uint32_t id) {
  const char c0 = char(id), c1 = char(id >> 8), c2 = char(id >> 16), c3 = char(id >> 24);
  if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9') return -1;
  const bool data = (c2 == 'd' && (c3 == 'b' || c3 == 'c')) || (c2 == 'w' && c3 == 'b');
  return data ? (c0 - '0') * 10 + (c1 - '0') : -1;
}

}  // namespace avi
