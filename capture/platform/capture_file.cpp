#include "capture/platform/capture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace media {
namespace {

Status StatusFromErrno(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
    case EROFS: return status::kAccessDenied;
    case ENOENT:
    case ENOTDIR: return status::kFileNotFound;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return status::kDiskFull;
    case ENOMEM: return status::kOutOfMemory;
    default: return status::kFail;
  }
}

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// A file descriptor closed on every path.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

}  // namespace

Status AllocateCaptureFile(const std::string& path, uint64_t bytes) {
  if (path.empty()) return status::kInvalidArg;
  // No O_TRUNC: an existing capture keeps its bytes; the reservation only grows the file.
  Fd f(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  if (f.fd < 0) return StatusFromErrno(errno);
  if (bytes > 0) {
    if (bytes > uint64_t(INT64_MAX)) return status::kInvalidArg;
    const int err = ::posix_fallocate(f.fd, 0, off_t(bytes));
    if (err != 0) return StatusFromErrno(err);
  }
  if (::close(f.fd) != 0) {
    f.fd = -1;
    return StatusFromErrno(errno);
  }
  f.fd = -1;
  return status::kOk;
}

std::optional<uint64_t> AviRealLength(
    uint64_t fileSize, const std::function<size_t(uint64_t, std::span<uint8_t>)>& readAt) {
  uint64_t offset = 0;
  bool first = true;
  while (offset + 12 <= fileSize) {
    uint8_t head[12];
    if (readAt(offset, head) != sizeof head) break;
    if (std::memcmp(head, "RIFF", 4) != 0) break;
    const bool avi = std::memcmp(head + 8, "AVI ", 4) == 0;
    const bool avix = std::memcmp(head + 8, "AVIX", 4) == 0;
    if (first ? !avi : !avix) break;
    const uint64_t size = Le32(head + 4);
    uint64_t next = offset + 8 + size + (size & 1);
    first = false;
    if (next > fileSize) {  // a chunk cut short by a full disk: keep what exists
      offset = fileSize;
      break;
    }
    offset = next;
  }
  if (first) return std::nullopt;
  return offset;
}

std::optional<uint64_t> AviRealLengthOfFile(const std::string& path) {
  Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (f.fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) return std::nullopt;
  return AviRealLength(uint64_t(st.st_size), [&](uint64_t at, std::span<uint8_t> out) -> size_t {
    const ssize_t n = ::pread(f.fd, out.data(), out.size(), off_t(at));
    return n < 0 ? 0 : size_t(n);
  });
}

Status CopyCaptureFile(const std::string& from, const std::string& to,
                       const std::function<bool()>& abort) {
  if (from.empty() || to.empty()) return status::kInvalidArg;
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) return StatusFromErrno(errno);
  struct stat st {};
  if (::fstat(in.fd, &st) != 0) return StatusFromErrno(errno);
  uint64_t length = AviRealLengthOfFile(from).value_or(uint64_t(st.st_size));

  struct stat dst {};
  if (::stat(to.c_str(), &dst) == 0 && dst.st_dev == st.st_dev && dst.st_ino == st.st_ino)
    return status::kInvalidArg;  // copying a file onto itself would destroy it
  Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.fd < 0) return StatusFromErrno(errno);

  std::vector<uint8_t> block(1 << 20);
  uint64_t done = 0;
  Status result = status::kOk;
  while (done < length) {
    if (abort && abort()) {
      result = status::kFalse;
      break;
    }
    const size_t want = size_t(std::min<uint64_t>(block.size(), length - done));
    const ssize_t n = ::pread(in.fd, block.data(), want, off_t(done));
    if (n <= 0) {
      result = n < 0 ? StatusFromErrno(errno) : status::kFail;
      break;
    }
    for (ssize_t written = 0; written < n;) {
      const ssize_t w = ::write(out.fd, block.data() + written, size_t(n - written));
      if (w < 0) {
        if (errno == EINTR) continue;
        result = StatusFromErrno(errno);
        break;
      }
      written += w;
    }
    if (result != status::kOk) break;
    done += uint64_t(n);
  }
  if (result == status::kOk && ::close(out.fd) != 0) result = StatusFromErrno(errno);
  else if (result != status::kOk) ::close(out.fd);
  out.fd = -1;
  // A half-written copy is worse than none: it would look like a capture.
  if (result != status::kOk) ::unlink(to.c_str());
  return result;
}

}  // namespace media
